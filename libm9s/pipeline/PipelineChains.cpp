// The chains between a pipeline's input and its output: a conversion on
// one thread, on a reading and a converting thread, or in segments on
// every thread; a copy's packets.

#include "libm9s/base/FrameQueue.h"
#include "libm9s/base/Messages.h"
#include "libm9s/base/StopControl.h"
#include "libm9s/base/TimeText.h"
#include "libm9s/decode/FrameDecoder.h"
#include "libm9s/filter/AudioFilter.h"
#include "libm9s/input/PacketRange.h"
#include "libm9s/output/CopyWriter.h"
#include "libm9s/output/OutputMedia.h"
#include "libm9s/pipeline/Pipeline.h"
#include "libm9s/pipeline/StageLinks.h"
#include "libm9s/segments/SegmentPlacement.h"

extern "C" {
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <pthread.h>
#include <thread>
#include <utility>

namespace {

// Decoded audio the reading thread may keep ready: a few hundred
// milliseconds, enough to ride out uneven decoding.
constexpr size_t kQueueFrames = 64;
constexpr int64_t kQueueSamples = 1 << 17;

} // namespace

bool Pipeline::RunSegmented()
{
    // The limiter carries its state from one sample to the next: one thread.
    if (loudness_.NeedsLimiter())
        return false;
    const std::optional<double> gainDb = loudness_.Levels() ? std::optional(loudness_.GainDb()) : std::nullopt;
    std::optional<SegmentSetup> setup = PlanSegmentedRun(options_, input_, *output_, limited_->Limit(), gainDb);
    if (!setup)
        return false;

    // The segments decode their stretches only: what the output is made of
    // is the part of the timeline they were cut on.
    segmentedSourceUs_ =
        std::max<int64_t>(0, setup->sourceUs - av_rescale(setup->partOffset, AV_TIME_BASE, setup->inputRate));
    sourceSlackUs_ = 3 * setup->longestPacketUs;
    const int rate = output_->SampleRate();
    framesDecoded_ = JoinSegments(*setup, ThreadsToUse(options_), output_.get(), [&](int64_t samples) {
        // After a measuring pass, from halfway on.
        if (TimeToReport(false))
            WriteTimeMarker(FormatSeconds(loudness_.Progress(samples), rate));
    });
    return true;
}

void Pipeline::Transcode()
{
    // Land on or before the start; the filter trims to the exact sample.
    if (const std::optional<int64_t> ts = input_.PartSeekTs(options_.startUs))
        input_.SeekAudio(*ts);
    filter_ = std::make_unique<AudioFilter>(input_, options_.startUs, output_->Layout(), output_->SampleFormat(),
                                            output_->SampleRate(), loudness_.MakeLeveller(*output_));
    if (ThreadsToUse(options_) < 2)
        return TranscodeOnOneThread();
    // Reading and decoding run on a thread of their own, resampling,
    // encoding and writing on this one: on two cores a WAV conversion takes
    // little more than the decoding. With a real encoder (all but WAV) the
    // encoding alone keeps this thread busy, so the reading thread resamples
    // too and hands over audio in the output's format.
    FrameQueue queue(kQueueFrames, kQueueSamples);
    const bool resampled = options_.format != OutputFormat::Wav;
    if (!resampled)
        filter_->SetSink(limited_.get());
    std::thread reader([&] { ReadAndDecode(queue, resampled); });
    StopControl::SetReadingThread(reader.native_handle());
    // When this side gives up early (the -t limit, a write error) the reader
    // may sit in a read of a stalled input: the stop request interrupts it.
    // It stays the target of the stop nudges until it has let go of the
    // input, and is joined only after that.
    auto joinReader = [&](bool abandon) {
        if (abandon) {
            queue.Cancel();
            StopControl::Request();
        }
        queue.WaitFinished();
        StopControl::SetReadingThread(pthread_self());
        reader.join();
    };

    try {
        while (FramePtr frame = queue.Pop()) {
            if (resampled)
                limited_->Write(frame->extended_data, frame->nb_samples);
            else
                filter_->Take(*frame);
            ReportConverted(false);
            if (limited_->Full())
                break;
        }
    } catch (...) {
        joinReader(true);
        throw;
    }
    joinReader(limited_->Full());

    // What the resampler still holds is converted audio too, also after a
    // stop request.
    if (!limited_->Full() && !resampled)
        filter_->Drain();
}

// -threads 1 means one core: each stage takes its turn on this thread.
void Pipeline::TranscodeOnOneThread()
{
    filter_->SetSink(limited_.get());
    if (limited_->Full())
        return;
    const bool wanted = DecodeFrames(input_, [&](FramePtr &frame) {
        filter_->Take(*frame);
        ReportConverted(false);
        return !limited_->Full();
    });
    // What the resampler still holds is converted audio too, also after a
    // stop request.
    if (wanted)
        filter_->Drain();
}

// The reading thread: decodes, and resamples where resampled, into queue.
void Pipeline::ReadAndDecode(FrameQueue &queue, bool resampled)
{
    try {
        QueueSink sink(queue, *output_);
        if (resampled)
            filter_->SetSink(&sink);
        const bool wanted = DecodeFrames(input_, [&](FramePtr &frame) {
            if (!resampled)
                return queue.Push(std::move(frame));
            filter_->Take(*frame);
            return !sink.Full();
        });
        if (wanted && resampled)
            filter_->Drain();
        queue.Finish();
    } catch (...) {
        queue.Finish(std::current_exception());
    }
}

void Pipeline::CopyPackets()
{
    PacketRange range(input_, options_);
    range.Seek();
    if (range.Empty())
        return;
    PacketPtr packet = MakePacket();
    while (input_.ReadPacket(packet.get())) {
        const PacketRange::Verdict verdict = range.Take(*packet, writer_->Packets() > 0);
        if (verdict == PacketRange::Verdict::End)
            return;
        if (verdict == PacketRange::Verdict::Keep)
            writer_->Write(*packet);
        av_packet_unref(packet.get());
        ReportCopied(false);
    }
}
