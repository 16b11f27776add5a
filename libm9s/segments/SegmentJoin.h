#pragma once
// One long file on every core: the output is cut into segments at encoder
// frame boundaries (Segments.h), each segment is decoded, resampled and
// encoded on a thread of its own, and one writer joins the packets in order
// through the single muxer, so the MP3 Info header and FLAC's STREAMINFO
// describe the whole file.

#include "libm9s/base/AvHandles.h"
#include "libm9s/base/Options.h"
#include "libm9s/filter/Resampler.h"
#include "libm9s/input/InputMedia.h"
#include "libm9s/segments/Segments.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class OutputMedia;
class PartMeters;

// A packet for the joined stream; pcm: for FLAC, the buffer of the samples
// it was encoded from (interleaved, in the encoder's format, from the
// buffer's start), for the MD5 sum of the whole stream. A reference to the
// buffer alone: a frame's copy costs an allocation the writer's thread
// frees, for every frame.
struct SegmentPiece {
    PacketPtr packet;
    int64_t samples = 0;
    BufferRefPtr pcm;
};

// What one segment has made so far, on its way from its thread to the writer.
class SegmentOutput {
public:
    void Push(SegmentPiece piece);
    // reachedEnd: the input ended inside this segment; nothing after it counts.
    void Finish(bool reachedEnd, std::exception_ptr error = nullptr);

    // Waits at most wait for the next piece; a waiting writer is woken by a
    // batch of pieces or the end, not by each one.
    enum class Got { Piece, Waiting, End };
    Got Pop(SegmentPiece *piece, std::chrono::milliseconds wait);
    bool ReachedEnd();
    std::exception_ptr Error();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<SegmentPiece> pieces_;
    bool finished_ = false;
    bool writerWaiting_ = false;
    bool reachedEnd_ = false;
    std::exception_ptr error_;
};

// What every segment thread needs to know; read-only while they run.
struct SegmentSetup {
    const EncoderOptions *options = nullptr;
    const OutputMedia *output = nullptr;
    int audioTrack = 0; // counted among the input's audio streams
    int64_t originPts = 0;
    // The input's header tells all about its audio: each thread's input is
    // opened without the probe, which decodes the first frames of every
    // stream (a film's video among them) and finds nothing new.
    bool headerTellsAll = false;
    // The decoded audio's rate as the probe of the whole input found it;
    // a header can name another (HE-AAC names its core's half rate). Each
    // thread's positions are reckoned in it.
    int inputRate = 0;
    // Where the time base is coarser than a sample (Matroska's
    // milliseconds), a seek's landing is placed on the grid of the codec's
    // fixed frames instead: frameGrid samples each, the first frame after
    // the origin at gridOffset. 0: the timestamps are exact.
    int frameGrid = 0;
    int64_t gridOffset = 0;
    // The whole audio's length as its packets add up (their timestamps run
    // on without a jump, or the input is not cut), and the longest of them.
    int64_t sourceUs = 0;
    int64_t longestPacketUs = 0;
    // A part of the input (-ss, -t, -chapter): output sample 0 is made from
    // input sample partOffset (counted from the origin), which the one-thread
    // run reaches by a seek to partSeekTs; a segment that decodes from the
    // part's start seeks there too, so it decodes what that run decodes.
    // The last segment ends at endSamples where the part has a length.
    int64_t partOffset = 0;
    std::optional<int64_t> partSeekTs;
    std::optional<int64_t> endSamples;
    int frameSamples = 0;
    int warmFrames = 0; // encoded before a segment's start and dropped
    int tailFrames = 0; // encoded after its end, so the last kept frames see what follows
    int64_t prerollSamples = 0;
    std::vector<Segment> segments;
    // Measuring instead of encoding (output unused): segment i's samples,
    // interleaved floats in the meters' layout and rate, go to part i of
    // meters, those of the warm-up as its uncounted lead-in.
    PartMeters *meters = nullptr;
    // Levelling: the constant gain every segment applies before its encoder.
    std::optional<double> gainDb;
};

// Shared counters the writer reports from.
struct SegmentProgress {
    std::atomic<int64_t> samples{0};
    std::atomic<int64_t> framesDecoded{0};
    std::atomic<bool> cancelled{false};
};

// What a thread's segments take over from the one before: the resampler
// with its filter, restarted; buffers for the encoder's frames, which the
// FLAC writer keeps until their turn and then gives back; for FLAC, the
// encoder (its frames stand alone, and a new one costs megabytes of fresh
// memory), and buffers for its packets with room for the longer frame
// numbers of the joined stream, so they are renumbered where they are.
struct SegmentReuse {
    std::unique_ptr<Resampler> resampler;
    SizedBufferPool frames;
    CodecContextPtr flacEncoder;
    SizedBufferPool flacPackets;
};

// Encodes segments on the calling thread, with an input of its own that
// stays open from one segment to the next.
class SegmentEncoder {
public:
    SegmentEncoder(const SegmentSetup &setup, SegmentProgress &progress) : setup_(setup), progress_(progress) {}
    void Encode(size_t index, SegmentOutput &out);

private:
    void OpenInput();
    // false: the first frame came after inStart or without a timestamp.
    bool Decode(class SegmentRun &run, int64_t inStart, bool fromTop);

    const SegmentSetup &setup_;
    SegmentProgress &progress_;
    std::unique_ptr<InputMedia> input_;
    bool fresh_ = false; // nothing read since it was opened
    SegmentReuse reuse_;
};

// Runs all segments on threads threads and writes them in order into
// output (nullptr when they only measure); progress(samples) is called now
// and then. Returns the audio frames decoded. A stop request ends every
// thread; what was joined by then is the file.
int64_t JoinSegments(const SegmentSetup &setup, int threads, OutputMedia *output,
                     const std::function<void(int64_t)> &progress);
