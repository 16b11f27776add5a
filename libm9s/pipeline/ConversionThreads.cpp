#include "libm9s/pipeline/ConversionSteps.h"

#include "libm9s/base/EncoderError.h"
#include "libm9s/base/StopControl.h"

#include <pthread.h>
#include <thread>
#include <utility>

namespace {

// Decoded audio the reading thread may keep ready: a few hundred
// milliseconds, enough to ride out uneven decoding.
constexpr size_t kQueueFrames = 64;
constexpr int64_t kQueueSamples = 1 << 17;

} // namespace

void Conversion::Transcode()
{
    if (ThreadsToUse(options_) < 2)
        return TranscodeOnOneThread();
    // Reading and decoding run on a thread of their own, resampling,
    // encoding and writing on this one: on two cores a WAV conversion takes
    // little more than the decoding.
    FrameQueue queue(kQueueFrames, kQueueSamples);
    if (options_.format != OutputFormat::Wav)
        resampledQueue_ = &queue;
    std::thread reader([&] { ReadAndDecode(queue); });
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
            if (resampledQueue_)
                WriteLimited(frame->extended_data, frame->nb_samples);
            else
                HandleFrame(*frame);
            ReportProgress(false);
            if (limitReached_)
                break;
        }
    } catch (...) {
        joinReader(true);
        throw;
    }
    joinReader(limitReached_);

    // What the resampler still holds is converted audio too, also after a
    // stop request.
    if (!limitReached_ && !resampledQueue_) {
        DrainResampler();
        FlushLeveller();
    }
}

// -threads 1 means one core: each step takes its turn on this thread.
void Conversion::TranscodeOnOneThread()
{
    AVCodecContext *decoder = input_.Decoder();
    const int audioIndex = input_.Audio()->index;
    PacketPtr packet = MakePacket();
    FramePtr frame = MakeFrame();
    auto deliver = [&] {
        // A frame the decoder cannot make (a damaged packet) is skipped.
        while (!limitReached_ && avcodec_receive_frame(decoder, frame.get()) >= 0) {
            HandleFrame(*frame);
            av_frame_unref(frame.get());
            ReportProgress(false);
        }
    };
    while (!limitReached_ && input_.ReadPacket(packet.get())) {
        if (packet->stream_index == audioIndex && avcodec_send_packet(decoder, packet.get()) >= 0)
            deliver();
        av_packet_unref(packet.get());
    }
    // What the decoder and the resampler still hold is converted audio too,
    // also after a stop request.
    if (!limitReached_ && avcodec_send_packet(decoder, nullptr) >= 0)
        deliver();
    if (!limitReached_) {
        DrainResampler();
        FlushLeveller();
    }
}

void Conversion::ReadAndDecode(FrameQueue &queue)
{
    try {
        AVCodecContext *decoder = input_.Decoder();
        const int audioIndex = input_.Audio()->index;
        PacketPtr packet = MakePacket();
        FramePtr frame = MakeFrame();

        // Hands every frame the decoder has ready to the converting thread;
        // false once that one wants no more.
        auto deliver = [&] {
            for (;;) {
                // A frame the decoder cannot make (a damaged packet) is skipped,
                // as the ffmpeg program does.
                if (avcodec_receive_frame(decoder, frame.get()) < 0)
                    return true;
                if (resampledQueue_) {
                    HandleFrame(*frame);
                    av_frame_unref(frame.get());
                    if (abandoned_)
                        return false;
                } else if (!queue.Push(std::exchange(frame, MakeFrame()))) {
                    return false;
                }
            }
        };

        bool wanted = true;
        while (wanted && input_.ReadPacket(packet.get())) {
            if (packet->stream_index == audioIndex && avcodec_send_packet(decoder, packet.get()) >= 0)
                wanted = deliver();
            av_packet_unref(packet.get());
        }

        // What the decoder still holds is converted audio too, also after a
        // stop request.
        if (wanted && avcodec_send_packet(decoder, nullptr) >= 0)
            wanted = deliver();
        if (wanted && resampledQueue_) {
            DrainResampler();
            FlushLeveller();
        }
        queue.Finish();
    } catch (...) {
        queue.Finish(std::current_exception());
    }
}
