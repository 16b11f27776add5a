#include "libm9s/input/PacketRange.h"

#include "libm9s/input/InputMedia.h"

extern "C" {
#include <libavutil/mathematics.h>
}

#include <algorithm>

PacketRange::PacketRange(InputMedia &input, const EncoderOptions &options) : input_(input), options_(options)
{
    const AVStream *audio = input_.Audio();
    startTs_ = av_sat_add64(input_.StartTs(), av_rescale_q(options_.startUs, AV_TIME_BASE_Q, audio->time_base));
    if (options_.durationUs)
        endTs_ = av_sat_add64(startTs_, av_rescale_q(*options_.durationUs, AV_TIME_BASE_Q, audio->time_base));
}

void PacketRange::Seek()
{
    if (options_.startUs <= 0 || startTs_ == INT64_MAX)
        return;
    avformat_seek_file(input_.Format(), input_.Audio()->index, INT64_MIN, startTs_, startTs_, 0);
}

PacketRange::Verdict PacketRange::Take(AVPacket &packet, bool started) const
{
    if (packet.stream_index != input_.Audio()->index)
        return Verdict::Skip;
    // As the ffmpeg program does: the first packet kept is the one that
    // holds the -ss point; those that end before it are dropped.
    const int64_t ts = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    const bool inRange =
        packet.size > 0
        && (options_.startUs <= 0 || started
            || (ts != AV_NOPTS_VALUE && av_sat_add64(ts, std::max<int64_t>(packet.duration, 0)) > startTs_));
    // The -t limit: packets that begin before it are in.
    if (endTs_ && packet.pts != AV_NOPTS_VALUE && packet.pts >= *endTs_)
        return Verdict::End;
    if (!inRange)
        return Verdict::Skip;
    if (packet.pts != AV_NOPTS_VALUE)
        packet.pts = av_sat_sub64(packet.pts, startTs_);
    if (packet.dts != AV_NOPTS_VALUE)
        packet.dts = av_sat_sub64(packet.dts, startTs_);
    return Verdict::Keep;
}
