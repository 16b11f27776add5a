#include "ConversionSteps.h"

#include "LoudnessPass.h"
#include "Messages.h"

#include <algorithm>
#include <cmath>

// -loudness and -replaygain: the measuring pass before the conversion, the
// leveller between the resampler and the output, and the line that reports.

namespace {

// Samples the leveller lets out at the end in one step.
constexpr int kFlushSamples = 16384;
// Making up for the limiter: at most this many passes over the limited
// audio, until it is this close to the target, raising the gain by at most
// this much at a time.
constexpr int kMakeUpRounds = 3;
constexpr double kCloseEnoughLu = 0.15;
constexpr double kLargestMakeUpDb = 12;

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
    if (plan_.limit && !MakeUpForLimiter(format)) {
        stopped_ = true;
        return;
    }
    measuredAll_ = true;
    PlanLeveller();
}

// The limiter takes loudness with the peaks it holds (most of all from
// speech, whose peaks stand far above its loudness): the limited audio is
// measured as it will be written, and the gain raised by what it fell
// short, until it lands on the target. False on a stop.
bool Conversion::MakeUpForLimiter(MeasureFormat format)
{
    const double target = *options_.loudnessLufs;
    for (int round = 0; round < kMakeUpRounds; ++round) {
        format.levelled = std::pair(plan_.gainDb, options_.truePeakDb);
        const MeasuredPass limited = MeasureLoudness(options_, format, MeterKind::Loudness);
        if (limited.stopped)
            return false;
        const double shortfall = target - limited.measure.integratedLufs;
        if (!std::isfinite(shortfall) || std::abs(shortfall) < kCloseEnoughLu)
            break;
        plan_.gainDb += std::min(shortfall, kLargestMakeUpDb);
    }
    return true;
}

void Conversion::PlanLeveller()
{
    // Less than a hundredth of a dB is no change worth a pass over the samples.
    if (!plan_.refusal.empty() || (!plan_.limit && std::abs(plan_.gainDb) < 0.01))
        return;
    const std::optional<double> ceiling = plan_.limit ? std::optional(options_.truePeakDb) : std::nullopt;
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
