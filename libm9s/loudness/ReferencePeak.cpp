#include "libm9s/loudness/ReferencePeak.h"

#include "libm9s/base/EncoderError.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cmath>
#include <new>
#include <string>

namespace {

constexpr int kMeterRate = 48000;
constexpr int kOversampling = 4;

} // namespace

ReferencePeak::ReferencePeak(int channels, int sampleRate) : channels_(channels)
{
    if (sampleRate != kMeterRate)
        stages_.push_back(MakeStage(sampleRate, kMeterRate));
    stages_.push_back(MakeStage(kMeterRate, kMeterRate * kOversampling));
}

// libswresample with its own defaults, as the meter sets it up.
ReferencePeak::Stage ReferencePeak::MakeStage(int inRate, int outRate) const
{
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, channels_);
    SwrContext *swr = nullptr;
    const int made =
        swr_alloc_set_opts2(&swr, &layout, AV_SAMPLE_FMT_FLT, outRate, &layout, AV_SAMPLE_FMT_FLT, inRate, 0, nullptr);
    av_channel_layout_uninit(&layout);
    Stage stage{SwrPtr(swr), {}};
    if (made < 0 || swr_init(swr) < 0)
        throw EncoderError("Cannot measure the true peak at " + std::to_string(inRate) + " Hz");
    return stage;
}

void ReferencePeak::Add(const float *samples, int count, bool counted)
{
    if (count > 0)
        Pass(0, samples, count, counted);
}

void ReferencePeak::Pass(size_t stage, const float *samples, int count, bool counted)
{
    Stage &s = stages_[stage];
    const int capacity = swr_get_out_samples(s.swr.get(), count);
    if (capacity < 0)
        throw std::bad_alloc();
    s.out.resize(size_t(capacity) * size_t(channels_));
    const auto *in = reinterpret_cast<const uint8_t *>(samples);
    auto *out = reinterpret_cast<uint8_t *>(s.out.data());
    const int got = swr_convert(s.swr.get(), &out, capacity, &in, count);
    if (got < 0)
        throw EncoderError("Cannot measure the true peak");
    Deliver(stage, got, counted);
}

// A step's output: on to the next step, or, after the last, its peak.
void ReferencePeak::Deliver(size_t stage, int count, bool counted)
{
    const std::vector<float> &out = stages_[stage].out;
    if (count <= 0)
        return;
    if (stage + 1 < stages_.size())
        return Pass(stage + 1, out.data(), count, counted);
    if (!counted)
        return;
    for (size_t i = 0; i < size_t(count) * size_t(channels_); ++i)
        peak_ = std::max(peak_, double(std::abs(out[i])));
}

// What each filter still holds, through the steps after it.
void ReferencePeak::Drain(size_t stage)
{
    for (;;) {
        Stage &s = stages_[stage];
        const int held = swr_get_out_samples(s.swr.get(), 0);
        if (held <= 0)
            break;
        s.out.resize(size_t(held) * size_t(channels_));
        auto *out = reinterpret_cast<uint8_t *>(s.out.data());
        const int got = swr_convert(s.swr.get(), &out, held, nullptr, 0);
        if (got <= 0)
            break;
        Deliver(stage, got, true);
    }
    if (stage + 1 < stages_.size())
        Drain(stage + 1);
}

double ReferencePeak::Peak()
{
    if (!drained_) {
        drained_ = true;
        Drain(0);
    }
    return peak_;
}
