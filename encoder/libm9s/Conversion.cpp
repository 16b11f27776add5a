#include "Conversion.h"

#include "AvHandles.h"
#include "EncoderError.h"
#include "InputMedia.h"
#include "Messages.h"
#include "OutputFile.h"
#include "OutputMedia.h"
#include "Resampler.h"
#include "StopControl.h"
#include "Tags.h"
#include "TimeText.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReportInterval = std::chrono::milliseconds(250);
// Input samples converted per step. A damaged file can make a decoder
// return one enormous frame; taken in slices, the output buffers stay small.
constexpr int kSliceSamples = 16384;

class Conversion {
public:
    explicit Conversion(const EncoderOptions &options) : options_(options) {}
    void Run();

private:
    void OpenInput();
    void AnnounceDuration();
    OutputSettings ChooseOutputSettings();
    void OpenOutput();
    void SeekToStart();
    void Transcode();
    void DecodePacket(const AVPacket *packet);
    void ReceiveFrames();
    void HandleFrame(const AVFrame &frame);
    int SamplesToSkip(const AVFrame &frame);
    void ConvertSamples(const uint8_t *const *planes, int samples);
    void DrainResampler();
    void CommitLimited(int samples);
    void Finish();
    void ReportProgress(bool final);

    const EncoderOptions &options_;
    InputMedia input_;
    bool opened_ = false;
    bool stopped_ = false;
    bool limitReached_ = false;
    std::optional<int64_t> limitSamples_;
    int64_t framesDecoded_ = 0;
    int64_t nextInputSample_ = 0;

    std::unique_ptr<OutputMedia> output_;
    std::unique_ptr<OutputFile> file_;
    std::unique_ptr<Resampler> resampler_;
    FramePtr frame_;
    std::vector<const uint8_t *> planes_;
    Clock::time_point lastReport_ = Clock::now();
};

void Conversion::Run()
{
    // Refuse before doing any work, so the existing file stays untouched.
    if (!options_.overwrite && PathExists(options_.outputPath))
        throw EncoderError("Output file '" + options_.outputPath + "' already exists");

    OpenInput();
    AnnounceDuration();
    EnableLibraryLog();
    OpenOutput();
    if (opened_) {
        SeekToStart();
        Transcode();
    }
    Finish();
}

void Conversion::OpenInput()
{
    opened_ = input_.Open(options_.inputPath);
    if (!opened_) {
        stopped_ = true;  // stopped while opening: the output is an empty, valid file
        return;
    }
    input_.SelectAudio();
    input_.OpenDecoder();
}

void Conversion::AnnounceDuration()
{
    if (!opened_)
        return;
    std::optional<int64_t> duration = input_.DurationUs();
    if (!duration)
        return;
    int64_t us = std::max<int64_t>(0, *duration - options_.startUs);
    if (options_.durationUs)
        us = std::min(us, *options_.durationUs);
    WriteDurationMarker(FormatClock(us));
}

OutputSettings Conversion::ChooseOutputSettings()
{
    OutputSettings settings;
    settings.format = options_.format;
    settings.bitrateKbits = options_.bitrateKbits;

    const AVCodecContext *decoder = opened_ ? input_.Decoder() : nullptr;
    settings.sampleRate = options_.sampleRate;
    if (!settings.sampleRate)
        settings.sampleRate = decoder && decoder->sample_rate > 0 ? decoder->sample_rate : 44100;
    settings.channels = options_.channels;
    if (!settings.channels)
        settings.channels = decoder ? std::clamp(decoder->ch_layout.nb_channels, 1, 2) : 2;

    if (settings.format == OutputFormat::Mp3 && !IsMp3SampleRate(settings.sampleRate)) {
        int nearest = NearestMp3SampleRate(settings.sampleRate);
        WriteLine("MP3 cannot carry " + std::to_string(settings.sampleRate) + " Hz; writing " +
                  std::to_string(nearest) + " Hz instead");
        settings.sampleRate = nearest;
    }
    return settings;
}

void Conversion::OpenOutput()
{
    AVDictionary *tags = nullptr;
    if (opened_)
        CopyTags(input_.Format()->metadata, input_.Audio()->metadata, &tags);
    std::unique_ptr<AVDictionary, DictionaryDeleter> ownedTags(tags);

    output_ = std::make_unique<OutputMedia>(ChooseOutputSettings(), tags);
    file_ = std::make_unique<OutputFile>(options_.outputPath, options_.overwrite);
    if (opened_ && file_->IsSameFileAs(options_.inputPath))
        throw EncoderError("Output file '" + options_.outputPath + "' is the input file");
    output_->Attach(file_.get());
    resampler_ = std::make_unique<Resampler>(output_->Layout(), output_->SampleFormat(), output_->SampleRate());
    frame_ = MakeFrame();

    if (options_.durationUs)
        limitSamples_ = av_rescale(*options_.durationUs, output_->SampleRate(), AV_TIME_BASE);
    if (limitSamples_ && *limitSamples_ <= 0)
        limitReached_ = true;
}

void Conversion::SeekToStart()
{
    if (options_.startUs <= 0)
        return;
    // Land on or before the start; HandleFrame() trims to the exact sample.
    int64_t target = input_.StartUs() + options_.startUs;
    if (avformat_seek_file(input_.Format(), -1, INT64_MIN, target, target, 0) >= 0)
        avcodec_flush_buffers(input_.Decoder());
}

void Conversion::Transcode()
{
    AVFormatContext *format = input_.Format();
    const int audioIndex = input_.Audio()->index;
    PacketPtr packet = MakePacket();

    while (!limitReached_) {
        if (StopControl::Requested()) {
            stopped_ = true;
            break;
        }
        int ret = av_read_frame(format, packet.get());
        if (ret == AVERROR(EAGAIN)) {
            usleep(10 * 1000);
            continue;
        }
        if (ret < 0) {
            if (StopControl::Requested()) {
                stopped_ = true;
            } else if (ret != AVERROR_EOF) {
                // As the ffmpeg program does: a read error ends the input, and
                // what was converted so far makes the output.
                WriteLine("Error reading input '" + options_.inputPath + "': " + AvErrorText(ret));
            }
            break;
        }
        if (packet->stream_index == audioIndex)
            DecodePacket(packet.get());
        av_packet_unref(packet.get());
    }

    // What the decoder and the resampler still hold is converted audio too,
    // also after a stop request.
    if (!limitReached_) {
        DecodePacket(nullptr);
        DrainResampler();
    }
}

void Conversion::DecodePacket(const AVPacket *packet)
{
    // A packet the decoder rejects is skipped, as the ffmpeg program does.
    if (avcodec_send_packet(input_.Decoder(), packet) < 0)
        return;
    ReceiveFrames();
}

void Conversion::ReceiveFrames()
{
    while (!limitReached_) {
        int ret = avcodec_receive_frame(input_.Decoder(), frame_.get());
        if (ret < 0)
            return;  // needs more input, drained, or a damaged packet: go on reading
        HandleFrame(*frame_);
        av_frame_unref(frame_.get());
    }
}

void Conversion::HandleFrame(const AVFrame &frame)
{
    if (frame.nb_samples <= 0 || frame.sample_rate <= 0 || frame.ch_layout.nb_channels <= 0 || frame.format < 0)
        return;
    ++framesDecoded_;

    const int skip = SamplesToSkip(frame);
    if (skip >= frame.nb_samples)
        return;

    if (resampler_->Differs(frame)) {
        DrainResampler();
        resampler_->Setup(frame);
    }

    const auto format = AVSampleFormat(frame.format);
    const bool planar = av_sample_fmt_is_planar(format);
    const int channels = frame.ch_layout.nb_channels;
    const size_t offset = size_t(skip) * size_t(av_get_bytes_per_sample(format)) * size_t(planar ? 1 : channels);
    const size_t sliceBytes = size_t(kSliceSamples) * size_t(av_get_bytes_per_sample(format)) * size_t(planar ? 1 : channels);
    planes_.resize(planar ? channels : 1);
    for (size_t i = 0; i < planes_.size(); ++i)
        planes_[i] = frame.extended_data[i] + offset;

    for (int left = frame.nb_samples - skip; left > 0 && !limitReached_; left -= kSliceSamples) {
        ConvertSamples(planes_.data(), std::min(left, kSliceSamples));
        for (const uint8_t *&plane : planes_)
            plane += sliceBytes;
    }
    ReportProgress(false);
}

int Conversion::SamplesToSkip(const AVFrame &frame)
{
    if (options_.startUs <= 0)
        return 0;
    int64_t first = nextInputSample_;
    if (frame.pts != AV_NOPTS_VALUE) {
        int64_t us = av_rescale_q(frame.pts, input_.Audio()->time_base, AV_TIME_BASE_Q) - input_.StartUs();
        first = av_rescale(us, frame.sample_rate, AV_TIME_BASE);
    }
    nextInputSample_ = first + frame.nb_samples;
    const int64_t wanted = av_rescale(options_.startUs, frame.sample_rate, AV_TIME_BASE);
    if (first >= wanted)
        return 0;
    return int(std::min<int64_t>(wanted - first, frame.nb_samples));
}

void Conversion::ConvertSamples(const uint8_t *const *planes, int samples)
{
    const int capacity = std::max(1, resampler_->MaxOutput(samples));
    uint8_t **out = output_->Reserve(capacity);
    CommitLimited(resampler_->Convert(out, capacity, planes, samples));
}

void Conversion::DrainResampler()
{
    if (!resampler_->Ready())
        return;
    for (int round = 0; round < 16 && !limitReached_; ++round) {
        const int capacity = std::max(1, resampler_->MaxOutput(0));
        uint8_t **out = output_->Reserve(capacity);
        const int got = resampler_->Convert(out, capacity, nullptr, 0);
        if (got <= 0)
            break;
        CommitLimited(got);
    }
}

void Conversion::CommitLimited(int samples)
{
    if (limitSamples_) {
        const int64_t room = *limitSamples_ - output_->SamplesWritten();
        if (samples >= room) {
            samples = int(std::max<int64_t>(room, 0));
            limitReached_ = true;
        }
    }
    output_->Commit(samples);
}

void Conversion::Finish()
{
    // Nothing decodable in the whole input is a failure, and the output
    // stays as it was found; a stop request or a trim that leaves nothing
    // still makes a valid, empty file.
    if (opened_ && !stopped_ && framesDecoded_ == 0)
        throw EncoderError("No audio could be decoded from input '" + options_.inputPath + "'");
    output_->Finish();
    ReportProgress(true);
}

void Conversion::ReportProgress(bool final)
{
    const Clock::time_point now = Clock::now();
    if (!final && now - lastReport_ < kReportInterval)
        return;
    lastReport_ = now;
    WriteTimeMarker(FormatSeconds(output_->SamplesWritten(), output_->SampleRate()));
}

} // namespace

void RunConversion(const EncoderOptions &options)
{
    Conversion(options).Run();
}
