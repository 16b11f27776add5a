#include "libm9s/decode/FrameDecoder.h"

#include "libm9s/input/InputMedia.h"

namespace {

// Every frame the decoder has ready; false once take wants no more.
bool Deliver(AVCodecContext *decoder, FramePtr &frame, const std::function<bool(FramePtr &)> &take)
{
    while (avcodec_receive_frame(decoder, frame.get()) >= 0) {
        const bool more = take(frame);
        if (frame)
            av_frame_unref(frame.get());
        else
            frame = MakeFrame();
        if (!more)
            return false;
    }
    return true;
}

} // namespace

bool DecodeFrames(InputMedia &input, const std::function<bool(FramePtr &frame)> &take)
{
    AVCodecContext *decoder = input.Decoder();
    const int audioIndex = input.Audio()->index;
    PacketPtr packet = MakePacket();
    FramePtr frame = MakeFrame();
    bool wanted = true;
    while (wanted && input.ReadPacket(packet.get())) {
        if (packet->stream_index == audioIndex && avcodec_send_packet(decoder, packet.get()) >= 0)
            wanted = Deliver(decoder, frame, take);
        av_packet_unref(packet.get());
    }
    if (wanted && avcodec_send_packet(decoder, nullptr) >= 0)
        wanted = Deliver(decoder, frame, take);
    return wanted;
}
