#include "FrameQueue.h"

FrameQueue::FrameQueue(size_t maxFrames, int64_t maxSamples) : maxFrames_(maxFrames), maxSamples_(maxSamples) {}

bool FrameQueue::Push(FramePtr frame)
{
    std::unique_lock lock(mutex_);
    // One frame always fits, however large, so that nothing can stall.
    changed_.wait(lock, [&] {
        return cancelled_ || frames_.empty() || (frames_.size() < maxFrames_ && samples_ < maxSamples_);
    });
    if (cancelled_)
        return false;
    samples_ += frame->nb_samples;
    frames_.push_back(std::move(frame));
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
    changed_.wait(lock, [&] { return !frames_.empty() || finished_; });
    if (frames_.empty()) {
        if (error_)
            std::rethrow_exception(std::exchange(error_, nullptr));
        return nullptr;
    }
    FramePtr frame = std::move(frames_.front());
    frames_.pop_front();
    samples_ -= frame->nb_samples;
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
