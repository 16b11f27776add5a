#include "conversion/OutputFiles.h"
#include "conversion/OutputNames.h"
#include "support/ErrorOf.h"
#include "support/TestFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {
void touch(const QString &path, const QByteArray &content = QByteArrayLiteral("audio")) { writeFile(path, content); }
}

class TestOutputFiles : public QObject
{
    Q_OBJECT

private slots:
    void outputFilePath_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("ext");
        QTest::addColumn<QString>("expected");
        QTest::newRow("extension replaced") << "/out/" << "/v/clip.avi" << "mp3" << "/out/clip.mp3";
        QTest::newRow("slash added") << "/out" << "/v/clip.avi" << "wav" << "/out/clip.wav";
        QTest::newRow("no extension") << "/out/" << "/v/clip" << "mp3" << "/out/clip.mp3";
        QTest::newRow("last dot counts") << "/out/" << "/v/a.b.avi" << "mp3" << "/out/a.b.mp3";
        QTest::newRow("dot in the folder only") << "/out/" << "/v.d/clip" << "mp3" << "/out/clip.mp3";
        QTest::newRow("colon is an ordinary character") << "/out/" << "/v/c:lip.avi" << "mp3" << "/out/c:lip.mp3";
        QTest::newRow("hidden file") << "/out/" << "/v/.avi" << "mp3" << "/out/.mp3";
        QTest::newRow("source folder plays no part") << "/out/" << "/a/b/c/clip.mkv" << "wav" << "/out/clip.wav";
    }

    void outputFilePath()
    {
        QFETCH(QString, folder);
        QFETCH(QString, source);
        QFETCH(QString, ext);
        QFETCH(QString, expected);
        QCOMPARE(OutputFilePath(folder, source, ext), expected);
    }

    // One file per chapter: "<source name> - 01 - <chapter title>.<ext>".
    void chapterOutputFilePath_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("total");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected");
        const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
        QTest::newRow("two digits") << "/v/Talk.mkv" << 3 << 12 << "Intro" << "/out/Talk - 03 - Intro.flac";
        QTest::newRow("as many digits as the total") << "/v/Talk.mkv" << 7 << 120 << "x" << "/out/Talk - 007 - x.flac";
        QTest::newRow("no title") << "/v/Talk.mkv" << 1 << 2 << " " << "/out/Talk - 01.flac";
        QTest::newRow("characters no file name holds")
            << "/v/Talk.mkv" << 1 << 2 << "A/B: \"C\"?\t<D>|*\\" << "/out/Talk - 01 - A_B_ _C__ _D____.flac";
        QTest::newRow("trailing dots") << "/v/Talk.mkv" << 2 << 2 << "To be continued..."
                                       << "/out/Talk - 02 - To be continued.flac";
        QTest::newRow("long title cut by whole characters")
            << "/v/Talk.mkv" << 1 << 2 << QString(200, QChar(0x7AE0))
            << "/out/Talk - 01 - " + QString(79, QChar(0x7AE0)) + ".flac";
        QTest::newRow("pairs of UTF-16 units stay whole")
            << "/v/Talk.mkv" << 1 << 2 << emoji.repeated(100) << "/out/Talk - 01 - " + emoji.repeated(59) + ".flac";
        QTest::newRow("long source name cut after the title")
            << "/v/" + QString(300, 'a') + ".mkv" << 1 << 2 << "x" << "/out/" + QString(245, 'a') + " - 01.flac";
    }

    void chapterOutputFilePath()
    {
        QFETCH(QString, source);
        QFETCH(int, number);
        QFETCH(int, total);
        QFETCH(QString, title);
        QFETCH(QString, expected);
        const QString path = ChapterOutputFilePath("/out", source, "flac", number, total, title);
        QCOMPARE(path, expected);
        QVERIFY(FileNamePart(path).toUtf8().size() <= 255);
    }

    // Where a source's output goes with and without its folders kept.
    void outputFolderFor_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("keep");
        QTest::addColumn<QString>("expected");
        QTest::newRow("subfolders kept") << "/v" << "/v/a/b/clip.avi" << true << "/out/a/b";
        QTest::newRow("root with a slash") << "/v/" << "/v/a/clip.avi" << true << "/out/a";
        QTest::newRow("a file of the root itself") << "/v" << "/v/clip.avi" << true << "/out";
        QTest::newRow("not kept") << "/v" << "/v/a/clip.avi" << false << "/out";
        QTest::newRow("added one by one") << "" << "/v/a/clip.avi" << true << "/out";
        QTest::newRow("outside the root") << "/v/a" << "/v/b/clip.avi" << true << "/out";
        QTest::newRow("a sibling with the root's name in front") << "/v/a" << "/v/ab/clip.avi" << true << "/out";
        QTest::newRow("dotted folder names") << "/v" << "/v/..x/clip.avi" << true << "/out/..x";
    }

    void outputFolderFor()
    {
        QFETCH(QString, root);
        QFETCH(QString, source);
        QFETCH(bool, keep);
        QFETCH(QString, expected);
        QCOMPARE(OutputFolderFor(QStringLiteral("/out"), root, source, keep), expected);
    }

    void outputUpToDate_data()
    {
        QTest::addColumn<int>("outputAge"); // seconds the output is older than the source; <0 newer
        QTest::addColumn<bool>("upToDate");
        QTest::newRow("newer output") << -60 << true;
        QTest::newRow("older output") << 60 << false;
        QTest::newRow("no output") << 0 << false;
    }

    void outputUpToDate()
    {
        QFETCH(int, outputAge);
        QFETCH(bool, upToDate);
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("clip.avi"));
        const QString output = dir.filePath(QStringLiteral("clip.mp3"));
        touch(source);
        if (outputAge != 0) {
            touch(output);
            QFile file(output);
            QVERIFY(file.open(QIODevice::ReadWrite));
            const QDateTime sourceTime = QFileInfo(source).lastModified();
            QVERIFY(file.setFileTime(sourceTime.addSecs(-outputAge), QFileDevice::FileModificationTime));
        }
        QCOMPARE(IsOutputUpToDate(source, output), upToDate);
    }

    void autoRenameTarget_data()
    {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("free") << QStringList{} << "clip.mp3" << "clip.mp3";
        QTest::newRow("one taken") << QStringList{"clip.mp3"} << "clip.mp3" << "clip.mp3(1).mp3";
        QTest::newRow("two taken") << QStringList{"clip.mp3", "clip.mp3(1).mp3"} << "clip.mp3"
                                   << "clip.mp3(1).mp3(1).mp3";
        QTest::newRow("numbers never count up") << QStringList{"clip.mp3", "clip(1).mp3"} << "clip.mp3"
                                                << "clip.mp3(1).mp3";
        QTest::newRow("no extension") << QStringList{"clip"} << "clip" << "clip(1)";
        const QString longName = QString(247, 'a') + ".mp3";
        QTest::newRow("a long name is cut before its extension to fit 255 bytes")
            << QStringList{longName} << longName << QString(244, 'a') + ".mp3(1).mp3";
        const QString wideName = QString(124, QChar(0xE9)) + ".mp3";
        QTest::newRow("a long name is cut by whole characters")
            << QStringList{wideName} << wideName << QString(122, QChar(0xE9)) + ".mp3(1).mp3";
        QTest::newRow("a cut name taken too grows a second suffix")
            << QStringList{longName, QString(244, 'a') + ".mp3(1).mp3"} << longName
            << QString(237, 'a') + ".mp3(1).mp3(1).mp3";
    }

    void autoRenameTarget()
    {
        QFETCH(QStringList, present);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        for (const QString &name : present)
            touch(dir.filePath(name));
        QCOMPARE(AutoRenameTarget(dir.filePath(path)), dir.filePath(expected));
    }

    // Each answer on a collision: the path returned, and what is remembered.
    void resolveTargetFile_data()
    {
        QTest::addColumn<quint8>("choice");
        QTest::addColumn<quint8>("answer");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<quint8>("remembered");
        QTest::addColumn<int>("questions");
        QTest::newRow("ask, ignore") << quint8(ocAsk) << quint8(ocAsk) << "" << quint8(ocAsk) << 1;
        QTest::newRow("ask, skip all") << quint8(ocAsk) << quint8(ocSkipAll) << "" << quint8(ocSkipAll) << 1;
        QTest::newRow("ask, overwrite once")
            << quint8(ocAsk) << quint8(ocOverwriteOnce) << "clip.mp3" << quint8(ocAsk) << 1;
        QTest::newRow("ask, overwrite all")
            << quint8(ocAsk) << quint8(ocOverwriteAll) << "clip.mp3" << quint8(ocOverwriteAll) << 1;
        QTest::newRow("ask, rename once")
            << quint8(ocAsk) << quint8(ocRenameOnce) << "clip.mp3(1).mp3" << quint8(ocAsk) << 1;
        QTest::newRow("ask, rename all") << quint8(ocAsk) << quint8(ocRenameAll) << "clip.mp3(1).mp3"
                                         << quint8(ocRenameAll) << 1;
        QTest::newRow("skip all remembered") << quint8(ocSkipAll) << quint8(ocAsk) << "" << quint8(ocSkipAll) << 0;
        QTest::newRow("overwrite all remembered")
            << quint8(ocOverwriteAll) << quint8(ocAsk) << "clip.mp3" << quint8(ocOverwriteAll) << 0;
        QTest::newRow("rename all remembered")
            << quint8(ocRenameAll) << quint8(ocAsk) << "clip.mp3(1).mp3" << quint8(ocRenameAll) << 0;
        QTest::newRow("unknown answer skips") << quint8(ocAsk) << quint8(1) << "" << quint8(1) << 1;
    }

    void resolveTargetFile()
    {
        QFETCH(quint8, choice);
        QFETCH(quint8, answer);
        QFETCH(QString, expected);
        QFETCH(quint8, remembered);
        QFETCH(int, questions);
        QTemporaryDir dir;
        touch(dir.filePath("clip.mp3"));
        int asked = 0;
        const QString result = ResolveTargetFile(dir.filePath("clip.mp3"), choice, [&] {
            ++asked;
            return answer;
        });
        QCOMPARE(result, expected.isEmpty() ? QString() : dir.filePath(expected));
        QCOMPARE(choice, remembered);
        QCOMPARE(asked, questions);
    }

    void resolveTargetFileNeverAsksForAFreeName()
    {
        QTemporaryDir dir;
        for (quint8 choice : {quint8(ocAsk), quint8(ocSkipAll), quint8(ocOverwriteAll), quint8(ocRenameAll)}) {
            const quint8 before = choice;
            const QString result = ResolveTargetFile(dir.filePath("free.mp3"), choice, [] {
                qFatal("asked for a free name");
                return quint8(ocAsk);
            });
            QCOMPARE(result, dir.filePath("free.mp3"));
            QCOMPARE(choice, before);
        }
    }

    // The run's own earlier output gets a free name whatever is remembered.
    void runsOwnOutputIsNeverWrittenOver_data()
    {
        QTest::addColumn<quint8>("choice");
        for (quint8 choice : {quint8(ocAsk), quint8(ocSkipAll), quint8(ocOverwriteAll), quint8(ocRenameAll)})
            QTest::addRow("remembered %d", int(choice)) << choice;
    }

    void runsOwnOutputIsNeverWrittenOver()
    {
        QFETCH(quint8, choice);
        QTemporaryDir dir;
        touch(dir.filePath("clip.mp3"));
        touch(dir.filePath("clip.mp3(1).mp3"));
        const quint8 before = choice;
        const QString result = ResolveTargetFile(dir.filePath("clip.mp3"), choice,
                                                 [] {
                                                     qFatal("asked about the run's own output");
                                                     return quint8(ocAsk);
                                                 },
                                                 {dir.filePath("clip.mp3")});
        QCOMPARE(result, dir.filePath("clip.mp3(1).mp3(1).mp3"));
        QCOMPARE(choice, before);
    }

    void placeholderIsWrittenOverAnExistingFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("clip.mp3");
        touch(path, QByteArray(5000, 'x'));
        WritePlaceholder(path);
        QCOMPARE(contentOf(path), QByteArrayLiteral("temp\r\n"));
        QVERIFY(IsBarePlaceholder(path));
    }

    void placeholderErrors_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("error");
        QTest::newRow("missing folder") << "missing" << "Invalid filename";
        QTest::newRow("folder is a file") << "notdir" << "Invalid filename";
        QTest::newRow("read-only folder") << "readonly" << "File access denied";
        QTest::newRow("target is a folder") << "isdir" << "File access denied";
        QTest::newRow("dangling link") << "dangling" << "File not found";
        QTest::newRow("full disk") << "full" << "Disk full";
    }

    void placeholderErrors()
    {
        QFETCH(QString, setup);
        QFETCH(QString, error);
        QTemporaryDir dir;
        QString target;
        if (setup == "missing") {
            target = dir.filePath("no/such/folder/clip.mp3");
        } else if (setup == "notdir") {
            touch(dir.filePath("file"));
            target = dir.filePath("file/clip.mp3");
        } else if (setup == "readonly") {
            if (::geteuid() == 0)
                QSKIP("root writes into read-only folders");
            QDir(dir.path()).mkdir("ro");
            QFile::setPermissions(dir.filePath("ro"), QFile::ReadOwner | QFile::ExeOwner);
            target = dir.filePath("ro/clip.mp3");
        } else if (setup == "isdir") {
            QDir(dir.path()).mkdir("clip.mp3");
            target = dir.filePath("clip.mp3");
        } else if (setup == "dangling") {
            // A link into a missing folder: the folder of the target exists.
            QVERIFY(QFile::link(dir.filePath("gone/x.mp3"), dir.filePath("clip.mp3")));
            target = dir.filePath("clip.mp3");
        } else if (setup == "full") {
            if (!QFile::exists("/dev/full"))
                QSKIP("no /dev/full");
            target = "/dev/full";
        }
        QCOMPARE(ErrorOf([&] { WritePlaceholder(target); }), error);
    }

    // A write that fails after the file was opened: the file size limit makes
    // every write fail with EFBIG, like a full disk would with ENOSPC.
    void failedPlaceholderLeavesNoNewFile_data()
    {
        QTest::addColumn<bool>("existed");
        QTest::newRow("new file is removed") << false;
        QTest::newRow("existing file stays") << true;
    }

    void failedPlaceholderLeavesNoNewFile()
    {
        QFETCH(bool, existed);
        QTemporaryDir dir;
        const QString path = dir.filePath("clip.mp3");
        if (existed)
            touch(path, "old");
        rlimit before{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit none = before;
        none.rlim_cur = 0;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &none), 0);
        const QString error = ErrorOf([&] { WritePlaceholder(path); });
        ::setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, previousHandler);

        QCOMPARE(error, QStringLiteral("I/O error %1").arg(EFBIG));
        QCOMPARE(QFile::exists(path), existed);
    }

    void fileWriteErrorText_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("folderExists");
        QTest::addColumn<QString>("text");
        QTest::newRow("ENOENT, folder there") << ENOENT << true << "File not found";
        QTest::newRow("ENOENT, folder missing") << ENOENT << false << "Invalid filename";
        QTest::newRow("EMFILE") << EMFILE << true << "Too many open files";
        QTest::newRow("ENFILE") << ENFILE << true << "Too many open files";
        QTest::newRow("EACCES") << EACCES << true << "File access denied";
        QTest::newRow("EPERM") << EPERM << true << "File access denied";
        QTest::newRow("EROFS") << EROFS << true << "File access denied";
        QTest::newRow("ENOSPC") << ENOSPC << true << "Disk full";
        QTest::newRow("EDQUOT") << EDQUOT << true << "Disk full";
        QTest::newRow("EIO") << EIO << true << QStringLiteral("I/O error %1").arg(EIO);
        QTest::newRow("ENAMETOOLONG") << ENAMETOOLONG << true << QStringLiteral("I/O error %1").arg(ENAMETOOLONG);
    }

    void fileWriteErrorText()
    {
        QFETCH(int, code);
        QFETCH(bool, folderExists);
        QFETCH(QString, text);
        QCOMPARE(FileWriteErrorText(code, folderExists), text);
    }

    void barePlaceholderOnlyIsRemoved_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("removed");
        QTest::newRow("placeholder") << QByteArrayLiteral("temp\r\n") << true;
        QTest::newRow("audio") << QByteArrayLiteral("RIFF....WAVE") << false;
        QTest::newRow("placeholder and more") << QByteArrayLiteral("temp\r\nx") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("same size") << QByteArrayLiteral("ID3abc") << false;
    }

    void barePlaceholderOnlyIsRemoved()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, removed);
        QTemporaryDir dir;
        const QString path = dir.filePath("clip.mp3");
        touch(path, content);
        QCOMPARE(RemoveBarePlaceholder(path), removed);
        QCOMPARE(QFile::exists(path), !removed);
    }

    void forceOutputFolder_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::newRow("with parents") << "a/b/c";
        QTest::newRow("trailing slashes") << "x/y//";
    }

    void forceOutputFolder()
    {
        QFETCH(QString, relative);
        QTemporaryDir dir;
        ForceOutputFolder(dir.filePath(relative));
        QVERIFY(QFileInfo(dir.filePath(relative)).isDir());
        ForceOutputFolder(dir.filePath(relative)); // already there: nothing happens
        QVERIFY(QFileInfo(dir.filePath(relative)).isDir());
    }

    void outputFolderSet_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("set");
        QTest::newRow("empty") << "" << false;
        QTest::newRow("only slashes") << "///" << false;
        QTest::newRow("folder") << "/music" << true;
        QTest::newRow("relative") << "music/" << true;
    }

    void outputFolderSet()
    {
        QFETCH(QString, folder);
        QFETCH(bool, set);
        QCOMPARE(IsOutputFolderSet(folder), set);
    }
};

QTEST_MAIN(TestOutputFiles)

#include "tst_outputfiles.moc"
