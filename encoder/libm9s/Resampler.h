#pragma once
// libswresample between the decoder and the output: sample format, rate and
// channel layout in one pass. Set up from the first decoded frame and again
// whenever the decoder's output changes in the middle of a file.

#include "AvHandles.h"

class Resampler {
public:
    Resampler(const AVChannelLayout &outLayout, AVSampleFormat outFormat, int outRate);
    ~Resampler();
    Resampler(const Resampler &) = delete;
    Resampler &operator=(const Resampler &) = delete;

    bool Ready() const { return swr_ != nullptr; }
    // True when frame does not match the input side of the current setup.
    bool Differs(const AVFrame &frame) const;
    // (Re)creates the converter for frames like this one; throws EncoderError.
    void Setup(const AVFrame &frame);

    // Upper bound of the samples that inSamples more input can yield.
    int MaxOutput(int inSamples) const;
    // Converts inSamples samples (in == nullptr: drains what the filter holds
    // back) into out, which has room for capacity samples. Throws on failure.
    int Convert(uint8_t **out, int capacity, const uint8_t *const *in, int inSamples);

private:
    AVChannelLayout outLayout_{};
    AVSampleFormat outFormat_;
    int outRate_;

    SwrPtr swr_;
    AVChannelLayout inLayout_{};
    AVSampleFormat inFormat_ = AV_SAMPLE_FMT_NONE;
    int inRate_ = 0;
};

// The layout to read a frame with: its own, or the usual one for its
// channel count when the decoder did not name the channels.
void FrameLayout(const AVFrame &frame, AVChannelLayout *layout);
