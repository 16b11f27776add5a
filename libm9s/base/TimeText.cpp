#include "libm9s/base/TimeText.h"

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/parseutils.h>
}

#include <cinttypes>
#include <cstdio>

std::optional<int64_t> ParseTimeText(const std::string &text)
{
    int64_t us = 0;
    if (text.empty() || av_parse_time(&us, text.c_str(), 1) < 0 || us < 0)
        return std::nullopt;
    return us;
}

std::string FormatClock(int64_t microseconds)
{
    if (microseconds < 0)
        microseconds = 0;
    if (microseconds <= INT64_MAX - 5000)
        microseconds += 5000;
    int64_t seconds = microseconds / 1000000;
    int64_t hundredths = (microseconds % 1000000) / 10000;
    int64_t minutes = seconds / 60;
    seconds %= 60;
    int64_t hours = minutes / 60;
    minutes %= 60;
    char text[64];
    std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64 ":%02" PRId64 ".%02" PRId64, hours, minutes, seconds,
                  hundredths);
    return text;
}

std::string FormatSeconds(int64_t samples, int sampleRate)
{
    if (samples < 0 || sampleRate <= 0)
        samples = 0;
    const int64_t hundredths = sampleRate > 0 ? av_rescale(samples, 100, sampleRate) : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%" PRId64 ".%02" PRId64, hundredths / 100, hundredths % 100);
    return text;
}
