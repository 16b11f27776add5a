#pragma once
// FLAC frames for one segment of a file cut into segments, made by libFLAC:
// FFmpeg's encoder always takes an MD5 sum of what it encodes, which for a
// segment is thrown away (the writer sums the joined file), and that cost
// alone kept two threads from twice the speed of one. libFLAC leaves it out
// on request; its frames are lossless all the same, so the joined file
// decodes to the very samples one thread gives.

#include "AvHandles.h"

#include <FLAC/stream_encoder.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <vector>

class FlacSegmentEncoder {
public:
    // Frames of like's block size, rate, channels and sample width (16 bits
    // in s16, 24 in the top of s32); each frame is handed to packets as one
    // packet, numbered from 0.
    FlacSegmentEncoder(const AVCodecContext &like, std::function<void(AVPacket *)> packets);
    ~FlacSegmentEncoder();
    FlacSegmentEncoder(const FlacSegmentEncoder &) = delete;
    FlacSegmentEncoder &operator=(const FlacSegmentEncoder &) = delete;

    // One frame of packed samples in like's format; nullptr: the end, when
    // the last frames come out.
    void Encode(const AVFrame *frame);

private:
    static FLAC__StreamEncoderWriteStatus Written(const FLAC__StreamEncoder *, const FLAC__byte buffer[], size_t bytes,
                                                  uint32_t samples, uint32_t, void *self);
    void Check(bool ok);

    FLAC__StreamEncoder *encoder_ = nullptr;
    std::function<void(AVPacket *)> packets_;
    PacketPtr packet_;
    std::vector<FLAC__int32> samples_;
    bool deep_ = false;
    bool finished_ = false;
    std::exception_ptr error_; // thrown in a callback, which must not unwind through libFLAC
};
