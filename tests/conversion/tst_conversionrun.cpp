// The conversion run without a window: a stand-in owner answers its
// questions, stand-in encoders (shell scripts) and the real libm9s do the work.
#include "console/ConsoleIO.h"
#include "conversion/ConversionRun.h"
#include "conversion/OutputNames.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {
QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

// The window's part, played by the test: the rows, the options and the answers.
class TStandInOwner : public IConversionOwner
{
public:
    QStringList Rows;
    TOutputOptions Options;
    QString Folder;
    QList<quint8> Answers; // one per question; ocAsk once they run out
    QStringList Asked;

    int RowCount() const override { return int(Rows.size()); }
    QString SourceOfRow(int row) const override { return Rows.value(row); }
    TOutputOptions CurrentOptions() const override { return Options; }
    QString EncoderFolder() const override { return Folder; }
    quint8 AskFileExists(const QString &target) override
    {
        Asked << target;
        return Answers.isEmpty() ? quint8(ocAsk) : Answers.takeFirst();
    }
};

// What the run told, in order, as short texts.
struct TRunLog
{
    QStringList Events;
    QStringList ErrorLines;
    QList<qint64> Durations; // the file's duration as each progress report arrived

    void listen(TConversionRun &run)
    {
        QObject::connect(&run, &TConversionRun::FileStarted,
                         [this](int row, const QString &) { Events << QStringLiteral("started %1").arg(row); });
        QObject::connect(&run, &TConversionRun::FileProgress, [this, &run](int, const TProgressView &view) {
            Durations << run.File().FDuration;
            if (view.Percent > 0)
                Events << QStringLiteral("progress %1").arg(view.Percent);
        });
        QObject::connect(&run, &TConversionRun::FileFinished,
                         [this](int row, const QString &, TFileOutcome outcome, const QString &line) {
                             static const char *names[] = {"converted", "failed", "stopped", "skipped"};
                             Events << QStringLiteral("%1 %2").arg(names[int(outcome)]).arg(row);
                             ErrorLines << line;
                         });
        QObject::connect(&run, &TConversionRun::RunFinished, [this](const QString &, const QStringList &failed) {
            Events << QStringLiteral("finished, %1 failed").arg(failed.size());
        });
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

    // The encoder the run finds in its folder: a script, or the real one.
    void useEncoder(const QByteArray &script)
    {
        const QString path = m_program->filePath("libm9s");
        if (script.isEmpty()) {
            QVERIFY(QFile::link(QStringLiteral(TOLVANE_PROGRAM_DIR "/libm9s"), path));
            return;
        }
        writeFile(path, "#!/bin/sh\nfor last; do :; done\n" + script + "\n");
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

private slots:
    void initTestCase()
    {
        const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
        if (ffmpeg.isEmpty())
            QSKIP("ffmpeg is needed to make the clip");
        QProcess make;
        make.start(ffmpeg, {"-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100", "-t", "1",
                            "-c:a", "pcm_s16le", clip("a.wav")});
        QVERIFY(make.waitForFinished(120000) && make.exitCode() == 0);
        writeFile(clip("b.avi"), "stand-in source");
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
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("errorLine");
        QTest::addColumn<QByteArray>("left"); // the target afterwards; empty: gone, "*": audio
        QTest::newRow("real encoder") << QByteArray() << "a.wav" << false << "converted" << "" << QByteArray("*");
        QTest::newRow("real encoder over an old file")
            << QByteArray() << "a.wav" << true << "converted" << "" << QByteArray("*");
        QTest::newRow("real encoder, missing source")
            << QByteArray() << "gone.avi" << false << "failed" << "*" << QByteArray();
        QTest::newRow("says why and fails")
            << QByteArray("echo 'Invalid data found' >&2\nexit 1") << "b.avi" << false << "failed"
            << "Invalid data found" << QByteArray();
        QTest::newRow("progress is not a reason")
            << QByteArray("echo why >&2\necho ffmpeg_release_time=1.0=ffmpeg_release_time >&2\nexit 1") << "b.avi"
            << false << "failed" << "why" << QByteArray();
        QTest::newRow("ends well, writes nothing")
            << QByteArray("exit 0") << "b.avi" << false << "failed" << "" << QByteArray();
        QTest::newRow("writes, then fails, over an old file") << QByteArray("printf partial > \"$last\"\nexit 1")
                                                              << "b.avi" << true << "failed" << "" << QByteArray("old");
        QTest::newRow("writes and ends well") << QByteArray("printf audio > \"$last\"\nexit 0") << "b.avi" << true
                                              << "converted" << "" << QByteArray("audio");
    }

    // The real encoder in each format names its output by the format; the
    // original audio by the probed codec (PCM of a.wav gives .wav).
    void formatNamesTheOutput_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("name");
        for (const char *format : {"flac", "m4a", "opus", "ogg"})
            QTest::newRow(format) << format << QStringLiteral("a.") + format;
        QTest::newRow("original audio") << "copy" << "a.wav";
    }

    void formatNamesTheOutput()
    {
        QFETCH(QString, format);
        QFETCH(QString, name);
        useEncoder(QByteArray());
        m_owner.Rows = {clip("a.wav")};
        m_owner.Options.Extension = format;
        TConversionRun run(m_owner);
        QVERIFY(run.Run(m_output->path()));
        QVERIFY(run.FailedSources().isEmpty());
        QVERIFY(QFileInfo(out(name)).size() > 100);
    }

    void oneFile()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, source);
        QFETCH(bool, oldFile);
        QFETCH(QString, outcome);
        QFETCH(QString, errorLine);
        QFETCH(QByteArray, left);
        useEncoder(script);
        m_owner.Rows = {clip(source)};
        const QString target = out(QFileInfo(source).completeBaseName() + ".mp3");
        if (oldFile) {
            writeFile(target, "old");
            m_owner.Answers = {quint8(ocOverwriteOnce)};
        }
        TConversionRun run(m_owner);
        TRunLog log;
        log.listen(run);
        QVERIFY(run.Run(m_output->path()));

        const bool failed = outcome == "failed";
        QCOMPARE(log.Events.first(), QStringLiteral("started 0"));
        QCOMPARE(log.Events.mid(log.Events.size() - 2),
                 (QStringList{outcome + " 0", QStringLiteral("finished, %1 failed").arg(failed ? 1 : 0)}));
        QCOMPARE(run.FailedSources(), failed ? QStringList{clip(source)} : QStringList());
        if (errorLine == "*")
            QVERIFY(!log.ErrorLines.first().isEmpty());
        else
            QCOMPARE(log.ErrorLines.first(), errorLine);
        if (left.isEmpty())
            QVERIFY(!QFile::exists(target));
        else if (left == "*")
            QVERIFY(QFileInfo(target).size() > 1000);
        else
            QCOMPARE(contentOf(target), left);
        // Nothing moved aside stays behind.
        QCOMPARE(QDir(m_output->path()).entryList(QDir::Files | QDir::Hidden).size(), left.isEmpty() ? 0 : 1);
    }

    // A stop or a close during a file: no further file, no end report; what
    // the encoder wrote before a stop stays, a close releases the runner.
    void interrupted_data()
    {
        QTest::addColumn<bool>("close");
        QTest::newRow("stop") << false;
        QTest::newRow("close") << true;
    }

    void interrupted()
    {
        QFETCH(bool, close);
        useEncoder("printf partial > \"$last\"\necho written >&2\nread command\nexit 0");
        m_owner.Rows = {clip("b.avi"), clip("a.wav")};
        TConversionRun run(m_owner);
        TRunLog log;
        log.listen(run);
        connect(run.ConsoleIO, &TConsoleIO::OnReceiveError, &run, [&] {
            if (close)
                run.Close();
            else
                run.StopConversion();
        });
        QVERIFY(!run.Run(m_output->path()));
        QCOMPARE(log.Events, close ? QStringList{"started 0"} : (QStringList{"started 0", "stopped 0"}));
        QCOMPARE(run.ConsoleIO == nullptr, close);
        QCOMPARE(contentOf(out("b.mp3")), QByteArray("partial"));
        QVERIFY(!QFile::exists(out("a.mp3")));
        QVERIFY(!run.IsActive());
    }

    // The answers to the file-exists question, remembered across files.
    void existingTargets_data()
    {
        QTest::addColumn<QList<quint8>>("answers");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("asked");
        QTest::newRow("skip once, then ask again")
            << QList<quint8>{ocAsk, ocAsk} << QStringList{"started 0", "skipped 0", "started 1", "skipped 1"} << 2;
        QTest::newRow("skip all") << QList<quint8>{ocSkipAll}
                                  << QStringList{"started 0", "skipped 0", "started 1", "skipped 1"} << 1;
        QTest::newRow("overwrite all") << QList<quint8>{ocOverwriteAll}
                                       << QStringList{"started 0", "converted 0", "started 1", "converted 1"} << 1;
    }

    void existingTargets()
    {
        QFETCH(QList<quint8>, answers);
        QFETCH(QStringList, events);
        QFETCH(int, asked);
        useEncoder("printf new > \"$last\"");
        QVERIFY(QDir(m_clips.path()).mkpath("x"));
        writeFile(clip("x/b.avi"), "second source");
        m_owner.Rows = {clip("b.avi"), clip("x/c.avi")};
        writeFile(clip("x/c.avi"), "third source");
        writeFile(out("b.mp3"), "old b");
        writeFile(out("c.mp3"), "old c");
        m_owner.Answers = answers;
        TConversionRun run(m_owner);
        TRunLog log;
        log.listen(run);
        QVERIFY(run.Run(m_output->path()));
        QCOMPARE(log.Events, events + QStringList{"finished, 0 failed"});
        QCOMPARE(m_owner.Asked.size(), asked);
        const QByteArray expected = events.contains("converted 0") ? "new" : "old b";
        QCOMPARE(contentOf(out("b.mp3")), expected);
    }

    // Several encoders at once: rows start top to bottom, never more than
    // asked run together, questions come in queue order, a target another
    // running file reserved gets a new name, a stop stops them all, the end
    // is told once. The stand-in encoders wait on their input until the test
    // has seen all it expects running.
    void severalAtOnce_data()
    {
        QTest::addColumn<int>("parallel");
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<QStringList>("oldTargets"); // answered with overwrite once, each
        QTest::addColumn<bool>("stop");
        QTest::addColumn<int>("outputs"); // files in the output folder afterwards
        QTest::newRow("one at a time") << 1 << QStringList{"b.avi", "c.avi", "d.avi"} << QStringList() << false << 3;
        QTest::newRow("two of three") << 2 << QStringList{"b.avi", "c.avi", "d.avi"} << QStringList() << false << 3;
        QTest::newRow("more encoders than rows") << 4 << QStringList{"b.avi", "c.avi"} << QStringList() << false << 2;
        QTest::newRow("questions in queue order")
            << 3 << QStringList{"b.avi", "c.avi", "d.avi"} << QStringList{"b.mp3", "c.mp3"} << false << 3;
        QTest::newRow("reserved target gets a new name")
            << 2 << QStringList{"b.avi", "x/b.avi", "c.avi"} << QStringList() << false << 3;
        QTest::newRow("stop stops all") << 2 << QStringList{"b.avi", "c.avi", "d.avi"} << QStringList() << true << 2;
    }

    void severalAtOnce()
    {
        QFETCH(int, parallel);
        QFETCH(QStringList, sources);
        QFETCH(QStringList, oldTargets);
        QFETCH(bool, stop);
        QFETCH(int, outputs);
        useEncoder("printf partial > \"$last\"\necho waiting >&2\nread command\nexit 0");
        QVERIFY(QDir(m_clips.path()).mkpath("x"));
        for (const char *name : {"c.avi", "d.avi", "x/b.avi"})
            writeFile(clip(name), "source");
        for (const QString &source : sources)
            m_owner.Rows << clip(source);
        for (const QString &target : oldTargets) {
            writeFile(out(target), "old");
            m_owner.Answers << quint8(ocOverwriteOnce);
        }
        TConversionRun run(m_owner);
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
        QCOMPARE(log.Events.filter(stop ? "stopped" : "converted").size(), started.size());
        QCOMPARE(log.Events.filter("finished"), stop ? QStringList() : QStringList{"finished, 0 failed"});
        QCOMPARE(m_owner.Asked,
                 QStringList(oldTargets).replaceInStrings(QRegularExpression("^"), m_output->path() + '/'));
        QCOMPARE(QDir(m_output->path()).entryList(QDir::Files | QDir::Hidden).size(), outputs);
        QVERIFY(!run.IsEncoderRunning());
    }

    // Options are read for every file: a change during the run applies to
    // the next file; the progress of a file starts from nothing.
    void everyFileOnItsOwn()
    {
        useEncoder("echo ffmpeg_release_duration=00:00:10.00=ffmpeg_release_duration >&2\n"
                   "echo ffmpeg_release_time=5.0=ffmpeg_release_time >&2\n"
                   "echo \"$@\" > \"$last\"");
        writeFile(clip("c.avi"), "another source");
        m_owner.Rows = {clip("b.avi"), clip("c.avi")};
        TConversionRun run(m_owner);
        TRunLog log;
        log.listen(run);
        connect(&run, &TConversionRun::FileFinished, this, [this] { m_owner.Options.Extension = "wav"; });
        QList<qint64> atStart;
        connect(&run, &TConversionRun::FileStarted, this,
                [&] { atStart << run.File().FDuration << run.File().FMaxTime; });
        QVERIFY(run.Run(m_output->path()));
        QVERIFY(contentOf(out("b.mp3")).contains("-f mp3"));
        QVERIFY(contentOf(out("c.wav")).contains("-f wav"));
        QCOMPARE(log.Events.mid(0, 2), (QStringList{"started 0", "progress 50"}));
        QVERIFY(log.Events.indexOf("progress 50", log.Events.indexOf("started 1")) > 0);
        QCOMPARE(log.Durations.count(qint64(10)), log.Durations.size());
        QCOMPARE(atStart, (QList<qint64>{0, 0, 0, 0}));
        QCOMPARE(run.File().Row, 1);
    }
};

QTEST_GUILESS_MAIN(TestConversionRun)
#include "tst_conversionrun.moc"
