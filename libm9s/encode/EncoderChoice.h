#pragma once
// Which encoder a format gets, and what it is opened with: the sample
// format, rate and bit rate nearest to those asked for that it takes.

#include "libm9s/base/AvHandles.h"
#include "libm9s/base/Options.h"

#include <functional>

// nullptr when FFmpeg has none built in.
const AVCodec *FindEncoder(OutputFormat format);
AVSampleFormat PickSampleFormat(const AVCodec *codec, AVSampleFormat preferred);
int PickSampleRate(const AVCodec *codec, int wanted);

// The bit rate (kbit/s) nearest to wanted that accepts(kbits) says yes to,
// given that the accepted ones form one range within 1 to 100000; wanted
// itself when none is found. Encoders such as libvorbis only tell by
// refusing to open.
int FitBitrate(int wanted, const std::function<bool(int)> &accepts);
