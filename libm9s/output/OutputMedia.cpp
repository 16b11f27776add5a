#include "libm9s/output/OutputMedia.h"

#include "libm9s/base/EncoderError.h"
#include "libm9s/base/Messages.h"
#include "libm9s/encode/EncoderChoice.h"
#include "libm9s/encode/FrameEncoder.h"
#include "libm9s/output/FlacSeekTable.h"
#include "libm9s/output/OutputFile.h"

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <bit>
#include <new>
#include <string_view>
#include <vector>

namespace {

const char *MuxerName(OutputFormat format)
{
    // MP4 with the .m4a brand; every other muxer goes by the format's -f name.
    return format == OutputFormat::M4a ? "ipod" : FormatName(format);
}

bool HasBitrate(OutputFormat format) { return EncoderContract::TraitsOf(format).usesBitrate; }

} // namespace

OutputMedia::OutputMedia(const OutputSettings &settings) : format_(settings.format)
{
    OpenEncoder(settings);
    OpenMuxer(settings);
    packet_ = MakePacket();
}

OutputMedia::~OutputMedia()
{
    if (staging_)
        av_freep(&staging_[0]);
    av_freep(&staging_);
}

CodecContextPtr OutputMedia::TryEncoder(const AVCodec *codec, const OutputSettings &settings, int kbits, int *error,
                                        AVDictionary **options) const
{
    CodecContextPtr encoder(avcodec_alloc_context3(codec));
    if (!encoder)
        throw std::bad_alloc();
    const bool wav = settings.format == OutputFormat::Wav;
    const bool flac = settings.format == OutputFormat::Flac;
    if (wav)
        encoder->sample_fmt = AV_SAMPLE_FMT_S16;
    else if (flac)
        encoder->sample_fmt = settings.deepSamples ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16;
    else
        encoder->sample_fmt = PickSampleFormat(codec, AV_SAMPLE_FMT_FLTP);
    if (flac && settings.deepSamples)
        encoder->bits_per_raw_sample = 24; // 24 significant bits in the s32 samples
    encoder->sample_rate = PickSampleRate(codec, settings.sampleRate);
    av_channel_layout_default(&encoder->ch_layout, settings.channels);
    encoder->time_base = AVRational{1, encoder->sample_rate};
    if (HasBitrate(settings.format))
        encoder->bit_rate = int64_t(kbits) * 1000;

    *error = avcodec_open2(encoder.get(), codec, options);
    if (*error < 0)
        encoder.reset();
    return encoder;
}

void OutputMedia::OpenEncoder(const OutputSettings &settings)
{
    const AVCodec *codec = FindEncoder(settings.format);
    if (!codec)
        throw EncoderError(std::string("No ") + FormatName(settings.format) + " encoder available");

    int ret = 0;
    const LibraryLogPause quiet;
    CodecContextPtr encoder = TryEncoder(codec, settings, settings.bitrateKbits, &ret);
    if (!encoder && HasBitrate(settings.format)) {
        // libopus and libvorbis refuse bit rates out of their range for the
        // rate and channels rather than taking the nearest, as LAME does.
        const int fitted = FitBitrate(settings.bitrateKbits, [&](int kbits) {
            int error = 0;
            return TryEncoder(codec, settings, kbits, &error) != nullptr;
        });
        if (fitted != settings.bitrateKbits)
            encoder = TryEncoder(codec, settings, fitted, &ret);
    }
    if (!encoder)
        throw EncoderError(std::string("Cannot set up the ") + codec->name + " encoder: " + AvErrorText(ret));
    encoder_ = std::move(encoder);
    settings_ = settings;
    if (HasBitrate(settings.format))
        settings_.bitrateKbits = int(encoder_->bit_rate / 1000);
    const bool wav = settings.format == OutputFormat::Wav;

    directPcm_ = wav && std::endian::native == std::endian::little;
    if (!directPcm_)
        frames_ = std::make_unique<FrameEncoder>(*encoder_, [this](AVPacket *packet) { WritePacket(packet); });
}

void OutputMedia::OpenMuxer(const OutputSettings &settings)
{
    muxer_ = MakeMuxer(MuxerName(settings.format), &stream_);
    const int ret = avcodec_parameters_from_context(stream_->codecpar, encoder_.get());
    if (ret < 0)
        throw EncoderError("Cannot set up the output stream: " + AvErrorText(ret));
    stream_->time_base = encoder_->time_base;
    if (settings.format == OutputFormat::Flac) {
        const int rate = encoder_->sample_rate;
        muxer_->metadata_header_padding =
            FlacSeekTable::PaddingFor(av_rescale(settings.expectedUs, rate, AV_TIME_BASE), rate);
        seekTable_ = std::make_unique<FlacSeekTable>(rate);
    }
}

void OutputMedia::Carry(std::unique_ptr<OutputExtras> extras)
{
    extras_ = std::move(extras);
    extras_->Prepare(muxer_.get(), stream_);
}

void OutputMedia::SetTag(const std::string &key, const std::string &value)
{
    // RIFF INFO has no names for ReplayGain: such tags go to an ID3 chunk.
    if (format_ == OutputFormat::Wav) {
        wavId3Tags_.emplace_back(key, value);
        return;
    }
    if (av_dict_set(&muxer_->metadata, key.c_str(), value.c_str(), 0) < 0)
        throw std::bad_alloc();
}

void OutputMedia::Start()
{
    if (started_)
        return;
    file_->Commit();
    muxer_->pb = file_->Io();
    if (format_ == OutputFormat::Wav && !wavId3Tags_.empty()) {
        // FFmpeg (and so mpv) ignores a WAV's ID3 chunk once the file has
        // RIFF INFO: with ReplayGain, every tag goes to the ID3 chunk, and
        // the file has no INFO, not even the muxer's encoder name.
        std::vector<std::pair<std::string, std::string>> tags;
        for (const AVDictionaryEntry *e = nullptr; (e = av_dict_get(muxer_->metadata, "", e, AV_DICT_IGNORE_SUFFIX));)
            tags.emplace_back(e->key, e->value);
        tags.insert(tags.end(), wavId3Tags_.begin(), wavId3Tags_.end());
        wavId3Tags_ = std::move(tags);
        av_dict_free(&muxer_->metadata);
        muxer_->flags |= AVFMT_FLAG_BITEXACT;
    }
    AVDictionary *options = nullptr;
    if (format_ == OutputFormat::Wav)
        av_dict_set(&options, "rf64", "auto", 0); // RF64 once the file passes 4 GiB
    int ret = avformat_write_header(muxer_.get(), &options);
    av_dict_free(&options);
    if (ret < 0)
        throw file_->WriteError(ret);
    started_ = true;
    if (extras_)
        extras_->WriteAfterHeader(muxer_.get());
}

int OutputMedia::BitrateKbits() const
{
    // The PCM and FLAC encoders report what they produce; nobody chose it.
    return HasBitrate(format_) ? int(encoder_->bit_rate / 1000) : 0;
}

uint8_t **OutputMedia::Reserve(int n)
{
    const int channels = encoder_->ch_layout.nb_channels;
    if (directPcm_) {
        av_packet_unref(packet_.get());
        if (av_new_packet(packet_.get(), n * channels * 2) < 0)
            throw std::bad_alloc();
        pcmPlane_[0] = packet_->data;
        return pcmPlane_;
    }
    if (n > stagingCapacity_) {
        if (staging_)
            av_freep(&staging_[0]);
        av_freep(&staging_);
        stagingCapacity_ = 0;
        if (av_samples_alloc_array_and_samples(&staging_, nullptr, channels, n, encoder_->sample_fmt, 0) < 0)
            throw std::bad_alloc();
        stagingCapacity_ = n;
    }
    return staging_;
}

void OutputMedia::Commit(int n)
{
    if (n <= 0)
        return;
    Start();
    if (directPcm_) {
        const int blockAlign = encoder_->ch_layout.nb_channels * 2;
        av_shrink_packet(packet_.get(), n * blockAlign);
        packet_->pts = packet_->dts = samplesIn_;
        packet_->duration = n;
        samplesIn_ += n;
        WritePacket(packet_.get());
        return;
    }
    frames_->Write(staging_, n);
    samplesIn_ += n;
}

void OutputMedia::Write(const uint8_t *const *planes, int n)
{
    if (n <= 0)
        return;
    const int channels = encoder_->ch_layout.nb_channels;
    if (directPcm_) {
        uint8_t **out = Reserve(n);
        av_samples_copy(out, const_cast<uint8_t *const *>(planes), 0, 0, n, channels, encoder_->sample_fmt);
        Commit(n);
        return;
    }
    // Straight into the encoder's queue, without a staging copy.
    Start();
    frames_->Write(planes, n);
    samplesIn_ += n;
}

void OutputMedia::WritePacket(AVPacket *packet)
{
    const int ret = Mux(packet, packet->duration);
    av_packet_unref(packet);
    if (ret < 0)
        throw file_->WriteError(ret);
}

int OutputMedia::Mux(AVPacket *packet, int64_t samples)
{
    if (seekTable_ && packet->size > 0)
        seekTable_->Add(packet->size, int(samples));
    packet->stream_index = stream_->index;
    av_packet_rescale_ts(packet, encoder_->time_base, stream_->time_base);
    return av_write_frame(muxer_.get(), packet);
}

CodecContextPtr OutputMedia::NewEncoder(AVDictionary **options) const
{
    int ret = 0;
    CodecContextPtr encoder = TryEncoder(encoder_->codec, settings_, settings_.bitrateKbits, &ret, options);
    if (!encoder)
        throw EncoderError(std::string("Cannot set up the ") + encoder_->codec->name + " encoder: " + AvErrorText(ret));
    return encoder;
}

void OutputMedia::WriteJoined(AVPacket *packet, int64_t samples)
{
    Start();
    joined_ = true;
    samplesIn_ += samples;
    if (const int ret = Mux(packet, samples); ret < 0)
        throw file_->WriteError(ret);
}

int64_t OutputMedia::SamplesWritten() const
{
    return joined_ ? std::max<int64_t>(0, samplesIn_ - encoder_->initial_padding) : samplesIn_;
}

void OutputMedia::Finish()
{
    Start();
    if (!directPcm_ && !joined_) {
        if (samplesIn_ == 0 && format_ != OutputFormat::Flac) {
            // Players and probes reject an MP3, MP4 or Ogg file without a
            // single audio frame (a stop before the first packet): give it
            // one frame of silence. An empty FLAC file is valid as it is.
            const int n = std::max(encoder_->frame_size, 1);
            uint8_t **planes = Reserve(n);
            av_samples_set_silence(planes, 0, n, encoder_->ch_layout.nb_channels, encoder_->sample_fmt);
            Commit(n);
        }
        frames_->Flush();
    }
    file_->Finish(muxer_.get(), [this] {
        WriteSeekTable();
        AppendId3Chunk();
    });
}

void OutputMedia::AppendId3Chunk()
{
    if (wavId3Tags_.empty())
        return;
    const std::vector<uint8_t> chunk = WavId3Chunk(wavId3Tags_);
    // The RIFF size (or RF64's, in its ds64 chunk) grows by the chunk; the
    // sizes FFmpeg's trailer wrote are looked at before they are changed.
    const int64_t end = file_->Size();
    const int64_t grown = end + int64_t(chunk.size());
    auto little = [](uint64_t value, int bytes) {
        std::vector<uint8_t> out;
        for (int i = 0; i < bytes; ++i)
            out.push_back(uint8_t(value >> (8 * i)));
        return out;
    };
    auto with = [](std::string_view head, const std::vector<uint8_t> &tail) {
        std::vector<uint8_t> out(head.begin(), head.end());
        out.insert(out.end(), tail.begin(), tail.end());
        return out;
    };
    const bool riff = end - 8 <= int64_t(UINT32_MAX)
                      && file_->Overwrite(0, with("RIFF", little(uint64_t(end - 8), 4)),
                                          with("RIFF", little(uint64_t(grown - 8), 4)));
    const std::string ds64("ds64\x1c\0\0\0", 8);
    if (riff
        || file_->Overwrite(12, with(ds64, little(uint64_t(end - 8), 8)), with(ds64, little(uint64_t(grown - 8), 8))))
        file_->Overwrite(end, {}, chunk);
}

void OutputMedia::WriteSeekTable()
{
    const int padding = muxer_->metadata_header_padding;
    if (!seekTable_ || padding <= 0)
        return;
    // The muxer wrote its padding as the last metadata block, right before
    // the first frame: found from the end of the file, and looked at before
    // it is written over.
    const size_t room = FlacSeekTable::PaddingBlockBytes(padding);
    const int64_t at = avio_tell(file_->Io()) - seekTable_->FrameBytes() - int64_t(room);
    const std::vector<uint8_t> blocks = seekTable_->Blocks(room);
    if (!blocks.empty())
        file_->Overwrite(at, FlacSeekTable::LastPaddingHeader(padding), blocks);
}

void OutputMedia::FinishPartial() noexcept
{
    if (!started_ || !file_)
        return;
    // Each step on its own: an encoder that failed may refuse to drain, and
    // the trailer and the buffered bytes must reach the file regardless.
    if (!directPcm_ && !joined_) {
        try {
            frames_->Flush();
        } catch (...) {
        }
    }
    file_->FinishQuietly(muxer_.get());
}

bool CarriesReplayGain(OutputFormat format) { return format != OutputFormat::M4a; }

std::vector<uint8_t> WavId3Chunk(const std::vector<std::pair<std::string, std::string>> &tags)
{
    static const struct {
        const char *tag;
        const char *frame;
    } kFrames[] = {{"title", "TIT2"},    {"artist", "TPE1"},    {"album_artist", "TPE2"}, {"album", "TALB"},
                   {"date", "TDRC"},     {"genre", "TCON"},     {"track", "TRCK"},        {"disc", "TPOS"},
                   {"composer", "TCOM"}, {"copyright", "TCOP"}, {"language", "TLAN"},     {"comment", "COMM"}};
    auto syncSafe = [](std::vector<uint8_t> &out, size_t n) {
        for (int shift = 21; shift >= 0; shift -= 7)
            out.push_back(uint8_t(n >> shift & 0x7F));
    };
    std::vector<uint8_t> frames;
    for (const auto &[key, value] : tags) {
        std::string id = "TXXX";
        for (const auto &f : kFrames)
            if (key == f.tag)
                id = f.frame;
        // UTF-8 throughout; a comment names no language, a TXXX frame's
        // description is the tag's name, as players look ReplayGain up.
        std::vector<uint8_t> content{3};
        if (id == "COMM")
            content.insert(content.end(), {'x', 'x', 'x', 0});
        if (id == "TXXX") {
            content.insert(content.end(), key.begin(), key.end());
            content.push_back(0);
        }
        content.insert(content.end(), value.begin(), value.end());
        frames.insert(frames.end(), id.begin(), id.end());
        syncSafe(frames, content.size());
        frames.insert(frames.end(), {0, 0});
        frames.insert(frames.end(), content.begin(), content.end());
    }
    std::vector<uint8_t> chunk{'i', 'd', '3', ' '};
    const uint32_t tagBytes = uint32_t(10 + frames.size());
    for (int i = 0; i < 4; ++i)
        chunk.push_back(uint8_t(tagBytes >> (8 * i)));
    chunk.insert(chunk.end(), {'I', 'D', '3', 4, 0, 0});
    syncSafe(chunk, frames.size());
    chunk.insert(chunk.end(), frames.begin(), frames.end());
    if (chunk.size() % 2)
        chunk.push_back(0); // RIFF chunks start on even offsets
    return chunk;
}
