#include "libm9s/filter/SampleGuard.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <new>

namespace {

// Written without early exits so the compiler can turn the loop into
// vector code: the guard runs over every sample of an MP3 conversion.
template <typename T> void Guard(T *samples, size_t count)
{
    constexpr T largest = std::numeric_limits<T>::max();
    for (size_t i = 0; i < count; ++i) {
        const T value = samples[i];
        const T size = std::fabs(value);
        const T clipped = std::copysign(T(1), value);
        samples[i] = size <= T(1) ? value : (size <= largest ? clipped : T(0)); // NaN fails both tests
    }
}

template <typename T> void GuardPlanes(uint8_t *const *planes, int planeCount, size_t perPlane)
{
    for (int p = 0; p < planeCount; ++p)
        Guard(reinterpret_cast<T *>(planes[p]), perPlane);
}

} // namespace

void GuardSamples(uint8_t *const *planes, int channels, int samples, AVSampleFormat format)
{
    if (samples <= 0 || channels <= 0)
        return;
    const bool planar = av_sample_fmt_is_planar(format);
    const int planeCount = planar ? channels : 1;
    const size_t perPlane = size_t(samples) * size_t(planar ? 1 : channels);
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_FLT:
        GuardPlanes<float>(planes, planeCount, perPlane);
        break;
    case AV_SAMPLE_FMT_DBL:
        GuardPlanes<double>(planes, planeCount, perPlane);
        break;
    default:
        break;
    }
}

void GuardFrame(AVFrame &frame)
{
    const auto packed = av_get_packed_sample_fmt(AVSampleFormat(frame.format));
    if (packed != AV_SAMPLE_FMT_FLT && packed != AV_SAMPLE_FMT_DBL)
        return;
    if (av_frame_make_writable(&frame) < 0)
        throw std::bad_alloc();
    GuardSamples(frame.extended_data, frame.ch_layout.nb_channels, frame.nb_samples, AVSampleFormat(frame.format));
}
