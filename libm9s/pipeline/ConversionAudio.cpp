#include "libm9s/pipeline/ConversionSteps.h"

#include "libm9s/filter/SampleGuard.h"

extern "C" {
#include <libavutil/common.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <new>
#include <utility>

namespace {

// Samples converted per step, counted at the faster of the two rates. A
// damaged file can make a decoder return one enormous frame, and a large
// upsampling multiplies it; taken in slices, the output buffers stay small.
constexpr int kSliceSamples = 16384;

} // namespace

void Conversion::HandleFrame(AVFrame &frame)
{
    if (frame.nb_samples <= 0 || frame.sample_rate <= 0 || frame.ch_layout.nb_channels <= 0 || frame.format < 0)
        return;
    ++framesDecoded_;

    const int skip = SamplesToSkip(frame);
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

    for (int left = frame.nb_samples - skip; left > 0 && !ConvertedEnough(); left -= slice) {
        ConvertSamples(planes_.data(), std::min(left, slice));
        for (const uint8_t *&plane : planes_)
            plane += sliceBytes;
    }
}

void Conversion::CountSource(int samples, int rate)
{
    if (rate != sourceRate_) {
        sourceUsBefore_ = SourceUs();
        sourceSamples_ = 0;
        sourceRate_ = rate;
    }
    sourceSamples_ += samples;
}

int64_t Conversion::SourceUs() const
{
    if (segmentedSourceUs_)
        return *segmentedSourceUs_;
    return sourceUsBefore_ + (sourceRate_ > 0 ? av_rescale(sourceSamples_, AV_TIME_BASE, sourceRate_) : 0);
}

int Conversion::SamplesToSkip(const AVFrame &frame)
{
    return input_.SamplesBeforePart(frame, options_.startUs, &nextInputSample_);
}

void Conversion::ConvertSamples(const uint8_t *const *planes, int samples)
{
    const int capacity = std::max(1, resampler_->MaxOutput(samples));
    if (leveller_) {
        LevelConverted(capacity, planes, samples);
        return;
    }
    uint8_t **out = ReserveConverted(capacity);
    CommitConverted(resampler_->Convert(out, capacity, planes, samples));
}

void Conversion::DrainResampler()
{
    if (!resampler_->Ready())
        return;
    for (int round = 0; round < 16 && !ConvertedEnough(); ++round) {
        const int capacity = std::max(1, resampler_->MaxOutput(0));
        if (leveller_) {
            if (LevelConverted(capacity, nullptr, 0) <= 0)
                break;
            continue;
        }
        uint8_t **out = ReserveConverted(capacity);
        const int got = resampler_->Convert(out, capacity, nullptr, 0);
        if (got <= 0)
            break;
        CommitConverted(got);
    }
}

uint8_t **Conversion::ReserveConverted(int samples)
{
    if (!resampledQueue_)
        return output_->Reserve(samples);
    resampled_ = MakeFrame();
    resampled_->format = output_->SampleFormat();
    resampled_->sample_rate = output_->SampleRate();
    resampled_->nb_samples = samples;
    if (av_channel_layout_copy(&resampled_->ch_layout, &output_->Layout()) < 0
        || av_frame_get_buffer(resampled_.get(), 0) < 0)
        throw std::bad_alloc();
    return resampled_->extended_data;
}

void Conversion::CommitConverted(int samples)
{
    if (!resampledQueue_) {
        WriteLimited(nullptr, samples);
        return;
    }
    if (samples <= 0)
        return;
    resampled_->nb_samples = samples;
    if (!resampledQueue_->Push(std::move(resampled_)))
        abandoned_ = true;
}

bool Conversion::ConvertedEnough() const
{
    // Each flag belongs to the thread that does the resampling.
    return resampledQueue_ ? abandoned_ : limitReached_;
}

// Hands samples to the output, up to the -t limit. planes == nullptr: they
// are in the room output_->Reserve() gave.
void Conversion::WriteLimited(const uint8_t *const *planes, int samples)
{
    if (limitSamples_) {
        const int64_t room = *limitSamples_ - output_->SamplesWritten();
        if (samples >= room) {
            samples = int(std::max<int64_t>(room, 0));
            limitReached_ = true;
        }
    }
    if (planes)
        output_->Write(planes, samples);
    else
        output_->Commit(samples);
}
