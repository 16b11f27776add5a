// Every combination the program can ask for (format x 18 bit rates x 12
// sample rates x mono/stereo = 864) on a short clip: each yields a file that
// decodes cleanly, at the expected rate and channel count, with the clip's
// length. The conversions run two at a time up front; each combination is
// then checked as its own row.

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
constexpr int kParallel = 2;

int ExpectedRate(const QString &format, int rate)
{
    if (format == "wav")
        return rate;
    // MP3 has no 6000, 88200 or 96000 Hz.
    static const QHash<int, int> nearest{{6000, 8000}, {88200, 48000}, {96000, 48000}};
    return nearest.value(rate, rate);
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
    for (const QString format : {"wav", "mp3"})
        for (int kbits : kBitrates)
            for (int rate : kSampleRates)
                for (int channels : {1, 2}) {
                    const QString name = Name(format, kbits, rate, channels);
                    const QString output = dir_.filePath(name + "." + format);
                    WritePlaceholder(output);
                    argsOf.insert(name, EncoderArgs(input_, format, kbits, rate, channels, output));
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
            outcomes_.insert(name, Outcome{status == QProcess::NormalExit ? code : -2, process->readAllStandardError()});
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
    for (const QString format : {"wav", "mp3"})
        for (int kbits : kBitrates)
            for (int rate : kSampleRates)
                for (int channels : {1, 2})
                    QTest::newRow(qPrintable(Name(format, kbits, rate, channels)))
                        << format << kbits << rate << channels;
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
    QCOMPARE(info.codec, format == "wav" ? QString("pcm_s16le") : QString("mp3"));
    QCOMPARE(info.sampleRate, ExpectedRate(format, rate));
    QCOMPARE(info.channels, channels);
    QCOMPARE(info.decodeErrors, 0);
    const double expected = inputSeconds_ * info.sampleRate;
    const double tolerance = format == "wav" ? 2 : 1152;
    QVERIFY2(qAbs(double(info.samples) - expected) <= tolerance,
             qPrintable(QString("%1 samples, expected about %2").arg(info.samples).arg(expected)));
    if (format == "mp3")
        QVERIFY(info.bitRate > 0);
}

QTEST_GUILESS_MAIN(TestLibm9sMatrix)
#include "tst_libm9s_matrix.moc"
