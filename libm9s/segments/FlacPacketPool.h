#pragma once
// A FLAC segment encoder's packets: taken from its thread's pool, with
// room before each frame (kFlacNumberGrowth) to renumber it into the joined
// stream where it is, without a copy.

#include "libm9s/base/AvHandles.h"

struct SegmentReuse;

// Where the encoder takes its packets' buffers from the caller (FFmpeg's
// FLAC encoder does), from reuse's pool.
void UsePacketPool(AVCodecContext &encoder, SegmentReuse &reuse);
// The packet has room before its frame to be renumbered in place.
bool HasRoomToRenumber(const AVPacket &packet);
// A copy of the packet's frame with room before it, for a packet that has
// none (one the encoder did not take from the pool).
void MoveToRoomierPacket(PacketPtr &packet);
