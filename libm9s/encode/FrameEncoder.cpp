#include "libm9s/encode/FrameEncoder.h"

#include "libm9s/base/EncoderError.h"
#include "libm9s/filter/SampleGuard.h"

#include <algorithm>
#include <new>
#include <utility>

namespace {

// Frame size for encoders that take any size (PCM on a big-endian machine).
constexpr int kVariableChunk = 4096;

} // namespace

FrameEncoder::FrameEncoder(AVCodecContext &encoder, std::function<void(AVPacket *)> packets)
    : encoder_(encoder), packets_(std::move(packets))
{
    fifo_.reset(av_audio_fifo_alloc(encoder_.sample_fmt, encoder_.ch_layout.nb_channels, 4096));
    frame_ = MakeFrame();
    packet_ = MakePacket();
    if (!fifo_)
        throw std::bad_alloc();
}

void FrameEncoder::Write(const uint8_t *const *planes, int n)
{
    if (n <= 0)
        return;
    if (av_audio_fifo_write(fifo_.get(), reinterpret_cast<void **>(const_cast<uint8_t **>(planes)), n) < n)
        throw std::bad_alloc();
    written_ += n;
    EncodeBuffered(false);
}

bool FrameEncoder::Settled() const
{
    return av_audio_fifo_size(fifo_.get()) == 0 && !shortFrameSent_ && packetsReceived_ == framesSent_;
}

void FrameEncoder::Flush()
{
    EncodeBuffered(true);
    Send(nullptr);
}

void FrameEncoder::EncodeBuffered(bool final)
{
    const AVCodec *codec = encoder_.codec;
    const bool variable = encoder_.frame_size <= 0 || (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    const int chunk = variable ? kVariableChunk : encoder_.frame_size;
    const int channels = encoder_.ch_layout.nb_channels;

    for (;;) {
        const int available = av_audio_fifo_size(fifo_.get());
        if (available == 0 || (available < chunk && !final))
            return;
        const int n = std::min(available, chunk);

        NewFrame(chunk);
        if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void **>(frame_->extended_data), n) < n)
            throw EncoderError("Cannot read buffered audio");
        GuardSamples(frame_->extended_data, channels, n, encoder_.sample_fmt);

        frame_->nb_samples = n;
        shortFrameSent_ = shortFrameSent_ || n < chunk;
        if (n < chunk && !variable && !(codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME)) {
            // An encoder that wants whole frames gets the last one padded with silence.
            av_samples_set_silence(frame_->extended_data, n, chunk - n, channels, encoder_.sample_fmt);
            frame_->nb_samples = chunk;
        }
        frame_->pts = encoded_;
        encoded_ += frame_->nb_samples;
        if (beforeEncoding)
            beforeEncoding(*frame_);
        Send(frame_.get());
    }
}

void FrameEncoder::NewFrame(int samples)
{
    // The encoder, or whoever took a reference before it was sent, may
    // still hold the last frame's buffer: another one then, not a copy,
    // since it is filled anew.
    if (frame_->buf[0] && !av_frame_is_writable(frame_.get()))
        av_frame_unref(frame_.get());
    frame_->nb_samples = samples;
    frame_->format = encoder_.sample_fmt;
    frame_->sample_rate = encoder_.sample_rate;
    if (!frame_->ch_layout.nb_channels && av_channel_layout_copy(&frame_->ch_layout, &encoder_.ch_layout) < 0)
        throw std::bad_alloc();
    if (frame_->buf[0])
        return;
    const int channels = encoder_.ch_layout.nb_channels;
    const int planes = av_sample_fmt_is_planar(encoder_.sample_fmt) ? channels : 1;
    if (planes > AV_NUM_DATA_POINTERS) {
        if (av_frame_get_buffer(frame_.get(), 0) < 0)
            throw std::bad_alloc();
        return;
    }
    // Buffers that come back when the last reference goes (a FLAC
    // segment's writer keeps one per frame) are taken again, not allocated
    // anew for every frame.
    const int size = av_samples_get_buffer_size(nullptr, channels, samples, encoder_.sample_fmt, 0);
    frame_->buf[0] = size > 0 ? pool_->Get(size_t(size)) : nullptr;
    if (!frame_->buf[0]
        || av_samples_fill_arrays(frame_->data, frame_->linesize, frame_->buf[0]->data, channels, samples,
                                  encoder_.sample_fmt, 0)
               < 0)
        throw std::bad_alloc();
    frame_->extended_data = frame_->data;
}

void FrameEncoder::Send(const AVFrame *frame)
{
    int ret = avcodec_send_frame(&encoder_, frame);
    if (ret < 0)
        throw EncoderError("Cannot encode audio: " + AvErrorText(ret));
    if (frame)
        ++framesSent_;
    for (;;) {
        ret = avcodec_receive_packet(&encoder_, packet_.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return;
        if (ret < 0)
            throw EncoderError("Cannot encode audio: " + AvErrorText(ret));
        ++packetsReceived_;
        packets_(packet_.get());
        av_packet_unref(packet_.get());
    }
}
