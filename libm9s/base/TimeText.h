#pragma once
// Times as the encoder reads them on its command line and prints them in
// its progress markers. Formatting never depends on the locale: the program
// reads the markers with "." as the decimal point.

#include <cstdint>
#include <optional>
#include <string>

// "SECONDS[.frac]" or "[HH:]MM:SS[.frac]"; empty for bad or negative texts.
std::optional<int64_t> ParseTimeText(const std::string &text);

// HH:MM:SS.ff, rounded to hundredths the way the ffmpeg program prints durations.
std::string FormatClock(int64_t microseconds);

// Seconds with two decimals, e.g. "12.34", for a count of samples at a rate.
std::string FormatSeconds(int64_t samples, int sampleRate);
