#include "libm9s/segments/SegmentPlacement.h"

#include "libm9s/base/StopControl.h"
#include "libm9s/input/InputMedia.h"
#include "libm9s/output/OutputMedia.h"
#include "libm9s/segments/Segments.h"

extern "C" {
#include <libavutil/common.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

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
            if (position == INT64_MIN) {
                const std::optional<int64_t> at = PlaceAfterSeek(setup, *frame, audio->time_base);
                if (!at)
                    return std::nullopt;
                position = *at;
            }
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

// The chosen audio's length by its packets, read without decoding; empty
// where their timestamps do not run on from one packet to the next. The
// segments seek and place their audio by timestamps, so they make what one
// thread makes only on such a timeline: in two recordings joined into one
// file, whose timestamps start again at the join, a seek lands in either
// half, and the plan (of the length the container states) covers one.
// How far apart a and b are, saturated, never negative.
int64_t Distance(int64_t a, int64_t b) { return a > b ? av_sat_sub64(a, b) : av_sat_sub64(b, a); }

struct Timeline {
    int64_t us = 0;
    int64_t longestPacketUs = 0;
};
std::optional<Timeline> ReadTimeline(const std::string &path, int track, bool headerTellsAll)
{
    InputMedia input;
    if (!input.Open(path, headerTellsAll))
        return std::nullopt;
    input.SelectAudio(track);
    const AVStream *audio = input.Audio();
    const AVRational timeBase = audio->time_base;
    // Timestamps are rounded to their time base (Matroska's milliseconds,
    // an MPEG stream's 90 kHz between frames its parser dates itself):
    // two ticks or two milliseconds of play, whichever is more, is no jump.
    const int64_t slack = std::max<int64_t>(2, av_rescale_q(2000, AVRational{1, 1000000}, timeBase));
    PacketPtr packet = MakePacket();
    std::optional<int64_t> expected; // where the next packet should begin, where the last one says
    int64_t first = AV_NOPTS_VALUE;
    int64_t last = AV_NOPTS_VALUE;
    int64_t end = INT64_MIN;
    int64_t longest = 0; // a packet's length, or the step from one to the next
    bool steady = true;
    while (steady && input.ReadPacket(packet.get())) {
        if (packet->stream_index == audio->index) {
            int64_t ts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
            if (ts == AV_NOPTS_VALUE && expected)
                ts = *expected; // laced after a dated packet
            const int64_t duration = std::max<int64_t>(packet->duration, 0);
            if (ts == AV_NOPTS_VALUE || (last != AV_NOPTS_VALUE && ts <= last)
                || (expected && Distance(ts, *expected) > slack)) {
                steady = false;
            } else {
                if (first == AV_NOPTS_VALUE)
                    first = ts;
                // Saturated: a damaged timestamp may lie anywhere.
                longest = std::max({longest, duration, last != AV_NOPTS_VALUE ? av_sat_sub64(ts, last) : 0});
                last = ts;
                end = std::max(end, av_sat_add64(ts, duration));
                expected = duration > 0 ? std::optional<int64_t>(av_sat_add64(ts, duration)) : std::nullopt;
            }
        }
        av_packet_unref(packet.get());
    }
    if (!steady || StopControl::Requested() || first == AV_NOPTS_VALUE)
        return std::nullopt;
    // The last packet lasts as long as the others where it does not say.
    end = std::max(end, av_sat_add64(last, longest));
    const AVRational us{1, 1000000};
    const Timeline timeline{av_rescale_q(av_sat_sub64(end, first), timeBase, us), av_rescale_q(longest, timeBase, us)};
    // av_rescale_q() answers INT64_MIN where the result does not fit.
    if (timeline.us <= 0 || timeline.longestPacketUs < 0)
        return std::nullopt;
    return timeline;
}

// The length the packets add up to is the one the container states, to a
// second or a hundredth: else one of them is wrong, and the cuts with it.
bool AgreesWithDeclared(int64_t packetsUs, std::optional<int64_t> declaredUs)
{
    if (!declaredUs)
        return false;
    const int64_t off = Distance(packetsUs, *declaredUs);
    return off <= 1000000 || off <= *declaredUs / 100;
}

bool Splits(OutputFormat format)
{
    // AAC, Opus and Vorbis encoders carry state from frame to frame that a
    // warm-up cannot rebuild exactly; WAV's segments are written as bytes
    // in the file's (little-endian) order.
    return format == OutputFormat::Mp3 || format == OutputFormat::Flac
           || (format == OutputFormat::Wav && std::endian::native == std::endian::little);
}

// A WAV (or Wave64) file dates its packets by their place in its bytes,
// which is exact for PCM alone: after a seek into G.722 or ADPCM the dates
// run short of the samples that follow.
bool DatesExactly(const InputMedia &input)
{
    const char *name = input.Format()->iformat->name;
    if (std::strcmp(name, "wav") != 0 && std::strcmp(name, "w64") != 0)
        return true;
    const AVCodecDescriptor *codec = avcodec_descriptor_get(input.Audio()->codecpar->codec_id);
    return codec && (codec->props & AV_CODEC_PROP_INTRA_ONLY) && (codec->props & AV_CODEC_PROP_LOSSLESS);
}

} // namespace

bool PlaceSegmentSource(const std::string &path, InputMedia &input, SegmentSetup &setup)
{
    const AVIOContext *io = input.Format()->pb;
    if (!io || !(io->seekable & AVIO_SEEKABLE_NORMAL) || !DatesExactly(input))
        return false;
    setup.audioTrack = AudioTrackOf(*input.Format(), *input.Audio());
    setup.headerTellsAll = input.HeaderTellsAll();
    const std::optional<FirstFrames> first = FindFirstFrames(path, setup.audioTrack, setup.headerTellsAll);
    if (!first)
        return false;
    const std::optional<Timeline> timeline = ReadTimeline(path, setup.audioTrack, setup.headerTellsAll);
    if (!timeline || !AgreesWithDeclared(timeline->us, input.DurationUs()))
        return false;
    setup.sourceUs = timeline->us;
    setup.longestPacketUs = timeline->longestPacketUs;
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
        // A first frame longer than the grid: the frames are not fixed,
        // and no grid places a landing.
        if (setup.frameGrid <= 0 || first->samples > setup.frameGrid)
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

std::optional<int64_t> PlaceAfterSeek(const SegmentSetup &setup, const AVFrame &frame, AVRational timeBase)
{
    if (frame.pts == AV_NOPTS_VALUE)
        return std::nullopt;
    if (frame.pts == setup.originPts)
        return 0; // a seek that lands at the top
    const int64_t position =
        av_rescale_q(av_sat_sub64(frame.pts, setup.originPts), timeBase, AVRational{1, frame.sample_rate});
    // A damaged timestamp far off any file's length places nothing (and
    // leaves room to add frames to it).
    constexpr int64_t kFarthest = int64_t(1) << 60;
    if (position < -kFarthest || position > kFarthest)
        return std::nullopt;
    const int grid = setup.frameGrid;
    if (grid == 0)
        return position;
    if (frame.nb_samples > grid || position < setup.gridOffset)
        return std::nullopt; // not one of the fixed frames: decode from the top
    // The timestamp tells the position to half a tick of the time base; a
    // frame further off the grid than that (a codec whose frames change
    // their length) is not where the grid would put it.
    const int64_t tick = av_rescale_q(1, timeBase, AVRational{1, frame.sample_rate});
    auto onGrid = [&](int64_t at, int64_t tolerance) -> std::optional<int64_t> {
        const int64_t placed = setup.gridOffset + (at - setup.gridOffset + grid / 2) / grid * grid;
        return std::abs(placed - at) <= tolerance ? std::optional<int64_t>(placed) : std::nullopt;
    };
    if (frame.nb_samples == grid)
        return onGrid(position, tick / 2 + 1);
    // A shorter frame is one a fresh decoder cut its pre-roll from (Opus
    // after a seek): its end lies on the grid, and its timestamp was
    // rounded twice, once more when the decoder moved it past the cut.
    const std::optional<int64_t> end = onGrid(position + frame.nb_samples, tick + 1);
    if (!end)
        return std::nullopt;
    return *end - frame.nb_samples;
}

std::optional<SegmentSetup> PlanSegmentedRun(const EncoderOptions &options, InputMedia &input,
                                             const OutputMedia &output, std::optional<int64_t> limitSamples,
                                             std::optional<double> gainDb)
{
    const int threads = ThreadsToUse(options);
    if (threads < 2 || !Splits(options.format))
        return std::nullopt;
    const std::optional<int64_t> duration = input.PartDurationUs(options.startUs, options.durationUs);
    if (!duration)
        return std::nullopt;

    SegmentSetup setup;
    setup.options = &options;
    setup.output = &output;
    setup.gainDb = gainDb;
    const int rate = output.SampleRate();
    const bool mp3 = options.format == OutputFormat::Mp3;
    setup.frameSamples = options.format == OutputFormat::Wav ? kWavBlockSamples : output.Encoder().frame_size;
    setup.warmFrames = mp3 ? kMp3WarmFrames : 0;
    setup.tailFrames = mp3 ? kMp3TailFrames : 0;
    setup.prerollSamples = rate / 2;
    if (setup.frameSamples <= 0)
        return std::nullopt;
    const int64_t total = limitSamples.value_or(av_rescale(*duration, rate, AV_TIME_BASE));
    setup.segments = PlanFileSegments(total, setup.frameSamples, threads, rate);
    if (setup.segments.size() < 2 || !PlaceSegmentSource(options.inputPath, input, setup)
        || !PlaceSegmentPart(input, setup, limitSamples))
        return std::nullopt;
    return setup;
}
