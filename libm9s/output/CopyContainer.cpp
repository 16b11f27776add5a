#include "libm9s/output/CopyContainer.h"

#include "libm9s/base/AvHandles.h"

#include <algorithm>
#include <string_view>

namespace {

bool IsPcm(AVCodecID codec)
{
    const AVCodecDescriptor *d = avcodec_descriptor_get(codec);
    return d && std::string_view(d->name).substr(0, 4) == "pcm_";
}

std::string Extension(const std::string &path)
{
    const std::string name = path.substr(path.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0)
        return {};
    std::string ext = name.substr(dot + 1);
    for (char &c : ext)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return ext;
}

} // namespace

CopyContainer ChooseCopyContainer(AVCodecID codec, const std::string &outputPath)
{
    // Matroska holds every codec: a name that asks for it gets it.
    const std::string ext = Extension(outputPath);
    if (ext == "mka" || ext == "mkv")
        return {"matroska", {"mka", "mkv"}};

    switch (codec) {
    case AV_CODEC_ID_AAC:
        return {"ipod", {"m4a", "mp4", "m4b"}};
    case AV_CODEC_ID_MP3:
        return {"mp3", {"mp3"}};
    case AV_CODEC_ID_MP2:
        return {"mp2", {"mp2"}};
    case AV_CODEC_ID_AC3:
        return {"ac3", {"ac3"}};
    case AV_CODEC_ID_EAC3:
        return {"eac3", {"eac3", "ec3"}};
    case AV_CODEC_ID_OPUS:
        return {"opus", {"opus", "ogg", "oga"}};
    case AV_CODEC_ID_VORBIS:
        return {"ogg", {"ogg", "oga"}};
    case AV_CODEC_ID_FLAC:
        return {"flac", {"flac"}};
    default:
        break;
    }
    // PCM the WAV format has a tag for (little-endian integers, floats,
    // A-law, mu-law); big-endian PCM from a QuickTime file goes to Matroska.
    const AVOutputFormat *wav = av_guess_format("wav", nullptr, nullptr);
    if (IsPcm(codec) && wav && avformat_query_codec(wav, codec, FF_COMPLIANCE_NORMAL) == 1)
        return {"wav", {"wav"}};
    return {"matroska", {"mka", "mkv"}};
}

bool ExtensionFits(const std::string &outputPath, const CopyContainer &container)
{
    const std::string ext = Extension(outputPath);
    if (std::find(container.extensions.begin(), container.extensions.end(), ext) != container.extensions.end())
        return true;
    for (AVCodecID other :
         {AV_CODEC_ID_AAC, AV_CODEC_ID_MP3, AV_CODEC_ID_MP2, AV_CODEC_ID_AC3, AV_CODEC_ID_EAC3, AV_CODEC_ID_OPUS,
          AV_CODEC_ID_VORBIS, AV_CODEC_ID_FLAC, AV_CODEC_ID_PCM_S16LE, AV_CODEC_ID_NONE}) {
        const CopyContainer known = ChooseCopyContainer(other, {});
        if (std::find(known.extensions.begin(), known.extensions.end(), ext) != known.extensions.end())
            return false;
    }
    return true;
}
