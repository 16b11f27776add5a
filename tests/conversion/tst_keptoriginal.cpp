// Existing outputs moved aside while the run writes their replacement.
#include "conversion/KeptOriginal.h"
#include "conversion/OutputFiles.h"
#include "support/ErrorOf.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// A process id that runs no process: a child that has ended and been reaped.
qint64 endedProcessId()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

const QByteArray Original("old audio\0with a zero byte", 26);
}

class TestKeptOriginal : public QObject
{
    Q_OBJECT

private slots:
    void keptNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("original"); // empty: not one of ours
        QTest::addColumn<qint64>("pid");
        QTest::newRow("ours") << ".clip.mp3.tolvane-keep-123-ab12cd" << "clip.mp3" << qint64(123);
        QTest::newRow("odd name kept whole")
            << "..a.tolvane-keep-1-x.mp3.tolvane-keep-9-zzzzzz" << ".a.tolvane-keep-1-x.mp3" << qint64(9);
        QTest::newRow("no leading dot") << "clip.mp3.tolvane-keep-123-ab12cd" << "" << qint64(0);
        QTest::newRow("short tag") << ".clip.mp3.tolvane-keep-123-ab12c" << "" << qint64(0);
        QTest::newRow("no process id") << ".clip.mp3.tolvane-keep-ab12cd" << "" << qint64(0);
        QTest::newRow("capitals") << ".clip.mp3.tolvane-keep-123-AB12CD" << "" << qint64(0);
        QTest::newRow("user's hidden file") << ".clip.mp3" << "" << qint64(0);
    }

    void keptNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, original);
        QFETCH(qint64, pid);
        qint64 found = 0;
        QCOMPARE(OriginalNameOfKept(name, &found), original);
        QCOMPARE(found, pid);
        if (!original.isEmpty())
            QCOMPARE(KeptName(original, pid, name.right(6)), name);
    }

    void replacementWins_data()
    {
        QTest::addColumn<int>("end");
        QTest::addColumn<bool>("audio");
        QTest::addColumn<bool>("wins");
        QTest::newRow("ended well with audio") << int(TEncoderEnd::Succeeded) << true << true;
        QTest::newRow("ended well, wrote nothing") << int(TEncoderEnd::Succeeded) << false << false;
        QTest::newRow("failed after writing") << int(TEncoderEnd::Failed) << true << false;
        QTest::newRow("failed, wrote nothing") << int(TEncoderEnd::Failed) << false << false;
        QTest::newRow("stopped after writing") << int(TEncoderEnd::Stopped) << true << true;
        QTest::newRow("stopped before audio") << int(TEncoderEnd::Stopped) << false << false;
    }

    void replacementWins()
    {
        QFETCH(int, end);
        QFETCH(bool, audio);
        QFETCH(bool, wins);
        QCOMPARE(ReplacementWins(TEncoderEnd(end), audio), wins);
    }

    // Moved aside, the placeholder written, then each way the file ends.
    void keptThenSettled_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QByteArray>("left"); // the target afterwards
        QTest::newRow("restored over the placeholder") << "restore" << Original;
        QTest::newRow("restored over a partial file") << "restore-partial" << Original;
        QTest::newRow("given up for the replacement") << "discard" << QByteArray("new audio");
        QTest::newRow("restored when left undecided") << "scope" << Original;
    }

    void keptThenSettled()
    {
        QFETCH(QString, how);
        QFETCH(QByteArray, left);
        QTemporaryDir dir;
        const QString target = dir.filePath("clip.mp3");
        writeFile(target, Original);
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        {
            TKeptOriginal kept(target);
            QVERIFY(kept.IsHeld());
            QVERIFY(!QFile::exists(target));
            QCOMPARE(OriginalNameOfKept(QFileInfo(kept.KeptPath()).fileName()), QStringLiteral("clip.mp3"));
            QCOMPARE(contentOf(kept.KeptPath()), Original);
            WritePlaceholder(target);
            QCOMPARE(filesIn(dir.path()).size(), 2);
            if (how == "restore-partial")
                writeFile(target, "partial");
            if (how == "discard") {
                writeFile(target, "new audio");
                kept.Discard();
            } else if (how != "scope") {
                QVERIFY(kept.Restore());
            }
            QCOMPARE(kept.IsHeld(), how == "scope");
        }
        QCOMPARE(filesIn(dir.path()), QStringList{"clip.mp3"});
        QCOMPARE(contentOf(target), left);
        if (left == Original) // the same file, not a copy: its permissions came back too
            QVERIFY(QFile::permissions(target).testFlag(QFile::ReadOther));
    }

    void nothingToKeep_data()
    {
        QTest::addColumn<QString>("present"); // "", "folder"
        QTest::newRow("no file") << "";
        QTest::newRow("a folder") << "folder";
    }

    void nothingToKeep()
    {
        QFETCH(QString, present);
        QTemporaryDir dir;
        const QString target = dir.filePath("clip.mp3");
        if (present == "folder")
            QVERIFY(QDir().mkdir(target));
        TKeptOriginal kept(target);
        QVERIFY(!kept.IsHeld());
        QCOMPARE(QFileInfo(target).isDir(), present == "folder");
    }

    // A folder that takes no new names: the file is neither moved nor emptied.
    void unmovableFileIsNotWrittenOver()
    {
        if (::geteuid() == 0)
            QSKIP("permissions do not bind root");
        QTemporaryDir dir;
        const QString target = dir.filePath("clip.mp3");
        writeFile(target, Original);
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        QCOMPARE(ErrorOf([&] { TKeptOriginal kept(target); }), QStringLiteral("File access denied"));
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QCOMPARE(contentOf(target), Original);
        QCOMPARE(filesIn(dir.path()), QStringList{"clip.mp3"});
    }

    // What a crashed run left, as start-up finds it.
    void recoveryAtStartUp_data()
    {
        QTest::addColumn<QString>("target"); // what holds the original name: "", "placeholder", "audio"
        QTest::addColumn<bool>("running");   // the program that made it still runs
        QTest::addColumn<bool>("restored");
        QTest::newRow("name free") << "" << false << true;
        QTest::newRow("bare placeholder") << "placeholder" << false << true;
        QTest::newRow("replacement with audio") << "audio" << false << false;
        QTest::newRow("maker still runs") << "" << true << false;
    }

    void recoveryAtStartUp()
    {
        QFETCH(QString, target);
        QFETCH(bool, running);
        QFETCH(bool, restored);
        QTemporaryDir dir;
        const qint64 pid = running ? ::getpid() : endedProcessId();
        const QString kept = dir.filePath(KeptName("clip.mp3", pid, "abc123"));
        writeFile(kept, Original);
        if (target == "placeholder")
            WritePlaceholder(dir.filePath("clip.mp3"));
        else if (target == "audio")
            writeFile(dir.filePath("clip.mp3"), "audio");
        // Look-alikes that are not ours stay whatever happens.
        writeFile(dir.filePath(".other.mp3.tolvane-keep-x"), "user's");
        writeFile(dir.filePath(".clip.wav"), "user's");

        QCOMPARE(RecoverKeptOriginals(dir.path()), restored ? QStringList{"clip.mp3"} : QStringList{});
        QCOMPARE(QFile::exists(kept), !restored);
        if (restored)
            QCOMPARE(contentOf(dir.filePath("clip.mp3")), Original);
        QCOMPARE(contentOf(dir.filePath(".other.mp3.tolvane-keep-x")), QByteArray("user's"));
        QCOMPARE(contentOf(dir.filePath(".clip.wav")), QByteArray("user's"));
    }
};

QTEST_MAIN(TestKeptOriginal)

#include "tst_keptoriginal.moc"
