#pragma once
// libswresample between the decoder and the output: sample format, rate and
// channel layout in one pass. Set up from the first decoded frame and again
// whenever the decoder's output changes in the middle of a file.

#include "libm9s/base/AvHandles.h"

class Resampler {
public:
    Resampler(const AVChannelLayout &outLayout, AVSampleFormat outFormat, int outRate);
    ~Resampler();
    Resampler(const Resampler &) = delete;
    Resampler &operator=(const Resampler &) = delete;

    bool Ready() const { return swr_ != nullptr; }
    const AVChannelLayout &OutputLayout() const { return outLayout_; }
    int OutputRate() const { return outRate_; }
    // True when frame does not match the input side of the current setup.
    bool Differs(const AVFrame &frame) const;
    // (Re)creates the converter for frames like this one; throws EncoderError,
    // also for a rate outside kMinInputRate to kMaxInputRate.
    void Setup(const AVFrame &frame);
    // Forgets the samples it holds, as if newly set up for the same input,
    // but keeps the filter it built (the costly part of a setup).
    void Restart();
    // Input samples per conversion step so that one step yields at most
    // about maxOutput samples (at least one).
    int InputSlice(int maxOutput) const;

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

// Input rates the encoder takes. Outside them the filter libswresample would
// build (its length grows with the rate ratio) or the output a few samples
// expand to becomes absurd: a damaged header claiming 2 GHz costs gigabytes,
// one claiming 1 Hz turns a second of samples into a day of audio.
constexpr int kMinInputRate = 1000;
constexpr int kMaxInputRate = 1536000;

// The layout to read a frame with: its own, or the usual one for its
// channel count when the decoder did not name the channels.
void FrameLayout(const AVFrame &frame, AVChannelLayout *layout);
