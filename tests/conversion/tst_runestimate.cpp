// The whole run's share done and time left, and how spans of time read.
#include "conversion/RunEstimate.h"

#include <QTest>

class TestRunEstimate : public QObject
{
    Q_OBJECT

private slots:
    // Events: "s0" row 0 starts, "p0:60:30" it reports 30 of 60 s, "f0" it
    // went through, "x0" it ended otherwise (failed, skipped, stopped), "l1:300"
    // row 1 was probed at 300 s, "w4" a question waits from second 4 ("w4:1":
    // a question about row 1), "r8" until second 8, "e" the window shows the estimate.
    void estimate_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<int>("percent");
        QTest::addColumn<qint64>("left");
        QTest::newRow("no duration yet") << 3 << QStringList{"s0"} << 5.0 << 0 << qint64(-1);
        QTest::newRow("no time yet") << 2 << QStringList{"s0", "p0:100:0"} << 5.0 << 0 << qint64(-1);
        QTest::newRow("first of two, half way") << 2 << QStringList{"s0", "p0:100:50"} << 10.0 << 25 << qint64(30);
        QTest::newRow("two at once, two waiting")
            << 4 << QStringList{"s0", "s1", "p0:60:30", "p1:120:30"} << 10.0 << 16 << qint64(50);
        QTest::newRow("a converted file counts whole")
            << 2 << QStringList{"s0", "p0:60:58", "f0", "s1"} << 20.0 << 50 << qint64(20);
        QTest::newRow("a failed file leaves nothing to do")
            << 2 << QStringList{"s0", "p0:60:10", "x0", "s1", "p1:30:0"} << 10.0 << 25 << qint64(30);
        QTest::newRow("past the average, still going")
            << 2 << QStringList{"s0", "p0:100:100", "f0", "s1", "p1:0:150"} << 50.0 << 99 << qint64(0);
        QTest::newRow("all through") << 1 << QStringList{"s0", "p0:10:9", "f0"} << 3.0 << 100 << qint64(0);
        QTest::newRow("probed lengths count before the start")
            << 2 << QStringList{"l0:100", "l1:300", "s0", "p0:100:50"} << 10.0 << 12 << qint64(70);
        QTest::newRow("a question's wait is no work")
            << 2 << QStringList{"s0", "p0:100:50", "w4", "r8"} << 10.0 << 25 << qint64(18);
        QTest::newRow("a question still waiting")
            << 2 << QStringList{"s0", "p0:100:50", "w4"} << 10.0 << 25 << qint64(12);
        QTest::newRow("a file converting beside the question keeps the clock going")
            << 2 << QStringList{"s0", "s1", "w4:1", "p0:100:50", "r8"} << 10.0 << 25 << qint64(30);
        QTest::newRow("the question's own file alone stands still")
            << 2 << QStringList{"s0", "p0:100:50", "f0", "s1", "w4:1", "r8"} << 10.0 << 50 << qint64(6);
        QTest::newRow("the share shown never goes back")
            << 2 << QStringList{"s0", "p0:10:10", "f0", "e", "s1", "p1:1000:0"} << 10.0 << 50 << qint64(1000);
        QTest::newRow("a new run forgets the last")
            << 2 << QStringList{"s0", "p0:10:10", "f0", "start", "s0", "p0:100:50"} << 10.0 << 25 << qint64(30);
    }

    void estimate()
    {
        QFETCH(int, files);
        QFETCH(QStringList, events);
        QFETCH(double, elapsed);
        TRunEstimate estimate;
        estimate.Start(files);
        for (const QString &event : events) {
            const QStringList parts = event.mid(1).split(':');
            const int row = parts[0].toInt();
            if (event == "start")
                estimate.Start(files);
            else if (event == "e")
                estimate.Estimate(elapsed);
            else if (event[0] == 'l')
                estimate.FileLength(row, parts[1].toLongLong());
            else if (event[0] == 'w')
                estimate.Pause(row, parts.size() > 1 ? parts[1].toInt() : -1);
            else if (event[0] == 'r')
                estimate.Resume(row);
            else if (event[0] == 's')
                estimate.FileStarted(row);
            else if (event[0] == 'p')
                estimate.FileProgress(row, parts[1].toLongLong(), parts[2].toLongLong());
            else
                estimate.FileFinished(row, event[0] == 'f');
        }
        const TRunEstimate::TView view = estimate.Estimate(elapsed);
        QTEST(view.Percent, "percent");
        QTEST(view.SecondsLeft, "left");
    }

    void spans_data()
    {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("exact");
        QTest::addColumn<QString>("rough");
        QTest::newRow("nothing") << qint64(0) << "0 s" << "5 s";
        QTest::newRow("seconds") << qint64(43) << "43 s" << "45 s";
        QTest::newRow("under a minute") << qint64(59) << "59 s" << "1 min";
        QTest::newRow("minutes") << qint64(252) << "4 min 12 s" << "4 min";
        QTest::newRow("whole minutes") << qint64(180) << "3 min" << "3 min";
        QTest::newRow("rounds up to an hour") << qint64(3599) << "59 min 59 s" << "1 h";
        QTest::newRow("hours") << qint64(3900) << "1 h 5 min" << "1 h 5 min";
    }

    void spans()
    {
        QFETCH(qint64, seconds);
        QTEST(SpanText(seconds, TSpanTexts{}), "exact");
        QTEST(RoughSpanText(seconds, TSpanTexts{}), "rough");
    }
};

QTEST_APPLESS_MAIN(TestRunEstimate)
#include "tst_runestimate.moc"
