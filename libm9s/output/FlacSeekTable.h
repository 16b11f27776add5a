#pragma once
// FLAC's SEEKTABLE, which FFmpeg's muxer does not write: a seek point every
// ten seconds, as the reference encoder places them, written at the end
// into the padding the muxer leaves last among the metadata blocks. Players
// then seek in a long file without searching it for frames.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

class FlacSeekTable {
public:
    static constexpr int kPointBytes = 18;
    static constexpr int kSpacingSeconds = 10;
    // The padding to ask the muxer for: the usual 8192 bytes for tags
    // edited later, and a point per ten seconds of what is expected, up
    // to a day.
    static int PaddingFor(int64_t expectedSamples, int sampleRate);

    explicit FlacSeekTable(int sampleRate);

    // Each frame as it reaches the file, in order: its size in bytes and
    // its samples.
    void Add(int64_t bytes, int samples);
    // The frames' bytes so far: where the first frame begins, counted back
    // from the end of the file.
    int64_t FrameBytes() const { return frameBytes_; }

    // A SEEKTABLE block, then a PADDING block with what is left: exactly
    // room bytes, block headers included; the last of them flagged last.
    // Evenly chosen points where not all fit; empty when room cannot hold
    // a single one, or there is none.
    std::vector<uint8_t> Blocks(size_t room) const;

    // The last metadata block the muxer writes for padding bytes of
    // padding: its header, and its bytes with the header.
    static std::array<uint8_t, 4> LastPaddingHeader(int padding);
    static size_t PaddingBlockBytes(int padding) { return size_t(padding) + 4; }

private:
    struct Point {
        int64_t sample;
        int64_t offset;
        int samples;
    };
    int64_t spacing_;
    int64_t next_ = 0;    // the sample the next point waits for
    int64_t samples_ = 0; // the first sample of the next frame
    int64_t frameBytes_ = 0;
    std::vector<Point> points_;
};
