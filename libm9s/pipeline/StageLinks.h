#pragma once
// What the pipeline puts between two stages: the encoder behind the -t
// limit, and the queue from the reading thread to the converting one.

#include "libm9s/base/AudioSink.h"
#include "libm9s/base/AvHandles.h"

#include <cstdint>
#include <optional>

class FrameQueue;
class OutputMedia;

// The output, taking samples up to limitSamples (-t, reckoned from both
// ends of the part) and no more.
class LimitedOutput final : public AudioSink {
public:
    LimitedOutput(OutputMedia &output, std::optional<int64_t> limitSamples);

    uint8_t **Reserve(int samples) override;
    void Commit(int samples) override { Write(nullptr, samples); }
    bool Full() const override { return reached_; }
    // planes == nullptr: the samples are in the room Reserve() gave.
    void Write(const uint8_t *const *planes, int samples);
    std::optional<int64_t> Limit() const { return limit_; }

private:
    OutputMedia &output_;
    std::optional<int64_t> limit_;
    bool reached_ = false;
};

// Frames in the output's format, handed to the converting thread; full
// once that one wants no more.
class QueueSink final : public AudioSink {
public:
    QueueSink(FrameQueue &queue, const OutputMedia &output) : queue_(queue), output_(output) {}

    uint8_t **Reserve(int samples) override;
    void Commit(int samples) override;
    bool Full() const override { return abandoned_; }

private:
    FrameQueue &queue_;
    const OutputMedia &output_;
    FramePtr frame_; // the one being filled
    bool abandoned_ = false;
};
