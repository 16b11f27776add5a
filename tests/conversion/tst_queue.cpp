// The queue without a window: its items, and the probe that learns each
// source's length and tracks in the background.
#include "conversion/FileQueue.h"
#include "conversion/MediaProbe.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestQueue : public QObject
{
    Q_OBJECT

private:
    static QStringList sources(const TFileQueue &queue)
    {
        QStringList list;
        for (int row = 0; row < queue.Count(); ++row)
            list << queue.At(row).Source
                        + (queue.At(row).AudioTrack >= 0 ? "#" + QString::number(queue.At(row).AudioTrack) : "");
        return list;
    }

    // A stand-in libm9s in folder that writes its arguments to "calls" and
    // answers with listing ("fail": exit 1; empty: no encoder at all).
    static void installStandIn(const QTemporaryDir &folder, const QByteArray &listing)
    {
        if (listing.isEmpty())
            return;
        writeFile(folder.filePath("libm9s"), "#!/bin/sh\necho \"$*\" >> '" + folder.filePath("calls").toUtf8() + "'\n"
                                                 + (listing == "fail" ? "exit 1" : "printf '" + listing + "'"));
        QFile::setPermissions(folder.filePath("libm9s"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

private slots:
    // Edits of the queue, each a word: "+x" appends x, "t1" chooses track 1
    // for the first row, "s02" swaps rows 0 and 2, "-02" removes rows 0 and
    // 2, "e1y" puts path y in row 1, "c" clears.
    void edits_data()
    {
        QTest::addColumn<QString>("edits");
        QTest::addColumn<QStringList>("after"); // "#n": the row's chosen track
        QTest::newRow("appended in order") << "+a +b +a" << QStringList{"a", "b", "a"};
        QTest::newRow("a track goes with its file") << "+a +b t1 s01" << QStringList{"b", "a#1"};
        QTest::newRow("swap past the end does nothing") << "+a +b s15" << QStringList{"a", "b"};
        QTest::newRow("several rows removed") << "+a +b +c +d -13" << QStringList{"a", "c"};
        QTest::newRow("rows out of range passed over") << "+a +b -19" << QStringList{"a"};
        QTest::newRow("a new path drops the track") << "+a t2 e0b" << QStringList{"b"};
        QTest::newRow("the same path keeps it") << "+a t2 e0a" << QStringList{"a#2"};
        QTest::newRow("cleared") << "+a +b c +c" << QStringList{"c"};
    }

    void edits()
    {
        QFETCH(QString, edits);
        QFETCH(QStringList, after);
        TFileQueue queue;
        QList<quint64> ids;
        for (const QString &edit : edits.split(' ')) {
            const QChar kind = edit[0];
            const QString rest = edit.mid(1);
            if (kind == '+')
                queue.Append(rest);
            else if (kind == 't')
                queue.SetAudioTrack(0, rest.toInt(), "caption");
            else if (kind == 's')
                queue.Swap(rest[0].digitValue(), rest[1].digitValue());
            else if (kind == '-')
                queue.Remove({rest[0].digitValue(), rest[1].digitValue()});
            else if (kind == 'e')
                queue.SetSource(rest[0].digitValue(), rest.mid(1));
            else if (kind == 'c')
                queue.Clear();
        }
        QCOMPARE(sources(queue), after);
        // Every item keeps an id of its own, found again by it.
        for (int row = 0; row < queue.Count(); ++row) {
            QVERIFY(!ids.contains(queue.At(row).Id));
            ids << queue.At(row).Id;
            QCOMPARE(queue.RowOf(queue.At(row).Id), row);
        }
        QCOMPARE(queue.RowOf(0), -1);
    }

    // What the probe learns of a source, once per path, whatever the encoder says.
    void probe_data()
    {
        QTest::addColumn<QByteArray>("listing"); // the stand-in's answer; "fail": exit 1; empty: no encoder
        QTest::addColumn<qint64>("duration");
        QTest::addColumn<int>("tracks");
        const QByteArray two = "libm9s-tracks 1\\n0\\taac\\t2\\t48000\\teng\\t\\t0\\t61.600\\tstereo\\n"
                               "1\\tac3\\t6\\t48000\\tjpn\\t\\t1\\t125.400\\t5.1(side)\\n";
        QTest::newRow("the default track's length") << two << qint64(125) << 2;
        QTest::newRow("no track") << QByteArray("libm9s-tracks 1\\n") << qint64(0) << 0;
        QTest::newRow("a file it cannot read") << QByteArray("fail") << qint64(0) << 0;
        QTest::newRow("no encoder") << QByteArray() << qint64(0) << 0;
    }

    void probe()
    {
        QFETCH(QByteArray, listing);
        QFETCH(qint64, duration);
        QFETCH(int, tracks);
        QTemporaryDir program;
        const QString calls = program.filePath("calls");
        installStandIn(program, listing);
        TMediaProbe probe(program.path());
        TFileQueue queue;
        queue.SetProbe(&probe);
        QSignalSpy probed(&probe, &TMediaProbe::Probed);
        queue.Append("/v/a.avi");
        queue.Append("/v/b.avi");
        queue.Append("/v/a.avi");
        QTRY_COMPARE_WITH_TIMEOUT(probed.count(), 2, 120000);
        for (int row : {0, 2}) {
            QVERIFY(queue.At(row).Facts.Known);
            QCOMPARE(queue.At(row).Facts.Duration, duration);
            QCOMPARE(queue.At(row).Facts.Tracks.size(), tracks);
        }
        // Known paths are not asked again; a new path in a row is.
        queue.Append("/v/b.avi");
        QVERIFY(queue.At(3).Facts.Known);
        queue.SetSource(0, "/v/c.avi");
        QVERIFY(!queue.At(0).Facts.Known);
        QTRY_VERIFY_WITH_TIMEOUT(queue.At(0).Facts.Known, 120000);
        QVERIFY(probe.IsIdle());
        QCOMPARE(probed.count(), 3);
        if (!listing.isEmpty())
            QCOMPARE(contentOf(calls), QByteArray("-probe /v/a.avi\n-probe /v/b.avi\n-probe /v/c.avi\n"));
    }

    // A file on trial stays when its probe finds sound, and leaves with a word otherwise.
    void trial_data()
    {
        QTest::addColumn<QByteArray>("listing");
        QTest::addColumn<bool>("stays");
        QTest::addColumn<bool>("readable");
        QTest::newRow("a sound track") << QByteArray("libm9s-tracks 1\\n0\\taac\\t2\\t48000\\t\\t\\t0\\t5\\tstereo\\n")
                                       << true << true;
        QTest::newRow("a film without sound") << QByteArray("libm9s-tracks 1\\n") << false << true;
        QTest::newRow("nothing the encoder can read") << QByteArray("fail") << false << false;
        QTest::newRow("no encoder") << QByteArray() << false << false;
    }

    void trial()
    {
        QFETCH(QByteArray, listing);
        QFETCH(bool, stays);
        QFETCH(bool, readable);
        QTemporaryDir program;
        installStandIn(program, listing);
        TMediaProbe probe(program.path());
        TFileQueue queue;
        queue.SetProbe(&probe);
        QSignalSpy left(&queue, &TFileQueue::NoSound);
        queue.Append("/v/plain.avi");
        queue.Append("/v/odd.bin", "/v/shown.bin", TItemState::Checking);
        QCOMPARE(queue.At(1).State, TItemState::Checking);
        QTRY_VERIFY_WITH_TIMEOUT(probe.IsIdle() && queue.At(0).Facts.Known, 120000);
        QCOMPARE(sources(queue), stays ? QStringList({"/v/plain.avi", "/v/odd.bin"}) : QStringList{"/v/plain.avi"});
        QCOMPARE(queue.At(0).State, TItemState::Idle);
        QCOMPARE(left.count(), stays ? 0 : 1);
        if (!stays)
            QCOMPARE(left.first().mid(1), QVariantList({"/v/shown.bin", readable}));
        // Known by now: the same file on trial again is settled at once.
        queue.Append("/v/odd.bin", QString(), TItemState::Checking);
        QCOMPARE(queue.Count(), stays ? 3 : 1);
    }

    // One file however it is written: through "..", a doubled "/" or a link.
    void sameFile_data()
    {
        QTest::addColumn<QString>("queued");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<bool>("held");
        QTest::newRow("the same path") << "a.avi" << "a.avi" << true;
        QTest::newRow("through ..") << "a.avi" << "d/../a.avi" << true;
        QTest::newRow("a doubled separator") << "d//../a.avi" << "a.avi" << true;
        QTest::newRow("through a link") << "a.avi" << "l.avi" << true;
        QTest::newRow("another file") << "a.avi" << "b.avi" << false;
        QTest::newRow("capitals make another name") << "a.avi" << "A.avi" << false;
        QTest::newRow("a missing file by its name") << "gone.avi" << "gone.avi" << true;
    }

    void sameFile()
    {
        QFETCH(QString, queued);
        QFETCH(QString, asked);
        QFETCH(bool, held);
        QTemporaryDir folder;
        writeFile(folder.filePath("a.avi"), "a");
        writeFile(folder.filePath("b.avi"), "b");
        QVERIFY(QDir(folder.path()).mkdir("d"));
        QVERIFY(QFile::link(folder.filePath("a.avi"), folder.filePath("l.avi")));
        TFileQueue queue;
        queue.Append(folder.path() + '/' + queued);
        QCOMPARE(queue.Holds(folder.path() + '/' + asked), held);
        queue.Remove({0});
        QVERIFY(!queue.Holds(folder.path() + '/' + asked));
    }
};

QTEST_GUILESS_MAIN(TestQueue)
#include "tst_queue.moc"
