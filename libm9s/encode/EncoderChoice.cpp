#include "libm9s/encode/EncoderChoice.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cstdlib>
#include <vector>

const AVCodec *FindEncoder(OutputFormat format)
{
    switch (format) {
    case OutputFormat::Wav:
        return avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
    case OutputFormat::Mp3:
        if (const AVCodec *lame = avcodec_find_encoder_by_name("libmp3lame"))
            return lame;
        return avcodec_find_encoder(AV_CODEC_ID_MP3);
    case OutputFormat::Flac:
        return avcodec_find_encoder(AV_CODEC_ID_FLAC);
    case OutputFormat::M4a:
        return avcodec_find_encoder_by_name("aac"); // FFmpeg's own; the only AAC encoder Debian ships
    case OutputFormat::Opus:
        return avcodec_find_encoder_by_name("libopus");
    case OutputFormat::Ogg:
        return avcodec_find_encoder_by_name("libvorbis");
    case OutputFormat::Copy:
        break;
    }
    return nullptr;
}

AVSampleFormat PickSampleFormat(const AVCodec *codec, AVSampleFormat preferred)
{
    if (!codec->sample_fmts)
        return preferred;
    // The preferred format, else its packed or planar twin (libopus takes
    // packed floats only: 16-bit samples would cost precision and time).
    for (AVSampleFormat wanted : {preferred, av_get_packed_sample_fmt(preferred), av_get_planar_sample_fmt(preferred)})
        for (const AVSampleFormat *f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
            if (*f == wanted)
                return wanted;
    return codec->sample_fmts[0];
}

int PickSampleRate(const AVCodec *codec, int wanted)
{
    if (!codec->supported_samplerates)
        return wanted;
    int best = codec->supported_samplerates[0];
    for (const int *r = codec->supported_samplerates; *r; ++r) {
        if (*r == wanted)
            return wanted;
        if (std::abs(*r - wanted) < std::abs(best - wanted))
            best = *r;
    }
    return best;
}

int FitBitrate(int wanted, const std::function<bool(int)> &accepts)
{
    constexpr int kLowest = 1;
    constexpr int kHighest = 100000;
    if (accepts(wanted))
        return wanted;
    // Rates a quarter apart across the whole span, nearest to the wanted
    // one first: the first accepted lies in the accepted range, on the side
    // nearest the wanted rate.
    std::vector<int> grid;
    for (double r = kLowest; r <= kHighest; r = std::max(r * 1.25, r + 1))
        grid.push_back(int(r));
    std::stable_sort(grid.begin(), grid.end(),
                     [wanted](int a, int b) { return std::abs(a - wanted) < std::abs(b - wanted); });
    int known = 0;
    for (int candidate : grid)
        if (accepts(candidate)) {
            known = candidate;
            break;
        }
    if (!known)
        return wanted;
    // The range's edge between the wanted rate and the one found is the
    // nearest accepted rate.
    int refused = wanted;
    while (std::abs(known - refused) > 1) {
        const int middle = refused + (known - refused) / 2;
        (accepts(middle) ? known : refused) = middle;
    }
    return known;
}
