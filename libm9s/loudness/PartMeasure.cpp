#include "libm9s/loudness/PartMeasure.h"

#include "libm9s/base/Messages.h"
#include "libm9s/base/StopControl.h"
#include "libm9s/base/TimeText.h"
#include "libm9s/input/InputMedia.h"
#include "libm9s/segments/SegmentJoin.h"
#include "libm9s/segments/SegmentPlacement.h"

extern "C" {
#include <libavutil/mathematics.h>
}

#include <chrono>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReportInterval = std::chrono::milliseconds(250);

// The layout and rate the parts are measured in: the output's, or for a
// copy the source's as its decoder names them.
bool PartFormat(const AVCodecContext &decoder, MeasureFormat format, AVChannelLayout *layout, int *rate)
{
    if (format.layout) {
        *rate = format.sampleRate;
        return av_channel_layout_copy(layout, format.layout) >= 0;
    }
    *rate = decoder.sample_rate;
    if (decoder.ch_layout.nb_channels <= 0 || *rate <= 0)
        return false;
    if (decoder.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(layout, decoder.ch_layout.nb_channels);
        return true;
    }
    return av_channel_layout_copy(layout, &decoder.ch_layout) >= 0;
}

} // namespace

// The whole track cut into parts on the meter's block grid, each measured
// on a thread of its own from its lead-in on; empty when the input cannot
// be cut (then one thread measures it).
std::optional<MeasuredPass> MeasureInParts(const EncoderOptions &options, MeasureFormat format, MeterKind kind)
{
    const int threads = ThreadsToUse(options);
    if (threads < 2)
        return std::nullopt;
    InputMedia input;
    if (!input.Open(options.inputPath))
        return MeasuredPass{{}, true};
    input.SelectAudio(options.audioTrack);
    input.OpenDecoder();
    const std::optional<int64_t> duration = input.PartDurationUs(options.startUs, options.durationUs);
    AVChannelLayout layout{};
    int rate = 0;
    if (!duration || !PartFormat(*input.Decoder(), format, &layout, &rate))
        return std::nullopt;
    std::unique_ptr<AVChannelLayout, void (*)(AVChannelLayout *)> keep(&layout, av_channel_layout_uninit);

    SegmentSetup setup;
    setup.options = &options;
    // The lead-in is the warm-up, in frames of a sample.
    setup.frameSamples = 1;
    setup.warmFrames = int(PartMeters::LeadSamples(rate));
    setup.prerollSamples = rate / 2;
    // As the one-thread pass counts a part's length: from its start.
    std::optional<int64_t> end;
    if (options.durationUs)
        end = av_rescale(*options.durationUs, rate, AV_TIME_BASE);
    setup.segments = PartMeters::Plan(end.value_or(av_rescale(*duration, rate, AV_TIME_BASE)), rate, threads);
    if (setup.segments.size() < 2 || !PlaceSegmentSource(options.inputPath, input, setup)
        || !PlaceSegmentPart(input, setup, end))
        return std::nullopt;
    PartMeters meters(layout, rate, setup.segments, kind);
    setup.meters = &meters;

    Clock::time_point lastReport = Clock::now();
    JoinSegments(setup, threads, nullptr, [&](int64_t samples) {
        const Clock::time_point now = Clock::now();
        if (kind != MeterKind::Loudness || now - lastReport < kReportInterval)
            return;
        lastReport = now;
        WriteTimeMarker(FormatSeconds(samples / 2, rate));
    });
    MeasuredPass pass{meters.Result(), StopControl::Requested()};
    if (!pass.stopped && kind == MeterKind::Loudness)
        WriteTimeMarker(FormatSeconds(pass.measure.samples / 2, rate));
    return pass;
}
