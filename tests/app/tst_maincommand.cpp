#include "app/MainWindow.h"
#include "common/IniFile.h"
#include "gui/CommonServices.h"
#include "support/FindControl.h"
#include "support/ProgramFixture.h"

#include <QComboBox>
#include <QRadioButton>
#include <QTest>

// The main window's side of the encoder command: the values come from the
// controls as they are at the moment of each call.
class TestMainCommand : public QObject
{
    Q_OBJECT
    ProgramFixture m_program;

private slots:
    void init() { m_program.start(QByteArray(), ProgramFixture::Hidden); }
    void cleanup()
    {
        for (const QString &text : m_program.stop())
            qWarning("error box: %s", qPrintable(text));
    }

    void controlsGiveTheOptions_data();
    void controlsGiveTheOptions();
    void aSwitchAppliesToTheNextCall();
};

void TestMainCommand::controlsGiveTheOptions_data()
{
    QTest::addColumn<bool>("wav");
    QTest::addColumn<bool>("mono");
    QTest::addColumn<int>("bitratePosition"); // -1: leave the default
    QTest::addColumn<int>("ratePosition");
    QTest::addColumn<QString>("verifyOutput"); // [setting] verifyOutput=, empty: none
    QTest::addColumn<QString>("options");
    QTest::newRow("defaults") << false << false << -1 << -1 << ""
                              << " -y  -f mp3  -vn  -ab 128  -ar 44100  -ac 2  -verify ";
    QTest::newRow("WAV, mono, lowest, unchecked")
        << true << true << 0 << 0 << "0" << " -y  -f wav  -vn  -ab 8  -ar 6000  -ac 1 ";
    QTest::newRow("highest") << false << false << 17 << 11 << "1"
                             << " -y  -f mp3  -vn  -ab 350  -ar 96000  -ac 2  -verify ";
}

void TestMainCommand::controlsGiveTheOptions()
{
    QFETCH(bool, wav);
    QFETCH(bool, mono);
    QFETCH(int, bitratePosition);
    QFETCH(int, ratePosition);
    QFETCH(QString, verifyOutput);
    QFETCH(QString, options);

    if (!verifyOutput.isEmpty())
        TIniFile(frmCommon->ConfigFile).WriteString("setting", "verifyOutput", verifyOutput);
    if (wav)
        FindControl<QRadioButton>(frmMain, "radioButtonFormatWAV")->setChecked(true);
    if (mono)
        FindControl<QRadioButton>(frmMain, "radioButtonChannelMono")->setChecked(true);
    if (bitratePosition >= 0)
        FindControl<QComboBox>(frmMain, "comboBoxAudioBitrate")->setCurrentIndex(bitratePosition);
    if (ratePosition >= 0)
        FindControl<QComboBox>(frmMain, "comboBoxSampleRate")->setCurrentIndex(ratePosition);

    const QString ext = wav ? "wav" : "mp3";
    QCOMPARE(frmMain->GetOutputExt(), ext);
    QCOMPARE(frmMain->ChannelCount(), mono ? 1 : 2);
    const QString source = QStringLiteral("/videos/my clip.avi");
    const QString target = QStringLiteral("/music/my clip.") + ext;
    const TEncoderCommand command = frmMain->BuildEncoderCommand(source, target);

    const QString program = frmCommon->AppFolder + QStringLiteral("libm9s");
    QVERIFY(program.startsWith(m_program.folder().path()));
    QCOMPARE(command.Program, program);
    QCOMPARE(command.CommandLine, program + " -i " + source + " " + options + " " + target);
    QCOMPARE(command.Arguments.constFirst(), QStringLiteral("-i"));
    QCOMPARE(command.Arguments.at(1), source);
    QCOMPARE(command.Arguments.constLast(), target);
}

void TestMainCommand::aSwitchAppliesToTheNextCall()
{
    QCOMPARE(frmMain->BuildEncoderCommand("/v/1.avi", "/m/1.mp3").Arguments.mid(3, 2), (QStringList{"-f", "mp3"}));
    FindControl<QRadioButton>(frmMain, "radioButtonFormatWAV")->setChecked(true);
    FindControl<QComboBox>(frmMain, "comboBoxAudioBitrate")->setCurrentIndex(16);
    QCOMPARE(frmMain->GetOutputExt(), QStringLiteral("wav"));
    const QStringList next = frmMain->BuildEncoderCommand("/v/2.avi", "/m/2.wav").Arguments;
    QCOMPARE(next.mid(3, 2), (QStringList{"-f", "wav"}));
    QCOMPARE(next.mid(6, 2), (QStringList{"-ab", "320"}));
}

QTEST_MAIN(TestMainCommand)
#include "tst_maincommand.moc"
