// The hidden files an overwrite is written to, their one-step replacement
// of the old file, and the clean-up of what a dead program left.
#include "conversion/OutputFiles.h"
#include "conversion/TemporaryOutput.h"
#include "support/ErrorOf.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

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

const QByteArray Old("old audio\0with a zero byte", 26);
}

class TestTemporaryOutput : public QObject
{
    Q_OBJECT

private slots:
    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("pid"); // 0: not one of ours
        QTest::newRow("ours") << ".tolvane-123-ab12cd.mp3" << qint64(123);
        QTest::newRow("ours, no extension") << ".tolvane-123-ab12cd" << qint64(123);
        QTest::newRow("no leading dot") << "tolvane-123-ab12cd.mp3" << qint64(0);
        QTest::newRow("short tag") << ".tolvane-123-ab12c.mp3" << qint64(0);
        QTest::newRow("capitals") << ".tolvane-123-AB12CD.mp3" << qint64(0);
        QTest::newRow("no process id") << ".tolvane--ab12cd.mp3" << qint64(0);
        QTest::newRow("two extensions") << ".tolvane-123-ab12cd.mp3.bak" << qint64(0);
        QTest::newRow("user's hidden file") << ".tolvane-notes.txt" << qint64(0);
    }

    void names()
    {
        QFETCH(QString, name);
        QFETCH(qint64, pid);
        QCOMPARE(ProcessOfTemporary(name), pid);
        if (pid)
            QCOMPARE(TemporaryName(pid, name.mid(13, 6), name.mid(20)), name);
    }

    // Written beside the target under a short name, then put in its place
    // in one step; a folder gone meanwhile fails the commit and the target
    // is not touched.
    void replaceInOneStep_data()
    {
        QTest::addColumn<int>("nameLength"); // bytes of the target's name
        QTest::addColumn<bool>("folderGone");
        QTest::addColumn<QString>("error");
        QTest::newRow("short name") << 8 << false << "";
        QTest::newRow("longest name a folder takes") << 255 << false << "";
        QTest::newRow("folder gone") << 8 << true << "Invalid filename";
    }

    void replaceInOneStep()
    {
        QFETCH(int, nameLength);
        QFETCH(bool, folderGone);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString target = dir.filePath(QString(nameLength - 4, QLatin1Char('n')) + ".m4a");
        writeFile(target, Old);
        const QString hidden = CreateTemporaryBeside(target);
        QCOMPARE(QFileInfo(hidden).absolutePath(), QFileInfo(target).absolutePath());
        QVERIFY(ProcessOfTemporary(QFileInfo(hidden).fileName()) == ::getpid());
        QVERIFY(hidden.endsWith(".m4a"));
        QCOMPARE(QFileInfo(hidden).size(), 0);
        QVERIFY(!HoldsOutput(hidden));
        writeFile(hidden, "new audio");
        QVERIFY(HoldsOutput(hidden));
        QCOMPARE(contentOf(target), Old);
        if (folderGone)
            QVERIFY(QDir(dir.path()).removeRecursively());
        QCOMPARE(ErrorOf([&] { CommitTemporary(hidden, target); }), error);
        if (folderGone)
            return;
        QCOMPARE(contentOf(target), QByteArray("new audio"));
        QCOMPARE(filesIn(dir.path()), QStringList{QFileInfo(target).fileName()});
    }

    // What a dead program left goes, wherever the list of folders says it
    // may be; a living program's file and every look-alike stay.
    void deadProgramsFilesGo()
    {
        QTemporaryDir base;
        const qint64 dead = endedProcessId();
        const QStringList kept{TemporaryName(::getpid(), "abc123", "mp3"), ".tolvane-notes.txt",
                               TemporaryName(dead, "abc123", "mp3") + ".bak", "clip.mp3"};
        const QString config = base.filePath("config.ini");
        writeFile(config, "[setting]\n");
        QStringList folders;
        for (int i = 0; i < RememberedFolders + 2; ++i) {
            folders.prepend(base.filePath(QString::number(i)));
            QVERIFY(QDir().mkpath(folders.first()));
            for (const QString &name : kept + QStringList{TemporaryName(dead, "abc123", "mp3")})
                writeFile(folders.first() + '/' + name, Old);
            RememberTemporaryFolder(config, folders.first());
        }
        RememberTemporaryFolder(config, folders[3] + "/"); // named again: first, and only once
        folders.move(3, 0);
        QCOMPARE(TemporaryFolders(config), folders.mid(0, RememberedFolders));

        CleanTemporaryFolders(config);
        for (int i = 0; i < folders.size(); ++i) {
            QStringList left =
                kept + (i < RememberedFolders ? QStringList() : QStringList{TemporaryName(dead, "abc123", "mp3")});
            left.sort();
            QCOMPARE(filesIn(folders[i]), left);
        }
    }
};

QTEST_GUILESS_MAIN(TestTemporaryOutput)

#include "tst_temporaryoutput.moc"
