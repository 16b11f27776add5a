#include "conversion/FileQueueRules.h"
#include "app/MainWindow.h"
#include "common/ErrorReport.h"
#include "conversion/FileQueue.h"
#include "dialogs/SearchProgress.h"
#include "support/ModalAnswerer.h"
#include "support/ProgramFixture.h"
#include "support/QueueView.h"
#include "terminal/CommandLine.h"

#include <QAbstractButton>
#include <QAction>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

namespace {
void touch(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
}

// The patterns Qt's file dialog takes from a filter entry: its last
// parenthesised group, split at blanks.
QStringList patternsOf(const QString &filter)
{
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("\\(([^()]*)\\)$")).match(filter);
    return match.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool makeClip(const QString &path, const QStringList &options)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 QStringList{"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=5:duration=1"} + options
                     + QStringList{"-c:v", "mpeg4", path});
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0;
}

bool filterShows(const QString &filter, const QString &fileName)
{
    for (const QString &pattern : patternsOf(filter))
        if (QRegularExpression::fromWildcard(pattern, Qt::CaseSensitive).match(fileName).hasMatch())
            return true;
    return false;
}
}

class TestFileQueue : public QObject
{
    Q_OBJECT

private:
    ProgramFixture m_program;
    QTemporaryDir m_tree;
    QTemporaryDir m_clips; // made with ffmpeg on first use

    QString clip(const QString &name) const { return m_clips.filePath(name); }

    // The audio-track tests need ffmpeg's clips: a film with an English AAC,
    // a Japanese AC-3 5.1 and a French FLAC track, one without sound, and a
    // file that is no video. The encoder is the real one behind a stand-in
    // that writes down its arguments.
    void startWithEncoder(const QByteArray &config)
    {
        if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
            QSKIP("ffmpeg is needed to make the clips");
        if (!QFile::exists(clip("three.mkv"))) {
            const QStringList sine{"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=1"};
            const QString tracks = "-map 0 -map 1 -map 2 -map 3 -c:a:0 aac -c:a:1 ac3 -ac:a:1 6 -c:a:2 flac "
                                   "-metadata:s:a:0 language=eng -metadata:s:a:1 language=jpn "
                                   "-metadata:s:a:2 language=fre -disposition:a:0 default";
            QVERIFY(makeClip(clip("three.mkv"), sine + sine + sine + tracks.split(' ')));
            QVERIFY(makeClip(clip("silent.mkv"), {}));
            QFile junk(clip("junk.avi"));
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write(QByteArray(4096, 'z'));
        }
        m_program.stop();
        m_program.folder().write("libm9s", "#!/bin/sh\necho \"$*\" >> '" + clip("arguments").toUtf8()
                                               + "'\nexec '" TOLVANE_PROGRAM_DIR "/libm9s' \"$@\"\n");
        QVERIFY(QFile::setPermissions(m_program.folder().file("libm9s"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QFile::remove(clip("arguments"));
        m_program.start("[setting]\noutputFolder=" + m_clips.path().toUtf8() + "/out\nparallelFiles=1\n" + config);
    }

    QMenu *trackMenu() { return frmMain->findChild<QMenu *>(QStringLiteral("popMenuAudioTrack")); }

    // The menu as it shows for the selected row: "-" a separator, "(off)" a disabled line, "*" the checked one.
    QStringList openTrackMenu()
    {
        trackMenu()->aboutToShow(); // as when it opens
        QStringList lines;
        for (QAction *item : trackMenu()->actions())
            lines << (item->isSeparator()
                          ? QStringLiteral("-")
                          : item->text() + (item->isEnabled() ? "" : " (off)") + (item->isChecked() ? " *" : ""));
        return lines;
    }

    // As a click on the menu's line does.
    void chooseTrack(int line) { trackMenu()->triggered(trackMenu()->actions().at(line)); }

    QTableView *list() { return queueView(); }
    QAction *action(const char *name) { return frmMain->findChild<QAction *>(QLatin1String(name)); }

    QStringList rows() { return queuedFiles(); }

    int selectedRow()
    {
        const QModelIndexList selected = list()->selectionModel()->selectedRows();
        return selected.isEmpty() ? -1 : selected.first().row();
    }

    void focusQueue()
    {
        frmMain->show();
        QVERIFY(QTest::qWaitForWindowActive(frmMain));
        list()->setFocus();
        QTRY_VERIFY(list()->hasFocus());
    }

    void fill(const QStringList &paths)
    {
        for (const QString &path : paths)
            frmMain->AddFile(path);
    }

    QString tree(const QString &relative = QString()) const
    {
        return relative.isEmpty() ? m_tree.path() : m_tree.filePath(relative);
    }

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);

        // A folder tree with every kind of entry the search has to tell apart.
        QDir root(tree());
        for (const char *dir : {"sub/deep", ".hidden", "movie.avi", "plainfolder"})
            QVERIFY(root.mkpath(QLatin1String(dir)));
        for (const char *file :
             {"b.avi", "A.MPG", "c.mp3", "notes.txt", "z.mkv", "sub/s1.avi", "sub/deep/d.mkv", ".hidden/h.avi",
              "movie.avi/inner.avi", "plainfolder/p.avi", "plainfolder/lib.a", "sub/deep/x.mo"})
            touch(tree(QLatin1String(file)));
        QVERIFY(QFile::link(tree(QStringLiteral("sub")), tree(QStringLiteral("link"))));
        QVERIFY(QFile::link(tree(QStringLiteral("movie.avi")), tree(QStringLiteral("linked.avi"))));
    }

    void init()
    {
        m_program.start(QByteArray(), ProgramFixture::Hidden);
        TfrmMain::OpenDialogRunner = nullptr;
    }

    void cleanup()
    {
        TfrmMain::OpenDialogRunner = nullptr;
        const QStringList errors = m_program.stop();
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    }

    void acceptedExtensions_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("capitals kept") << "/videos/CLIP.AVI" << true;
        QTest::newRow("capitals in the extension only") << "/videos/clip.AVI" << true;
        QTest::newRow("prefix of mpeg") << "/videos/clip.mp" << false;
        QTest::newRow("prefix of rmvb") << "clip.rmv" << false;
        QTest::newRow("single letter prefix") << "clip.a" << false;
        QTest::newRow("single letters of the list") << "/v/x.d" << false;
        QTest::newRow("part of an entry") << "/v/x.vi" << false;
        QTest::newRow("name ending in a dot") << "/v/name." << false;
        QTest::newRow("bare dot") << "/v/." << false;
        QTest::newRow("two extensions") << "/v/clip.avi.part" << false;
        QTest::newRow("no extension, plain name") << "noext" << false;
        QTest::newRow("3gp") << "/v/phone.3GP" << true;
        QTest::newRow("avs offered by dialog") << "/v/clip.avs" << false;
        QTest::newRow("psp offered by dialog") << "/v/clip.psp" << false;
        QTest::newRow("mp3") << "/v/clip.mp3" << false;
        QTest::newRow("wav") << "/v/clip.wav" << false;
        QTest::newRow("no extension") << "/v/clip" << false;
        QTest::newRow("dot only in folder") << "/v/dir.avi/clip" << false;
        QTest::newRow("colon is a plain character") << "/v/c:clip.mkv" << true;
        QTest::newRow("non-ASCII capital not lowered") << QString::fromUtf8("/v/clip.\xC3\x84VI") << false;
        QTest::newRow("empty") << "" << false;
    }

    void acceptedExtensions()
    {
        QFETCH(QString, path);
        QFETCH(bool, accepted);
        frmMain->AddFile(path);
        QCOMPARE(rows(), accepted ? QStringList{path} : QStringList{});
    }

    void sameFileTwiceGivesTwoRowsAndKeepsSelection()
    {
        fill({QStringLiteral("/v/a.avi"), QStringLiteral("/v/b.avi")});
        list()->selectRow(0);
        frmMain->AddFile(QStringLiteral("/v/a.avi"));
        QCOMPARE(rows(), QStringList({"/v/a.avi", "/v/b.avi", "/v/a.avi"}));
        QCOMPARE(selectedRow(), 0);
    }

    void namePatterns_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("matches");
        QTest::newRow("any name, even without dot") << "folder" << "*.*" << true;
        QTest::newRow("extension") << "x.avi" << "*.avi" << true;
        QTest::newRow("extension any case") << "X.AvI" << "*.aVi" << true;
        QTest::newRow("longer extension") << "x.avix" << "*.avi" << false;
        QTest::newRow("extension inside name") << "x.avi.txt" << "*.avi" << false;
        QTest::newRow("question mark") << "x.mp4" << "*.mp?" << true;
        QTest::newRow("question mark needs a character") << "x.mp" << "*.mp?" << false;
        QTest::newRow("star in extension") << "x.rmvb" << "*.rm*" << true;
    }

    void namePatterns()
    {
        QFETCH(QString, name);
        QFETCH(QString, pattern);
        QFETCH(bool, matches);
        QCOMPARE(MatchesNamePattern(name, pattern), matches);
    }

    void openDialogFilters_data()
    {
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("shownText");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("listed");
        QTest::newRow("supported files, capitals") << 0 << "Supported files" << "CLIP.AVI" << true;
        QTest::newRow("supported files offer avs") << 0 << "Supported files" << "clip.avs" << true;
        QTest::newRow("supported files lack 3gp") << 0 << "Supported files" << "clip.3gp" << false;
        QTest::newRow("rm") << 1 << "RM files (*.rm;*.rmvb)" << "Clip.RmVb" << true;
        QTest::newRow("rm not mp4") << 1 << "RM files (*.rm;*.rmvb)" << "clip.mp4" << false;
        QTest::newRow("avi") << 2 << "AVI files (*.avi)" << "clip.avi" << true;
        QTest::newRow("mpeg") << 3 << "MPEG files (*.mpg;*.mpeg)" << "clip.MPEG" << true;
        QTest::newRow("wmv") << 4 << "WMV files (*.wmv;*.asf)" << "clip.asf" << true;
        QTest::newRow("portable") << 5 << "Portable device files (*.3gp;*.mp4;*.avs;*.psp;*.mkv)" << "a.3gp" << true;
        QTest::newRow("dvd") << 6 << "DVD and VCD files (*.vob;*.dat)" << "VTS_01_1.VOB" << true;
        QTest::newRow("quick time") << 7 << "QuickTime files (*.mov;*.qt)" << "a.qt" << true;
        QTest::newRow("all files without dot") << 8 << "All files (*.*)" << "README" << true;
    }

    void openDialogFilters()
    {
        QFETCH(int, entry);
        QFETCH(QString, shownText);
        QFETCH(QString, fileName);
        QFETCH(bool, listed);
        const QStringList filters = OpenDialogNameFilters();
        QCOMPARE(filters.size(), 9);
        // The dialog hides the last group and shows what stands before it.
        const QString filter = filters.at(entry);
        QCOMPARE(filter.left(filter.lastIndexOf(QLatin1Char('('))).trimmed(), shownText);
        QCOMPARE(filterShows(filter, fileName), listed);
    }

    void openDialogFilterTexts()
    {
        // A language's descriptions go first; its patterns follow; a missing one stays English.
        const QStringList filters = OpenDialogNameFilters({"対応ファイル", "", "AVI ファイル"});
        QCOMPARE(filters.size(), 9);
        QVERIFY(filters.at(0).startsWith(QStringLiteral("対応ファイル (")));
        QVERIFY(filters.at(1).startsWith(QStringLiteral("RM files (*.rm;*.rmvb) (")));
        QVERIFY(filters.at(2).startsWith(QStringLiteral("AVI ファイル (*.avi) (")));
        QVERIFY(filterShows(filters.at(2), "clip.AVI"));
        QVERIFY(filters.at(8).startsWith(QStringLiteral("All files (*.*) (")));
    }

    void openDialog()
    {
        int calls = 0;
        QString rememberedFilter;
        TfrmMain::OpenDialogRunner = [&](QFileDialog &dialog) -> QStringList {
            ++calls;
            [&] {
                QCOMPARE(dialog.windowTitle(), QStringLiteral("Open Video Files"));
                QCOMPARE(dialog.fileMode(), QFileDialog::ExistingFiles);
                QCOMPARE(dialog.nameFilters(), OpenDialogNameFilters());
            }();
            if (calls == 1) {
                [&] { QCOMPARE(dialog.selectedNameFilter(), QStringLiteral("Supported files")); }();
                dialog.selectNameFilter(OpenDialogNameFilters().at(2));
                return {"/v/2.avi", "/v/1.mkv", "/v/skip.avs", "/v/3.MP4"};
            }
            rememberedFilter = dialog.selectedNameFilter();
            if (calls == 2)
                return {};
            return {"/v/4.avi", "", "/v/after-empty.avi"};
        };
        action("ActionFileAdd")->trigger();
        QCOMPARE(rows(), QStringList({"/v/2.avi", "/v/1.mkv", "/v/3.MP4"}));
        action("ActionFileAdd")->trigger(); // cancel
        QCOMPARE(rememberedFilter, QStringLiteral("AVI files (*.avi)"));
        QCOMPARE(rows().size(), 3);
        action("ActionFileAdd")->trigger(); // an empty path ends the list
        QCOMPARE(rows().last(), QStringLiteral("/v/4.avi"));
        QCOMPARE(rows().size(), 4);
    }

    void addFolder_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("includeSubfolders");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QStringList>("expected");

        // Name order without regard to case; subfolders depth first; hidden
        // folders and links are never searched, only offered as rows.
        QTest::newRow("all, with subfolders")
            << "" << true << "*"
            << QStringList{"A.MPG",          "b.avi",      "linked.avi", "movie.avi/inner.avi", "plainfolder/p.avi",
                           "sub/deep/d.mkv", "sub/s1.avi", "z.mkv"};
        QTest::newRow("empty extension means all")
            << "" << false << "" << QStringList{"A.MPG", "b.avi", "linked.avi", "movie.avi", "z.mkv"};
        QTest::newRow("all, own files only")
            << "" << false << "*" << QStringList{"A.MPG", "b.avi", "linked.avi", "movie.avi", "z.mkv"};
        QTest::newRow("avi searches every plain folder")
            << "" << true << "avi"
            << QStringList{"b.avi", "linked.avi", "movie.avi/inner.avi", "plainfolder/p.avi", "sub/s1.avi"};
        QTest::newRow("extension in capitals")
            << "" << true << "AVI"
            << QStringList{"b.avi", "linked.avi", "movie.avi/inner.avi", "plainfolder/p.avi", "sub/s1.avi"};
        QTest::newRow("avi, own files only") << "" << false << "avi" << QStringList{"b.avi", "linked.avi", "movie.avi"};
        QTest::newRow("mpg matches capitals") << "" << false << "mpg" << QStringList{"A.MPG"};
        QTest::newRow("mp3 passes the pattern, not the list") << "" << true << "mp3" << QStringList{};
        QTest::newRow("subfolder as start") << "sub" << true << "*" << QStringList{"sub/deep/d.mkv", "sub/s1.avi"};
        QTest::newRow("link as start is searched") << "link" << false << "*" << QStringList{"link/s1.avi"};
        QTest::newRow("missing folder") << "nowhere" << true << "*" << QStringList{};
        QTest::newRow("pseudo file system") << "/proc" << true << "*" << QStringList{};
    }

    void addFolder()
    {
        QFETCH(QString, folder);
        QFETCH(bool, includeSubfolders);
        QFETCH(QString, extension);
        QFETCH(QStringList, expected);
        const QString start = folder.startsWith(QLatin1Char('/')) ? folder : tree(folder);
        QStringList expectedPaths;
        for (const QString &relative : expected)
            expectedPaths << tree(relative);
        frmMain->AddFolder(start, includeSubfolders, extension);
        QCOMPARE(rows(), expectedPaths);
    }

    void addFolderKeepsTheSeparatorOfTheStart()
    {
        // A start that already ends in "/" (like the root) gives a doubled
        // separator, which the system reads as one.
        frmMain->AddFolder(tree(QStringLiteral("sub/")), false, QStringLiteral("*"));
        QCOMPARE(rows(), QStringList{tree(QStringLiteral("sub/")) + QStringLiteral("/s1.avi")});
        QVERIFY(QFile::exists(rows().first()));
    }

    void addFolderTwiceAddsTwice()
    {
        frmMain->AddFolder(tree(QStringLiteral("sub")), true, QStringLiteral("*"));
        frmMain->AddFolder(tree(QStringLiteral("sub")), true, QStringLiteral("*"));
        QCOMPARE(rows().size(), 4);
    }

    void addFolderLetsTheWindowWork()
    {
        // Events are handled between entries: a command given meanwhile runs
        // inside the search and the search goes on afterwards.
        const QScopedValueRollback everyEntry(TfrmMain::SearchYieldIntervalMs, 0);
        int rowsWhenTimerRan = -1;
        QTimer::singleShot(0, this, [&] {
            rowsWhenTimerRan = queueRows();
            frmMain->AddFile(QStringLiteral("/meanwhile.avi"));
        });
        frmMain->AddFolder(tree(QStringLiteral("sub")), true, QStringLiteral("*"));
        QCOMPARE(rowsWhenTimerRan, 1);
        QCOMPARE(rows(), QStringList({tree(QStringLiteral("sub/deep/d.mkv")), QStringLiteral("/meanwhile.avi"),
                                      tree(QStringLiteral("sub/s1.avi"))}));
    }

    void longSearchHandlesEventsOnTheWay()
    {
        // With the usual pace the window still gets its turn while a long
        // search goes on, and sees the rows found so far.
        QTemporaryDir big;
        for (int i = 0; i < 20000; ++i)
            touch(big.filePath(QStringLiteral("clip%1.avi").arg(i, 5, 10, QLatin1Char('0'))));
        frmMain->show();
        QVERIFY(QTest::qWaitForWindowExposed(frmMain));
        QList<int> rowsSeen;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] { rowsSeen << queueRows(); });
        ticker.start(1);
        QElapsedTimer clock;
        clock.start();
        frmMain->AddFolder(big.path(), false, QStringLiteral("*"));
        ticker.stop();
        QCOMPARE(queueRows(), 20000);
        if (clock.elapsed() < 3 * TfrmMain::SearchYieldIntervalMs)
            QSKIP("the search ended before the window's turn came");
        QVERIFY(!rowsSeen.isEmpty());
        QVERIFY(rowsSeen.first() > 0 && rowsSeen.first() < 20000);
    }

    void closingTheWindowEndsTheSearch()
    {
        const QScopedValueRollback everyEntry(TfrmMain::SearchYieldIntervalMs, 0);
        frmMain->show();
        QVERIFY(QTest::qWaitForWindowExposed(frmMain));
        QTimer::singleShot(0, frmMain, [] { frmMain->close(); });
        frmMain->AddFolder(tree(QStringLiteral("sub")), true, QStringLiteral("*"));
        QCOMPARE(rows().size(), 1);
    }

    void cancelKeepsTheRowsFound_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Cancel") << "cancel";
        QTest::newRow("Escape") << "escape";
        QTest::newRow("title bar") << "close";
    }

    void cancelKeepsTheRowsFound()
    {
        QFETCH(QString, how);
        const QScopedValueRollback everyEntry(TfrmMain::SearchYieldIntervalMs, 0);
        const QScopedValueRollback showAtOnce(TfrmSearchProgress::ShowAfterMs, 0);
        frmMain->show();
        QVERIFY(QTest::qWaitForWindowExposed(frmMain));
        int shownCount = -1;
        bool boxShown = false;
        // The box's Cancel ends a search; the folders dropped after it are not searched.
        QTimer::singleShot(0, this, [&] {
            boxShown = frmSearchProgress->isVisible();
            shownCount = frmSearchProgress->findChild<QLabel *>(QStringLiteral("labelFoundCount"))->text().toInt();
            if (how == QLatin1String("cancel"))
                frmSearchProgress->findChild<QPushButton *>(QStringLiteral("buttonCancel"))->click();
            else if (how == QLatin1String("escape"))
                QTest::keyClick(frmSearchProgress, Qt::Key_Escape);
            else
                frmSearchProgress->close();
        });
        frmMain->AddPaths(
            {tree(QStringLiteral("b.avi")), tree(QStringLiteral("sub")), tree(QStringLiteral("plainfolder"))});
        QVERIFY(boxShown);
        QCOMPARE(shownCount, 1);
        QCOMPARE(rows(), QStringList({tree(QStringLiteral("b.avi")), tree(QStringLiteral("sub/deep/d.mkv"))}));
        QVERIFY(!frmSearchProgress->isVisible());

        // The next search starts afresh.
        frmMain->AddFolder(tree(QStringLiteral("plainfolder")), true, QStringLiteral("*"));
        QCOMPARE(rows().last(), tree(QStringLiteral("plainfolder/p.avi")));
        QCOMPARE(frmSearchProgress->FoundCount(), 1);
    }

    void pseudoFileSystems_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("pseudo");
        for (const char *path :
             {"/proc", "/proc/1/root", "/sys", "/dev/", "/dev/shm", "/run", "/run/user/1000", "/sys/../proc"})
            QTest::newRow(path) << path << true;
        for (const char *path : {"/", "/home", "/devices", "/running", "/run/media/ann/USB", "/media/usb", "/mnt/proc"})
            QTest::newRow(path) << path << false;
    }

    void pseudoFileSystems()
    {
        QFETCH(QString, path);
        QFETCH(bool, pseudo);
        QCOMPARE(IsPseudoFileSystemPath(path), pseudo);
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("nothing") << QStringList{} << QStringList{};
        QTest::newRow("relative file and folder")
            << QStringList{"b.avi", "sub/"} << QStringList{"b.avi", "sub/deep/d.mkv", "sub/s1.avi"};
        QTest::newRow("absolute, order kept")
            << QStringList{"@/plainfolder", "@/A.MPG", "c.mp3"} << QStringList{"plainfolder/p.avi", "A.MPG"};
        QTest::newRow("file URL") << QStringList{"file://@/z.mkv"} << QStringList{"z.mkv"};
        QTest::newRow("a dash name behind ./") << QStringList{"./-clip.avi"} << QStringList{"-clip.avi"};
        QTest::newRow("after --, a name with a dash") << QStringList{"--", "-clip.avi"} << QStringList{"-clip.avi"};
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, expected);
        for (QString &argument : arguments)
            argument.replace(QLatin1Char('@'), tree());
        QStringList expectedRows;
        for (const QString &relative : expected)
            expectedRows << tree(relative);
        frmMain->AddPaths(ParseCommandLine(arguments, tree()).Paths);
        QCOMPARE(rows(), expectedRows);
    }

    void drop_data()
    {
        QTest::addColumn<bool>("duringRun");
        QTest::newRow("idle") << false;
        QTest::newRow("queue disabled by a run") << true;
    }

    void drop()
    {
        QFETCH(bool, duringRun);
        frmMain->AddFile(QStringLiteral("/v/already.avi"));
        list()->setEnabled(!duringRun);

        const QString longPath = QStringLiteral("/v/") + QString(300, QLatin1Char('x')) + QStringLiteral(".avi");
        QMimeData data;
        data.setUrls(
            {QUrl::fromLocalFile(tree(QStringLiteral("b.avi"))), QUrl::fromLocalFile(tree(QStringLiteral("sub"))),
             QUrl::fromLocalFile(tree(QStringLiteral("movie.avi"))), QUrl::fromLocalFile(longPath),
             QUrl(QStringLiteral("https://example.org/web.avi")), QUrl::fromLocalFile(tree(QStringLiteral("A.MPG")))});
        // A drop arrives after the drag has entered the window.
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(frmMain, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(frmMain, &event);

        // Folders are searched with their subfolders, in the drop's order.
        QCOMPARE(rows(),
                 QStringList({"/v/already.avi", tree(QStringLiteral("b.avi")), tree(QStringLiteral("sub/deep/d.mkv")),
                              tree(QStringLiteral("sub/s1.avi")), tree(QStringLiteral("movie.avi/inner.avi")), longPath,
                              tree(QStringLiteral("A.MPG"))}));
    }

    void dropsAnywhereReachTheWindow()
    {
        // A drag goes to the widget under the mouse, or the nearest parent of
        // it that takes drops; for files that must be the window itself, so
        // no control may take drops on its own (a line edit does by default).
        frmMain->show();
        QVERIFY(QTest::qWaitForWindowExposed(frmMain));
        for (QWidget *widget : frmMain->findChildren<QWidget *>()) {
            if (!widget->isVisible() || widget->isWindow() || widget->window() != frmMain)
                continue;
            QWidget *target = widget;
            while (!target->isWindow() && !target->acceptDrops())
                target = target->parentWidget();
            QVERIFY2(target == frmMain, qPrintable(widget->objectName() + QStringLiteral(" takes drops")));
        }
    }

    // The action, or the Delete key in the queue, removes every selected row.
    void deleteSelected_data()
    {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<bool>("key");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("middle") << QList<int>{1} << false << QStringList{"a.avi", "c.avi"};
        QTest::newRow("last") << QList<int>{2} << false << QStringList{"a.avi", "b.avi"};
        QTest::newRow("none selected") << QList<int>{} << false << QStringList{"a.avi", "b.avi", "c.avi"};
        QTest::newRow("Delete key, two rows") << QList<int>{0, 2} << true << QStringList{"b.avi"};
    }

    void deleteSelected()
    {
        QFETCH(QList<int>, selected);
        QFETCH(bool, key);
        QFETCH(QStringList, expected);
        fill({"a.avi", "b.avi", "c.avi"});
        for (int row : selected)
            list()->selectionModel()->select(list()->model()->index(row, 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
        if (key) {
            focusQueue();
            QTest::keyClick(list(), Qt::Key_Delete);
        } else {
            action("ActionFileDelete")->trigger();
        }
        QCOMPARE(rows(), expected);
        QCOMPARE(selectedRow(), -1);
    }

    // The keys a user works the queue with, pressed while it has the focus.
    void keys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("effect");
        QTest::newRow("Tab leaves the queue") << int(Qt::Key_Tab) << int(Qt::NoModifier) << "focus left";
        QTest::newRow("Ctrl+O adds files") << int(Qt::Key_O) << int(Qt::ControlModifier) << "added";
        QTest::newRow("Ctrl+Return converts") << int(Qt::Key_Return) << int(Qt::ControlModifier) << "converted";
    }

    void keys()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, effect);
        fill({"/v/a.avi", "/v/b.avi"});
        list()->selectRow(0);
        TfrmMain::OpenDialogRunner = [](QFileDialog &) { return QStringList{"/v/new.avi"}; };
        // An empty queue converts at once into the end message.
        if (effect == "converted")
            frmMain->Queue->Clear();
        focusQueue();
        ModalAnswerer answers;
        if (effect == "converted")
            answers.expect(ModalAnswerer::messageBox(QMessageBox::No));
        QTest::keyClick(list(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        if (effect == "focus left")
            QVERIFY(QApplication::focusWidget() && !list()->isAncestorOf(QApplication::focusWidget())
                    && QApplication::focusWidget() != list());
        if (effect == "added")
            QCOMPARE(rows(), (QStringList{"/v/a.avi", "/v/b.avi", "/v/new.avi"}));
        if (effect == "converted")
            QTRY_COMPARE(answers.seenNames(), QStringList{"msgFinishInfo"});
        QVERIFY(answers.unexpected.isEmpty());
    }

    void move_data()
    {
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("actionName");
        QTest::addColumn<int>("times");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("selectedAfter");
        const QStringList unchanged{"a.avi", "b.avi", "c.avi"};
        QTest::newRow("up from the middle")
            << 1 << "ActionFileMoveUp" << 1 << QStringList{"b.avi", "a.avi", "c.avi"} << 0;
        QTest::newRow("up twice carries on")
            << 2 << "ActionFileMoveUp" << 2 << QStringList{"c.avi", "a.avi", "b.avi"} << 0;
        QTest::newRow("up at the top") << 0 << "ActionFileMoveUp" << 1 << unchanged << 0;
        QTest::newRow("up without selection") << -1 << "ActionFileMoveUp" << 1 << unchanged << -1;
        QTest::newRow("down from the top")
            << 0 << "ActionFileMoveDown" << 1 << QStringList{"b.avi", "a.avi", "c.avi"} << 1;
        QTest::newRow("down three times stops at the end")
            << 0 << "ActionFileMoveDown" << 3 << QStringList{"b.avi", "c.avi", "a.avi"} << 2;
        QTest::newRow("down at the bottom") << 2 << "ActionFileMoveDown" << 1 << unchanged << 2;
        QTest::newRow("down without selection") << -1 << "ActionFileMoveDown" << 1 << unchanged << -1;
    }

    void move()
    {
        QFETCH(int, selected);
        QFETCH(QString, actionName);
        QFETCH(int, times);
        QFETCH(QStringList, expected);
        QFETCH(int, selectedAfter);
        fill({"a.avi", "b.avi", "c.avi"});
        if (selected >= 0)
            list()->selectRow(selected);
        for (int i = 0; i < times; ++i)
            action(actionName.toLatin1().constData())->trigger();
        QCOMPARE(rows(), expected);
        QCOMPARE(selectedRow(), selectedAfter);
        if (selectedAfter >= 0)
            QCOMPARE(list()->currentIndex().row(), selectedAfter);
    }

    void clearAll_data()
    {
        QTest::addColumn<int>("rowCount");
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<int>("rowsAfter");
        QTest::newRow("OK") << 3 << QMessageBox::Ok << 0;
        QTest::newRow("Cancel keeps every row") << 3 << QMessageBox::Cancel << 3;
        QTest::newRow("empty queue still asks") << 0 << QMessageBox::Ok << 0;
    }

    void clearAll()
    {
        QFETCH(int, rowCount);
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(int, rowsAfter);
        for (int i = 0; i < rowCount; ++i)
            frmMain->AddFile(QStringLiteral("/v/%1.avi").arg(i));
        frmMain->msgClearAll = QStringLiteral("Remove all files from the list?");
        SetApplicationTitle(QStringLiteral("Tolvane title"));

        QString text, caption;
        QMessageBox::Icon icon = QMessageBox::Critical;
        QWidget *owner = nullptr;
        ModalAnswerer answers;
        answers.expect([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QVERIFY(box && box->button(QMessageBox::Ok) && box->button(QMessageBox::Cancel));
            text = box->text();
            caption = box->windowTitle();
            icon = box->icon();
            owner = box->parentWidget();
            box->button(answer)->click();
        });
        action("ActionFileClearAll")->trigger();
        QVERIFY(answers.allUsed());
        QVERIFY(answers.unexpected.isEmpty());
        QCOMPARE(text, frmMain->msgClearAll);
        QCOMPARE(caption, QStringLiteral("Tolvane title"));
        QCOMPARE(icon, QMessageBox::NoIcon);
        QCOMPARE(owner, frmMain);
        QCOMPARE(queueRows(), rowsAfter);
    }

    void popupMenu()
    {
        auto *menu = frmMain->findChild<QMenu *>(QStringLiteral("PopupMenu"));
        QVERIFY(menu);
        QStringList names;
        for (QAction *entry : menu->actions())
            names << (entry->isSeparator() ? QStringLiteral("-")
                      : entry->menu()      ? entry->menu()->objectName()
                                           : entry->objectName());
        QCOMPARE(names, QStringList({"popMenu1", "popMenu2", "popMenu3", "popMenu4", "-", "popMenu6", "popMenu7", "-",
                                     "popMenuAudioTrack"}));

        // The entries stand for the actions: caption, enabled state, command.
        auto *popMenu3 = menu->findChild<QAction *>(QStringLiteral("popMenu3"));
        QCOMPARE(popMenu3->text(), action("ActionFileDelete")->text());
        fill({"a.avi", "b.avi"});
        list()->selectRow(0);
        popMenu3->trigger();
        QCOMPARE(rows(), QStringList{"b.avi"});
        action("ActionFileDelete")->setEnabled(false);
        QVERIFY(!popMenu3->isEnabled());

        int dialogs = 0;
        TfrmMain::OpenDialogRunner = [&](QFileDialog &) -> QStringList {
            ++dialogs;
            return {};
        };
        menu->findChild<QAction *>(QStringLiteral("popMenu1"))->trigger();
        QCOMPARE(dialogs, 1);
    }

    void audioTrackMenu_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("three tracks") << "three.mkv"
                                      << QStringList{"Automatic *", "-", "1: English \u2014 AAC mono, 48 kHz",
                                                     "2: Japanese \u2014 AC-3 5.1, 48 kHz",
                                                     "3: French \u2014 FLAC mono, 48 kHz"};
        QTest::newRow("no sound") << "silent.mkv" << QStringList{"Automatic *", "-", "No audio tracks found (off)"};
        QTest::newRow("not a video") << "junk.avi" << QStringList{"Automatic *", "-", "No audio tracks found (off)"};
    }

    void audioTrackMenu()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, lines);
        startWithEncoder({});
        frmMain->msgNoAudioTracks = QStringLiteral("No audio tracks found");
        trackMenu()->setTitle(QStringLiteral("Audio track"));
        frmMain->findChild<QAction *>(QStringLiteral("popMenuAudioTrackAutomatic"))->setText("Automatic");
        fill({clip(file), clip(file)});
        QTRY_VERIFY(frmMain->Queue->At(1).Facts.Known);
        list()->selectRow(1);
        QCOMPARE(openTrackMenu(), lines);
        QCOMPARE(openTrackMenu(), lines); // opened again, it lists the tracks once
        if (lines.size() < 4)
            return;
        chooseTrack(3);
        QCOMPARE(frmMain->AudioTrackOfRow(1), 1);
        QCOMPARE(queueCell(1, 0, Qt::ToolTipRole), clip(file) + "\nAudio track " + lines[3]);
        QCOMPARE(openTrackMenu().mid(2), QStringList({lines[2], lines[3] + " *", lines[4]}));
        // The choice goes with the file when it moves; Automatic takes it back.
        action("ActionFileMoveUp")->trigger();
        QCOMPARE(QList<int>({frmMain->AudioTrackOfRow(0), frmMain->AudioTrackOfRow(1)}), QList<int>({1, -1}));
        QVERIFY(queueCell(1, 0, Qt::ToolTipRole).isEmpty());
        chooseTrack(0);
        QCOMPARE(frmMain->AudioTrackOfRow(0), -1);
        QVERIFY(queueCell(0, 0, Qt::ToolTipRole).isEmpty());
        // Another path in the row is another file.
        chooseTrack(4);
        QCOMPARE(frmMain->AudioTrackOfRow(0), 2);
        list()->model()->setData(list()->model()->index(0, 0), clip("other.mkv"));
        QCOMPARE(frmMain->AudioTrackOfRow(0), -1);
        QVERIFY(queueCell(0, 0, Qt::ToolTipRole).isEmpty());
    }

    // What the menu chose, or the preferred language, reaches the encoder;
    // a copy is named after the codec of that track.
    void audioTrackReachesTheRun_data()
    {
        QTest::addColumn<int>("menuLine"); // -1: the menu is not used
        QTest::addColumn<QByteArray>("preferred");
        QTest::addColumn<QString>("map");
        QTest::addColumn<QString>("output");
        QTest::newRow("chosen in the menu") << 3 << QByteArray("fre") << "0:a:1" << "three.ac3";
        QTest::newRow("preferred language") << -1 << QByteArray("French") << "0:a:2" << "three.flac";
        QTest::newRow("default track") << -1 << QByteArray() << "0:a:0" << "three.m4a";
    }

    void audioTrackReachesTheRun()
    {
        QFETCH(int, menuLine);
        QFETCH(QByteArray, preferred);
        QFETCH(QString, map);
        QFETCH(QString, output);
        startWithEncoder("format=copy\npreferredAudioLanguage=" + preferred + "\n");
        QDir(clip("out")).removeRecursively();
        QVERIFY(QDir().mkpath(clip("out")));
        fill({clip("three.mkv")});
        QTRY_VERIFY(frmMain->Queue->At(0).Facts.Known);
        list()->selectRow(0);
        if (menuLine >= 0) {
            openTrackMenu();
            chooseTrack(menuLine);
        }
        ModalAnswerer answers;
        answers.expect(ModalAnswerer::messageBox(QMessageBox::No));
        action("ActionConvertNow")->trigger();
        QTRY_VERIFY(answers.allUsed());
        QFile arguments(clip("arguments"));
        QVERIFY(arguments.open(QIODevice::ReadOnly));
        const QString run = QString::fromUtf8(arguments.readAll()).split('\n').filter("-i ").value(0);
        QVERIFY2(run.contains("-map " + map + ' '), qPrintable(run));
        QCOMPARE(QDir(clip("out")).entryList(QDir::Files), QStringList{output});
    }

    void rowsAreEditedInPlace()
    {
        frmMain->AddFile(QStringLiteral("/v/a.avi"));
        QVERIFY(list()->model()->flags(list()->model()->index(0, 0)) & Qt::ItemIsEditable);
        QVERIFY(list()->editTriggers() & QAbstractItemView::DoubleClicked);
    }
};

QTEST_MAIN(TestFileQueue)
#include "tst_filequeue.moc"
