#include "libm9s/segments/SegmentJoin.h"

#include "libm9s/base/EncoderError.h"
#include "libm9s/base/StopControl.h"
#include "libm9s/encode/FrameEncoder.h"
#include "libm9s/filter/Leveller.h"
#include "libm9s/filter/Resampler.h"
#include "libm9s/filter/SampleGuard.h"
#include "libm9s/loudness/Loudness.h"
#include "libm9s/output/OutputMedia.h"
#include "libm9s/segments/FlacPacketPool.h"
#include "libm9s/segments/LibraryMd5.h"
#include "libm9s/segments/SegmentPlacement.h"

extern "C" {
#include <libavutil/common.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <numeric>
#include <optional>
#include <span>
#include <utility>

namespace {

// Samples converted per step, as in the single-thread path: a damaged file's
// enormous frame never needs enormous buffers.
constexpr int kSliceSamples = 16384;

// MP3's frames at the join must not lean on the bit reservoir of frames
// that another segment's encoder made: every segment but the first encodes
// without it (its first kept frame then owes nothing to the dropped ones).
AVDictionary *EncoderOptionsFor(OutputFormat format, const Segment &segment)
{
    AVDictionary *options = nullptr;
    if (format == OutputFormat::Mp3 && segment.start > 0)
        av_dict_set(&options, "reservoir", "0", 0);
    return options;
}

} // namespace

// One segment: decode from before its start, resample, and hand the
// samples from its first kept frame (minus the warm-up) to an encoder of
// its own; its packets go to out, renumbered into the joined stream. Or,
// measuring, to the segment's meter.
class SegmentRun {
public:
    SegmentRun(const SegmentSetup &setup, SegmentProgress &progress, size_t index, SegmentOutput &out,
               SegmentReuse &reuse)
        : setup_(setup), progress_(progress), segment_(setup.segments[index]), index_(index), out_(out), reuse_(reuse),
          meter_(setup.meters), layout_(meter_ ? meter_->Layout() : setup.output->Layout()),
          rate_(meter_ ? meter_->SampleRate() : setup.output->SampleRate()),
          sampleFormat_(meter_ ? AV_SAMPLE_FMT_FLT : setup.output->SampleFormat()), format_(setup.options->format),
          flac_(format_ == OutputFormat::Flac)
    {
        const int64_t fs = setup.frameSamples;
        first_ = std::max<int64_t>(0, segment_.start - setup.warmFrames * fs);
        stop_ = segment_.last ? setup.endSamples.value_or(INT64_MAX) : segment_.end + setup.tailFrames * fs;
        if (format_ != OutputFormat::Wav && !meter_) {
            if (flac_ && reuse_.flacEncoder) {
                encoder_ = std::move(reuse_.flacEncoder);
            } else {
                AVDictionary *options = EncoderOptionsFor(format_, segment_);
                encoder_ = setup.output->NewEncoder(&options);
                av_dict_free(&options);
                if (flac_)
                    UsePacketPool(*encoder_, reuse_);
            }
            frames_ = std::make_unique<FrameEncoder>(*encoder_, [this](AVPacket *packet) { Keep(packet); });
            frames_->ShareBuffers(reuse_.frames);
            if (flac_)
                // The samples each frame was made of, for the writer's MD5 sum:
                // the encoder copies them in, so the buffer is shared, never changed.
                frames_->beforeEncoding = [this](const AVFrame &frame) {
                    if (!frame.buf[0] || frame.data[0] != frame.buf[0]->data || frame.buf[1])
                        throw EncoderError("Cannot join the FLAC segments");
                    pcm_.push_back(FrameSamples{BufferRefPtr(av_buffer_ref(frame.buf[0])), frame.nb_samples});
                    if (!pcm_.back().buffer)
                        throw std::bad_alloc();
                };
        }
        // Levelling resamples into the leveller's floats, which it turns
        // into the encoder's format; with no limiter it holds nothing back.
        if (setup.gainDb && !meter_)
            leveller_ =
                std::make_unique<Leveller>(*setup.gainDb, std::nullopt, layout_.nb_channels, rate_, sampleFormat_);
        if (reuse_.resampler) {
            resampler_ = std::move(reuse_.resampler);
            resampler_->Restart();
        } else {
            resampler_ = std::make_unique<Resampler>(layout_, leveller_ ? AV_SAMPLE_FMT_FLTP : sampleFormat_, rate_);
        }
    }

    // The output sample where decoding starts, warm-up of decoder and
    // resampler included.
    int64_t DecodeFrom() const { return std::max<int64_t>(0, first_ - setup_.prerollSamples); }

    // Sets where the resampler's input begins: input sample inStart, which
    // lands on output sample outStart.
    void Begin(int64_t inStart, int64_t outStart)
    {
        inStart_ = inStart;
        outPos_ = outStart;
    }

    // A decoded frame whose first sample is input sample position; false
    // once the segment has all it needs.
    bool Take(AVFrame &frame, int64_t position)
    {
        const int64_t skip = std::clamp<int64_t>(inStart_ - position, 0, frame.nb_samples);
        if (skip >= frame.nb_samples)
            return true;
        progress_.framesDecoded.fetch_add(1, std::memory_order_relaxed);
        GuardFrame(frame);
        if (resampler_->Differs(frame)) {
            Drain();
            resampler_->Setup(frame);
        }
        const auto format = AVSampleFormat(frame.format);
        const bool planar = av_sample_fmt_is_planar(format);
        const size_t stride =
            size_t(av_get_bytes_per_sample(format)) * size_t(planar ? 1 : frame.ch_layout.nb_channels);
        std::vector<const uint8_t *> planes(planar ? frame.ch_layout.nb_channels : 1);
        for (size_t i = 0; i < planes.size(); ++i)
            planes[i] = frame.extended_data[i] + size_t(skip) * stride;
        const int slice = resampler_->InputSlice(kSliceSamples);
        for (int64_t left = frame.nb_samples - skip; left > 0 && outPos_ < stop_; left -= slice) {
            Convert(planes.data(), int(std::min<int64_t>(left, slice)));
            for (const uint8_t *&plane : planes)
                plane += size_t(slice) * stride;
        }
        return outPos_ < stop_;
    }

    // The input ended (end: truly, not by a stop request) or the segment
    // has all it needs: the encoder's last packets, and the segment's end.
    void Finish(bool end)
    {
        if (end)
            Drain();
        const bool reachedEnd = end && outPos_ < stop_ && !segment_.last;
        if (frames_) {
            const SkipLibraryMd5 unsummed(flac_);
            if (flac_ && frames_->Settled())
                reuse_.flacEncoder = std::move(encoder_);
            else if (frames_->SamplesWritten() > 0)
                frames_->Flush();
        }
        reuse_.resampler = std::move(resampler_);
        if (reachedEnd)
            for (SegmentPiece &piece : beyondEnd_)
                out_.Push(std::move(piece));
        out_.Finish(reachedEnd);
    }

private:
    void Convert(const uint8_t *const *planes, int samples)
    {
        const int capacity = std::max(1, resampler_->MaxOutput(samples));
        Reserve(capacity);
        Deliver(Resample(planes, samples, capacity));
    }

    // Into converted_, through the leveller where there is one.
    int Resample(const uint8_t *const *planes, int samples, int capacity)
    {
        if (!leveller_)
            return resampler_->Convert(converted_->extended_data, capacity, planes, samples);
        const int got = resampler_->Convert(leveller_->Input(capacity), capacity, planes, samples);
        return got > 0 ? leveller_->Process(got, converted_->extended_data) : got;
    }

    void Drain()
    {
        if (!resampler_->Ready())
            return;
        for (int round = 0; round < 16 && outPos_ < stop_; ++round) {
            const int capacity = std::max(1, resampler_->MaxOutput(0));
            Reserve(capacity);
            const int got = Resample(nullptr, 0, capacity);
            if (got <= 0)
                break;
            Deliver(got);
        }
    }

    void Reserve(int samples)
    {
        if (converted_ && converted_->nb_samples >= samples)
            return;
        converted_ = MakeFrame();
        converted_->format = sampleFormat_;
        converted_->sample_rate = rate_;
        converted_->nb_samples = samples;
        if (av_channel_layout_copy(&converted_->ch_layout, &layout_) < 0
            || av_frame_get_buffer(converted_.get(), 0) < 0)
            throw std::bad_alloc();
    }

    // n converted samples, the first at output sample outPos_: those between
    // the first kept (warm-up included) and the stop go on.
    void Deliver(int n)
    {
        const int64_t from = std::max(outPos_, first_);
        const int64_t to = std::min(outPos_ + n, stop_);
        const int64_t kept = std::min(to, segment_.last ? to : segment_.end) - std::max(from, segment_.start);
        if (kept > 0)
            progress_.samples.fetch_add(kept, std::memory_order_relaxed);
        if (to > from) {
            const int offset = int(from - outPos_);
            if (meter_)
                Measure(from, offset, int(to - from));
            else if (encoder_)
                Feed(offset, int(to - from));
            else
                WritePcm(from, offset, int(to - from));
        }
        outPos_ += n;
    }

    void Measure(int64_t position, int offset, int n)
    {
        const float *samples = reinterpret_cast<const float *>(converted_->extended_data[0]);
        meter_->Add(index_, position, samples + size_t(offset) * size_t(layout_.nb_channels), n);
    }

    void WritePcm(int64_t position, int offset, int n)
    {
        const int blockAlign = layout_.nb_channels * 2;
        PacketPtr packet = MakePacket();
        if (av_new_packet(packet.get(), n * blockAlign) < 0)
            throw std::bad_alloc();
        std::copy_n(converted_->extended_data[0] + size_t(offset) * blockAlign, size_t(n) * blockAlign, packet->data);
        packet->pts = packet->dts = position;
        packet->duration = n;
        out_.Push(SegmentPiece{std::move(packet), n, {}});
    }

    void Feed(int offset, int n)
    {
        const bool planar = av_sample_fmt_is_planar(encoder_->sample_fmt);
        const int channels = encoder_->ch_layout.nb_channels;
        std::vector<const uint8_t *> planes(size_t(planar ? channels : 1));
        const size_t stride = size_t(av_get_bytes_per_sample(encoder_->sample_fmt)) * size_t(planar ? 1 : channels);
        for (size_t i = 0; i < planes.size(); ++i)
            planes[i] = converted_->extended_data[i] + size_t(offset) * stride;
        // A FLAC segment's encoder sums nothing: the writer sums the whole file.
        const SkipLibraryMd5 unsummed(flac_);
        frames_->Write(planes.data(), n);
    }

    // The encoder's packets are its frames, in order: the n-th is frame
    // first_/fs + n of the joined stream.
    void Keep(AVPacket *encoded)
    {
        if (encoded->size <= 0)
            return;
        PacketPtr packet = MakePacket();
        av_packet_move_ref(packet.get(), encoded);
        const int64_t fs = setup_.frameSamples;
        const int64_t index = first_ / fs + packets_++;
        SegmentPiece piece;
        if (flac_) {
            if (pcm_.empty())
                throw EncoderError("Cannot join the FLAC segments");
            piece.pcm = std::move(pcm_.front().buffer);
            piece.samples = pcm_.front().samples;
            pcm_.pop_front();
            if (!HasRoomToRenumber(*packet))
                MoveToRoomierPacket(packet);
            const std::span<uint8_t> frame = RenumberFlacFrame(packet->data, packet->size, uint32_t(index));
            if (frame.empty())
                throw EncoderError("Cannot join the FLAC segments");
            packet->data = frame.data();
            packet->size = int(frame.size());
        } else {
            piece.samples = packet->duration;
        }
        if (index < segment_.start / fs)
            return; // warm-up
        packet->pts = packet->dts = index * fs;
        packet->duration = piece.samples;
        piece.packet = std::move(packet);
        if (!segment_.last && index >= segment_.end / fs)
            beyondEnd_.push_back(std::move(piece)); // wanted only where the input ends here
        else
            out_.Push(std::move(piece));
    }

    const SegmentSetup &setup_;
    SegmentProgress &progress_;
    const Segment &segment_;
    const size_t index_;
    SegmentOutput &out_;
    SegmentReuse &reuse_;
    PartMeters *meter_;
    const AVChannelLayout &layout_;
    const int rate_;
    const AVSampleFormat sampleFormat_; // of converted_
    const OutputFormat format_;
    const bool flac_;

    int64_t first_ = 0; // first output sample the encoder gets
    int64_t stop_ = 0;  // output sample where the encoder's input ends
    int64_t inStart_ = 0;
    int64_t outPos_ = 0; // output position of the resampler's next sample

    std::unique_ptr<Resampler> resampler_;
    std::unique_ptr<Leveller> leveller_;
    FramePtr converted_;
    CodecContextPtr encoder_;
    std::unique_ptr<FrameEncoder> frames_;
    int64_t packets_ = 0;
    struct FrameSamples {
        BufferRefPtr buffer;
        int samples = 0;
    };
    std::deque<FrameSamples> pcm_;
    std::vector<SegmentPiece> beyondEnd_;
};

void SegmentEncoder::OpenInput()
{
    input_ = std::make_unique<InputMedia>();
    if (!input_->Open(setup_.options->inputPath, setup_.headerTellsAll))
        throw EncoderError("Stopped"); // a stop request while opening; the writer stops anyway
    input_->SelectAudio(setup_.audioTrack);
    input_->OpenDecoder();
    fresh_ = true;
}

void SegmentEncoder::Encode(size_t index, SegmentOutput &out)
{
    try {
        SegmentRun run(setup_, progress_, index, out, reuse_);
        if (!input_)
            OpenInput();

        const int inRate = setup_.inputRate;
        const int outRate = setup_.meters ? setup_.meters->SampleRate() : setup_.output->SampleRate();
        if (inRate <= 0)
            throw EncoderError("The input's sample rate is unknown");
        // The resampler starts on an input sample that falls exactly on an
        // output sample, so every output sample is computed as the
        // single-thread run computes it.
        const int64_t common = std::gcd(inRate, outRate);
        const int64_t step = inRate / common;
        const int64_t inPart = av_rescale(run.DecodeFrom(), inRate, outRate) / step * step;
        const int64_t inStart = setup_.partOffset + inPart;
        run.Begin(inStart, inPart / step * (outRate / common));

        // Seek a little before the start. A demuxer that lands after it, or
        // frames without timestamps, make the segment decode from the top.
        bool fromTop = inStart == 0;
        for (int attempt = 0;; ++attempt) {
            if (!fromTop || !fresh_) {
                const AVStream *audio = input_->Audio();
                const int64_t target =
                    inPart == 0 && setup_.partSeekTs
                        ? *setup_.partSeekTs
                        : setup_.originPts + av_rescale_q(inStart, AVRational{1, inRate}, audio->time_base) - 1;
                if (fromTop || !input_->SeekAudio(target)) {
                    OpenInput();
                    fromTop = true;
                    avcodec_flush_buffers(input_->Decoder());
                }
            }
            fresh_ = false;
            if (Decode(run, inStart, fromTop) || attempt > 0)
                break;
            fromTop = true;
        }
    } catch (...) {
        input_.reset();
        out.Finish(false, std::current_exception());
    }
}

bool SegmentEncoder::Decode(SegmentRun &run, int64_t inStart, bool fromTop)
{
    AVCodecContext *decoder = input_->Decoder();
    const AVStream *audio = input_->Audio();
    PacketPtr packet = MakePacket();
    FramePtr frame = MakeFrame();
    bool placed = fromTop;
    int64_t position = 0;
    bool wanted = true;
    bool missed = false;
    auto deliver = [&] {
        while (wanted && avcodec_receive_frame(decoder, frame.get()) >= 0) {
            if (frame->nb_samples > 0 && frame->sample_rate > 0 && frame->ch_layout.nb_channels > 0
                && frame->format >= 0) {
                if (!placed) {
                    // A landing that cannot be placed, or one after the
                    // start, sends the segment back to the top.
                    placed = true;
                    const std::optional<int64_t> at = PlaceAfterSeek(setup_, *frame, audio->time_base);
                    missed = !at || *at > inStart;
                    position = at.value_or(0);
                    wanted = !missed;
                }
                if (wanted)
                    wanted = run.Take(*frame, position) && !progress_.cancelled.load();
                position += frame->nb_samples;
            }
            av_frame_unref(frame.get());
        }
    };
    while (wanted && input_->ReadPacket(packet.get())) {
        if (packet->stream_index == audio->index && avcodec_send_packet(decoder, packet.get()) >= 0)
            deliver();
        av_packet_unref(packet.get());
    }
    if (missed)
        return false;
    const bool end = wanted && !StopControl::Requested() && !progress_.cancelled.load();
    if (end && avcodec_send_packet(decoder, nullptr) >= 0)
        deliver();
    if (end)
        input_.reset(); // at its end: the next segment opens it afresh
    run.Finish(end && wanted);
    return true;
}
