#include "app/FileAdder.h"
#include "app/MainWindow.h"
#include "common/ErrorReport.h"
#include "conversion/FileQueue.h"
#include "conversion/FileQueueRules.h"
#include "dialogs/SearchProgress.h"
#include "support/ModalAnswerer.h"
#include "support/ProgramFixture.h"
#include "support/QueueView.h"
#include "support/StandInEncoder.h"
#include "terminal/CommandLine.h"

#include <QAbstractButton>
#include <QAction>
#include <QDropEvent>
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

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    QTemporaryDir m_made;  // the files of v()

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

    // Rows as the tests name them: files made by v() lose the folder in front.
    QStringList rows()
    {
        QStringList files = queuedFiles();
        for (QString &file : files)
            if (file.startsWith(m_made.path() + '/'))
                file.remove(0, m_made.path().size() + 1);
        return files;
    }

    // A real file for a test's made-up path ("/v/a.avi", "a.avi"), which rows() gives back as it was.
    QString v(const QString &path)
    {
        const QString real = m_made.path() + '/' + path;
        QDir().mkpath(QFileInfo(real).path());
        touch(real);
        return real;
    }

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
        QTRY_VERIFY_WITH_TIMEOUT(list()->hasFocus(), 120000);
    }

    void fill(const QStringList &paths)
    {
        for (const QString &path : paths)
            frmMain->AddFile(path.startsWith(m_clips.path()) ? path : v(path));
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
        ::close(::open(QFile::encodeName(tree()) + "/caf\xE9.avi", O_CREAT | O_WRONLY, 0644));
    }

    void cleanupTestCase()
    {
        // Qt cannot name them to remove them with their folders.
        ::unlink(QFile::encodeName(tree()) + "/caf\xE9.avi");
        ::unlink(QFile::encodeName(m_clips.path()) + "/caf\xE9.mkv");
    }

    void init()
    {
        m_program.start(QByteArray(), ProgramFixture::Hidden);
        TFileAdder::OpenDialogRunner = nullptr;
    }

    void cleanup()
    {
        TFileAdder::OpenDialogRunner = nullptr;
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
        QTest::newRow("mp3") << "/v/clip.mp3" << true;
        QTest::newRow("wav") << "/v/clip.wav" << true;
        QTest::newRow("webm") << "/v/clip.webm" << true;
        QTest::newRow("camcorder mts") << "/v/00001.MTS" << true;
        QTest::newRow("transport stream") << "/v/rec.ts" << true;
        QTest::newRow("blu-ray m2ts") << "/v/00001.m2ts" << true;
        QTest::newRow("m4v") << "/v/film.m4v" << true;
        QTest::newRow("ogv") << "/v/film.ogv" << true;
        QTest::newRow("mpeg") << "/v/film.mpeg" << true;
        QTest::newRow("opus") << "/v/song.opus" << true;
        QTest::newRow("flac") << "/v/song.FLAC" << true;
        QTest::newRow("matroska sound") << "/v/song.mka" << true;
        QTest::newRow("text") << "/v/notes.txt" << false;
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
        QCOMPARE(IsListedMediaPath(path), accepted);
    }

    void sameFileTwiceGivesOneRowAndKeepsSelection()
    {
        fill({QStringLiteral("/v/a.avi"), QStringLiteral("/v/b.avi")});
        list()->selectRow(0);
        QVERIFY(!frmMain->AddFile(v("/v/../v/a.avi")));
        QCOMPARE(rows(), QStringList({"/v/a.avi", "/v/b.avi"}));
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
        QTest::newRow("the first entry shows videos") << 0 << "Video and sound files" << "CLIP.AVI" << true;
        QTest::newRow("the first entry shows sound files") << 0 << "Video and sound files" << "song.opus" << true;
        QTest::newRow("the first entry hides other types") << 0 << "Video and sound files" << "notes.txt" << false;
        QTest::newRow("videos, capitals") << 1 << "Video files" << "CLIP.AVI" << true;
        QTest::newRow("videos, web download") << 1 << "Video files" << "talk.webm" << true;
        QTest::newRow("videos, camcorder") << 1 << "Video files" << "00001.MTS" << true;
        QTest::newRow("videos, not sound") << 1 << "Video files" << "song.mp3" << false;
        QTest::newRow("avs is no longer offered") << 1 << "Video files" << "clip.avs" << false;
        QTest::newRow("sound") << 2 << "Sound files" << "song.FLAC" << true;
        QTest::newRow("sound, not video") << 2 << "Sound files" << "clip.avi" << false;
        QTest::newRow("all files without dot") << 3 << "All files" << "README" << true;
    }

    void openDialogFilters()
    {
        QFETCH(int, entry);
        QFETCH(QString, shownText);
        QFETCH(QString, fileName);
        QFETCH(bool, listed);
        const QStringList filters = OpenDialogNameFilters();
        QCOMPARE(filters.size(), 4);
        // The dialog hides the last group and shows what stands before it.
        const QString filter = filters.at(entry);
        QCOMPARE(filter.left(filter.lastIndexOf(QLatin1Char('('))).trimmed(), shownText);
        QCOMPARE(filterShows(filter, fileName), listed);
    }

    void openDialogFilterTexts()
    {
        // A language's descriptions go first; its patterns follow; a missing one stays English.
        const QStringList filters = OpenDialogNameFilters({"動画・音声ファイル", "動画ファイル", ""});
        QCOMPARE(filters.size(), 4);
        QVERIFY(filters.at(0).startsWith(QStringLiteral("動画・音声ファイル (")));
        QVERIFY(filterShows(filters.at(0), "clip.AVI"));
        QVERIFY(filters.at(1).startsWith(QStringLiteral("動画ファイル (")));
        QVERIFY(filters.at(2).startsWith(QStringLiteral("Sound files (")));
        QVERIFY(filters.at(3).startsWith(QStringLiteral("All files (")));
    }

    void openDialog()
    {
        int calls = 0;
        QString rememberedFilter;
        TFileAdder::OpenDialogRunner = [&](QFileDialog &dialog) -> QStringList {
            ++calls;
            [&] {
                QCOMPARE(dialog.windowTitle(), QStringLiteral("Open Video and Sound Files"));
                QCOMPARE(dialog.fileMode(), QFileDialog::ExistingFiles);
                QCOMPARE(dialog.nameFilters(), OpenDialogNameFilters());
            }();
            if (calls == 1) {
                [&] { QCOMPARE(dialog.selectedNameFilter(), QStringLiteral("Video and sound files")); }();
                dialog.selectNameFilter(OpenDialogNameFilters().at(2));
                return {v("/v/2.avi"), v("/v/1.mkv"), "/v/missing.avi", v("/v/3.MP4")};
            }
            rememberedFilter = dialog.selectedNameFilter();
            // It opens where the files picked last were.
            [&] { QCOMPARE(dialog.directory().absolutePath(), QDir::cleanPath(QFileInfo(v("/v/2.avi")).path())); }();
            if (calls == 2)
                return {};
            return {v("/v/4.avi"), "", v("/v/after-empty.avi")};
        };
        action("ActionFileAdd")->trigger();
        QCOMPARE(rows(), QStringList({"/v/2.avi", "/v/1.mkv", "/v/3.MP4"}));
        action("ActionFileAdd")->trigger(); // cancel
        QCOMPARE(rememberedFilter, QStringLiteral("Sound files"));
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
        const QString cafe = QString::fromUtf8("caf\u00e9.avi"); // 0xE9 on disk, shown as Latin-1 reads it

        // Name order without regard to case; subfolders depth first; hidden
        // folders and links are never searched, only offered as rows.
        QTest::newRow("all, with subfolders")
            << "" << true << "*"
            << QStringList{"A.MPG",          "b.avi",      "c.mp3", cafe, "movie.avi/inner.avi", "plainfolder/p.avi",
                           "sub/deep/d.mkv", "sub/s1.avi", "z.mkv"};
        // Folders are no files, whatever their names.
        QTest::newRow("empty extension means all")
            << "" << false << "" << QStringList{"A.MPG", "b.avi", "c.mp3", cafe, "z.mkv"};
        QTest::newRow("all, own files only")
            << "" << false << "*" << QStringList{"A.MPG", "b.avi", "c.mp3", cafe, "z.mkv"};
        QTest::newRow("avi searches every plain folder")
            << "" << true << "avi"
            << QStringList{"b.avi", cafe, "movie.avi/inner.avi", "plainfolder/p.avi", "sub/s1.avi"};
        QTest::newRow("extension in capitals")
            << "" << true << "AVI"
            << QStringList{"b.avi", cafe, "movie.avi/inner.avi", "plainfolder/p.avi", "sub/s1.avi"};
        QTest::newRow("avi, own files only") << "" << false << "avi" << QStringList{"b.avi", cafe};
        QTest::newRow("mpg matches capitals") << "" << false << "mpg" << QStringList{"A.MPG"};
        QTest::newRow("mp3 is a sound file") << "" << true << "mp3" << QStringList{"c.mp3"};
        QTest::newRow("txt passes the pattern, not the list") << "" << true << "txt" << QStringList{};
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

    // What an add leaves out is told once, when it is over: a file of no
    // listed type given by itself waits for its probe. "clip>name" copies a
    // clip under that name, "name/" makes a folder, "name|" a named pipe, a
    // path from "/" is taken as it is, anything else an empty file. "edited":
    // all but the last are picked, then the first row's path is edited to the last.
    void notAdded_data()
    {
        QTest::addColumn<QString>("how"); // "picked", "dropped", "folder" or "folder twice"
        QTest::addColumn<QStringList>("given");
        QTest::addColumn<QStringList>("kept");
        QTest::addColumn<QStringList>("told"); // the message's lines after its heading; none: no message
        QTest::newRow("sound in a file of no listed type")
            << "picked" << QStringList{"three.mkv>film.bin"} << QStringList{"film.bin"} << QStringList{};
        QTest::newRow("a video without sound") << "dropped" << QStringList{"silent.mkv>mute.bin", "a.avi"}
                                               << QStringList{"a.avi"} << QStringList{"mute.bin: no sound track"};
        QTest::newRow("no media at all") << "picked" << QStringList{"junk.avi>data.xyz"} << QStringList{}
                                         << QStringList{"data.xyz: not a video or sound file"};
        QTest::newRow("a listed type is taken untried")
            << "dropped" << QStringList{"silent.mkv>mute.mkv"} << QStringList{"mute.mkv"} << QStringList{};
        QTest::newRow("a folder named like a video")
            << "picked" << QStringList{"Holiday.avi/"} << QStringList{} << QStringList{"Holiday.avi: not a file"};
        QTest::newRow("a folder search passes over other types")
            << "folder" << QStringList{"a.avi", "notes.txt", "three.mkv>film.bin"} << QStringList{"a.avi"}
            << QStringList{};
        QTest::newRow("a folder added twice")
            << "folder twice" << QStringList{"a.avi", "b.mp3"} << QStringList{"a.avi", "b.mp3"}
            << QStringList{"a.avi: already in the list", "b.mp3: already in the list"};
        QStringList eleven, told;
        for (int i = 0; i < 11; ++i)
            eleven << QStringLiteral("%1.avi").arg(i + 10);
        for (int i = 0; i < 10; ++i)
            told << eleven[i] + ": already in the list";
        QTest::newRow("an edited path to a file is taken")
            << "edited" << QStringList{"a.avi", "c.avi"} << QStringList{"c.avi"} << QStringList{};
        QTest::newRow("an edited path to a device is refused")
            << "edited" << QStringList{"a.avi", "/dev/zero"} << QStringList{"a.avi"} << QStringList{"zero: not a file"};
        QTest::newRow("an edited path to a named pipe is refused")
            << "edited" << QStringList{"a.avi", "pipe.mp3|"} << QStringList{"a.avi"}
            << QStringList{"pipe.mp3: not a file"};
        QTest::newRow("an edited path already queued is refused")
            << "edited" << QStringList{"a.avi", "b.avi", "b.avi"} << QStringList{"a.avi", "b.avi"}
            << QStringList{"b.avi: already in the list"};
        QTest::newRow("an edited path of no listed type is tried")
            << "edited" << QStringList{"a.avi", "junk.avi>data.xyz"} << QStringList{}
            << QStringList{"data.xyz: not a video or sound file"};
        QTest::newRow("ten named, the rest counted")
            << "folder twice" << eleven << eleven << told + QStringList{"... and 1 more"};
        QStringList junk, junkTold;
        for (int i = 0; i < 12; ++i)
            junk << QStringLiteral("junk.avi>data%1.xyz").arg(i + 10);
        for (int i = 0; i < 10; ++i)
            junkTold << QStringLiteral("data%1.xyz: not a video or sound file").arg(i + 10);
        QTest::newRow("ten tried in vain named, the rest counted")
            << "picked" << junk << QStringList{} << junkTold + QStringList{"... and 2 more"};
        QStringList mixed{"Holiday.avi/"};
        mixed += junk;
        QTest::newRow("refused at once and tried in vain, in one message")
            << "picked" << mixed << QStringList{}
            << QStringList{"Holiday.avi: not a file"} + junkTold.mid(0, 9) + QStringList{"... and 3 more"};
    }

    void notAdded()
    {
        QFETCH(QString, how);
        QFETCH(QStringList, given);
        QFETCH(QStringList, kept);
        QFETCH(QStringList, told);
        startWithEncoder(QByteArray());
        QTemporaryDir folder;
        QStringList paths;
        for (const QString &entry : given) {
            const QString name = entry.section('>', -1);
            const bool pipe = name.endsWith('|');
            paths << (name.startsWith('/') ? name : folder.filePath(name.chopped(name.endsWith('/') || pipe ? 1 : 0)));
            if (name.startsWith('/') || QFileInfo::exists(paths.last()))
                continue;
            if (entry.contains('>'))
                QVERIFY(QFile::copy(clip(entry.section('>', 0, 0)), paths.last()));
            else if (name.endsWith('/'))
                QVERIFY(QDir().mkpath(paths.last()));
            else if (pipe)
                QCOMPARE(::mkfifo(QFile::encodeName(paths.last()).constData(), 0600), 0);
            else
                touch(paths.last());
        }
        TFileAdder::OpenDialogRunner = [&](QFileDialog &) {
            return how == "edited" ? paths.mid(0, paths.size() - 1) : paths;
        };
        if (how == "picked" || how == "edited")
            action("ActionFileAdd")->trigger();
        if (how == "edited")
            list()->model()->setData(list()->model()->index(0, 0), paths.last());
        else if (how == "dropped")
            frmMain->AddPaths(paths);
        for (int times = how == "folder twice" ? 2 : how == "folder" ? 1 : 0; times > 0; --times)
            frmMain->AddFolder(folder.path(), false, "*");
        const auto box = [] { return frmMain->findChild<QMessageBox *>(QStringLiteral("msgNotAddedBox")); };
        QTRY_VERIFY_WITH_TIMEOUT(frmMain->OnTrialCount() == 0, 120000);
        QStringList names;
        for (const QString &row : rows())
            names << QFileInfo(row).fileName();
        QCOMPARE(names, kept);
        QCOMPARE(box() ? box()->text().split('\n').mid(1) : QStringList{}, told);
        if (box())
            QCOMPARE(box()->text().section('\n', 0, 0), frmMain->Texts().msgNotAdded);
    }

    void addFolderLetsTheWindowWork()
    {
        // Events are handled between entries: a command given meanwhile runs
        // inside the search and the search goes on afterwards.
        const QScopedValueRollback everyEntry(TFileAdder::SearchYieldIntervalMs, 0);
        int rowsWhenTimerRan = -1;
        QTimer::singleShot(0, this, [&] {
            rowsWhenTimerRan = queueRows();
            frmMain->AddFile(v("meanwhile.avi"));
        });
        frmMain->AddFolder(tree(QStringLiteral("sub")), true, QStringLiteral("*"));
        QCOMPARE(rowsWhenTimerRan, 1);
        QCOMPARE(rows(), QStringList({tree(QStringLiteral("sub/deep/d.mkv")), QStringLiteral("meanwhile.avi"),
                                      tree(QStringLiteral("sub/s1.avi"))}));
    }

    void longSearchHandlesEventsOnTheWay()
    {
        // The window gets its turn while a long search goes on, and sees the
        // rows found so far. The search yields at every entry here, so that
        // the turn comes however fast the machine is.
        const QScopedValueRollback everyEntry(TFileAdder::SearchYieldIntervalMs, 0);
        QTemporaryDir big;
        for (int i = 0; i < 20000; ++i)
            touch(big.filePath(QStringLiteral("clip%1.avi").arg(i, 5, 10, QLatin1Char('0'))));
        frmMain->show();
        QVERIFY(QTest::qWaitForWindowExposed(frmMain));
        QList<int> rowsSeen;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] { rowsSeen << queueRows(); });
        ticker.start(0);
        frmMain->AddFolder(big.path(), false, QStringLiteral("*"));
        ticker.stop();
        QCOMPARE(queueRows(), 20000);
        QVERIFY(!rowsSeen.isEmpty());
        QVERIFY(rowsSeen.first() > 0 && rowsSeen.first() < 20000);
    }

    void closingTheWindowEndsTheSearch()
    {
        const QScopedValueRollback everyEntry(TFileAdder::SearchYieldIntervalMs, 0);
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
        const QScopedValueRollback everyEntry(TFileAdder::SearchYieldIntervalMs, 0);
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
            << QStringList{"@/plainfolder", "@/A.MPG", "c.mp3"} << QStringList{"plainfolder/p.avi", "A.MPG", "c.mp3"};
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
        touch(tree("-clip.avi"));
        frmMain->AddPaths(ParseCommandLine(arguments, tree()).Paths);
        QFile::remove(tree("-clip.avi"));
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
        frmMain->AddFile(v("/v/already.avi"));
        list()->setEnabled(!duringRun);

        const QString longName = "/v/" + QString(100, 'x') + '/' + QString(100, 'y') + '/' + QString(100, 'z') + ".avi";
        const QString longPath = v(longName);
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
                              tree(QStringLiteral("sub/s1.avi")), tree(QStringLiteral("movie.avi/inner.avi")), longName,
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
        TFileAdder::OpenDialogRunner = [this](QFileDialog &) { return QStringList{v("/v/new.avi")}; };
        // A stand-in encoder that fails every file: the run ends in its end message at once.
        if (effect == "converted")
            installEncoder(m_program.folder().path(), "exit 1");
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
            QTRY_COMPARE_WITH_TIMEOUT(answers.seenNames(), QStringList{"msgFinishInfo"}, 120000);
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
        QTest::newRow("empty queue asks nothing") << 0 << QMessageBox::NoButton << 0;
    }

    void clearAll()
    {
        QFETCH(int, rowCount);
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(int, rowsAfter);
        for (int i = 0; i < rowCount; ++i)
            frmMain->AddFile(v(QStringLiteral("/v/%1.avi").arg(i)));
        TWindowTexts texts = frmMain->Texts();
        texts.msgClearAll = QStringLiteral("Remove all files from the list?");
        frmMain->SetTexts(texts);
        SetApplicationTitle(QStringLiteral("Tolvane title"));

        QString text, caption;
        QMessageBox::Icon icon = QMessageBox::Critical;
        QWidget *owner = nullptr;
        ModalAnswerer answers;
        if (answer == QMessageBox::NoButton) {
            action("ActionFileClearAll")->trigger();
            QVERIFY(answers.unexpected.isEmpty());
            QCOMPARE(queueRows(), rowsAfter);
            return;
        }
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
        QCOMPARE(text, frmMain->Texts().msgClearAll);
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
                                     "popMenuAudioTrack", "popMenuShowInFolder"}));

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
        TFileAdder::OpenDialogRunner = [&](QFileDialog &) -> QStringList {
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
        TWindowTexts texts = frmMain->Texts();
        texts.msgNoAudioTracks = QStringLiteral("No audio tracks found");
        frmMain->SetTexts(texts);
        trackMenu()->setTitle(QStringLiteral("Audio track"));
        frmMain->findChild<QAction *>(QStringLiteral("popMenuAudioTrackAutomatic"))->setText("Automatic");
        fill({"first.avi", clip(file)});
        QTRY_VERIFY_WITH_TIMEOUT(frmMain->Queue()->At(1).Facts.Known, 120000);
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
        list()->model()->setData(list()->model()->index(0, 0), clip("silent.mkv"));
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
        QTest::addColumn<QByteArray>("name"); // the source's name on disk, a copy of three.mkv
        QTest::newRow("chosen in the menu") << 3 << QByteArray("fre") << "0:a:1" << "three.ac3" << QByteArray();
        QTest::newRow("preferred language") << -1 << QByteArray("French") << "0:a:2" << "three.flac" << QByteArray();
        QTest::newRow("default track") << -1 << QByteArray() << "0:a:0" << "three.m4a" << QByteArray();
        // Byte 0xE9 alone, as an old camera writes "é": Qt reads it as U+FFFD.
        QTest::newRow("a name that is no UTF-8")
            << -1 << QByteArray() << "0:a:0" << QString::fromUtf8("caf\u00e9.m4a") << QByteArray("caf\xE9.mkv");
    }

    void audioTrackReachesTheRun()
    {
        QFETCH(int, menuLine);
        QFETCH(QByteArray, preferred);
        QFETCH(QString, map);
        QFETCH(QString, output);
        QFETCH(QByteArray, name);
        startWithEncoder("format=copy\npreferredAudioLanguage=" + preferred + "\n");
        QDir(clip("out")).removeRecursively();
        QVERIFY(QDir().mkpath(clip("out")));
        if (!name.isEmpty())
            QVERIFY(::symlink("three.mkv", QFile::encodeName(m_clips.path()) + '/' + name) == 0 || errno == EEXIST);
        // The name as Qt gives it, its 0xE9 lost to U+FFFD: the queue finds the file again.
        fill({name.isEmpty() ? clip("three.mkv") : QFile::decodeName(QFile::encodeName(m_clips.path()) + '/' + name)});
        QTRY_VERIFY_WITH_TIMEOUT(frmMain->Queue()->At(0).Facts.Known, 120000);
        list()->selectRow(0);
        if (menuLine >= 0) {
            openTrackMenu();
            chooseTrack(menuLine);
        }
        ModalAnswerer answers;
        answers.expect(ModalAnswerer::messageBox(QMessageBox::No));
        action("ActionConvertNow")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(answers.allUsed(), 120000);
        QFile arguments(clip("arguments"));
        QVERIFY(arguments.open(QIODevice::ReadOnly));
        const QString run = QString::fromUtf8(arguments.readAll()).split('\n').filter("-i ").value(0);
        QVERIFY2(run.contains("-map " + map + ' '), qPrintable(run));
        QCOMPARE(QDir(clip("out")).entryList(QDir::Files), QStringList{output});
    }

    void rowsAreEditedInPlace()
    {
        frmMain->AddFile(v("/v/a.avi"));
        QVERIFY(list()->model()->flags(list()->model()->index(0, 0)) & Qt::ItemIsEditable);
        QVERIFY(list()->editTriggers() & QAbstractItemView::DoubleClicked);
    }
};

QTEST_MAIN(TestFileQueue)
#include "tst_filequeue.moc"
