#include "libm9s/filter/Resampler.h"

#include "libm9s/base/EncoderError.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>

void FrameLayout(const AVFrame &frame, AVChannelLayout *layout)
{
    if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_check(&frame.ch_layout) == 0)
        av_channel_layout_default(layout, frame.ch_layout.nb_channels);
    else if (av_channel_layout_copy(layout, &frame.ch_layout) < 0)
        throw std::bad_alloc();
}

Resampler::Resampler(const AVChannelLayout &outLayout, AVSampleFormat outFormat, int outRate)
    : outFormat_(outFormat), outRate_(outRate)
{
    if (av_channel_layout_copy(&outLayout_, &outLayout) < 0)
        throw std::bad_alloc();
}

Resampler::~Resampler()
{
    av_channel_layout_uninit(&outLayout_);
    av_channel_layout_uninit(&inLayout_);
}

bool Resampler::Differs(const AVFrame &frame) const
{
    if (!swr_ || frame.format != inFormat_ || frame.sample_rate != inRate_)
        return true;
    AVChannelLayout layout{};
    FrameLayout(frame, &layout);
    bool differs = av_channel_layout_compare(&layout, &inLayout_) != 0;
    av_channel_layout_uninit(&layout);
    return differs;
}

void Resampler::Setup(const AVFrame &frame)
{
    if (frame.sample_rate < kMinInputRate || frame.sample_rate > kMaxInputRate)
        throw EncoderError("Cannot convert audio of " + std::to_string(frame.sample_rate) + " Hz: the rate must be "
                               + std::to_string(kMinInputRate) + " to " + std::to_string(kMaxInputRate) + " Hz",
                           EncoderContract::FailureKind::Unreadable);
    swr_.reset();
    av_channel_layout_uninit(&inLayout_);
    FrameLayout(frame, &inLayout_);
    inFormat_ = AVSampleFormat(frame.format);
    inRate_ = frame.sample_rate;

    SwrContext *swr = nullptr;
    int ret = swr_alloc_set_opts2(&swr, &outLayout_, outFormat_, outRate_, &inLayout_, inFormat_, inRate_, 0, nullptr);
    SwrPtr owned(swr);
    if (ret >= 0) {
        // Down- and up-mixes are scaled so that no sum can clip, for MP3's
        // float input as for WAV's integers (where this is the default anyway).
        av_opt_set_double(swr, "rematrix_maxval", 1.0, 0);
        ret = swr_init(swr);
    }
    if (ret < 0) {
        char layoutName[128] = "?";
        av_channel_layout_describe(&inLayout_, layoutName, sizeof layoutName);
        throw EncoderError(std::string("Cannot convert audio of ") + std::to_string(inRate_) + " Hz, " + layoutName
                               + ": " + AvErrorText(ret),
                           EncoderContract::FailureKind::Unreadable);
    }
    swr_ = std::move(owned);
}

void Resampler::Restart()
{
    // libswresample builds its filter anew only when the rates or the
    // filter's settings change.
    if (swr_ && swr_init(swr_.get()) < 0)
        swr_.reset();
}

int Resampler::InputSlice(int maxOutput) const
{
    if (inRate_ <= 0 || outRate_ <= 0)
        return 1;
    return int(std::clamp<int64_t>(int64_t(maxOutput) * inRate_ / outRate_, 1, maxOutput));
}

int Resampler::MaxOutput(int inSamples) const
{
    int n = swr_get_out_samples(swr_.get(), inSamples);
    return n < 0 ? 0 : n;
}

int Resampler::Convert(uint8_t **out, int capacity, const uint8_t *const *in, int inSamples)
{
    int n = swr_convert(swr_.get(), out, capacity, const_cast<const uint8_t **>(in), in ? inSamples : 0);
    if (n < 0)
        throw EncoderError("Cannot convert audio: " + AvErrorText(n));
    return n;
}
