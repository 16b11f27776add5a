#include "common/TolvaneError.h"
#include "terminal/CommandLine.h"
#include "terminal/TerminalReport.h"

#include <QTest>

#include <cstdio>
#include <cstdlib>

Q_DECLARE_METATYPE(TLaunchMode)

class TestCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void refused_data();
    void refused();
    void convertOptions();
    void report_data();
    void report();
};

namespace {
const QString Here = QStringLiteral("/home/user/videos");
}

void TestCommandLine::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<TLaunchMode>("mode");
    QTest::addColumn<QStringList>("paths");

    const auto window = TLaunchMode::Window;
    QTest::newRow("no arguments opens the window") << QStringList{} << window << QStringList{};
    QTest::newRow("relative, absolute and file: URL")
        << QStringList{"a.mp4", "/tmp/b c.avi", "file:///tmp/%C3%A9.mkv"} << window
        << QStringList{Here + "/a.mp4", "/tmp/b c.avi", "/tmp/é.mkv"};
    QTest::newRow("./-y.mp4 is a file") << QStringList{"./-y.mp4"} << window << QStringList{Here + "/-y.mp4"};
    QTest::newRow("-- ends the options") << QStringList{"--", "-y.mp4", "--convert"} << window
                                         << QStringList{Here + "/-y.mp4", Here + "/--convert"};
    QTest::newRow("a folder with ..") << QStringList{"../clips/"} << window << QStringList{"/home/user/clips"};
    QTest::newRow("convert") << QStringList{"--convert", "a.mp4", "dir"} << TLaunchMode::Convert
                             << QStringList{Here + "/a.mp4", Here + "/dir"};
    QTest::newRow("options after the files")
        << QStringList{"a.mp4", "--convert", "-f", "wav"} << TLaunchMode::Convert << QStringList{Here + "/a.mp4"};
    QTest::newRow("help") << QStringList{"--help"} << TLaunchMode::Help << QStringList{};
    QTest::newRow("short help") << QStringList{"-h"} << TLaunchMode::Help << QStringList{};
    QTest::newRow("version") << QStringList{"--version"} << TLaunchMode::Version << QStringList{};
}

void TestCommandLine::parse()
{
    QFETCH(QStringList, arguments);
    const TCommandLine command = ParseCommandLine(arguments, Here);
    QFETCH(TLaunchMode, mode);
    QFETCH(QStringList, paths);
    QCOMPARE(command.Mode, mode);
    QCOMPARE(command.Paths, paths);
}

void TestCommandLine::refused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("named"); // a word the message must hold

    QTest::newRow("unknown short options") << QStringList{"-y.mp4", "-i.mp4"} << "'-y.mp4'";
    QTest::newRow("a value may begin with a dash") << QStringList{"--convert", "-o", "-out", "-x"} << "'-x'";
    QTest::newRow("unknown long option") << QStringList{"--fast", "a.mp4"} << "fast";
    QTest::newRow("a run option without --convert") << QStringList{"-f", "wav", "a.mp4"} << "format";
    QTest::newRow("convert without files") << QStringList{"--convert", "-f", "wav"} << "file";
    QTest::newRow("unknown format") << QStringList{"--convert", "-f", "aiff", "a"} << "aiff";
    QTest::newRow("format without its value") << QStringList{"--convert", "a", "-f"} << "f";
    QTest::newRow("bit rate not a number") << QStringList{"--convert", "-b", "fast", "a"} << "fast";
    QTest::newRow("three channels") << QStringList{"--convert", "-c", "3", "a"} << "channels";
    QTest::newRow("no jobs") << QStringList{"--convert", "-j", "0", "a"} << "jobs";
    QTest::newRow("track 0: counted from 1") << QStringList{"--convert", "--track", "0", "a"} << "track";
    QTest::newRow("track and language") << QStringList{"--convert", "--track", "2", "--language", "ja", "a"}
                                        << "language";
    QTest::newRow("unknown existing policy") << QStringList{"--convert", "--existing", "ask", "a"} << "ask";
    QTest::newRow("unknown loudness") << QStringList{"--convert", "--loudness", "-30", "a"} << "loudness";
    QTest::newRow("a switch and its no") << QStringList{"--convert", "--keep-folders", "--no-keep-folders", "a"}
                                         << "no-keep-folders";
    QTest::newRow("an exact output for two inputs")
        << QStringList{"--convert", "--output-file", "x.mp3", "a", "b"} << "exactly one input file, not 2";
    QTest::newRow("an exact output and an output folder")
        << QStringList{"--convert", "--output-file", "x.mp3", "-o", "out", "a"} << "--output cannot";
    QTest::newRow("an exact output and kept folders")
        << QStringList{"--convert", "--output-file", "x.mp3", "--keep-folders", "a"} << "--keep-folders cannot";
    QTest::newRow("an exact output and chapter files")
        << QStringList{"--convert", "--output-file", "x.mp3", "--split-chapters", "a"} << "--split-chapters cannot";
    QTest::newRow("an exact output's extension says no format")
        << QStringList{"--convert", "--output-file", "x.MP4", "a"} << "'" + Here + "/x.MP4'";
    QTest::newRow("an exact output without an extension")
        << QStringList{"--convert", "--output-file", "out/", "a"} << "extension that says the format";
    QTest::newRow("a format its exact output's extension contradicts")
        << QStringList{"--convert", "-f", "wav", "--output-file", "x.flac", "a"} << "to end in .wav";
    QTest::newRow("unknown progress style") << QStringList{"--convert", "--progress", "xml", "a"} << "xml";
}

void TestCommandLine::refused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);
    try {
        ParseCommandLine(arguments, Here);
        QFAIL("accepted");
    } catch (const TolvaneError &error) {
        QVERIFY2(error.text().contains(named), qPrintable(error.text()));
    }
}

void TestCommandLine::convertOptions()
{
    const TCommandLine given = ParseCommandLine({"--convert",
                                                 "-fFLAC",
                                                 "-b",
                                                 "192",
                                                 "--rate=48000",
                                                 "-c",
                                                 "1",
                                                 "-o",
                                                 "out",
                                                 "-j2",
                                                 "--track",
                                                 "2",
                                                 "--existing",
                                                 "rename",
                                                 "--keep-folders",
                                                 "--skip-up-to-date",
                                                 "-q",
                                                 "--loudness",
                                                 "-16",
                                                 "--split-chapters",
                                                 "a.mp4"},
                                                Here);
    const TConvertOptions &o = given.Convert;
    QCOMPARE(o.Format, QString("flac"));
    QCOMPARE(o.Bitrate, 192);
    QCOMPARE(o.SampleRate, 48000);
    QCOMPARE(o.Channels, 1);
    QCOMPARE(o.OutputFolder, Here + "/out");
    QCOMPARE(o.Jobs, 2);
    QCOMPARE(o.AudioTrack, 1);
    QCOMPARE(o.Existing, TExistingPolicy::Rename);
    QCOMPARE(o.Loudness, QString("-16"));
    QVERIFY(o.KeepFolders.value_or(false) && o.SplitChapters.value_or(false) && o.SkipUpToDate && o.Quiet);

    // Nothing given: config.ini decides, and nobody is asked about existing files.
    const TConvertOptions bare = ParseCommandLine({"--convert", "a.mp4"}, Here).Convert;
    QVERIFY(!bare.Format && !bare.Bitrate && !bare.OutputFolder && !bare.AudioTrack && !bare.KeepFolders);
    QCOMPARE(bare.Existing, TExistingPolicy::Skip);
    QVERIFY(!bare.SkipUpToDate && !bare.Quiet);
    QCOMPARE(bare.Progress, TProgressStyle::Text);

    // An exact output says its format and turns off what config.ini could turn on.
    const TConvertOptions exact =
        ParseCommandLine({"--convert", "--output-file", "../x/Y.Opus", "--progress", "JSON", "a.mp4"}, Here).Convert;
    QCOMPARE(exact.OutputFile, QString("/home/user/x/Y.Opus"));
    QCOMPARE(exact.Format, QString("opus"));
    QVERIFY(exact.KeepFolders == false && exact.SplitChapters == false);
    QCOMPARE(exact.Progress, TProgressStyle::Json);
    QCOMPARE(ParseCommandLine({"--convert", "-f", "copy", "--output-file", "x.mka", "a"}, Here).Convert.Format,
             QString("copy"));
}

// What a terminal run prints, as the lines of the stream.
void TestCommandLine::report_data()
{
    QTest::addColumn<bool>("live");
    QTest::addColumn<bool>("quiet");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("status");
    const QString summary = "Conversion finished. Files converted: 1 of 3, in 2.5 s. Skipped: 1. Failed: 1.\n";
    const QString lines =
        "done: a.mp4\nfailed: b.avi (no sound track)\nskipped: c.mkv (the output is up to date)\n" + summary;
    QTest::newRow("plain") << false << false << lines << 1;
    QTest::newRow("quiet: failures and the summary")
        << false << true << "failed: b.avi (no sound track)\n" + summary << 1;
    QString live = "\r\x1b[K50% · 0 of 3 files · about 1 min 5 s left\r\x1b[K" + lines;
    QTest::newRow("live line cleared before each line") << true << false << live << 1;
}

void TestCommandLine::report()
{
    QFETCH(bool, live);
    QFETCH(bool, quiet);
    QFETCH(QString, expected);
    QFETCH(int, status);
    char *buffer = nullptr;
    size_t size = 0;
    FILE *stream = open_memstream(&buffer, &size);
    {
        TTerminalReport report(stream, live, quiet);
        report.Expect(3);
        report.Progress(50, 0, 3, 65);
        report.FileEnded(TFileOutcome::Converted, "a.mp4", {});
        report.FileEnded(TFileOutcome::Failed, "b.avi", "no sound track");
        report.FileEnded(TFileOutcome::Skipped, "c.mkv", "the output is up to date");
        report.Summary(2500);
        QCOMPARE(report.ExitStatus(), status);
    }
    std::fclose(stream);
    const QString printed = QString::fromUtf8(buffer, qsizetype(size));
    std::free(buffer);
    QCOMPARE(printed, expected);

    TRunTally stopped;
    stopped.Expect(2);
    stopped.Record(TFileOutcome::Stopped, "a.mp4", {});
    QCOMPARE(TTerminalReport::SummaryLine(stopped, 75000, true),
             QString("Conversion stopped. Files converted: 0 of 2, in 1 min 15 s. Stopped: 1."));
    QCOMPARE(TTerminalReport::ProgressLine(7, 1, 9, -1), QString("7% · 1 of 9 files"));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
