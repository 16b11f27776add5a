#pragma once
// Loudness as EBU R128 counts it (libebur128): what the measuring pass
// learns about a track, the gain that brings it to a target, and the
// ReplayGain tags that tell players that gain instead.

#include "Options.h"

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
    double truePeak = 0; // linear, 1.0 is full scale
    int64_t samples = 0; // per channel
    int sampleRate = 0;
};

class LoudnessMeter {
public:
    // Throws EncoderError when libebur128 cannot measure that many channels.
    LoudnessMeter(const AVChannelLayout &layout, int sampleRate);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter &) = delete;
    LoudnessMeter &operator=(const LoudnessMeter &) = delete;

    // Interleaved floats of the layout given above.
    void Add(const float *samples, int count);
    LoudnessMeasure Result() const;

private:
    struct State;
    std::unique_ptr<State> state_;
    int64_t samples_ = 0;
    int sampleRate_;
};

// Gating blocks last 400 ms: anything shorter has no integrated loudness.
constexpr double kShortestMeasurableSeconds = 0.4;
constexpr double kAbsoluteGateLufs = -70.0;

// The constant gain for a target, and whether peaks then need limiting.
struct LevelPlan {
    double gainDb = 0;
    bool limit = false;  // the gain pushes the true peak over the ceiling
    std::string refusal; // why nothing is changed ("the audio is silent"); empty when it is
};
LevelPlan PlanLevel(const LoudnessMeasure &measure, double targetLufs, double ceilingDb);

// Why a track gets no gain at all; empty when it does.
std::string NothingToMeasure(const LoudnessMeasure &measure);

double ToDecibels(double linear);

// The tags for a track: REPLAYGAIN_TRACK_GAIN and _PEAK against -18 LUFS;
// for Opus only R128_TRACK_GAIN, in 1/256 dB against -23 LUFS, as Ogg Opus
// asks (players add it to the header's output gain, which the decoder has
// already applied to what was measured).
using TagList = std::vector<std::pair<std::string, std::string>>;
TagList ReplayGainTags(const LoudnessMeasure &measure, bool opus);

// The lines the measuring pass ends with.
std::string DescribeMeasure(const LoudnessMeasure &measure);
std::string DescribeLevel(const LoudnessMeasure &measure, const LevelPlan &plan, double targetLufs, double ceilingDb,
                          bool limited);
std::string DescribeTags(const TagList &tags);
