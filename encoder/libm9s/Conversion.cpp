#include "Conversion.h"

#include "AvHandles.h"
#include "EncoderError.h"
#include "FrameQueue.h"
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
#include <new>
#include <optional>
#include <thread>
#include <utility>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReportInterval = std::chrono::milliseconds(250);
// Input samples converted per step. A damaged file can make a decoder
// return one enormous frame; taken in slices, the output buffers stay small.
constexpr int kSliceSamples = 16384;
// Decoded audio the reading thread may keep ready: a few hundred
// milliseconds, enough to ride out uneven decoding.
constexpr size_t kQueueFrames = 64;
constexpr int64_t kQueueSamples = 1 << 17;

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
    void ReadAndDecode(FrameQueue &queue);
    void HandleFrame(const AVFrame &frame);
    int SamplesToSkip(const AVFrame &frame);
    void ConvertSamples(const uint8_t *const *planes, int samples);
    void DrainResampler();
    uint8_t **ReserveConverted(int samples);
    void CommitConverted(int samples);
    bool ConvertedEnough() const;
    void WriteLimited(const uint8_t *const *planes, int samples);
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
    std::vector<const uint8_t *> planes_;

    // With MP3 the encoder alone keeps the converting thread busy, so the
    // reading thread resamples too and hands over audio in the output's
    // format through this queue. With WAV it hands over decoded frames.
    FrameQueue *resampledQueue_ = nullptr;
    FramePtr resampled_;       // reading thread: the frame being filled
    bool abandoned_ = false;   // reading thread: the converting one wants no more
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
    stopped_ = stopped_ || StopControl::Requested();
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
    // Reading and decoding run on a thread of their own, resampling,
    // encoding and writing on this one: on two cores a WAV conversion takes
    // little more than the decoding.
    FrameQueue queue(kQueueFrames, kQueueSamples);
    if (options_.format == OutputFormat::Mp3)
        resampledQueue_ = &queue;
    std::thread reader([&] { ReadAndDecode(queue); });
    StopControl::SetReadingThread(reader.native_handle());
    // When this side gives up early (the -t limit, a write error) the reader
    // may sit in a read of a stalled input: the stop request interrupts it.
    // It stays the target of the stop nudges until it has let go of the
    // input, and is joined only after that.
    auto joinReader = [&](bool abandon) {
        if (abandon) {
            queue.Cancel();
            StopControl::Request();
        }
        queue.WaitFinished();
        StopControl::SetReadingThread(pthread_self());
        reader.join();
    };

    try {
        while (FramePtr frame = queue.Pop()) {
            if (resampledQueue_)
                WriteLimited(frame->extended_data, frame->nb_samples);
            else
                HandleFrame(*frame);
            ReportProgress(false);
            if (limitReached_)
                break;
        }
    } catch (...) {
        joinReader(true);
        throw;
    }
    joinReader(limitReached_);

    // What the resampler still holds is converted audio too, also after a
    // stop request.
    if (!limitReached_ && !resampledQueue_)
        DrainResampler();
}

void Conversion::ReadAndDecode(FrameQueue &queue)
{
    try {
        AVFormatContext *format = input_.Format();
        AVCodecContext *decoder = input_.Decoder();
        const int audioIndex = input_.Audio()->index;
        PacketPtr packet = MakePacket();
        FramePtr frame = MakeFrame();

        // Hands every frame the decoder has ready to the converting thread;
        // false once that one wants no more.
        auto deliver = [&] {
            for (;;) {
                // A frame the decoder cannot make (a damaged packet) is skipped,
                // as the ffmpeg program does.
                if (avcodec_receive_frame(decoder, frame.get()) < 0)
                    return true;
                if (resampledQueue_) {
                    HandleFrame(*frame);
                    av_frame_unref(frame.get());
                    if (abandoned_)
                        return false;
                } else if (!queue.Push(std::exchange(frame, MakeFrame()))) {
                    return false;
                }
            }
        };

        bool wanted = true;
        while (wanted && !StopControl::Requested()) {
            int ret = av_read_frame(format, packet.get());
            if (ret == AVERROR(EAGAIN)) {
                usleep(10 * 1000);
                continue;
            }
            if (ret < 0) {
                // As the ffmpeg program does: a read error ends the input, and
                // what was converted so far makes the output.
                if (ret != AVERROR_EOF && !StopControl::Requested())
                    WriteLine("Error reading input '" + options_.inputPath + "': " + AvErrorText(ret));
                break;
            }
            if (packet->stream_index == audioIndex && avcodec_send_packet(decoder, packet.get()) >= 0)
                wanted = deliver();
            av_packet_unref(packet.get());
        }

        // What the decoder still holds is converted audio too, also after a
        // stop request.
        if (wanted && avcodec_send_packet(decoder, nullptr) >= 0)
            wanted = deliver();
        if (wanted && resampledQueue_)
            DrainResampler();
        queue.Finish();
    } catch (...) {
        queue.Finish(std::current_exception());
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

    for (int left = frame.nb_samples - skip; left > 0 && !ConvertedEnough(); left -= kSliceSamples) {
        ConvertSamples(planes_.data(), std::min(left, kSliceSamples));
        for (const uint8_t *&plane : planes_)
            plane += sliceBytes;
    }
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
    uint8_t **out = ReserveConverted(capacity);
    CommitConverted(resampler_->Convert(out, capacity, planes, samples));
}

void Conversion::DrainResampler()
{
    if (!resampler_->Ready())
        return;
    for (int round = 0; round < 16 && !ConvertedEnough(); ++round) {
        const int capacity = std::max(1, resampler_->MaxOutput(0));
        uint8_t **out = ReserveConverted(capacity);
        const int got = resampler_->Convert(out, capacity, nullptr, 0);
        if (got <= 0)
            break;
        CommitConverted(got);
    }
}

uint8_t **Conversion::ReserveConverted(int samples)
{
    if (!resampledQueue_)
        return output_->Reserve(samples);
    resampled_ = MakeFrame();
    resampled_->format = output_->SampleFormat();
    resampled_->sample_rate = output_->SampleRate();
    resampled_->nb_samples = samples;
    if (av_channel_layout_copy(&resampled_->ch_layout, &output_->Layout()) < 0 ||
        av_frame_get_buffer(resampled_.get(), 0) < 0)
        throw std::bad_alloc();
    return resampled_->extended_data;
}

void Conversion::CommitConverted(int samples)
{
    if (!resampledQueue_) {
        WriteLimited(nullptr, samples);
        return;
    }
    if (samples <= 0)
        return;
    resampled_->nb_samples = samples;
    if (!resampledQueue_->Push(std::move(resampled_)))
        abandoned_ = true;
}

bool Conversion::ConvertedEnough() const
{
    // Each flag belongs to the thread that does the resampling.
    return resampledQueue_ ? abandoned_ : limitReached_;
}

// Hands samples to the output, up to the -t limit. planes == nullptr: they
// are in the room output_->Reserve() gave.
void Conversion::WriteLimited(const uint8_t *const *planes, int samples)
{
    if (limitSamples_) {
        const int64_t room = *limitSamples_ - output_->SamplesWritten();
        if (samples >= room) {
            samples = int(std::max<int64_t>(room, 0));
            limitReached_ = true;
        }
    }
    if (planes)
        output_->Write(planes, samples);
    else
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
