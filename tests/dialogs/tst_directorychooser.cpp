#include "FindControl.h"
#include "FolderTreeDriver.h"
#include "IniFile.h"
#include "ModalAnswerer.h"
#include "ProgramFixture.h"
#include "UnitMain.h"
#include "Unit_common.h"
#include "Unit_common_directory.h"

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

    void okWithoutTouchingGivesTheTopFolder_data()
    {
        QTest::addColumn<bool>("haveDesktop");
        QTest::newRow("desktop folder") << true;
        QTest::newRow("no desktop: home") << false;
    }

    void okWithoutTouchingGivesTheTopFolder()
    {
        QFETCH(bool, haveDesktop);
        const QString hidden = m_home.filePath(QStringLiteral("Desktop-away"));
        if (!haveDesktop)
            QVERIFY(QDir().rename(desktop(), hidden));
        start();
        const QString expected = haveDesktop ? desktop() : m_home.path();
        QString top;
        bool modal = false;
        choose([&](TFrmDirectory *dialog) {
            modal = dialog->isModal();
            top = FolderOfNode(TopNode(tree()));
            QCOMPARE(tree()->model()->rowCount(tree()->rootIndex()), 1);
            dialog->findChild<QPushButton *>(QStringLiteral("ButtonOK"))->click();
        });
        if (!haveDesktop)
            QVERIFY(QDir().rename(hidden, desktop()));
        QVERIFY(modal);
        QCOMPARE(top, expected);
        QCOMPARE(FrmDirectory->chosenFolder, expected);
        QCOMPARE(outputField(), expected);
        QCOMPARE(storedFolder(), expected);
    }

    void chosenFolderReachesConfigAndIsShownAgain()
    {
        start();
        choose([&](TFrmDirectory *) {
            QVERIFY(ClickFolder(tree(), desktop("out/mp3")));
            FindControl<QPushButton>(FrmDirectory, "ButtonOK")->click();
        });
        QCOMPARE(outputField(), desktop("out/mp3"));
        QCOMPARE(storedFolder(), desktop("out/mp3"));

        QString shownAgain;
        choose([&](TFrmDirectory *) {
            shownAgain = SelectedFolder(tree());
            FindControl<QPushButton>(FrmDirectory, "ButtonOK")->click();
        });
        QCOMPARE(shownAgain, desktop("out/mp3"));
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

        // The next OK works as usual.
        choose([&](TFrmDirectory *) { FindControl<QPushButton>(FrmDirectory, "ButtonOK")->click(); });
        QCOMPARE(outputField(), desktop("other"));
        QCOMPARE(storedFolder(), desktop("other"));
    }
};

QTEST_MAIN(TestDirectoryChooser)
#include "tst_directorychooser.moc"
