// Every combination the program can ask for of WAV and MP3 (format x 18 bit
// rates x 12 sample rates x mono/stereo = 864), and for FLAC, M4A, Opus and
// Ogg Vorbis the edges (lowest, usual and highest bit rate, rates below,
// inside and above what each encoder takes) on a short clip: each yields a
// file that decodes cleanly, at the expected rate and channel count, with
// the clip's length. The conversions run two at a time up front; each
// combination is then checked as its own row.

#include "EncoderTestKit.h"

#include <QEventLoop>
#include <QHash>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using namespace EncoderTestKit;

namespace {

const int kBitrates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 350};
const int kSampleRates[] = {6000, 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 88200, 96000};
const int kEdgeBitrates[] = {8, 128, 350};
const int kEdgeSampleRates[] = {6000, 11025, 44100, 96000};
constexpr int kParallel = 2;

struct Combination {
    QString format;
    int kbits;
    int rate;
    int channels;
};

QList<Combination> Combinations()
{
    QList<Combination> all;
    for (const QString format : {"wav", "mp3"})
        for (int kbits : kBitrates)
            for (int rate : kSampleRates)
                for (int channels : {1, 2})
                    all.append({format, kbits, rate, channels});
    for (const QString format : {"flac", "m4a", "opus", "ogg"})
        for (int kbits : kEdgeBitrates)
            for (int rate : kEdgeSampleRates)
                for (int channels : {1, 2})
                    if (format != "flac" || kbits == 128) // FLAC has no bit rate
                        all.append({format, kbits, rate, channels});
    return all;
}

int ExpectedRate(const QString &format, int rate)
{
    if (format == "wav" || format == "flac")
        return rate;
    if (format == "opus")
        return 48000; // whatever it encodes at, an Ogg Opus header says 48000
    if (format == "ogg")
        return qBound(8000, rate, 48000);
    if (format == "m4a")
        return rate == 6000 ? 7350 : rate;
    // MP3 has no 6000, 88200 or 96000 Hz.
    static const QHash<int, int> nearest{{6000, 8000}, {88200, 48000}, {96000, 48000}};
    return nearest.value(rate, rate);
}

QString CodecOf(const QString &format)
{
    static const QHash<QString, QString> codecs{{"wav", "pcm_s16le"}, {"mp3", "mp3"},   {"flac", "flac"},
                                                {"m4a", "aac"},       {"opus", "opus"}, {"ogg", "vorbis"}};
    return codecs.value(format);
}

QString Name(const QString &format, int kbits, int rate, int channels)
{
    return QString("%1-%2k-%3Hz-%4ch").arg(format).arg(kbits).arg(rate).arg(channels);
}

struct Outcome {
    int exitCode = -1;
    QByteArray err;
};

} // namespace

class TestLibm9sMatrix : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void combination_data();
    void combination();

private:
    void ConvertAll();

    QTemporaryDir dir_;
    QString input_;
    double inputSeconds_ = 0;
    QHash<QString, Outcome> outcomes_;
};

void TestLibm9sMatrix::initTestCase()
{
    QVERIFY(dir_.isValid());
    input_ = dir_.filePath("short.mp4");
    QVERIFY(MakeWithFfmpeg(VideoSource(0.3) + ToneSource(48000, 2, 0.3) + QStringList{"-c:v", "mpeg4", "-c:a", "aac"},
                           input_));
    const AudioInfo source = Probe(input_);
    QVERIFY(source.samples > 0);
    inputSeconds_ = double(source.samples) / source.sampleRate;
    ConvertAll();
}

void TestLibm9sMatrix::ConvertAll()
{
    QStringList queue;
    QHash<QString, QStringList> argsOf;
    for (const Combination &c : Combinations()) {
        const QString name = Name(c.format, c.kbits, c.rate, c.channels);
        const QString output = dir_.filePath(name + "." + c.format);
        WritePlaceholder(output);
        argsOf.insert(name, EncoderArgs(input_, c.format, c.kbits, c.rate, c.channels, output));
        queue << name;
    }

    QEventLoop loop;
    int running = 0;
    std::function<void()> startNext = [&] {
        if (queue.isEmpty()) {
            if (running == 0)
                loop.quit();
            return;
        }
        const QString name = queue.takeFirst();
        auto *process = new QProcess(this);
        process->setStandardInputFile(QProcess::nullDevice());
        ++running;
        connect(process, &QProcess::finished, this, [&, process, name](int code, QProcess::ExitStatus status) {
            outcomes_.insert(name,
                             Outcome{status == QProcess::NormalExit ? code : -2, process->readAllStandardError()});
            process->deleteLater();
            --running;
            startNext();
        });
        connect(process, &QProcess::errorOccurred, this, [&, process, name](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return;
            outcomes_.insert(name, Outcome{-3, "failed to start"});
            process->deleteLater();
            --running;
            startNext();
        });
        process->start(EncoderPath(), argsOf.value(name));
    };
    for (int i = 0; i < kParallel; ++i)
        startNext();
    if (running > 0)
        loop.exec();
}

void TestLibm9sMatrix::combination_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("kbits");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    for (const Combination &c : Combinations())
        QTest::newRow(qPrintable(Name(c.format, c.kbits, c.rate, c.channels)))
            << c.format << c.kbits << c.rate << c.channels;
}

void TestLibm9sMatrix::combination()
{
    QFETCH(QString, format);
    QFETCH(int, kbits);
    QFETCH(int, rate);
    QFETCH(int, channels);
    const QString name = Name(format, kbits, rate, channels);
    const Outcome outcome = outcomes_.value(name);
    QVERIFY2(outcome.exitCode == 0, Visible(outcome.err).constData());

    const AudioInfo info = Probe(dir_.filePath(name + "." + format));
    QVERIFY2(info.opened, qPrintable(info.error));
    QCOMPARE(info.codec, CodecOf(format));
    QCOMPARE(info.sampleRate, ExpectedRate(format, rate));
    QCOMPARE(info.channels, channels);
    QCOMPARE(info.decodeErrors, 0);
    const double expected = inputSeconds_ * info.sampleRate;
    const double tolerance = format == "wav" || format == "flac" ? 2 : format == "mp3" ? 1152 : 2048;
    QVERIFY2(qAbs(double(info.samples) - expected) <= tolerance,
             qPrintable(QString("%1 samples, expected about %2").arg(info.samples).arg(expected)));
    if (format == "mp3" || format == "m4a")
        QVERIFY(info.bitRate > 0);
}

QTEST_GUILESS_MAIN(TestLibm9sMatrix)
#include "tst_libm9s_matrix.moc"
