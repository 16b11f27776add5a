#include "conversion/EncoderOutput.h"
#include "conversion/FileReport.h"
#include "support/ErrorOf.h"

#include <QLocale>
#include <QTest>

namespace {
QString durationMarker(const QString &value)
{
    return QStringLiteral("ffmpeg_release_duration=") + value + QStringLiteral("=ffmpeg_release_duration");
}

QString timeMarker(const QString &value)
{
    return QStringLiteral("ffmpeg_release_time=") + value + QStringLiteral("=ffmpeg_release_time");
}
}

class TestEncoderOutput : public QObject
{
    Q_OBJECT

private slots:
    void extractMarked_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one pair") << "x [a]" << "a";
        QTest::newRow("the last pair wins") << "[a] [b]" << "b";
        QTest::newRow("a cut-off pair is passed over") << "[a] [b" << "a";
        QTest::newRow("close without open") << "a]" << "";
        QTest::newRow("open only after the close") << "a] [b" << "";
        QTest::newRow("nothing") << "" << "";
        QTest::newRow("empty value") << "[]" << "";
        QTest::newRow("open reaching the close") << "[[]" << "";
    }

    void extractMarked()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(ExtractMarked(text, QStringLiteral("["), QStringLiteral("]")), expected);
    }

    void extractMarkedWithEncoderMarkers()
    {
        // Two reports in one chunk, the second cut off by the reader.
        const QString chunk = timeMarker("1.00") + "\r" + timeMarker("2.50") + "\r" + "ffmpeg_release_time=3.7";
        QCOMPARE(ExtractMarked(chunk, "ffmpeg_release_time=", "=ffmpeg_release_time"), QStringLiteral("2.50"));
    }

    void splitText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("plain") << "1:2:3" << ":" << QStringList{"1", "2", "3"};
        QTest::newRow("empty pieces dropped") << ":1::2:3:" << ":" << QStringList{"1", "2", "3"};
        QTest::newRow("no separator") << "abc" << ":" << QStringList{"abc"};
        QTest::newRow("only separators") << ":::" << ":" << QStringList{};
        QTest::newRow("empty") << "" << ":" << QStringList{};
        QTest::newRow("longer separator") << "a<>b<><>c" << "<>" << QStringList{"a", "b", "c"};
    }

    void splitText()
    {
        QFETCH(QString, text);
        QFETCH(QString, separator);
        QFETCH(QStringList, expected);
        QCOMPARE(SplitText(text, separator), expected);
    }

    void clockToSeconds_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("seconds");
        QTest::newRow("worked example") << "00:03:25.40" << qint64(205);
        QTest::newRow("short pieces") << "1:2:3.0" << qint64(3723);
        QTest::newRow("empty piece dropped") << "1::2:3.0" << qint64(3723);
        QTest::newRow("two clock pieces") << "1:2.0" << qint64(0);
        QTest::newRow("no fraction") << "00:03:25" << qint64(0);
        QTest::newRow("two fractions") << "00:03:25.4.0" << qint64(0);
        QTest::newRow("half a second") << "00:00:00.50" << qint64(0);
        QTest::newRow("empty") << "" << qint64(0);
        QTest::newRow("over a hundred hours") << "100:00:01.00" << qint64(360001);
    }

    void clockToSeconds()
    {
        QFETCH(QString, text);
        QFETCH(qint64, seconds);
        QCOMPARE(ClockToSeconds(text), seconds);
    }

    void clockToSecondsRejectsBadNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error");
        QTest::newRow("letters in the hours") << "0x:03:25.40" << "'0x' is not a valid integer value";
        QTest::newRow("bad fraction") << "00:03:25.4a" << "'4a' is not a valid integer value";
        QTest::newRow("blank inside") << "00: 3:25.40" << "' 3' is not a valid integer value";
        QTest::newRow("beyond 32 bits") << "9999999999:00:00.0" << "'9999999999' is not a valid integer value";
    }

    void clockToSecondsRejectsBadNumbers()
    {
        QFETCH(QString, text);
        QFETCH(QString, error);
        QCOMPARE(ErrorOf([&] { ClockToSeconds(text); }), error);
    }

    void secondsToClock_data()
    {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("clock");
        QTest::newRow("zero") << qint64(0) << "00:00:00";
        QTest::newRow("one") << qint64(1) << "00:00:01";
        QTest::newRow("mixed") << qint64(5025) << "01:23:45";
        QTest::newRow("a hundred hours") << qint64(360000) << "100:00:00";
        QTest::newRow("worked example") << qint64(205) << "00:03:25";
    }

    void secondsToClock()
    {
        QFETCH(qint64, seconds);
        QFETCH(QString, clock);
        QCOMPARE(SecondsToClock(seconds), clock);
    }

    void roundedSeconds_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("seconds");
        QTest::newRow("half down to even") << "0.5" << qint64(0);
        QTest::newRow("half up to even") << "1.5" << qint64(2);
        QTest::newRow("2.5 to even") << "2.5" << qint64(2);
        QTest::newRow("3.5 to even") << "3.5" << qint64(4);
        QTest::newRow("worked example") << "102.5" << qint64(102);
        QTest::newRow("below half") << "12.34" << qint64(12);
        QTest::newRow("whole") << "7" << qint64(7);
    }

    void roundedSeconds()
    {
        QFETCH(QString, text);
        QFETCH(qint64, seconds);
        QCOMPARE(RoundedSeconds(text), seconds);
    }

    void roundedSecondsIgnoresTheLocale()
    {
        const QLocale previous;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const qint64 seconds = RoundedSeconds(QStringLiteral("12.75"));
        const QString error = ErrorOf([] { RoundedSeconds(QStringLiteral("12,75")); });
        QLocale::setDefault(previous);
        QCOMPARE(seconds, qint64(13));
        QCOMPARE(error, QStringLiteral("'12,75' is not a valid floating point value"));
    }

    void roundedSecondsRejectsNonNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("word") << "N/A";
        QTest::newRow("infinite") << "inf";
        QTest::newRow("not a number") << "nan";
        QTest::newRow("too large") << "1e300";
        QTest::newRow("group separator") << "1,000.5";
    }

    void roundedSecondsRejectsNonNumbers()
    {
        QFETCH(QString, text);
        QCOMPARE(ErrorOf([&] { RoundedSeconds(text); }),
                 QStringLiteral("'%1' is not a valid floating point value").arg(text));
    }

    void progressChunk_data()
    {
        QTest::addColumn<QString>("chunk");
        QTest::addColumn<qint64>("durationBefore");
        QTest::addColumn<qint64>("maxBefore");
        QTest::addColumn<int>("percent");
        QTest::addColumn<QString>("endClock");
        QTest::addColumn<qint64>("durationAfter");
        QTest::addColumn<qint64>("maxAfter");
        QTest::addColumn<QString>("leftClock"); // the status line counts down from the highest time

        QTest::newRow("worked example") << durationMarker("00:03:25.40") + "\r" + timeMarker("102.5") << qint64(0)
                                        << qint64(0) << 50 << "00:03:25" << qint64(205) << qint64(102) << "00:01:43";
        QTest::newRow("later report of two wins")
            << timeMarker("1.00") + "\r" + timeMarker("2.50") << qint64(100) << qint64(0) << 2 << "00:01:40"
            << qint64(100) << qint64(2) << "00:01:38";
        QTest::newRow("zero duration gives length one")
            << durationMarker("00:00:00.50") + timeMarker("1.0") << qint64(7) << qint64(0) << 99 << "00:00:01"
            << qint64(0) << qint64(1) << "00:00:01";
        QTest::newRow("time equal to length shows 99") << timeMarker("60.0") << qint64(60) << qint64(0) << 99
                                                       << "00:01:00" << qint64(60) << qint64(60) << "00:00:00";
        QTest::newRow("no marker uses the highest time") << "size=  1024kB" << qint64(200) << qint64(50) << 25
                                                         << "00:03:20" << qint64(200) << qint64(50) << "00:02:30";
        QTest::newRow("empty chunk") << "" << qint64(0) << qint64(0) << 0 << "00:00:01" << qint64(0) << qint64(0)
                                     << "00:00:01";
        QTest::newRow("a lower time is shown, the highest kept")
            << timeMarker("20.0") << qint64(100) << qint64(40) << 20 << "00:01:40" << qint64(100) << qint64(40)
            << "00:01:00";
        QTest::newRow("blanks and control characters trimmed")
            << durationMarker(" \t00:01:40.00\r") + timeMarker(" 50.0\n") << qint64(0) << qint64(0) << 50 << "00:01:40"
            << qint64(100) << qint64(50) << "00:00:50";
        QTest::newRow("negative time shows 0") << timeMarker("-5.0") << qint64(100) << qint64(0) << 0 << "00:01:40"
                                               << qint64(100) << qint64(0) << "00:01:40";
    }

    void progressChunk()
    {
        QFETCH(QString, chunk);
        QFETCH(qint64, durationBefore);
        QFETCH(qint64, maxBefore);
        QFETCH(int, percent);
        QFETCH(QString, endClock);
        QFETCH(qint64, durationAfter);
        QFETCH(qint64, maxAfter);
        QFETCH(QString, leftClock);

        TProgressState state{durationBefore, maxBefore};
        const TProgressView view = ReadProgressChunk(chunk, state);
        QCOMPARE(view.Percent, percent);
        QCOMPARE(view.EndClock, endClock);
        QCOMPARE(view.LeftClock, leftClock);
        QCOMPARE(state.Duration, durationAfter);
        QCOMPARE(state.MaxTime, maxAfter);
    }

    void badTimeKeepsTheDurationReadBeforeIt()
    {
        TProgressState state;
        const QString chunk = durationMarker("00:01:00.00") + timeMarker("12:5");
        QCOMPARE(ErrorOf([&] { ReadProgressChunk(chunk, state); }),
                 QStringLiteral("'12:5' is not a valid floating point value"));
        QCOMPARE(state.Duration, qint64(60));
        QCOMPARE(state.MaxTime, qint64(0));
    }

    void formatText_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "Converting %s" << "Converting 2/5";
        QTest::newRow("upper case") << "Converting %S" << "Converting 2/5";
        QTest::newRow("indexed") << "%0:s of it" << "2/5 of it";
        QTest::newRow("width") << "[%6s]" << "[   2/5]";
        QTest::newRow("left aligned") << "[%-6s]" << "[2/5   ]";
        QTest::newRow("precision") << "[%.1s]" << "[2]";
        QTest::newRow("percent sign") << "100%% %s" << "100% 2/5";
        QTest::newRow("no placeholder") << "Converting" << "Converting";
    }

    void formatText()
    {
        QFETCH(QString, format);
        QFETCH(QString, expected);
        QCOMPARE(FormatText(format, {QStringLiteral("2/5")}), expected);
    }

    void formatTextRejectsOtherPlaceholders_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("error");
        QTest::newRow("number") << "%d files" << "Format '%d files' invalid or incompatible with argument";
        QTest::newRow("second argument") << "%s of %s" << "No argument for format '%s of %s'";
        QTest::newRow("index out of range") << "%1:s" << "No argument for format '%1:s'";
        QTest::newRow("lone percent at the end") << "50%" << "Format '50%' invalid or incompatible with argument";
    }

    void formatTextRejectsOtherPlaceholders()
    {
        QFETCH(QString, format);
        QFETCH(QString, error);
        QCOMPARE(ErrorOf([&] { FormatText(format, {QStringLiteral("2/5")}); }), error);
    }

    // A language's status text is used only when it can be formatted.
    void usableStatusRunText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("usable");
        QTest::newRow("one %s") << "Converting file %s" << true;
        QTest::newRow("no placeholder") << "Converting" << true;
        QTest::newRow("empty") << "" << true;
        QTest::newRow("number") << "%d" << false;
        QTest::newRow("two arguments") << "%s of %s" << false;
        QTest::newRow("lone percent") << "100%" << false;
    }

    void usableStatusRunText()
    {
        QFETCH(QString, text);
        QFETCH(bool, usable);
        QCOMPARE(UsableStatusRunText(text, QStringLiteral("fallback %s")),
                 usable ? text : QStringLiteral("fallback %s"));
    }

    void statusText()
    {
        QCOMPARE(ProgressStatusText(QStringLiteral("Converting file %s"), 2, 5, QStringLiteral("00:03:25"),
                                    QStringLiteral("/videos/a clip.avi")),
                 QStringLiteral("Converting file 2/5 [-00:03:25] /videos/a clip.avi"));
    }

    // What a row's tool tip and the end message say of how a file ended.
    void reportText_data()
    {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<qint64>("read");
        QTest::addColumn<qint64>("declared");
        QTest::addColumn<bool>("oldKept");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("chapter");    // of 3, the chapter the file ended in; 0: one file of the whole
        QTest::addColumn<QString>("output"); // the file written, and how: "beside" its source, a "part" a stop kept
        QTest::addColumn<QString>("how");
        const int failed = int(TFileOutcome::Failed);
        const int incomplete = int(TFileOutcome::Incomplete);
        QTest::newRow("failed, in the user's words, then the encoder's")
            << failed << "nosound" << qint64(0) << qint64(0) << false << "Silent. (why)" << 0 << QString() << QString();
        QTest::newRow("unknown kind is any other failure")
            << failed << "newkind" << qint64(0) << qint64(0) << false << "Failed. (why)" << 0 << QString() << QString();
        QTest::newRow("failed over an old file") << failed << "check" << qint64(0) << qint64(0) << true
                                                 << "Unchecked. (why). Old kept." << 0 << QString() << QString();
        QTest::newRow("a folder failure names the folder, not the system's words")
            << failed << "folderaccess" << qint64(0) << qint64(0) << false << "May not write to /out." << 0 << QString()
            << QString();
        QTest::newRow("ends early") << incomplete << "" << qint64(723) << qint64(2700) << false
                                    << "ends at 12:03 of 45:00" << 0 << QString() << QString();
        QTest::newRow("ends early, hours") << incomplete << "" << qint64(3723) << qint64(36000) << true
                                           << "ends at 1:02:03 of 10:00:00. Old kept." << 0 << QString() << QString();
        QTest::newRow("ends early, times unreadable")
            << incomplete << "" << qint64(0) << qint64(0) << false << "ends at ? of ?" << 0 << QString() << QString();
        QTest::newRow("stopped over an old file") << int(TFileOutcome::Stopped) << "" << qint64(0) << qint64(0) << true
                                                  << "Old kept." << 0 << QString() << QString();
        QTest::newRow("converted") << int(TFileOutcome::Converted) << "" << qint64(0) << qint64(0) << false << "" << 0
                                   << QString() << QString();
        QTest::newRow("failed in a chapter") << failed << "nosound" << qint64(0) << qint64(0) << false
                                             << "ch 2/3: Silent. (why)" << 2 << QString() << QString();
        QTest::newRow("stopped in a chapter") << int(TFileOutcome::Stopped) << "" << qint64(0) << qint64(0) << false
                                              << "ch 3/3" << 3 << QString() << QString();
        const int converted = int(TFileOutcome::Converted);
        const int stopped = int(TFileOutcome::Stopped);
        QTest::newRow("named beside its own source")
            << converted << "" << qint64(0) << qint64(0) << false << "Beside as clip.mp3(1).mp3." << 0
            << "/out/clip.mp3(1).mp3" << "beside";
        QTest::newRow("a stop kept the part, under a name that says so")
            << stopped << "" << qint64(450) << qint64(3600) << false << "7:30 of 1:00:00 in long (at 7m30s).mp3." << 0
            << "/out/long (at 7m30s).mp3" << "part";
        QTest::newRow("a stop kept nothing of a replacement: the old file stays")
            << stopped << "" << qint64(0) << qint64(0) << true << "Old kept." << 0 << QString() << QString();
    }

    void reportText()
    {
        QFETCH(int, outcome);
        QFETCH(QString, kind);
        QFETCH(qint64, read);
        QFETCH(qint64, declared);
        QFETCH(bool, oldKept);
        QFETCH(QString, text);
        QFETCH(int, chapter);
        QFETCH(QString, output);
        QFETCH(QString, how);
        const TReportTexts texts{{{"nosound", "Silent."},
                                  {"check", "Unchecked."},
                                  {"other", "Failed."},
                                  {"folderaccess", "May not write to %s."}},
                                 "ends at %s of %s",
                                 "Old kept.",
                                 "ch %s/%s",
                                 "Beside as %s.",
                                 "%s of %s in %s."};
        const TFileReport report{outcome == int(TFileOutcome::Failed) ? "why" : "",
                                 kind,
                                 read,
                                 declared,
                                 oldKept,
                                 kind.startsWith("folder") ? "/out" : "",
                                 chapter,
                                 3,
                                 0,
                                 output,
                                 how == "beside",
                                 how == "part"};
        QCOMPARE(ReportText(TFileOutcome(outcome), report, texts), text);
    }
};

QTEST_GUILESS_MAIN(TestEncoderOutput)

#include "tst_encoderoutput.moc"
