#include "libm9s/loudness/LoudnessStage.h"

#include "libm9s/base/Messages.h"
#include "libm9s/loudness/LoudnessPass.h"
#include "libm9s/output/OutputMedia.h"

extern "C" {
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

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
bool LoudnessStage::MeasureForConversion(OutputMedia &output)
{
    if (!options_.loudnessLufs && !options_.replayGain)
        return true;
    if (options_.replayGain && !CarriesReplayGain(options_.format)) {
        WriteLine(std::string("No ReplayGain tags: ") + FormatDisplayName(options_.format) + " files "
                  + (options_.format == OutputFormat::M4a ? "get no iTunes freeform tags from FFmpeg's MP4 muxer"
                                                          : "cannot carry them"));
        return true;
    }
    RequireRereadableInput(options_);
    const MeasureFormat format{&output.Layout(), output.SampleRate(), std::nullopt};
    const MeasuredPass pass = MeasureLoudness(options_, format, MeterKind::Loudness);
    // Kept also after a stop: the progress reported goes on from there.
    measure_ = pass.measure;
    if (pass.stopped)
        return false; // nothing converted yet: an empty file
    if (options_.replayGain) {
        measuredAll_ = true;
        for (const auto &[key, value] : ReplayGainTags(*measure_, options_.format == OutputFormat::Opus))
            output.SetTag(key, value);
        return true;
    }
    plan_ = PlanLevel(*measure_, *options_.loudnessLufs, options_.truePeakDb);
    if (plan_.needsTruePeak) {
        const MeasuredPass peaks = MeasureLoudness(options_, format, MeterKind::TruePeak);
        if (peaks.stopped)
            return false;
        measure_->truePeak = peaks.measure.truePeak;
        measure_->truePeakKnown = true;
        plan_ = PlanLevel(*measure_, *options_.loudnessLufs, options_.truePeakDb);
    }
    if (!MakeUp(format, output))
        return false;
    measuredAll_ = true;
    return true;
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
bool LoudnessStage::MakeUp(MeasureFormat format, OutputMedia &output)
{
    const bool lossy = options_.format != OutputFormat::Wav && options_.format != OutputFormat::Flac;
    ceilingDb_ = options_.truePeakDb;
    if (!plan_.limit && !lossy)
        return true;
    const double target = *options_.loudnessLufs;
    format.codec = lossy ? &output : nullptr;
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

std::unique_ptr<Leveller> LoudnessStage::MakeLeveller(const OutputMedia &output) const
{
    if (!Levels())
        return nullptr;
    const std::optional<double> ceiling = plan_.limit ? std::optional(ceilingDb_) : std::nullopt;
    return std::make_unique<Leveller>(plan_.gainDb, ceiling, output.Layout().nb_channels, output.SampleRate(),
                                      output.SampleFormat());
}

void LoudnessStage::Report(bool limited) const
{
    // Nothing decodable: the failure says so.
    if (!measuredAll_ || measure_->samples == 0)
        return;
    if (options_.loudnessLufs) {
        WriteLine(DescribeLevel(*measure_, plan_, *options_.loudnessLufs, options_.truePeakDb, limited));
        return;
    }
    const TagList tags = ReplayGainTags(*measure_, options_.format == OutputFormat::Opus);
    WriteLine(tags.empty() ? "No ReplayGain tags: " + NothingToMeasure(*measure_)
                           : DescribeMeasure(*measure_) + "; " + DescribeTags(tags));
}

bool LoudnessStage::Levels() const
{
    // Less than a hundredth of a dB is no change worth a pass over the samples.
    return measuredAll_ && options_.loudnessLufs && plan_.refusal.empty()
           && (plan_.limit || std::abs(plan_.gainDb) >= 0.01);
}

int64_t LoudnessStage::Progress(int64_t done) const
{
    return measure_ ? SecondPassProgress(measure_->samples, done) : done;
}

int64_t LoudnessStage::ProgressMs(int64_t doneMs) const
{
    if (!measure_ || measure_->sampleRate <= 0)
        return doneMs;
    return SecondPassProgress(av_rescale(measure_->samples, 1000, measure_->sampleRate), doneMs);
}

bool LoudnessStage::MeasureForCopy(const std::string &muxer, const std::string &extension, bool opus)
{
    if (muxer != "mp3" && muxer != "flac" && muxer != "ogg" && muxer != "opus" && muxer != "matroska") {
        WriteLine("No ReplayGain tags: FFmpeg writes none into ." + extension + " files");
        return true;
    }
    RequireRereadableInput(options_);
    const MeasuredPass pass = MeasureLoudness(options_, MeasureFormat{});
    if (pass.stopped)
        return false;
    measure_ = pass.measure;
    copyTags_ = ReplayGainTags(*measure_, opus);
    if (measure_->samples > 0)
        WriteLine(copyTags_.empty() ? "No ReplayGain tags: " + NothingToMeasure(*measure_)
                                    : DescribeMeasure(*measure_) + "; " + DescribeTags(copyTags_));
    return true;
}
