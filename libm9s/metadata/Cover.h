#pragma once
// The source's cover picture (an MP4 covr, an ID3 APIC, a FLAC or Vorbis
// picture, a Matroska image attachment: FFmpeg shows each as an attached
// picture) and its way into the output.

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CoverArt {
    AVCodecID codec = AV_CODEC_ID_NONE; // MJPEG or PNG: what every format with covers takes
    int width = 0;                      // 0: unknown
    int height = 0;
    std::string description;
    std::vector<uint8_t> data; // the picture file's bytes, as they were
};

// The front cover if one is marked so, else the first JPEG or PNG picture.
std::optional<CoverArt> FindCover(const AVFormatContext *input);

// Decodes the picture, for its size, which the muxers of MP3, MP4 and FLAC
// need. False for one that does not decode (a JPEG header and junk): no
// player could show it.
bool DecodeCover(CoverArt &cover);

// A FLAC picture block, and so a FLAC or Ogg cover, holds less than 16 MiB;
// a larger picture would fail the whole file.
inline constexpr size_t kMaxCoverBytes = (size_t(1) << 24) - 4096;

const char *CoverMimeType(AVCodecID codec);

// A FLAC PICTURE block's content (front cover), as Ogg files carry it
// base64-encoded in a METADATA_BLOCK_PICTURE comment.
std::vector<uint8_t> FlacPictureBlock(const CoverArt &cover);
std::string Base64(const std::vector<uint8_t> &bytes);

// Puts a cover into a muxer as its format keeps one: a picture stream for
// MP3 (APIC), MP4 (covr) and FLAC (PICTURE), a comment for Ogg, an
// attachment for Matroska; nothing for the rest.
class CoverPlacement {
public:
    // Before the header.
    CoverPlacement(AVFormatContext *muxer, const CoverArt &cover);
    // After the header: the picture, for the formats that take it as a packet.
    void WritePicture(AVFormatContext *muxer) const;

private:
    const CoverArt &cover_;
    AVStream *stream_ = nullptr;
};
