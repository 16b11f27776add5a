#include "app/Application.h"
#include "app/MainWindow.h"
#include "common/IniFile.h"
#include "common/Settings.h"
#include "dialogs/PowerOffCountdown.h"
#include "dialogs/SettingsDialog.h"
#include "gui/CommonServices.h"
#include "support/FindControl.h"
#include "support/ProgramFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTest>
#include <QThread>

class TestSettings : public QObject
{
    Q_OBJECT

private:
    ProgramFixture m_program;

    QCheckBox *checkBox() { return FindControl<QCheckBox>(frmSetting, "checkBoxAutoPowerOff"); }
    QLineEdit *edit() { return FindControl<QLineEdit>(frmSetting, "editWaitTime"); }

    void start(const QByteArray &config = QByteArray())
    {
        m_program.folder().installData(); // the captions come from the language file; clicks need them
        m_program.start(config);
    }

    void openSettings() { frmMain->findChild<QAction *>(QStringLiteral("N_Setting"))->trigger(); }

    QString setting(const char *key)
    {
        return TIniFile(m_program.folder().configFile())
            .ReadString(QStringLiteral("setting"), QLatin1String(key), QStringLiteral("<none>"));
    }

private slots:
    void cleanup() { m_program.stop(); }

    void createdAtStartAndPlaced()
    {
        start();
        QVERIFY(frmSetting && frmSetting->parent() == frmMain);
        QVERIFY(frmPowerOffWindows && frmPowerOffWindows->parent() == frmMain);
        QCOMPARE(frmSetting->objectName(), QStringLiteral("frmSetting"));
        const QObjectList children = frmMain->children();
        QVERIFY(children.indexOf(frmSetting) < children.indexOf(frmPowerOffWindows));
        QVERIFY(!frmSetting->isVisible());

        openSettings();
        QCOMPARE(frmSetting->size(), QSize(307, 280));
        QCOMPARE(frmSetting->minimumSize(), frmSetting->maximumSize());
        QVERIFY(!(frmSetting->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY((frmSetting->geometry().center() - frmMain->frameGeometry().center()).manhattanLength() <= 6);
    }

    void formShow_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<QString>("waitText");
        QTest::addColumn<int>("parallel"); // 0: the number of cores, at most 4
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("loudness");  // position in the list: off, -23, -16, -14, tags
        QTest::addColumn<QString>("boxes"); // "C": one file per chapter, "K": keep folders
        // The main window's line of what applies to every file, and whether
        // the loudness levels apply to the format chosen.
        QTest::addColumn<QString>("runWide");
        QTest::addColumn<bool>("levelsApply");

        QTest::newRow("no config.ini") << QByteArray() << false << "30" << 0 << "" << 0 << "" << "" << true;
        QTest::newRow("on") << QByteArray("[setting]\nautoPowerOff=1\nautoPowerOff_WaitTime=45\nparallelFiles=1\n"
                                          "preferredAudioLanguage=jpn\nloudness=-16\nsplitChapters=1\nkeepFolders=1\n")
                            << true << "45" << 1 << "jpn" << 2 << "CK"
                            << "For every file: loudness -16 LUFS (podcasts) \u00B7 one file per chapter \u00B7 "
                               "folders kept"
                            << true;
        QTest::newRow("2 counts as off") << QByteArray("[setting]\nautoPowerOff=2\nautoPowerOff_WaitTime=12\n") << false
                                         << "12" << 0 << "" << 0 << "" << "" << true;
        QTest::newRow("other capitals") << QByteArray("[Setting]\nAUTOPOWEROFF=1\nAutoPowerOff_waittime=$10\n"
                                                      "PREFERREDaudioLanguage= French \nLOUDNESS= ReplayGain\n"
                                                      "KEEPfolders=1\n")
                                        << true << "16" << 0 << "French" << 4 << "K"
                                        << "For every file: loudness ReplayGain tags only \u00B7 folders kept" << true;
        QTest::newRow("too many files at once, loudness not offered")
            << QByteArray("[setting]\nparallelFiles=99\nloudness=-18\nsplitChapters=1\n") << false << "30" << 0 << ""
            << 0 << "C" << "For every file: one file per chapter" << true;
        QTest::newRow("files at once not a number")
            << QByteArray("[setting]\nparallelFiles=x\n") << false << "30" << 0 << "" << 0 << "" << "" << true;
        QTest::newRow("a copy takes no loudness level")
            << QByteArray("[setting]\nformat=copy\nloudness=-14\n") << false << "30" << 0 << "" << 3 << ""
            << "For every file: loudness -14 LUFS (streaming) (not for the original audio, which is not re-encoded; "
               "ReplayGain tags are)"
            << false;
        QTest::newRow("a copy takes ReplayGain tags")
            << QByteArray("[setting]\nformat=copy\nloudness=replaygain\n") << false << "30" << 0 << "" << 4 << ""
            << "For every file: loudness ReplayGain tags only" << false;
    }

    void formShow()
    {
        QFETCH(QByteArray, config);
        QFETCH(bool, checked);
        QFETCH(QString, waitText);
        QFETCH(int, parallel);
        QFETCH(QString, language);
        QFETCH(int, loudness);
        QFETCH(QString, boxes);
        QFETCH(QString, runWide);
        QFETCH(bool, levelsApply);

        start(config);
        QCOMPARE(FindControl<QLabel>(frmMain, "labelRunWide")->text(), runWide);
        openSettings();
        QVERIFY(frmSetting->isVisible());
        QVERIFY(!frmSetting->isModal());
        QCOMPARE(checkBox()->isChecked(), checked);
        QCOMPARE(edit()->text(), waitText);
        QCOMPARE(edit()->isEnabled(), checked);
        auto *spin = FindControl<QSpinBox>(frmSetting, "spinParallelFiles");
        QCOMPARE(spin->value(), parallel ? parallel : std::min(TSettings::MostParallelFiles(), 4));
        QCOMPARE(spin->maximum(), std::min(QThread::idealThreadCount(), 16));
        QCOMPARE(FindControl<QLineEdit>(frmSetting, "editPreferredLanguage")->text(), language);
        QCOMPARE(FindControl<QComboBox>(frmSetting, "comboLoudness")->currentIndex(), loudness);
        QCOMPARE(FindControl<QCheckBox>(frmSetting, "checkBoxSplitChapters")->isChecked(), boxes.contains('C'));
        QCOMPARE(FindControl<QCheckBox>(frmSetting, "checkBoxKeepFolders")->isChecked(), boxes.contains('K'));
        // Off and ReplayGain tags apply to every format; the levels are greyed for a copy, and the list says why.
        auto *levels = qobject_cast<QStandardItemModel *>(FindControl<QComboBox>(frmSetting, "comboLoudness")->model());
        QVERIFY(levels);
        QCOMPARE(
            QList<bool>({levels->item(0)->isEnabled(), levels->item(2)->isEnabled(), levels->item(4)->isEnabled()}),
            QList<bool>({true, levelsApply, true}));
        QCOMPARE(FindControl<QComboBox>(frmSetting, "comboLoudness")->toolTip().isEmpty(), levelsApply);
        // The main window stays usable beside the modeless dialog.
        QVERIFY(!QApplication::activeModalWidget());
    }

    void checkBoxTogglesFieldAndCancelStoresNothing_data()
    {
        QTest::addColumn<QString>("leaveBy");
        QTest::newRow("Cancel button") << "cancel";
        QTest::newRow("Escape key") << "escape";
        QTest::newRow("title bar") << "close";
    }

    void checkBoxTogglesFieldAndCancelStoresNothing()
    {
        QFETCH(QString, leaveBy);
        start("[setting]\nautoPowerOff=0\nautoPowerOff_WaitTime=30\n");
        const QByteArray before = m_program.folder().read(QStringLiteral("config.ini"));
        openSettings();

        QTest::mouseClick(checkBox(), Qt::LeftButton);
        QVERIFY(checkBox()->isChecked());
        QVERIFY(edit()->isEnabled());
        QTest::mouseClick(checkBox(), Qt::LeftButton);
        QVERIFY(!edit()->isEnabled());
        QTest::mouseClick(checkBox(), Qt::LeftButton);
        edit()->setText(QStringLiteral("5"));

        if (leaveBy == QLatin1String("cancel"))
            QTest::mouseClick(FindControl<QPushButton>(frmSetting, "ButtonCancel"), Qt::LeftButton);
        else if (leaveBy == QLatin1String("escape"))
            QTest::keyClick(edit(), Qt::Key_Escape);
        else
            frmSetting->close();

        QVERIFY(!frmSetting->isVisible());
        QCOMPARE(m_program.folder().read(QStringLiteral("config.ini")), before);
        QVERIFY(!frmCommon->IsAutoPowerOff());

        // The next showing forgets what was typed and shows config.ini again.
        openSettings();
        QVERIFY(!checkBox()->isChecked());
        QCOMPARE(edit()->text(), QStringLiteral("30"));
    }

    void ok_data()
    {
        QTest::addColumn<bool>("checked");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("storedOn");
        QTest::addColumn<QString>("storedWait");
        QTest::addColumn<bool>("byEnter");
        QTest::addColumn<QString>("language"); // typed; stored trimmed
        QTest::addColumn<QString>("loudness"); // chosen and stored
        QTest::addColumn<QString>("boxes");    // ticked: "C" one file per chapter, "K" keep folders

        QTest::newRow("on") << true << "10" << "1" << "10" << false << " Japanese " << "-14" << "CK";
        QTest::newRow("off keeps the wait") << false << "25" << "0" << "25" << false << "" << "off" << "";
        QTest::newRow("blank, sign and hex") << true << "  +$1F" << "1" << "31" << false << "fre" << "replaygain"
                                             << "C";
        QTest::newRow("negative") << true << "-3" << "1" << "-3" << false << "" << "-23" << "K";
        QTest::newRow("Enter in the field") << true << "8" << "1" << "8" << true << "" << "-16" << "";
    }

    void ok()
    {
        QFETCH(bool, checked);
        QFETCH(QString, text);
        QFETCH(QString, storedOn);
        QFETCH(QString, storedWait);
        QFETCH(bool, byEnter);
        QFETCH(QString, language);
        QFETCH(QString, loudness);
        QFETCH(QString, boxes);

        start();
        openSettings();
        for (const auto &[name, letter] : {std::pair{"checkBoxSplitChapters", 'C'}, {"checkBoxKeepFolders", 'K'}}) {
            auto *box = FindControl<QCheckBox>(frmSetting, name);
            if (box->isChecked() != boxes.contains(QLatin1Char(letter)))
                box->click();
        }
        FindControl<QComboBox>(frmSetting, "comboLoudness")
            ->setCurrentIndex(int(TSettings::LoudnessChoices().indexOf(loudness)));
        if (checkBox()->isChecked() != checked)
            QTest::mouseClick(checkBox(), Qt::LeftButton);
        FindControl<QLineEdit>(frmSetting, "editPreferredLanguage")->setText(language);
        edit()->setText(text);
        if (byEnter)
            QTest::keyClick(edit(), Qt::Key_Return);
        else
            QTest::mouseClick(FindControl<QPushButton>(frmSetting, "ButtonOK"), Qt::LeftButton);

        QVERIFY(m_program.errors.isEmpty());
        QVERIFY(!frmSetting->isVisible());
        QCOMPARE(setting("autoPowerOff"), storedOn);
        QCOMPARE(setting("autoPowerOff_WaitTime"), storedWait);
        QCOMPARE(setting("parallelFiles"), QString::number(frmCommon->Settings().ParallelFiles()));
        QCOMPARE(setting("preferredAudioLanguage"), language.trimmed());
        QCOMPARE(setting("loudness"), loudness);
        QCOMPARE(setting("splitChapters"), QString::number(boxes.contains('C')));
        QCOMPARE(setting("keepFolders"), QString::number(boxes.contains('K')));
        // What the run will read next, and what the dialog shows next time.
        QCOMPARE(frmCommon->IsAutoPowerOff(), checked);
        QCOMPARE(frmCommon->AutoPowerOffWaitTime(), storedWait.toInt());
        openSettings();
        QCOMPARE(checkBox()->isChecked(), checked);
        QCOMPARE(edit()->text(), storedWait);
    }

    void badWaitTime_data()
    {
        QTest::addColumn<bool>("checked");
        QTest::addColumn<QString>("text");

        QTest::newRow("letters") << true << "abc";
        QTest::newRow("letters with the box unchecked") << false << "abc";
        QTest::newRow("empty") << true << "";
        QTest::newRow("trailing letters") << true << "12s";
    }

    void badWaitTime()
    {
        QFETCH(bool, checked);
        QFETCH(QString, text);

        start("[setting]\nautoPowerOff=0\nautoPowerOff_WaitTime=30\n");
        const QByteArray before = m_program.folder().read(QStringLiteral("config.ini"));
        openSettings();
        if (checked)
            QTest::mouseClick(checkBox(), Qt::LeftButton);
        edit()->setText(text);
        QTest::mouseClick(FindControl<QPushButton>(frmSetting, "ButtonOK"), Qt::LeftButton);

        QCOMPARE(m_program.errors, QStringList{QStringLiteral("'%1' is not a valid integer value.").arg(text)});
        QVERIFY(frmSetting->isVisible());
        QCOMPARE(edit()->text(), text);
        QCOMPARE(m_program.folder().read(QStringLiteral("config.ini")), before);
    }

    // A config.ini that turns read-only while the program runs: the first
    // write says so and keeps the dialog open; from then on the settings
    // live in memory, so the choice holds and a second OK closes quietly.
    void readOnlyConfigKeepsDialogOpen()
    {
        start("[setting]\nautoPowerOff=0\n");
        const QByteArray before = m_program.folder().read(QStringLiteral("config.ini"));
        QFile::setPermissions(m_program.folder().configFile(), QFileDevice::ReadOwner | QFileDevice::ReadGroup);
        openSettings();
        QTest::mouseClick(checkBox(), Qt::LeftButton);
        QTest::mouseClick(FindControl<QPushButton>(frmSetting, "ButtonOK"), Qt::LeftButton);

        QCOMPARE(m_program.errors,
                 QStringList{QStringLiteral("Unable to write to %1.").arg(m_program.folder().configFile())});
        QVERIFY(frmSetting->isVisible());
        QTest::mouseClick(FindControl<QPushButton>(frmSetting, "ButtonOK"), Qt::LeftButton);
        QCOMPARE(m_program.errors.size(), 1);
        QVERIFY(!frmSetting->isVisible());
        QVERIFY(frmCommon->IsAutoPowerOff());
        QCOMPARE(m_program.folder().read(QStringLiteral("config.ini")), before);
    }

    void secondOpenOnlyRaises()
    {
        start();
        openSettings();
        QTest::mouseClick(checkBox(), Qt::LeftButton);
        edit()->setText(QStringLiteral("12"));
        openSettings();
        QVERIFY(frmSetting->isVisible());
        QVERIFY(checkBox()->isChecked());
        QCOMPARE(edit()->text(), QStringLiteral("12"));
    }
};

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    TestSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settings.moc"
