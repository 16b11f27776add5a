#include "libm9s/filter/AudioFilter.h"

#include "libm9s/base/AudioSink.h"
#include "libm9s/filter/SampleGuard.h"
#include "libm9s/input/InputMedia.h"

extern "C" {
#include <libavutil/common.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <utility>

namespace {

// Samples converted per step, counted at the faster of the two rates. A
// damaged file can make a decoder return one enormous frame, and a large
// upsampling multiplies it; taken in slices, the output buffers stay small.
constexpr int kSliceSamples = 16384;
// Samples the leveller lets out at the end in one step.
constexpr int kFlushSamples = 16384;

} // namespace

AudioFilter::AudioFilter(const InputMedia &input, int64_t startUs, const AVChannelLayout &layout, AVSampleFormat format,
                         int rate, std::unique_ptr<Leveller> leveller)
    : input_(input), startUs_(startUs), leveller_(std::move(leveller))
{
    // The leveller takes floats and hands on the output's format.
    resampler_ = std::make_unique<Resampler>(layout, leveller_ ? AV_SAMPLE_FMT_FLTP : format, rate);
}

void AudioFilter::Take(AVFrame &frame)
{
    if (frame.nb_samples <= 0 || frame.sample_rate <= 0 || frame.ch_layout.nb_channels <= 0 || frame.format < 0)
        return;
    ++framesDecoded_;

    const int skip = input_.SamplesBeforePart(frame, startUs_, &nextInputSample_);
    if (skip >= frame.nb_samples)
        return;
    CountSource(frame.nb_samples - skip, frame.sample_rate);
    GuardFrame(frame);

    if (resampler_->Differs(frame)) {
        DrainResampler();
        resampler_->Setup(frame);
    }

    const auto format = AVSampleFormat(frame.format);
    const bool planar = av_sample_fmt_is_planar(format);
    const int channels = frame.ch_layout.nb_channels;
    const int slice = resampler_->InputSlice(kSliceSamples);
    const size_t offset = size_t(skip) * size_t(av_get_bytes_per_sample(format)) * size_t(planar ? 1 : channels);
    const size_t sliceBytes = size_t(slice) * size_t(av_get_bytes_per_sample(format)) * size_t(planar ? 1 : channels);
    planes_.resize(planar ? channels : 1);
    for (size_t i = 0; i < planes_.size(); ++i)
        planes_[i] = frame.extended_data[i] + offset;

    for (int left = frame.nb_samples - skip; left > 0 && !sink_->Full(); left -= slice) {
        Convert(planes_.data(), std::min(left, slice));
        for (const uint8_t *&plane : planes_)
            plane += sliceBytes;
    }
}

void AudioFilter::Drain()
{
    DrainResampler();
    FlushLeveller();
}

void AudioFilter::CountSource(int samples, int rate)
{
    if (rate != sourceRate_) {
        sourceUsBefore_ = SourceUs();
        sourceSamples_ = 0;
        sourceRate_ = rate;
    }
    sourceSamples_ += samples;
}

int64_t AudioFilter::SourceUs() const
{
    return sourceUsBefore_ + (sourceRate_ > 0 ? av_rescale(sourceSamples_, AV_TIME_BASE, sourceRate_) : 0);
}

void AudioFilter::Convert(const uint8_t *const *planes, int samples)
{
    const int capacity = std::max(1, resampler_->MaxOutput(samples));
    if (leveller_) {
        Level(capacity, planes, samples);
        return;
    }
    uint8_t **out = sink_->Reserve(capacity);
    sink_->Commit(resampler_->Convert(out, capacity, planes, samples));
}

void AudioFilter::DrainResampler()
{
    if (!resampler_->Ready())
        return;
    for (int round = 0; round < 16 && !sink_->Full(); ++round) {
        const int capacity = std::max(1, resampler_->MaxOutput(0));
        if (leveller_) {
            if (Level(capacity, nullptr, 0) <= 0)
                break;
            continue;
        }
        uint8_t **out = sink_->Reserve(capacity);
        const int got = resampler_->Convert(out, capacity, nullptr, 0);
        if (got <= 0)
            break;
        sink_->Commit(got);
    }
}

// Resamples into the leveller's floats and hands on what it lets out.
int AudioFilter::Level(int capacity, const uint8_t *const *in, int samples)
{
    const int got = resampler_->Convert(leveller_->Input(capacity), capacity, in, samples);
    if (got > 0)
        sink_->Commit(leveller_->Process(got, sink_->Reserve(got)));
    return got;
}

// The samples the limiter's look-ahead still holds, at the very end.
void AudioFilter::FlushLeveller()
{
    if (!leveller_)
        return;
    for (int left = leveller_->Delay(); left > 0 && !sink_->Full();) {
        const int n = std::min(left, kFlushSamples);
        sink_->Commit(leveller_->Flush(n, sink_->Reserve(n)));
        left -= n;
    }
}
