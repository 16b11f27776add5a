#include "support/AudioClips.h"
#include "support/NoRootOverride.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

// The program run from a terminal with no display: a small tree of videos,
// the outputs it leaves, the lines it prints and its exit status.
class TestTerminalRun : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    struct TResult
    {
        int status = -1;
        QString printed;
    };

    QString path(const QString &relative) const { return m_dir.filePath(relative); }

    TResult tolvane(const QStringList &arguments) const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        environment.insert("XDG_CONFIG_HOME", path("config"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(m_dir.path());
        NoRootOverride::dropInChild(process);
        process.start(QStringLiteral(TOLVANE_PROGRAM_DIR "/tolvane"), arguments);
        // A bound for a hung program only.
        if (!process.waitForFinished(120000))
            return {};
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardError())};
    }

    QStringList outputs() const
    {
        QStringList found;
        QDirIterator it(path("out"), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << QDir(path("out")).relativeFilePath(it.next());
        found.sort();
        return found;
    }

private slots:
    void initTestCase()
    {
        if (!haveFfmpegTools())
            QSKIP("ffmpeg is needed to make the clips");
        QDir(m_dir.path()).mkpath("src/a/b");
        QDir(m_dir.path()).mkpath("bad");
        makeClip(path("src/one.mp4"), {"-f", "lavfi", "-i", "sine=d=1", "-c:a", "aac"});
        makeClip(path("src/a/b/two.mkv"), {"-f", "lavfi", "-i", "sine=d=1", "-c:a", "flac"});
        writeFile(path("bad/broken.avi"), "not a video");
        writeFile(path("file"), "in the way");
        QDir(m_dir.path()).mkpath("ro");
        QFile::setPermissions(path("ro"), QFile::ReadOwner | QFile::ExeOwner);
        writeFile(path("bad/chapters.txt"), ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/10\nSTART=0\nEND=5\ntitle=A\n"
                                            "[CHAPTER]\nTIMEBASE=1/10\nSTART=5\nEND=10\ntitle=B\n"
                                            "[CHAPTER]\nTIMEBASE=1/10\nSTART=10\nEND=15\ntitle=C\n");
        makeClip(path("src/talk.mka"), {"-f", "lavfi", "-i", "sine=d=1.5", "-i", path("bad/chapters.txt"),
                                        "-map_chapters", "1", "-c:a", "flac"});
    }

    void runs_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("lines"); // each must be printed
        QTest::addColumn<QStringList>("outputs");
        const QStringList tree{"a/b/two.wav", "one.wav", "talk.wav"};
        const QStringList chapters{"talk - 01 - A.wav", "talk - 02 - B.wav", "talk - 03 - C.wav"};
        QTest::newRow("a tree, folders kept, one file failing")
            << QStringList{"--convert", "-f", "wav", "-o", "out", "--keep-folders", "src", "bad/broken.avi"} << 1
            << QStringList{"done: " + path("src/one.mp4"), "done: " + path("src/a/b/two.mkv"),
                           "failed: " + path("bad/broken.avi"), "Files converted: 3 of 4, in ", "Failed: 1."}
            << tree;
        QTest::newRow("again: up to date, skipped without a question")
            << QStringList{"--convert", "-fwav", "--output=out", "--keep-folders", "--skip-up-to-date", "src"} << 0
            << QStringList{"skipped: " + path("src/one.mp4") + " (the output is up to date)",
                           "Files converted: 0 of 3, in ", "Skipped: 3."}
            << tree;
        QTest::newRow("existing outputs skipped by default, nothing asked")
            << QStringList{"--convert", "-f", "wav", "-o", "out", "--keep-folders", "src"} << 0
            << QStringList{"skipped: " + path("src/a/b/two.mkv") + " (the output exists)"} << tree;
        QTest::newRow("renamed beside them, flat")
            << QStringList{"--convert", "-f", "wav", "-o", "out", "--existing", "rename", "-q", "src/one.mp4"} << 0
            << QStringList{"Conversion finished. Files converted: 1 of 1, in "}
            << QStringList{"a/b/two.wav", "one.wav", "one.wav(1).wav", "talk.wav"};
        const QString two = path("src/a/b/two.mkv");
        const QString readOnly = "Tolvane may not write to the folder " + path("ro")
                                 + ". Choose another output folder, or ask for permission to write there.";
        QTest::newRow("an output folder that may not be written ends the run")
            << QStringList{"--convert", "-f", "wav", "-o", "ro", two, "src/one.mp4"} << 1
            << QStringList{"failed: " + two + " (" + readOnly + ")", "tolvane: " + readOnly + "\n",
                           "Conversion stopped. Files converted: 0 of 2, in "}
            << QStringList{"a/b/two.wav", "one.wav", "one.wav(1).wav", "talk.wav"};
        QTest::newRow("a file where the output folder should be ends the run")
            << QStringList{"--convert", "-f", "wav", "-o", "file/out", two, "src/one.mp4"} << 1
            << QStringList{"tolvane: The folder " + path("file/out") + " cannot be made: ", "Failed: 1."}
            << QStringList{"a/b/two.wav", "one.wav", "one.wav(1).wav", "talk.wav"};
        QTest::newRow("one file per chapter, counted as one file")
            << QStringList{"--convert", "-f", "wav", "-o", "out", "--split-chapters", "src/talk.mka"} << 0
            << QStringList{"done: " + path("src/talk.mka") + " (3 chapter files)", "Files converted: 1 of 1, in ",
                           "Of these, 1 written as one file per chapter (3 chapter files)."}
            << QStringList{"a/b/two.wav", "one.wav", "one.wav(1).wav"} + chapters + QStringList{"talk.wav"};
        const QStringList all =
            QStringList{"a/b/two.wav", "one.wav", "one.wav(1).wav"} + chapters + QStringList{"talk.wav"};
        QTest::newRow("bad usage") << QStringList{"--convert", "--format", "aiff", "src"} << 2
                                   << QStringList{"tolvane: --format takes"} << all;
        QTest::newRow("a track the file does not have, counted from 1")
            << QStringList{"--convert", "-f", "wav", "-o", "tracks", "--track", "3", "src/one.mp4"} << 1
            << QStringList{"failed: " + path("src/one.mp4") + " (there is no audio track 3: it has 1)"} << all;
        QTest::newRow("the window, with no display to open it on")
            << QStringList{"src"} << 1 << QStringList{"no display", "tolvane --convert FILE-OR-FOLDER..."} << all;
    }

    // Rows build on each other's outputs, in order.
    void runs()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, outputs);
        const TResult result = tolvane(arguments);
        for (const QString &line : lines)
            QVERIFY2(result.printed.contains(line), qPrintable(result.printed));
        QCOMPARE(result.status, status);
        QCOMPARE(this->outputs(), outputs);
    }
};

QTEST_GUILESS_MAIN(TestTerminalRun)
#include "tst_terminalrun.moc"
