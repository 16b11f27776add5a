#include "libm9s/segments/FlacMd5.h"

#include "libm9s/base/EncoderError.h"

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

#include <bit>
#include <new>
#include <span>

namespace {

// Blocks the summing thread is woken for at once, and the most that may
// wait for it (a FLAC frame's samples each: some 18 KB at 16 bits stereo).
constexpr size_t kWakeBatch = 64;
constexpr size_t kMostWaiting = 1024;

} // namespace

FlacMd5::FlacMd5(int channels, bool wide) : channels_(channels), wide_(wide), md5_(av_md5_alloc(), av_free)
{
    if (!md5_)
        throw std::bad_alloc();
    av_md5_init(md5_.get());
    thread_ = std::thread([this] { Run(); });
}

FlacMd5::~FlacMd5() { Stop(true); }

void FlacMd5::Stop(bool abandon)
{
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        abandoned_ = abandon;
        changed_.notify_all();
    }
    if (thread_.joinable())
        thread_.join();
}

void FlacMd5::Add(BufferRefPtr pcm, int64_t samples)
{
    std::unique_lock lock(mutex_);
    if (waiting_.size() >= kMostWaiting) {
        adderWaiting_ = true;
        changed_.wait(lock, [&] { return waiting_.size() < kMostWaiting / 2 || error_; });
        adderWaiting_ = false;
    }
    if (error_)
        std::rethrow_exception(error_);
    waiting_.push_back(Block{std::move(pcm), samples});
    if (summerWaiting_ && waiting_.size() >= kWakeBatch)
        changed_.notify_all();
}

void FlacMd5::Final(uint8_t digest[16])
{
    Stop(false);
    if (error_)
        std::rethrow_exception(error_);
    av_md5_final(md5_.get(), digest);
}

void FlacMd5::Run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        summerWaiting_ = true;
        changed_.wait(lock, [&] { return closing_ || waiting_.size() >= kWakeBatch; });
        summerWaiting_ = false;
        if (abandoned_ || (waiting_.empty() && closing_))
            return;
        std::deque<Block> blocks;
        blocks.swap(waiting_);
        if (adderWaiting_)
            changed_.notify_all();
        lock.unlock();
        try {
            for (const Block &block : blocks)
                Sum(block);
            blocks.clear(); // the buffers go back from here, not under the lock
        } catch (...) {
            lock.lock();
            error_ = std::current_exception();
            changed_.notify_all();
            return;
        }
        lock.lock();
    }
}

// FLAC's MD5 sum covers the samples as little-endian integers of the
// stream's width: 16 bits as they are, 24 bits from the top of each 32-bit
// sample.
void FlacMd5::Sum(const Block &block)
{
    const AVBufferRef &pcm = *block.pcm;
    const size_t values = size_t(block.samples) * size_t(channels_);
    if (values * (wide_ ? 4 : 2) > pcm.size)
        throw EncoderError("Cannot join the FLAC segments");
    if (!wide_ && std::endian::native == std::endian::little) {
        av_md5_update(md5_.get(), pcm.data, values * 2);
        return;
    }
    packed_.resize(values * (wide_ ? 3 : 2));
    uint8_t *out = packed_.data();
    if (!wide_) {
        for (const int16_t v : std::span(reinterpret_cast<const int16_t *>(pcm.data), values)) {
            *out++ = uint8_t(v);
            *out++ = uint8_t(v >> 8);
        }
    } else {
        for (const int32_t sample : std::span(reinterpret_cast<const int32_t *>(pcm.data), values)) {
            const int32_t v = sample >> 8;
            *out++ = uint8_t(v);
            *out++ = uint8_t(v >> 8);
            *out++ = uint8_t(v >> 16);
        }
    }
    av_md5_update(md5_.get(), packed_.data(), packed_.size());
}
