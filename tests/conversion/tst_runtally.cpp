// What the end of a run says: the counts, the time, the failures and the question.
#include "conversion/RunTally.h"

#include <QRegularExpression>
#include <QTest>

class TestRunTally : public QObject
{
    Q_OBJECT

private slots:
    // Events: "c" a file converted ("c3": as three chapter files), "s"
    // skipped, "x" stopped, "f:/v/b.avi:why" failed, "i:/v/c.avi:why" incomplete.
    void endMessage_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("detail");
        const QString done = "Conversion finished.\n\n";
        QTest::newRow("all converted, 4.2 s") << 3 << QStringList{"c", "c", "c"} << qint64(4200) << false
                                              << done + "Files converted: 3 of 3, in 4.2 s." << "";
        QTest::newRow("a moment, 0.8 s") << 1 << QStringList{"c"} << qint64(800) << false
                                         << done + "Files converted: 1 of 1, in 0.8 s." << "";
        QTest::newRow("nothing to do, never 0 s")
            << 0 << QStringList{} << qint64(20) << false << done + "Files converted: 0 of 0, in 0.1 s." << "";
        QTest::newRow("17 s in whole seconds")
            << 1 << QStringList{"c"} << qint64(17400) << false << done + "Files converted: 1 of 1, in 17 s." << "";
        QTest::newRow("a tenth short of ten seconds is ten")
            << 1 << QStringList{"c"} << qint64(9960) << false << done + "Files converted: 1 of 1, in 10 s." << "";
        QTest::newRow("1 min 1 s") << 1 << QStringList{"c"} << qint64(61000) << false
                                   << done + "Files converted: 1 of 1, in 1 min 1 s." << "";
        QTest::newRow("skipped and failed counted, failure named with its reason")
            << 4 << QStringList{"c", "s", "f:/v/b.avi:No sound.", "i:/v/c.avi:ends at 1:00"} << qint64(2000) << false
            << done
                   + "Files converted: 1 of 4, in 2.0 s.\nSkipped: 1.\nFailed: 1.\n"
                     "Incomplete files (the source ends early): 1.\n\n"
                     "These files could not be converted:\nb.avi: No sound."
            << "/v/b.avi: No sound.\n/v/c.avi: ends at 1:00";
        QTest::newRow("stopped: what was done, no question")
            << 4 << QStringList{"c", "x"} << qint64(3000) << true
            << "Conversion stopped.\n\nFiles converted: 1 of 4, in 3.0 s.\nStopped: 1." << "";
        QTest::newRow("a file as chapters counts once") << 2 << QStringList{"c3", "c"} << qint64(5000) << false
                                                        << done
                                                               + "Files converted: 2 of 2, in 5.0 s.\nOf these, 1 "
                                                                 "written as one file per chapter (3 chapter files)."
                                                        << "";
        QStringList eleven;
        QStringList named;
        for (int i = 1; i <= 11; ++i) {
            eleven << QStringLiteral("f:/v/%1.avi:bad").arg(i);
            named << QStringLiteral("%1.avi: bad").arg(i);
        }
        QTest::newRow("eleven failures: ten named, all in the detail")
            << 11 << eleven << qint64(1000) << false
            << done + "Files converted: 0 of 11, in 1.0 s.\nFailed: 11.\n\nThese files could not be converted:\n"
                   + named.mid(0, 10).join('\n') + "\n... and 1 more (see details)"
            << QStringList(named).replaceInStrings(QRegularExpression("^"), "/v/").join('\n');
    }

    void endMessage()
    {
        QFETCH(int, files);
        QFETCH(QStringList, events);
        QFETCH(qint64, ms);
        QFETCH(bool, stopped);
        TRunTally tally;
        tally.Expect(files);
        for (const QString &event : events) {
            const QStringList parts = event.split(':');
            if (event[0] == 'c')
                tally.Record(TFileOutcome::Converted, "/v/a.avi", {}, event.mid(1).toInt());
            else if (event[0] == 's')
                tally.Record(TFileOutcome::Skipped, "/v/a.avi", {});
            else if (event[0] == 'x')
                tally.Record(TFileOutcome::Stopped, "/v/a.avi", {});
            else
                tally.Record(event[0] == 'f' ? TFileOutcome::Failed : TFileOutcome::Incomplete, parts[1],
                             parts.mid(2).join(':'));
        }
        const TEndMessage message = tally.EndMessage(stopped, ms, TTallyTexts());
        QTEST(message.Text, "text");
        QTEST(message.Detail, "detail");
        QCOMPARE(message.Question, stopped ? QString() : TTallyTexts().OpenFolder);
        QCOMPARE(tally.Shortfall(), stopped || message.Text.contains("Failed") || message.Text.contains("Incomplete"));
    }
};

QTEST_APPLESS_MAIN(TestRunTally)
#include "tst_runtally.moc"
