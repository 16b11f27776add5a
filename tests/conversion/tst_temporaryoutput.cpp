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
        QTest::newRow("no extension: not one of ours") << ".tolvane-2024-backup" << qint64(0);
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
        QTest::addColumn<int>("mode");          // the old file's permissions; 0 leaves the default
        QTest::addColumn<bool>("targetIsLink"); // the target's name is a link to a file elsewhere
        QTest::newRow("short name") << 8 << false << "" << 0 << false;
        QTest::newRow("longest name a folder takes") << 255 << false << "" << 0 << false;
        QTest::newRow("folder gone") << 8 << true << "Invalid filename" << 0 << false;
        QTest::newRow("a private file stays private") << 8 << false << "" << 0600 << false;
        QTest::newRow("a shared one stays shared") << 8 << false << "" << 0664 << false;
        QTest::newRow("a link is replaced, never what it points to") << 8 << false << "" << 0 << true;
    }

    void replaceInOneStep()
    {
        QFETCH(int, nameLength);
        QFETCH(bool, folderGone);
        QFETCH(QString, error);
        QFETCH(int, mode);
        QFETCH(bool, targetIsLink);
        QTemporaryDir dir;
        QTemporaryDir elsewhere;
        const QString target = dir.filePath(QString(nameLength - 4, QLatin1Char('n')) + ".m4a");
        const QString pointedAt = elsewhere.filePath("theirs.m4a");
        writeFile(targetIsLink ? pointedAt : target, Old);
        if (targetIsLink)
            QVERIFY(QFile::link(pointedAt, target));
        if (mode)
            QCOMPARE(::chmod(QFile::encodeName(target).constData(), mode_t(mode)), 0);
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
        QVERIFY(!QFileInfo(target).isSymLink());
        if (targetIsLink)
            QCOMPARE(contentOf(pointedAt), Old);
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &info), 0);
        if (mode)
            QCOMPARE(int(info.st_mode & 07777), mode);
    }

    void initTestCase()
    {
        // The journal of this test only.
        QVERIFY(m_cache.isValid());
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cache.path()));
    }

    // What a dead program left goes; only what its journal line names, and
    // only while it is still the file that program made.
    void abandonedFilesGo_data()
    {
        QTest::addColumn<QString>("name"); // %1: the process id the line names
        QTest::addColumn<QString>("kind"); // file, fifo, link or placeholder
        QTest::addColumn<bool>("written"); // a journal line names it
        QTest::addColumn<bool>("alive");   // the line's process still runs
        QTest::addColumn<bool>("removed");
        const QString ours = QStringLiteral(".tolvane-%1-abc123.mp3");
        QTest::newRow("a dead program's hidden file") << ours << "file" << true << false << true;
        QTest::newRow("...with the placeholder of a new output") << ours << "placeholder" << true << false << true;
        QTest::newRow("a living program's stays") << ours << "file" << true << true << false;
        QTest::newRow("not in the journal: stays") << ours << "file" << false << false << false;
        QTest::newRow("no extension: stays") << ".tolvane-%1-backup" << "file" << true << false << false;
        QTest::newRow("another process's id in the name: stays")
            << ".tolvane-4000000-abcdef.mp3" << "file" << true << false << false;
        QTest::newRow("a longer name: stays") << ".tolvane-%1-abc123.mp3.bak" << "file" << true << false << false;
        QTest::newRow("a pipe of the very name: stays") << ours << "fifo" << true << false << false;
        QTest::newRow("a link of the very name: stays") << ours << "link" << true << false << false;
    }

    void abandonedFilesGo()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(bool, written);
        QFETCH(bool, alive);
        QFETCH(bool, removed);
        QTemporaryDir dir;
        const qint64 pid = alive ? qint64(::getpid()) : endedProcessId();
        const QString path = dir.filePath(name.arg(pid));
        const QString placeholder = dir.filePath("clip.mp3");
        const QString usersFile = dir.filePath("user.mp3");
        writeFile(usersFile, Old);
        if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == "link")
            QVERIFY(QFile::link(usersFile, path));
        else
            writeFile(path, Old);
        if (kind == "placeholder")
            writeFile(placeholder, "temp\r\n");
        QFile::remove(TemporaryJournal());
        if (written)
            writeFile(TemporaryJournal(), QByteArray::number(pid) + '\t' + QFile::encodeName(path) + '\t'
                                              + (kind == "placeholder" ? QFile::encodeName(placeholder) : "") + '\n');

        RemoveAbandonedTemporaries();
        QCOMPARE(QFileInfo(path).exists() || QFileInfo(path).isSymLink(), !removed);
        QCOMPARE(QFileInfo::exists(placeholder), false);
        QCOMPARE(contentOf(usersFile), Old);
        // A line is kept for as long as its program runs.
        QCOMPARE(contentOf(TemporaryJournal()).isEmpty(), !(written && alive));
    }

    // Made through the journal: a dead program's file is found again, a
    // placeholder that took audio meanwhile stays.
    void journalNamesEveryHiddenFile()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath("clip.mp3");
        writeFile(target, "temp\r\n");
        const QString hidden = CreateTemporaryBeside(target, target);
        QVERIFY(contentOf(TemporaryJournal()).contains(QFile::encodeName(hidden)));
        writeFile(target, Old);
        QCOMPARE(RemoveAbandonedTemporaries(), QStringList()); // this process still runs
        QVERIFY(QFileInfo::exists(hidden));
    }

private:
    QTemporaryDir m_cache;
};

QTEST_GUILESS_MAIN(TestTemporaryOutput)

#include "tst_temporaryoutput.moc"
