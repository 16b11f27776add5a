#include "libm9s/loudness/Loudness.h"

#include "libm9s/base/EncoderError.h"
#include "libm9s/loudness/ReferencePeak.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

namespace {

constexpr double kReplayGainReference = -18.0;
constexpr double kOpusReference = -23.0;

// Loudness weights by where a channel plays: the rear pair counts more, the
// LFE not at all, anything else as a front channel.
int ChannelWeight(AVChannel channel)
{
    switch (channel) {
    case AV_CHAN_FRONT_LEFT:
        return EBUR128_LEFT;
    case AV_CHAN_FRONT_RIGHT:
        return EBUR128_RIGHT;
    case AV_CHAN_LOW_FREQUENCY:
    case AV_CHAN_LOW_FREQUENCY_2:
        return EBUR128_UNUSED;
    case AV_CHAN_BACK_LEFT:
    case AV_CHAN_SIDE_LEFT:
        return EBUR128_LEFT_SURROUND;
    case AV_CHAN_BACK_RIGHT:
    case AV_CHAN_SIDE_RIGHT:
        return EBUR128_RIGHT_SURROUND;
    default:
        return EBUR128_CENTER;
    }
}

std::string Printed(const char *format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

struct LoudnessMeter::State {
    ebur128_state *ebu = nullptr;
    ~State() { ebur128_destroy(&ebu); }
};

LoudnessMeter::LoudnessMeter(const AVChannelLayout &layout, int sampleRate, MeterKind kind)
    : state_(std::make_unique<State>()), kind_(kind), sampleRate_(sampleRate)
{
    // The histogram keeps memory constant however long the track is.
    const int mode = kind == MeterKind::TruePeak ? EBUR128_MODE_TRUE_PEAK
                     : kind == MeterKind::Range  ? EBUR128_MODE_LRA | EBUR128_MODE_HISTOGRAM
                     : kind == MeterKind::Written
                         ? EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK | EBUR128_MODE_TRUE_PEAK | EBUR128_MODE_HISTOGRAM
                         : EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_SAMPLE_PEAK | EBUR128_MODE_HISTOGRAM;
    state_->ebu = ebur128_init(unsigned(layout.nb_channels), static_cast<unsigned long>(sampleRate), mode);
    if (!state_->ebu)
        throw EncoderError("Cannot measure the loudness of " + std::to_string(layout.nb_channels) + " channels at "
                           + std::to_string(sampleRate) + " Hz");
    // Mono and stereo keep the library's own map, as every meter does.
    if (layout.nb_channels > 2)
        for (int i = 0; i < layout.nb_channels; ++i)
            ebur128_set_channel(state_->ebu, unsigned(i),
                                ChannelWeight(av_channel_layout_channel_from_index(&layout, unsigned(i))));
    if (kind == MeterKind::TruePeak || kind == MeterKind::Written)
        reference_ = std::make_unique<ReferencePeak>(layout.nb_channels, sampleRate);
}

LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::Add(const float *samples, int count, bool counted)
{
    if (count <= 0)
        return;
    if (ebur128_add_frames_float(state_->ebu, samples, size_t(count)) != EBUR128_SUCCESS)
        throw std::bad_alloc();
    if (reference_)
        reference_->Add(samples, count, counted);
    if (!counted)
        return;
    samples_ += count;
    // The peaks of this call alone: a lead-in's belong to the part before.
    for (unsigned i = 0; i < state_->ebu->channels && kind_ != MeterKind::Range; ++i) {
        double peak = 0;
        if (ebur128_prev_sample_peak(state_->ebu, i, &peak) == EBUR128_SUCCESS)
            samplePeak_ = std::max(samplePeak_, peak);
        if ((kind_ == MeterKind::TruePeak || kind_ == MeterKind::Written)
            && ebur128_prev_true_peak(state_->ebu, i, &peak) == EBUR128_SUCCESS)
            truePeak_ = std::max(truePeak_, peak);
    }
}

// The higher reading of the two meters: a file under the ceiling is under it on both.
double LoudnessMeter::TruePeak() const { return reference_ ? std::max(truePeak_, reference_->Peak()) : truePeak_; }

LoudnessMeasure LoudnessMeter::Result() const
{
    LoudnessMeasure measure;
    measure.samples = samples_;
    measure.sampleRate = sampleRate_;
    measure.samplePeak = samplePeak_;
    measure.truePeak = TruePeak();
    measure.truePeakKnown = kind_ == MeterKind::TruePeak || kind_ == MeterKind::Written;
    if (kind_ != MeterKind::Loudness && kind_ != MeterKind::Written)
        return measure;
    if (ebur128_loudness_global(state_->ebu, &measure.integratedLufs) != EBUR128_SUCCESS)
        measure.integratedLufs = -HUGE_VAL;
    if (ebur128_loudness_range(state_->ebu, &measure.rangeLu) != EBUR128_SUCCESS)
        measure.rangeLu = 0;
    return measure;
}

namespace {

// 100 ms as libebur128 rounds it.
int64_t Hop(int sampleRate) { return (sampleRate + 5) / 10; }

// A gating block lasts four hops: the first a fresh meter completes ends
// four in, so three before the part it measures. The range's blocks last
// thirty hops, the first ending thirty in, then every ten.
constexpr int64_t kGateLeadHops = 3;
constexpr int64_t kRangeHops = 30;
constexpr int64_t kRangeStepHops = 10;
constexpr int64_t kLongestPartSeconds = 60;

} // namespace

std::vector<Segment> PartMeters::Plan(int64_t totalSamples, int sampleRate, int threads)
{
    const int64_t second = kRangeStepHops * Hop(sampleRate);
    std::vector<Segment> parts = PlanSegments(totalSamples, int(second), threads, kLongestPartSeconds * second, second);
    for (size_t i = 1; i < parts.size(); ++i) {
        parts[i].start += kGateLeadHops * Hop(sampleRate);
        parts[i - 1].end = parts[i].start;
    }
    return parts;
}

int64_t PartMeters::LeadSamples(int sampleRate)
{
    return (kGateLeadHops + kRangeHops - kRangeStepHops) * Hop(sampleRate);
}

PartMeters::PartMeters(const AVChannelLayout &layout, int sampleRate, std::vector<Segment> parts, MeterKind kind)
    : sampleRate_(sampleRate), kind_(kind), cuts_(std::move(parts))
{
    if (av_channel_layout_copy(&layout_, &layout) < 0)
        throw std::bad_alloc();
    const int64_t hop = Hop(sampleRate);
    try {
        for (size_t i = 0; i < cuts_.size(); ++i) {
            Part part;
            part.meter = std::make_unique<LoudnessMeter>(layout, sampleRate, kind);
            // The meter's own range blocks start where it does; the seam
            // makes those of the one meter over the whole that end before
            // it has three seconds, but not after the next part's meter starts.
            const int64_t start = cuts_[i].start - kGateLeadHops * hop;
            if (kind == MeterKind::Loudness && i > 0) {
                part.seam = std::make_unique<LoudnessMeter>(layout, sampleRate, MeterKind::Range);
                part.seamFrom = std::max<int64_t>(0, start - (kRangeHops - kRangeStepHops) * hop);
                part.seamTo = start + (kRangeHops - kRangeStepHops) * hop;
                if (i + 1 < cuts_.size())
                    part.seamTo = std::min(part.seamTo, cuts_[i + 1].start - kGateLeadHops * hop);
            }
            parts_.push_back(std::move(part));
        }
    } catch (...) {
        av_channel_layout_uninit(&layout_);
        throw;
    }
}

PartMeters::~PartMeters() { av_channel_layout_uninit(&layout_); }

void PartMeters::Add(size_t index, int64_t position, const float *samples, int count)
{
    const Part &part = parts_[index];
    const Segment &cut = cuts_[index];
    const int channels = layout_.nb_channels;
    // The stretch of [position, position + count) that lies in [from, to).
    auto feed = [&](LoudnessMeter &meter, int64_t from, int64_t to, bool counted) {
        const int64_t first = std::max(position, from);
        const int64_t last = std::min(position + count, to);
        if (last > first)
            meter.Add(samples + size_t(first - position) * size_t(channels), int(last - first), counted);
    };
    const int64_t end = cut.last ? INT64_MAX : cut.end;
    feed(*part.meter, cut.start - kGateLeadHops * Hop(sampleRate_), cut.start, false);
    feed(*part.meter, cut.start, end, true);
    if (part.seam)
        feed(*part.seam, part.seamFrom, part.seamTo, false);
}

LoudnessMeasure PartMeters::Result() const
{
    LoudnessMeasure measure;
    measure.sampleRate = sampleRate_;
    measure.truePeakKnown = kind_ == MeterKind::TruePeak;
    std::vector<ebur128_state *> gated;
    std::vector<ebur128_state *> ranged;
    for (const Part &part : parts_) {
        measure.samples += part.meter->samples_;
        measure.samplePeak = std::max(measure.samplePeak, part.meter->samplePeak_);
        measure.truePeak = std::max(measure.truePeak, part.meter->TruePeak());
        gated.push_back(part.meter->state_->ebu);
        ranged.push_back(part.meter->state_->ebu);
        if (part.seam)
            ranged.push_back(part.seam->state_->ebu);
    }
    if (kind_ != MeterKind::Loudness)
        return measure;
    if (ebur128_loudness_global_multiple(gated.data(), gated.size(), &measure.integratedLufs) != EBUR128_SUCCESS)
        measure.integratedLufs = -HUGE_VAL;
    if (ebur128_loudness_range_multiple(ranged.data(), ranged.size(), &measure.rangeLu) != EBUR128_SUCCESS)
        measure.rangeLu = 0;
    return measure;
}

double TruePeakOverSampleDb(int sampleRate)
{
    // Measured with the worst case, a burst of full-scale samples with the
    // signs of the filter's taps, as FFmpeg's meter reads it (its filters
    // ring higher than libebur128's, which reads 5.41 dB): 7.83 dB from
    // 44.1 kHz (no more from lower rates), 7.43 from 48 kHz, 7.26 at 96 kHz.
    if (sampleRate < 48000)
        return 7.9;
    return sampleRate < 96000 ? 7.6 : sampleRate < 192000 ? 7.4 : 0.1;
}

double ToDecibels(double linear) { return linear > 0 ? 20.0 * std::log10(linear) : -HUGE_VAL; }

std::string NothingToMeasure(const LoudnessMeasure &measure)
{
    if (measure.samples < int64_t(std::ceil(kShortestMeasurableSeconds * measure.sampleRate)))
        return "it is shorter than 0.4 s";
    if (measure.samplePeak <= 0)
        return "the audio is silent";
    if (!std::isfinite(measure.integratedLufs) || measure.integratedLufs < kAbsoluteGateLufs)
        return "it is quieter than the -70 LUFS gate";
    return {};
}

LevelPlan PlanLevel(const LoudnessMeasure &measure, double targetLufs, double ceilingDb)
{
    LevelPlan plan;
    plan.refusal = NothingToMeasure(measure);
    if (!plan.refusal.empty())
        return plan;
    plan.gainDb = targetLufs - measure.integratedLufs;
    // A sample over the ceiling is a true peak over it too.
    const double sampleDb = ToDecibels(measure.samplePeak) + plan.gainDb;
    if (measure.truePeakKnown)
        plan.limit = ToDecibels(measure.truePeak) + plan.gainDb > ceilingDb;
    else
        plan.limit = sampleDb > ceilingDb;
    plan.needsTruePeak =
        !measure.truePeakKnown && !plan.limit && sampleDb + TruePeakOverSampleDb(measure.sampleRate) > ceilingDb;
    return plan;
}

TagList ReplayGainTags(const LoudnessMeasure &measure, bool opus)
{
    if (!NothingToMeasure(measure).empty())
        return {};
    if (opus) {
        const double q78 = std::round((kOpusReference - measure.integratedLufs) * 256.0);
        return {{"R128_TRACK_GAIN", std::to_string(int(std::clamp(q78, -32768.0, 32767.0)))}};
    }
    return {{"REPLAYGAIN_TRACK_GAIN", Printed("%.2f dB", kReplayGainReference - measure.integratedLufs)},
            {"REPLAYGAIN_TRACK_PEAK", Printed("%.6f", measure.samplePeak)}};
}

std::string DescribeMeasure(const LoudnessMeasure &measure)
{
    return Printed("Loudness %.1f LUFS", measure.integratedLufs) + Printed(", range %.1f LU", measure.rangeLu)
           + (measure.truePeakKnown ? Printed(", true peak %.1f dBTP", ToDecibels(measure.truePeak))
                                    : Printed(", peak %.1f dBFS", ToDecibels(measure.samplePeak)));
}

std::string DescribeLevel(const LoudnessMeasure &measure, const LevelPlan &plan, double targetLufs, double ceilingDb,
                          bool limited)
{
    if (!plan.refusal.empty())
        return "Loudness not changed: " + plan.refusal;
    return DescribeMeasure(measure) + Printed("; applied %+.2f dB", plan.gainDb) + Printed(" for %g LUFS", targetLufs)
           + (limited ? Printed("; the limiter held true peaks under %g dBTP", ceilingDb)
                      : std::string("; no limiting needed"));
}

std::string DescribeTags(const TagList &tags)
{
    std::string text = "ReplayGain tags";
    for (const auto &[key, value] : tags)
        text += (&key == &tags.front().first ? ": " : ", ") + key + "=" + value;
    return text;
}
