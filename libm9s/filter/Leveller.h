#pragma once
// One constant gain for the whole track, and where that gain would push a
// peak over the ceiling, a look-ahead limiter that holds it under: it looks
// for true peaks (between the samples too, by 4x interpolation, as the
// meters do) and lowers the gain smoothly over a few milliseconds before
// each one, so the track's loudness stays where the gain put it.
//
// Takes planar floats from the resampler and writes the output's sample
// format. With the limiter, the audio comes out Delay() samples late;
// Flush() gives the rest at the end.

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <cstdint>
#include <optional>
#include <vector>

class Leveller {
public:
    // ceilingDb: the true-peak ceiling (dBTP), or none when no peak can
    // reach it. outFormat: 16- or 32-bit integers or floats, packed or planar.
    Leveller(double gainDb, std::optional<double> ceilingDb, int channels, int sampleRate, AVSampleFormat outFormat);

    // Room for count planar float samples, one pointer per channel.
    uint8_t **Input(int count);
    // Levels the first count samples of Input() into out (room for count
    // samples); returns how many came out.
    int Process(int count, uint8_t *const *out);
    int Delay() const { return delay_; }
    // The count samples still held back (count <= Delay()), into out.
    int Flush(int count, uint8_t *const *out);
    // The limiter lowered the gain somewhere.
    bool Limited() const { return limited_; }

private:
    void Limit(int count);
    float Detect(int64_t n);
    float HeldGain(int64_t n, float wanted);
    void Store(int count, uint8_t *const *out) const;

    float gain_;
    bool limiting_;
    float ceiling_ = 1;
    int channels_;
    AVSampleFormat outFormat_;
    std::vector<std::vector<float>> input_;
    std::vector<uint8_t *> inputPlanes_;
    std::vector<std::vector<float>> output_;

    // Limiter: the gained samples of each channel in a ring, long enough
    // for the look-ahead and the interpolation.
    int delay_ = 0;
    int attack_ = 1;
    int window_ = 1;
    std::vector<std::vector<float>> ring_;
    int64_t mask_ = 0;
    int64_t next_ = 0; // index of the next sample to arrive
    std::vector<std::vector<float>> phases_;
    float quiet_ = 0; // below this no interpolated value can pass the ceiling
    int64_t lastLoud_ = INT64_MIN / 2;
    // The lowest wanted gain over the last window_ samples, as a queue of
    // ascending candidates (index, gain).
    std::vector<std::pair<int64_t, float>> minima_;
    size_t minHead_ = 0;
    size_t minSize_ = 0;
    float released_ = 1;
    float releaseStep_ = 0;
    std::vector<float> ramp_; // the last attack_ released gains, averaged
    double rampSum_ = 0;
    bool limited_ = false;
};
