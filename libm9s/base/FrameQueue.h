#pragma once
// Decoded frames on their way from the reading thread to the converting
// one. Bounded in frames and in samples, so a fast decoder cannot run ahead
// of a slow encoder with unbounded memory.

#include "libm9s/base/AvHandles.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <utility>

class FrameQueue {
public:
    FrameQueue(size_t maxFrames, int64_t maxSamples);

    // Producer. Waits while the queue is full; false once the consumer has
    // cancelled (the frame is then dropped).
    bool Push(FramePtr frame);
    // Producer: no more frames, with the error that ended production, if any.
    void Finish(std::exception_ptr error = nullptr);
    bool Cancelled();

    // Consumer. Waits for the next frame; empty at the end, where the
    // producer's error, if any, is thrown.
    FramePtr Pop();
    // Consumer: wants no more frames; a waiting producer returns.
    void Cancel();
    // Consumer: waits until the producer has called Finish().
    void WaitFinished();

private:
    bool Full() const;
    bool BelowHalf() const;

    const size_t maxFrames_;
    const int64_t maxSamples_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<FramePtr> frames_;
    int64_t samples_ = 0;
    bool finished_ = false;
    bool cancelled_ = false;
    bool producerWaiting_ = false;
    bool consumerWaiting_ = false;
    std::exception_ptr error_;
};
