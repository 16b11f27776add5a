#pragma once
// Cutting one long conversion into segments that are encoded side by side
// and joined in order: where the cuts go, and the FLAC frame fields that
// must read as one stream after the join.

#include <cstdint>
#include <span>
#include <vector>

struct Segment {
    int64_t start = 0; // output samples, at an encoder frame boundary
    int64_t end = 0;   // exclusive; the last segment runs on to the end of the input
    bool last = false;
};

// Cuts totalSamples into frame-aligned segments: at least one per thread,
// more for a long file so that none is longer than maxSamples (the writer
// keeps finished segments in memory until their turn, and threads that
// finish early find more work), none shorter than minSamples.
std::vector<Segment> PlanSegments(int64_t totalSamples, int frameSamples, int threads, int64_t maxSamples,
                                  int64_t minSamples);

// The plan of a file at sampleRate: about six segments per thread, each
// from half a minute to a minute where the file is long enough, the last
// round cut in quarters, so that no thread is left encoding a long last
// segment alone while the others idle.
std::vector<Segment> PlanFileSegments(int64_t totalSamples, int frameSamples, int threads, int sampleRate);

// Renumbers in place the FLAC frame of a fixed block size at frame (size
// bytes): its header's frame number rewritten, both checksums made anew.
// The header grows or shrinks at its front, so the subframes stay where
// they are; frame has room for kFlacNumberGrowth bytes before it. Returns
// the renumbered frame; empty when frame is no such frame.
constexpr int kFlacNumberGrowth = 5; // a number's coding takes 1 to 6 bytes
std::span<uint8_t> RenumberFlacFrame(uint8_t *frame, int size, uint32_t number);

// The STREAMINFO block for the joined stream: the block sizes, rate,
// channels and bits from the encoder's own (34 bytes), the rest as given.
struct FlacTotals {
    int minFrameBytes = 0;
    int maxFrameBytes = 0;
    int64_t samples = 0;
    uint8_t md5[16] = {};
};
std::vector<uint8_t> FlacStreamInfo(const uint8_t *encoderInfo, const FlacTotals &totals);
