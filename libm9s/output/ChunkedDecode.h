#pragma once
// Decoding a whole stream to count what it gives, on several threads where
// its frames allow: MP3 frames stand alone but for a look back into the
// frames before them (the bit reservoir), so the packets, read in order on
// the calling thread, go out in chunks, and each chunk is decoded by a
// decoder of its own after the last packets of the chunk before, whose
// output is dropped. The decoder applies the skip and discard the demuxer
// attaches to the first and last packets as it would on one thread.

#include "libm9s/base/AvHandles.h"

#include <cstddef>
#include <cstdint>
#include <map>

// Samples decoded, by sample rate.
using SampleCounts = std::map<int, int64_t>;

inline constexpr size_t kDecodeChunkPackets = 4096;

// All of stream that format gives, decoded with decoders opened from its
// parameters; on threads threads for MP3 (chunks of chunkPackets), on the
// calling thread for any other codec or threads < 2.
SampleCounts DecodeAll(AVFormatContext *format, const AVStream *stream, int threads,
                       size_t chunkPackets = kDecodeChunkPackets);
