#include "libm9s/output/ChunkedDecode.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace {

// More than MP3's reservoir can reach back (511 bytes, some 8 frames of
// the smallest), so the first packet of a chunk decodes as on one thread;
// and past the first packets, whose skip (LAME's priming) the decoder
// carries on into the next ones.
constexpr size_t kLookBackPackets = 32;

CodecContextPtr OpenDecoder(const AVStream &stream)
{
    const AVCodec *codec = avcodec_find_decoder(stream.codecpar->codec_id);
    CodecContextPtr decoder(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream.codecpar) < 0)
        return nullptr;
    decoder->pkt_timebase = stream.time_base;
    decoder->thread_count = 1;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return nullptr;
    return decoder;
}

// Sends packet (nullptr: the end) and takes what comes out, counted into
// counts unless that is nullptr.
void DecodePacket(AVCodecContext *decoder, const AVPacket *packet, AVFrame *frame, SampleCounts *counts)
{
    if (avcodec_send_packet(decoder, packet) < 0)
        return;
    while (avcodec_receive_frame(decoder, frame) >= 0) {
        if (counts && frame->sample_rate > 0)
            (*counts)[frame->sample_rate] += frame->nb_samples;
        av_frame_unref(frame);
    }
}

void Merge(SampleCounts &into, const SampleCounts &from)
{
    for (const auto &[rate, samples] : from)
        into[rate] += samples;
}

SampleCounts DecodeInOrder(AVFormatContext *format, const AVStream &stream)
{
    SampleCounts counts;
    CodecContextPtr decoder = OpenDecoder(stream);
    if (!decoder)
        return counts;
    PacketPtr packet = MakePacket();
    FramePtr frame = MakeFrame();
    while (av_read_frame(format, packet.get()) >= 0) {
        if (packet->stream_index == stream.index)
            DecodePacket(decoder.get(), packet.get(), frame.get(), &counts);
        av_packet_unref(packet.get());
    }
    DecodePacket(decoder.get(), nullptr, frame.get(), &counts);
    return counts;
}

struct Chunk {
    std::vector<PacketPtr> lookBack; // decoded, not counted
    std::vector<PacketPtr> packets;
};

SampleCounts DecodeChunk(const AVStream &stream, const Chunk &chunk)
{
    SampleCounts counts;
    CodecContextPtr decoder = OpenDecoder(stream);
    if (!decoder)
        return counts;
    FramePtr frame = MakeFrame();
    for (const PacketPtr &packet : chunk.lookBack)
        DecodePacket(decoder.get(), packet.get(), frame.get(), nullptr);
    for (const PacketPtr &packet : chunk.packets)
        DecodePacket(decoder.get(), packet.get(), frame.get(), &counts);
    DecodePacket(decoder.get(), nullptr, frame.get(), &counts);
    return counts;
}

// Chunks from the reading thread to the decoding ones; at most a few wait.
class ChunkQueue {
public:
    explicit ChunkQueue(size_t most) : most_(most) {}

    // Dropped once the queue is abandoned.
    void Put(Chunk chunk)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return chunks_.size() < most_ || done_; });
        if (done_)
            return;
        chunks_.push_back(std::move(chunk));
        changed_.notify_all();
    }

    // false once the reader is done and nothing is left.
    bool Take(Chunk *chunk)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !chunks_.empty() || done_; });
        if (chunks_.empty())
            return false;
        *chunk = std::move(chunks_.front());
        chunks_.pop_front();
        changed_.notify_all();
        return true;
    }

    // The reader or a decoder failed: what waits is dropped, and all stop.
    void Abandon()
    {
        std::lock_guard lock(mutex_);
        done_ = true;
        chunks_.clear();
        changed_.notify_all();
    }

    // The reader is done: the decoders stop once everything is taken.
    void Finish()
    {
        std::lock_guard lock(mutex_);
        done_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Chunk> chunks_;
    const size_t most_;
    bool done_ = false;
};

// The last kLookBackPackets packets read before the chunk's end: its own,
// and before them those of its look back.
std::vector<PacketPtr> LookBackAfter(const Chunk &chunk)
{
    std::vector<const AVPacket *> read;
    for (const PacketPtr &packet : chunk.lookBack)
        read.push_back(packet.get());
    for (const PacketPtr &packet : chunk.packets)
        read.push_back(packet.get());
    std::vector<PacketPtr> last;
    for (size_t i = read.size() - std::min(read.size(), kLookBackPackets); i < read.size(); ++i) {
        last.emplace_back(av_packet_clone(read[i]));
        if (!last.back())
            throw std::bad_alloc();
    }
    return last;
}

// Reads the stream's packets into chunks of chunkPackets.
void ReadChunks(AVFormatContext *format, const AVStream &stream, size_t chunkPackets, ChunkQueue &queue)
{
    Chunk chunk;
    auto handOver = [&] {
        Chunk next;
        next.lookBack = LookBackAfter(chunk);
        queue.Put(std::move(chunk));
        chunk = std::move(next);
    };
    PacketPtr packet = MakePacket();
    while (av_read_frame(format, packet.get()) >= 0) {
        if (packet->stream_index != stream.index) {
            av_packet_unref(packet.get());
            continue;
        }
        chunk.packets.push_back(MakePacket());
        av_packet_move_ref(chunk.packets.back().get(), packet.get());
        if (chunk.packets.size() >= chunkPackets)
            handOver();
    }
    if (!chunk.packets.empty())
        handOver();
}

SampleCounts DecodeInChunks(AVFormatContext *format, const AVStream &stream, int threads, size_t chunkPackets)
{
    // One chunk waits per thread: a few megabytes each.
    ChunkQueue queue{size_t(threads)};
    std::mutex resultMutex; // counts and the first error
    SampleCounts counts;
    std::vector<std::thread> workers;
    std::exception_ptr error;
    try {
        for (int i = 0; i < threads; ++i)
            workers.emplace_back([&] {
                try {
                    for (Chunk chunk; queue.Take(&chunk);) {
                        const SampleCounts decoded = DecodeChunk(stream, chunk);
                        std::lock_guard lock(resultMutex);
                        Merge(counts, decoded);
                    }
                } catch (...) {
                    std::lock_guard lock(resultMutex);
                    if (!error)
                        error = std::current_exception();
                    queue.Abandon();
                }
            });
        ReadChunks(format, stream, std::max<size_t>(chunkPackets, 1), queue);
        queue.Finish();
    } catch (...) {
        std::lock_guard lock(resultMutex);
        error = std::current_exception();
        queue.Abandon();
    }
    for (std::thread &worker : workers)
        worker.join();
    if (error)
        std::rethrow_exception(error);
    return counts;
}

} // namespace

SampleCounts DecodeAll(AVFormatContext *format, const AVStream *stream, int threads, size_t chunkPackets)
{
    if (threads < 2 || stream->codecpar->codec_id != AV_CODEC_ID_MP3)
        return DecodeInOrder(format, *stream);
    return DecodeInChunks(format, *stream, threads, chunkPackets);
}
