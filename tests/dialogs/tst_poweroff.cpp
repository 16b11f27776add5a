#include "app/Application.h"
#include "app/MainWindow.h"
#include "dialogs/PowerOffCountdown.h"
#include "gui/CommonServices.h"
#include "support/ProgramFixture.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>

// The countdown is driven by calling TimerTimer, one call per second that
// would have passed; only the modal round trips use the real timer, sped up.
class TestPowerOff : public QObject
{
    Q_OBJECT

private:
    ProgramFixture m_program;

    QPushButton *yes() { return frmPowerOffWindows->findChild<QPushButton *>(QStringLiteral("buttonYes")); }
    QPushButton *no() { return frmPowerOffWindows->findChild<QPushButton *>(QStringLiteral("buttonNo")); }

    void setWait(int seconds, int on = 1)
    {
        m_program.folder().writeConfig(
            QStringLiteral("[setting]\nautoPowerOff=%1\nautoPowerOff_WaitTime=%2\n").arg(on).arg(seconds).toUtf8());
    }

    void start(int waitSeconds)
    {
        m_program.folder().write("language/en.ini", "[frmPowerOffWindows]\nbuttonYes=Yes\nbuttonNo=No\n");
        setWait(waitSeconds);
        m_program.start();
        // As the language file sets it.
        frmPowerOffWindows->yesCaption = QStringLiteral("Yes ");
    }

    // Never let a modal wait outlive a broken test.
    void guardModalWait()
    {
        QTimer::singleShot(60000, frmPowerOffWindows, [] {
            if (frmPowerOffWindows->isVisible())
                frmPowerOffWindows->done(-1);
        });
    }

private slots:
    void cleanup()
    {
        const QStringList errors = m_program.stop();
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    }

    void showingStartsTheTimer()
    {
        start(30);
        QCOMPARE(frmPowerOffWindows->objectName(), QStringLiteral("frmPowerOffWindows"));
        QVERIFY(!frmPowerOffWindows->Timer->isActive());
        frmPowerOffWindows->show();
        QVERIFY(frmPowerOffWindows->isModal());
        QVERIFY(frmPowerOffWindows->Timer->isActive());
        QCOMPARE(frmPowerOffWindows->Timer->interval(), 1000);
        QCOMPARE(frmPowerOffWindows->waitSeconds, 30);
        QCOMPARE(frmPowerOffWindows->elapsedSeconds, 0);
        // The button keeps its text until the first tick.
        QCOMPARE(yes()->text(), QStringLiteral("Yes"));
        QVERIFY(no()->isDefault());
        QVERIFY(!yes()->isDefault());
        QCOMPARE(frmPowerOffWindows->size(), QSize(283, 118));
        QCOMPARE(frmPowerOffWindows->minimumSize(), frmPowerOffWindows->maximumSize());
        QVERIFY((frmPowerOffWindows->geometry().center() - frmMain->frameGeometry().center()).manhattanLength() <= 6);
    }

    void countdown_data()
    {
        QTest::addColumn<int>("wait");
        QTest::addColumn<QStringList>("captions");

        QTest::newRow("5") << 5 << QStringList{"Yes (4)", "Yes (3)", "Yes (2)", "Yes (1)", "Yes (0)"};
        QTest::newRow("1") << 1 << QStringList{"Yes (0)"};
        QTest::newRow("0") << 0 << QStringList{"Yes (-1)"};
        QTest::newRow("negative") << -4 << QStringList{"Yes (-5)"};
    }

    void countdown()
    {
        QFETCH(int, wait);
        QFETCH(QStringList, captions);

        start(wait);
        frmPowerOffWindows->show();
        for (qsizetype tick = 0; tick < captions.size(); ++tick) {
            QCOMPARE(m_program.powerOffs, 0);
            frmPowerOffWindows->TimerTimer();
            QCOMPARE(yes()->text(), captions[tick]);
        }
        // Requested at the tick that shows the last number, and only then.
        QCOMPARE(m_program.powerOffs, 1);
        QVERIFY(!frmPowerOffWindows->Timer->isActive());
        // The dialog stays up, in case the machine does not go off.
        QVERIFY(frmPowerOffWindows->isVisible());

        // Yes after the request does not ask a second time in this showing.
        QTest::mouseClick(yes(), Qt::LeftButton);
        QCOMPARE(m_program.powerOffs, 1);
        QVERIFY(!frmPowerOffWindows->isVisible());
    }

    void leaving_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("requests");
        QTest::addColumn<int>("result");

        QTest::newRow("Yes") << "yes" << 1 << int(QDialog::Accepted);
        QTest::newRow("No") << "no" << 0 << int(QDialog::Rejected);
        QTest::newRow("Enter answers No") << "enter" << 0 << int(QDialog::Rejected);
        QTest::newRow("Escape") << "escape" << 0 << int(QDialog::Rejected);
        QTest::newRow("title bar") << "close" << 0 << int(QDialog::Rejected);
    }

    // Every way out of a counting dialog, halfway through a countdown of 5.
    void leaving()
    {
        QFETCH(QString, how);
        QFETCH(int, requests);
        QFETCH(int, result);

        start(5);
        frmPowerOffWindows->show();
        QApplication::setActiveWindow(frmPowerOffWindows);
        frmPowerOffWindows->TimerTimer();
        frmPowerOffWindows->TimerTimer();

        if (how == QLatin1String("yes"))
            QTest::mouseClick(yes(), Qt::LeftButton);
        else if (how == QLatin1String("no"))
            QTest::mouseClick(no(), Qt::LeftButton);
        else if (how == QLatin1String("enter"))
            QTest::keyClick(frmPowerOffWindows, Qt::Key_Return);
        else if (how == QLatin1String("escape"))
            QTest::keyClick(frmPowerOffWindows, Qt::Key_Escape);
        else
            frmPowerOffWindows->close();

        QCOMPARE(m_program.powerOffs, requests);
        QVERIFY(!frmPowerOffWindows->isVisible());
        QCOMPARE(frmPowerOffWindows->result(), result);
        QVERIFY(!frmPowerOffWindows->Timer->isActive());
    }

    void secondShowingCountsAfresh()
    {
        start(5);
        frmPowerOffWindows->show();
        frmPowerOffWindows->TimerTimer();
        frmPowerOffWindows->TimerTimer();
        QTest::mouseClick(yes(), Qt::LeftButton);
        QCOMPARE(m_program.powerOffs, 1);

        // The wait stored now counts, and the last text stays until the first tick.
        setWait(2);
        frmPowerOffWindows->show();
        QCOMPARE(yes()->text(), QStringLiteral("Yes (3)"));
        QCOMPARE(frmPowerOffWindows->elapsedSeconds, 0);
        QCOMPARE(frmPowerOffWindows->waitSeconds, 2);
        QVERIFY(frmPowerOffWindows->Timer->isActive());
        frmPowerOffWindows->TimerTimer();
        QCOMPARE(yes()->text(), QStringLiteral("Yes (1)"));
        QCOMPARE(m_program.powerOffs, 1);
        frmPowerOffWindows->TimerTimer();
        QCOMPARE(yes()->text(), QStringLiteral("Yes (0)"));
        // A new showing may ask again.
        QCOMPARE(m_program.powerOffs, 2);
    }

    void endOfRunStep_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<bool>("shown");

        QTest::newRow("no config.ini") << QByteArray() << false;
        QTest::newRow("off") << QByteArray("[setting]\nautoPowerOff=0\n") << false;
        QTest::newRow("on") << QByteArray("[SETTING]\nAutoPowerOff=1\n") << true;
    }

    // The setting is read when the run ends, not at start-up.
    void endOfRunStep()
    {
        QFETCH(QByteArray, config);
        QFETCH(bool, shown);

        start(30);
        m_program.folder().writeConfig(config);
        bool sawDialog = false;
        QTimer::singleShot(0, frmPowerOffWindows, [&] {
            sawDialog = frmPowerOffWindows->isVisible() && QApplication::activeModalWidget() == frmPowerOffWindows;
            if (sawDialog)
                QTest::mouseClick(no(), Qt::LeftButton);
        });
        guardModalWait();
        ShowPowerOffCountdownIfEnabled();
        QCoreApplication::processEvents();
        QCOMPARE(sawDialog, shown);
        QVERIFY(!frmPowerOffWindows->isVisible());
        QCOMPARE(m_program.powerOffs, 0);
    }

    // The whole round trip on the real timer, sped up: the modal wait ends
    // only through a button, and the request comes at the last tick.
    void realTimerRunsOutThenNo()
    {
        start(3);
        frmPowerOffWindows->Timer->setInterval(20);
        QStringList seen;
        connect(frmPowerOffWindows->Timer, &QTimer::timeout, frmPowerOffWindows, [&] {
            seen << yes()->text();
            if (m_program.powerOffs > 0)
                QTimer::singleShot(100, no(), [this] { QTest::mouseClick(no(), Qt::LeftButton); });
        });
        guardModalWait();
        ShowPowerOffCountdownIfEnabled();
        QCOMPARE(seen, (QStringList{"Yes (2)", "Yes (1)", "Yes (0)"}));
        QCOMPARE(m_program.powerOffs, 1);
        QCOMPARE(frmPowerOffWindows->result(), int(QDialog::Rejected));
    }
};

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    TestPowerOff test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_poweroff.moc"
