#pragma once
// The audio between the decoder and the encoder: trimmed to the part asked
// for (-ss) on the exact sample, resampled to the output's rate, channels
// and format, and through the Leveller where -loudness needs one, into the
// sink the pipeline gives. It also counts the source's audio it was given,
// for the output check.

#include "libm9s/filter/Leveller.h"
#include "libm9s/filter/Resampler.h"

#include <cstdint>
#include <memory>
#include <vector>

class AudioSink;
class InputMedia;

class AudioFilter {
public:
    // layout, format, rate: the output's; startUs: where the part begins.
    AudioFilter(const InputMedia &input, int64_t startUs, const AVChannelLayout &layout, AVSampleFormat format,
                int rate, std::unique_ptr<Leveller> leveller);

    void SetSink(AudioSink *sink) { sink_ = sink; }
    // A decoded frame; one that holds nothing is passed over.
    void Take(AVFrame &frame);
    // What the resampler and the limiter's look-ahead still hold, at the end.
    void Drain();

    int64_t FramesDecoded() const { return framesDecoded_; }
    // The source's audio taken, after the trim, at each rate it came in.
    int64_t SourceUs() const;
    bool HeldAudio() const { return sourceSamples_ > 0 || sourceUsBefore_ > 0; }
    bool Limited() const { return leveller_ && leveller_->Limited(); }

private:
    void CountSource(int samples, int rate);
    void Convert(const uint8_t *const *planes, int samples);
    void DrainResampler();
    int Level(int capacity, const uint8_t *const *in, int samples);
    void FlushLeveller();

    const InputMedia &input_;
    const int64_t startUs_;
    std::unique_ptr<Resampler> resampler_;
    std::unique_ptr<Leveller> leveller_;
    AudioSink *sink_ = nullptr;
    std::vector<const uint8_t *> planes_;
    int64_t nextInputSample_ = 0;
    int64_t framesDecoded_ = 0;
    int64_t sourceUsBefore_ = 0; // at rates the source had before
    int64_t sourceSamples_ = 0;
    int sourceRate_ = 0;
};
