#pragma once
// The container a copy (-acodec copy) writes its codec's packets into.

#include <string>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
}

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
