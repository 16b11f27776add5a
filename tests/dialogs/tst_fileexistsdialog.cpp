#include "conversion/OutputNames.h"
#include "dialogs/FileExistsDialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

// The file-exists question: its answers are the run's choice codes.
class TestFileExistsDialog : public QObject
{
    Q_OBJECT
private slots:
    // The dialog: each button with and without the check box.
    void overwriteDialog_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("notice");
        QTest::addColumn<quint8>("choice");
        QTest::newRow("overwrite") << "buttonOverWrite" << false << quint8(ocOverwriteOnce);
        QTest::newRow("overwrite, always") << "buttonOverWrite" << true << quint8(ocOverwriteAll);
        QTest::newRow("ignore") << "buttonIgnore" << false << quint8(ocAsk);
        QTest::newRow("ignore, always") << "buttonIgnore" << true << quint8(ocSkipAll);
        QTest::newRow("auto name") << "buttonAutoName" << false << quint8(ocRenameOnce);
        QTest::newRow("auto name, always") << "buttonAutoName" << true << quint8(ocRenameAll);
    }

    void overwriteDialog()
    {
        QFETCH(QString, button);
        QFETCH(bool, notice);
        QFETCH(quint8, choice);
        QWidget owner;
        TfrmOverWrite dialog(&owner);
        QVERIFY(!frmOverWrite); // only the application object publishes its windows
        dialog.findChild<QCheckBox *>("checkBoxNotice")->setChecked(notice);
        QTimer::singleShot(0, [&] { dialog.findChild<QPushButton *>(button)->click(); });
        dialog.exec();
        QCOMPARE(dialog.FChoice, choice);
        QVERIFY(!dialog.isVisible());
    }

    // Any way out but the buttons skips this file, whatever came before.
    void overwriteDialogClosedOtherwiseSkips_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("title bar") << "close";
        QTest::newRow("Escape") << "escape";
        QTest::newRow("window manager") << "reject";
    }

    void overwriteDialogClosedOtherwiseSkips()
    {
        QFETCH(QString, how);
        QWidget owner;
        TfrmOverWrite dialog(&owner);
        QTimer::singleShot(0, [&] { dialog.findChild<QPushButton *>("buttonOverWrite")->click(); });
        dialog.exec();
        QCOMPARE(dialog.FChoice, quint8(ocOverwriteOnce));

        dialog.findChild<QCheckBox *>("checkBoxNotice")->setChecked(true);
        QTimer::singleShot(0, [&] {
            if (how == "close")
                dialog.close();
            else if (how == "escape")
                QTest::keyClick(&dialog, Qt::Key_Escape);
            else
                dialog.reject();
        });
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QCOMPARE(dialog.FChoice, quint8(ocAsk));
    }

    void overwriteDialogLooks()
    {
        TfrmOverWrite dialog;
        QCOMPARE(dialog.objectName(), QStringLiteral("frmOverWrite"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("文件已存在"));
        auto *label = dialog.findChild<QLabel *>("labelDes");
        QVERIFY(label->font().bold());
        QVERIFY(label->alignment() & Qt::AlignHCenter);
        QVERIFY(dialog.findChild<QPushButton *>("buttonAutoName")->isDefault());
        QVERIFY(!dialog.findChild<QCheckBox *>("checkBoxNotice")->isChecked());
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        auto *overwrite = dialog.findChild<QPushButton *>("buttonOverWrite");
        auto *ignore = dialog.findChild<QPushButton *>("buttonIgnore");
        auto *autoName = dialog.findChild<QPushButton *>("buttonAutoName");
        QCOMPARE(overwrite->y(), autoName->y());
        QVERIFY(overwrite->x() < ignore->x() && ignore->x() < autoName->x());
        QVERIFY(dialog.findChild<QCheckBox *>("checkBoxNotice")->y() > autoName->y());
    }
};

QTEST_MAIN(TestFileExistsDialog)

#include "tst_fileexistsdialog.moc"
