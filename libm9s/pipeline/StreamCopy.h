#pragma once
// -acodec copy: the chosen audio stream's packets written as they are, into
// the container that fits their codec. Same contract as a conversion:
// markers, stop, exit status, the output untouched until the first packet.

#include "libm9s/base/EncoderError.h"
#include "libm9s/base/Options.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

#include <string>
#include <vector>

struct CopyContainer {
    const char *muxer;                   // FFmpeg's muxer name
    std::vector<std::string> extensions; // without the dot, the usual one first
};

// AAC -> m4a, MP3 -> mp3, AC-3 -> ac3, E-AC-3 -> eac3, Opus -> opus,
// Vorbis -> ogg, FLAC -> flac, PCM a WAV can hold -> wav, the rest -> mka;
// an output named .mka or .mkv gets Matroska whatever the codec.
CopyContainer ChooseCopyContainer(AVCodecID codec, const std::string &outputPath);

// False when the output's extension belongs to another container of the
// list above (a copy of AAC named .mp3); a name with another extension or
// none is written in the codec's container all the same.
bool ExtensionFits(const std::string &outputPath, const CopyContainer &container);

// A stop before the first packet leaves the output as it was found.
RunEnd RunStreamCopy(const EncoderOptions &options);
