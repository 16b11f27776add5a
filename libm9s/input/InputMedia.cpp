#include "libm9s/input/InputMedia.h"

#include "libm9s/base/EncoderError.h"
#include "libm9s/base/Messages.h"
#include "libm9s/base/StopControl.h"
#include "libm9s/input/StreamChoice.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

// The quick probe's limits: enough for a transport stream's first audio
// frames, far from the whole file.
constexpr int64_t kQuickProbeBytes = 2 << 20;
constexpr int64_t kQuickProbeUs = AV_TIME_BASE;

// A part's seek aims this far before its start: a lossy decoder's first
// frames after a seek lack what the frames before would have given them
// (the overlap of AAC and Vorbis, MP3's bit reservoir, Opus's pre-roll), so
// they are decoded and trimmed, and the part begins with the samples a
// decode from the top gives.
constexpr int64_t kPartPrerollUs = AV_TIME_BASE / 2;

// MPEG audio's fixed-point decoders carry their rounding error from one
// sample to the next for good, so after a seek their output differs in
// the last bit from a decode from the top; the floating-point ones (FFmpeg's
// choice for MP3 already) do not.
const AVCodec *FindDecoder(AVCodecID id)
{
    const char *floating = id == AV_CODEC_ID_MP1 ? "mp1float" : id == AV_CODEC_ID_MP2 ? "mp2float" : nullptr;
    if (const AVCodec *codec = floating ? avcodec_find_decoder_by_name(floating) : nullptr)
        return codec;
    return avcodec_find_decoder(id);
}

} // namespace

bool InputMedia::Open(const std::string &path, bool quick)
{
    path_ = path;
    AVFormatContext *context = avformat_alloc_context();
    if (!context)
        throw std::bad_alloc();
    context->interrupt_callback.callback = StopControl::InterruptCallback;

    // The path is a local file, whatever it looks like: the "file:" prefix
    // keeps a name such as "concat:a|b" or "http:x" from being taken as a
    // protocol, and the white list keeps demuxers from opening anything but
    // local files on the input's behalf.
    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const std::string url = "file:" + path;
    int ret = avformat_open_input(&context, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (ret < 0) {
        if (StopControl::Requested())
            return false;
        throw EncoderError("Cannot open input '" + path + "': " + AvErrorText(ret),
                           EncoderContract::FailureKind::Unreadable);
    }
    format_.reset(context);
    if (quick) {
        if (HeaderTellsAll())
            return true;
        context->probesize = kQuickProbeBytes;
        context->max_analyze_duration = kQuickProbeUs;
    }

    ret = avformat_find_stream_info(context, nullptr);
    if (ret < 0) {
        if (StopControl::Requested())
            return false;
        // Like the ffmpeg program: go on with what the probe found, if anything.
        if (context->nb_streams == 0)
            throw EncoderError("Cannot read input '" + path + "': " + AvErrorText(ret),
                               EncoderContract::FailureKind::Unreadable);
    }
    return true;
}

bool InputMedia::HeaderTellsAll() const
{
    // Containers without a header (MPEG program and transport streams) only
    // learn of streams from their packets.
    if (format_->ctx_flags & AVFMTCTX_NOHEADER)
        return false;
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        const AVCodecParameters *par = format_->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO
            && (par->codec_id == AV_CODEC_ID_NONE || par->ch_layout.nb_channels <= 0 || par->sample_rate <= 0))
            return false;
    }
    return true;
}

void InputMedia::SelectAudio(std::optional<int> track)
{
    AVFormatContext *context = format_.get();
    std::vector<AudioCandidate> candidates;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream *st = context->streams[i];
        const AVCodecParameters *par = st->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        AudioCandidate c;
        c.index = int(i);
        c.decodable = avcodec_find_decoder(par->codec_id) != nullptr;
        c.hadPackets = (st->event_flags & AVSTREAM_EVENT_FLAG_NEW_PACKETS) != 0;
        c.isDefault = (st->disposition & AV_DISPOSITION_DEFAULT) != 0;
        c.channels = par->ch_layout.nb_channels;
        candidates.push_back(c);
    }
    if (candidates.empty())
        throw EncoderError("No audio stream in input '" + path_ + "'", EncoderContract::FailureKind::NoSound);
    if (track && size_t(*track) >= candidates.size())
        throw EncoderError("Input '" + path_ + "' has no audio track " + std::to_string(*track) + " (it has "
                               + std::to_string(candidates.size()) + ", counted from 0)",
                           EncoderContract::FailureKind::NoSound);
    const int chosen = track ? candidates[size_t(*track)].index : ChooseAudioStream(candidates);

    for (unsigned i = 0; i < context->nb_streams; ++i)
        context->streams[i]->discard = int(i) == chosen ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    audio_ = context->streams[chosen];
}

void InputMedia::OpenDecoder()
{
    const AVCodecParameters *par = audio_->codecpar;
    const AVCodec *codec = FindDecoder(par->codec_id);
    if (!codec)
        throw EncoderError(std::string("No decoder for the audio codec '") + avcodec_get_name(par->codec_id)
                               + "' of input '" + path_ + "'",
                           EncoderContract::FailureKind::Unreadable);
    CodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder)
        throw std::bad_alloc();
    // AC-3's decoder fills bands the encoder left empty with noise; seeded
    // from each frame's own bits, that noise is the same whatever was
    // decoded before, so a part decoded after a seek is the same audio as
    // when decoded from the top.
    AVDictionary *options = nullptr;
    if (par->codec_id == AV_CODEC_ID_AC3 || par->codec_id == AV_CODEC_ID_EAC3)
        av_dict_set(&options, "cons_noisegen", "1", 0);
    int ret = avcodec_parameters_to_context(decoder.get(), par);
    if (ret >= 0) {
        decoder->pkt_timebase = audio_->time_base;
        ret = avcodec_open2(decoder.get(), codec, &options);
    }
    av_dict_free(&options);
    if (ret < 0)
        throw EncoderError(std::string("Cannot decode the ") + avcodec_get_name(par->codec_id) + " audio of input '"
                               + path_ + "': " + AvErrorText(ret),
                           EncoderContract::FailureKind::Unreadable);
    decoder_ = std::move(decoder);
}

bool InputMedia::ReadPacket(AVPacket *packet)
{
    while (!StopControl::Requested()) {
        const int ret = av_read_frame(format_.get(), packet);
        if (ret >= 0)
            return true;
        if (ret == AVERROR(EAGAIN)) {
            usleep(10 * 1000);
            continue;
        }
        if (ret != AVERROR_EOF && !StopControl::Requested())
            WriteLine("Error reading input '" + path_ + "': " + AvErrorText(ret));
        return false;
    }
    return false;
}

std::optional<int64_t> InputMedia::DurationUs() const
{
    // The stream's own length first, else the container's; a value that
    // cannot be right (see PlausibleDurationUs) is no answer at all.
    if (audio_ && audio_->duration != AV_NOPTS_VALUE && audio_->duration > 0) {
        const int64_t us = av_rescale_q(audio_->duration, audio_->time_base, AV_TIME_BASE_Q);
        return PlausibleDurationUs(us, FileSize());
    }
    if (format_ && format_->duration != AV_NOPTS_VALUE)
        return PlausibleDurationUs(format_->duration, FileSize());
    return std::nullopt;
}

std::optional<int64_t> InputMedia::PartDurationUs(int64_t startUs, std::optional<int64_t> durationUs) const
{
    const std::optional<int64_t> whole = DurationUs();
    if (!whole)
        return std::nullopt;
    const int64_t us = std::max<int64_t>(0, av_sat_sub64(*whole, startUs));
    return durationUs ? std::min(us, *durationUs) : us;
}

std::optional<int64_t> InputMedia::StatedPartDurationUs(int64_t startUs, std::optional<int64_t> durationUs) const
{
    const std::optional<int64_t> stated = WavHeaderUs();
    if (!stated)
        return PartDurationUs(startUs, durationUs);
    const int64_t us = std::max<int64_t>(0, av_sat_sub64(*stated, startUs));
    return durationUs ? std::min(us, *durationUs) : us;
}

std::optional<int64_t> InputMedia::WavHeaderUs() const
{
    if (!format_ || !audio_ || std::strcmp(format_->iformat->name, "wav") != 0)
        return std::nullopt;
    const AVCodecParameters &codec = *audio_->codecpar;
    const int bits = av_get_bits_per_sample(codec.codec_id);
    const int64_t frameBytes = int64_t(bits / 8) * codec.ch_layout.nb_channels;
    if (bits <= 0 || bits % 8 != 0 || frameBytes <= 0 || codec.sample_rate <= 0)
        return std::nullopt; // not PCM: its blocks hold other counts of samples
    // Read anew from the start: only a regular file gives the same bytes
    // again (a FIFO would lose them to this read).
    struct stat st;
    if (::stat(path_.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    std::FILE *file = std::fopen(path_.c_str(), "rb");
    if (!file)
        return std::nullopt;
    std::optional<int64_t> us;
    unsigned char head[12];
    if (std::fread(head, 1, 12, file) == 12 && std::memcmp(head, "RIFF", 4) == 0
        && std::memcmp(head + 8, "WAVE", 4) == 0)
        // The chunks up to "data"; a header with more than a few dozen
        // before it is no header to trust.
        for (int chunk = 0; chunk < 64; ++chunk) {
            unsigned char header[8];
            if (std::fread(header, 1, 8, file) != 8)
                break;
            const uint32_t size =
                uint32_t(header[4]) | uint32_t(header[5]) << 8 | uint32_t(header[6]) << 16 | uint32_t(header[7]) << 24;
            if (std::memcmp(header, "data", 4) == 0) {
                // 0 and all ones: a writer that did not know the length (a
                // stream, or RF64's real size elsewhere).
                if (size != 0 && size != 0xFFFFFFFFu)
                    us = av_rescale(int64_t(size) / frameBytes, AV_TIME_BASE, codec.sample_rate);
                break;
            }
            if (std::fseek(file, long(size) + long(size & 1), SEEK_CUR) != 0)
                break;
        }
    std::fclose(file);
    return us;
}

bool InputMedia::LengthGuessed() const
{
    // A WAV header's length is stated, whatever FFmpeg made of it.
    return format_ && format_->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE && !WavHeaderUs();
}

std::optional<int64_t> InputMedia::FileSize() const
{
    const int64_t size = format_ && format_->pb ? avio_size(format_->pb) : -1;
    return size > 0 ? std::optional<int64_t>(size) : std::nullopt; // a FIFO says 0
}

std::optional<int64_t> PlausibleDurationUs(int64_t us, std::optional<int64_t> fileBytes)
{
    // av_rescale_q() answers INT64_MIN when the result does not fit.
    if (us <= 0)
        return std::nullopt;
    // No audio codec gets below a byte a second, so a file claiming to last
    // longer than its size in seconds carries a damaged timestamp (an Ogg
    // granule near the 64-bit limit, for one).
    if (fileBytes && us / AV_TIME_BASE > std::max<int64_t>(*fileBytes, kMinPlausibleSeconds))
        return std::nullopt;
    return us;
}

int64_t InputMedia::StartUs() const
{
    if (format_ && format_->start_time != AV_NOPTS_VALUE)
        return format_->start_time;
    return 0;
}

int64_t InputMedia::StartTs() const { return av_rescale_q(StartUs(), AV_TIME_BASE_Q, audio_->time_base); }

bool InputMedia::TimestampsCoarse() const
{
    const int rate = decoder_ && decoder_->sample_rate > 0 ? decoder_->sample_rate : audio_->codecpar->sample_rate;
    return rate > 0 && int64_t(audio_->time_base.num) * rate > audio_->time_base.den;
}

std::optional<int64_t> InputMedia::PartSeekTs(int64_t startUs) const
{
    // Timestamps coarser than a sample (Matroska's milliseconds) cannot place
    // a landing exactly, so such a part is found by counting from the top.
    if (startUs <= kPartPrerollUs || TimestampsCoarse())
        return std::nullopt;
    // Reckoned in the stream's own time base: a file whose timeline starts
    // near the 64-bit limit in microseconds may still fit in it.
    const int64_t ts =
        av_sat_add64(StartTs(), av_rescale_q(startUs - kPartPrerollUs, AV_TIME_BASE_Q, audio_->time_base));
    return ts == INT64_MAX ? std::nullopt : std::optional<int64_t>(ts);
}

int InputMedia::SamplesBeforePart(const AVFrame &frame, int64_t startUs, int64_t *next) const
{
    if (startUs <= 0)
        return 0;
    // Saturating: a damaged file may carry any timestamp at all. The
    // difference first, in the stream's time base, where both ends fit;
    // only then the rescaling, of a small number.
    int64_t first = *next;
    if (TimestampsCoarse()) {
        // Such a part is decoded from the top (PartSeekTs()): the first
        // frame starts where the stream does (a Vorbis decoder's first
        // frame carries the second packet's timestamp), the rest follow it
        // sample by sample, as in a conversion of the whole.
        const int64_t origin = audio_->start_time != AV_NOPTS_VALUE ? audio_->start_time : frame.pts;
        if (*next == 0 && origin != AV_NOPTS_VALUE)
            first = av_rescale_q(av_sat_sub64(origin, StartTs()), audio_->time_base, AVRational{1, frame.sample_rate});
    } else if (frame.pts != AV_NOPTS_VALUE) {
        first = av_rescale_q(av_sat_sub64(frame.pts, StartTs()), audio_->time_base, AVRational{1, frame.sample_rate});
    }
    *next = av_sat_add64(first, frame.nb_samples);
    const int64_t wanted = av_rescale(startUs, frame.sample_rate, AV_TIME_BASE);
    return first >= wanted ? 0 : int(std::min<int64_t>(av_sat_sub64(wanted, first), frame.nb_samples));
}

bool InputMedia::SeekAudio(int64_t ts)
{
    if (avformat_seek_file(format_.get(), audio_->index, INT64_MIN, ts, ts, 0) < 0)
        return false;
    avcodec_flush_buffers(decoder_.get());
    return true;
}
