#pragma once
// The encoder's command line: the options the program's builder emits,
// each as its own argument, plus -t and -ss.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class OutputFormat { Wav, Mp3 };

struct EncoderOptions {
    std::string inputPath;
    std::string outputPath;
    bool overwrite = false;
    OutputFormat format = OutputFormat::Mp3;
    int bitrateKbits = 128;
    int sampleRate = 0;   // 0: keep the input's rate
    int channels = 0;     // 0: the input's channels, at most two
    int64_t startUs = 0;  // -ss
    std::optional<int64_t> durationUs;  // -t
};

// Throws OptionError with a one-line text naming the offending argument.
EncoderOptions ParseOptions(const std::vector<std::string> &args);

// The rates an MP3 stream can carry.
bool IsMp3SampleRate(int rate);
// The MP3 rate nearest to rate (6000 gives 8000, 96000 gives 48000).
int NearestMp3SampleRate(int rate);
