#include "StreamCopy.h"

#include "EncoderError.h"
#include "InputMedia.h"
#include "LoudnessPass.h"
#include "Messages.h"
#include "OutputFile.h"
#include "StopControl.h"
#include "Tags.h"
#include "TimeText.h"

extern "C" {
#include <libavutil/common.h>
}

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>

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
    explicit StreamCopy(const EncoderOptions &options) : options_(options) {}
    void Run();

private:
    bool Measure(const CopyContainer &container);
    void OpenOutput();
    void SeekToStart();
    void CopyPackets();
    bool Keep(AVPacket &packet);
    void Start();
    void Write(AVPacket &packet);
    void Finish();
    void FinishPartial() noexcept;
    void ReportProgress(bool final);

    const EncoderOptions &options_;
    InputMedia input_;
    std::unique_ptr<OutputFile> file_;
    OutputContextPtr muxer_;
    AVStream *out_ = nullptr;
    bool started_ = false;
    bool trailerWritten_ = false;
    int64_t startTs_ = 0;  // the -ss point in the input stream's time base
    int64_t offsetTs_ = 0; // subtracted from every timestamp
    std::optional<int64_t> endTs_;
    int64_t lastDts_ = INT64_MIN;
    int64_t reachedTs_ = 0; // end of the last packet written, output time base
    int64_t packets_ = 0;
    std::optional<LoudnessMeasure> measure_; // -replaygain: the first pass
    TagList gainTags_;
    Clock::time_point lastReport_ = Clock::now();
};

void StreamCopy::Run()
{
    if (!options_.overwrite && PathExists(options_.outputPath))
        throw EncoderError("Output file '" + options_.outputPath + "' already exists");
    // Stopped while opening: without the codec there is no container to
    // write, so the output is left as it was.
    if (!input_.Open(options_.inputPath))
        return;
    input_.SelectAudio(options_.audioTrack);

    const AVStream *audio = input_.Audio();
    const CopyContainer container = ChooseCopyContainer(audio->codecpar->codec_id, options_.outputPath);
    if (!ExtensionFits(options_.outputPath, container))
        throw EncoderError("Output file '" + options_.outputPath + "' does not fit the "
                           + avcodec_get_name(audio->codecpar->codec_id) + " audio of input '" + options_.inputPath
                           + "'; a copy of it needs the extension ." + container.extensions.front());

    if (std::optional<int64_t> duration = input_.DurationUs()) {
        int64_t us = std::max<int64_t>(0, av_sat_sub64(*duration, options_.startUs));
        if (options_.durationUs)
            us = std::min(us, *options_.durationUs);
        WriteDurationMarker(FormatClock(us));
    }
    EnableLibraryLog();
    if (options_.replayGain && !Measure(container))
        return; // stopped while measuring: nothing copied, the output as it was
    OpenOutput();
    try {
        SeekToStart();
        CopyPackets();
        Finish();
    } catch (...) {
        FinishPartial();
        throw;
    }
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
    const AVStream *audio = input_.Audio();
    const CopyContainer container = ChooseCopyContainer(audio->codecpar->codec_id, options_.outputPath);
    muxer_ = MakeMuxer(container.muxer, &out_);
    AVFormatContext *context = muxer_.get();
    int ret = avcodec_parameters_copy(out_->codecpar, audio->codecpar);
    if (ret < 0)
        throw EncoderError("Cannot set up the output stream: " + AvErrorText(ret));
    out_->codecpar->codec_tag = 0; // the source container's tag means nothing in another one
    out_->time_base = audio->time_base;
    out_->disposition = AV_DISPOSITION_DEFAULT;
    if (const AVDictionaryEntry *language = av_dict_get(audio->metadata, "language", nullptr, 0))
        av_dict_set(&out_->metadata, "language", language->value, 0);
    CopyTags(input_.Format()->metadata, audio->metadata, &context->metadata);
    for (const auto &[key, value] : gainTags_)
        av_dict_set(&context->metadata, key.c_str(), value.c_str(), 0);

    file_ = std::make_unique<OutputFile>(options_.outputPath, options_.overwrite);
    if (file_->IsSameFileAs(options_.inputPath))
        throw EncoderError("Output file '" + options_.outputPath + "' is the input file");
    // A codec the container cannot hold shows here, while the output is
    // still untouched: setting up the muxer writes nothing.
    context->pb = file_->Io();
    ret = avformat_init_output(context, nullptr);
    if (ret < 0)
        throw EncoderError(std::string("Cannot copy the ") + avcodec_get_name(audio->codecpar->codec_id)
                           + " audio of input '" + options_.inputPath + "' into " + container.muxer + ": "
                           + AvErrorText(ret));
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

void StreamCopy::Start()
{
    if (started_)
        return;
    file_->Commit();
    int ret = avformat_write_header(muxer_.get(), nullptr);
    if (ret < 0)
        throw EncoderError(file_->WriteErrorText(ret));
    started_ = true;
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
    if (ts != AV_NOPTS_VALUE)
        reachedTs_ = std::max(reachedTs_, av_rescale_q(av_sat_add64(ts, packet.duration), inBase, AVRational{1, 1000}));
    av_packet_rescale_ts(&packet, inBase, out_->time_base);
    ++packets_;
    const int ret = av_write_frame(muxer_.get(), &packet);
    if (ret < 0)
        throw EncoderError(file_->WriteErrorText(ret));
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
        throw EncoderError("No audio could be read from input '" + options_.inputPath + "'");
    }
    trailerWritten_ = true;
    int ret = av_write_trailer(muxer_.get());
    if (ret < 0)
        throw EncoderError(file_->WriteErrorText(ret));
    file_->Close();
    ReportProgress(true);
}

void StreamCopy::FinishPartial() noexcept
{
    if (!started_)
        return;
    if (!trailerWritten_) {
        trailerWritten_ = true;
        av_write_trailer(muxer_.get());
    }
    try {
        file_->Close();
    } catch (...) {
    }
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
    for (AVCodecID other : {AV_CODEC_ID_AAC, AV_CODEC_ID_MP3, AV_CODEC_ID_AC3, AV_CODEC_ID_EAC3, AV_CODEC_ID_OPUS,
                            AV_CODEC_ID_VORBIS, AV_CODEC_ID_FLAC, AV_CODEC_ID_PCM_S16LE, AV_CODEC_ID_NONE}) {
        const CopyContainer known = ChooseCopyContainer(other, {});
        if (std::find(known.extensions.begin(), known.extensions.end(), ext) != known.extensions.end())
            return false;
    }
    return true;
}

void RunStreamCopy(const EncoderOptions &options) { StreamCopy(options).Run(); }
