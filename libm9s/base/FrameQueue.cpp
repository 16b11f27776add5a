#include "libm9s/base/FrameQueue.h"

FrameQueue::FrameQueue(size_t maxFrames, int64_t maxSamples) : maxFrames_(maxFrames), maxSamples_(maxSamples) {}

bool FrameQueue::Full() const
{
    // One frame always fits, however large, so that nothing can stall.
    return !frames_.empty() && (frames_.size() >= maxFrames_ || samples_ >= maxSamples_);
}

bool FrameQueue::BelowHalf() const { return frames_.size() <= maxFrames_ / 2 && samples_ <= maxSamples_ / 2; }

bool FrameQueue::Push(FramePtr frame)
{
    std::unique_lock lock(mutex_);
    if (!cancelled_ && Full()) {
        // Woken only once the consumer has emptied half the queue, so the
        // two threads do not hand over every single frame.
        producerWaiting_ = true;
        changed_.wait(lock, [&] { return cancelled_ || BelowHalf(); });
        producerWaiting_ = false;
    }
    if (cancelled_)
        return false;
    samples_ += frame->nb_samples;
    frames_.push_back(std::move(frame));
    if (consumerWaiting_)
        changed_.notify_all();
    return true;
}

void FrameQueue::Finish(std::exception_ptr error)
{
    std::lock_guard lock(mutex_);
    finished_ = true;
    error_ = error;
    changed_.notify_all();
}

bool FrameQueue::Cancelled()
{
    std::lock_guard lock(mutex_);
    return cancelled_;
}

FramePtr FrameQueue::Pop()
{
    std::unique_lock lock(mutex_);
    if (frames_.empty() && !finished_) {
        consumerWaiting_ = true;
        changed_.wait(lock, [&] { return !frames_.empty() || finished_; });
        consumerWaiting_ = false;
    }
    if (frames_.empty()) {
        if (error_)
            std::rethrow_exception(std::exchange(error_, nullptr));
        return nullptr;
    }
    FramePtr frame = std::move(frames_.front());
    frames_.pop_front();
    samples_ -= frame->nb_samples;
    if (producerWaiting_ && BelowHalf())
        changed_.notify_all();
    return frame;
}

void FrameQueue::Cancel()
{
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    frames_.clear();
    samples_ = 0;
    changed_.notify_all();
}

void FrameQueue::WaitFinished()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return finished_; });
}
