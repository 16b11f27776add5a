#pragma once
// Audio on its way into an encoder: buffered until a whole frame of the
// encoder's size is there, each frame sent, each packet handed on. The whole
// file's encoder (OutputMedia) and each segment's (SegmentJoin.h) go
// through the same steps, so both encode alike.

#include "libm9s/base/AvHandles.h"

#include <cstdint>
#include <functional>

class FrameEncoder {
public:
    // packets: every packet the encoder makes, in order; it may take the
    // packet's data over (av_packet_move_ref) and must not keep the packet.
    FrameEncoder(AVCodecContext &encoder, std::function<void(AVPacket *)> packets);

    // Called with every frame just before it is encoded (FLAC's MD5 sum of a
    // segment is taken over exactly these samples).
    std::function<void(const AVFrame &)> beforeEncoding;

    // n samples in the encoder's format, one pointer per plane; whole frames
    // are encoded at once.
    void Write(const uint8_t *const *planes, int n);
    // What is left as a last, perhaps short, frame (padded with silence for
    // an encoder that wants whole ones); then the encoder's last packets.
    void Flush();

    int64_t SamplesWritten() const { return written_; }

    // Frame buffers come from pool from now on. It may outlive this
    // encoder: the next one then takes the buffers whoever kept this one's
    // frames (a FLAC segment's writer) gives back, instead of fresh memory.
    void ShareBuffers(SizedBufferPool &pool) { pool_ = &pool; }
    // Every sample written went out in whole frames, each of which gave its
    // packet: an encoder whose frames stand alone can go on with others.
    bool Settled() const;

private:
    void EncodeBuffered(bool final);
    // frame_ ready for samples of the encoder's format.
    void NewFrame(int samples);
    // Sends one frame (nullptr: the end) and hands on the packets it gives.
    void Send(const AVFrame *frame);

    AVCodecContext &encoder_;
    std::function<void(AVPacket *)> packets_;
    AudioFifoPtr fifo_;
    SizedBufferPool ownPool_;
    SizedBufferPool *pool_ = &ownPool_;
    FramePtr frame_;
    PacketPtr packet_;
    int64_t written_ = 0;
    int64_t encoded_ = 0;
    int64_t framesSent_ = 0;
    int64_t packetsReceived_ = 0;
    bool shortFrameSent_ = false;
};
