#pragma once
// Loudness as EBU R128 counts it (libebur128): what the measuring pass
// learns about a track, the gain that brings it to a target, and the
// ReplayGain tags that tell players that gain instead.

#include "libm9s/base/Options.h"
#include "libm9s/metadata/Tags.h"
#include "libm9s/segments/Segments.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct LoudnessMeasure {
    double integratedLufs = 0; // -infinity when every block lies below the gate
    double rangeLu = 0;
    double samplePeak = 0; // linear, 1.0 is full scale
    double truePeak = 0;   // linear; meaningful only where truePeakKnown
    bool truePeakKnown = false;
    int64_t samples = 0; // per channel
    int sampleRate = 0;
};

// What a meter measures: loudness, range and sample peak; or true peak alone
// (4x interpolation, as costly as all the rest together, so measured only
// where it can matter). Range: the 3-second blocks of the loudness range
// alone. Written: loudness, sample and true peak of the audio as a lossy
// output decodes, checked against the target and the ceiling.
enum class MeterKind { Loudness, TruePeak, Range, Written };

class ReferencePeak;

class LoudnessMeter {
public:
    // Throws EncoderError when libebur128 cannot measure that many channels.
    LoudnessMeter(const AVChannelLayout &layout, int sampleRate, MeterKind kind = MeterKind::Loudness);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter &) = delete;
    LoudnessMeter &operator=(const LoudnessMeter &) = delete;

    // Interleaved floats of the layout given above. counted false: a lead-in
    // that only fills the meter's blocks and filters; its samples and peaks
    // belong to the part before.
    void Add(const float *samples, int count, bool counted = true);
    LoudnessMeasure Result() const;

private:
    friend class PartMeters;
    double TruePeak() const;
    struct State;
    std::unique_ptr<State> state_;
    std::unique_ptr<ReferencePeak> reference_; // true peak as FFmpeg's meter reads it, beside libebur128's
    MeterKind kind_;
    int64_t samples_ = 0;
    int sampleRate_;
    double samplePeak_ = 0;
    double truePeak_ = 0;
};

// A track cut into parts that are measured side by side, on libebur128's
// grid: gating blocks of 400 ms every 100 ms, the range's blocks of 3 s
// every second. Each part's meter starts 300 ms before the part, so that
// its blocks end inside the part just as one meter's over the whole track
// would; the parts start 300 ms after a whole second, so that its 3-second
// blocks fall on that meter's grid too, and a second meter per cut makes
// the two blocks that straddle it. Together they measure as one meter.
class PartMeters {
public:
    // At least one part per thread, at most a minute each, none under a second.
    static std::vector<Segment> Plan(int64_t totalSamples, int sampleRate, int threads);
    // How far before its part each part's audio must start.
    static int64_t LeadSamples(int sampleRate);

    PartMeters(const AVChannelLayout &layout, int sampleRate, std::vector<Segment> parts, MeterKind kind);
    ~PartMeters();
    PartMeters(const PartMeters &) = delete;
    PartMeters &operator=(const PartMeters &) = delete;

    const AVChannelLayout &Layout() const { return layout_; }
    int SampleRate() const { return sampleRate_; }
    // count interleaved samples for part index, the first of them sample
    // position of the track; from LeadSamples before the part on, in order.
    void Add(size_t index, int64_t position, const float *samples, int count);
    LoudnessMeasure Result() const;

private:
    struct Part {
        std::unique_ptr<LoudnessMeter> meter; // from 300 ms before the part
        std::unique_ptr<LoudnessMeter> seam;  // the range's blocks that straddle the part's start
        int64_t seamFrom = 0;
        int64_t seamTo = 0;
    };
    AVChannelLayout layout_{};
    int sampleRate_;
    MeterKind kind_;
    std::vector<Segment> cuts_;
    std::vector<Part> parts_;
};

// Gating blocks last 400 ms: anything shorter has no integrated loudness.
constexpr double kShortestMeasurableSeconds = 0.4;
constexpr double kAbsoluteGateLufs = -70.0;

// How far libebur128's true peak can rise over the highest sample: the sum
// of its interpolation filter's taps in one phase (below 96 kHz it
// interpolates 4x, below 192 kHz 2x with a longer phase, above not at all).
// Further under the ceiling, no true peak can reach it.
double TruePeakOverSampleDb(int sampleRate);

// The constant gain for a target, and whether peaks then need limiting.
struct LevelPlan {
    double gainDb = 0;
    bool limit = false;         // the gain pushes the true peak over the ceiling
    bool needsTruePeak = false; // the sample peak comes too near the ceiling to tell; measure the true peak
    std::string refusal;        // why nothing is changed ("the audio is silent"); empty when it is
};
// Without a true peak in measure, the sample peak decides where it tells:
// over the ceiling it needs the limiter, far under it none; needsTruePeak
// says that it is near enough that the true peak must be measured first.
LevelPlan PlanLevel(const LoudnessMeasure &measure, double targetLufs, double ceilingDb);

// Why a track gets no gain at all; empty when it does.
std::string NothingToMeasure(const LoudnessMeasure &measure);

double ToDecibels(double linear);

// The tags for a track: REPLAYGAIN_TRACK_GAIN against -18 LUFS and _PEAK
// (the highest sample, as ReplayGain has always counted it);
// for Opus only R128_TRACK_GAIN, in 1/256 dB against -23 LUFS, as Ogg Opus
// asks (players add it to the header's output gain, which the decoder has
// already applied to what was measured).
TagList ReplayGainTags(const LoudnessMeasure &measure, bool opus);

// The lines the measuring pass ends with.
std::string DescribeMeasure(const LoudnessMeasure &measure);
std::string DescribeLevel(const LoudnessMeasure &measure, const LevelPlan &plan, double targetLufs, double ceilingDb,
                          bool limited);
std::string DescribeTags(const TagList &tags);
