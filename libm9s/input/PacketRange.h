#pragma once
// The part of the input a copy keeps (-ss, -t), cut on packet boundaries as
// the ffmpeg program cuts it: the first packet kept is the one that holds
// the -ss point, the last one the one that begins before -ss + -t.
// Timestamps start at zero.

#include "libm9s/base/AvHandles.h"
#include "libm9s/base/Options.h"

#include <cstdint>
#include <optional>

class InputMedia;

class PacketRange {
public:
    PacketRange(InputMedia &input, const EncoderOptions &options);

    // Seeks the input to the packet that holds the start.
    void Seek();
    // -t 0: not even the packet that holds the start.
    bool Empty() const { return endTs_ && *endTs_ <= startTs_; }

    enum class Verdict { Skip, Keep, End };
    // Keep: a packet of the chosen audio in the range, its timestamps
    // shifted to count from the start. started: a packet was kept before.
    Verdict Take(AVPacket &packet, bool started) const;

private:
    InputMedia &input_;
    const EncoderOptions &options_;
    int64_t startTs_ = 0; // the -ss point in the input stream's time base
    std::optional<int64_t> endTs_;
};
