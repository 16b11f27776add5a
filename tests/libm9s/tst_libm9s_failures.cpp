// libm9s on bad input and bad command lines, and what it tells the program:
// exit status, one clear line, the output left as it was found; damaged
// files convert as far as they can be decoded, without crash or hang.

#include "EncoderTestKit.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace EncoderTestKit;

namespace {

// Lines of the encoder's standard error that are not progress reports.
QList<QByteArray> MessageLines(const QByteArray &err)
{
    QList<QByteArray> lines;
    for (QByteArray line : err.split('\n')) {
        const int cr = line.lastIndexOf('\r');
        if (cr >= 0)
            line = line.mid(cr + 1);
        if (!line.isEmpty())
            lines << line;
    }
    return lines;
}

QByteArray FailureMarker(const QString &kind)
{
    return "ffmpeg_release_failure=" + kind.toUtf8() + "=ffmpeg_release_failure";
}

// The last line that is not a progress marker: the failure's own text.
QByteArray LastMessage(const QByteArray &err)
{
    QList<QByteArray> lines = MessageLines(err);
    lines.removeIf([](const QByteArray &line) { return line.startsWith("ffmpeg_release_"); });
    return lines.isEmpty() ? QByteArray() : lines.last();
}

void Overwrite(const QString &path, qint64 at, qint64 count, quint32 seed)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray junk(count, '\0');
    QRandomGenerator random(seed);
    for (char &c : junk)
        c = char(random.bounded(256));
    file.seek(at);
    file.write(junk);
}

void Truncate(const QString &from, const QString &to, double fraction)
{
    QFile::remove(to);
    QVERIFY(QFile::copy(from, to));
    QFile file(to);
    QVERIFY(file.resize(qint64(QFileInfo(from).size() * fraction)));
}

// A copy of a 16-bit PCM WAV whose header claims another rate or channel count.
void PatchWavHeader(const QString &from, const QString &to, quint32 rate, quint16 channels)
{
    QByteArray data = ReadAll(from);
    const qsizetype fmt = data.indexOf("fmt ");
    QVERIFY(fmt > 0 && data.size() > fmt + 24);
    auto put = [&](qsizetype at, quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            data[at + i] = char((value >> (8 * i)) & 0xff);
    };
    put(fmt + 10, channels, 2);
    put(fmt + 12, rate, 4);
    put(fmt + 16, rate * channels * 2, 4);
    put(fmt + 20, channels * 2u, 2);
    QFile file(to);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

// A copy of from with bytes put at offset at (negative: from the end).
void PatchCopy(const QString &from, const QString &to, qsizetype at, const QByteArray &bytes)
{
    QByteArray data = ReadAll(from);
    if (at < 0)
        at += data.size();
    QVERIFY(at >= 0 && at + bytes.size() <= data.size());
    data.replace(at, bytes.size(), bytes);
    QFile file(to);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

QByteArray LittleEndian(quint64 value, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out += char((value >> (8 * i)) & 0xff);
    return out;
}

// Ogg's page checksum: CRC-32, polynomial 0x04c11db7, not reflected, over
// the page with its checksum field zeroed.
quint32 OggCrc(const QByteArray &page)
{
    quint32 crc = 0;
    for (char byte : page) {
        crc ^= quint32(quint8(byte)) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 0x80000000u ? (crc << 1) ^ 0x04c11db7u : crc << 1;
    }
    return crc;
}

// A copy of an Ogg file whose last page claims the granule position given.
void SetLastGranule(const QString &from, const QString &to, quint64 granule)
{
    QByteArray data = ReadAll(from);
    const qsizetype page = data.lastIndexOf("OggS");
    QVERIFY(page >= 0 && data.size() > page + 27);
    data.replace(page + 6, 8, LittleEndian(granule, 8));
    data.replace(page + 22, 4, QByteArray(4, '\0'));
    data.replace(page + 22, 4, LittleEndian(OggCrc(data.mid(page)), 4));
    QFile file(to);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

// A copy of an ADTS file whose frame number index names a sampling rate
// that does not exist (index 15).
void DamageAdtsHeader(const QString &from, const QString &to, int index)
{
    QByteArray data = ReadAll(from);
    qsizetype at = 0;
    for (int frame = 0; frame < index; ++frame) {
        QVERIFY(at + 7 <= data.size() && quint8(data[at]) == 0xff);
        at += ((quint8(data[at + 3]) & 3) << 11) | (quint8(data[at + 4]) << 3) | (quint8(data[at + 5]) >> 5);
    }
    data[at + 2] = char((quint8(data[at + 2]) & 0xc3) | (15 << 2));
    QFile file(to);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

QStringList WithOptions(QStringList args, const QStringList &extra)
{
    for (const QString &option : extra)
        args.insert(args.size() - 1, option);
    return args;
}

} // namespace

class TestLibm9sFailures : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void failsAndLeavesOutputAsFound_data();
    void failsAndLeavesOutputAsFound();
    void convertsWhatDamagedInputHolds_data();
    void convertsWhatDamagedInputHolds();
    void survivesGarbage_data();
    void survivesGarbage();
    void refusesBadCommandLines_data();
    void refusesBadCommandLines();
    void reportsUnwritableOutput_data();
    void reportsUnwritableOutput();
    void writesProgressMarkers_data();
    void writesProgressMarkers();
    void usesNearestMp3Rate_data();
    void usesNearestMp3Rate();
    void boundsHostileHeaders_data();
    void boundsHostileHeaders();
    void reportsWriteFailureMidFile_data();
    void reportsWriteFailureMidFile();
    void guardsSamplesOutOfRange_data();
    void guardsSamplesOutOfRange();
    void survivesAbsurdTimestamps_data();
    void survivesAbsurdTimestamps();
    void keepsAudioBeforeFailure_data();
    void keepsAudioBeforeFailure();
    void keepsRoomForRf64Header();
    void checksOutputAndSource_data();
    void checksOutputAndSource();
    void keepsOrRefusesCopies_data();
    void keepsOrRefusesCopies();
    void trimsWithStartAndDuration();

private:
    QString Path(const QString &name) const { return dir_.filePath(name); }

    QTemporaryDir dir_;
};

void TestLibm9sFailures::initTestCase()
{
    QVERIFY(dir_.isValid());
    for (const ContainerFixture &f : ContainerFixtures())
        if (f.file == "clip.avi" || f.file == "clip.mpg" || f.file == "clip.mkv" || f.file == "clip.mp4"
            || f.file == "clip.swf")
            QVERIFY(MakeWithFfmpeg(f.args, Path(f.file)));
    QVERIFY(MakeWithFfmpeg(VideoSource(1) + QStringList{"-c:v", "mpeg4"}, Path("noaudio.mp4")));
    QVERIFY(MakeWithFfmpeg(ToneSource(44100, 2, 1.5) + QStringList{"-c:a", "pcm_s16le"}, Path("tone.mkv")));
    QVERIFY(MakeWithFfmpeg(ToneSource(44100, 2, 1.5) + QStringList{"-c:a", "pcm_s16le"}, Path("tone.wav")));
    // QuickTime keeps time in samples, so a cut can be checked to the sample.
    QVERIFY(MakeWithFfmpeg(ToneSource(44100, 2, 1.5) + QStringList{"-c:a", "pcm_s16le"}, Path("tone.mov")));
    QFile empty(Path("empty.avi"));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    QFile text(Path("text.avi"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("This is not a video.\nJust some text in a file called .avi\n");
    text.close();
    QCOMPARE(mkfifo(QFile::encodeName(Path("fifo.wav")).constData(), 0600), 0);
    QVERIFY(QDir(dir_.path()).mkdir("read-only"));
    QVERIFY(QFile::setPermissions(Path("read-only"), QFile::ReadOwner | QFile::ExeOwner));
    // An mp4 cut before its index (which ffmpeg writes at the end).
    Truncate(Path("clip.mp4"), Path("cut-index.mp4"), 0.5);

    // Float samples no encoder may see: a NaN, infinities, a sine at 1e8.
    const QStringList stereoFloat{"-c:a", "pcm_f32le", "-ac", "2"};
    QVERIFY(MakeWithFfmpeg(ToneSource(44100, 2, 1) + stereoFloat, Path("float.wav")));
    const qsizetype middle = ReadAll(Path("float.wav")).indexOf("data") + 8 + 44100 * 4;
    PatchCopy(Path("float.wav"), Path("nan.wav"), middle, LittleEndian(0x7fc00000, 4));
    PatchCopy(Path("float.wav"), Path("inf.wav"), middle, LittleEndian(0x7f800000, 4));
    PatchCopy(Path("float.wav"), Path("minus-inf.wav"), middle + 4, LittleEndian(0xff800000, 4));
    QVERIFY(MakeWithFfmpeg(
        QStringList{"-f", "lavfi", "-i", "aevalsrc=1e8*sin(2*PI*440*t)|1e8*sin(2*PI*440*t):s=44100:d=1"} + stereoFloat,
        Path("loud.wav")));

    // Timestamps near the 64-bit limit: an Ogg whose last granule is absurd,
    // a Matroska timeline that starts just short of it, an MPEG-TS file.
    QVERIFY(MakeWithFfmpeg(ToneSource(48000, 2, 2) + QStringList{"-c:a", "libvorbis"}, Path("tone.ogg")));
    SetLastGranule(Path("tone.ogg"), Path("huge-granule.ogg"), 0x7ffffffffffffff0ull);
    QVERIFY(
        MakeWithFfmpeg(ToneSource(44100, 2, 2) + QStringList{"-c:a", "pcm_s16le", "-output_ts_offset", "9223372036853"},
                       Path("late.mkv")));
    QVERIFY(MakeWithFfmpeg(ToneSource(44100, 2, 2) + QStringList{"-c:a", "aac"}, Path("tone.ts")));

    // A FLAC stream that turns into 500 Hz after a second, a rate the
    // encoder refuses: a failure after the first audio.
    QVERIFY(MakeWithFfmpeg(ToneSource(44100, 2, 1) + QStringList{"-c:a", "flac"}, Path("first.flac")));
    QVERIFY(MakeWithFfmpeg(ToneSource(500, 2, 1) + QStringList{"-c:a", "flac"}, Path("second.flac")));
    QFile changing(Path("changing.flac"));
    QVERIFY(changing.open(QIODevice::WriteOnly));
    changing.write(ReadAll(Path("first.flac")) + ReadAll(Path("second.flac")));

    // A source that ends at 40 % of the 20 s its index declares; one whose
    // picture lasts half a second longer than its sound.
    QVERIFY(MakeWithFfmpeg(VideoSource(20) + ToneSource(44100, 2, 20)
                               + QStringList{"-c:v", "mpeg4", "-c:a", "aac", "-movflags", "+faststart"},
                           Path("long.mp4")));
    Truncate(Path("long.mp4"), Path("long-cut.mp4"), 0.4);
    // A WAV's header states the length of its data; FFmpeg reads the bytes there are.
    QVERIFY(MakeWithFfmpeg(ToneSource(44100, 2, 20) + QStringList{"-c:a", "pcm_s16le"}, Path("long.wav")));
    Truncate(Path("long.wav"), Path("long-cut.wav"), 0.4);
    QVERIFY(MakeWithFfmpeg(ToneSource(44100, 2, 1) + QStringList{"-af", "atrim=end_sample=1", "-c:a", "pcm_s16le"},
                           Path("one-sample.wav")));
    QVERIFY(MakeWithFfmpeg(VideoSource(20.5) + ToneSource(44100, 2, 20) + QStringList{"-c:v", "mpeg4", "-c:a", "aac"},
                           Path("longer-picture.mkv")));

    // Codecs no container but their own keeps, and an ADTS stream with one
    // damaged header.
    const QStringList speech = ToneSource(8000, 1, 1);
    QVERIFY(MakeWithFfmpeg(speech + QStringList{"-c:a", "libgsm"}, Path("gsm.mov")));
    QVERIFY(MakeWithFfmpeg(speech + QStringList{"-c:a", "adpcm_ima_qt"}, Path("ima.mov")));
    QVERIFY(MakeWithFfmpeg(ToneSource(22050, 1, 1) + QStringList{"-c:a", "adpcm_swf"}, Path("adpcm.flv")));
    QVERIFY(MakeWithFfmpeg(ToneSource(44100, 2, 3) + QStringList{"-c:a", "aac", "-f", "adts"}, Path("tone.aac")));
    DamageAdtsHeader(Path("tone.aac"), Path("damaged.aac"), 50);
}

void TestLibm9sFailures::failsAndLeavesOutputAsFound_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("placeholder"); // false: no file at the output path before
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("extra"); // before the output path
    QTest::addColumn<QString>("kind");

    struct Case {
        const char *name, *input, *message;
        QStringList extra;
        const char *kind;
    };
    for (const Case &c :
         {Case{"empty file", "empty.avi", "Cannot open input", {}, "unreadable"},
          Case{"text file named .avi", "text.avi", "Cannot open input", {}, "unreadable"},
          Case{"no audio stream", "noaudio.mp4", "No audio stream", {}, "nosound"},
          Case{"missing file", "missing.avi", "No such file", {}, "unreadable"},
          Case{"mp4 cut before its index", "cut-index.mp4", "Cannot open input", {}, "unreadable"},
          Case{"audio track out of range", "clip.mkv", "no audio track 1", {"-map", "0:a:1"}, "nosound"}}) {
        QTest::addRow("%s, placeholder", c.name) << c.input << true << c.message << c.extra << c.kind;
        QTest::addRow("%s, no file", c.name) << c.input << false << c.message << c.extra << c.kind;
    }
}

void TestLibm9sFailures::failsAndLeavesOutputAsFound()
{
    QFETCH(QString, input);
    QFETCH(bool, placeholder);
    QFETCH(QString, message);
    QFETCH(QStringList, extra);
    QFETCH(QString, kind);
    for (const QString format : {"wav", "mp3", "flac", "m4a", "opus", "ogg", "copy"}) {
        const QString output = Path("failed." + (format == "copy" ? QString("m4a") : format));
        QFile::remove(output);
        if (placeholder)
            WritePlaceholder(output);

        QStringList args =
            format == "copy" ? CopyArgs(Path(input), output) : EncoderArgs(Path(input), format, 128, 44100, 2, output);
        for (const QString &arg : extra)
            args.insert(args.size() - 1, arg);
        const RunResult r = RunEncoder(args);
        QVERIFY(r.finished);
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QCOMPARE(r.exitCode, 1);
        const QList<QByteArray> lines = MessageLines(r.err);
        QVERIFY2(lines.size() == 2 && r.err.endsWith('\n'), Visible(r.err).constData());
        QCOMPARE(lines[0], FailureMarker(kind));
        QVERIFY2(lines[1].contains(message.toUtf8()) && lines[1].contains(input.toUtf8()), lines[1].constData());
        QVERIFY(!r.err.contains("ffmpeg_release_duration"));
        if (placeholder)
            QCOMPARE(ReadAll(output), Placeholder());
        else
            QVERIFY(!QFileInfo::exists(output));
    }
}

void TestLibm9sFailures::convertsWhatDamagedInputHolds_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("damage"); // "cut" or "overwrite"
    QTest::addColumn<double>("minSeconds");
    for (const char *source : {"clip.avi", "clip.mpg", "clip.mkv"}) {
        QTest::addRow("%s cut in half", source) << source << "cut" << 0.3;
        QTest::addRow("%s with garbage inside", source) << source << "overwrite" << 0.5;
    }
    QTest::newRow("clip.mp4 with garbage inside") << "clip.mp4" << "overwrite" << 0.5;
}

void TestLibm9sFailures::convertsWhatDamagedInputHolds()
{
    QFETCH(QString, source);
    QFETCH(QString, damage);
    QFETCH(double, minSeconds);
    const QString input = Path("damaged-" + source);
    if (damage == "cut") {
        Truncate(Path(source), input, 0.5);
    } else {
        QFile::remove(input);
        QVERIFY(QFile::copy(Path(source), input));
        const qint64 size = QFileInfo(input).size();
        Overwrite(input, size * 2 / 5, size / 10, 7);
    }

    for (const QString format : {"wav", "mp3"}) {
        const QString output = Path("damaged-out." + format);
        WritePlaceholder(output);
        const RunResult r = RunEncoder(EncoderArgs(input, format, 128, 44100, 2, output));
        QVERIFY2(r.finished, "hangs");
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QVERIFY2(r.exitCode == 0, Visible(r.err).constData());
        const AudioInfo info = Probe(output);
        QVERIFY2(info.opened, qPrintable(info.error));
        QCOMPARE(info.decodeErrors, 0);
        QVERIFY2(info.samples >= qint64(minSeconds * 44100), qPrintable(QString::number(info.samples)));
    }
}

void TestLibm9sFailures::survivesGarbage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<QString>("header"); // bytes to start with, so probing gets further
    QTest::newRow("random bytes as .mpg") << "garbage.mpg" << 1u << QString();
    QTest::newRow("random bytes after a RIFF AVI header") << "garbage.avi" << 2u << QString("RIFF\x10\0\0\0AVI LIST");
    QTest::newRow("random bytes after an EBML header") << "garbage.mkv" << 3u << QString("\x1a\x45\xdf\xa3");
    QTest::newRow("random bytes after an ftyp box") << "garbage.mp4" << 4u
                                                    << QString("\0\0\0\x18"
                                                               "ftypisom");
}

void TestLibm9sFailures::survivesGarbage()
{
    QFETCH(QString, name);
    QFETCH(quint32, seed);
    QFETCH(QString, header);
    const QString input = Path(name);
    {
        QFile file(input);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(header.toLatin1());
        file.write(QByteArray(256 * 1024, '\0'));
    }
    Overwrite(input, header.size(), 256 * 1024, seed);

    const QString output = Path("garbage-out.wav");
    WritePlaceholder(output);
    const RunResult r = RunEncoder(EncoderArgs(input, "wav", 128, 44100, 2, output));
    QVERIFY2(r.finished, "hangs");
    QCOMPARE(r.exitStatus, QProcess::NormalExit);
    QVERIFY(r.exitCode == 0 || r.exitCode == 1);
    if (r.exitCode == 1)
        QCOMPARE(ReadAll(output), Placeholder());
    else
        QVERIFY(ReadWav(output).ok);
}

void TestLibm9sFailures::refusesBadCommandLines_data()
{
    QTest::addColumn<QStringList>("extra"); // put before the output path
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown codec") << QStringList{"-acodec", "mp3"} << true << "'-acodec'";
    QTest::newRow("copy of AAC into .mp3") << QStringList{"-acodec", "copy"} << true << "needs the extension .m4a";
    QTest::newRow("bit rate with a unit") << QStringList{"-ab", "128k"} << true << "'128k'";
    QTest::newRow("existing output without -y") << QStringList{} << false << "already exists";
}

void TestLibm9sFailures::refusesBadCommandLines()
{
    QFETCH(QStringList, extra);
    QFETCH(bool, overwrite);
    QFETCH(QString, message);
    const QString output = Path("refused.mp3");
    WritePlaceholder(output);
    QStringList args{"-i", Path("clip.mp4")};
    if (overwrite)
        args << "-y";
    args << "-f" << "mp3" << extra << output;

    const RunResult r = RunEncoder(args);
    QCOMPARE(r.exitCode, 1);
    const QList<QByteArray> lines = MessageLines(r.err);
    QVERIFY2(lines.size() == 2 && lines[0] == FailureMarker("other") && lines[1].contains(message.toUtf8()),
             Visible(r.err).constData());
    QCOMPARE(ReadAll(output), Placeholder());
}

void TestLibm9sFailures::reportsUnwritableOutput_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing folder") << "no-such-folder/out.wav" << "Cannot write output" << "other";
    QTest::newRow("a folder") << "." << "Cannot write output" << "other";
    QTest::newRow("the input itself") << "tone.mkv" << "is the input" << "other";
    QTest::newRow("a FIFO nobody reads") << "fifo.wav" << "not a regular file" << "other";
    // The superuser writes anywhere: this row only tells where it is not.
    if (geteuid() != 0)
        QTest::newRow("a read-only folder") << "read-only/out.wav" << "Permission denied" << "access";
}

void TestLibm9sFailures::reportsUnwritableOutput()
{
    QFETCH(QString, output);
    QFETCH(QString, message);
    QFETCH(QString, kind);
    const QByteArray inputBefore = ReadAll(Path("tone.mkv"));
    const RunResult r = RunEncoder(EncoderArgs(Path("tone.mkv"), "wav", 128, 44100, 2, Path(output)));
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    const QList<QByteArray> lines = MessageLines(r.err);
    QVERIFY2(lines.size() >= 2 && lines.last().contains(message.toUtf8())
                 && lines[lines.size() - 2] == FailureMarker(kind),
             Visible(r.err).constData());
    QCOMPARE(ReadAll(Path("tone.mkv")), inputBefore);
}

void TestLibm9sFailures::writesProgressMarkers_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("duration"); // empty: the input does not tell
    QTest::newRow("mkv to wav") << "tone.mkv" << "wav" << "00:00:01.50";
    QTest::newRow("mkv to mp3") << "tone.mkv" << "mp3" << "00:00:01.50";
    for (const QString format : {"flac", "m4a", "opus", "ogg", "copy"})
        QTest::addRow("mkv to %s", qPrintable(format)) << "tone.mkv" << format << "00:00:01.50";
    QTest::newRow("swf, no duration known") << "clip.swf" << "wav" << "";
}

void TestLibm9sFailures::writesProgressMarkers()
{
    QFETCH(QString, input);
    QFETCH(QString, format);
    QFETCH(QString, duration);
    // The mkv holds 16-bit PCM: a copy of it is a WAV.
    const QString output = Path("markers." + (format == "copy" ? QString("wav") : format));
    WritePlaceholder(output);
    const RunResult r = RunEncoder(format == "copy" ? CopyArgs(Path(input), output)
                                                    : EncoderArgs(Path(input), format, 128, 22050, 1, output));
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.out.isEmpty());

    const QByteArray durationMarker = "ffmpeg_release_duration=" + duration.toUtf8() + "=ffmpeg_release_duration\n";
    if (duration.isEmpty()) {
        QVERIFY(!r.err.contains("ffmpeg_release_duration"));
    } else {
        QVERIFY2(r.err.startsWith(durationMarker), Visible(r.err).constData());
        QCOMPARE(r.err.count("ffmpeg_release_duration="), 1);
    }

    // Every time report ends in a carriage return; the last one is the end.
    static const QRegularExpression report("ffmpeg_release_time=(\\d+\\.\\d\\d)=ffmpeg_release_time\r");
    QRegularExpressionMatchIterator it = report.globalMatch(QString::fromUtf8(r.err));
    QString last;
    int count = 0;
    while (it.hasNext()) {
        last = it.next().captured(1);
        ++count;
    }
    QVERIFY2(count >= 1, Visible(r.err).constData());
    QCOMPARE(r.err.count("ffmpeg_release_time="), count);
    QVERIFY(r.err.endsWith("=ffmpeg_release_time\r"));
    if (format == "wav") {
        const WavData wav = ReadWav(output);
        QCOMPARE(last, QString::number(double(wav.samples.size()) / 22050, 'f', 2));
    } else {
        QVERIFY(qAbs(last.toDouble() - 1.5) < 0.02);
    }
}

void TestLibm9sFailures::usesNearestMp3Rate_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("asked");
    QTest::addColumn<int>("written");
    QTest::newRow("mp3 6000") << "mp3" << 6000 << 8000;
    QTest::newRow("mp3 88200") << "mp3" << 88200 << 48000;
    QTest::newRow("mp3 96000") << "mp3" << 96000 << 48000;
    QTest::newRow("mp3 44100 says nothing") << "mp3" << 44100 << 44100;
    QTest::newRow("wav 6000 as asked") << "wav" << 6000 << 6000;
    QTest::newRow("wav 96000 as asked") << "wav" << 96000 << 96000;
    QTest::newRow("flac 96000 as asked") << "flac" << 96000 << 96000;
    QTest::newRow("flac 768000") << "flac" << 768000 << 655340;
    QTest::newRow("m4a 96000 as asked") << "m4a" << 96000 << 96000;
    QTest::newRow("ogg 96000") << "ogg" << 96000 << 48000;
    QTest::newRow("opus 44100") << "opus" << 44100 << 48000;
    QTest::newRow("opus 48000 says nothing") << "opus" << 48000 << 48000;
}

void TestLibm9sFailures::usesNearestMp3Rate()
{
    QFETCH(QString, format);
    QFETCH(int, asked);
    QFETCH(int, written);
    const QString output = Path("rate." + format);
    WritePlaceholder(output);
    const RunResult r = RunEncoder(EncoderArgs(Path("tone.mkv"), format, 128, asked, 2, output));
    QCOMPARE(r.exitCode, 0);
    const QList<QByteArray> lines = MessageLines(r.err);
    const QByteArray note = QByteArray::number(asked) + " Hz";
    const QList<QByteArray> notes = [&] {
        QList<QByteArray> found;
        for (const QByteArray &line : lines)
            if (!line.startsWith("ffmpeg_release"))
                found << line;
        return found;
    }();
    if (asked == written) {
        QVERIFY2(notes.isEmpty(), Visible(r.err).constData());
    } else {
        QVERIFY2(notes.size() == 1 && notes[0].contains(note) && notes[0].contains(QByteArray::number(written)),
                 Visible(r.err).constData());
    }
    const AudioInfo info = Probe(output);
    QCOMPARE(info.sampleRate, written);
    QCOMPARE(info.decodeErrors, 0);
}

void TestLibm9sFailures::boundsHostileHeaders_data()
{
    QTest::addColumn<quint32>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    // Rates whose resampling filter or output would be absurd are refused;
    // the ends of the range convert.
    QTest::newRow("1 Hz: a second of samples would make a day") << 1u << 2 << 1 << "1 Hz";
    QTest::newRow("999 Hz") << 999u << 2 << 1 << "999 Hz";
    QTest::newRow("2 GHz: the filter alone would take gigabytes") << 2000000000u << 2 << 1 << "2000000000 Hz";
    QTest::newRow("1000 Hz converts") << 1000u << 2 << 0 << "";
    QTest::newRow("1536000 Hz converts") << 1536000u << 2 << 0 << "";
    QTest::newRow("65535 channels") << 44100u << 65535 << 1 << "Cannot decode";
    QTest::newRow("100 channels") << 44100u << 100 << 1 << "100 channels";
}

void TestLibm9sFailures::boundsHostileHeaders()
{
    QFETCH(quint32, rate);
    QFETCH(int, channels);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const QString input = Path("hostile.wav");
    PatchWavHeader(Path("tone.wav"), input, rate, quint16(channels));

    for (const QString format : {"wav", "mp3"}) {
        const QString output = Path("hostile-out." + format);
        WritePlaceholder(output);
        // Half a gigabyte of address space is plenty for any input.
        const RunResult r = RunEncoderLimited(EncoderArgs(input, format, 128, 44100, 2, output), RLIMIT_AS, 512u << 20);
        QVERIFY2(r.finished, "no result: the encoder hangs");
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QVERIFY2(r.exitCode == exitCode, Visible(r.err).constData());
        if (exitCode == 0) {
            const AudioInfo info = Probe(output);
            QCOMPARE(info.sampleRate, 44100);
            QCOMPARE(info.decodeErrors, 0);
            QVERIFY(info.samples > 0);
        } else {
            QVERIFY2(r.err.endsWith('\n') && LastMessage(r.err).contains(message.toUtf8()), Visible(r.err).constData());
            QCOMPARE(ReadAll(output), Placeholder());
        }
    }
}

namespace {

// A file-size limit that a disk full stands for, and one that leaves room.
constexpr quint64 kDiskFullAt = 8192;
constexpr quint64 kRoomEnough = 64 << 20;

} // namespace

void TestLibm9sFailures::reportsWriteFailureMidFile_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("existing"); // at the output path before: placeholder, old file, link
    QTest::addColumn<quint64>("limit");    // RLIMIT_FSIZE
    QTest::newRow("wav") << "wav" << "placeholder" << kDiskFullAt;
    QTest::newRow("mp3") << "mp3" << "placeholder" << kDiskFullAt;
    for (const QString format : {"flac", "m4a", "opus", "ogg"})
        QTest::newRow(qPrintable(format)) << format << "placeholder" << kDiskFullAt;
    // Run by hand with -y over a file of the user's: written beside it, and
    // renamed over it only when whole.
    for (const QString format : {"wav", "mp3", "flac", "copy"}) {
        QTest::addRow("%s over an old file, disk full: the old file stays", qPrintable(format))
            << format << "old file" << kDiskFullAt;
        QTest::addRow("%s over an old file: replaced, its mode kept", qPrintable(format))
            << format << "old file" << kRoomEnough;
    }
    QTest::newRow("wav over a link: the link replaced, not followed") << "wav" << "link" << kRoomEnough;
}

void TestLibm9sFailures::reportsWriteFailureMidFile()
{
    // A file-size limit stands in for a disk that fills up mid-file: the
    // write fails, and the encoder must say so and exit 1, not die of the
    // signal or report success.
    QFETCH(QString, format);
    QFETCH(QString, existing);
    QFETCH(quint64, limit);
    const bool copy = format == "copy";
    const QString output = Path("full." + (copy ? QString("wav") : format));
    const QString elsewhere = Path("elsewhere.wav");
    QFile::remove(output);
    QFile::remove(elsewhere);
    const QByteArray old = QByteArray("an older conversion\n").repeated(100);
    if (existing == "placeholder") {
        WritePlaceholder(output);
    } else if (existing == "link") {
        QVERIFY(QFile::link(elsewhere, output));
    } else {
        QFile file(output);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(old) == old.size());
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    }
    const QStringList args =
        copy ? CopyArgs(Path("tone.wav"), output) : EncoderArgs(Path("tone.mkv"), format, 128, 44100, 2, output);
    const RunResult r = RunEncoderLimited(QStringList{"-verify"} + args, RLIMIT_FSIZE, limit);
    QVERIFY(r.finished);
    QCOMPARE(r.exitStatus, QProcess::NormalExit);
    // Nothing is left beside the output, whatever the outcome.
    QCOMPARE(QDir(dir_.path()).entryList({".full.*"}, QDir::Files | QDir::Hidden), QStringList{});
    if (limit == kDiskFullAt) {
        QCOMPARE(r.exitCode, 1);
        const QByteArray last = LastMessage(r.err);
        QVERIFY2(r.err.endsWith('\n') && last.contains("Cannot write output") && last.contains("File too large"),
                 Visible(r.err).constData());
        if (existing == "old file")
            QCOMPARE(ReadAll(output), old);
        return;
    }
    QVERIFY2(r.exitCode == 0, Visible(r.err).constData());
    const QFileInfo info(output);
    QVERIFY(!info.isSymLink());
    QVERIFY(!QFileInfo::exists(elsewhere));
    QVERIFY(ReadAll(output).size() > old.size());
    if (existing == "old file")
        QCOMPARE(info.permissions() & ~QFileDevice::Permissions(0x0700),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
}

void TestLibm9sFailures::guardsSamplesOutOfRange_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<int>("minPeak"); // of the WAV's 16-bit samples
    QTest::addColumn<int>("maxPeak");
    // LAME aborts on any of these; the WAV must not turn them into
    // full-scale clicks of the wrong sign either.
    QTest::newRow("one NaN sample") << "nan.wav" << 13000 << 13200;
    QTest::newRow("one +Inf sample") << "inf.wav" << 13000 << 13200;
    QTest::newRow("one -Inf sample") << "minus-inf.wav" << 13000 << 13200;
    QTest::newRow("sine at amplitude 1e8") << "loud.wav" << 32767 << 32768;
}

void TestLibm9sFailures::guardsSamplesOutOfRange()
{
    QFETCH(QString, input);
    QFETCH(int, minPeak);
    QFETCH(int, maxPeak);
    for (const QString format : {"mp3", "wav"}) {
        const QString output = Path("guarded." + format);
        WritePlaceholder(output);
        const RunResult r = RunEncoder(EncoderArgs(Path(input), format, 128, 44100, 2, output), 30000);
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QVERIFY2(r.exitCode == 0, Visible(r.err).constData());
        const AudioInfo info = Probe(output);
        QCOMPARE(info.decodeErrors, 0);
        QVERIFY2(qAbs(info.samples - 44100) <= 1152, qPrintable(QString::number(info.samples)));
    }
    const WavData wav = ReadWav(Path("guarded.wav"));
    const auto [low, high] = std::minmax_element(wav.samples.begin(), wav.samples.end());
    QVERIFY2(*high >= minPeak && *high <= maxPeak && -int(*low) >= minPeak && -int(*low) <= maxPeak,
             qPrintable(QString("%1 to %2").arg(*low).arg(*high)));
}

void TestLibm9sFailures::survivesAbsurdTimestamps_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<double>("seconds");   // of audio expected
    QTest::addColumn<QString>("duration"); // how the marker begins, empty: no marker
    // A last granule near the limit: the length is unknown, not absurd.
    QTest::newRow("ogg, absurd last granule") << "huge-granule.ogg" << QStringList{} << 2.0 << "";
    QTest::newRow("ogg, absurd last granule, -ss 0.5") << "huge-granule.ogg" << QStringList{"-ss", "0.5"} << 1.5 << "";
    QTest::newRow("mkv starting near the limit, -ss 1.9")
        << "late.mkv" << QStringList{"-ss", "1.9"} << 0.1 << "00:00:00.1";
    // Nothing left after the start: no output is a success.
    QTest::newRow("ts, -ss at the limit") << "tone.ts" << QStringList{"-ss", "9223372036854"} << -1.0 << "00:00:00.00=";
}

void TestLibm9sFailures::survivesAbsurdTimestamps()
{
    QFETCH(QString, input);
    QFETCH(QStringList, options);
    QFETCH(double, seconds);
    QFETCH(QString, duration);
    const QString output = Path("timestamps.wav");
    WritePlaceholder(output);
    const RunResult r = RunEncoder(WithOptions(EncoderArgs(Path(input), "wav", 128, 44100, 2, output), options));
    QCOMPARE(r.exitStatus, QProcess::NormalExit);
    QVERIFY2(r.exitCode == (seconds < 0 ? 1 : 0), Visible(r.err).constData());
    if (seconds < 0) {
        QVERIFY2(LastMessage(r.err).contains("Nothing to convert"), Visible(r.err).constData());
        QCOMPARE(ReadAll(output), Placeholder());
        return;
    }
    if (duration.isEmpty())
        QVERIFY2(!r.err.contains("ffmpeg_release_duration"), Visible(r.err).constData());
    else
        QVERIFY2(r.err.startsWith(("ffmpeg_release_duration=" + duration).toUtf8()), Visible(r.err).constData());
    const WavData wav = ReadWav(output);
    QVERIFY(wav.sizesConsistent);
    // Vorbis pads its last block, so allow a few hundredths.
    const double got = double(wav.samples.size()) / 2 / 44100;
    QVERIFY2(qAbs(got - seconds) < 0.03, qPrintable(QString::number(got)));
}

void TestLibm9sFailures::keepsAudioBeforeFailure_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("wav") << "wav";
    QTest::newRow("mp3") << "mp3";
}

void TestLibm9sFailures::keepsAudioBeforeFailure()
{
    // The stream fails after a second of audio: that second stays in a
    // valid file with finished headers, and the failure is still reported.
    QFETCH(QString, format);
    const QString output = Path("partial." + format);
    WritePlaceholder(output);
    const RunResult r = RunEncoder(EncoderArgs(Path("changing.flac"), format, 128, 44100, 2, output));
    QCOMPARE(r.exitStatus, QProcess::NormalExit);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.endsWith('\n') && LastMessage(r.err).contains("500 Hz"), Visible(r.err).constData());
    const AudioInfo info = Probe(output);
    QVERIFY2(info.opened, qPrintable(info.error));
    QCOMPARE(info.decodeErrors, 0);
    // A second of audio at the file's rate (Opus decodes at 48000 Hz).
    const int frame = format == "wav" || format == "mp3" ? 1152 : 2048;
    QVERIFY2(qAbs(info.samples - info.sampleRate) <= frame, qPrintable(QString::number(info.samples)));
    // The headers were finished: WAV sizes, the MP3 Info frame's length.
    QVERIFY2(qAbs(info.duration - 1.0) < 0.1, qPrintable(QString::number(info.duration)));
    if (format == "wav")
        QVERIFY(ReadWav(output).sizesConsistent);
}

void TestLibm9sFailures::keepsRoomForRf64Header()
{
    // Files past 4 GiB turn into RF64; the room for that header is kept from
    // the start, so even a short file carries it.
    const QString output = Path("room.wav");
    WritePlaceholder(output);
    QCOMPARE(RunEncoder(EncoderArgs(Path("tone.mkv"), "wav", 128, 44100, 2, output)).exitCode, 0);
    const WavData wav = ReadWav(output);
    QVERIFY(wav.ok);
    QCOMPARE(wav.riffTag, QByteArray("RIFF"));
    QVERIFY(wav.hasJunkChunk);
    QVERIFY(wav.sizesConsistent);
}

void TestLibm9sFailures::trimsWithStartAndDuration()
{
    const QString whole = Path("whole.wav");
    const QString part = Path("part.wav");
    WritePlaceholder(whole);
    WritePlaceholder(part);
    QCOMPARE(RunEncoder(EncoderArgs(Path("tone.mov"), "wav", 128, 44100, 2, whole)).exitCode, 0);
    QStringList args = EncoderArgs(Path("tone.mov"), "wav", 128, 44100, 2, part);
    args.insert(args.size() - 1, "-ss");
    args.insert(args.size() - 1, "0.5");
    args.insert(args.size() - 1, "-t");
    args.insert(args.size() - 1, "00:00:00.40");
    const RunResult r = RunEncoder(args);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.err.startsWith("ffmpeg_release_duration=00:00:00.40=ffmpeg_release_duration\n"),
             Visible(r.err).constData());

    const WavData a = ReadWav(whole);
    const WavData b = ReadWav(part);
    QCOMPARE(qint64(b.samples.size()), qint64(44100 * 2 * 4 / 10));
    const std::vector<int16_t> slice(a.samples.begin() + 44100,
                                     a.samples.begin() + 44100 + qsizetype(b.samples.size()));
    QCOMPARE(MaxSampleDifference(slice, b.samples), 0);

    // The same cut for MP3, where the resampling runs on the reading thread.
    const QString mp3 = Path("part.mp3");
    WritePlaceholder(mp3);
    args.last() = mp3;
    args[args.indexOf("wav")] = "mp3";
    QCOMPARE(RunEncoder(args).exitCode, 0);
    const AudioInfo info = Probe(mp3);
    QCOMPARE(info.decodeErrors, 0);
    QVERIFY2(qAbs(info.samples - 44100 * 4 / 10) <= 1152, qPrintable(QString::number(info.samples)));

    // A copy cuts on packet boundaries, as the ffmpeg program does.
    const QString copy = Path("part-copy.wav");
    const QString theirs = Path("part-copy-theirs.wav");
    WritePlaceholder(copy);
    QCOMPARE(RunEncoder(CopyArgs(Path("tone.mov"), copy, {"-ss", "0.5", "-t", "00:00:00.40"})).exitCode, 0);
    QVERIFY(MakeWithFfmpeg({"-ss", "0.5", "-t", "0.4", "-i", Path("tone.mov"), "-vn", "-acodec", "copy"}, theirs));
    QCOMPARE(PacketChecksums(copy), PacketChecksums(theirs));
    QVERIFY(qAbs(double(ReadWav(copy).samples.size()) / 2 - 44100 * 0.4) <= 2 * 1024);

    // A copy that would hold no packet at all leaves the output as it was.
    WritePlaceholder(copy);
    const RunResult past = RunEncoder(CopyArgs(Path("tone.mov"), copy, {"-ss", "50"}));
    QCOMPARE(past.exitCode, 1);
    QVERIFY2(LastMessage(past.err).contains("Nothing to copy"), Visible(past.err).constData());
    QCOMPARE(ReadAll(copy), Placeholder());
}

void TestLibm9sFailures::checksOutputAndSource_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output"); // its extension says the format; "copy-" before it: a copy
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QString>("cut");  // the part of the output left before the check, empty: all
    QTest::addColumn<QString>("kind"); // of the failure, empty: success
    QTest::addColumn<bool>("incomplete");
    for (const QString format : {"wav", "mp3", "flac", "m4a", "opus", "ogg"}) {
        QTest::addRow("%s, checked", qPrintable(format)) << "tone.mkv" << "checked." + format << QStringList{} << ""
                                                         << "" << false;
        QTest::addRow("%s cut to half before the check", qPrintable(format))
            << "tone.mkv" << "checked." + format << QStringList{} << "0.5" << "check" << false;
    }
    QTest::newRow("copy, checked") << "tone.mkv" << "copy-checked.wav" << QStringList{} << "" << "" << false;
    QTest::newRow("copy cut to half before the check")
        << "clip.mp4" << "copy-checked.m4a" << QStringList{} << "0.5" << "check" << false;
    QTest::newRow("mp3 emptied before the check")
        << "tone.mkv" << "checked.mp3" << QStringList{} << "0" << "check" << false;
    QTest::newRow("source ends at 40 %") << "long-cut.mp4" << "checked.mp3" << QStringList{} << "" << "" << true;
    QTest::newRow("source ends at 40 %, copied")
        << "long-cut.mp4" << "copy-checked.m4a" << QStringList{} << "" << "" << true;
    QTest::newRow("wav source ends at 40 %") << "long-cut.wav" << "checked.flac" << QStringList{} << "" << "" << true;
    QTest::newRow("wav source ends at 40 %, copied")
        << "long-cut.wav" << "copy-checked.wav" << QStringList{} << "" << "" << true;
    QTest::newRow("source ends at 40 %, a part inside")
        << "long-cut.mp4" << "checked.mp3" << QStringList{"-ss", "2", "-t", "3"} << "" << "" << false;
    QTest::newRow("picture half a second longer") << "longer-picture.mkv" << "checked.wav" << QStringList{} << ""
                                                  << "" << false;
    // Resampled, one sample is less than one: it still makes an output.
    for (const QString format : {"opus", "mp3"})
        QTest::addRow("one sample, to %s", qPrintable(format))
            << "one-sample.wav" << "checked." + format << QStringList{"-ar", "8000"} << "" << "" << false;
    QTest::newRow("-t 0") << "tone.mkv" << "checked.mp3" << QStringList{"-t", "0"} << "" << "other" << false;
}

void TestLibm9sFailures::checksOutputAndSource()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    QFETCH(QStringList, extra);
    QFETCH(QString, cut);
    QFETCH(QString, kind);
    QFETCH(bool, incomplete);
    const bool copy = output.startsWith("copy-");
    const QString path = Path(output);
    WritePlaceholder(path);
    QStringList args =
        copy ? CopyArgs(Path(input), path, extra)
             : WithOptions(EncoderArgs(Path(input), QFileInfo(output).suffix(), 128, 44100, 2, path), extra);
    args.insert(args.size() - 1, "-verify");
    if (!cut.isEmpty())
        qputenv("LIBM9S_TEST_CUT_OUTPUT", cut.toUtf8());
    const RunResult r = RunEncoder(args);
    qunsetenv("LIBM9S_TEST_CUT_OUTPUT");

    const QList<QByteArray> lines = MessageLines(r.err);
    QCOMPARE(r.exitStatus, QProcess::NormalExit);
    QVERIFY2(r.exitCode == (kind.isEmpty() ? 0 : 1), Visible(r.err).constData());
    if (!kind.isEmpty())
        QVERIFY2(lines.size() >= 2 && lines[lines.size() - 2] == FailureMarker(kind), Visible(r.err).constData());
    if (kind == "check")
        QVERIFY2(LastMessage(r.err).startsWith("Output check failed: ") && LastMessage(r.err).contains(" of 0:01 "),
                 Visible(r.err).constData());
    static const QRegularExpression marker("ffmpeg_release_incomplete=([0-9.]+)/([0-9.]+)=ffmpeg_release_incomplete\n");
    const QRegularExpressionMatch found = marker.match(QString::fromUtf8(r.err));
    QVERIFY2(found.hasMatch() == incomplete && r.err.count("ffmpeg_release_incomplete=") == int(incomplete),
             Visible(r.err).constData());
    if (incomplete) {
        // What was read is what the output holds; the declared length is the index's.
        QVERIFY2(qAbs(found.captured(2).toDouble() - 20) < 0.1, Visible(r.err).constData());
        QVERIFY2(qAbs(Probe(path).samples / 44100.0 - found.captured(1).toDouble()) < 0.1, Visible(r.err).constData());
    }
}

void TestLibm9sFailures::keepsOrRefusesCopies_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QString>("kind");    // of the failure, empty: success
    QTest::addColumn<QString>("message"); // a line that says so
    QTest::addColumn<QString>("codec");   // of the output written
    QTest::newRow("GSM from QuickTime") << "gsm.mov" << "kept.mka" << QStringList{} << "cannotkeep"
                                        << "This track (GSM) cannot be kept as it is; choose a format to convert it"
                                        << "";
    QTest::newRow("IMA ADPCM from QuickTime")
        << "ima.mov" << "kept.mka" << QStringList{} << "cannotkeep" << "(ADPCM IMA QuickTime) cannot be kept" << "";
    QTest::newRow("ADPCM from Flash video, which Matroska would not name")
        << "adpcm.flv" << "kept.mka" << QStringList{} << "cannotkeep" << "cannot be kept" << "";
    QTest::newRow("nothing asked for (-t 0)") << "clip.avi" << "kept.mp3" << QStringList{"-t", "0"} << "other"
                                              << "Nothing to copy" << "";
    QTest::newRow("MP2 from MPEG-PS into .mp2") << "clip.mpg" << "kept.mp2" << QStringList{} << "" << "" << "mp2";
    QTest::newRow("AAC with a damaged ADTS header")
        << "damaged.aac" << "kept.m4a" << QStringList{} << "" << "damaged audio packet(s) that could not be copied"
        << "aac";
}

void TestLibm9sFailures::keepsOrRefusesCopies()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    QFETCH(QStringList, extra);
    QFETCH(QString, kind);
    QFETCH(QString, message);
    QFETCH(QString, codec);
    // With -y over an existing file, and with no file there.
    for (const bool existing : {true, false}) {
        const QString path = Path(output);
        QFile::remove(path);
        if (existing)
            WritePlaceholder(path);
        const RunResult r = RunEncoder(CopyArgs(Path(input), path, extra + QStringList{"-verify"}));
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QVERIFY2(r.exitCode == (kind.isEmpty() ? 0 : 1), Visible(r.err).constData());
        const QList<QByteArray> lines = MessageLines(r.err);
        QVERIFY2(message.isEmpty()
                     || (kind.isEmpty() ? r.err.count(message.toUtf8()) == 1 : lines.last().contains(message.toUtf8())),
                 Visible(r.err).constData());
        if (!kind.isEmpty()) {
            QCOMPARE(lines[lines.size() - 2], FailureMarker(kind));
            if (existing)
                QCOMPARE(ReadAll(path), Placeholder());
            else
                QVERIFY(!QFileInfo::exists(path));
            continue;
        }
        const AudioInfo info = Probe(path);
        QCOMPARE(info.codec, codec);
        QCOMPARE(info.decodeErrors, 0);
        QVERIFY2(info.samples > info.sampleRate, qPrintable(QString::number(info.samples)));
    }
}

QTEST_GUILESS_MAIN(TestLibm9sFailures)
#include "tst_libm9s_failures.moc"
