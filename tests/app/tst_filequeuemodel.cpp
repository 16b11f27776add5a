// The queue's table: what each cell shows, and a model a view can trust
// through every change of the queue.
#include "app/FileQueueModel.h"
#include "conversion/FileQueue.h"

#include <QAbstractItemModelTester>
#include <QTest>

class TestFileQueueModel : public QObject
{
    Q_OBJECT

private slots:
    // One row in each state: the file, its length and its state column.
    void cells_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("percent");
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QStringList>("shown"); // file, length, state
        QTest::addColumn<QString>("stateToolTip");
        QTest::addColumn<int>("chapter"); // of 12, set as the state was; 0: the file is not in chapters
        QTest::newRow("queued, not probed")
            << int(TItemState::Idle) << -1 << qint64(0) << QStringList{"/v/<b>.avi", "", ""} << "" << 0;
        QTest::newRow("waiting, minutes")
            << int(TItemState::Waiting) << -1 << qint64(245) << QStringList{"/v/<b>.avi", "4:05", "W"} << "" << 0;
        QTest::newRow("converting, hours") << int(TItemState::Converting) << 42 << qint64(3723)
                                           << QStringList{"/v/<b>.avi", "1:02:03", "42%"} << "" << 0;
        QTest::newRow("converting, no length told")
            << int(TItemState::Converting) << -1 << qint64(0) << QStringList{"/v/<b>.avi", "", "C"} << "" << 0;
        QTest::newRow("failed says why, as it is")
            << int(TItemState::Failed) << -1 << qint64(59) << QStringList{"/v/<b>.avi", "0:59", "F"}
            << "<p style='white-space:pre'>&lt;i&gt;why&lt;/i&gt;</p>" << 0;
        QTest::newRow("incomplete says why")
            << int(TItemState::Incomplete) << -1 << qint64(59) << QStringList{"/v/<b>.avi", "0:59", "I"}
            << "<p style='white-space:pre'>&lt;i&gt;why&lt;/i&gt;</p>" << 0;
        QTest::newRow("done") << int(TItemState::Done) << -1 << qint64(0) << QStringList{"/v/<b>.avi", "", "D"} << ""
                              << 0;
        QTest::newRow("converting chapter 3") << int(TItemState::Converting) << 42 << qint64(0)
                                              << QStringList{"/v/<b>.avi", "", "ch 3/12 \u00B7 42%"} << "" << 3;
        QTest::newRow("chapter, no length told") << int(TItemState::Converting) << -1 << qint64(0)
                                                 << QStringList{"/v/<b>.avi", "", "ch 1/12 \u00B7 C"} << "" << 1;
        QTest::newRow("done after chapters: no chapter any more")
            << int(TItemState::Done) << -1 << qint64(0) << QStringList{"/v/<b>.avi", "", "D"} << "" << 12;
    }

    void cells()
    {
        QFETCH(int, state);
        QFETCH(int, percent);
        QFETCH(qint64, seconds);
        QFETCH(QStringList, shown);
        QFETCH(QString, stateToolTip);
        QFETCH(int, chapter);
        TFileQueue queue;
        TFileQueueModel model(queue);
        model.SetTexts({"File", "Length", "State", "W", "C", "D", "S", "F", "X", "I", "Audio track", "ch %s/%s"});
        queue.Append("/v/<b>.avi");
        if (chapter > 0)
            queue.SetChapter(0, chapter, 12);
        queue.SetState(0, TItemState(state), percent, "<i>why</i>");
        // The length comes with the probe's answer.
        TMediaFacts facts;
        facts.Known = true;
        facts.Duration = seconds;
        queue.TakeFacts("/v/<b>.avi", facts);
        QStringList cells;
        for (int column = 0; column < model.columnCount(); ++column)
            cells << model.index(0, column).data().toString();
        QCOMPARE(cells, shown);
        QCOMPARE(model.index(0, 2).data(Qt::ToolTipRole).toString(), stateToolTip);
        QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("State"));
    }

    // Every change of the queue reaches the model as Qt's rules say; the
    // tester fails the test at the first broken one.
    void tester()
    {
        TFileQueue queue;
        TFileQueueModel model(queue);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (const char *name : {"a", "b", "c", "d"})
            queue.Append(name);
        queue.Swap(0, 1);
        queue.Swap(3, 2);
        queue.SetAudioTrack(1, 2, "2: Japanese");
        QCOMPARE(model.index(1, 0).data(Qt::ToolTipRole).toString(), QStringLiteral("a\n 2: Japanese"));
        QVERIFY(model.setData(model.index(1, 0), "e"));
        QCOMPARE(model.index(1, 0).data(Qt::ToolTipRole).toString(), QString());
        QVERIFY(!model.setData(model.index(1, 2), "state"));
        queue.SetState(2, TItemState::Done);
        queue.Remove({0, 3});
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.index(1, 0).data().toString(), QStringLiteral("d"));
        queue.Clear();
        QCOMPARE(model.rowCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestFileQueueModel)
#include "tst_filequeuemodel.moc"
