#include "ConversionSteps.h"

#include "LoudnessPass.h"
#include "Messages.h"

#include <algorithm>
#include <cmath>
#include <optional>

// -loudness and -replaygain: the measuring pass before the conversion, the
// leveller between the resampler and the output, and the line that reports.

namespace {

// Samples the leveller lets out at the end in one step.
constexpr int kFlushSamples = 16384;
// Making up for the limiter and the encoder: at most this many passes over
// the audio as written, until it is this close to the target, raising the
// gain by at most this much at a time.
constexpr int kMakeUpRounds = 8;
constexpr double kCloseEnoughLu = 0.15;
constexpr double kLargestMakeUpDb = 12;
// A dB of gain brings at least this much loudness however hard the limiter works.
constexpr double kFlattestSlope = 0.2;
// The limiter aims this much further under the ceiling than the decoded
// peaks rose over it: the encoder moves them a little with every change.
constexpr double kPeakMarginDb = 0.2;

} // namespace

// The first of two passes: measures the audio as the output will get it
// (rate and channels) and sets up the gain or the tags.
void Conversion::Measure()
{
    if (!options_.loudnessLufs && !options_.replayGain)
        return;
    if (options_.replayGain && !CarriesReplayGain(options_.format)) {
        WriteLine(std::string("No ReplayGain tags: ") + FormatDisplayName(options_.format) + " files "
                  + (options_.format == OutputFormat::M4a ? "get no iTunes freeform tags from FFmpeg's MP4 muxer"
                                                          : "cannot carry them"));
        return;
    }
    RequireRereadableInput(options_);
    const MeasureFormat format{&output_->Layout(), output_->SampleRate(), std::nullopt};
    const MeasuredPass pass = MeasureLoudness(options_, format, MeterKind::Loudness);
    // Kept also after a stop: the progress reported goes on from there.
    measure_ = pass.measure;
    if (pass.stopped) {
        stopped_ = true; // nothing converted yet: an empty file
        return;
    }
    if (options_.replayGain) {
        measuredAll_ = true;
        for (const auto &[key, value] : ReplayGainTags(*measure_, options_.format == OutputFormat::Opus))
            output_->SetTag(key, value);
        return;
    }
    plan_ = PlanLevel(*measure_, *options_.loudnessLufs, options_.truePeakDb);
    if (plan_.needsTruePeak) {
        const MeasuredPass peaks = MeasureLoudness(options_, format, MeterKind::TruePeak);
        if (peaks.stopped) {
            stopped_ = true;
            return;
        }
        measure_->truePeak = peaks.measure.truePeak;
        measure_->truePeakKnown = true;
        plan_ = PlanLevel(*measure_, *options_.loudnessLufs, options_.truePeakDb);
    }
    if (!MakeUp(format)) {
        stopped_ = true;
        return;
    }
    measuredAll_ = true;
    PlanLeveller();
}

// What the first pass measured is the source, not the file written. The
// limiter takes loudness with the peaks it holds (most of all from speech,
// whose plosives stand far above its loudness), and a lossy encoder takes
// some too (it leaves out what it deems inaudible, highs that the meters
// weigh up) and makes peaks of its own. So the audio is measured again as
// it will be written, through the gain and the limiter, and for a lossy
// format through its encoder and decoder, and the gain raised by what it
// fell short, the limiter's aim lowered by what the peaks rose over the
// ceiling (read as the common meters read them: between the samples, the
// filters of one meter ring higher than the limiter's own), until it
// lands. False on a stop.
bool Conversion::MakeUp(MeasureFormat format)
{
    const bool lossy = options_.format != OutputFormat::Wav && options_.format != OutputFormat::Flac;
    ceilingDb_ = options_.truePeakDb;
    if (!plan_.limit && !lossy)
        return true;
    const double target = *options_.loudnessLufs;
    format.codec = lossy ? output_.get() : nullptr;
    // The last round's gain and result, while the limiter's aim stays: how
    // much a dB of gain brings, once the limiter takes its share of each.
    bool compared = false;
    double lastGain = 0;
    double lastGot = 0;
    // The round measured under the ceiling that came nearest the target: where
    // the rounds run out before they land, the file is written as that one
    // was measured, so a peak over the ceiling is never what is left.
    struct Tried {
        LevelPlan plan;
        double ceilingDb;
        double missLu;
    };
    std::optional<Tried> best;
    bool landed = false;
    for (int round = 0; round < kMakeUpRounds && !landed; ++round) {
        format.levelled =
            MeasureFormat::Levelling{plan_.gainDb, plan_.limit ? std::optional(ceilingDb_) : std::nullopt};
        const MeasuredPass written = MeasureLoudness(options_, format, MeterKind::Written);
        if (written.stopped)
            return false;
        const double over = ToDecibels(written.measure.truePeak) - options_.truePeakDb;
        const double got = written.measure.integratedLufs;
        const double shortfall = target - got;
        if (over <= 0 && std::isfinite(shortfall) && (!best || std::abs(shortfall) < best->missLu))
            best = Tried{plan_, ceilingDb_, std::abs(shortfall)};
        landed = true;
        if (over > 0) {
            ceilingDb_ -= over + kPeakMarginDb;
            plan_.limit = true;
            landed = false;
        }
        double slope = 1;
        if (compared && over <= 0 && std::abs(plan_.gainDb - lastGain) > 0.05)
            slope = std::clamp((got - lastGot) / (plan_.gainDb - lastGain), kFlattestSlope, 1.0);
        compared = over <= 0;
        lastGain = plan_.gainDb;
        lastGot = got;
        if (std::isfinite(shortfall) && std::abs(shortfall) >= kCloseEnoughLu) {
            plan_.gainDb += std::clamp(shortfall / slope, -kLargestMakeUpDb, kLargestMakeUpDb);
            // A sample over the ceiling now is a true peak over it.
            plan_.limit = plan_.limit || ToDecibels(measure_->samplePeak) + plan_.gainDb > ceilingDb_;
            landed = false;
        }
    }
    if (!landed && best) {
        plan_ = best->plan;
        ceilingDb_ = best->ceilingDb;
    }
    return true;
}

void Conversion::PlanLeveller()
{
    // Less than a hundredth of a dB is no change worth a pass over the samples.
    if (!plan_.refusal.empty() || (!plan_.limit && std::abs(plan_.gainDb) < 0.01))
        return;
    const std::optional<double> ceiling = plan_.limit ? std::optional(ceilingDb_) : std::nullopt;
    leveller_ = std::make_unique<Leveller>(plan_.gainDb, ceiling, output_->Layout().nb_channels, output_->SampleRate(),
                                           output_->SampleFormat());
    resampler_ = std::make_unique<Resampler>(output_->Layout(), AV_SAMPLE_FMT_FLTP, output_->SampleRate());
}

void Conversion::ReportLoudness()
{
    // Nothing decodable: the failure says so.
    if (!measuredAll_ || measure_->samples == 0)
        return;
    if (options_.loudnessLufs) {
        const bool limited = leveller_ && leveller_->Limited();
        WriteLine(DescribeLevel(*measure_, plan_, *options_.loudnessLufs, options_.truePeakDb, limited));
        return;
    }
    const TagList tags = ReplayGainTags(*measure_, options_.format == OutputFormat::Opus);
    WriteLine(tags.empty() ? "No ReplayGain tags: " + NothingToMeasure(*measure_)
                           : DescribeMeasure(*measure_) + "; " + DescribeTags(tags));
}

// Resamples into the leveller's floats and hands on what it lets out.
int Conversion::LevelConverted(int capacity, const uint8_t *const *in, int samples)
{
    const int got = resampler_->Convert(leveller_->Input(capacity), capacity, in, samples);
    if (got > 0)
        CommitConverted(leveller_->Process(got, ReserveConverted(got)));
    return got;
}

// The samples the limiter's look-ahead still holds, at the very end.
void Conversion::FlushLeveller()
{
    if (!leveller_)
        return;
    for (int left = leveller_->Delay(); left > 0 && !ConvertedEnough();) {
        const int n = std::min(left, kFlushSamples);
        CommitConverted(leveller_->Flush(n, ReserveConverted(n)));
        left -= n;
    }
}
