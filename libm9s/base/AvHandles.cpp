#include "libm9s/base/AvHandles.h"

#include "libm9s/base/EncoderError.h"

#include <new>
#include <string>

PacketPtr MakePacket()
{
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        throw std::bad_alloc();
    return packet;
}

AVBufferRef *SizedBufferPool::Get(size_t size)
{
    if (!pool || bytes != size) {
        pool.reset(av_buffer_pool_init(size, nullptr));
        bytes = pool ? size : 0;
    }
    return pool ? av_buffer_pool_get(pool.get()) : nullptr;
}

FramePtr MakeFrame()
{
    FramePtr frame(av_frame_alloc());
    if (!frame)
        throw std::bad_alloc();
    return frame;
}

OutputContextPtr MakeMuxer(const char *name, AVStream **stream)
{
    AVFormatContext *context = nullptr;
    const int ret = avformat_alloc_output_context2(&context, nullptr, name, nullptr);
    if (ret < 0 || !context)
        throw EncoderError(std::string("Cannot set up the ") + name + " writer: " + AvErrorText(ret));
    OutputContextPtr muxer(context);
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Leave the writes to the I/O buffer; flushing after every packet costs
    // a system call per decoded frame.
    context->flush_packets = 0;
    *stream = avformat_new_stream(context, nullptr);
    if (!*stream)
        throw std::bad_alloc();
    return muxer;
}
