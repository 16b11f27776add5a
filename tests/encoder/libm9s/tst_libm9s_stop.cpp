// Stopping libm9s: "quit" on standard input, SIGTERM and SIGINT, in the
// middle of a file, before the first packet and while the input is still
// being opened. Each must end well within the second after which the
// program kills the encoder, with exit status 0 and a valid file. Also:
// progress arrives while the encoder runs, and end of input is no stop.

#include "EncoderTestKit.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

using namespace EncoderTestKit;

namespace {

// The program kills the encoder this long after it asked it to stop.
constexpr int kKillDeadlineMs = 1000;
constexpr double kLongSeconds = 600;

// An encoder process whose standard error is collected as it arrives.
class LiveEncoder {
public:
    explicit LiveEncoder(const QStringList &args, const QString &inputFile = QString())
    {
        if (!inputFile.isEmpty())
            process_.setStandardInputFile(inputFile);
        process_.setReadChannel(QProcess::StandardError);
        process_.start(EncoderPath(), args);
        clock_.start();
    }
    ~LiveEncoder()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    QProcess &Process() { return process_; }
    const QByteArray &Err() const { return err_; }

    // Time reports seen so far, in seconds.
    QList<double> Times() const
    {
        static const QRegularExpression report("ffmpeg_release_time=(\\d+\\.\\d\\d)=ffmpeg_release_time\r");
        QList<double> times;
        auto it = report.globalMatch(QString::fromUtf8(err_));
        while (it.hasNext())
            times << it.next().captured(1).toDouble();
        return times;
    }

    // Reads standard error until done() holds or timeoutMs pass; false on timeout
    // or when the process ended first.
    template <typename Done> bool WaitFor(Done done, int timeoutMs)
    {
        QElapsedTimer waited;
        waited.start();
        while (!done()) {
            if (process_.state() == QProcess::NotRunning || waited.elapsed() > timeoutMs)
                return false;
            process_.waitForReadyRead(50);
            err_ += process_.readAllStandardError();
        }
        return true;
    }

    bool WaitForEnd(int timeoutMs)
    {
        const bool ended = process_.waitForFinished(timeoutMs);
        err_ += process_.readAllStandardError();
        return ended;
    }

    void Stop(const QString &how)
    {
        if (how == "quit")
            process_.write("quit\n");
        else
            ::kill(pid_t(process_.processId()), how == "SIGTERM" ? SIGTERM : SIGINT);
    }

private:
    QProcess process_;
    QElapsedTimer clock_;
    QByteArray err_;
};

// The file a stopped conversion leaves must be whole: decodable without
// errors, headers that agree with the data.
void VerifyValidOutput(const QString &path, const QString &format, qint64 *samples)
{
    const AudioInfo info = Probe(path);
    QVERIFY2(info.opened, qPrintable(info.error));
    QCOMPARE(info.decodeErrors, 0);
    *samples = info.samples;
    if (format == "wav") {
        const WavData wav = ReadWav(path);
        QVERIFY2(wav.ok, qPrintable(wav.error));
        QVERIFY(wav.sizesConsistent);
    } else {
        const QByteArray head = ReadAll(path).left(4096);
        QVERIFY(head.contains("Info") || head.contains("Xing"));
        // The Info header got the final frame count: its length agrees with the audio.
        if (info.samples > 0)
            QVERIFY2(qAbs(info.duration - double(info.samples) / info.sampleRate) < 0.1,
                     qPrintable(QString("%1 s in the header, %2 s of audio")
                                    .arg(info.duration)
                                    .arg(double(info.samples) / info.sampleRate)));
    }
}

} // namespace

class TestLibm9sStop : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void stopsMidFile_data();
    void stopsMidFile();
    void stopsBeforeFirstPacket_data();
    void stopsBeforeFirstPacket();
    void stopsWhileOpening_data();
    void stopsWhileOpening();
    void reportsProgressWhileRunning();
    void endOfInputIsNoStop();
    void survivesClosedErrorPipe();
    void stopsWhenItsParentDies();

private:
    QString Path(const QString &name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
};

void TestLibm9sStop::initTestCase()
{
    QVERIFY(dir_.isValid());
    // Ten minutes of plain PCM: instant to make, seconds to turn into MP3.
    QVERIFY(MakeWithFfmpeg({"-f", "lavfi", "-i", QString("sine=f=440:r=8000:d=%1").arg(kLongSeconds), "-c:a",
                            "pcm_s16le"},
                           Path("long.mkv")));
}

void TestLibm9sStop::stopsMidFile_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("rate");
    for (const char *how : {"quit", "SIGTERM", "SIGINT"}) {
        QTest::addRow("%s, mp3", how) << how << "mp3" << 44100;
        QTest::addRow("%s, wav", how) << how << "wav" << 96000;
    }
}

void TestLibm9sStop::stopsMidFile()
{
    QFETCH(QString, how);
    QFETCH(QString, format);
    QFETCH(int, rate);
    const QString output = Path("stopped." + format);
    WritePlaceholder(output);

    LiveEncoder encoder(EncoderArgs(Path("long.mkv"), format, 128, rate, 2, output));
    QVERIFY2(encoder.WaitFor([&] { return !encoder.Times().isEmpty(); }, 30000), Visible(encoder.Err()).constData());

    QElapsedTimer stopping;
    stopping.start();
    encoder.Stop(how);
    QVERIFY2(encoder.WaitForEnd(kKillDeadlineMs), "did not end before the program would kill it");
    qInfo("ended %lld ms after the stop request", stopping.elapsed());
    QCOMPARE(encoder.Process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(encoder.Process().exitCode(), 0);

    qint64 samples = 0;
    VerifyValidOutput(output, format, &samples);
    QVERIFY(samples > 0);
    QVERIFY2(samples < qint64(kLongSeconds * rate * 0.9), "the conversion was not stopped");
    // The last report is the time the file holds.
    QVERIFY(encoder.Err().endsWith("=ffmpeg_release_time\r"));
    if (format == "wav")
        QCOMPARE(encoder.Times().last(), std::round(double(samples) / rate * 100) / 100);
}

void TestLibm9sStop::stopsBeforeFirstPacket_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("wav") << "wav";
    QTest::newRow("mp3") << "mp3";
}

void TestLibm9sStop::stopsBeforeFirstPacket()
{
    QFETCH(QString, format);
    const QString output = Path("early." + format);
    WritePlaceholder(output);
    // The stop text is there before the encoder has even opened its input.
    const QString quit = Path("quit.txt");
    QFile file(quit);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("quit\n");
    file.close();
    LiveEncoder encoder(EncoderArgs(Path("long.mkv"), format, 128, 44100, 2, output), quit);
    QVERIFY(encoder.WaitForEnd(10000));
    QCOMPARE(encoder.Process().exitCode(), 0);
    qint64 samples = 0;
    VerifyValidOutput(output, format, &samples);
    QVERIFY2(samples <= 1152, qPrintable(QString::number(samples)));  // empty, or one silent MP3 frame
}

void TestLibm9sStop::stopsWhileOpening_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("format");
    QTest::newRow("quit, wav") << "quit" << "wav";
    QTest::newRow("quit, mp3") << "quit" << "mp3";
    QTest::newRow("SIGTERM, wav") << "SIGTERM" << "wav";
}

void TestLibm9sStop::stopsWhileOpening()
{
    QFETCH(QString, how);
    QFETCH(QString, format);
    // Opening a FIFO blocks until somebody writes to it: an input that
    // never finishes opening.
    const QString fifo = Path("stalled.avi");
    QFile::remove(fifo);
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString output = Path("opening." + format);
    WritePlaceholder(output);

    LiveEncoder encoder(EncoderArgs(fifo, format, 128, 44100, 2, output));
    QVERIFY(encoder.Process().waitForStarted(5000));
    QTest::qWait(300);
    QCOMPARE(encoder.Process().state(), QProcess::Running);
    encoder.Stop(how);
    QVERIFY2(encoder.WaitForEnd(kKillDeadlineMs), "did not end before the program would kill it");
    QCOMPARE(encoder.Process().exitCode(), 0);
    qint64 samples = 0;
    VerifyValidOutput(output, format, &samples);
    QVERIFY(samples <= 1152);  // empty, or one silent MP3 frame
}

void TestLibm9sStop::reportsProgressWhileRunning()
{
    const QString output = Path("progress.mp3");
    WritePlaceholder(output);
    LiveEncoder encoder(EncoderArgs(Path("long.mkv"), "mp3", 128, 44100, 2, output));
    // Reports come through the pipe as they are made, not when the encoder ends.
    QVERIFY2(encoder.WaitFor([&] { return encoder.Times().size() >= 3; }, 30000), Visible(encoder.Err()).constData());
    QCOMPARE(encoder.Process().state(), QProcess::Running);
    QVERIFY(encoder.Err().startsWith("ffmpeg_release_duration=00:10:00.00=ffmpeg_release_duration\n"));
    const QList<double> times = encoder.Times();
    QVERIFY(times[0] > 0 && times[0] < times[1] && times[1] < times[2]);
    encoder.Stop("quit");
    QVERIFY(encoder.WaitForEnd(kKillDeadlineMs));
}

void TestLibm9sStop::endOfInputIsNoStop()
{
    const QString output = Path("eof.wav");
    WritePlaceholder(output);
    LiveEncoder encoder(EncoderArgs(Path("long.mkv"), "wav", 128, 8000, 1, output));
    encoder.Process().closeWriteChannel();
    QVERIFY(encoder.WaitForEnd(60000));
    QCOMPARE(encoder.Process().exitCode(), 0);
    const WavData wav = ReadWav(output);
    QCOMPARE(qint64(wav.samples.size()), qint64(kLongSeconds * 8000));
}

void TestLibm9sStop::survivesClosedErrorPipe()
{
    // Nobody reads the progress any more: the writes fail, the conversion goes on.
    const QString output = Path("nopipe.wav");
    WritePlaceholder(output);
    LiveEncoder encoder(EncoderArgs(Path("long.mkv"), "wav", 128, 8000, 1, output));
    QVERIFY(encoder.Process().waitForStarted(5000));
    encoder.Process().closeReadChannel(QProcess::StandardError);
    QVERIFY(encoder.Process().waitForFinished(60000));
    QCOMPARE(encoder.Process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(encoder.Process().exitCode(), 0);
    QCOMPARE(qint64(ReadWav(output).samples.size()), qint64(kLongSeconds * 8000));
}

void TestLibm9sStop::stopsWhenItsParentDies()
{
    // A shell starts the encoder, tells us its process id and is then killed
    // outright, as a crashed program would be.
    const QString output = Path("orphan.mp3");
    WritePlaceholder(output);
    QStringList args = EncoderArgs(Path("long.mkv"), "mp3", 128, 44100, 2, output);
    QProcess parent;
    parent.start("sh", QStringList{"-c", "\"$0\" \"$@\" 2>/dev/null </dev/null & echo $!; sleep 0.5; kill -KILL $$", EncoderPath()} + args);
    QVERIFY(parent.waitForFinished(10000));
    bool ok = false;
    const pid_t encoder = pid_t(parent.readAllStandardOutput().trimmed().toInt(&ok));
    QVERIFY(ok && encoder > 0);

    QElapsedTimer waited;
    waited.start();
    while (::kill(encoder, 0) == 0 && waited.elapsed() < 5000)
        QTest::qWait(20);
    QVERIFY2(::kill(encoder, 0) != 0, "the orphaned encoder went on converting");

    qint64 samples = 0;
    VerifyValidOutput(output, "mp3", &samples);
    QVERIFY(samples > 0);
    QVERIFY2(samples < qint64(kLongSeconds * 44100 * 0.9), "the conversion was not stopped");
}

QTEST_GUILESS_MAIN(TestLibm9sStop)
#include "tst_libm9s_stop.moc"
