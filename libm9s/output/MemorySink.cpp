#include "libm9s/output/MemorySink.h"

#include "libm9s/base/AvHandles.h"
#include "libm9s/base/Messages.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr int kBufferSize = 64 * 1024;

// Moves position within bytes of the given size as an AVIOContext's seek
// does; AVSEEK_SIZE asks for the size.
int64_t SeekIn(size_t *position, size_t size, int64_t offset, int whence)
{
    if (whence & AVSEEK_SIZE)
        return int64_t(size);
    const int from = whence & ~AVSEEK_FORCE;
    const int64_t base = from == SEEK_CUR ? int64_t(*position) : from == SEEK_END ? int64_t(size) : 0;
    if (offset < -base)
        return AVERROR(EINVAL);
    *position = size_t(base + offset);
    return int64_t(*position);
}

// Reading side of CodecReadBack(): the bytes as a file.
struct MemorySource {
    const std::vector<uint8_t> *bytes;
    size_t position = 0;

    static int Read(void *opaque, uint8_t *data, int size)
    {
        auto *self = static_cast<MemorySource *>(opaque);
        const size_t left = self->bytes->size() - std::min(self->position, self->bytes->size());
        const size_t n = std::min(left, size_t(size));
        if (n == 0)
            return AVERROR_EOF;
        std::memcpy(data, self->bytes->data() + self->position, n);
        self->position += n;
        return int(n);
    }

    static int64_t Seek(void *opaque, int64_t offset, int whence)
    {
        auto *self = static_cast<MemorySource *>(opaque);
        return SeekIn(&self->position, self->bytes->size(), offset, whence);
    }
};

struct IoDeleter {
    void operator()(AVIOContext *io) const
    {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};

AVIOContext *MakeIo(void *opaque, bool write, int (*read)(void *, uint8_t *, int),
                    int (*writePacket)(void *, uint8_t *, int), int64_t (*seek)(void *, int64_t, int))
{
    auto *buffer = static_cast<unsigned char *>(av_malloc(kBufferSize));
    AVIOContext *io =
        buffer ? avio_alloc_context(buffer, kBufferSize, write, opaque, read, writePacket, seek) : nullptr;
    if (!io) {
        av_free(buffer);
        throw std::bad_alloc();
    }
    return io;
}

} // namespace

MemorySink::MemorySink() : io_(MakeIo(this, true, nullptr, Write, Seek)) {}

MemorySink::~MemorySink() { IoDeleter()(io_); }

const std::vector<uint8_t> &MemorySink::Bytes()
{
    avio_flush(io_);
    return bytes_;
}

int MemorySink::Write(void *opaque, uint8_t *data, int size)
{
    auto *self = static_cast<MemorySink *>(opaque);
    const size_t end = self->position_ + size_t(size);
    if (end > self->bytes_.size())
        self->bytes_.resize(end);
    std::memcpy(self->bytes_.data() + self->position_, data, size_t(size));
    self->position_ = end;
    return size;
}

int64_t MemorySink::Seek(void *opaque, int64_t offset, int whence)
{
    auto *self = static_cast<MemorySink *>(opaque);
    return SeekIn(&self->position_, self->bytes_.size(), offset, whence);
}

AVCodecID CodecReadBack(const std::vector<uint8_t> &bytes, const char *demuxer)
{
    const LibraryLogPause quiet;
    MemorySource source{&bytes};
    std::unique_ptr<AVIOContext, IoDeleter> io(MakeIo(&source, false, MemorySource::Read, nullptr, MemorySource::Seek));
    AVFormatContext *context = avformat_alloc_context();
    if (!context)
        throw std::bad_alloc();
    context->pb = io.get();
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    if (avformat_open_input(&context, nullptr, av_find_input_format(demuxer), nullptr) < 0)
        return AV_CODEC_ID_NONE;
    InputContextPtr format(context);
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            return format->streams[i]->codecpar->codec_id;
    return AV_CODEC_ID_NONE;
}
