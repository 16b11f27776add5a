#pragma once
// The output side: the encoder (16-bit PCM for WAV, LAME for MP3, FLAC,
// AAC in MP4 for M4A, libopus, libvorbis in Ogg) and the muxer, writing
// into an OutputFile. Nothing reaches the file before the
// first audio (or the end of a stopped conversion) asks for Start().

#include "libm9s/base/AvHandles.h"
#include "libm9s/base/Options.h"
#include "libm9s/metadata/Extras.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class FlacSeekTable;
class FrameEncoder;
class OutputFile;

struct OutputSettings {
    OutputFormat format = OutputFormat::Mp3;
    int sampleRate = 44100;
    int channels = 2;
    int bitrateKbits = 128;
    bool deepSamples = false; // FLAC: the source has more than 16 bits, keep 24
    int64_t expectedUs = 0;   // the length expected, 0 when unknown: FLAC keeps room for its seek points
};

// MP3 (ID3v2 TXXX frames), WAV (the same in an ID3 chunk), FLAC, Opus and
// Ogg Vorbis (comments) carry ReplayGain tags; M4A does not, as FFmpeg's
// muxer writes it.
bool CarriesReplayGain(OutputFormat format);
// A WAV file's "id3 " chunk (padded to an even length) holding tags as
// ID3v2.4 TXXX frames: where foobar2000 and FFmpeg (and so mpv) read a
// WAV's ReplayGain; RIFF INFO has no names for it.
std::vector<uint8_t> WavId3Chunk(const std::vector<std::pair<std::string, std::string>> &tags);

class OutputMedia {
public:
    // Sets up encoder and muxer; throws EncoderError.
    explicit OutputMedia(const OutputSettings &settings);
    ~OutputMedia();
    OutputMedia(const OutputMedia &) = delete;
    OutputMedia &operator=(const OutputMedia &) = delete;

    const AVChannelLayout &Layout() const { return encoder_->ch_layout; }
    AVSampleFormat SampleFormat() const { return encoder_->sample_fmt; }
    int SampleRate() const { return encoder_->sample_rate; }
    const AVCodecContext &Encoder() const { return *encoder_; }
    AVCodecID CodecId() const { return encoder_->codec_id; }
    // Samples per encoded frame; 0 when the encoder takes any number (PCM).
    int FrameSize() const { return encoder_->frame_size; }

    void Attach(OutputFile *file) { file_ = file; }
    // Tags, cover and chapters of the source, for the header (before Start()).
    void Carry(std::unique_ptr<OutputExtras> extras);
    // A tag more for the file; only before Start().
    void SetTag(const std::string &key, const std::string &value);

    // Room for n samples in SampleFormat(), one pointer per plane; valid
    // until the next Commit().
    uint8_t **Reserve(int n);
    // The first n samples of the reserved room are audio to write.
    void Commit(int n);
    // Writes n samples in SampleFormat() from planes (one pointer per plane).
    void Write(const uint8_t *const *planes, int n);

    // Takes over the file and writes the header.
    void Start();
    // Flushes the encoder, writes the trailer and closes the file.
    void Finish();
    // After a failure: does as much of Finish() as still works, so the audio
    // written so far ends up in a file with complete headers (WAV sizes, the
    // MP3 Info frame). Does nothing before Start(); never throws, since the
    // first error is the one to report.
    void FinishPartial() noexcept;

    // A file cut into segments: each is encoded by an encoder of its own,
    // set up like this one (options: extra settings, such as LAME's
    // reservoir), and the packets reach the muxer here, in order, with
    // their timestamps in samples. Finish() then leaves this encoder unused.
    CodecContextPtr NewEncoder(AVDictionary **options) const;
    void WriteJoined(AVPacket *packet, int64_t samples);

    // The samples the file decodes to. A joined stream counts its packets'
    // lengths, which, as the segments' encoders give them, cover the
    // encoder's priming too (LAME's 1105 samples), which a decoder drops.
    int64_t SamplesWritten() const;
    // The bit rate the encoder was opened with (kbit/s); 0 for WAV and FLAC.
    int BitrateKbits() const;

private:
    void OpenEncoder(const OutputSettings &settings);
    CodecContextPtr TryEncoder(const AVCodec *codec, const OutputSettings &settings, int kbits, int *error,
                               AVDictionary **options = nullptr) const;
    void OpenMuxer(const OutputSettings &settings);
    void WritePacket(AVPacket *packet);
    // Into the muxer, noted in the seek table; the muxer's result.
    int Mux(AVPacket *packet, int64_t samples);
    void WriteSeekTable();
    void AppendId3Chunk();

    OutputFormat format_;
    OutputSettings settings_; // as the encoder was opened, bit rate fitted
    bool joined_ = false;
    CodecContextPtr encoder_;
    OutputContextPtr muxer_;
    AVStream *stream_ = nullptr;
    OutputFile *file_ = nullptr;
    std::unique_ptr<OutputExtras> extras_;
    std::unique_ptr<FlacSeekTable> seekTable_;
    bool started_ = false;

    // WAV on a little-endian machine: the resampler writes the packet's
    // bytes directly, which is all a 16-bit PCM encoder would do.
    bool directPcm_ = false;
    PacketPtr packet_;
    uint8_t *pcmPlane_[1] = {};

    // Everything else goes through the encoder in frames of its size.
    std::unique_ptr<FrameEncoder> frames_;
    uint8_t **staging_ = nullptr;
    int stagingCapacity_ = 0;
    int64_t samplesIn_ = 0;

    // WAV: ReplayGain tags, for an ID3 chunk after the audio.
    std::vector<std::pair<std::string, std::string>> wavId3Tags_;
};
