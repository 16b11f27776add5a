#pragma once
// The true peak as the common meters read it: FFmpeg's ebur128 filter, the
// meter most users check a file with, brings the audio to 48 kHz and then to
// four times that, and takes the highest value. Near the top of the band its
// filters ring and read a peak up to half a dB higher than libebur128's
// interpolation (or the peak of the band-limited signal itself) does, so a
// file held under the ceiling by one reads over it on the other. Measured
// the same way here, the written audio is held under both.

#include "libm9s/base/AvHandles.h"

#include <vector>

class ReferencePeak {
public:
    ReferencePeak(int channels, int sampleRate);
    ReferencePeak(const ReferencePeak &) = delete;
    ReferencePeak &operator=(const ReferencePeak &) = delete;

    // count interleaved floats per channel. counted false: a lead-in that
    // only fills the filters; its peaks belong to the part before.
    void Add(const float *samples, int count, bool counted = true);
    // Linear, 1.0 is full scale; with what the filters still hold.
    double Peak();

private:
    // One resampling step: from its input rate to its output rate.
    struct Stage {
        SwrPtr swr;
        std::vector<float> out;
    };
    void Pass(size_t stage, const float *samples, int count, bool counted);
    void Deliver(size_t stage, int count, bool counted);
    void Drain(size_t stage);
    Stage MakeStage(int inRate, int outRate) const;

    int channels_;
    std::vector<Stage> stages_;
    double peak_ = 0;
    bool drained_ = false;
};
