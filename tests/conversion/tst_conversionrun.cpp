// The conversion run without a window: the test plays the window's part
// (the queue, the options, the answers), stand-in encoders (shell scripts)
// and the real libm9s do the work.
#include "common/ErrorReport.h"
#include "console/ConsoleIO.h"
#include "conversion/ConversionRun.h"
#include "conversion/FileQueue.h"
#include "conversion/OutputNames.h"
#include "conversion/TemporaryOutput.h"
#include "support/AudioClips.h"
#include "support/ErrorOf.h"
#include "support/NoRootOverride.h"
#include "support/StandInEncoder.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <utility>

#include <csignal>
#include <unistd.h>

namespace {
// What a file overwritten by the run held before; the NUL shows it comes back byte for byte.
const QByteArray oldBytes("old\0tail", 8);
// A source whose output name, with ".mp3", takes 250 bytes.
const QString LongName(246, QLatin1Char('n'));

// The window's part, played by the test: the rows, the options and the answers.
struct TStandInOwner
{
    QStringList Rows;
    QStringList Shown; // a row's name as the user knows it, when its path is a stand-in
    TOutputOptions Options;
    QString Folder;
    QList<quint8> Answers; // one per question; ocAsk once they run out
    QStringList Asked;
    QString Root; // when set, every row was found in this added folder, whose subfolders are kept
    bool SplitChapters = false;
};

struct TQueueHolder
{
    TFileQueue Queue;
};

// A run over the owner's rows that answers its questions as the window does:
// later, from the event loop.
class TTestRun : private TQueueHolder, public TConversionRun
{
public:
    int ParallelFiles = 1;
    int Cores = 6; // shared among the encoders, whatever the machine has

    explicit TTestRun(TStandInOwner &owner) : TConversionRun(Queue), m_owner(owner)
    {
        QObject::connect(
            this, &TConversionRun::FileExistsAsked, this,
            [this](const QString &target) {
                m_owner.Asked << target;
                AnswerFileExists(m_owner.Answers.isEmpty() ? quint8(ocAsk) : m_owner.Answers.takeFirst());
            },
            Qt::QueuedConnection);
    }

    // Converts the owner's rows into folder and returns once the run is over:
    // true when it went through them all.
    bool Run(const QString &folder)
    {
        Queue.Clear();
        for (qsizetype i = 0; i < m_owner.Rows.size(); ++i) {
            Queue.Append(m_owner.Rows[i], m_owner.Shown.value(i));
            Queue.SetRoot(int(i), m_owner.Root);
        }
        QSignalSpy finished(this, &TConversionRun::RunFinished);
        TRunSettings settings{folder, m_owner.Folder, m_owner.Options, ParallelFiles};
        settings.KeepFolders = !m_owner.Root.isEmpty();
        settings.Cores = Cores;
        settings.SplitChapters = m_owner.SplitChapters;
        if (!Start(settings))
            return false;
        return QTest::qWaitFor([this] { return !IsActive(); }, 300000) && finished.count() == 1;
    }

private:
    TStandInOwner &m_owner;
};

// What the run told, in order, as short texts.
struct TRunLog
{
    QStringList Events;
    QStringList ErrorLines;
    QStringList Kinds;       // the failure kind of each file that ended
    QList<bool> OldKept;     // whether each file that ended left an old file as it was
    QStringList Chapters;    // of each file that ended: "<chapter files written>/<chapter it ended in>"
    QList<int> Percents;     // as each progress report arrived
    QList<qint64> Durations; // the file's duration as each progress report arrived
    bool Running = false;    // what the run said last of its encoders: the window's controls follow it
    QString Folder;          // where the run said it put the files
    bool Listening = false;

    void listen(TConversionRun &run)
    {
        if (std::exchange(Listening, true))
            return;
        QObject::connect(&run, &TConversionRun::FileStarted,
                         [this](int row, const QString &) { Events << QStringLiteral("started %1").arg(row); });
        QObject::connect(&run, &TConversionRun::FileProgress, [this, &run](int, const TProgressView &view) {
            Durations << run.File().FDuration;
            Percents << view.Percent;
            if (view.Percent > 0)
                Events << QStringLiteral("progress %1").arg(view.Percent);
        });
        QObject::connect(&run, &TConversionRun::FileFinished,
                         [this](int row, const QString &, TFileOutcome outcome, const TFileReport &report) {
                             static const char *names[] = {"converted", "failed", "stopped", "skipped", "incomplete"};
                             Events << QStringLiteral("%1 %2").arg(names[int(outcome)]).arg(row);
                             ErrorLines << report.Detail;
                             Kinds << report.FailureKind;
                             OldKept << report.OldKept;
                             Chapters << QStringLiteral("%1/%2").arg(report.ChapterFiles).arg(report.Chapter);
                         });
        QObject::connect(&run, &TConversionRun::RunFinished, [this](const QString &folder, const QStringList &failed) {
            Folder = folder;
            Events << QStringLiteral("finished, %1 failed").arg(failed.size());
        });
        QObject::connect(&run, &TConversionRun::EncoderRunningChanged, [this](bool running) { Running = running; });
    }
};
}

class TestConversionRun : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_clips;
    std::unique_ptr<QTemporaryDir> m_program;
    std::unique_ptr<QTemporaryDir> m_output;
    TStandInOwner m_owner;

    QString clip(const QString &name) const { return m_clips.filePath(name); }
    QString out(const QString &name) const { return m_output->filePath(name); }
    QStringList outputFiles() const { return filesIn(m_output->path()); }

    // The encoder the run finds in its folder: a script, or the real one.
    void useEncoder(const QByteArray &script) { installEncoder(m_program->path(), script); }

    // Runs the queue into the output folder; returns what Run returned.
    bool runAll(TTestRun &run, TRunLog &log)
    {
        log.listen(run);
        const bool finished = run.Run(m_output->path());
        // The window's controls come back after every run it is still there for.
        [&] { QVERIFY((!log.Running || run.IsClosing()) && !run.IsEncoderRunning()); }();
        return finished;
    }

private slots:
    void initTestCase()
    {
        if (!haveFfmpegTools())
            QSKIP("ffmpeg and ffprobe are needed to make and check the clips");
        makeClip(clip("a.wav"),
                 {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100", "-t", "1", "-c:a", "pcm_s16le"});
        // A video of three one-second chapters, the last without a title.
        writeFile(clip("chapters.txt"), ";FFMETADATA1\ntitle=Lecture\n"
                                        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=Intro\n"
                                        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=Q&A: part 2/2\n"
                                        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=2000\nEND=3000\n");
        makeClip(clip("lecture.mkv"), {"-f",
                                       "lavfi",
                                       "-i",
                                       "sine=frequency=440:sample_rate=48000:duration=3",
                                       "-f",
                                       "lavfi",
                                       "-i",
                                       "color=size=32x32:duration=3",
                                       "-i",
                                       clip("chapters.txt"),
                                       "-map",
                                       "0",
                                       "-map",
                                       "1",
                                       "-map_chapters",
                                       "2",
                                       "-c:a",
                                       "aac",
                                       "-c:v",
                                       "mpeg4"});
        // Not a video at all: the real encoder fails on it.
        writeFile(clip("damaged.avi"), QByteArray(4096, '\x5a'));
        // Sources the stand-in encoders never read.
        for (const char *folder : {"x", "y"})
            QVERIFY(QDir(m_clips.path()).mkpath(folder));
        for (const char *name : {"b.avi", "c.avi", "d.avi", "x/b.avi", "x/c.avi", "x/clip.avi", "y/clip.avi"})
            writeFile(clip(name), "stand-in source");
        writeFile(clip(LongName + ".avi"), "stand-in source");
    }

    void init()
    {
        m_program = std::make_unique<QTemporaryDir>();
        m_output = std::make_unique<QTemporaryDir>();
        m_owner = TStandInOwner{};
        m_owner.Folder = m_program->path() + '/';
    }

    // How one file ends, what the run tells about it and what stays on disk.
    void oneFile_data()
    {
        QTest::addColumn<QByteArray>("script"); // empty: the real encoder
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("oldFile"); // the target exists and is overwritten
        QTest::addColumn<bool>("stop");    // stopped once the encoder writes to its error output
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("errorLine"); // "*": any text
        QTest::addColumn<QString>("kind");      // the failure kind the run reports
        QTest::addColumn<QByteArray>("left");   // the target afterwards; empty: gone, "*": audio
        const QByteArray writes("printf partial > \"$last\"\n");
        const QByteArray deaf("echo started >&2\nexec sleep 600");
        const QByteArray checkFails(writes
                                    + "echo ffmpeg_release_failure=check=ffmpeg_release_failure >&2\n"
                                      "echo 'Output check failed' >&2\nexit 1");
        // The marker comes cut in two chunks of the error output.
        const QByteArray endsEarly("printf 'ffmpeg_release_incomp' >&2\nsleep 0.1\n"
                                   "echo 'lete=723.4/2700.0=ffmpeg_release_incomplete' >&2\nprintf short > \"$last\"");
        QTest::newRow("real encoder") << QByteArray() << "a.wav" << false << false << "converted" << "" << ""
                                      << QByteArray("*");
        QTest::newRow("real encoder over an old file")
            << QByteArray() << "a.wav" << true << false << "converted" << "" << "" << QByteArray("*");
        QTest::newRow("real encoder, missing source")
            << QByteArray() << "gone.avi" << false << false << "failed" << "*" << "*" << QByteArray();
        QTest::newRow("says why and fails") << QByteArray("echo 'Invalid data found' >&2\nexit 1") << "b.avi" << false
                                            << false << "failed" << "Invalid data found" << "other" << QByteArray();
        QTest::newRow("progress is not a reason")
            << QByteArray("echo why >&2\necho ffmpeg_release_time=1.0=ffmpeg_release_time >&2\nexit 1") << "b.avi"
            << false << false << "failed" << "why" << "other" << QByteArray();
        QTest::newRow("ends at once with an error")
            << QByteArray("exit 2") << "b.avi" << false << false << "failed" << "" << "other" << QByteArray();
        QTest::newRow("ends at once with an error, over an old file")
            << QByteArray("exit 2") << "b.avi" << true << false << "failed" << "" << "other" << oldBytes;
        QTest::newRow("ends well, writes nothing")
            << QByteArray("exit 0") << "b.avi" << false << false << "failed" << "" << "check" << QByteArray();
        QTest::newRow("ends well, writes nothing, over an old file")
            << QByteArray("exit 0") << "b.avi" << true << false << "failed" << "" << "check" << oldBytes;
        QTest::newRow("writes, then fails: nothing stays")
            << writes + "exit 1" << "b.avi" << false << false << "failed" << "" << "other" << QByteArray();
        QTest::newRow("writes, then fails, over an old file")
            << writes + "exit 1" << "b.avi" << true << false << "failed" << "" << "other" << oldBytes;
        QTest::newRow("writes and ends well") << QByteArray("printf audio > \"$last\"\nexit 0") << "b.avi" << true
                                              << false << "converted" << "" << "" << QByteArray("audio");
        QTest::newRow("deaf to quit, killed by a stop")
            << deaf << "b.avi" << false << true << "stopped" << "started" << "" << QByteArray();
        QTest::newRow("stopped before audio, over an old file")
            << deaf << "b.avi" << true << true << "stopped" << "started" << "" << oldBytes;
        QTest::newRow("stopped after audio, over an old file")
            << writes + "echo written >&2\nread command\nexit 0" << "b.avi" << true << true << "stopped" << "written"
            << "" << oldBytes;
        QTest::newRow("stopped after audio, keeps what it wrote")
            << writes + "echo written >&2\nread command\nexit 0" << "b.avi" << false << true << "stopped" << "written"
            << "" << QByteArray("partial");
        QTest::newRow("output check fails: nothing stays") << checkFails << "b.avi" << false << false << "failed"
                                                           << "Output check failed" << "check" << QByteArray();
        const QByteArray stoppedElsewhere(writes
                                          + "echo ffmpeg_release_stopped=451.2=ffmpeg_release_stopped >&2\n"
                                            "exit 3");
        QTest::newRow("stopped by a signal from elsewhere, keeps the part")
            << stoppedElsewhere << "b.avi" << false << false << "stopped" << "" << "" << QByteArray("partial");
        QTest::newRow("stopped by a signal from elsewhere, over an old file")
            << stoppedElsewhere << "b.avi" << true << false << "stopped" << "" << "" << oldBytes;
        QTest::newRow("output check fails, over an old file") << checkFails << "b.avi" << true << false << "failed"
                                                              << "Output check failed" << "check" << oldBytes;
        QTest::newRow("source ends early")
            << endsEarly << "b.avi" << false << false << "incomplete" << "" << "" << QByteArray("short");
        QTest::newRow("source ends early, over an old file")
            << endsEarly << "b.avi" << true << false << "incomplete" << "" << "" << oldBytes;
        QTest::newRow("long name overwritten") << QByteArray("printf audio > \"$last\"") << LongName + ".avi" << true
                                               << false << "converted" << "" << "" << QByteArray("audio");
    }

    void oneFile()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, source);
        QFETCH(bool, oldFile);
        QFETCH(bool, stop);
        QFETCH(QString, outcome);
        QFETCH(QString, errorLine);
        QFETCH(QString, kind);
        QFETCH(QByteArray, left);
        useEncoder(script);
        m_owner.Rows = {clip(source)};
        const QString target = out(QFileInfo(source).completeBaseName() + ".mp3");
        if (oldFile) {
            writeFile(target, oldBytes);
            m_owner.Answers = {quint8(ocOverwriteOnce)};
        }
        TTestRun run(m_owner);
        if (stop)
            connect(run.ConsoleIO, &TConsoleIO::OnReceiveError, &run, &TConversionRun::StopConversion);
        TRunLog log;
        QCOMPARE(runAll(run, log), !stop);

        const bool failed = outcome == "failed";
        if (kind == "*")
            QVERIFY(!log.Kinds.first().isEmpty());
        else
            QCOMPARE(log.Kinds.first(), kind);
        QCOMPARE(log.OldKept.first(), oldFile && outcome != "converted");
        QCOMPARE(log.Events.first(), QStringLiteral("started 0"));
        // A stopped run tells no end.
        const QStringList end =
            stop ? QStringList() : QStringList{QStringLiteral("finished, %1 failed").arg(int(failed))};
        QCOMPARE(log.Events.mid(log.Events.size() - 1 - end.size()), QStringList{outcome + " 0"} + end);
        QCOMPARE(run.FailedSources(), failed ? QStringList{clip(source)} : QStringList());
        QCOMPARE(m_owner.Asked.size(), int(oldFile));
        if (errorLine == "*")
            QVERIFY(!log.ErrorLines.first().isEmpty());
        else
            QCOMPARE(log.ErrorLines.first(), errorLine);
        // What a stop kept of a new file is named as the part it is; the
        // target's name is for the whole file only.
        QString leftAt = target;
        if (outcome == "stopped" && !oldFile && !left.isEmpty()) {
            QVERIFY(!QFile::exists(target));
            const QStringList files = outputFiles();
            QCOMPARE(files.size(), 1);
            QVERIFY2(files.first().startsWith(QFileInfo(target).completeBaseName() + " (stopped at "),
                     qPrintable(files.first()));
            leftAt = out(files.first());
        }
        if (left.isEmpty())
            QVERIFY(!QFile::exists(target));
        else if (left == "*")
            QVERIFY(QFileInfo(target).size() > 1000);
        else
            QCOMPARE(contentOf(leftAt), left);
        // No hidden file stays behind.
        QCOMPARE(outputFiles(), left.isEmpty() ? QStringList() : QStringList{QFileInfo(leftAt).fileName()});
    }

    // A failed file does not end the run: a damaged video gives the old file
    // back, a source deleted after it was queued leaves nothing, and both are
    // named at the end, by the names the user knows.
    void failuresAreNamedAtTheEnd()
    {
        useEncoder(QByteArray());
        m_owner.Rows = {clip("damaged.avi"), m_clips.filePath("gone/gone.avi"), clip("a.wav")};
        m_owner.Shown = {QString(), QStringLiteral("/camera/gon\u00e9.avi")};
        writeFile(out("damaged.mp3"), oldBytes);
        m_owner.Answers = {quint8(ocOverwriteOnce)};
        TTestRun run(m_owner);
        TRunLog log;
        QVERIFY(runAll(run, log));
        QCOMPARE(log.Events.filter(QRegularExpression("^(failed|converted|finished)")),
                 (QStringList{"failed 0", "failed 1", "converted 2", "finished, 2 failed"}));
        QCOMPARE(run.FailedSources(), QStringList({m_owner.Rows[0], m_owner.Shown[1]}));
        QVERIFY(!log.ErrorLines[0].isEmpty() && !log.ErrorLines[1].isEmpty());
        QCOMPARE(contentOf(out("damaged.mp3")), oldBytes);
        QVERIFY(probe(out("a.mp3")).valid);
        QCOMPARE(outputFiles(), (QStringList{"a.mp3", "damaged.mp3"}));
    }

    // The real encoder in each format, rate and channel count. Each format
    // names its output; the original audio by the probed codec (PCM of
    // a.wav, mono and 44100 Hz, gives .wav).
    void realEncoder_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<int>("probedRate");
        QTest::addColumn<int>("probedChannels");
        QTest::newRow("mp3, defaults") << "mp3" << 44100 << 2 << "a.mp3" << "mp3" << 44100 << 2;
        QTest::newRow("mp3, 22050 Hz mono") << "mp3" << 22050 << 1 << "a.mp3" << "mp3" << 22050 << 1;
        QTest::newRow("wav, 48000 Hz stereo") << "wav" << 48000 << 2 << "a.wav" << "pcm_s16le" << 48000 << 2;
        QTest::newRow("wav, 8000 Hz mono") << "wav" << 8000 << 1 << "a.wav" << "pcm_s16le" << 8000 << 1;
        QTest::newRow("flac") << "flac" << 44100 << 2 << "a.flac" << "flac" << 44100 << 2;
        QTest::newRow("m4a") << "m4a" << 44100 << 2 << "a.m4a" << "aac" << 44100 << 2;
        QTest::newRow("opus") << "opus" << 44100 << 2 << "a.opus" << "opus" << 48000 << 2;
        QTest::newRow("ogg") << "ogg" << 44100 << 2 << "a.ogg" << "vorbis" << 44100 << 2;
        QTest::newRow("original audio") << "copy" << 22050 << 2 << "a.wav" << "pcm_s16le" << 44100 << 1;
    }

    void realEncoder()
    {
        QFETCH(QString, format);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(QString, name);
        QFETCH(QString, codec);
        QFETCH(int, probedRate);
        QFETCH(int, probedChannels);
        useEncoder(QByteArray());
        m_owner.Rows = {clip("a.wav")};
        m_owner.Options.Extension = format;
        m_owner.Options.SampleRate = rate;
        m_owner.Options.Channels = channels;
        TTestRun run(m_owner);
        TRunLog log;
        QVERIFY(runAll(run, log));
        QVERIFY(run.FailedSources().isEmpty());
        QCOMPARE(outputFiles(), QStringList{name});
        const AudioInfo info = probe(out(name));
        QCOMPARE(info.codec, codec);
        QCOMPARE(info.sampleRate, probedRate);
        QCOMPARE(info.channels, probedChannels);
        QVERIFY2(info.duration > 0.5 && info.duration < 1.5, qPrintable(QString::number(info.duration)));
    }

    // A stop or a close during a file: no further file, no end report; what
    // the encoder wrote before a stop stays, a close releases the runner. A
    // stop during the last file is a stop too. After a stop the next run
    // starts from the top again; after a close nothing runs any more.
    void interrupted_data()
    {
        QTest::addColumn<bool>("close");
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("stop") << false << QStringList{"b.avi", "a.wav"} << QStringList{"started 0", "stopped 0"};
        QTest::newRow("close") << true << QStringList{"b.avi", "a.wav"} << QStringList{"started 0"};
        QTest::newRow("stop during the last file") << false << QStringList{"a.wav", "b.avi"}
                                                   << QStringList{"started 0", "converted 0", "started 1", "stopped 1"};
    }

    void interrupted()
    {
        QFETCH(bool, close);
        QFETCH(QStringList, sources);
        QFETCH(QStringList, events);
        // b.avi never ends by itself: it waits for the stop command.
        useEncoder("case \"$*\" in *b.avi*) printf partial > \"$last\"\necho written >&2\nread command\nexit 0;; esac\n"
                   "printf audio > \"$last\"");
        for (const QString &source : sources)
            m_owner.Rows << clip(source);
        TTestRun run(m_owner);
        connect(run.ConsoleIO, &TConsoleIO::OnReceiveError, &run, [&] {
            if (close)
                run.Close();
            else
                run.StopConversion();
        });
        TRunLog log;
        QVERIFY(!runAll(run, log));
        QCOMPARE(log.Events, events);
        QCOMPARE(run.ConsoleIO == nullptr, close);
        QCOMPARE(contentOf(out("b (stopped at 0s).mp3")), QByteArray("partial"));
        QVERIFY(!QFile::exists(out("b.mp3")));
        QCOMPARE(contentOf(out("a.mp3")), events.contains("converted 0") ? QByteArray("audio") : "<missing>");
        QVERIFY(!run.IsActive());
        QVERIFY(m_owner.Asked.isEmpty());

        // Again, overwriting what the first run left.
        const QStringList left = outputFiles();
        m_owner.Answers = {quint8(ocOverwriteOnce), quint8(ocOverwriteOnce)};
        log.Events.clear();
        QVERIFY(!run.Run(m_output->path()));
        QCOMPARE(log.Events, close ? QStringList() : events);
        // Only a.mp3 is asked about: a kept part never takes the whole file's name.
        QCOMPARE(m_owner.Asked.size(), close ? 0 : int(left.contains("a.mp3")));
        QCOMPARE(outputFiles(), close ? left : QStringList(left) << "b (stopped at 0s).mp3(1).mp3");
    }

    // A source is never its own output, reached by whatever path: the
    // output takes a free name beside it, unasked, whatever the remembered
    // answer, and the source stays byte for byte.
    void sourceIsNeverItsOwnOutput_data()
    {
        QTest::addColumn<QString>("atTarget"); // what has the output's name: the source, a "link" or a "hardlink" to it
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("the source itself") << "source" << QStringList{"loud.mp3", "loud.mp3(1).mp3"};
        QTest::newRow("a link to the source") << "link" << QStringList{"loud.mp3", "loud.mp3(1).mp3", "src.mp3"};
        QTest::newRow("a second name of the source")
            << "hardlink" << QStringList{"loud.mp3", "loud.mp3(1).mp3", "src.mp3"};
    }

    void sourceIsNeverItsOwnOutput()
    {
        QFETCH(QString, atTarget);
        QFETCH(QStringList, expected);
        useEncoder("printf new > \"$last\"");
        const QString source = out(atTarget == "source" ? "loud.mp3" : "src.mp3");
        writeFile(source, oldBytes);
        if (atTarget == "link")
            QVERIFY(QFile::link(source, out("loud.mp3")));
        else if (atTarget == "hardlink")
            QCOMPARE(::link(QFile::encodeName(source).constData(), QFile::encodeName(out("loud.mp3")).constData()), 0);
        // The queue holds the name the output would take, and the source.
        m_owner.Rows = {out("loud.mp3")};
        if (atTarget != "source")
            m_owner.Rows << source;
        m_owner.Options.Extension = "mp3";
        TTestRun run(m_owner);
        run.FOverwriteChoice = ocOverwriteAll;
        QList<bool> beside;
        connect(&run, &TConversionRun::FileFinished, this,
                [&](int, const QString &, TFileOutcome, const TFileReport &report) { beside << report.BesideSource; });
        TRunLog log;
        QVERIFY(runAll(run, log));
        QCOMPARE(contentOf(source), oldBytes);
        QVERIFY(m_owner.Asked.isEmpty());
        QCOMPARE(beside.first(), true);
        QStringList files = outputFiles();
        files.removeAll("src.mp3(1).mp3"); // the second row's own output
        QCOMPARE(files, expected);
        QCOMPARE(contentOf(out("loud.mp3(1).mp3")), QByteArray("new"));
    }

    // The answers to the file-exists question, remembered across files; a
    // second source of one name never replaces what the first just wrote,
    // whatever answer is remembered for the files that were there before.
    // converted: the target each row's source went to, empty when skipped.
    void existingTargets_data()
    {
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<QStringList>("oldTargets");
        QTest::addColumn<QList<quint8>>("answers"); // exactly one per question
        QTest::addColumn<QStringList>("converted");
        QTest::addColumn<int>("remembered");
        const QStringList two{"b.avi", "x/c.avi"};
        const QStringList old{"b.mp3", "c.mp3"};
        const QStringList sameName{"x/clip.avi", "y/clip.avi"};
        const QStringList both{"clip.mp3", "clip.mp3(1).mp3"};
        QTest::newRow("skip once, then ask again")
            << two << old << QList<quint8>{ocAsk, ocAsk} << QStringList{"", ""} << int(ocAsk);
        QTest::newRow("skip all") << two << old << QList<quint8>{ocSkipAll} << QStringList{"", ""} << int(ocSkipAll);
        QTest::newRow("overwrite all") << two << old << QList<quint8>{ocOverwriteAll} << old << int(ocOverwriteAll);
        QTest::newRow("overwrite, then skip")
            << two << old << QList<quint8>{ocOverwriteOnce, ocAsk} << QStringList{"b.mp3", ""} << int(ocAsk);
        QTest::newRow("skip, then overwrite")
            << two << old << QList<quint8>{ocAsk, ocOverwriteOnce} << QStringList{"", "c.mp3"} << int(ocAsk);
        QTest::newRow("auto name, then overwrite") << two << old << QList<quint8>{ocRenameOnce, ocOverwriteOnce}
                                                   << QStringList{"b.mp3(1).mp3", "c.mp3"} << int(ocAsk);
        QTest::newRow("auto name always") << two << old << QList<quint8>{ocRenameAll}
                                          << QStringList{"b.mp3(1).mp3", "c.mp3(1).mp3"} << int(ocRenameAll);
        QTest::newRow("same name, no file before")
            << sameName << QStringList() << QList<quint8>{} << both << int(ocAsk);
        QTest::newRow("same name, overwrite always")
            << sameName << QStringList{"clip.mp3"} << QList<quint8>{ocOverwriteAll} << both << int(ocOverwriteAll);
        QTest::newRow("same name, overwrite once")
            << sameName << QStringList{"clip.mp3"} << QList<quint8>{ocOverwriteOnce} << both << int(ocAsk);
    }

    void existingTargets()
    {
        QFETCH(QStringList, sources);
        QFETCH(QStringList, oldTargets);
        QFETCH(QList<quint8>, answers);
        QFETCH(QStringList, converted);
        QFETCH(int, remembered);
        useEncoder("echo \"$@\" > \"$last\"");
        for (const QString &source : sources)
            m_owner.Rows << clip(source);
        for (const QString &target : oldTargets)
            writeFile(out(target), "old " + target.toUtf8());
        m_owner.Answers = answers;
        TTestRun run(m_owner);
        TRunLog log;
        QVERIFY(runAll(run, log));

        QStringList events;
        QStringList expectedFiles = oldTargets;
        for (int row = 0; row < sources.size(); ++row) {
            const QString &target = converted[row];
            events << QStringLiteral("started %1").arg(row)
                   << QStringLiteral("%1 %2").arg(target.isEmpty() ? "skipped" : "converted").arg(row);
            if (target.isEmpty())
                continue;
            QVERIFY2(contentOf(out(target)).contains(clip(sources[row]).toUtf8()), qPrintable(target));
            if (!expectedFiles.contains(target))
                expectedFiles << target;
        }
        QCOMPARE(log.Events, events + QStringList{"finished, 0 failed"});
        QCOMPARE(m_owner.Asked.size(), answers.size());
        QCOMPARE(int(run.FOverwriteChoice), remembered);
        for (const QString &target : oldTargets)
            if (!converted.contains(target))
                QCOMPARE(contentOf(out(target)), "old " + target.toUtf8());
        expectedFiles.sort();
        QCOMPARE(outputFiles(), expectedFiles);
    }

    // The program killed while the hidden file holds audio: the old file is
    // still there, byte for byte, and the next start removes the leftover.
    void killedDuringAnOverwrite()
    {
        useEncoder("printf new-audio > \"$last\"\necho written >&2\nread command\nexit 0");
        writeFile(out("b.mp3"), oldBytes);
        const QString config = m_program->filePath("config.ini");
        writeFile(config, "[setting]\n");
        QProcess driver;
        driver.start(TOLVANE_TEST_BIN_DIR "/rundriver", {m_program->path(), m_output->path(), config, clip("b.avi")});
        while (!driver.readAllStandardOutput().contains("writing"))
            QVERIFY(driver.waitForReadyRead());
        const QStringList during = outputFiles();
        QCOMPARE(during.size(), 2);
        QCOMPARE(contentOf(out(during.first())), QByteArray("new-audio"));
        ::kill(pid_t(driver.processId()), SIGKILL);
        QVERIFY(driver.waitForFinished());
        QCOMPARE(outputFiles(), during);
        QCOMPARE(contentOf(out("b.mp3")), oldBytes);

        RemoveAbandonedTemporaries();
        QCOMPARE(outputFiles(), QStringList{"b.mp3"});
        QCOMPARE(contentOf(out("b.mp3")), oldBytes);
    }

    // An answer for every collision holds for the next run without asking.
    void rememberedAnswerHoldsAcrossRuns()
    {
        useEncoder("printf new > \"$last\"");
        m_owner.Rows = {clip("b.avi")};
        m_owner.Answers = {quint8(ocOverwriteAll)};
        TTestRun run(m_owner);
        TRunLog log;
        for (int pass = 0; pass < 2; ++pass) {
            writeFile(out("b.mp3"), "old b");
            QVERIFY(runAll(run, log));
            QCOMPARE(contentOf(out("b.mp3")), QByteArray("new"));
        }
        QCOMPARE(m_owner.Asked.size(), 1);
        QCOMPARE(log.Events.filter("finished").size(), 2);
    }

    // Output folders, made with their parents. One in the way of a file or
    // that may not be written ends the run at its first file, naming it; a
    // kept subfolder in the way fails only its own files. An encoder missing
    // from the program folder ends the run with the system's error and
    // leaves an old file as it was.
    void folderAndEncoder_data()
    {
        QTest::addColumn<QString>("folder"); // relative to a temporary folder
        QTest::addColumn<bool>("encoder");
        QTest::addColumn<bool>("oldFile");  // b.mp3 exists and is to be overwritten
        QTest::addColumn<bool>("kept");     // x/b.avi and c.avi, found in an added folder; a file x in the way
        QTest::addColumn<QString>("error"); // "%s": the folder
        QTest::addColumn<QStringList>("ended");
        QTest::addColumn<QStringList>("outputs");
        const QString noEncoder("System Error.  Code: 2.\r\nNo such file or directory.");
        const QStringList both{"converted 0", "converted 1", "finished, 0 failed"};
        const QStringList mp3s{"b.mp3", "c.mp3"};
        const QStringList first{"failed 0"};
        QTest::newRow("missing, with parents") << "deep/er/out" << true << false << false << "" << both << mp3s;
        QTest::newRow("trailing slash kept") << "out/" << true << false << false << "" << both << mp3s;
        QTest::newRow("a file in the way ends the run")
            << "file/out" << true << false << false << FolderFailure::NotMadeEnglish << first << QStringList();
        QTest::newRow("may not be written, ends the run")
            << "ro" << true << false << false << FolderFailure::AccessEnglish << first << QStringList();
        QTest::newRow("may not be written, over an old file")
            << "ro" << true << true << false << FolderFailure::AccessEnglish << first << QStringList{"b.mp3"};
        QTest::newRow("a kept subfolder in the way fails its files only")
            << "out" << true << false << true << "" << QStringList{"failed 0", "converted 1", "finished, 1 failed"}
            << QStringList{"c.mp3", "x"};
        QTest::newRow("no encoder") << "out" << false << false << false << noEncoder << QStringList() << QStringList();
        QTest::newRow("no encoder, over an old file")
            << "out" << false << true << false << noEncoder << QStringList() << QStringList{"b.mp3"};
    }

    void folderAndEncoder()
    {
        QFETCH(QString, folder);
        QFETCH(bool, encoder);
        QFETCH(bool, oldFile);
        QFETCH(bool, kept);
        QFETCH(QString, error);
        QTemporaryDir base;
        writeFile(base.filePath("file"), "x");
        const QString path = base.filePath(folder);
        const QString target = path + "/b.mp3";
        if (encoder)
            useEncoder("printf audio > \"$last\"");
        if (oldFile) {
            QVERIFY(QDir().mkpath(path));
            writeFile(target, oldBytes);
            m_owner.Answers = {quint8(ocOverwriteAll)};
        }
        if (folder == "ro")
            QVERIFY(QDir().mkpath(path) && QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner));
        m_owner.Rows = {clip("b.avi"), clip("c.avi")};
        if (kept) {
            m_owner.Rows[0] = clip("x/b.avi");
            m_owner.Root = m_clips.path();
            QVERIFY(QDir().mkpath(path));
            writeFile(path + "/x", "in the way");
        }
        TTestRun run(m_owner);
        TRunLog log;
        log.listen(run);
        QString raised;
        {
            const NoRootOverride asAUser;
            raised = ErrorOf([&] { run.Run(path); });
        }
        // The error as the error box shows it, naming the folder.
        QCOMPARE(raised.isEmpty() ? raised : WithFullStop(raised), FormatText(error, {QDir::cleanPath(path)}));
        QVERIFY(!log.Running && !run.IsActive());
        // Nobody is asked about a file in a folder that takes none.
        QCOMPARE(m_owner.Asked.size(), int(oldFile && error != FolderFailure::AccessEnglish));
        QTEST(log.Events.filter(QRegularExpression("^(converted|failed|finished)")), "ended");
        QTEST(filesIn(path), "outputs");
        if (kept)
            QCOMPARE(log.Kinds.first(), QString(FolderFailure::NotMade));
        if (oldFile)
            QCOMPARE(contentOf(target), oldBytes);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The progress of a chunk of encoder output, with the worked example; a
    // bad value raises and keeps what was read before it.
    void parseEncoderOutput_data()
    {
        QTest::addColumn<QString>("chunk");
        QTest::addColumn<int>("percent");
        QTest::addColumn<QString>("clock");
        QTest::addColumn<qint64>("duration");
        QTest::addColumn<QString>("error");
        QTest::newRow("worked example") << "ffmpeg_release_duration=00:03:25.40=ffmpeg_release_duration\r"
                                           "ffmpeg_release_time=102.5=ffmpeg_release_time"
                                        << 50 << "00:03:25" << qint64(205) << "";
        QTest::newRow("no duration") << "ffmpeg_release_time=3.0=ffmpeg_release_time" << 99 << "00:00:01" << qint64(0)
                                     << "";
        QTest::newRow("bad value") << "ffmpeg_release_duration=00:01:00.00=ffmpeg_release_duration"
                                      "ffmpeg_release_time=x=ffmpeg_release_time"
                                   << 0 << "" << qint64(60) << "'x' is not a valid floating point value";
    }

    void parseEncoderOutput()
    {
        QFETCH(QString, chunk);
        QFETCH(int, percent);
        QFETCH(QString, clock);
        QFETCH(qint64, duration);
        QFETCH(QString, error);
        TTestRun run(m_owner);
        TProgressView view;
        QCOMPARE(ErrorOf([&] { view = run.ParseEncoderOutput(chunk); }), error);
        QCOMPARE(view.Percent, percent);
        QCOMPARE(view.EndClock, clock);
        QCOMPARE(run.File().FDuration, duration);
    }

    // Several encoders at once: rows start top to bottom, never more than
    // asked run together, questions come in queue order, a target another
    // running file reserved gets a new name, a stop stops them all, the end
    // is told once; each encoder gets its share of the cores, of the files
    // left. The stand-in encoders wait on their input until the test has
    // seen all it expects running.
    void severalAtOnce_data()
    {
        QTest::addColumn<int>("parallel");
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<QStringList>("oldTargets"); // answered with overwrite once, each
        QTest::addColumn<bool>("stop");
        QTest::addColumn<int>("outputs");     // files in the output folder afterwards
        QTest::addColumn<bool>("folderGone"); // the output folder is deleted while the files convert
        QTest::addColumn<QString>("threads"); // -threads of the first encoders, in order, of 6 cores
        QTest::newRow("one at a time") << 1 << QStringList{"b.avi", "c.avi", "d.avi"} << QStringList() << false << 3
                                       << false << "6 6 6";
        QTest::newRow("two of three") << 2 << QStringList{"b.avi", "c.avi", "d.avi"} << QStringList() << false << 3
                                      << false << "3 3";
        QTest::newRow("more encoders than rows")
            << 4 << QStringList{"b.avi", "c.avi"} << QStringList() << false << 2 << false << "3 3";
        QTest::newRow("questions in queue order") << 3 << QStringList{"b.avi", "c.avi", "d.avi"}
                                                  << QStringList{"b.mp3", "c.mp3"} << false << 3 << false << "2 2 2";
        QTest::newRow("reserved target gets a new name")
            << 2 << QStringList{"b.avi", "x/b.avi", "c.avi"} << QStringList() << false << 3 << false << "";
        QTest::newRow("stop stops all") << 2 << QStringList{"b.avi", "c.avi", "d.avi"} << QStringList() << true << 2
                                        << false << "";
        QTest::newRow("output folder deleted meanwhile")
            << 2 << QStringList{"b.avi", "c.avi"} << QStringList{"b.mp3"} << false << 0 << true << "";
    }

    void severalAtOnce()
    {
        QFETCH(int, parallel);
        QFETCH(QStringList, sources);
        QFETCH(QStringList, oldTargets);
        QFETCH(bool, stop);
        QFETCH(int, outputs);
        QFETCH(bool, folderGone);
        QFETCH(QString, threads);
        useEncoder("printf partial > \"$last\"\n"
                   "echo \"$@\" | sed -n 's/.*-threads \\([0-9]*\\).*/\\1/p' >> \"$0.threads\"\n"
                   "echo waiting >&2\nread command\nexit 0");
        QVERIFY(QDir(m_clips.path()).mkpath("x"));
        for (const char *name : {"c.avi", "d.avi", "x/b.avi"})
            writeFile(clip(name), "source");
        for (const QString &source : sources)
            m_owner.Rows << clip(source);
        for (const QString &target : oldTargets) {
            writeFile(out(target), "old");
            m_owner.Answers << quint8(ocOverwriteOnce);
        }
        TTestRun run(m_owner);
        run.ParallelFiles = parallel;
        TRunLog log;
        log.listen(run);
        int finished = 0;
        int mostRunning = 0;
        connect(&run, &TConversionRun::FileFinished, this, [&] { ++finished; });
        connect(&run, &TConversionRun::FileProgress, this, [&] {
            const int expected = std::min<int>(parallel, int(sources.size()) - finished);
            mostRunning = std::max(mostRunning, run.RunningCount());
            if (run.RunningCount() < expected)
                return;
            if (stop)
                return run.StopConversion();
            if (folderGone)
                QVERIFY(QDir(m_output->path()).removeRecursively());
            for (TConsoleIO *io : run.findChildren<TConsoleIO *>())
                if (io->IsRunning())
                    io->SendCommand("go\n");
        });
        QCOMPARE(run.Run(m_output->path()), !stop);

        const int together = std::min<int>(parallel, int(sources.size()));
        QCOMPARE(mostRunning, together);
        QStringList started;
        for (int row = 0; row < (stop ? together : sources.size()); ++row)
            started << QStringLiteral("started %1").arg(row);
        QCOMPARE(log.Events.filter("started"), started);
        // A file whose output went with its folder fails, with a reason.
        QCOMPARE(log.Events.filter(QRegularExpression(stop         ? "^stopped"
                                                      : folderGone ? "^failed"
                                                                   : "^converted"))
                     .size(),
                 started.size());
        QCOMPARE(log.Events.filter("finished"),
                 stop ? QStringList() : QStringList{QStringLiteral("finished, %1 failed").arg(folderGone ? 2 : 0)});
        QCOMPARE(log.Kinds.count(QString()), folderGone ? 0 : started.size());
        QCOMPARE(m_owner.Asked,
                 QStringList(oldTargets).replaceInStrings(QRegularExpression("^"), m_output->path() + '/'));
        QCOMPARE(QDir(m_output->path()).entryList(QDir::Files | QDir::Hidden).size(), outputs);
        QVERIFY(!run.IsEncoderRunning());
        const QString given = QString::fromUtf8(contentOf(m_program->filePath("libm9s.threads"))).simplified();
        QVERIFY2(given.startsWith(threads), qPrintable(given));
    }

    // Options are read once, when the run starts: a format switch while the
    // second file runs applies to none; the progress of a file starts from nothing.
    void everyFileOnItsOwn()
    {
        useEncoder("echo ffmpeg_release_duration=00:00:10.00=ffmpeg_release_duration >&2\n"
                   "echo ffmpeg_release_time=5.0=ffmpeg_release_time >&2\n"
                   "echo \"$@\" > \"$last\"");
        m_owner.Rows = {clip("b.avi"), clip("c.avi"), clip("d.avi")};
        TTestRun run(m_owner);
        connect(&run, &TConversionRun::FileProgress, this, [this](int row) {
            if (row == 1)
                m_owner.Options.Extension = "wav";
        });
        QList<qint64> atStart;
        connect(&run, &TConversionRun::FileStarted, this,
                [&] { atStart << run.File().FDuration << run.File().FMaxTime; });
        TRunLog log;
        QVERIFY(runAll(run, log));
        QVERIFY(contentOf(out("b.mp3")).contains("-f mp3"));
        QVERIFY(contentOf(out("c.mp3")).contains("-f mp3"));
        QVERIFY(contentOf(out("d.mp3")).contains("-f mp3"));
        QCOMPARE(outputFiles(), (QStringList{"b.mp3", "c.mp3", "d.mp3"}));
        QCOMPARE(log.Events.mid(0, 2), (QStringList{"started 0", "progress 50"}));
        QVERIFY(log.Events.indexOf("progress 50", log.Events.indexOf("started 2")) > 0);
        QCOMPARE(log.Durations.count(qint64(10)), log.Durations.size());
        QCOMPARE(atStart, (QList<qint64>{0, 0, 0, 0, 0, 0}));
        QCOMPARE(run.File().Row, 2);
    }

    // One file per chapter: each chapter file goes through the question on
    // its own; a failing or stopped chapter ends its source, and the files
    // of the chapters before it stay. The stand-in's source has three
    // chapters, the last one without an end.
    void chapters_data()
    {
        QTest::addColumn<QByteArray>("script"); // empty: the real encoder on lecture.mkv
        QTest::addColumn<bool>("split");
        QTest::addColumn<QList<quint8>>("answers"); // non-empty: every chapter file exists before
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("chapters"); // "<chapter files written>/<chapter it ended in>"
        QTest::addColumn<QStringList>("files");
        const QByteArray writes("printf audio > \"$last\"");
        const QStringList three{"b - 01 - Intro.mp3", "b - 02 - Middle.mp3", "b - 03.mp3"};
        QTest::newRow("three files adding up to the whole")
            << QByteArray() << true << QList<quint8>{} << "converted" << "3/0"
            << QStringList{"lecture - 01 - Intro.wav", "lecture - 02 - Q&A_ part 2_2.wav", "lecture - 03.wav"};
        QTest::newRow("setting off: one file")
            << QByteArray() << false << QList<quint8>{} << "converted" << "0/0" << QStringList{"lecture.wav"};
        QTest::newRow("asked per chapter") << writes << true << QList<quint8>{ocOverwriteOnce, ocAsk, ocRenameOnce}
                                           << "converted" << "2/0" << three + QStringList{"b - 03.mp3(1).mp3"};
        QTest::newRow("skip all") << writes << true << QList<quint8>{ocSkipAll} << "skipped" << "0/0" << three;
        QTest::newRow("a failing chapter")
            << "case \"$*\" in *'-chapter 2'*) echo 'Invalid data found' >&2; exit 1;; esac\n" + writes << true
            << QList<quint8>{} << "failed" << "1/2" << QStringList{three[0]};
        QTest::newRow("a stop in chapter 2") << "case \"$*\" in *'-chapter 2'*) printf partial > \"$last\"\n"
                                                "echo written >&2; read command; exit 0;; esac\n"
                                                    + writes
                                             << true << QList<quint8>{} << "stopped" << "1/2"
                                             << QStringList{three[0], "b - 02 - Middle (stopped at 0s).mp3"};
    }

    void chapters()
    {
        QFETCH(QByteArray, script);
        QFETCH(bool, split);
        QFETCH(QList<quint8>, answers);
        QFETCH(QString, outcome);
        QFETCH(QString, chapters);
        QFETCH(QStringList, files);
        const bool real = script.isEmpty();
        installEncoder(m_program->path(), script,
                       "libm9s-tracks 1\\n0\\taac\\t2\\t48000\\t\\t\\t1\\t3.0\\tstereo\\nchapter\\t1\\t0\\t1\\tIntro\\n"
                       "chapter\\t2\\t1\\t2\\tMiddle\\nchapter\\t3\\t2.0\\t\\t\\n");
        m_owner.Rows = {clip(real ? "lecture.mkv" : "b.avi")};
        m_owner.SplitChapters = split;
        m_owner.Answers = answers;
        // WAV has no frames of its own: the lengths add up to within the source's one AAC frame.
        if (real)
            m_owner.Options.Extension = "wav";
        if (!answers.isEmpty())
            for (const QString &name : files.mid(0, 3))
                writeFile(out(name), "old");
        TTestRun run(m_owner);
        const bool stop = outcome == "stopped";
        connect(run.ConsoleIO, &TConsoleIO::OnReceiveError, &run, [&] {
            if (stop && run.File().Chapter == 2)
                run.StopConversion();
        });
        TRunLog log;
        QCOMPARE(runAll(run, log), !stop);

        QCOMPARE(log.Events.filter(QRegularExpression("^(started|converted|failed|stopped|skipped)")),
                 (QStringList{"started 0", outcome + " 0"}));
        QCOMPARE(log.Chapters, QStringList{chapters});
        QCOMPARE(m_owner.Asked.size(), answers.isEmpty() ? 0 : answers.size());
        QCOMPARE(outputFiles(), files);
        // The share shown runs once over the whole source.
        QVERIFY(std::is_sorted(log.Percents.begin(), log.Percents.end()));
        if (outcome == "failed")
            QVERIFY(log.ErrorLines.first().contains("Invalid data found"));
        if (!real)
            return;
        double total = 0;
        for (const QString &name : files)
            total += probe(out(name)).duration;
        QVERIFY2(qAbs(total - probe(clip("lecture.mkv")).duration) < 1024 / 48000.0,
                 qPrintable(QString::number(total)));
    }
};

QTEST_GUILESS_MAIN(TestConversionRun)
#include "tst_conversionrun.moc"
