#pragma once
// A seekable I/O context that keeps what a muxer writes in memory. A copy
// tries its container here first: what the trial muxer takes, the real one
// takes too, and the output file is not touched before that is known.

#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavformat/avio.h>
}

class MemorySink {
public:
    MemorySink();
    ~MemorySink();
    MemorySink(const MemorySink &) = delete;
    MemorySink &operator=(const MemorySink &) = delete;

    AVIOContext *Io() const { return io_; }
    // What was written so far (flushed first).
    const std::vector<uint8_t> &Bytes();

private:
    static int Write(void *opaque, uint8_t *data, int size);
    static int64_t Seek(void *opaque, int64_t offset, int whence);

    std::vector<uint8_t> bytes_;
    size_t position_ = 0;
    AVIOContext *io_ = nullptr;
};

// The codec of the first audio stream that the demuxer named finds in
// bytes (a whole small file); AV_CODEC_ID_NONE when it finds none.
AVCodecID CodecReadBack(const std::vector<uint8_t> &bytes, const char *demuxer);
