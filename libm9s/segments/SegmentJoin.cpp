#include "libm9s/segments/SegmentJoin.h"

#include "libm9s/base/StopControl.h"
#include "libm9s/output/OutputMedia.h"
#include "libm9s/segments/FlacMd5.h"

#include <algorithm>
#include <new>
#include <thread>

namespace {

constexpr auto kReportInterval = std::chrono::milliseconds(250);

// Finished segments the writer may have waiting per thread: enough that no
// thread idles while an earlier segment is still being encoded.
constexpr size_t kAheadPerThread = 2;

// Packets a waiting writer is woken for at once: woken for every one, it
// spent a tenth of the run in the kernel.
constexpr size_t kWakeBatch = 64;

// The writer's side of the join: packets in order into the one muxer, and
// for FLAC the totals its STREAMINFO needs.
class JoinWriter {
public:
    explicit JoinWriter(OutputMedia *output) : output_(output)
    {
        if (output && output->Encoder().codec_id == AV_CODEC_ID_FLAC)
            md5_ = std::make_unique<FlacMd5>(output->Encoder().ch_layout.nb_channels,
                                             output->Encoder().sample_fmt != AV_SAMPLE_FMT_S16);
    }

    void Write(SegmentPiece &piece)
    {
        if (md5_) {
            md5_->Add(std::move(piece.pcm), piece.samples);
            totals_.minFrameBytes =
                totals_.samples ? std::min(totals_.minFrameBytes, piece.packet->size) : piece.packet->size;
            totals_.maxFrameBytes = std::max(totals_.maxFrameBytes, piece.packet->size);
            totals_.samples += piece.samples;
        }
        end_ = piece.packet->pts + piece.packet->duration;
        output_->WriteJoined(piece.packet.get(), piece.samples);
    }

    // FLAC: the STREAMINFO of the whole stream, as FFmpeg's encoder hands
    // it over at its end: on an empty last packet.
    void Close()
    {
        if (!md5_ || totals_.samples == 0)
            return;
        md5_->Final(totals_.md5);
        const AVCodecContext &encoder = output_->Encoder();
        if (encoder.extradata_size < 34)
            return;
        const std::vector<uint8_t> info = FlacStreamInfo(encoder.extradata, totals_);
        PacketPtr packet = MakePacket();
        uint8_t *side = av_packet_new_side_data(packet.get(), AV_PKT_DATA_NEW_EXTRADATA, info.size());
        if (!side)
            throw std::bad_alloc();
        std::copy(info.begin(), info.end(), side);
        packet->pts = packet->dts = end_;
        output_->WriteJoined(packet.get(), 0);
    }

private:
    OutputMedia *output_;
    std::unique_ptr<FlacMd5> md5_;
    FlacTotals totals_;
    int64_t end_ = 0;
};

// Hands out the segments in order, never too far ahead of the writer.
class SegmentDealer {
public:
    SegmentDealer(size_t count, size_t ahead) : count_(count), ahead_(ahead) {}

    // The next segment to encode; count when none is left or all is called off.
    size_t Next()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopped_ || next_ >= count_ || next_ < written_ + ahead_; });
        return stopped_ || next_ >= count_ ? count_ : next_++;
    }

    void Written(size_t count)
    {
        std::lock_guard lock(mutex_);
        written_ = count;
        changed_.notify_all();
    }

    void Stop()
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }

private:
    const size_t count_;
    const size_t ahead_;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t next_ = 0;
    size_t written_ = 0;
    bool stopped_ = false;
};

} // namespace

void SegmentOutput::Push(SegmentPiece piece)
{
    std::lock_guard lock(mutex_);
    pieces_.push_back(std::move(piece));
    if (writerWaiting_ && pieces_.size() >= kWakeBatch)
        changed_.notify_all();
}

void SegmentOutput::Finish(bool reachedEnd, std::exception_ptr error)
{
    std::lock_guard lock(mutex_);
    finished_ = true;
    reachedEnd_ = reachedEnd;
    error_ = error;
    changed_.notify_all();
}

SegmentOutput::Got SegmentOutput::Pop(SegmentPiece *piece, std::chrono::milliseconds wait)
{
    std::unique_lock lock(mutex_);
    if (pieces_.empty() && !finished_) {
        writerWaiting_ = true;
        changed_.wait_for(lock, wait, [&] { return finished_ || pieces_.size() >= kWakeBatch; });
        writerWaiting_ = false;
    }
    if (pieces_.empty())
        return finished_ ? Got::End : Got::Waiting;
    *piece = std::move(pieces_.front());
    pieces_.pop_front();
    return Got::Piece;
}

bool SegmentOutput::ReachedEnd()
{
    std::lock_guard lock(mutex_);
    return reachedEnd_;
}

std::exception_ptr SegmentOutput::Error()
{
    std::lock_guard lock(mutex_);
    return error_;
}

int64_t JoinSegments(const SegmentSetup &setup, int threads, OutputMedia *output,
                     const std::function<void(int64_t)> &progress)
{
    const size_t count = setup.segments.size();
    std::vector<SegmentOutput> outputs(count);
    SegmentProgress shared;
    SegmentDealer dealer(count, size_t(threads) * kAheadPerThread);

    std::vector<std::thread> workers;
    auto stopWorkers = [&] {
        shared.cancelled = true;
        dealer.Stop();
        for (std::thread &worker : workers)
            worker.join();
        workers.clear();
    };
    try {
        for (int i = 0; i < threads && size_t(i) < count; ++i)
            workers.emplace_back([&] {
                SegmentEncoder encoder(setup, shared);
                for (size_t index = dealer.Next(); index < count; index = dealer.Next())
                    encoder.Encode(index, outputs[index]);
            });

        JoinWriter writer(output);
        for (size_t index = 0; index < count; ++index) {
            SegmentOutput &out = outputs[index];
            SegmentPiece piece;
            for (;;) {
                const SegmentOutput::Got got = out.Pop(&piece, kReportInterval);
                if (got == SegmentOutput::Got::End)
                    break;
                if (got == SegmentOutput::Got::Piece)
                    writer.Write(piece);
                progress(shared.samples.load());
            }
            // A segment that failed because of a stop request (while opening
            // the input, say) is a stop like any other.
            if (std::exception_ptr error = out.Error(); error && !StopControl::Requested())
                std::rethrow_exception(error);
            dealer.Written(index + 1);
            // After a stop, what follows the segment being written would
            // leave a gap: the joined part so far is the file.
            if (out.ReachedEnd() || StopControl::Requested())
                break;
        }
        stopWorkers();
        writer.Close();
    } catch (...) {
        stopWorkers();
        throw;
    }
    return shared.framesDecoded.load();
}
