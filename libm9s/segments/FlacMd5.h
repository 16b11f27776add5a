#pragma once
// FLAC's MD5 sum of the joined stream's samples, taken on a thread of its
// own. It is the one step of a joined FLAC that cannot be cut up (each
// block of the sum goes on from the one before), so on many cores it sets
// the pace: alone on its thread, apart from the muxer's work, it goes as
// fast as one core sums.

#include "libm9s/base/AvHandles.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

class FlacMd5 {
public:
    // Samples as the encoder takes them: 16-bit, or 24 bits at the top of
    // 32-bit ones (wide), interleaved over channels.
    FlacMd5(int channels, bool wide);
    ~FlacMd5();
    FlacMd5(const FlacMd5 &) = delete;
    FlacMd5 &operator=(const FlacMd5 &) = delete;

    // The next samples of the stream, from the start of pcm (a reference
    // the summing thread lets go of). Waits while the thread is far behind,
    // so that the samples waiting for it stay a few megabytes.
    void Add(BufferRefPtr pcm, int64_t samples);
    // The sum of everything added; rethrows what went wrong on the thread.
    // Once only: the thread ends with it.
    void Final(uint8_t digest[16]);

private:
    struct Block {
        BufferRefPtr pcm;
        int64_t samples = 0;
    };
    void Run();
    void Sum(const Block &block);
    // Lets the thread finish what waits (or drop it: abandon) and joins it.
    void Stop(bool abandon);

    const int channels_;
    const bool wide_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Block> waiting_;
    bool closing_ = false;
    bool abandoned_ = false;
    bool summerWaiting_ = false;
    bool adderWaiting_ = false;
    std::exception_ptr error_;
    std::vector<uint8_t> packed_;
    std::unique_ptr<struct AVMD5, void (*)(void *)> md5_;
    std::thread thread_;
};
