#include "libm9s/metadata/Cover.h"

#include "libm9s/base/AvHandles.h"
#include "libm9s/base/EncoderError.h"
#include "libm9s/metadata/Tags.h"

extern "C" {
#include <libavutil/base64.h>
}

#include <cstring>
#include <new>

namespace {

// The front cover's number among ID3 and FLAC picture types, and FFmpeg's name for it.
constexpr uint32_t kFrontCover = 3;
constexpr char kFrontCoverName[] = "Cover (front)";

bool IsSupported(AVCodecID codec) { return codec == AV_CODEC_ID_MJPEG || codec == AV_CODEC_ID_PNG; }

bool IsOneOf(const char *name, std::initializer_list<const char *> names)
{
    for (const char *n : names)
        if (std::strcmp(name, n) == 0)
            return true;
    return false;
}

void PutBigEndian(std::vector<uint8_t> &out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(value >> shift));
}

void PutText(std::vector<uint8_t> &out, const std::string &text)
{
    PutBigEndian(out, uint32_t(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

CoverArt FromStream(const AVStream &stream)
{
    CoverArt cover;
    cover.codec = stream.codecpar->codec_id;
    cover.width = stream.codecpar->width;
    cover.height = stream.codecpar->height;
    if (const AVDictionaryEntry *title = av_dict_get(stream.metadata, "title", nullptr, 0))
        cover.description = RepairUtf8(title->value);
    const AVPacket &picture = stream.attached_pic;
    cover.data.assign(picture.data, picture.data + picture.size);
    return cover;
}

} // namespace

bool DecodeCover(CoverArt &cover)
{
    const AVCodec *codec = avcodec_find_decoder(cover.codec);
    if (!codec || cover.data.empty() || cover.data.size() > size_t(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE))
        return false;
    CodecContextPtr decoder(avcodec_alloc_context3(codec));
    PacketPtr packet = MakePacket();
    FramePtr frame = MakeFrame();
    if (!decoder || av_new_packet(packet.get(), int(cover.data.size())) < 0)
        throw std::bad_alloc();
    std::memcpy(packet->data, cover.data.data(), cover.data.size());
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0 || avcodec_send_packet(decoder.get(), packet.get()) < 0)
        return false;
    // The picture is one packet; a decoder that holds it back gives it up at the end.
    if (avcodec_receive_frame(decoder.get(), frame.get()) < 0
        && (avcodec_send_packet(decoder.get(), nullptr) < 0 || avcodec_receive_frame(decoder.get(), frame.get()) < 0))
        return false;
    if (frame->width <= 0 || frame->height <= 0)
        return false;
    cover.width = frame->width;
    cover.height = frame->height;
    return true;
}

std::optional<CoverArt> FindCover(const AVFormatContext *input)
{
    const AVStream *chosen = nullptr;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream *st = input->streams[i];
        if (!(st->disposition & AV_DISPOSITION_ATTACHED_PIC) || st->attached_pic.size <= 0
            || !IsSupported(st->codecpar->codec_id))
            continue;
        const AVDictionaryEntry *type = av_dict_get(st->metadata, "comment", nullptr, 0);
        // Matroska names its cover by file name (cover.jpg), the others by picture type.
        const AVDictionaryEntry *file = av_dict_get(st->metadata, "filename", nullptr, 0);
        const bool front = (type && std::strcmp(type->value, kFrontCoverName) == 0)
                           || (file && std::strncmp(file->value, "cover.", 6) == 0);
        if (!chosen || front)
            chosen = st;
        if (front)
            break;
    }
    if (!chosen)
        return std::nullopt;
    return FromStream(*chosen);
}

const char *CoverMimeType(AVCodecID codec) { return codec == AV_CODEC_ID_PNG ? "image/png" : "image/jpeg"; }

std::vector<uint8_t> FlacPictureBlock(const CoverArt &cover)
{
    std::vector<uint8_t> block;
    PutBigEndian(block, kFrontCover);
    PutText(block, CoverMimeType(cover.codec));
    PutText(block, cover.description);
    PutBigEndian(block, uint32_t(cover.width));
    PutBigEndian(block, uint32_t(cover.height));
    PutBigEndian(block, 0); // colour depth: unknown
    PutBigEndian(block, 0); // palette size: not indexed, or unknown
    PutBigEndian(block, uint32_t(cover.data.size()));
    block.insert(block.end(), cover.data.begin(), cover.data.end());
    return block;
}

std::string Base64(const std::vector<uint8_t> &bytes)
{
    if (bytes.size() > size_t(INT32_MAX / 4 * 3 - 4))
        throw EncoderError("The cover picture is too large");
    std::string text(AV_BASE64_SIZE(bytes.size()), '\0');
    if (!av_base64_encode(text.data(), int(text.size()), bytes.data(), int(bytes.size())))
        throw EncoderError("Cannot encode the cover picture");
    text.resize(std::strlen(text.c_str()));
    return text;
}

CoverPlacement::CoverPlacement(AVFormatContext *muxer, const CoverArt &cover) : cover_(cover)
{
    const char *name = muxer->oformat->name;
    if (IsOneOf(name, {"ogg", "opus"})) {
        av_dict_set(&muxer->metadata, "METADATA_BLOCK_PICTURE", Base64(FlacPictureBlock(cover)).c_str(), 0);
        return;
    }
    const bool matroska = std::strcmp(name, "matroska") == 0;
    if (!matroska && !IsOneOf(name, {"mp3", "ipod", "mp4", "mov", "flac"}))
        return;
    AVStream *stream = avformat_new_stream(muxer, nullptr);
    if (!stream)
        throw std::bad_alloc();
    AVCodecParameters *par = stream->codecpar;
    par->codec_id = cover.codec;
    if (matroska) {
        // Matroska keeps pictures as attachments, whose bytes ride in the extradata.
        par->codec_type = AVMEDIA_TYPE_ATTACHMENT;
        par->extradata = static_cast<uint8_t *>(av_mallocz(cover.data.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!par->extradata)
            throw std::bad_alloc();
        std::memcpy(par->extradata, cover.data.data(), cover.data.size());
        par->extradata_size = int(cover.data.size());
        av_dict_set(&stream->metadata, "filename", cover.codec == AV_CODEC_ID_PNG ? "cover.png" : "cover.jpg", 0);
        av_dict_set(&stream->metadata, "mimetype", CoverMimeType(cover.codec), 0);
        return;
    }
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->width = cover.width;
    par->height = cover.height;
    stream->disposition = AV_DISPOSITION_ATTACHED_PIC;
    stream->time_base = AVRational{1, 90000};
    av_dict_set(&stream->metadata, "comment", kFrontCoverName, 0);
    if (!cover.description.empty())
        av_dict_set(&stream->metadata, "title", cover.description.c_str(), 0);
    stream_ = stream;
}

void CoverPlacement::WritePicture(AVFormatContext *muxer) const
{
    if (!stream_)
        return;
    PacketPtr packet = MakePacket();
    if (av_new_packet(packet.get(), int(cover_.data.size())) < 0)
        throw std::bad_alloc();
    std::memcpy(packet->data, cover_.data.data(), cover_.data.size());
    packet->stream_index = stream_->index;
    packet->flags |= AV_PKT_FLAG_KEY;
    packet->pts = packet->dts = 0;
    const int ret = av_write_frame(muxer, packet.get());
    if (ret < 0)
        throw EncoderError("Cannot write the cover picture: " + AvErrorText(ret));
}
