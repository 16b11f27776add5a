#include "libm9s/loudness/LoudnessPass.h"

#include "libm9s/base/EncoderError.h"
#include "libm9s/base/FrameQueue.h"
#include "libm9s/base/Messages.h"
#include "libm9s/base/StopControl.h"
#include "libm9s/base/TimeText.h"
#include "libm9s/encode/FrameEncoder.h"
#include "libm9s/filter/Leveller.h"
#include "libm9s/filter/Resampler.h"
#include "libm9s/filter/SampleGuard.h"
#include "libm9s/input/InputMedia.h"
#include "libm9s/loudness/PartMeasure.h"
#include "libm9s/output/OutputMedia.h"
#include "libm9s/segments/SegmentJoin.h"
#include "libm9s/segments/SegmentPlacement.h"

extern "C" {
#include <libavutil/common.h>
#include <libavutil/mathematics.h>
}

#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReportInterval = std::chrono::milliseconds(250);
constexpr int kSliceSamples = 16384;
constexpr size_t kQueueFrames = 64;
constexpr int64_t kQueueSamples = 1 << 17;
// A sample of a decoded frame as a float, whatever the decoder's format.
float SampleOf(const AVFrame &frame, int channel, int index)
{
    const auto format = AVSampleFormat(frame.format);
    const bool planar = av_sample_fmt_is_planar(format);
    const int channels = frame.ch_layout.nb_channels;
    const size_t at = planar ? size_t(index) : size_t(index) * size_t(channels) + size_t(channel);
    const uint8_t *data = frame.extended_data[planar ? channel : 0];
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_FLT:
        return reinterpret_cast<const float *>(data)[at];
    case AV_SAMPLE_FMT_DBL:
        return float(reinterpret_cast<const double *>(data)[at]);
    case AV_SAMPLE_FMT_S16:
        return float(reinterpret_cast<const int16_t *>(data)[at]) / 32768.0f;
    case AV_SAMPLE_FMT_S32:
        return float(double(reinterpret_cast<const int32_t *>(data)[at]) / 2147483648.0);
    default:
        return 0;
    }
}

// Interleaved floats through the output's encoder (a fresh one, set up as
// the output's) and back through a decoder of its codec; what decodes goes
// to decoded.
class RoundTrip {
public:
    RoundTrip(const OutputMedia &output, std::function<void(const float *, int)> decoded)
        : encoder_(output.NewEncoder(nullptr)), decoded_(std::move(decoded))
    {
        const AVCodec *codec = avcodec_find_decoder(encoder_->codec_id);
        decoder_.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!decoder_ || av_channel_layout_copy(&decoder_->ch_layout, &encoder_->ch_layout) < 0)
            throw EncoderError("Cannot decode what the encoder makes, to measure it");
        decoder_->sample_rate = encoder_->sample_rate;
        if (encoder_->extradata_size > 0) {
            decoder_->extradata =
                static_cast<uint8_t *>(av_mallocz(size_t(encoder_->extradata_size) + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!decoder_->extradata)
                throw std::bad_alloc();
            std::memcpy(decoder_->extradata, encoder_->extradata, size_t(encoder_->extradata_size));
            decoder_->extradata_size = encoder_->extradata_size;
        }
        if (avcodec_open2(decoder_.get(), codec, nullptr) < 0)
            throw EncoderError("Cannot decode what the encoder makes, to measure it");
        frames_ = std::make_unique<FrameEncoder>(*encoder_, [this](AVPacket *packet) { Decode(packet); });
        frame_ = MakeFrame();
    }

    void Write(const float *samples, int count)
    {
        const int channels = encoder_->ch_layout.nb_channels;
        const auto format = encoder_->sample_fmt;
        if (format == AV_SAMPLE_FMT_FLT) {
            const uint8_t *planes[1] = {reinterpret_cast<const uint8_t *>(samples)};
            frames_->Write(planes, count);
            return;
        }
        if (format != AV_SAMPLE_FMT_FLTP)
            throw EncoderError("Cannot measure what the encoder makes of its samples");
        split_.resize(size_t(channels));
        std::vector<const uint8_t *> planes;
        for (int c = 0; c < channels; ++c) {
            split_[size_t(c)].resize(size_t(count));
            for (int i = 0; i < count; ++i)
                split_[size_t(c)][size_t(i)] = samples[size_t(i) * size_t(channels) + size_t(c)];
            planes.push_back(reinterpret_cast<const uint8_t *>(split_[size_t(c)].data()));
        }
        frames_->Write(planes.data(), count);
    }

    void Finish()
    {
        frames_->Flush();
        Decode(nullptr);
    }

private:
    void Decode(AVPacket *packet)
    {
        if (avcodec_send_packet(decoder_.get(), packet) < 0 && packet)
            return; // a packet the decoder refuses is a loss a player hears too
        while (avcodec_receive_frame(decoder_.get(), frame_.get()) >= 0) {
            const int channels = frame_->ch_layout.nb_channels;
            joined_.resize(size_t(frame_->nb_samples) * size_t(channels));
            for (int i = 0; i < frame_->nb_samples; ++i)
                for (int c = 0; c < channels; ++c)
                    joined_[size_t(i) * size_t(channels) + size_t(c)] = SampleOf(*frame_, c, i);
            decoded_(joined_.data(), frame_->nb_samples);
            av_frame_unref(frame_.get());
        }
    }

    CodecContextPtr encoder_;
    CodecContextPtr decoder_;
    std::function<void(const float *, int)> decoded_;
    std::unique_ptr<FrameEncoder> frames_;
    FramePtr frame_;
    std::vector<std::vector<float>> split_;
    std::vector<float> joined_;
};

class Measurement {
public:
    Measurement(const EncoderOptions &options, MeasureFormat format, MeterKind kind)
        : options_(options), format_(format), kind_(kind)
    {
    }
    MeasuredPass Run();

private:
    void SeekToStart();
    void Measure();
    void Decode();
    void HandleFrame(AVFrame &frame);
    int SamplesToSkip(const AVFrame &frame);
    void Setup(const AVFrame &frame);
    void Convert(const uint8_t *const *in, int samples);
    void Take(const AVFrame &frame);
    void ReportProgress(bool final);
    bool Enough() const { return abandoned_ || (limit_ && resampler_ && converted_ >= *limit_); }

    const EncoderOptions &options_;
    MeasureFormat format_;
    MeterKind kind_;
    InputMedia input_;
    // Decoding and resampling run on a thread of their own and hand over
    // interleaved floats; this one measures, which costs about as much. With
    // one thread allowed, all of it takes turns on this one.
    FrameQueue queue_{kQueueFrames, kQueueSamples};
    bool oneThread_ = false;
    std::unique_ptr<Resampler> resampler_; // reading thread
    std::vector<const uint8_t *> planes_;
    std::optional<int64_t> limit_;
    int64_t converted_ = 0;
    int64_t nextInputSample_ = 0;
    bool abandoned_ = false;
    std::unique_ptr<LoudnessMeter> meter_; // measuring thread
    std::unique_ptr<Leveller> leveller_;   // measuring thread, format_.levelled
    std::unique_ptr<RoundTrip> roundTrip_; // measuring thread, format_.codec
    std::vector<float> levelled_;
    int channels_ = 0;
    void Pass(const float *samples, int count);
    void Meter(const float *samples, int count);
    void FlushLeveller();
    int rate_ = 0;
    int64_t measured_ = 0;
    Clock::time_point lastReport_ = Clock::now();
};

MeasuredPass Measurement::Run()
{
    if (!input_.Open(options_.inputPath))
        return MeasuredPass{{}, true};
    input_.SelectAudio(options_.audioTrack);
    input_.OpenDecoder();
    SeekToStart();
    Measure();
    FlushLeveller();
    MeasuredPass pass{meter_ ? meter_->Result() : LoudnessMeasure{}, StopControl::Requested()};
    if (!pass.stopped)
        ReportProgress(true);
    return pass;
}

void Measurement::SeekToStart()
{
    if (const std::optional<int64_t> ts = input_.PartSeekTs(options_.startUs))
        input_.SeekAudio(*ts);
}

void Measurement::Measure()
{
    oneThread_ = ThreadsToUse(options_) < 2;
    if (oneThread_)
        return Decode();
    std::thread reader([&] {
        try {
            Decode();
            queue_.Finish();
        } catch (...) {
            queue_.Finish(std::current_exception());
        }
    });
    StopControl::SetReadingThread(reader.native_handle());
    auto join = [&] {
        queue_.WaitFinished();
        StopControl::SetReadingThread(pthread_self());
        reader.join();
    };
    try {
        while (FramePtr frame = queue_.Pop())
            Take(*frame);
    } catch (...) {
        queue_.Cancel();
        join();
        throw;
    }
    join();
}

void Measurement::Take(const AVFrame &frame)
{
    if (!meter_) {
        meter_ = std::make_unique<LoudnessMeter>(frame.ch_layout, frame.sample_rate, kind_);
        rate_ = frame.sample_rate;
        channels_ = frame.ch_layout.nb_channels;
        if (format_.levelled)
            leveller_ = std::make_unique<Leveller>(format_.levelled->gainDb, format_.levelled->ceilingDb,
                                                   frame.ch_layout.nb_channels, frame.sample_rate, AV_SAMPLE_FMT_FLT);
        if (format_.codec)
            roundTrip_ = std::make_unique<RoundTrip>(
                *format_.codec, [this](const float *samples, int count) { Meter(samples, count); });
    }
    const auto *samples = reinterpret_cast<const float *>(frame.data[0]);
    if (!leveller_) {
        Pass(samples, frame.nb_samples);
        return;
    }
    // The leveller takes planes and gives back interleaved samples, late by its look-ahead.
    const int channels = frame.ch_layout.nb_channels;
    uint8_t **planes = leveller_->Input(frame.nb_samples);
    for (int c = 0; c < channels; ++c) {
        auto *plane = reinterpret_cast<float *>(planes[c]);
        for (int i = 0; i < frame.nb_samples; ++i)
            plane[i] = samples[size_t(i) * size_t(channels) + size_t(c)];
    }
    levelled_.resize(size_t(frame.nb_samples) * size_t(channels));
    uint8_t *out[1] = {reinterpret_cast<uint8_t *>(levelled_.data())};
    Pass(levelled_.data(), leveller_->Process(frame.nb_samples, out));
}

void Measurement::FlushLeveller()
{
    if (StopControl::Requested())
        return;
    if (leveller_) {
        const int held = leveller_->Delay();
        levelled_.resize(size_t(held) * size_t(channels_));
        uint8_t *out[1] = {reinterpret_cast<uint8_t *>(levelled_.data())};
        Pass(levelled_.data(), leveller_->Flush(held, out));
    }
    if (roundTrip_)
        roundTrip_->Finish();
}

// What the output gets: to the meter, or through the codec first.
void Measurement::Pass(const float *samples, int count)
{
    if (count <= 0)
        return;
    if (roundTrip_)
        roundTrip_->Write(samples, count);
    else
        Meter(samples, count);
}

void Measurement::Meter(const float *samples, int count)
{
    if (count <= 0)
        return;
    meter_->Add(samples, count);
    measured_ += count;
    ReportProgress(false);
}

void Measurement::Decode()
{
    AVCodecContext *decoder = input_.Decoder();
    const int audioIndex = input_.Audio()->index;
    PacketPtr packet = MakePacket();
    FramePtr frame = MakeFrame();
    auto deliver = [&] {
        while (!Enough() && avcodec_receive_frame(decoder, frame.get()) >= 0) {
            HandleFrame(*frame);
            av_frame_unref(frame.get());
        }
    };
    while (!Enough() && input_.ReadPacket(packet.get())) {
        if (packet->stream_index == audioIndex && avcodec_send_packet(decoder, packet.get()) >= 0)
            deliver();
        av_packet_unref(packet.get());
    }
    if (!Enough() && avcodec_send_packet(decoder, nullptr) >= 0)
        deliver();
    for (int round = 0; round < 16 && resampler_ && resampler_->Ready() && !Enough(); ++round) {
        const int64_t before = converted_;
        Convert(nullptr, 0);
        if (converted_ == before)
            break;
    }
}

void Measurement::HandleFrame(AVFrame &frame)
{
    if (frame.nb_samples <= 0 || frame.sample_rate <= 0 || frame.ch_layout.nb_channels <= 0 || frame.format < 0)
        return;
    const int skip = SamplesToSkip(frame);
    if (skip >= frame.nb_samples)
        return;
    GuardFrame(frame);
    if (!resampler_)
        Setup(frame);
    if (resampler_->Differs(frame)) {
        Convert(nullptr, 0);
        resampler_->Setup(frame);
    }
    const auto format = AVSampleFormat(frame.format);
    const bool planar = av_sample_fmt_is_planar(format);
    const size_t step = size_t(av_get_bytes_per_sample(format)) * size_t(planar ? 1 : frame.ch_layout.nb_channels);
    const int slice = resampler_->InputSlice(kSliceSamples);
    planes_.resize(planar ? size_t(frame.ch_layout.nb_channels) : 1);
    for (size_t i = 0; i < planes_.size(); ++i)
        planes_[i] = frame.extended_data[i] + size_t(skip) * step;
    for (int left = frame.nb_samples - skip; left > 0 && !Enough(); left -= slice) {
        Convert(planes_.data(), std::min(left, slice));
        for (const uint8_t *&plane : planes_)
            plane += size_t(slice) * step;
    }
}

// As in the conversion: samples before the -ss point are left out.
int Measurement::SamplesToSkip(const AVFrame &frame)
{
    return input_.SamplesBeforePart(frame, options_.startUs, &nextInputSample_);
}

void Measurement::Setup(const AVFrame &frame)
{
    AVChannelLayout layout{};
    int rate = frame.sample_rate;
    if (format_.layout) {
        if (av_channel_layout_copy(&layout, format_.layout) < 0)
            throw std::bad_alloc();
        rate = format_.sampleRate;
    } else {
        FrameLayout(frame, &layout);
    }
    try {
        resampler_ = std::make_unique<Resampler>(layout, AV_SAMPLE_FMT_FLT, rate);
    } catch (...) {
        av_channel_layout_uninit(&layout);
        throw;
    }
    av_channel_layout_uninit(&layout);
    resampler_->Setup(frame);
    if (options_.durationUs)
        limit_ = av_rescale(*options_.durationUs, rate, AV_TIME_BASE);
}

void Measurement::Convert(const uint8_t *const *in, int samples)
{
    const int capacity = std::max(1, resampler_->MaxOutput(samples));
    FramePtr out = MakeFrame();
    out->format = AV_SAMPLE_FMT_FLT;
    out->sample_rate = resampler_->OutputRate();
    out->nb_samples = capacity;
    if (av_channel_layout_copy(&out->ch_layout, &resampler_->OutputLayout()) < 0
        || av_frame_get_buffer(out.get(), 0) < 0)
        throw std::bad_alloc();
    int got = resampler_->Convert(out->extended_data, capacity, in, samples);
    if (limit_)
        got = int(std::min<int64_t>(got, *limit_ - converted_));
    if (got <= 0)
        return;
    converted_ += got;
    out->nb_samples = got;
    if (oneThread_)
        Take(*out);
    else if (!queue_.Push(std::move(out)))
        abandoned_ = true;
}

void Measurement::ReportProgress(bool final)
{
    const Clock::time_point now = Clock::now();
    if ((!final && now - lastReport_ < kReportInterval) || rate_ <= 0 || kind_ != MeterKind::Loudness
        || format_.levelled || format_.codec)
        return;
    lastReport_ = now;
    WriteTimeMarker(FormatSeconds(measured_ / 2, rate_));
}

} // namespace

MeasuredPass MeasureLoudness(const EncoderOptions &options, MeasureFormat format, MeterKind kind)
{
    if (std::optional<MeasuredPass> pass =
            format.levelled || format.codec ? std::nullopt : MeasureInParts(options, format, kind))
        return *pass;
    return Measurement(options, format, kind).Run();
}

void RequireRereadableInput(const EncoderOptions &options)
{
    struct stat info{};
    if (stat(options.inputPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        throw EncoderError(std::string(options.replayGain ? "-replaygain" : "-loudness") + " reads input '"
                           + options.inputPath + "' twice, which only a regular file allows");
}

int64_t SecondPassProgress(int64_t firstSamples, int64_t done) { return firstSamples / 2 + done / 2; }
