#pragma once
// Owning handles for the FFmpeg objects the encoder uses, so that every
// error path releases what was made before it.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/buffer.h>
#include <libavutil/dict.h>
#include <libswresample/swresample.h>
}

#include <memory>

struct InputContextDeleter {
    void operator()(AVFormatContext *c) const { avformat_close_input(&c); }
};
struct OutputContextDeleter {
    // The I/O context belongs to OutputFile, so only the muxer state goes here.
    void operator()(AVFormatContext *c) const { avformat_free_context(c); }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct PacketDeleter {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct SwrDeleter {
    void operator()(SwrContext *s) const { swr_free(&s); }
};
struct AudioFifoDeleter {
    void operator()(AVAudioFifo *f) const { av_audio_fifo_free(f); }
};
struct DictionaryDeleter {
    void operator()(AVDictionary *d) const { av_dict_free(&d); }
};
struct BufferRefDeleter {
    void operator()(AVBufferRef *b) const { av_buffer_unref(&b); }
};
// The pool goes once the last buffer taken from it is handed back.
struct BufferPoolDeleter {
    void operator()(AVBufferPool *p) const { av_buffer_pool_uninit(&p); }
};

using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextDeleter>;
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;
using BufferPoolPtr = std::unique_ptr<AVBufferPool, BufferPoolDeleter>;
using BufferRefPtr = std::unique_ptr<AVBufferRef, BufferRefDeleter>;

// Buffers of one size, handed back to the pool when their last reference
// goes and taken again from there.
struct SizedBufferPool {
    BufferPoolPtr pool;
    size_t bytes = 0;
    // A buffer of bytes: from the pool while the size stays, else from a
    // new pool of that size. nullptr when out of memory.
    AVBufferRef *Get(size_t size);
};

PacketPtr MakePacket();
FramePtr MakeFrame();
// A muxer of that name that writes through an I/O context set later, with
// one stream for the audio. Throws EncoderError when FFmpeg has no such muxer.
OutputContextPtr MakeMuxer(const char *name, AVStream **stream);
