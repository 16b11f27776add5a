#include "app/MainWindow.h"
#include "common/IniFile.h"
#include "dialogs/DirectoryChooser.h"
#include "dialogs/FolderPlaces.h"
#include "gui/CommonServices.h"
#include "support/FindControl.h"
#include "support/FolderTreeDriver.h"
#include "support/ModalAnswerer.h"
#include "support/ProgramFixture.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestDirectoryChooser : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    ProgramFixture m_program;

    QTreeView *tree() { return FindControl<QTreeView>(FrmDirectory, "ShellTreeView1"); }
    QString desktop(const QString &relative = QString()) const
    {
        const QString folder = m_home.filePath(QStringLiteral("Desktop"));
        return relative.isEmpty() ? folder : folder + QLatin1Char('/') + relative;
    }

    QString outputField() { return frmMain->findChild<QLineEdit *>(QStringLiteral("editOutputFolder"))->text(); }
    QString storedFolder()
    {
        return TIniFile(frmCommon->ConfigFile)
            .ReadString(QStringLiteral("setting"), QStringLiteral("outputFolder"), QStringLiteral("<none>"));
    }

    // Opens the chooser through the main window's action and lets answer act
    // on it; returns when the modal wait has ended.
    void choose(const std::function<void(TFrmDirectory *)> &answer)
    {
        ModalAnswerer answers;
        answers.expect([answer](QWidget *modal) {
            auto *dialog = qobject_cast<TFrmDirectory *>(modal);
            QVERIFY(dialog);
            answer(dialog);
        });
        frmMain->findChild<QAction *>(QStringLiteral("ActionSetDirectory"))->trigger();
        QVERIFY(answers.allUsed());
        QVERIFY(answers.unexpected.isEmpty());
        QVERIFY(!FrmDirectory->isVisible());
    }

    void start(bool show = true)
    {
        m_program.start(QByteArray(), show ? ProgramFixture::Shown : ProgramFixture::Hidden);
    }

private slots:
    void initTestCase()
    {
        // The desktop is looked up below $HOME, so the tests bring their own.
        qputenv("HOME", m_home.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral(".config")).toLocal8Bit());
        QApplication::setQuitOnLastWindowClosed(false);
        QVERIFY(QDir(desktop()).mkpath(QStringLiteral("out/mp3")));
        QVERIFY(QDir(desktop()).mkpath(QStringLiteral("other")));
    }

    void cleanup()
    {
        const QStringList errors = m_program.stop();
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    }

    void formAndDefaults()
    {
        // As the form is made, before the language file has its say.
        start(false);
        QCOMPARE(FrmDirectory->objectName(), QStringLiteral("FrmDirectory"));
        QCOMPARE(FrmDirectory->parentWidget(), frmMain);
        QCOMPARE(FrmDirectory->windowTitle(), QStringLiteral("Choose a directory"));
        QCOMPARE(FrmDirectory->minimumSize(), QSize(401, 306));
        QCOMPARE(FrmDirectory->maximumSize(), QSize(401, 306));
        QCOMPARE(FindControl<QLabel>(FrmDirectory, "LabelDirectory")->text(), QStringLiteral("Directory"));
        QCOMPARE(FindControl<QPushButton>(FrmDirectory, "ButtonOK")->text(), QStringLiteral("&OK"));
        QCOMPARE(FindControl<QPushButton>(FrmDirectory, "ButtonCancel")->text(), QStringLiteral("&Cancel"));
        QVERIFY(FrmDirectory->chosenFolder.isEmpty());
    }

    void places_data()
    {
        QTest::addColumn<QStringList>("userFolders"); // desktop, music, videos below home; "" when missing
        QTest::addColumn<QStringList>("expected");    // caption=path, "~" for home
        const QStringList usual{"~/Desktop", "~/Music", "~/Videos"};
        const QStringList drives{"USB STICK=/media/ann/USB STICK", "backup=/mnt/backup", "Disk=/run/media/ann/Disk"};
        QTest::newRow("every place") << usual
                                     << QStringList{"Home=~", "Desktop=~/Desktop", "Music=~/Music", "Videos=~/Videos",
                                                    "File system=/"}
                                            + drives;
        QTest::newRow("desktop is home, no videos") << QStringList{"~", "~/Music", "~/Gone"}
                                                    << QStringList{"Home=~", "Music=~/Music", "File system=/"} + drives;
        QTest::newRow("no user folders") << QStringList{"", "", ""} << QStringList{"Home=~", "File system=/"} + drives;
    }

    void places()
    {
        QFETCH(QStringList, userFolders);
        QFETCH(QStringList, expected);
        for (const char *folder : {"Music", "Videos"})
            QVERIFY(QDir(m_home.path()).mkpath(QLatin1String(folder)));
        const auto inHome = [this](QString text) { return text.replace(QLatin1Char('~'), m_home.path()); };
        PlaceCaptions() = TPlaceCaptions(); // the captions the language file gives
        TPlaceSources sources;
        sources.home = m_home.path();
        sources.desktop = inHome(userFolders[0]);
        sources.music = inHome(userFolders[1]);
        sources.videos = inHome(userFolders[2]);
        sources.userName = QStringLiteral("ann");
        // Only what a file manager shows as a drive stays.
        sources.volumes = {{"/", "ext4", ""},
                           {"/proc", "proc", ""},
                           {"/run/user/1000", "tmpfs", ""},
                           {"/mnt/backup/", "ext4", ""},
                           {"/mnt/ram", "tmpfs", ""},
                           {"/run/media/bob/Other", "ext4", "Other"},
                           {"/run/media/ann/Disk", "ext4", ""},
                           {"/media/ann/USB STICK", "vfat", "USB STICK"},
                           {"/boot", "ext4", ""},
                           {"/snap/core/1", "squashfs", ""}};
        QStringList shown;
        for (const TPlace &place : PlacesOf(sources))
            shown << CaptionOf(place) + QLatin1Char('=') + place.path;
        QStringList wanted;
        for (const QString &entry : expected)
            wanted << inHome(entry);
        QCOMPARE(shown, wanted);
    }

    void opensAtTheOutputFolder_data()
    {
        QTest::addColumn<QString>("outputFolder"); // "~" for home; empty: none stored
        QTest::addColumn<QString>("opensAt");
        QTest::newRow("deep folder") << "~/Desktop/out/mp3" << "~/Desktop/out/mp3";
        QTest::newRow("default: the music folder") << "" << "~/Music";
        QTest::newRow("hidden folder") << "~/.cache/out" << "~/.cache/out";
        QTest::newRow("missing folder: nearest parent") << "~/Desktop/out/gone/deeper" << "~/Desktop/out";
        QTest::newRow("file system") << "/" << "/";
        QTest::newRow("no path: first place") << "C:\\" << "~";
    }

    void opensAtTheOutputFolder()
    {
        QFETCH(QString, outputFolder);
        QFETCH(QString, opensAt);
        QVERIFY(QDir(m_home.path()).mkpath(QStringLiteral("Music")));
        QVERIFY(QDir(m_home.path()).mkpath(QStringLiteral(".cache/out")));
        // Enough folders beside the way down that the tree must scroll.
        for (int i = 0; i < 30; ++i)
            QVERIFY(QDir(desktop()).mkpath(QStringLiteral("filler%1").arg(i, 2, 10, QLatin1Char('0'))));
        outputFolder.replace(QLatin1Char('~'), m_home.path());
        opensAt.replace(QLatin1Char('~'), m_home.path());
        m_program.start(outputFolder.isEmpty() ? QByteArray()
                                               : "[setting]\noutputFolder=" + outputFolder.toUtf8() + "\n");
        QString selected;
        QStringList top;
        bool inView = false;
        choose([&](TFrmDirectory *) {
            top = TopFolders(tree());
            selected = SelectedFolder(tree());
            const QRect shown = tree()->visualRect(tree()->currentIndex());
            inView = tree()->viewport()->rect().contains(shown.center());
            FindControl<QPushButton>(FrmDirectory, "ButtonOK")->click();
        });
        QCOMPARE(top.mid(0, 3), QStringList({m_home.path(), desktop(), m_home.filePath("Music")}));
        QVERIFY(top.contains("/"));
        QCOMPARE(selected, opensAt);
        QVERIFY(inView);
        QCOMPARE(outputField(), opensAt);
    }

    void chosenFolderReachesConfigAndIsShownAgain_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("on the desktop") << "~/Desktop/out/mp3";
        QTest::newRow("the music place") << "~/Music";
        QTest::newRow("the file system") << "/";
        QTest::newRow("outside home") << "@";
    }

    void chosenFolderReachesConfigAndIsShownAgain()
    {
        QFETCH(QString, folder);
        QTemporaryDir outside;
        QVERIFY(QDir(m_home.path()).mkpath(QStringLiteral("Music")));
        folder.replace(QLatin1Char('~'), m_home.path()).replace(QLatin1Char('@'), outside.path());
        start();
        choose([&](TFrmDirectory *) {
            QVERIFY(ClickFolder(tree(), folder));
            FindControl<QPushButton>(FrmDirectory, "ButtonOK")->click();
        });
        QCOMPARE(outputField(), folder);
        QCOMPARE(storedFolder(), folder);

        QString shownAgain;
        choose([&](TFrmDirectory *) {
            shownAgain = SelectedFolder(tree());
            FindControl<QPushButton>(FrmDirectory, "ButtonOK")->click();
        });
        QCOMPARE(shownAgain, folder);
    }

    void leavingChangesNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("forgetsChoice");
        QTest::newRow("Cancel") << "cancel" << true;
        QTest::newRow("Escape") << "escape" << true;
        QTest::newRow("title bar") << "close" << false;
    }

    void leavingChangesNothing()
    {
        QFETCH(QString, how);
        QFETCH(bool, forgetsChoice);
        start();
        choose([&](TFrmDirectory *) {
            QVERIFY(ClickFolder(tree(), desktop("out")));
            FindControl<QPushButton>(FrmDirectory, "ButtonOK")->click();
        });
        const QByteArray configBefore = [&] {
            QFile file(frmCommon->ConfigFile);
            file.open(QIODevice::ReadOnly);
            return file.readAll();
        }();

        choose([&](TFrmDirectory *dialog) {
            QVERIFY(ClickFolder(tree(), desktop("other")));
            if (how == QLatin1String("cancel"))
                FindControl<QPushButton>(FrmDirectory, "ButtonCancel")->click();
            else if (how == QLatin1String("escape"))
                QTest::keyClick(dialog, Qt::Key_Escape);
            else
                dialog->close();
        });
        QCOMPARE(outputField(), desktop("out"));
        QFile config(frmCommon->ConfigFile);
        QVERIFY(config.open(QIODevice::ReadOnly));
        QCOMPARE(config.readAll(), configBefore);
        QCOMPARE(FrmDirectory->chosenFolder, forgetsChoice ? QString() : desktop("out"));

        // The chooser opens at the output folder again; the next OK works as usual.
        choose([&](TFrmDirectory *) {
            QCOMPARE(SelectedFolder(tree()), desktop("out"));
            QVERIFY(ClickFolder(tree(), desktop("other")));
            FindControl<QPushButton>(FrmDirectory, "ButtonOK")->click();
        });
        QCOMPARE(outputField(), desktop("other"));
        QCOMPARE(storedFolder(), desktop("other"));
    }
};

QTEST_MAIN(TestDirectoryChooser)
#include "tst_directorychooser.moc"
