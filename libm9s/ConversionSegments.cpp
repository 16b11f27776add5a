#include "ConversionSteps.h"

#include "LoudnessPass.h"
#include "Messages.h"
#include "SegmentJoin.h"
#include "StopControl.h"
#include "TimeText.h"

extern "C" {
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <bit>

namespace {

// WAV has no frames; any boundary will do.
constexpr int kWavBlockSamples = 4096;
// MP3: frames encoded before a segment and dropped, so that LAME's filter
// bank and psychoacoustic model have seen the audio before the first kept
// frame; and frames encoded after its end, since LAME looks ahead.
constexpr int kMp3WarmFrames = 8;
constexpr int kMp3TailFrames = 2;
constexpr int kFarthestLandingSeconds = 30;

// The audio track number (among the audio streams) of stream.
int AudioTrackOf(const AVFormatContext &format, const AVStream &stream)
{
    int track = 0;
    for (unsigned i = 0; i < unsigned(stream.index); ++i)
        if (format.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            ++track;
    return track;
}

// The first decoded audio frames, where every segment counts its samples
// from: the first one's timestamp and length, and the length of the next,
// the codec's steady frame; empty when the input does not tell.
struct FirstFrames {
    int64_t pts = 0;
    int samples = 0;
    int nextSamples = 0;
};
std::optional<FirstFrames> FindFirstFrames(const std::string &path, int track, bool headerTellsAll)
{
    InputMedia input;
    if (!input.Open(path, headerTellsAll))
        return std::nullopt;
    input.SelectAudio(track);
    input.OpenDecoder();
    PacketPtr packet = MakePacket();
    FramePtr frame = MakeFrame();
    std::optional<FirstFrames> first;
    while (input.ReadPacket(packet.get())) {
        const bool audio = packet->stream_index == input.Audio()->index;
        if (audio && avcodec_send_packet(input.Decoder(), packet.get()) >= 0)
            while (avcodec_receive_frame(input.Decoder(), frame.get()) >= 0) {
                if (frame->nb_samples <= 0)
                    continue;
                if (first) {
                    first->nextSamples = frame->nb_samples;
                    return first;
                }
                if (frame->pts == AV_NOPTS_VALUE)
                    return std::nullopt;
                first = FirstFrames{frame->pts, frame->nb_samples, 0};
            }
        av_packet_unref(packet.get());
    }
    return first;
}

// Where a part of the input begins, as the one-thread run finds it: that
// run seeks to seekTs and drops every sample before the part's start by
// each frame's timestamp (InputMedia::SamplesBeforePart, of from, the
// input that run reads); the same seek and the same count here give the
// input sample its output starts with, placed as the segments place
// theirs. Empty where that cannot be told.
std::optional<int64_t> FindPartOffset(const SegmentSetup &setup, const InputMedia &from, int64_t seekTs,
                                      int64_t startUs)
{
    InputMedia input;
    if (!input.Open(setup.options->inputPath, setup.headerTellsAll))
        return std::nullopt;
    input.SelectAudio(setup.audioTrack);
    input.OpenDecoder();
    if (!input.SeekAudio(seekTs))
        return std::nullopt;
    const AVStream *audio = input.Audio();
    PacketPtr packet = MakePacket();
    FramePtr frame = MakeFrame();
    int64_t position = INT64_MIN; // of the frame at hand, once placed
    int64_t walked = 0;
    int64_t next = 0; // unused: every frame here has a timestamp
    while (!StopControl::Requested() && input.ReadPacket(packet.get())) {
        const bool ours = packet->stream_index == audio->index;
        const bool sent = ours && avcodec_send_packet(input.Decoder(), packet.get()) >= 0;
        av_packet_unref(packet.get());
        while (sent && avcodec_receive_frame(input.Decoder(), frame.get()) >= 0) {
            const int samples = frame->nb_samples;
            const int rate = frame->sample_rate;
            if (samples <= 0 || rate <= 0 || frame->ch_layout.nb_channels <= 0 || frame->format < 0)
                continue;
            if (frame->pts == AV_NOPTS_VALUE || rate != setup.inputRate)
                return std::nullopt;
            if (position == INT64_MIN)
                position = PlaceAfterSeek(setup, *frame, audio->time_base);
            if (position == INT64_MAX)
                return std::nullopt;
            const int skip = from.SamplesBeforePart(*frame, startUs, &next);
            if (skip < samples)
                return position + skip;
            // An input whose seeks land this far before their target (no
            // index) would make every segment decode as far: one thread.
            if ((walked += samples) > int64_t(rate) * kFarthestLandingSeconds)
                return std::nullopt;
            position += samples;
        }
    }
    return std::nullopt;
}

bool Splits(OutputFormat format)
{
    // AAC, Opus and Vorbis encoders carry state from frame to frame that a
    // warm-up cannot rebuild exactly; WAV's segments are written as bytes
    // in the file's (little-endian) order.
    return format == OutputFormat::Mp3 || format == OutputFormat::Flac
           || (format == OutputFormat::Wav && std::endian::native == std::endian::little);
}

} // namespace

bool PlaceSegmentSource(const std::string &path, InputMedia &input, SegmentSetup &setup)
{
    const AVIOContext *io = input.Format()->pb;
    if (!io || !(io->seekable & AVIO_SEEKABLE_NORMAL))
        return false;
    setup.audioTrack = AudioTrackOf(*input.Format(), *input.Audio());
    setup.headerTellsAll = input.HeaderTellsAll();
    const std::optional<FirstFrames> first = FindFirstFrames(path, setup.audioTrack, setup.headerTellsAll);
    if (!first)
        return false;
    setup.originPts = first->pts;
    // A time base coarser than a sample needs the codec's fixed frames to
    // place a seek's landing exactly; without them, one thread.
    const AVRational timeBase = input.Audio()->time_base;
    const int inRate = input.Decoder()->sample_rate;
    if (inRate <= 0)
        return false;
    setup.inputRate = inRate;
    if (int64_t(timeBase.num) * inRate > timeBase.den) {
        // Where the container does not name the frame size (AC-3, Opus in
        // Matroska), the second frame shows it; a landing off that grid is
        // found out where it is placed.
        setup.frameGrid = input.Audio()->codecpar->frame_size;
        if (setup.frameGrid <= 0)
            setup.frameGrid = first->nextSamples;
        setup.gridOffset = first->samples;
        if (setup.frameGrid <= 0)
            return false;
    }
    return true;
}

bool PlaceSegmentPart(const InputMedia &input, SegmentSetup &setup, std::optional<int64_t> endSamples)
{
    setup.endSamples = endSamples;
    const int64_t startUs = setup.options->startUs;
    const std::optional<int64_t> seekTs = input.PartSeekTs(startUs);
    if (!seekTs && startUs > 0 && input.TimestampsCoarse()) {
        // The one-thread run counts such a part from the top, its first
        // frame where the stream starts (InputMedia::SamplesBeforePart): the
        // same count here, without decoding. The segments seek on their own,
        // placed on the codec's frames, and warm up before the part.
        const AVStream *audio = input.Audio();
        const int64_t origin = audio->start_time != AV_NOPTS_VALUE ? audio->start_time : setup.originPts;
        const AVRational sample{1, setup.inputRate};
        // Counted from the first decoded frame, as the segments count.
        setup.partOffset = av_rescale(startUs, setup.inputRate, AV_TIME_BASE)
                           - av_rescale_q(av_sat_sub64(origin, input.StartTs()), audio->time_base, sample);
        return setup.partOffset >= 0;
    }
    if (!seekTs)
        return startUs <= 0;
    const std::optional<int64_t> offset = FindPartOffset(setup, input, *seekTs, startUs);
    if (!offset || *offset < 0)
        return false;
    setup.partOffset = *offset;
    setup.partSeekTs = seekTs;
    return true;
}

bool Conversion::RunSegmented()
{
    const int threads = ThreadsToUse(options_);
    // The limiter carries its state from one sample to the next: one thread.
    if (threads < 2 || !Splits(options_.format) || (leveller_ && plan_.limit))
        return false;
    const std::optional<int64_t> duration = input_.PartDurationUs(options_.startUs, options_.durationUs);
    if (!duration)
        return false;

    SegmentSetup setup;
    setup.options = &options_;
    setup.output = output_.get();
    if (leveller_)
        setup.gainDb = plan_.gainDb;
    const int rate = output_->SampleRate();
    const bool mp3 = options_.format == OutputFormat::Mp3;
    setup.frameSamples = options_.format == OutputFormat::Wav ? kWavBlockSamples : output_->Encoder().frame_size;
    setup.warmFrames = mp3 ? kMp3WarmFrames : 0;
    setup.tailFrames = mp3 ? kMp3TailFrames : 0;
    setup.prerollSamples = rate / 2;
    if (setup.frameSamples <= 0)
        return false;
    const int64_t total = limitSamples_.value_or(av_rescale(*duration, rate, AV_TIME_BASE));
    setup.segments = PlanFileSegments(total, setup.frameSamples, threads, rate);
    if (setup.segments.size() < 2 || !PlaceSegmentSource(options_.inputPath, input_, setup)
        || !PlaceSegmentPart(input_, setup, limitSamples_))
        return false;

    framesDecoded_ = JoinSegments(setup, threads, output_.get(), [&](int64_t samples) {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastReport_ < std::chrono::milliseconds(250))
            return;
        lastReport_ = now;
        // After a measuring pass, from halfway on.
        WriteTimeMarker(FormatSeconds(measure_ ? SecondPassProgress(measure_->samples, samples) : samples, rate));
    });
    return true;
}
