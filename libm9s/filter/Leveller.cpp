#include "libm9s/filter/Leveller.h"

#include "libm9s/base/EncoderError.h"

extern "C" {
#include <libavutil/common.h>
}

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Interpolation filter length (input samples per phase) and the phases
// between two samples that are looked at. Noise and bright music carry
// sound right up to half the sample rate, and the meters' interpolators
// (libebur128's, FFmpeg's) pass nearly all of it: a short filter that
// rolls off early reads those peaks low, so this one is long, with a
// Kaiser window and its cutoff close to the top of the band.
constexpr int kTaps = 32;
constexpr int kOversampling = 4;
constexpr double kCutoff = 0.97;    // of half the sample rate
constexpr double kKaiserBeta = 9.0; // stopband near -90 dB
// A little under the ceiling: interpolators and meters differ by a few
// hundredths of a dB, and the gain changing under a peak moves it too.
constexpr double kMarginDb = 0.1;
constexpr double kAttackSeconds = 0.005;
constexpr double kReleaseSeconds = 0.08;

float FromDecibels(double db) { return float(std::pow(10.0, db / 20.0)); }

// Windowed-sinc coefficients that estimate the signal a fraction of a
// sample after the middle of kTaps samples, newest first.
std::vector<float> Phase(double fraction)
{
    const double half = kTaps / 2.0;
    const double windowScale = std::cyl_bessel_i(0.0, kKaiserBeta);
    std::vector<double> c(kTaps);
    double sum = 0;
    for (int j = 0; j < kTaps; ++j) {
        const double u = j - half + fraction; // distance from the point estimated
        const double x = std::numbers::pi * kCutoff * u;
        const double sinc = u == 0 ? 1.0 : std::sin(x) / x;
        const double edge = u / half;
        const double w = std::cyl_bessel_i(0.0, kKaiserBeta * std::sqrt(std::max(0.0, 1 - edge * edge))) / windowScale;
        c[size_t(j)] = sinc * w;
        sum += c[size_t(j)];
    }
    std::vector<float> phase(kTaps);
    for (int j = 0; j < kTaps; ++j)
        phase[size_t(j)] = float(c[size_t(j)] / sum); // unity gain at DC
    return phase;
}

} // namespace

Leveller::Leveller(double gainDb, std::optional<double> ceilingDb, int channels, int sampleRate,
                   AVSampleFormat outFormat)
    : gain_(FromDecibels(gainDb)), limiting_(ceilingDb.has_value()), channels_(channels), outFormat_(outFormat),
      input_(size_t(channels)), inputPlanes_(size_t(channels)), output_(size_t(channels))
{
    const AVSampleFormat packed = av_get_packed_sample_fmt(outFormat);
    if (packed != AV_SAMPLE_FMT_S16 && packed != AV_SAMPLE_FMT_S32 && packed != AV_SAMPLE_FMT_FLT)
        throw EncoderError(std::string("Cannot level audio for samples of type ") + av_get_sample_fmt_name(outFormat));
    if (!limiting_)
        return;

    ceiling_ = FromDecibels(*ceilingDb - kMarginDb);
    float bound = 1;
    for (int k = 1; k < kOversampling; ++k) {
        phases_.push_back(Phase(double(k) / kOversampling));
        float sum = 0;
        for (float c : phases_.back())
            sum += std::abs(c);
        bound = std::max(bound, sum);
    }
    quiet_ = ceiling_ / bound;

    // A peak is seen kTaps samples after it arrived at the latest; the
    // gain then falls over attack_ samples and must be down before it.
    attack_ = std::max(1, int(std::lround(kAttackSeconds * sampleRate)));
    window_ = kTaps + attack_;
    delay_ = window_ - 1;
    int64_t size = 1;
    while (size < delay_ + kTaps + 1)
        size *= 2;
    mask_ = size - 1;
    ring_.assign(size_t(channels), std::vector<float>(size_t(size), 0.0f));
    minima_.resize(size_t(window_) + 1);
    releaseStep_ = float(1.0 - std::exp(-1.0 / (kReleaseSeconds * sampleRate)));
    ramp_.assign(size_t(attack_), 1.0f);
    rampSum_ = attack_;
}

uint8_t **Leveller::Input(int count)
{
    for (int c = 0; c < channels_; ++c) {
        if (input_[size_t(c)].size() < size_t(count))
            input_[size_t(c)].resize(size_t(count));
        inputPlanes_[size_t(c)] = reinterpret_cast<uint8_t *>(input_[size_t(c)].data());
    }
    return inputPlanes_.data();
}

int Leveller::Process(int count, uint8_t *const *out)
{
    if (count <= 0)
        return 0;
    for (std::vector<float> &plane : output_)
        if (plane.size() < size_t(count))
            plane.resize(size_t(count));
    const int64_t before = next_;
    if (limiting_) {
        Limit(count);
    } else {
        for (int c = 0; c < channels_; ++c)
            for (int i = 0; i < count; ++i)
                output_[size_t(c)][size_t(i)] = input_[size_t(c)][size_t(i)] * gain_;
        next_ += count;
    }
    // The first Delay() samples only fill the look-ahead.
    const int produced = int(std::min<int64_t>(count, std::max<int64_t>(0, next_ - std::max<int64_t>(before, delay_))));
    Store(produced, out);
    return produced;
}

int Leveller::Flush(int count, uint8_t *const *out)
{
    Input(count);
    for (int c = 0; c < channels_; ++c)
        std::fill_n(input_[size_t(c)].begin(), count, 0.0f);
    return Process(count, out);
}

void Leveller::Limit(int count)
{
    int produced = 0;
    for (int i = 0; i < count; ++i, ++next_) {
        const int64_t n = next_;
        float peak = 0;
        for (int c = 0; c < channels_; ++c) {
            const float s = input_[size_t(c)][size_t(i)] * gain_;
            ring_[size_t(c)][size_t(n & mask_)] = s;
            peak = std::max(peak, std::abs(s));
        }
        if (peak > quiet_)
            lastLoud_ = n;
        if (n - lastLoud_ < kTaps)
            peak = std::max(peak, Detect(n));
        const float gain = HeldGain(n, peak > ceiling_ ? ceiling_ / peak : 1.0f);

        const int64_t o = n - delay_;
        if (o < 0)
            continue;
        if (gain < 0.9999f)
            limited_ = true;
        for (int c = 0; c < channels_; ++c)
            output_[size_t(c)][size_t(produced)] = ring_[size_t(c)][size_t(o & mask_)] * gain;
        ++produced;
    }
}

// The largest interpolated value between the middle samples of the last kTaps.
float Leveller::Detect(int64_t n)
{
    float peak = 0;
    for (int c = 0; c < channels_; ++c) {
        const std::vector<float> &ring = ring_[size_t(c)];
        for (const std::vector<float> &phase : phases_) {
            float v = 0;
            for (int j = 0; j < kTaps; ++j)
                v += phase[size_t(j)] * ring[size_t((n - j) & mask_)];
            peak = std::max(peak, std::abs(v));
        }
    }
    return peak;
}

// The gain for the sample Delay() before n: the lowest wanted over the
// window, recovering at the release rate, averaged over the attack, so it
// is down at each peak and never jumps.
float Leveller::HeldGain(int64_t n, float wanted)
{
    const size_t capacity = minima_.size();
    auto at = [&](size_t k) -> std::pair<int64_t, float> & { return minima_[(minHead_ + k) % capacity]; };
    while (minSize_ > 0 && at(minSize_ - 1).second >= wanted)
        --minSize_;
    at(minSize_++) = {n, wanted};
    while (at(0).first <= n - window_) {
        minHead_ = (minHead_ + 1) % capacity;
        --minSize_;
    }
    const float held = at(0).second;
    released_ = held < released_ ? held : released_ + (held - released_) * releaseStep_;

    float &slot = ramp_[size_t(n % attack_)];
    rampSum_ += double(released_) - double(slot);
    slot = released_;
    return std::min(1.0f, float(rampSum_ / attack_));
}

void Leveller::Store(int count, uint8_t *const *out) const
{
    const bool planar = av_sample_fmt_is_planar(outFormat_);
    const AVSampleFormat packed = av_get_packed_sample_fmt(outFormat_);
    for (int c = 0; c < channels_; ++c) {
        const float *from = output_[size_t(c)].data();
        const int stride = planar ? 1 : channels_;
        uint8_t *plane = out[planar ? c : 0];
        const int first = planar ? 0 : c;
        for (int i = 0; i < count; ++i) {
            const int at = first + i * stride;
            const float v = from[i];
            if (packed == AV_SAMPLE_FMT_FLT)
                reinterpret_cast<float *>(plane)[at] = v;
            else if (packed == AV_SAMPLE_FMT_S16)
                reinterpret_cast<int16_t *>(plane)[at] = int16_t(av_clip_int16(int(std::lrintf(v * 32768.0f))));
            else
                reinterpret_cast<int32_t *>(plane)[at] = av_clipl_int32(std::llrint(double(v) * 2147483648.0));
        }
    }
}
