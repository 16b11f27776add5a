#include "libm9s/pipeline/StreamCopy.h"

#include "libm9s/base/EncoderError.h"
#include "libm9s/base/Messages.h"
#include "libm9s/base/StopControl.h"
#include "libm9s/base/TimeText.h"
#include "libm9s/input/InputMedia.h"
#include "libm9s/loudness/LoudnessPass.h"
#include "libm9s/metadata/Extras.h"
#include "libm9s/output/MemorySink.h"
#include "libm9s/output/OutputCheck.h"
#include "libm9s/output/OutputFile.h"

extern "C" {
#include <libavutil/common.h>
}

#include <algorithm>
#include <chrono>
#include <memory>
#include <new>
#include <optional>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReportInterval = std::chrono::milliseconds(250);

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

// One copy, from opening the input to the trailer.
class StreamCopy {
public:
    explicit StreamCopy(EncoderOptions options) : options_(std::move(options)) {}
    RunEnd Run();

private:
    OutputContextPtr MakeCopyMuxer(AVStream **stream) const;
    void RefuseWhatCannotBeKept();
    bool Measure(const CopyContainer &container);
    void OpenOutput();
    void SeekToStart();
    void CopyPackets();
    bool Keep(AVPacket &packet);
    bool Accepted(const AVPacket &packet);
    void Start();
    void Write(AVPacket &packet);
    void Finish();
    void FinishPartial() noexcept;
    void ReportProgress(bool final);
    void CheckWritten();

    EncoderOptions options_; // a copy: -chapter N turns into a start and a length
    std::unique_ptr<OutputExtras> extras_;
    InputMedia input_;
    std::string muxerName_;
    std::unique_ptr<OutputFile> file_;
    OutputContextPtr muxer_;
    AVStream *out_ = nullptr;
    // Until the first packet is in: the same muxer writing into memory.
    std::unique_ptr<MemorySink> trialSink_;
    OutputContextPtr trial_;
    bool started_ = false;
    int64_t startTs_ = 0;  // the -ss point in the input stream's time base
    int64_t offsetTs_ = 0; // subtracted from every timestamp
    std::optional<int64_t> endTs_;
    int64_t lastDts_ = INT64_MIN;
    int64_t reachedTs_ = 0; // end of the last packet written, output time base
    int64_t packets_ = 0;
    int64_t skipped_ = 0;                    // packets no muxer would take
    int64_t firstUs_ = INT64_MAX;            // start of the first packet written
    int64_t endUs_ = 0;                      // end of the last one
    int64_t longestUs_ = 0;                  // the longest packet written
    std::optional<int64_t> declaredUs_;      // the length the input declares for the part copied
    std::optional<LoudnessMeasure> measure_; // -replaygain: the first pass
    TagList gainTags_;
    Clock::time_point lastReport_ = Clock::now();
};

RunEnd StreamCopy::Run()
{
    const RunEnd stopped{true, 0};
    if (!options_.overwrite && PathExists(options_.outputPath))
        throw EncoderError("Output file '" + options_.outputPath + "' already exists");
    // Stopped while opening: without the codec there is no container to
    // write, so the output is left as it was.
    if (!input_.Open(options_.inputPath))
        return stopped;
    input_.SelectAudio(options_.audioTrack);
    ApplyChapterChoice(input_, options_);

    const AVStream *audio = input_.Audio();
    const CopyContainer container = ChooseCopyContainer(audio->codecpar->codec_id, options_.outputPath);
    if (!ExtensionFits(options_.outputPath, container))
        throw EncoderError("Output file '" + options_.outputPath + "' does not fit the "
                           + avcodec_get_name(audio->codecpar->codec_id) + " audio of input '" + options_.inputPath
                           + "'; a copy of it needs the extension ." + container.extensions.front());

    muxerName_ = container.muxer;

    if (const std::optional<int64_t> us = input_.StatedPartDurationUs(options_.startUs, options_.durationUs)) {
        WriteDurationMarker(FormatClock(*us));
        if (!input_.LengthGuessed())
            declaredUs_ = *us;
    }
    RefuseWhatCannotBeKept();
    EnableLibraryLog();
    if (options_.replayGain && !Measure(container))
        return stopped; // stopped while measuring: nothing copied, the output as it was
    OpenOutput();
    try {
        SeekToStart();
        CopyPackets();
        Finish();
    } catch (...) {
        FinishPartial();
        throw;
    }
    if (packets_ == 0)
        return stopped; // stopped before the first packet: nothing was written
    if (skipped_ > 0)
        WriteLine("Skipped " + std::to_string(skipped_) + " damaged audio packet(s) that could not be copied");
    if (StopControl::Requested())
        return RunEnd{true, firstUs_ == INT64_MAX ? 0 : endUs_ - firstUs_};
    if (options_.verify)
        CheckWritten();
    ReportIfIncomplete(endUs_, declaredUs_);
    file_->Publish();
    return RunEnd{};
}

OutputContextPtr StreamCopy::MakeCopyMuxer(AVStream **stream) const
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

void StreamCopy::RefuseWhatCannotBeKept()
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

// -replaygain: the copy is decoded once to measure it; the packets then
// go out unchanged, with tags that tell players the gain.
bool StreamCopy::Measure(const CopyContainer &container)
{
    const std::string muxer = container.muxer;
    if (muxer != "mp3" && muxer != "flac" && muxer != "ogg" && muxer != "opus" && muxer != "matroska") {
        WriteLine("No ReplayGain tags: FFmpeg writes none into ." + container.extensions.front() + " files");
        return true;
    }
    RequireRereadableInput(options_);
    const MeasuredPass pass = MeasureLoudness(options_, MeasureFormat{});
    if (pass.stopped)
        return false;
    measure_ = pass.measure;
    gainTags_ = ReplayGainTags(*measure_, input_.Audio()->codecpar->codec_id == AV_CODEC_ID_OPUS);
    if (measure_->samples > 0)
        WriteLine(gainTags_.empty() ? "No ReplayGain tags: " + NothingToMeasure(*measure_)
                                    : DescribeMeasure(*measure_) + "; " + DescribeTags(gainTags_));
    return true;
}

void StreamCopy::OpenOutput()
{
    muxer_ = MakeCopyMuxer(&out_);
    extras_ = std::make_unique<OutputExtras>(input_, options_);
    extras_->Prepare(muxer_.get(), out_);
    for (const auto &[key, value] : gainTags_)
        av_dict_set(&muxer_->metadata, key.c_str(), value.c_str(), 0);

    file_ = std::make_unique<OutputFile>(options_.outputPath, options_.overwrite);
    if (file_->IsSameFileAs(options_.inputPath))
        throw EncoderError("Output file '" + options_.outputPath + "' is the input file");
    muxer_->pb = file_->Io();
    const int ret = avformat_init_output(muxer_.get(), nullptr);
    if (ret < 0)
        throw EncoderError(std::string("Cannot copy the ") + avcodec_get_name(input_.Audio()->codecpar->codec_id)
                               + " audio of input '" + options_.inputPath + "' into " + muxerName_ + ": "
                               + AvErrorText(ret),
                           EncoderContract::FailureKind::CannotKeep);
}

void StreamCopy::SeekToStart()
{
    const AVStream *audio = input_.Audio();
    startTs_ = av_sat_add64(input_.StartTs(), av_rescale_q(options_.startUs, AV_TIME_BASE_Q, audio->time_base));
    offsetTs_ = startTs_;
    if (options_.durationUs)
        endTs_ = av_sat_add64(startTs_, av_rescale_q(*options_.durationUs, AV_TIME_BASE_Q, audio->time_base));
    if (options_.startUs <= 0 || startTs_ == INT64_MAX)
        return;
    avformat_seek_file(input_.Format(), audio->index, INT64_MIN, startTs_, startTs_, 0);
}

void StreamCopy::CopyPackets()
{
    if (endTs_ && *endTs_ <= startTs_)
        return; // -t 0: not even the packet that holds the start
    const int audioIndex = input_.Audio()->index;
    PacketPtr packet = MakePacket();
    while (input_.ReadPacket(packet.get())) {
        const bool inRange = packet->stream_index == audioIndex && Keep(*packet);
        if (endTs_ && packet->stream_index == audioIndex && packet->pts != AV_NOPTS_VALUE && packet->pts >= *endTs_)
            return; // the -t limit: packets that begin before it are in
        if (inRange)
            Write(*packet);
        av_packet_unref(packet.get());
        ReportProgress(false);
    }
}

bool StreamCopy::Keep(AVPacket &packet)
{
    if (packet.size <= 0)
        return false;
    // As the ffmpeg program does: the first packet kept is the one that
    // holds the -ss point; those that end before it are dropped.
    const int64_t ts = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    return options_.startUs <= 0 || packets_ > 0
           || (ts != AV_NOPTS_VALUE && av_sat_add64(ts, std::max<int64_t>(packet.duration, 0)) > startTs_);
}

bool StreamCopy::Accepted(const AVPacket &packet)
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

void StreamCopy::Start()
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

void StreamCopy::Write(AVPacket &packet)
{
    Start();
    packet.stream_index = out_->index;
    packet.pos = -1;
    if (packet.pts != AV_NOPTS_VALUE)
        packet.pts = av_sat_sub64(packet.pts, offsetTs_);
    if (packet.dts != AV_NOPTS_VALUE)
        packet.dts = av_sat_sub64(packet.dts, offsetTs_);
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
        reachedTs_ = endUs_ / 1000;
    }
}

void StreamCopy::Finish()
{
    // Without a single packet there is nothing to put in a container (an
    // MP4 or Matroska file without one is not even readable): the output
    // stays as it was found. After a stop request that is success.
    if (packets_ == 0) {
        if (StopControl::Requested())
            return;
        if (options_.startUs > 0)
            throw EncoderError("Nothing to copy: input '" + options_.inputPath
                               + "' has no audio after the start offset");
        if (options_.durationUs)
            throw EncoderError("Nothing to copy: the part of input '" + options_.inputPath
                               + "' asked for holds no audio");
        throw EncoderError("No audio could be read from input '" + options_.inputPath + "'",
                           EncoderContract::FailureKind::Unreadable);
    }
    file_->Finish(muxer_.get());
    ReportProgress(true);
}

void StreamCopy::FinishPartial() noexcept
{
    if (!started_)
        return;
    file_->FinishQuietly(muxer_.get());
}

void StreamCopy::CheckWritten()
{
    // Packets are read back, not decoded: the copy does not decode either,
    // and a damaged packet it passed on is as the source had it.
    const int64_t spanUs = firstUs_ == INT64_MAX ? 0 : endUs_ - firstUs_;
    // Timestamps in milliseconds round; a container that counts frames
    // rather than keeping timestamps closes the gaps of skipped packets.
    const int64_t toleranceUs = longestUs_ * (1 + skipped_) + 1000;
    CheckOutput(file_->WrittenPath(), WrittenAudio{input_.Audio()->codecpar->codec_id, spanUs, toleranceUs, false});
}

void StreamCopy::ReportProgress(bool final)
{
    const Clock::time_point now = Clock::now();
    if (!final && now - lastReport_ < kReportInterval)
        return;
    lastReport_ = now;
    int64_t reachedMs = std::max<int64_t>(reachedTs_, 0);
    if (measure_ && measure_->sampleRate > 0)
        reachedMs = SecondPassProgress(av_rescale(measure_->samples, 1000, measure_->sampleRate), reachedMs);
    WriteTimeMarker(FormatSeconds(reachedMs, 1000));
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

RunEnd RunStreamCopy(const EncoderOptions &options) { return StreamCopy(options).Run(); }
