#include "support/AudioClips.h"
#include "support/NoRootOverride.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

    TResult tolvane(const QStringList &arguments, const QString &programFolder = TOLVANE_PROGRAM_DIR) const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        environment.insert("XDG_CONFIG_HOME", path("config"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(m_dir.path());
        NoRootOverride::dropInChild(process);
        process.start(programFolder + QStringLiteral("/tolvane"), arguments);
        // A bound for a hung program only.
        if (!process.waitForFinished(120000))
            return {};
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardError())};
    }

    QStringList outputs(const QString &folder = QStringLiteral("out")) const
    {
        QStringList found;
        QDirIterator it(path(folder), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << QDir(path(folder)).relativeFilePath(it.next());
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
        QDir(m_dir.path()).mkpath("odd");
        makeClip(path("odd/bell\aclear\x1b[2J.mp4"), {"-f", "lavfi", "-i", "sine=d=0.5", "-c:a", "aac"});
        makeClip(path("src/talk.mka"), {"-f", "lavfi", "-i", "sine=d=1.5", "-i", path("bad/chapters.txt"),
                                        "-map_chapters", "1", "-c:a", "flac"});
    }

    void runs_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("lines"); // each must be printed
        QTest::addColumn<QStringList>("outputs");
        QTest::addColumn<QString>("cutFirst"); // an output cut to a third of a second before the run
        const QStringList tree{"a/b/two.wav", "one.wav", "talk.wav"};
        const QStringList chapters{"talk - 01 - A.wav", "talk - 02 - B.wav", "talk - 03 - C.wav"};
        QTest::newRow("a tree, folders kept, one file failing")
            << QStringList{"--convert", "-f", "wav", "-o", "out", "--keep-folders", "src", "bad/broken.avi"} << 1
            << QStringList{"done: " + path("src/one.mp4"), "done: " + path("src/a/b/two.mkv"),
                           "failed: " + path("bad/broken.avi"), "Files converted: 3 of 4, in ", "Failed: 1."}
            << tree << QString();
        QTest::newRow("again: up to date, skipped without a question")
            << QStringList{"--convert", "-fwav", "--output=out", "--keep-folders", "--skip-up-to-date", "src"} << 0
            << QStringList{"skipped: " + path("src/one.mp4") + " (the output is up to date)",
                           "Files converted: 0 of 3, in ", "Skipped: 3."}
            << tree << QString();
        QTest::newRow("a cut output is not up to date: converted again")
            << QStringList{"--convert",         "-fwav",      "--output=out", "--keep-folders",
                           "--skip-up-to-date", "--existing", "overwrite",    "src"}
            << 0
            << QStringList{"done: " + path("src/one.mp4"),
                           "skipped: " + path("src/a/b/two.mkv") + " (the output is up to date)"}
            << tree << "one.wav";
        QTest::newRow("existing outputs skipped by default, nothing asked")
            << QStringList{"--convert", "-f", "wav", "-o", "out", "--keep-folders", "src"} << 0
            << QStringList{"skipped: " + path("src/a/b/two.mkv") + " (the output exists)"} << tree << QString();
        QTest::newRow("renamed beside them, flat")
            << QStringList{"--convert", "-f", "wav", "-o", "out", "--existing", "rename", "-q", "src/one.mp4"} << 0
            << QStringList{"Conversion finished. Files converted: 1 of 1, in "}
            << QStringList{"a/b/two.wav", "one.wav", "one.wav(1).wav", "talk.wav"} << QString();
        const QString two = path("src/a/b/two.mkv");
        const QString readOnly = "Tolvane may not write to the folder " + path("ro")
                                 + ". Choose another output folder, or ask for permission to write there.";
        QTest::newRow("an output folder that may not be written ends the run")
            << QStringList{"--convert", "-f", "wav", "-o", "ro", two, "src/one.mp4"} << 1
            << QStringList{"failed: " + two + " (" + readOnly + ")", "tolvane: " + readOnly + "\n",
                           "Conversion stopped. Files converted: 0 of 2, in "}
            << QStringList{"a/b/two.wav", "one.wav", "one.wav(1).wav", "talk.wav"} << QString();
        QTest::newRow("a file where the output folder should be ends the run")
            << QStringList{"--convert", "-f", "wav", "-o", "file/out", two, "src/one.mp4"} << 1
            << QStringList{"tolvane: The folder " + path("file/out") + " cannot be made: ", "Failed: 1."}
            << QStringList{"a/b/two.wav", "one.wav", "one.wav(1).wav", "talk.wav"} << QString();
        QTest::newRow("one file per chapter, counted as one file")
            << QStringList{"--convert", "-f", "wav", "-o", "out", "--split-chapters", "src/talk.mka"} << 0
            << QStringList{"done: " + path("src/talk.mka") + " (3 chapter files)", "Files converted: 1 of 1, in ",
                           "Of these, 1 written as one file per chapter (3 chapter files)."}
            << QStringList{"a/b/two.wav", "one.wav", "one.wav(1).wav"} + chapters + QStringList{"talk.wav"}
            << QString();
        const QStringList all =
            QStringList{"a/b/two.wav", "one.wav", "one.wav(1).wav"} + chapters + QStringList{"talk.wav"};
        QTest::newRow("bad usage") << QStringList{"--convert", "--format", "aiff", "src"} << 2
                                   << QStringList{"tolvane: --format takes"} << all << QString();
        QTest::newRow("a track the file does not have, counted from 1")
            << QStringList{"--convert", "-f", "wav", "-o", "tracks", "--track", "3", "src/one.mp4"} << 1
            << QStringList{"failed: " + path("src/one.mp4") + " (there is no audio track 3: it has 1)"} << all
            << QString();
        QTest::newRow("a missing file: said so")
            << QStringList{"--convert", "-f", "wav", "-o", "misc", "nosuch.mp4", "src/one.mp4"} << 1
            << QStringList{"failed: " + path("nosuch.mp4") + " (no such file)",
                           "done: " + path("src/one.mp4") + " -> " + path("misc/one.wav")}
            << all << QString();
        QTest::newRow("a name's control characters are written out, never sent")
            << QStringList{"--convert", "-f", "wav", "-o", "misc", "odd"} << 0
            << QStringList{"done: " + path("odd/bell\\x07clear\\x1b[2J.mp4")} << all << QString();
        QTest::newRow("a language no track has: said, the default track taken")
            << QStringList{"--convert",  "-f",        "wav",        "-o",      "misc",
                           "--existing", "overwrite", "--language", "klingon", "src/one.mp4"}
            << 0 << QStringList{"no audio track in that language"} << all << QString();
        QTest::newRow("a level that a copy cannot take: said once, the copy made")
            << QStringList{"--convert", "-f", "copy", "-o", "misc", "--loudness", "-16", "src/one.mp4"} << 0
            << QStringList{"tolvane: --loudness -16 does not apply to copies", "done: " + path("src/one.mp4")} << all
            << QString();
        QTest::newRow("the window, with no display to open it on")
            << QStringList{"src"} << 1 << QStringList{"no display", "tolvane --convert FILE-OR-FOLDER..."} << all
            << QString();

        // One file to one exact path, as a job engine asks for it; JSON lines for it to read.
        const QString exact = path("out/new/deep/one.flac");
        QStringList withExact = all + QStringList{"new/deep/one.flac"};
        withExact.sort();
        const auto ended = [](const QString &file, const QString &outputs, const QString &reason,
                              const QString &state) {
            return QString("{\"event\":\"end\",\"file\":\"%1\",\"outputs\":[%2],\"reason\":\"%3\",\"state\":\"%4\"}")
                .arg(file, outputs, reason, state);
        };
        const auto summary = [](int converted, int failed, int skipped, int exit) {
            return QString("{\"converted\":%1,\"event\":\"summary\",\"exit\":%2,\"failed\":%3,\"skipped\":%4}")
                .arg(converted)
                .arg(exit)
                .arg(failed)
                .arg(skipped);
        };
        QTest::newRow("an exact output in a new nested folder, its format from the extension, in JSON")
            << QStringList{"--convert", "--output-file", "out/new/deep/one.flac", "--progress", "json", "src/one.mp4"}
            << 0
            << QStringList{"{\"event\":\"start\",\"file\":\"" + path("src/one.mp4") + "\",\"output\":\"" + exact
                               + "\"}",
                           ended(path("src/one.mp4"), '"' + exact + '"', "", "done"), summary(1, 0, 0, 0)}
            << withExact << QString();
        QTest::newRow("an exact output that exists: skipped")
            << QStringList{"--convert", "--output-file", "out/new/deep/one.flac", "src/a/b/two.mkv"} << 0
            << QStringList{"skipped: " + path("src/a/b/two.mkv") + " (the output exists)"} << withExact << QString();
        QTest::newRow("an exact output that exists: overwritten when asked")
            << QStringList{"--convert",       "--output-file",  exact, "--existing", "overwrite",
                           "--progress=json", "src/a/b/two.mkv"}
            << 0 << QStringList{ended(path("src/a/b/two.mkv"), '"' + exact + '"', "", "done"), summary(1, 0, 0, 0)}
            << withExact << QString();
        QTest::newRow("a failed file in JSON: its reason, nothing written")
            << QStringList{"--convert", "--output-file", "out/new/broken.wav", "--progress", "json", "bad/broken.avi"}
            << 1
            << QStringList{"{\"event\":\"end\",\"file\":\"" + path("bad/broken.avi")
                               + "\",\"outputs\":[],\"reason\":\"The file is damaged or cannot be read. (Cannot open",
                           "\"state\":\"failed\"}", summary(0, 1, 0, 1)}
            << withExact << QString();
        QTest::newRow("a name's control characters escaped in JSON")
            << QStringList{"--convert", "-f", "wav", "-o", "misc", "--progress", "json", "odd"} << 0
            << QStringList{"\"file\":\"" + path("odd/bell\\u0007clear\\u001b[2J.mp4") + "\"", "\"state\":\"skipped\"}"}
            << withExact << QString();
        QTest::newRow("a folder that ends the run in JSON: the error, then the summary last")
            << QStringList{"--convert", "--output-file", "file/out/one.wav", "--progress", "json", "src/one.mp4"} << 1
            << QStringList{"{\"event\":\"error\",\"text\":\"The folder " + path("file/out") + " cannot be made: ",
                           "Choose another output folder.\"}\n" + summary(0, 1, 0, 1) + "\n"}
            << withExact << QString();
        QTest::newRow("a copy whose track goes in another container")
            << QStringList{"--convert", "-f", "copy", "--output-file", "out/new/one.mp3", "src/one.mp4"} << 1
            << QStringList{"a copy of this audio track goes into a .m4a file"} << withExact << QString();
        QTest::newRow("an exact output for a folder of files")
            << QStringList{"--convert", "--output-file", "out/new/one.wav", "src"} << 1
            << QStringList{"failed: " + path("src") + " (--output-file takes a file, not a folder)"} << withExact
            << QString();
        QTest::newRow("an exact output whose extension says no format")
            << QStringList{"--convert", "--output-file", "out/new/one.aiff", "src/one.mp4"} << 2
            << QStringList{"tolvane: --output-file needs an extension that says the format"} << withExact << QString();
    }

    // Rows build on each other's outputs, in order.
    void runs()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, outputs);
        QFETCH(QString, cutFirst);
        if (!cutFirst.isEmpty()) {
            makeClip(path("cut.wav"), {"-f", "lavfi", "-i", "sine=d=0.3"});
            QFile::remove(path("out/" + cutFirst));
            QVERIFY(QFile::rename(path("cut.wav"), path("out/" + cutFirst)));
        }
        const TResult result = tolvane(arguments);
        for (const QString &line : lines)
            QVERIFY2(result.printed.contains(line), qPrintable(result.printed));
        // For a program: every line an event, and what an end says it wrote
        // holds the format its extension names.
        if (arguments.contains("json") || arguments.contains("--progress=json")) {
            const QHash<QString, QString> codecs{{"flac", "flac"}, {"wav", "pcm_s16le"}, {"mp3", "mp3"}};
            for (const QString &line : result.printed.split('\n', Qt::SkipEmptyParts)) {
                const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
                QVERIFY2(!event.value("event").toString().isEmpty(), qPrintable(line));
                for (const QJsonValue &output : event.value("outputs").toArray())
                    QCOMPARE(probe(output.toString()).codec, codecs.value(QFileInfo(output.toString()).suffix()));
            }
        }
        // Nothing a file name holds reaches the terminal as a control character.
        QVERIFY(!result.printed.contains(QChar(0x1b)) && !result.printed.contains(QChar(0x07)));
        QCOMPARE(result.status, status);
        QCOMPARE(this->outputs(), outputs);
    }

    // A program folder of its own, so that its config.ini reaches no other test.
    QString programFolder(const QString &name, bool writable) const
    {
        const QString folder = path(name);
        QDir().mkpath(folder);
        for (const char *program : {"tolvane", "libm9s", "language/en.ini", "language/jp.ini"}) {
            QDir().mkpath(QFileInfo(folder + "/" + program).path());
            QFile::copy(QStringLiteral(TOLVANE_PROGRAM_DIR "/") + program, folder + "/" + program);
        }
        if (!writable)
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        return folder;
    }

    // Every setting the command line does not give comes from the config.ini
    // the window would use: beside the program, or the user's own when the
    // program folder may not be written.
    void settingsFromConfigFile_data()
    {
        QTest::addColumn<bool>("programFolderWritable");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("outputs");
        QTest::addColumn<QString>("summary"); // the words the summary begins with: the user's language
        QTest::newRow("beside the program: flac, 22050 Hz, mono, one file per chapter, Japanese")
            << true << "flac" << QStringList{"--convert", "src/talk.mka"}
            << QStringList{"talk - 01 - A.flac", "talk - 02 - B.flac", "talk - 03 - C.flac"}
            << QString::fromUtf8("変換が完了しました。 1 / 1 個のファイルを変換しました");
        QTest::newRow("the user's own, the program folder read-only; folders kept")
            << false << "wav" << QStringList{"--convert", "src"}
            << QStringList{"a/b/two.wav", "one.wav", "talk - 01 - A.wav", "talk - 02 - B.wav", "talk - 03 - C.wav"}
            << QString::fromUtf8("変換が完了しました。");
        QTest::newRow("the command line goes first")
            << true << "flac" << QStringList{"--convert", "-f", "wav", "--no-split-chapters", "src/talk.mka"}
            << QStringList{"talk.wav"} << QString::fromUtf8("変換が完了しました。");
    }

    void settingsFromConfigFile()
    {
        QFETCH(bool, programFolderWritable);
        QFETCH(QString, format);
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, outputs);
        QFETCH(QString, summary);
        const QString row = QString::fromLatin1(QTest::currentDataTag()).left(10).replace(' ', '_');
        const QString program = programFolder("program-" + row, programFolderWritable);
        const QString settings =
            QStringLiteral("[common]\nlanguage=3\n[setting]\nformat=%1\nsampleRate=22050\nchannels=1\n"
                           "outputFolder=%2\nsplitChapters=1\nkeepFolders=1\n")
                .arg(format, path("configured-" + row));
        const QString configFile = programFolderWritable ? program + "/config.ini" : path("config/Tolvane/config.ini");
        QDir().mkpath(path("config/Tolvane"));
        writeFile(configFile, settings.toUtf8());
        // The one of the two places that is not read holds other settings.
        const QString other = programFolderWritable ? path("config/Tolvane/config.ini") : program + "/config.ini";
        if (programFolderWritable)
            writeFile(other, "[setting]\nformat=ogg\nsampleRate=8000\n");

        const TResult result = tolvane(arguments, program);
        QVERIFY2(result.status == 0, qPrintable(result.printed));
        QVERIFY2(result.printed.contains(summary), qPrintable(result.printed));
        QCOMPARE(this->outputs("configured-" + row), outputs);
        const AudioInfo first = probe(path("configured-" + row + "/" + outputs.first()));
        QCOMPARE(first.sampleRate, 22050);
        QCOMPARE(first.channels, 1);
        QFile::remove(other);
    }
};

QTEST_GUILESS_MAIN(TestTerminalRun)
#include "tst_terminalrun.moc"
