#include "libm9s/output/CopyWriter.h"

#include "libm9s/base/EncoderError.h"
#include "libm9s/base/Messages.h"
#include "libm9s/input/InputMedia.h"
#include "libm9s/metadata/Extras.h"
#include "libm9s/output/MemorySink.h"
#include "libm9s/output/OutputCheck.h"
#include "libm9s/output/OutputFile.h"

extern "C" {
#include <libavutil/common.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <new>
#include <utility>

CopyWriter::CopyWriter(const InputMedia &input, const EncoderOptions &options, std::string muxer)
    : input_(input), options_(options), muxerName_(std::move(muxer))
{
}

CopyWriter::~CopyWriter() = default;

OutputContextPtr CopyWriter::MakeCopyMuxer(AVStream **stream) const
{
    const AVStream *audio = input_.Audio();
    OutputContextPtr muxer = MakeMuxer(muxerName_.c_str(), stream);
    AVStream *out = *stream;
    const int ret = avcodec_parameters_copy(out->codecpar, audio->codecpar);
    if (ret < 0)
        throw EncoderError("Cannot set up the output stream: " + AvErrorText(ret));
    out->codecpar->codec_tag = 0; // the source container's tag means nothing in another one
    out->time_base = audio->time_base;
    out->disposition = AV_DISPOSITION_DEFAULT;
    return muxer;
}

void CopyWriter::RefuseWhatCannotBeKept() const
{
    // A small file written into memory, before the output is touched: a
    // muxer may refuse the codec only at the header, and Matroska keeps a
    // codec it has no name for under one that reads back as nothing.
    const AVCodecID codec = input_.Audio()->codecpar->codec_id;
    MemorySink sink;
    AVStream *stream = nullptr;
    OutputContextPtr trial = MakeCopyMuxer(&stream);
    trial->pb = sink.Io();
    bool kept = false;
    bool readable = false;
    {
        const LibraryLogPause quiet;
        kept = avformat_write_header(trial.get(), nullptr) >= 0;
        // A Matroska file without a block cannot be read back: one byte of
        // nothing stands in for the audio, which no muxer looks into here.
        if (kept && muxerName_ == "matroska") {
            PacketPtr stand = MakePacket();
            if (av_new_packet(stand.get(), 1) < 0)
                throw std::bad_alloc();
            stand->data[0] = 0;
            stand->pts = stand->dts = 0;
            stand->duration = 1;
            readable = av_write_frame(trial.get(), stand.get()) >= 0 && av_write_trailer(trial.get()) >= 0;
        }
    }
    if (readable)
        kept = CodecReadBack(sink.Bytes(), "matroska") == codec;
    if (kept)
        return;
    const AVCodecDescriptor *descriptor = avcodec_descriptor_get(codec);
    const std::string name = descriptor && descriptor->long_name ? descriptor->long_name : avcodec_get_name(codec);
    throw EncoderError("This track (" + name + ") cannot be kept as it is; choose a format to convert it",
                       EncoderContract::FailureKind::CannotKeep);
}

void CopyWriter::Prepare(const TagList &tags)
{
    muxer_ = MakeCopyMuxer(&out_);
    extras_ = std::make_unique<OutputExtras>(input_, options_);
    extras_->Prepare(muxer_.get(), out_);
    for (const auto &[key, value] : tags)
        av_dict_set(&muxer_->metadata, key.c_str(), value.c_str(), 0);
}

void CopyWriter::Attach(OutputFile *file)
{
    file_ = file;
    muxer_->pb = file_->Io();
    const int ret = avformat_init_output(muxer_.get(), nullptr);
    if (ret < 0)
        throw EncoderError(std::string("Cannot copy the ") + avcodec_get_name(input_.Audio()->codecpar->codec_id)
                               + " audio of input '" + options_.inputPath + "' into " + muxerName_ + ": "
                               + AvErrorText(ret),
                           EncoderContract::FailureKind::CannotKeep);
}

bool CopyWriter::Accepted(const AVPacket &packet)
{
    // Before the first packet is in, each one is tried on a muxer writing
    // into memory: one that no muxer takes must not cost the output its
    // old content.
    if (!trial_) {
        AVStream *stream = nullptr;
        trialSink_ = std::make_unique<MemorySink>();
        trial_ = MakeCopyMuxer(&stream);
        trial_->pb = trialSink_->Io();
        if (avformat_write_header(trial_.get(), nullptr) < 0)
            return false;
    }
    PacketPtr copy = MakePacket();
    return av_packet_ref(copy.get(), &packet) >= 0 && av_write_frame(trial_.get(), copy.get()) >= 0;
}

void CopyWriter::Start()
{
    if (started_)
        return;
    trial_.reset();
    trialSink_.reset();
    file_->Commit();
    int ret = avformat_write_header(muxer_.get(), nullptr);
    if (ret < 0)
        throw file_->WriteError(ret);
    started_ = true;
    extras_->WriteAfterHeader(muxer_.get());
}

void CopyWriter::Write(AVPacket &packet)
{
    Start();
    packet.stream_index = out_->index;
    packet.pos = -1;
    // A damaged file may repeat or reverse timestamps; muxers refuse that,
    // so such a packet follows its predecessor, as in the ffmpeg program.
    if (packet.dts != AV_NOPTS_VALUE) {
        if (lastDts_ != INT64_MIN && packet.dts <= lastDts_) {
            packet.dts = av_sat_add64(lastDts_, 1);
            if (packet.pts != AV_NOPTS_VALUE && packet.pts < packet.dts)
                packet.pts = packet.dts;
        }
        lastDts_ = packet.dts;
    }
    const AVRational inBase = input_.Audio()->time_base;
    const int64_t ts = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    const int64_t duration = std::max<int64_t>(packet.duration, 0);
    av_packet_rescale_ts(&packet, inBase, out_->time_base);
    if (!started_ && !Accepted(packet)) {
        ++skipped_;
        return;
    }
    Start();
    const int ret = av_write_frame(muxer_.get(), &packet);
    if (ret < 0) {
        // A packet the muxer refuses (a damaged ADTS header that cannot be
        // turned into MP4's form) is skipped, as a conversion skips what it
        // cannot decode; a failed write is the end.
        if (file_->Failed())
            throw file_->WriteError(ret);
        ++skipped_;
        return;
    }
    ++packets_;
    if (ts != AV_NOPTS_VALUE) {
        const int64_t startUs = av_rescale_q(ts, inBase, AV_TIME_BASE_Q);
        const int64_t endUs = av_rescale_q(av_sat_add64(ts, duration), inBase, AV_TIME_BASE_Q);
        firstUs_ = std::min(firstUs_, startUs);
        endUs_ = std::max(endUs_, endUs);
        longestUs_ = std::max(longestUs_, endUs - startUs);
        reachedMs_ = endUs_ / 1000;
    }
}

void CopyWriter::Finish() { file_->Finish(muxer_.get()); }

void CopyWriter::FinishPartial() noexcept
{
    if (!started_)
        return;
    file_->FinishQuietly(muxer_.get());
}

void CopyWriter::Check() const
{
    // Packets are read back, not decoded: the copy does not decode either,
    // and a damaged packet it passed on is as the source had it.
    // Timestamps in milliseconds round; a container that counts frames
    // rather than keeping timestamps closes the gaps of skipped packets.
    const int64_t toleranceUs = longestUs_ * (1 + skipped_) + 1000;
    CheckOutput(file_->WrittenPath(), WrittenAudio{input_.Audio()->codecpar->codec_id, SpanUs(), toleranceUs, false});
}
