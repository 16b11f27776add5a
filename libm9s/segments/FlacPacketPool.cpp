#include "libm9s/segments/FlacPacketPool.h"

#include "libm9s/segments/SegmentJoin.h"
#include "libm9s/segments/Segments.h"

#include <cstring>
#include <new>
#include <utility>

namespace {

// The pool's buffers: as large as a frame of raw samples, which the
// encoder never exceeds (it falls back to raw samples when its coding
// would), with room before it.
size_t FlacPacketCapacity(const AVCodecContext &encoder)
{
    return size_t(encoder.frame_size) * size_t(encoder.ch_layout.nb_channels) * 4 + 64 + kFlacNumberGrowth
           + AV_INPUT_BUFFER_PADDING_SIZE;
}

// A FLAC segment encoder's packets come from the thread's pool, with room
// before them to renumber them in place (kFlacNumberGrowth); one too big
// for the pool's buffers gets its own.
int PooledFlacPacket(AVCodecContext *encoder, AVPacket *packet, int /*flags*/)
{
    auto &reuse = *static_cast<SegmentReuse *>(encoder->opaque);
    const size_t bytes = kFlacNumberGrowth + size_t(packet->size) + AV_INPUT_BUFFER_PADDING_SIZE;
    const size_t capacity = FlacPacketCapacity(*encoder);
    packet->buf = bytes <= capacity ? reuse.flacPackets.Get(capacity) : av_buffer_alloc(bytes);
    if (!packet->buf)
        return AVERROR(ENOMEM);
    packet->data = packet->buf->data + kFlacNumberGrowth;
    std::memset(packet->data + packet->size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    return 0;
}

} // namespace

bool HasRoomToRenumber(const AVPacket &packet)
{
    return packet.buf && av_buffer_is_writable(packet.buf) && packet.data - packet.buf->data >= kFlacNumberGrowth;
}

// A copy of the packet's frame with room before it, for a packet that has
// none (one the encoder did not take from the pool).
void MoveToRoomierPacket(PacketPtr &packet)
{
    PacketPtr roomier = MakePacket();
    if (av_new_packet(roomier.get(), kFlacNumberGrowth + packet->size) < 0)
        throw std::bad_alloc();
    roomier->data += kFlacNumberGrowth;
    roomier->size = packet->size;
    std::memcpy(roomier->data, packet->data, size_t(packet->size));
    packet = std::move(roomier);
}

// Where the encoder takes its packets' buffers from the caller (FFmpeg's
// does), from reuse's pool.
void UsePacketPool(AVCodecContext &encoder, SegmentReuse &reuse)
{
    if (!(encoder.codec->capabilities & AV_CODEC_CAP_DR1) || encoder.frame_size <= 0)
        return;
    encoder.opaque = &reuse;
    encoder.get_encode_buffer = PooledFlacPacket;
}
