#pragma once
// -loudness and -replaygain: the measuring passes before a conversion or a
// copy, what they make of it (a constant gain, with a limiter where the
// true peak needs one, or ReplayGain tags), and the line that reports.

#include "libm9s/base/Options.h"
#include "libm9s/filter/Leveller.h"
#include "libm9s/loudness/Loudness.h"
#include "libm9s/loudness/LoudnessPass.h"

#include <memory>
#include <optional>
#include <string>

class OutputMedia;

class LoudnessStage {
public:
    explicit LoudnessStage(const EncoderOptions &options) : options_(options) {}

    // Measures the audio as output will get it (rate and channels) and sets
    // up the gain, or puts the tags on output. False on a stop request.
    bool MeasureForConversion(OutputMedia &output);
    // -replaygain on a copy: the source is decoded once to measure it; the
    // packets then go out unchanged, with tags that tell players the gain.
    // muxer and extension: the copy's container. False on a stop request.
    bool MeasureForCopy(const std::string &muxer, const std::string &extension, bool opus);
    // The tags a copy carries.
    const TagList &CopyTags() const { return copyTags_; }

    // The gain (and limiter) between the resampler and the encoder; nullptr
    // where no sample changes.
    std::unique_ptr<Leveller> MakeLeveller(const OutputMedia &output) const;
    // The constant gain a segmented conversion applies; none where there
    // is no gain, and no segments where the limiter must run (its gain runs
    // from one sample to the next).
    bool Levels() const;
    bool NeedsLimiter() const { return Levels() && plan_.limit; }
    double GainDb() const { return plan_.gainDb; }

    // The progress a conversion (done: samples at the measured rate) or a
    // copy (doneMs) reports after the measuring pass: the second half.
    int64_t Progress(int64_t done) const;
    int64_t ProgressMs(int64_t doneMs) const;
    // The line after a conversion; limited: the limiter lowered a peak.
    void Report(bool limited) const;

private:
    bool MakeUp(MeasureFormat format, OutputMedia &output);

    const EncoderOptions &options_;
    std::optional<LoudnessMeasure> measure_;
    bool measuredAll_ = false;
    LevelPlan plan_;
    double ceilingDb_ = 0; // where the limiter aims: -truepeak, lower for a lossy encoder's overs
    TagList copyTags_;
};
