#include "libm9s/pipeline/StageLinks.h"

#include "libm9s/base/FrameQueue.h"
#include "libm9s/output/OutputMedia.h"

#include <algorithm>
#include <new>
#include <utility>

LimitedOutput::LimitedOutput(OutputMedia &output, std::optional<int64_t> limitSamples)
    : output_(output), limit_(limitSamples), reached_(limitSamples && *limitSamples <= 0)
{
}

uint8_t **LimitedOutput::Reserve(int samples) { return output_.Reserve(samples); }

void LimitedOutput::Write(const uint8_t *const *planes, int samples)
{
    if (limit_) {
        const int64_t room = *limit_ - output_.SamplesWritten();
        if (samples >= room) {
            samples = int(std::max<int64_t>(room, 0));
            reached_ = true;
        }
    }
    if (planes)
        output_.Write(planes, samples);
    else
        output_.Commit(samples);
}

uint8_t **QueueSink::Reserve(int samples)
{
    frame_ = MakeFrame();
    frame_->format = output_.SampleFormat();
    frame_->sample_rate = output_.SampleRate();
    frame_->nb_samples = samples;
    if (av_channel_layout_copy(&frame_->ch_layout, &output_.Layout()) < 0 || av_frame_get_buffer(frame_.get(), 0) < 0)
        throw std::bad_alloc();
    return frame_->extended_data;
}

void QueueSink::Commit(int samples)
{
    if (samples <= 0)
        return;
    frame_->nb_samples = samples;
    if (!queue_.Push(std::move(frame_)))
        abandoned_ = true;
}
