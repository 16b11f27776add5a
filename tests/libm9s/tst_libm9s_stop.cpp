// Stopping libm9s: "quit" on standard input, SIGTERM and SIGINT, in the
// middle of a file, before the first packet, while the input is still being
// opened and in the first milliseconds after the start, and when its parent
// dies. Each must end by itself with a valid file of what was converted, a
// line that says how far it came and the stopped status, never 0: a part is
// never taken for the whole. Also: progress arrives while the encoder runs,
// and end of input is no stop.
//
// No verdict here depends on the machine's speed: an input that must still
// be converting when the stop comes arrives through a FIFO that the test
// feeds and holds open, so the conversion cannot end before the test says.

#include "EncoderTestKit.h"
#include "console/ConsoleIO.h"
#include "libm9s/EncoderContract.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace EncoderTestKit;

namespace {

// The program kills the encoder a second after it asked it to stop; here a
// stopped encoder only has to end by itself, however slow the machine.
constexpr int kEndTimeoutMs = 30000;
constexpr double kLongSeconds = 600;
constexpr int kLongRate = 8000; // long.wav: mono, 16 bits

// A WAV that reaches the encoder through a FIFO only as fast as the test
// writes it, and never ends while the test holds the FIFO open.
class SlowInput {
public:
    SlowInput(const QString &fifo, const QByteArray &wav) : path_(QFile::encodeName(fifo)), wav_(wav)
    {
        ::unlink(path_.constData());
        created_ = ::mkfifo(path_.constData(), 0600) == 0;
    }
    ~SlowInput()
    {
        if (fd_ >= 0)
            ::close(fd_);
        ::unlink(path_.constData());
    }

    // True once the encoder has the FIFO open for reading (it has installed
    // its stop handlers by then); gives up after timeoutMs.
    bool WaitForReader(int timeoutMs)
    {
        if (!created_ || fd_ >= 0)
            return fd_ >= 0;
        // Opening a FIFO for writing returns when a reader opens it.
        std::future<int> writer =
            std::async(std::launch::async, [this] { return ::open(path_.constData(), O_WRONLY | O_CLOEXEC); });
        if (writer.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
            // No reader came: one of our own releases the waiting open.
            const int reader = ::open(path_.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            const int fd = writer.get();
            for (int unused : {fd, reader})
                if (unused >= 0)
                    ::close(unused);
            return false;
        }
        fd_ = writer.get();
        // Feed writes only what the pipe takes at once.
        if (fd_ >= 0)
            ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
        return fd_ >= 0;
    }

    // Writes up to seconds more of the file, as much as the pipe takes now.
    void Feed(double seconds)
    {
        qsizetype until = std::min(wav_.size(), sent_ + qsizetype(seconds * kLongRate * 2));
        if (sent_ == 0)
            until += wav_.indexOf("data") + 8; // the header
        while (fd_ >= 0 && sent_ < until) {
            const ssize_t n = ::write(fd_, wav_.constData() + sent_, size_t(until - sent_));
            if (n <= 0)
                return; // full for now (EAGAIN), or the reader has gone
            sent_ += n;
        }
    }

private:
    QByteArray path_;
    QByteArray wav_;
    bool created_ = false;
    int fd_ = -1;
    qsizetype sent_ = 0;
};

// An encoder process whose standard error is collected as it arrives.
class LiveEncoder {
public:
    explicit LiveEncoder(const QStringList &args, const QString &inputFile = QString())
    {
        if (!inputFile.isEmpty())
            process_.setStandardInputFile(inputFile);
        process_.setReadChannel(QProcess::StandardError);
        // Started as the program starts it: stop signals held until the
        // encoder's handlers stand, SIGINT taken even when this test runs as
        // a background job (which inherits it ignored).
        process_.setChildProcessModifier([] {
            HoldStopSignalsInChild();
            ::signal(SIGINT, SIG_DFL);
        });
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
    // or when the process ended first. between() runs on every round.
    template <typename Done> bool WaitFor(Done done, int timeoutMs, const std::function<void()> &between = {})
    {
        QElapsedTimer waited;
        waited.start();
        while (!done()) {
            if (process_.state() == QProcess::NotRunning || waited.elapsed() > timeoutMs)
                return false;
            if (between)
                between();
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

// The seconds a stopped encoder's last line says the file holds; -1 without
// that line.
double StoppedSeconds(const QByteArray &err)
{
    static const QRegularExpression line(
        QString("%1(\\d+\\.\\d\\d)%2\n$").arg(EncoderContract::StoppedOpen, EncoderContract::StoppedClose));
    const QRegularExpressionMatch found = line.match(QString::fromUtf8(err));
    return found.hasMatch() ? found.captured(1).toDouble() : -1;
}

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
    } else if (format == "mp3") {
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
    void stopsEitherPassOfTwo_data();
    void stopsEitherPassOfTwo();
    void endOfInputIsNoStop();
    void survivesClosedErrorPipe();
    void stopsWhenItsParentDies();

private:
    QString Path(const QString &name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
    QByteArray longWav_;
};

void TestLibm9sStop::initTestCase()
{
    QVERIFY(dir_.isValid());
    // Feeding a FIFO whose reader has ended fails with EPIPE instead.
    std::signal(SIGPIPE, SIG_IGN);
    // Ten minutes of plain PCM: instant to make, seconds to turn into MP3.
    const QStringList tone{"-f",   "lavfi",    "-i", QString("sine=f=440:r=%1:d=%2").arg(kLongRate).arg(kLongSeconds),
                           "-c:a", "pcm_s16le"};
    QVERIFY(MakeWithFfmpeg(tone, Path("long.mkv")));
    QVERIFY(MakeWithFfmpeg(tone, Path("long.wav")));
    longWav_ = ReadAll(Path("long.wav"));
    QVERIFY(longWav_.indexOf("data") > 0);
}

void TestLibm9sStop::stopsMidFile_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("rate");
    QTest::addColumn<bool>("overOldFile"); // run by hand with -y over a file with content, not the placeholder
    for (const char *how : {"quit", "SIGTERM", "SIGINT"}) {
        QTest::addRow("%s, mp3", how) << how << "mp3" << 44100 << false;
        QTest::addRow("%s, wav", how) << how << "wav" << 96000 << false;
    }
    for (const char *format : {"flac", "m4a", "opus", "ogg", "copy"})
        QTest::addRow("quit, %s", format) << "quit" << format << 48000 << false;
    QTest::newRow("SIGTERM over an old file: the old file stays") << "SIGTERM" << "mp3" << 44100 << true;
    QTest::newRow("quit over an old file, copy: the old file stays") << "quit" << "copy" << 48000 << true;
}

void TestLibm9sStop::stopsMidFile()
{
    QFETCH(QString, how);
    QFETCH(QString, format);
    QFETCH(int, rate);
    QFETCH(bool, overOldFile);
    // A copy of the PCM input is a WAV too.
    const QString extension = format == "copy" ? QString("wav") : format;
    const QString output = Path("stopped." + extension);
    const QByteArray old("a finished conversion of another day\n");
    WritePlaceholder(output);
    if (overOldFile) {
        QFile file(output);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(old) == old.size());
    }

    SlowInput input(Path("slow.wav"), longWav_);
    LiveEncoder encoder(format == "copy" ? CopyArgs(Path("slow.wav"), output)
                                         : EncoderArgs(Path("slow.wav"), format, 128, rate, 2, output));
    QVERIFY(input.WaitForReader(kEndTimeoutMs));
    // Audio trickles in until the first progress report.
    QVERIFY2(encoder.WaitFor([&] { return !encoder.Times().isEmpty(); }, kEndTimeoutMs, [&] { input.Feed(0.05); }),
             Visible(encoder.Err()).constData());

    QElapsedTimer stopping;
    stopping.start();
    encoder.Stop(how);
    QVERIFY2(encoder.WaitForEnd(kEndTimeoutMs), "did not end after the stop request");
    qInfo("ended %lld ms after the stop request", stopping.elapsed());
    QCOMPARE(encoder.Process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(encoder.Process().exitCode(), EncoderContract::ExitStopped);
    if (overOldFile) {
        // A part never replaces what was there, and nothing is left beside it.
        QCOMPARE(ReadAll(output), old);
        QCOMPARE(QDir(QFileInfo(output).path()).entryList({".stopped.*"}, QDir::Files | QDir::Hidden), QStringList{});
        return;
    }

    qint64 samples = 0;
    VerifyValidOutput(output, extension, &samples);
    QVERIFY(samples > 0);
    // The last report and the stopped line say the time the file holds.
    QVERIFY2(StoppedSeconds(encoder.Err()) > 0, Visible(encoder.Err()).constData());
    QCOMPARE(StoppedSeconds(encoder.Err()), encoder.Times().last());
    if (format == "wav")
        QCOMPARE(encoder.Times().last(), std::round(double(samples) / rate * 100) / 100);
}

void TestLibm9sStop::stopsBeforeFirstPacket_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QStringList>("extra");
    QTest::newRow("wav") << "wav" << QStringList{};
    QTest::newRow("mp3") << "mp3" << QStringList{};
    for (const char *format : {"flac", "m4a", "opus", "ogg"})
        QTest::newRow(format) << format << QStringList{};
    QTest::newRow("mp3, to be measured first") << "mp3" << QStringList{"-loudness", "-16"};
    QTest::newRow("flac, to be tagged") << "flac" << QStringList{"-replaygain"};
}

void TestLibm9sStop::stopsBeforeFirstPacket()
{
    QFETCH(QString, format);
    QFETCH(QStringList, extra);
    const QString output = Path("early." + format);
    WritePlaceholder(output);
    // The stop text is there before the encoder has even opened its input.
    const QString quit = Path("quit.txt");
    QFile file(quit);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("quit\n");
    file.close();
    QStringList args = EncoderArgs(Path("long.mkv"), format, 128, 44100, 2, output);
    for (const QString &option : extra)
        args.insert(args.size() - 1, option);
    LiveEncoder encoder(args, quit);
    QVERIFY(encoder.WaitForEnd(kEndTimeoutMs));
    QCOMPARE(encoder.Process().exitCode(), EncoderContract::ExitStopped);
    // Nothing, or the one silent frame that keeps the file playable.
    const double stoppedAt = StoppedSeconds(encoder.Err());
    QVERIFY2(stoppedAt >= 0 && stoppedAt < 0.05, Visible(encoder.Err()).constData());
    qint64 samples = 0;
    VerifyValidOutput(output, format, &samples);
    QVERIFY2(samples <= 1152, qPrintable(QString::number(samples))); // empty, or one silent MP3 frame
}

void TestLibm9sStop::stopsWhileOpening_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("delayMs"); // -1: once the encoder has the input open
    QTest::newRow("quit, wav") << "quit" << "wav" << -1;
    QTest::newRow("quit, mp3") << "quit" << "mp3" << -1;
    QTest::newRow("SIGTERM, wav") << "SIGTERM" << "wav" << -1;
    // A stop in the first milliseconds, while the encoder's libraries are
    // still loading, is held until its handlers stand: a clean end too.
    for (int delay : {0, 5, 10, 20}) {
        QTest::addRow("SIGTERM %d ms after the start, wav", delay) << "SIGTERM" << "wav" << delay;
        QTest::addRow("SIGTERM %d ms after the start, mp3", delay) << "SIGTERM" << "mp3" << delay;
    }
    QTest::newRow("SIGINT at the start, wav") << "SIGINT" << "wav" << 0;
}

void TestLibm9sStop::stopsWhileOpening()
{
    QFETCH(QString, how);
    QFETCH(QString, format);
    QFETCH(int, delayMs);
    // A FIFO that nobody ever writes to: an input that never finishes
    // opening, so only the stop can end the encoder.
    SlowInput input(Path("stalled.avi"), longWav_);
    const QString output = Path("opening." + format);
    WritePlaceholder(output);

    LiveEncoder encoder(EncoderArgs(Path("stalled.avi"), format, 128, 44100, 2, output));
    QVERIFY(encoder.Process().waitForStarted(kEndTimeoutMs));
    if (delayMs < 0)
        QVERIFY(input.WaitForReader(kEndTimeoutMs));
    else
        QThread::msleep(delayMs); // when the stop comes, not a wait for anything
    encoder.Stop(how);
    QVERIFY2(encoder.WaitForEnd(kEndTimeoutMs), "did not end after the stop request");
    QCOMPARE(encoder.Process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(encoder.Process().exitCode(), EncoderContract::ExitStopped);
    QVERIFY2(StoppedSeconds(encoder.Err()) >= 0, Visible(encoder.Err()).constData());
    qint64 samples = 0;
    VerifyValidOutput(output, format, &samples);
    QVERIFY(samples <= 1152); // empty, or one silent MP3 frame
}

void TestLibm9sStop::reportsProgressWhileRunning()
{
    const QString output = Path("progress.mp3");
    WritePlaceholder(output);
    SlowInput input(Path("slow.wav"), longWav_);
    LiveEncoder encoder(EncoderArgs(Path("slow.wav"), "mp3", 128, 44100, 2, output));
    QVERIFY(input.WaitForReader(kEndTimeoutMs));
    // Reports come through the pipe as they are made, not when the encoder ends.
    QVERIFY2(encoder.WaitFor([&] { return encoder.Times().size() >= 3; }, kEndTimeoutMs, [&] { input.Feed(0.05); }),
             Visible(encoder.Err()).constData());
    QCOMPARE(encoder.Process().state(), QProcess::Running);
    const QList<double> times = encoder.Times();
    QVERIFY(times[0] > 0 && times[0] < times[1] && times[1] < times[2]);
    encoder.Stop("quit");
    QVERIFY(encoder.WaitForEnd(kEndTimeoutMs));
}

void TestLibm9sStop::stopsEitherPassOfTwo_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QStringList>("extra");
    QTest::newRow("one thread") << "long.mkv" << QStringList{"-threads", "1"};
    // A WAV's exact timestamps let both passes cut it into parts.
    QTest::newRow("three threads") << "long.wav" << QStringList{"-threads", "3"};
    QTest::newRow("three threads, a part") << "long.wav" << QStringList{"-threads", "3", "-ss", "2.5", "-t", "500"};
}

void TestLibm9sStop::stopsEitherPassOfTwo()
{
    QFETCH(QString, input);
    QFETCH(QStringList, extra);
    // Two passes read the input twice, so no FIFO here: the stop comes with
    // the first report, in whichever pass the encoder then is. Either way
    // the file is valid and the time never went back.
    const QString output = Path("levelled.mp3");
    WritePlaceholder(output);
    QStringList args = EncoderArgs(Path(input), "mp3", 128, 44100, 2, output);
    for (const QString &arg : QStringList{"-loudness", "-16"} + extra)
        args.insert(args.size() - 1, arg);
    LiveEncoder encoder(args);
    QVERIFY2(encoder.WaitFor([&] { return !encoder.Times().isEmpty(); }, kEndTimeoutMs * 4),
             Visible(encoder.Err()).constData());
    encoder.Stop("quit");
    // A hang guard only: two passes of a hostile file may take long on a slow machine.
    QVERIFY2(encoder.WaitForEnd(kEndTimeoutMs * 4), "did not end after the stop request");
    QCOMPARE(encoder.Process().exitCode(), EncoderContract::ExitStopped);
    QVERIFY2(StoppedSeconds(encoder.Err()) >= 0, Visible(encoder.Err()).constData());
    qint64 samples = 0;
    VerifyValidOutput(output, "mp3", &samples);
    const QList<double> times = encoder.Times();
    QVERIFY2(std::is_sorted(times.begin(), times.end()), Visible(encoder.Err()).constData());
    QVERIFY(times.last() <= kLongSeconds);
}

void TestLibm9sStop::endOfInputIsNoStop()
{
    const QString output = Path("eof.wav");
    WritePlaceholder(output);
    LiveEncoder encoder(EncoderArgs(Path("long.mkv"), "wav", 128, 8000, 1, output));
    encoder.Process().closeWriteChannel();
    QVERIFY(encoder.WaitForEnd(kEndTimeoutMs * 4));
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
    // A shell starts the encoder, tells us its process id and is killed
    // outright, as a crashed program would be, once the encoder is writing
    // audio from an input that cannot end before it is stopped.
    const QString output = Path("orphan.mp3");
    WritePlaceholder(output);
    SlowInput input(Path("orphan-in.wav"), longWav_);
    QStringList args = EncoderArgs(Path("orphan-in.wav"), "mp3", 128, 44100, 2, output);
    // Nobody waits for the orphan: its error output goes to a file.
    const QString err = Path("orphan-err.txt");
    QProcess parent;
    parent.start(
        "sh", QStringList{"-c", "err=$1; shift; \"$0\" \"$@\" 2>\"$err\" </dev/null & echo $!; read go; kill -KILL $$",
                          EncoderPath(), err}
                  + args);
    QVERIFY(parent.waitForStarted(kEndTimeoutMs));
    QVERIFY(input.WaitForReader(kEndTimeoutMs));
    QVERIFY(parent.canReadLine() || parent.waitForReadyRead(kEndTimeoutMs));
    bool ok = false;
    const pid_t encoder = pid_t(parent.readLine().trimmed().toInt(&ok));
    QVERIFY(ok && encoder > 0);

    // The placeholder gives way when the first audio is written.
    QElapsedTimer waited;
    waited.start();
    while (ReadAll(output) == Placeholder() && waited.elapsed() < kEndTimeoutMs) {
        input.Feed(0.05);
        QTest::qWait(20);
    }
    QVERIFY(ReadAll(output) != Placeholder());
    parent.write("go\n");
    QVERIFY(parent.waitForFinished(kEndTimeoutMs));

    waited.restart();
    while (::kill(encoder, 0) == 0 && waited.elapsed() < kEndTimeoutMs)
        QTest::qWait(20);
    QVERIFY2(::kill(encoder, 0) != 0, "the orphaned encoder went on converting");

    qint64 samples = 0;
    VerifyValidOutput(output, "mp3", &samples);
    QVERIFY(samples > 0);
    // Stopped, not done: its exit status is the init process's to see, the
    // stopped line ours.
    QVERIFY2(StoppedSeconds(ReadAll(err)) > 0, Visible(ReadAll(err)).constData());
}

QTEST_GUILESS_MAIN(TestLibm9sStop)
#include "tst_libm9s_stop.moc"
