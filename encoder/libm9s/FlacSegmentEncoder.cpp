#include "FlacSegmentEncoder.h"

#include "EncoderError.h"

#include <algorithm>
#include <new>
#include <utility>

// Exported by libFLAC, and what its own flac tool's --no-md5-sum calls, but
// declared only in its private headers.
extern "C" FLAC_API FLAC__bool FLAC__stream_encoder_set_do_md5(FLAC__StreamEncoder *encoder, FLAC__bool value);

namespace {

// The preset FFmpeg's encoder uses by default too.
constexpr unsigned kCompressionLevel = 5;

} // namespace

FlacSegmentEncoder::FlacSegmentEncoder(const AVCodecContext &like, std::function<void(AVPacket *)> packets)
    : packets_(std::move(packets)), packet_(MakePacket())
{
    encoder_ = FLAC__stream_encoder_new();
    if (!encoder_)
        throw std::bad_alloc();
    deep_ = like.sample_fmt == AV_SAMPLE_FMT_S32;
    bool ok = FLAC__stream_encoder_set_channels(encoder_, unsigned(like.ch_layout.nb_channels))
              && FLAC__stream_encoder_set_bits_per_sample(encoder_, deep_ ? 24 : 16)
              && FLAC__stream_encoder_set_sample_rate(encoder_, unsigned(like.sample_rate))
              && FLAC__stream_encoder_set_compression_level(encoder_, kCompressionLevel)
              && FLAC__stream_encoder_set_blocksize(encoder_, unsigned(like.frame_size))
              && FLAC__stream_encoder_set_do_md5(encoder_, false);
    ok = ok
         && FLAC__stream_encoder_init_stream(encoder_, &FlacSegmentEncoder::Written, nullptr, nullptr, nullptr, this)
                == FLAC__STREAM_ENCODER_INIT_STATUS_OK;
    if (!ok) {
        FLAC__stream_encoder_delete(encoder_);
        throw EncoderError("Cannot set up the FLAC encoder");
    }
}

FlacSegmentEncoder::~FlacSegmentEncoder()
{
    // An encoder given up on (a stop, a failure) writes nothing more.
    packets_ = nullptr;
    FLAC__stream_encoder_delete(encoder_);
}

void FlacSegmentEncoder::Encode(const AVFrame *frame)
{
    if (!frame) {
        if (!std::exchange(finished_, true))
            Check(FLAC__stream_encoder_finish(encoder_));
        return;
    }
    const size_t values = size_t(frame->nb_samples) * size_t(frame->ch_layout.nb_channels);
    samples_.resize(values);
    if (deep_) {
        const auto *in = reinterpret_cast<const int32_t *>(frame->data[0]);
        std::transform(in, in + values, samples_.begin(), [](int32_t v) { return v >> 8; });
    } else {
        const auto *in = reinterpret_cast<const int16_t *>(frame->data[0]);
        std::copy(in, in + values, samples_.begin());
    }
    Check(FLAC__stream_encoder_process_interleaved(encoder_, samples_.data(), unsigned(frame->nb_samples)));
}

void FlacSegmentEncoder::Check(bool ok)
{
    if (error_)
        std::rethrow_exception(std::exchange(error_, nullptr));
    if (!ok)
        throw EncoderError(std::string("Cannot encode audio: ")
                           + FLAC__stream_encoder_get_resolved_state_string(encoder_));
}

FLAC__StreamEncoderWriteStatus FlacSegmentEncoder::Written(const FLAC__StreamEncoder *, const FLAC__byte buffer[],
                                                           size_t bytes, uint32_t samples, uint32_t, void *self)
{
    auto &me = *static_cast<FlacSegmentEncoder *>(self);
    // The stream's marker and STREAMINFO come without samples: the joined
    // file has its own.
    if (samples == 0 || !me.packets_)
        return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    try {
        if (av_new_packet(me.packet_.get(), int(bytes)) < 0)
            throw std::bad_alloc();
        std::copy_n(buffer, bytes, me.packet_->data);
        me.packet_->duration = samples;
        me.packets_(me.packet_.get());
        av_packet_unref(me.packet_.get());
    } catch (...) {
        av_packet_unref(me.packet_.get());
        me.error_ = std::current_exception();
        return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}
