#include "app/FileAdder.h"
#include "app/MainWindow.h"
#include "common/IniFile.h"
#include "dialogs/BatchAddDialog.h"
#include "dialogs/FolderPlaces.h"
#include "gui/CommonServices.h"
#include "support/FindControl.h"
#include "support/FolderTreeDriver.h"
#include "support/ProgramFixture.h"
#include "support/QueueView.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TestBatchAdd : public QObject
{
    Q_OBJECT

private:
    ProgramFixture m_program;
    QTemporaryDir m_videos;
    QTemporaryDir m_home;
    bool m_haveVideos = true;

    QTreeView *tree() { return FindControl<QTreeView>(FrmBatchAdd, "ShellTreeView"); }
    QString videos(const QString &relative = QString()) const
    {
        return relative.isEmpty() ? m_videos.path() : m_videos.filePath(relative);
    }

    QStringList queue() { return queuedFiles(); }

    void open()
    {
        if (!frmMain->isVisible()) {
            frmMain->show();
            QVERIFY(QTest::qWaitForWindowExposed(frmMain));
        }
        frmMain->findChild<QAction *>(QStringLiteral("ActionFileBatchAdd"))->trigger();
        QVERIFY(QTest::qWaitForWindowExposed(FrmBatchAdd));
    }

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        // A home of our own whose videos folder holds the test's files.
        SetPlaceSourcesProvider([this] {
            TPlaceSources sources;
            sources.home = m_home.path();
            sources.videos = m_haveVideos ? videos() : QString();
            return sources;
        });
        QVERIFY(QDir(videos()).mkpath(QStringLiteral("season/extra")));
        for (const char *name :
             {"a.avi", "b.MKV", "c.mp3", "season/s1.avi", "season/extra/x.mp4", "lib.a", "season/x.d"}) {
            QFile file(videos(QLatin1String(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }

    void init() { m_program.start(QByteArray(), ProgramFixture::Hidden); }

    void cleanup()
    {
        const QStringList errors = m_program.stop();
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    }

    void formAndDefaults()
    {
        // As the form is made, before the language file has its say.
        QVERIFY(FrmBatchAdd);
        QCOMPARE(FrmBatchAdd->objectName(), QStringLiteral("FrmBatchAdd"));
        QCOMPARE(FrmBatchAdd->parentWidget(), frmMain);
        QCOMPARE(FrmBatchAdd->windowTitle(), QStringLiteral("Add Files"));
        QCOMPARE(FrmBatchAdd->minimumSize(), QSize(402, 271));
        QCOMPARE(FrmBatchAdd->maximumSize(), QSize(402, 271));
        QCOMPARE(FindControl<QLabel>(FrmBatchAdd, "labelDirectory")->text(), QStringLiteral("Directory"));
        QCOMPARE(FindControl<QCheckBox>(FrmBatchAdd, "checkBoxIsSubDirectorie")->text(),
                 QStringLiteral("Include Sub Directorie"));
        QVERIFY(!FindControl<QCheckBox>(FrmBatchAdd, "checkBoxIsSubDirectorie")->isChecked());
        QCOMPARE(FindControl<QLineEdit>(FrmBatchAdd, "editExt")->text(), QStringLiteral("*"));
        QVERIFY(FindControl<QLabel>(FrmBatchAdd, "labelFileNameExt"));
        QVERIFY(FindControl<QLabel>(FrmBatchAdd, "labelNoticeFileNameExt"));
        QCOMPARE(FindControl<QPushButton>(FrmBatchAdd, "buttonOK")->text(), QStringLiteral("&OK"));
        QCOMPARE(FindControl<QPushButton>(FrmBatchAdd, "buttonCancel")->text(), QStringLiteral("&Cancel"));
        QVERIFY(!FrmBatchAdd->isVisible());
    }

    void cleanupTestCase() { SetPlaceSourcesProvider(nullptr); }

    void firstShowSelectsTheVideos_data()
    {
        QTest::addColumn<bool>("haveVideos");
        QTest::addColumn<QString>("lastAdd"); // config.ini's folder added from last
        QTest::newRow("videos folder") << true << "";
        QTest::newRow("no videos folder: home") << false << "";
        QTest::newRow("the folder added from last") << true << "season";
        QTest::newRow("a last folder that is gone") << false << "gone";
    }

    void firstShowSelectsTheVideos()
    {
        QFETCH(bool, haveVideos);
        QFETCH(QString, lastAdd);
        const QScopedValueRollback videosFolder(m_haveVideos, haveVideos);
        if (!lastAdd.isEmpty())
            TIniFile(frmCommon->ConfigFile).WriteString("setting", "lastAddFolder", videos(lastAdd));
        const QString start = QFileInfo(videos(lastAdd)).isDir() && !lastAdd.isEmpty() ? videos(lastAdd)
                              : haveVideos                                             ? videos()
                                                                                       : m_home.path();
        open();
        QCOMPARE(FrmBatchAdd->size(), QSize(402, 271));
        QCOMPARE(FindControl<QLineEdit>(FrmBatchAdd, "editExt")->width(), 35);
        // Modeless: the main window stays usable.
        QVERIFY(!FrmBatchAdd->isModal());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        // The places on top, then folders only below them.
        QStringList places{m_home.path(), videos(), QStringLiteral("/")};
        if (!haveVideos)
            places.removeAt(1);
        QCOMPARE(TopFolders(tree()), places);
        QCOMPARE(SelectedFolder(tree()), start);
        const QModelIndex root = tree()->model()->index(places.indexOf("/"), 0);
        tree()->expand(root);
        QVERIFY(tree()->model()->rowCount(root) > 0);
        for (int row = 0; row < tree()->model()->rowCount(root); ++row)
            QVERIFY(QFileInfo(FolderOfNode(tree()->model()->index(row, 0, root))).isDir());

        QSignalSpy requests(FrmBatchAdd, &TFrmBatchAdd::AddFolderRequested);
        FindControl<QPushButton>(FrmBatchAdd, "buttonOK")->click();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first(), QVariantList({start, false, QStringLiteral("*")}));
    }

    void okWithNothingSelectedAddsNothing()
    {
        open();
        tree()->selectionModel()->clear();
        QSignalSpy requests(FrmBatchAdd, &TFrmBatchAdd::AddFolderRequested);
        FindControl<QPushButton>(FrmBatchAdd, "buttonOK")->click();
        QVERIFY(!FrmBatchAdd->isVisible());
        QCOMPARE(requests.size(), 0);
        QVERIFY(queue().isEmpty());
    }

    void okSearchesTheChosenFolder_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<bool>("includeSubfolders");
        QTest::addColumn<QString>("searchedFor");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("all, own files") << "*" << false << "*" << QStringList{"a.avi", "b.MKV", "c.mp3"};
        QTest::newRow("all, with subfolders")
            << "*" << true << "*" << QStringList{"a.avi", "b.MKV", "c.mp3", "season/extra/x.mp4", "season/s1.avi"};
        QTest::newRow("blanks around avi, subfolders searched")
            << " \tavi  " << true << "avi" << QStringList{"a.avi", "season/s1.avi"};
        QTest::newRow("control characters around avi") << "\x01"
                                                          "avi\r\n"
                                                       << true << "avi" << QStringList{"a.avi", "season/s1.avi"};
        QTest::newRow("empty means all") << "" << false << "" << QStringList{"a.avi", "b.MKV", "c.mp3"};
        QTest::newRow("blank means all") << "   " << false << "" << QStringList{"a.avi", "b.MKV", "c.mp3"};
        QTest::newRow("mkv in capitals") << "MKV" << false << "MKV" << QStringList{"b.MKV"};
        QTest::newRow("mp3 is a sound file") << "mp3" << true << "mp3" << QStringList{"c.mp3"};
        QTest::newRow("other types add nothing") << "a" << true << "a" << QStringList{};
    }

    void okSearchesTheChosenFolder()
    {
        QFETCH(QString, extension);
        QFETCH(bool, includeSubfolders);
        QFETCH(QString, searchedFor);
        QFETCH(QStringList, expected);
        open();
        QVERIFY(ClickFolder(tree(), videos()));
        QCOMPARE(SelectedFolder(tree()), videos());
        FindControl<QLineEdit>(FrmBatchAdd, "editExt")->setText(extension);
        FindControl<QCheckBox>(FrmBatchAdd, "checkBoxIsSubDirectorie")->setChecked(includeSubfolders);

        QSignalSpy requests(FrmBatchAdd, &TFrmBatchAdd::AddFolderRequested);
        FindControl<QPushButton>(FrmBatchAdd, "buttonOK")->click();
        QCOMPARE(requests.first(), QVariantList({videos(), includeSubfolders, searchedFor}));
        QStringList paths;
        for (const QString &relative : expected)
            paths << videos(relative);
        QCOMPARE(queue(), paths);
    }

    void dialogIsGoneBeforeRowsArrive()
    {
        const QScopedValueRollback everyEntry(TFileAdder::SearchYieldIntervalMs, 0);
        open();
        QVERIFY(ClickFolder(tree(), videos()));
        bool visibleDuringSearch = true;
        int rowsDuringSearch = -1;
        QTimer::singleShot(0, this, [&] {
            visibleDuringSearch = FrmBatchAdd->isVisible();
            rowsDuringSearch = queue().size();
        });
        FindControl<QPushButton>(FrmBatchAdd, "buttonOK")->click();
        QVERIFY(!visibleDuringSearch);
        QCOMPARE(rowsDuringSearch, 1);
        QCOMPARE(queue().size(), 3);
    }

    void confirmingTwiceAddsOnce()
    {
        open();
        QVERIFY(ClickFolder(tree(), videos()));
        FindControl<QPushButton>(FrmBatchAdd, "buttonOK")->click();
        open();
        FindControl<QPushButton>(FrmBatchAdd, "buttonOK")->click();
        QCOMPARE(queue(), QStringList({videos("a.avi"), videos("b.MKV"), videos("c.mp3")}));
    }

    void closingKeepsTheChoices_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Cancel") << "cancel";
        QTest::newRow("Escape") << "escape";
        QTest::newRow("title bar") << "close";
    }

    void closingKeepsTheChoices()
    {
        QFETCH(QString, how);
        open();
        QVERIFY(ClickFolder(tree(), videos("season")));
        FindControl<QLineEdit>(FrmBatchAdd, "editExt")->setText(QStringLiteral("avi"));
        FindControl<QCheckBox>(FrmBatchAdd, "checkBoxIsSubDirectorie")->setChecked(true);
        QSignalSpy requests(FrmBatchAdd, &TFrmBatchAdd::AddFolderRequested);
        if (how == QLatin1String("cancel"))
            FindControl<QPushButton>(FrmBatchAdd, "buttonCancel")->click();
        else if (how == QLatin1String("escape"))
            QTest::keyClick(FrmBatchAdd, Qt::Key_Escape);
        else
            FrmBatchAdd->close();
        QVERIFY(!FrmBatchAdd->isVisible());
        QCOMPARE(requests.size(), 0);
        QVERIFY(queue().isEmpty());

        open();
        QCOMPARE(SelectedFolder(tree()), videos("season"));
        QCOMPARE(FindControl<QLineEdit>(FrmBatchAdd, "editExt")->text(), QStringLiteral("avi"));
        QVERIFY(FindControl<QCheckBox>(FrmBatchAdd, "checkBoxIsSubDirectorie")->isChecked());
        FindControl<QPushButton>(FrmBatchAdd, "buttonOK")->click();
        QCOMPARE(queue(), QStringList{videos("season/s1.avi")});
    }

    void rightClickSelectsTheFolder()
    {
        open();
        QVERIFY(ClickFolder(tree(), videos("season"), Qt::RightButton));
        QCOMPARE(SelectedFolder(tree()), videos("season"));
    }

    void openDialogStillAddsDuringARun()
    {
        open();
        QVERIFY(ClickFolder(tree(), videos()));
        // What a run disables on the queue's side.
        queueView()->setEnabled(false);
        frmMain->findChild<QAction *>(QStringLiteral("ActionFileBatchAdd"))->setEnabled(false);
        frmMain->AddFile(videos("season/s1.avi"));
        FindControl<QPushButton>(FrmBatchAdd, "buttonOK")->click();
        QCOMPARE(queue(), QStringList({videos("season/s1.avi"), videos("a.avi"), videos("b.MKV"), videos("c.mp3")}));
    }
};

QTEST_MAIN(TestBatchAdd)
#include "tst_batchadd.moc"
