#pragma once
// Helpers for the encoder's tests: running libm9s, ffmpeg and ffprobe,
// making fixtures with ffmpeg, and looking into the files they write
// (in-process, through libavformat, so that hundreds of files stay cheap).

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace EncoderTestKit {

QString EncoderPath();

struct RunResult {
    bool finished = false;
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QByteArray out;
    QByteArray err;
};

// Runs a program to its end (killed after timeoutMs); standard input gets
// input and is then closed.
RunResult Run(const QString &program, const QStringList &args, int timeoutMs = 60000, const QByteArray &input = {});
RunResult RunEncoder(const QStringList &args, int timeoutMs = 60000);
RunResult RunEncoderIn(const QString &workingDir, const QStringList &args, int timeoutMs = 60000);
// The encoder with a resource limit (setrlimit: RLIMIT_AS, RLIMIT_FSIZE, ...).
RunResult RunEncoderLimited(const QStringList &args, int resource, quint64 limit, int timeoutMs = 60000);

// The options in the order the program's command-line builder emits them.
QStringList EncoderArgs(const QString &input, const QString &format, int kbits, int rate, int channels,
                        const QString &output);

// -acodec copy in place of the format and its settings; extra before the output.
QStringList CopyArgs(const QString &input, const QString &output, const QStringList &extra = {});

// The audio packets' sizes and MD5 sums, in order, without their
// timestamps (ffmpeg -map 0:a -c copy -f framemd5).
QStringList PacketChecksums(const QString &path);

// ffmpeg's input options to decode as libm9s does: AC-3's noise for empty
// bands seeded from each frame (a warning only for other codecs).
inline const QStringList kDecodeAsLibm9s{"-cons_noisegen", "1"};
// The same for an input whose audio is all of one codec: MP2 also by the
// floating-point decoder.
QStringList DecodeAsLibm9s(const QString &input);

// ffmpeg -nostdin -v error -y ARGS OUTPUT; true when it made a non-empty file.
bool MakeWithFfmpeg(const QStringList &args, const QString &output);

// A short video with sound in one of the containers the program accepts.
struct ContainerFixture {
    QString file;     // file name with the program's extension
    QStringList args; // ffmpeg arguments before the output name
};
// One per extension the program accepts that ffmpeg can write (all but smk
// and nsv), plus flv: 1.5 s, two different tones left and right.
QList<ContainerFixture> ContainerFixtures();
// Arguments for lavfi sources: a small test picture, and audio of the given
// rate, channel count (1, 2 or 6, each channel its own tone) and length.
QStringList VideoSource(double seconds);
QStringList ToneSource(int rate, int channels, double seconds);

// The program's placeholder ("temp" CR LF).
void WritePlaceholder(const QString &path);
QByteArray Placeholder();
QByteArray ReadAll(const QString &path);

struct AudioInfo {
    bool opened = false;
    QString error;
    QString container;
    QString codec;
    int sampleRate = 0;
    int channels = 0;
    int64_t bitRate = 0; // as the stream says; 0 when it does not (Ogg)
    double duration = 0; // the container's, seconds
    int64_t samples = 0; // per channel, after decoding everything
    int decodeErrors = 0;
    QMap<QString, QString> tags;
    std::vector<float> pcm; // interleaved, when asked for
};
// Opens the first audio stream of path and decodes it to the end.
AudioInfo Probe(const QString &path, bool keepSamples = false);

// A decoded output against its source (interleaved, same rate and
// channels), per frame of frameSamples: the whole file's SNR, and the
// error energy of the worst frame at a join (a frame within half a frame of
// one of joins, in decoded samples) against the 99th percentile of the
// others.
struct SeamReport {
    double snrDb = 0;
    double worstJoin = 0;
    double p99Others = 0;
};
SeamReport CompareFrames(const std::vector<float> &source, const std::vector<float> &output, int channels,
                         const std::vector<int64_t> &joins, int frameSamples = 1152);

// ffprobe's view of the first audio stream: sample_rate, channels,
// bit_rate, sample_fmt, bits_per_raw_sample and duration (format), as text.
QMap<QString, QString> FfprobeAudio(const QString &path);

struct WavData {
    bool ok = false;
    QString error;
    QByteArray riffTag; // "RIFF" or "RF64"
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    bool sizesConsistent = false; // RIFF and data sizes match the file
    bool hasJunkChunk = false;    // room kept for an RF64 header
    std::vector<int16_t> samples; // interleaved
};
WavData ReadWav(const QString &path);

// Largest difference between two sample arrays over their common length.
int MaxSampleDifference(const std::vector<int16_t> &a, const std::vector<int16_t> &b);

// Text with carriage returns and line feeds shown, for failure messages.
QByteArray Visible(const QByteArray &text);

} // namespace EncoderTestKit
