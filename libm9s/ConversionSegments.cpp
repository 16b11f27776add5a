#include "ConversionSteps.h"

#include "LoudnessPass.h"
#include "Messages.h"
#include "SegmentJoin.h"
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

// The audio track number (among the audio streams) of stream.
int AudioTrackOf(const AVFormatContext &format, const AVStream &stream)
{
    int track = 0;
    for (unsigned i = 0; i < unsigned(stream.index); ++i)
        if (format.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            ++track;
    return track;
}

// The first decoded audio frame, where every segment counts its samples
// from: its timestamp and length; empty when the input does not tell.
struct FirstFrame {
    int64_t pts = 0;
    int samples = 0;
};
std::optional<FirstFrame> FindFirstFrame(const std::string &path, int track, bool headerTellsAll)
{
    InputMedia input;
    if (!input.Open(path, headerTellsAll))
        return std::nullopt;
    input.SelectAudio(track);
    input.OpenDecoder();
    PacketPtr packet = MakePacket();
    FramePtr frame = MakeFrame();
    while (input.ReadPacket(packet.get())) {
        const bool audio = packet->stream_index == input.Audio()->index;
        if (audio && avcodec_send_packet(input.Decoder(), packet.get()) >= 0)
            while (avcodec_receive_frame(input.Decoder(), frame.get()) >= 0)
                if (frame->nb_samples > 0) {
                    if (frame->pts == AV_NOPTS_VALUE)
                        return std::nullopt;
                    return FirstFrame{frame->pts, frame->nb_samples};
                }
        av_packet_unref(packet.get());
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
    const std::optional<FirstFrame> first = FindFirstFrame(path, setup.audioTrack, setup.headerTellsAll);
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
        setup.frameGrid = input.Audio()->codecpar->frame_size;
        setup.gridOffset = first->samples;
        if (setup.frameGrid <= 0)
            return false;
    }
    return true;
}

bool Conversion::RunSegmented()
{
    const int threads = ThreadsToUse(options_);
    // The limiter carries its state from one sample to the next: one thread.
    if (threads < 2 || !Splits(options_.format) || options_.startUs > 0 || options_.durationUs
        || (leveller_ && plan_.limit))
        return false;
    const std::optional<int64_t> duration = input_.DurationUs();
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
    setup.segments = PlanFileSegments(av_rescale(*duration, rate, AV_TIME_BASE), setup.frameSamples, threads, rate);
    if (setup.segments.size() < 2 || !PlaceSegmentSource(options_.inputPath, input_, setup))
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
