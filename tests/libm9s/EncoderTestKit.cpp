#include "EncoderTestKit.h"

#include <QFile>
#include <QFileInfo>

#include <initializer_list>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sys/resource.h>

namespace EncoderTestKit {

QString EncoderPath() { return QStringLiteral(TOLVANE_PROGRAM_DIR "/libm9s"); }

namespace {

RunResult RunProcess(const QString &program, const QStringList &args, int timeoutMs, const QByteArray &input,
                     const QString &workingDir, const std::function<void()> &childSetup = {})
{
    RunResult result;
    QProcess process;
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    if (childSetup)
        process.setChildProcessModifier(childSetup);
    process.start(program, args);
    if (!process.waitForStarted(10000))
        return result;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitCode = process.exitCode();
    result.exitStatus = process.exitStatus();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

} // namespace

RunResult Run(const QString &program, const QStringList &args, int timeoutMs, const QByteArray &input)
{
    return RunProcess(program, args, timeoutMs, input, QString());
}

RunResult RunEncoder(const QStringList &args, int timeoutMs)
{
    return RunProcess(EncoderPath(), args, timeoutMs, QByteArray(), QString());
}

RunResult RunEncoderIn(const QString &workingDir, const QStringList &args, int timeoutMs)
{
    return RunProcess(EncoderPath(), args, timeoutMs, QByteArray(), workingDir);
}

RunResult RunEncoderLimited(const QStringList &args, int resource, quint64 limit, int timeoutMs)
{
    // Runs in the forked child before exec: only async-signal-safe calls.
    auto setLimit = [resource, limit] {
        const rlimit value{rlim_t(limit), rlim_t(limit)};
        setrlimit(resource, &value);
    };
    return RunProcess(EncoderPath(), args, timeoutMs, QByteArray(), QString(), setLimit);
}

QStringList EncoderArgs(const QString &input, const QString &format, int kbits, int rate, int channels,
                        const QString &output)
{
    return {"-i",   input,
            "-y",   "-f",
            format, "-vn",
            "-ab",  QString::number(kbits),
            "-ar",  QString::number(rate),
            "-ac",  QString::number(channels),
            output};
}

QStringList CopyArgs(const QString &input, const QString &output, const QStringList &extra)
{
    return QStringList{"-i", input, "-y", "-vn", "-acodec", "copy"} + extra + QStringList{output};
}

QStringList PacketChecksums(const QString &path)
{
    const RunResult r =
        Run("ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-map", "0:a", "-c", "copy", "-f", "framemd5", "-"});
    QStringList sums;
    for (const QByteArray &line : r.out.split('\n')) {
        const QList<QByteArray> fields = line.split(',');
        if (!line.startsWith('#') && fields.size() == 6)
            sums << QString::fromUtf8(fields[4].trimmed() + " " + fields[5].trimmed());
    }
    return sums;
}

bool MakeWithFfmpeg(const QStringList &args, const QString &output)
{
    QStringList all{"-nostdin", "-v", "error", "-y"};
    all << args << output;
    RunResult r = Run("ffmpeg", all, 120000);
    if (!r.finished || r.exitCode != 0) {
        qWarning("ffmpeg failed for %s: %s", qPrintable(output), r.err.constData());
        return false;
    }
    return QFileInfo(output).size() > 0;
}

QStringList VideoSource(double seconds)
{
    return {"-f", "lavfi", "-i", QString("testsrc=size=176x144:rate=25:duration=%1").arg(seconds)};
}

QStringList ToneSource(int rate, int channels, double seconds)
{
    static const int tones[] = {440, 660, 550, 110, 880, 990};
    QStringList parts;
    for (int c = 0; c < channels; ++c)
        parts << QString("0.4*sin(2*PI*%1*t)").arg(tones[c % 6]);
    return {"-f", "lavfi", "-i", QString("aevalsrc=%1:s=%2:d=%3").arg(parts.join('|')).arg(rate).arg(seconds)};
}

QList<ContainerFixture> ContainerFixtures()
{
    const double len = 1.5;
    auto make = [&](const QString &file, const QStringList &codecs, int rate = 44100) {
        return ContainerFixture{file, VideoSource(len) + ToneSource(rate, 2, len) + codecs};
    };
    return {
        make("clip.avi", {"-c:v", "mpeg4", "-c:a", "libmp3lame"}),
        make("clip.mpg", {"-c:v", "mpeg1video", "-c:a", "mp2", "-f", "mpeg"}),
        make("clip.mpeg", {"-c:v", "mpeg2video", "-c:a", "mp2", "-f", "mpeg"}, 48000),
        make("clip.dat", {"-c:v", "mpeg1video", "-c:a", "mp2", "-f", "vcd"}),
        make("clip.vob", {"-c:v", "mpeg2video", "-c:a", "ac3", "-f", "vob"}, 48000),
        make("clip.wmv", {"-c:v", "wmv2", "-c:a", "wmav2", "-f", "asf"}),
        make("clip.asf", {"-c:v", "wmv1", "-c:a", "wmav1", "-f", "asf"}, 22050),
        make("clip.mov", {"-c:v", "mpeg4", "-c:a", "aac", "-f", "mov"}),
        make("clip.qt", {"-c:v", "mpeg4", "-c:a", "pcm_s16be", "-f", "mov"}),
        make("clip.mp4", {"-c:v", "mpeg4", "-c:a", "aac", "-f", "mp4"}, 48000),
        make("clip.3gp", {"-c:v", "h263", "-c:a", "aac", "-ar", "22050", "-f", "3gp"}),
        make("clip.mkv", {"-c:v", "mpeg4", "-c:a", "libvorbis", "-f", "matroska"}, 48000),
        make("clip.rm", {"-c:v", "rv10", "-c:a", "ac3", "-f", "rm"}),
        make("clip.rmvb", {"-c:v", "rv20", "-c:a", "ac3", "-f", "rm"}, 48000),
        make("clip.swf", {"-c:v", "flv1", "-c:a", "libmp3lame", "-ar", "22050", "-f", "swf"}),
        make("clip.flv", {"-c:v", "flv1", "-c:a", "libmp3lame", "-f", "flv"}),
    };
}

QByteArray Placeholder() { return QByteArray("temp\r\n"); }

void WritePlaceholder(const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(Placeholder());
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

namespace {

QString AvText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

// The frame's samples as interleaved floats (the formats our outputs decode to).
void AppendFloats(const AVFrame &frame, std::vector<float> &out)
{
    const int channels = frame.ch_layout.nb_channels;
    const auto format = AVSampleFormat(frame.format);
    const bool planar = av_sample_fmt_is_planar(format);
    const AVSampleFormat packed = av_get_packed_sample_fmt(format);
    for (int i = 0; i < frame.nb_samples; ++i)
        for (int c = 0; c < channels; ++c) {
            const uint8_t *plane = frame.extended_data[planar ? c : 0];
            const int at = planar ? i : i * channels + c;
            float v = 0;
            if (packed == AV_SAMPLE_FMT_S16)
                v = reinterpret_cast<const int16_t *>(plane)[at] / 32768.0f;
            else if (packed == AV_SAMPLE_FMT_S32)
                v = float(reinterpret_cast<const int32_t *>(plane)[at] / 2147483648.0);
            else if (packed == AV_SAMPLE_FMT_FLT)
                v = reinterpret_cast<const float *>(plane)[at];
            out.push_back(v);
        }
}

void DecodeAll(AVFormatContext *format, int index, AudioInfo &info, bool keepSamples)
{
    const AVCodecParameters *par = format->streams[index]->codecpar;
    const AVCodec *codec = avcodec_find_decoder(par->codec_id);
    AVCodecContext *decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!decoder || avcodec_parameters_to_context(decoder, par) < 0 || avcodec_open2(decoder, codec, nullptr) < 0) {
        info.error = "cannot open decoder";
        avcodec_free_context(&decoder);
        return;
    }
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    auto drain = [&] {
        for (;;) {
            int ret = avcodec_receive_frame(decoder, frame);
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
                return;
            if (ret < 0) {
                ++info.decodeErrors;
                return;
            }
            info.samples += frame->nb_samples;
            if (keepSamples)
                AppendFloats(*frame, info.pcm);
            av_frame_unref(frame);
        }
    };
    int ret;
    while ((ret = av_read_frame(format, packet)) >= 0) {
        if (packet->stream_index == index) {
            if (avcodec_send_packet(decoder, packet) < 0)
                ++info.decodeErrors;
            drain();
        }
        av_packet_unref(packet);
    }
    if (ret != AVERROR_EOF)
        ++info.decodeErrors;
    avcodec_send_packet(decoder, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
}

} // namespace

AudioInfo Probe(const QString &path, bool keepSamples)
{
    AudioInfo info;
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext *format = nullptr;
    const QByteArray url = "file:" + path.toUtf8();
    int ret = avformat_open_input(&format, url.constData(), nullptr, nullptr);
    if (ret < 0) {
        info.error = "open: " + AvText(ret);
        return info;
    }
    ret = avformat_find_stream_info(format, nullptr);
    int index = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (ret < 0 || index < 0) {
        info.error = ret < 0 ? "probe: " + AvText(ret) : QString("no audio stream");
        avformat_close_input(&format);
        return info;
    }
    info.opened = true;
    info.container = QString::fromUtf8(format->iformat->name);
    const AVCodecParameters *par = format->streams[index]->codecpar;
    info.codec = QString::fromUtf8(avcodec_get_name(par->codec_id));
    info.sampleRate = par->sample_rate;
    info.channels = par->ch_layout.nb_channels;
    info.bitRate = par->bit_rate;
    if (format->duration != AV_NOPTS_VALUE)
        info.duration = format->duration / double(AV_TIME_BASE);
    // Ogg keeps its tags with the stream; the file's own come first.
    for (const AVDictionary *tags : {format->streams[index]->metadata, format->metadata}) {
        const AVDictionaryEntry *tag = nullptr;
        while ((tag = av_dict_get(tags, "", tag, AV_DICT_IGNORE_SUFFIX)))
            info.tags.insert(QString::fromUtf8(tag->key).toLower(), QString::fromUtf8(tag->value));
    }
    DecodeAll(format, index, info, keepSamples);
    avformat_close_input(&format);
    return info;
}

SeamReport CompareFrames(const std::vector<float> &source, const std::vector<float> &output, int channels,
                         const std::vector<int64_t> &joins, int frameSamples)
{
    SeamReport report;
    const size_t values = std::min(source.size(), output.size());
    const size_t frameValues = size_t(frameSamples) * size_t(channels);
    double signal = 0, noise = 0;
    std::vector<double> others;
    for (size_t start = 0; start + frameValues <= values; start += frameValues) {
        double error = 0;
        for (size_t i = start; i < start + frameValues; ++i) {
            const double d = double(output[i]) - source[i];
            error += d * d;
            signal += double(source[i]) * source[i];
        }
        noise += error;
        const int64_t first = int64_t(start / size_t(channels));
        const bool atJoin = std::any_of(joins.begin(), joins.end(), [&](int64_t join) {
            return join >= first - frameSamples / 2 && join < first + frameSamples + frameSamples / 2;
        });
        if (atJoin)
            report.worstJoin = std::max(report.worstJoin, error);
        else
            others.push_back(error);
    }
    report.snrDb = noise > 0 ? 10 * std::log10(signal / noise) : 999;
    if (!others.empty()) {
        std::sort(others.begin(), others.end());
        report.p99Others = others[std::min(others.size() - 1, others.size() * 99 / 100)];
    }
    return report;
}

QStringList DecodeAsLibm9s(const QString &input)
{
    const RunResult r = Run("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries", "stream=codec_name",
                                        "-of", "csv=p=0", input});
    return kDecodeAsLibm9s + (r.out.trimmed() == "mp2" ? QStringList{"-c:a", "mp2float"} : QStringList{});
}

QMap<QString, QString> FfprobeAudio(const QString &path)
{
    QMap<QString, QString> values;
    RunResult r = Run("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                  "stream=sample_rate,channels,bit_rate,sample_fmt,bits_per_raw_sample:format=duration",
                                  "-of", "default=noprint_wrappers=1", path});
    for (const QByteArray &line : r.out.split('\n')) {
        int eq = line.indexOf('=');
        if (eq > 0)
            values.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)).trimmed());
    }
    return values;
}

WavData ReadWav(const QString &path)
{
    WavData wav;
    const QByteArray data = ReadAll(path);
    auto u32 = [&](qsizetype at) {
        uint32_t v = 0;
        std::memcpy(&v, data.constData() + at, 4);
        return v;
    };
    auto u16 = [&](qsizetype at) {
        uint16_t v = 0;
        std::memcpy(&v, data.constData() + at, 2);
        return v;
    };
    if (data.size() < 12 || (data.left(4) != "RIFF" && data.left(4) != "RF64") || data.mid(8, 4) != "WAVE") {
        wav.error = "not a RIFF/RF64 WAVE file";
        return wav;
    }
    wav.riffTag = data.left(4);
    const bool riffSizeOk = wav.riffTag == "RF64" || u32(4) == uint32_t(data.size() - 8);
    qsizetype at = 12;
    while (at + 8 <= data.size()) {
        const QByteArray id = data.mid(at, 4);
        uint32_t size = u32(at + 4);
        if (id == "fmt " && at + 24 <= data.size()) {
            wav.channels = u16(at + 10);
            wav.sampleRate = int(u32(at + 12));
            wav.bitsPerSample = u16(at + 22);
        } else if (id == "JUNK") {
            wav.hasJunkChunk = true;
        } else if (id == "data") {
            const qsizetype start = at + 8;
            const bool dataSizeOk = wav.riffTag == "RF64" || start + qsizetype(size) == data.size();
            const qsizetype bytes = std::min<qsizetype>(data.size() - start, size == 0xffffffffu ? data.size() : size);
            wav.samples.resize(size_t(bytes / 2));
            std::memcpy(wav.samples.data(), data.constData() + start, wav.samples.size() * 2);
            wav.sizesConsistent = riffSizeOk && dataSizeOk;
            wav.ok = wav.channels > 0 && wav.bitsPerSample == 16;
            if (!wav.ok)
                wav.error = "unexpected fmt chunk";
            return wav;
        }
        at += 8 + qsizetype(size) + (size & 1);
    }
    wav.error = "no data chunk";
    return wav;
}

int MaxSampleDifference(const std::vector<int16_t> &a, const std::vector<int16_t> &b)
{
    int worst = 0;
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    return worst;
}

QByteArray Visible(const QByteArray &text)
{
    QByteArray shown = text;
    shown.replace('\r', "\\r");
    shown.replace('\n', "\\n");
    return shown;
}

} // namespace EncoderTestKit
