#include "libm9s/output/OutputCheck.h"

#include "libm9s/base/AvHandles.h"
#include "libm9s/base/EncoderError.h"
#include "libm9s/base/Messages.h"
#include "libm9s/base/TimeText.h"
#include "libm9s/output/ChunkedDecode.h"

extern "C" {
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int64_t kEarlyEndUs = AV_TIME_BASE; // more than a second ...
constexpr int64_t kEarlyEndPercent = 1;       // ... and more than 1 % of the whole

InputContextPtr OpenWritten(const std::string &path)
{
    AVFormatContext *context = nullptr;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const std::string url = "file:" + path;
    const int ret = avformat_open_input(&context, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (ret < 0)
        return nullptr;
    InputContextPtr owned(context);
    if (avformat_find_stream_info(context, nullptr) < 0 && context->nb_streams == 0)
        return nullptr;
    return owned;
}

// Samples the decoder gives for the whole stream, priming and padding taken
// off as the container says, in microseconds. They are counted at their
// rate and turned into time at the end: a frame's length in whole
// microseconds is off by up to half of one (an MP3 frame at 44.1 kHz by
// 0.45), which over two hours of frames adds up to more than the tolerance.
int64_t DecodedUs(AVFormatContext *format, const AVStream *stream, int threads)
{
    int64_t us = 0;
    for (const auto &[rate, samples] : DecodeAll(format, stream, threads))
        us += av_rescale(samples, AV_TIME_BASE, rate);
    return us;
}

// From the first packet's start to the last one's end, in microseconds.
int64_t PacketSpanUs(AVFormatContext *format, const AVStream *stream)
{
    PacketPtr packet = MakePacket();
    int64_t first = INT64_MAX;
    int64_t end = INT64_MIN;
    while (av_read_frame(format, packet.get()) >= 0) {
        const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (packet->stream_index == stream->index && ts != AV_NOPTS_VALUE) {
            first = std::min(first, ts);
            end = std::max(end, av_sat_add64(ts, std::max<int64_t>(packet->duration, 0)));
        }
        av_packet_unref(packet.get());
    }
    if (first == INT64_MAX)
        return 0;
    return av_rescale_q(av_sat_sub64(end, first), stream->time_base, AV_TIME_BASE_Q);
}

void CutForTests(const std::string &path)
{
    const char *fraction = std::getenv("LIBM9S_TEST_CUT_OUTPUT");
    struct stat st;
    if (!fraction || ::stat(path.c_str(), &st) != 0)
        return;
    if (::truncate(path.c_str(), off_t(double(st.st_size) * std::atof(fraction))) != 0)
        WriteLine("Cannot cut the output for the test");
}

} // namespace

int64_t ReadBackUs(const std::string &path, AVCodecID codec, bool decode, int threads)
{
    const LibraryLogPause quiet; // a damaged file's complaints are the finding, not news
    InputContextPtr format = OpenWritten(path);
    if (!format)
        return 0;
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0)
        return 0;
    const AVStream *stream = format->streams[index];
    if (stream->codecpar->codec_id != codec)
        return 0;
    for (unsigned i = 0; i < format->nb_streams; ++i)
        format->streams[i]->discard = int(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    return decode ? DecodedUs(format.get(), stream, threads) : PacketSpanUs(format.get(), stream);
}

void CheckOutput(const std::string &path, const WrittenAudio &written)
{
    CutForTests(path);
    const int64_t read = ReadBackUs(path, written.codec, written.decode, written.threads);
    if (std::abs(read - written.us) <= written.toleranceUs)
        return;
    throw EncoderError("Output check failed: " + FormatMinutes(read) + " of " + FormatMinutes(written.us)
                           + " could be read back",
                       EncoderContract::FailureKind::Check);
}

void CheckAgainstSource(int64_t writtenUs, int64_t sourceUs, int64_t toleranceUs)
{
    if (std::abs(writtenUs - sourceUs) <= toleranceUs)
        return;
    throw EncoderError("Output check failed: " + FormatMinutes(writtenUs) + " written of " + FormatMinutes(sourceUs)
                           + " decoded from the source",
                       EncoderContract::FailureKind::Check);
}

bool EndsEarly(int64_t readUs, int64_t declaredUs)
{
    const int64_t missing = declaredUs - readUs;
    return missing > kEarlyEndUs && missing > declaredUs / 100 * kEarlyEndPercent;
}

void ReportIfIncomplete(int64_t readUs, std::optional<int64_t> declaredUs)
{
    if (declaredUs && EndsEarly(readUs, *declaredUs))
        WriteIncompleteMarker(FormatSeconds(readUs, AV_TIME_BASE), FormatSeconds(*declaredUs, AV_TIME_BASE));
}

std::string FormatMinutes(int64_t us)
{
    const int64_t seconds = std::max<int64_t>(us, 0) / AV_TIME_BASE;
    char text[48];
    if (seconds < 3600)
        std::snprintf(text, sizeof text, "%" PRId64 ":%02" PRId64, seconds / 60, seconds % 60);
    else
        std::snprintf(text, sizeof text, "%" PRId64 ":%02" PRId64 ":%02" PRId64, seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    return text;
}
