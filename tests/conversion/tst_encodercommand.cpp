#include "conversion/CommandLineBuilder.h"
#include "conversion/EncoderCommand.h"
#include "libm9s/EncoderContract.h"

#include <QTest>

class TestEncoderCommand : public QObject
{
    Q_OBJECT
private slots:
    void bitrateOfIndex_data();
    void bitrateOfIndex();
    void sampleRateOfIndex_data();
    void sampleRateOfIndex();
    void outputExt_data();
    void outputExt();
    void formats_data();
    void formats();
    void encoderThreads_data();
    void encoderThreads();
    void command_data();
    void command();
    void sameBuilderServesEveryFile();
};

void TestEncoderCommand::bitrateOfIndex_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("value");
    const int values[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 350};
    for (int position = 0; position < 18; ++position)
        QTest::addRow("%d", position) << position << values[position];
    QTest::newRow("before the list") << -1 << 128;
    QTest::newRow("after the list") << 18 << 128;
}

void TestEncoderCommand::bitrateOfIndex()
{
    QFETCH(int, position);
    QFETCH(int, value);
    QCOMPARE(BitrateOfIndex(position), value);
}

void TestEncoderCommand::sampleRateOfIndex_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("value");
    const int values[] = {6000, 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 88200, 96000};
    for (int position = 0; position < 12; ++position)
        QTest::addRow("%d", position) << position << values[position];
    QTest::newRow("before the list") << -1 << 44100;
    QTest::newRow("after the list") << 12 << 44100;
}

void TestEncoderCommand::sampleRateOfIndex()
{
    QFETCH(int, position);
    QFETCH(int, value);
    QCOMPARE(SampleRateOfIndex(position), value);
}

void TestEncoderCommand::outputExt_data()
{
    QTest::addColumn<bool>("wav");
    QTest::addColumn<bool>("mp3");
    QTest::addColumn<QString>("ext");
    QTest::newRow("WAV") << true << false << "wav";
    QTest::newRow("MP3") << false << true << "mp3";
    QTest::newRow("MP3 is tested last") << true << true << "mp3";
    QTest::newRow("neither: the default") << false << false << "mp3";
}

void TestEncoderCommand::outputExt()
{
    QFETCH(bool, wav);
    QFETCH(bool, mp3);
    QFETCH(QString, ext);
    QCOMPARE(OutputExtOf(wav, mp3), ext);
}

void TestEncoderCommand::formats_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("bitrate");
    QTest::addColumn<bool>("rateAndChannels");
    QTest::newRow("wav") << "wav" << "wav" << false << true;
    QTest::newRow("mp3") << "mp3" << "mp3" << true << true;
    QTest::newRow("flac") << "FLAC" << "flac" << false << true;
    QTest::newRow("m4a") << " m4a " << "m4a" << true << true;
    QTest::newRow("opus") << "opus" << "opus" << true << true;
    QTest::newRow("ogg") << "Ogg" << "ogg" << true << true;
    QTest::newRow("copy") << "copy" << "copy" << false << false;
    QTest::newRow("unknown: mp3") << "aiff" << "mp3" << true << true;
    QTest::newRow("empty: mp3") << "" << "mp3" << true << true;
}

void TestEncoderCommand::formats()
{
    QFETCH(QString, stored);
    QFETCH(QString, format);
    QFETCH(bool, bitrate);
    QFETCH(bool, rateAndChannels);
    QCOMPARE(KnownOutputFormat(stored), format);
    QCOMPARE(FormatUsesBitrate(stored), bitrate);
    QCOMPARE(FormatUsesRateAndChannels(stored), rateAndChannels);
}

void TestEncoderCommand::encoderThreads_data()
{
    QTest::addColumn<int>("cores");
    QTest::addColumn<int>("parallel");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("threads");
    QTest::newRow("one file at a time gets every core") << 6 << 1 << 5 << 6;
    QTest::newRow("two at once share them") << 6 << 2 << 5 << 3;
    QTest::newRow("the last file gets every core") << 6 << 2 << 1 << 6;
    QTest::newRow("more files at once than cores: one each") << 2 << 4 << 9 << 1;
    QTest::newRow("cores that do not divide evenly") << 8 << 3 << 3 << 2;
    QTest::newRow("no core known: one") << 0 << 1 << 1 << 1;
}

void TestEncoderCommand::encoderThreads()
{
    QFETCH(int, cores);
    QFETCH(int, parallel);
    QFETCH(int, left);
    QFETCH(int, threads);
    QCOMPARE(EncoderThreads(cores, parallel, left), threads);
}

void TestEncoderCommand::command_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("ext");
    QTest::addColumn<int>("bitrate");
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("track");
    QTest::addColumn<QString>("loudness"); // [setting] loudness
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("threads");

    QTest::newRow("defaults")
        << "/opt/tolvane/" << "/v/clip.avi" << "/m/clip.mp3" << "mp3" << 128 << 44100 << 2 << -1 << ""
        << "/opt/tolvane/libm9s -i /v/clip.avi  -y  -f mp3  -vn  -ab 128  -ar 44100  -ac 2  /m/clip.mp3"
        << QStringList{"-i",  "/v/clip.avi", "-y",    "-f",  "mp3", "-vn",        "-ab",
                       "128", "-ar",         "44100", "-ac", "2",   "/m/clip.mp3"}
        << 0;
    QTest::newRow("mono, 8 kbit/s, 6000 Hz, WAV")
        << "/opt/tolvane/" << "/v/clip.avi" << "/m/clip.wav" << "wav" << 8 << 6000 << 1 << -1 << ""
        << "/opt/tolvane/libm9s -i /v/clip.avi  -y  -f wav  -vn  -ab 8  -ar 6000  -ac 1  /m/clip.wav"
        << QStringList{"-i", "/v/clip.avi", "-y",   "-f",  "wav", "-vn",        "-ab",
                       "8",  "-ar",         "6000", "-ac", "1",   "/m/clip.wav"}
        << 0;
    QTest::newRow("blanks stay inside one argument")
        << "/my apps/tolvane/" << "/my videos/a b.avi" << "/my music/a b.mp3"
        << "mp3" << 350 << 96000 << 2 << -1 << ""
        << "/my apps/tolvane/libm9s -i /my videos/a b.avi  -y  -f mp3  -vn  -ab 350  -ar 96000  -ac 2  /my music/a "
           "b.mp3"
        << QStringList{"-i", "/my videos/a b.avi", "-y", "-f", "mp3", "-vn", "-ab", "350", "-ar", "96000", "-ac",
                       "2",  "/my music/a b.mp3"}
        << 0;
    QTest::newRow("no source: no input option")
        << "/opt/tolvane/" << "" << "/m/gone.mp3" << "mp3" << 128 << 44100 << 2 << -1 << ""
        << "/opt/tolvane/libm9s -y  -f mp3  -vn  -ab 128  -ar 44100  -ac 2  /m/gone.mp3"
        << QStringList{"-y", "-f", "mp3", "-vn", "-ab", "128", "-ar", "44100", "-ac", "2", "/m/gone.mp3"} << 0;
    QTest::newRow("folder without its slash")
        << "/opt/tolvane" << "/v/a.avi" << "/m/a.mp3" << "mp3" << 128 << 44100 << 2 << -1 << ""
        << "/opt/tolvane/libm9s -i /v/a.avi  -y  -f mp3  -vn  -ab 128  -ar 44100  -ac 2  /m/a.mp3"
        << QStringList{"-i", "/v/a.avi", "-y", "-f", "mp3", "-vn", "-ab", "128", "-ar", "44100", "-ac", "2", "/m/a.mp3"}
        << 0;
    QTest::newRow("FLAC, third track")
        << "/p/" << "/v/a.mkv" << "/m/a.flac" << "flac" << 128 << 48000 << 2 << 2 << ""
        << "/p/libm9s -i /v/a.mkv  -y  -f flac  -vn  -ab 128  -ar 48000  -ac 2  -map 0:a:2  /m/a.flac"
        << QStringList{"-i",  "/v/a.mkv", "-y",  "-f", "flac", "-vn",   "-ab",      "128",
                       "-ar", "48000",    "-ac", "2",  "-map", "0:a:2", "/m/a.flac"}
        << 0;
    QTest::newRow("Opus keeps the bit rate, named in capitals")
        << "/p/" << "/v/a.mkv" << "/m/a.opus" << "OPUS" << 96 << 48000 << 1 << -1 << ""
        << "/p/libm9s -i /v/a.mkv  -y  -f opus  -vn  -ab 96  -ar 48000  -ac 1  /m/a.opus"
        << QStringList{"-i", "/v/a.mkv", "-y",    "-f",  "opus", "-vn",      "-ab",
                       "96", "-ar",      "48000", "-ac", "1",    "/m/a.opus"}
        << 0;
    QTest::newRow("unknown format name: MP3")
        << "/p/" << "/v/a.mkv" << "/m/a.mp3" << "aiff" << 128 << 44100 << 2 << -1 << ""
        << "/p/libm9s -i /v/a.mkv  -y  -f mp3  -vn  -ab 128  -ar 44100  -ac 2  /m/a.mp3"
        << QStringList{"-i", "/v/a.mkv", "-y", "-f", "mp3", "-vn", "-ab", "128", "-ar", "44100", "-ac", "2", "/m/a.mp3"}
        << 0;
    QTest::newRow("copy: no format, rate or channels")
        << "/p/" << "/v/a.mp4" << "/m/a.m4a" << "copy" << 128 << 48000 << 2 << 0 << ""
        << "/p/libm9s -i /v/a.mp4  -y  -vn  -acodec copy  -map 0:a:0  /m/a.m4a"
        << QStringList{"-i", "/v/a.mp4", "-y", "-vn", "-acodec", "copy", "-map", "0:a:0", "/m/a.m4a"} << 0;
    QTest::newRow("MP3 to -16 LUFS")
        << "/p/" << "/v/a.mkv" << "/m/a.mp3" << "mp3" << 128 << 44100 << 2 << -1 << "-16"
        << "/p/libm9s -i /v/a.mkv  -y  -f mp3  -vn  -ab 128  -ar 44100  -ac 2  -loudness -16  /m/a.mp3"
        << QStringList{"-i",  "/v/a.mkv", "-y",  "-f", "mp3",       "-vn", "-ab",     "128",
                       "-ar", "44100",    "-ac", "2",  "-loudness", "-16", "/m/a.mp3"}
        << 0;
    QTest::newRow("tags on a copy") << "/p/" << "/v/a.mkv" << "/m/a.opus" << "copy" << 128 << 48000 << 2 << -1
                                    << "replaygain"
                                    << "/p/libm9s -i /v/a.mkv  -y  -vn  -acodec copy  -replaygain  /m/a.opus"
                                    << QStringList{"-i",      "/v/a.mkv", "-y",          "-vn",
                                                   "-acodec", "copy",     "-replaygain", "/m/a.opus"}
                                    << 0;
    QTest::newRow("a copy keeps its loudness")
        << "/p/" << "/v/a.mkv" << "/m/a.opus" << "copy" << 128 << 48000 << 2 << -1 << "-14"
        << "/p/libm9s -i /v/a.mkv  -y  -vn  -acodec copy  /m/a.opus"
        << QStringList{"-i", "/v/a.mkv", "-y", "-vn", "-acodec", "copy", "/m/a.opus"} << 0;
    QTest::newRow("FLAC on four threads")
        << "/p/" << "/v/a.mkv" << "/m/a.flac" << "flac" << 128 << 44100 << 2 << -1 << ""
        << "/p/libm9s -i /v/a.mkv  -y  -f flac  -vn  -ab 128  -ar 44100  -ac 2  -threads 4  /m/a.flac"
        << QStringList{"-i",  "/v/a.mkv", "-y",  "-f", "flac",     "-vn", "-ab",      "128",
                       "-ar", "44100",    "-ac", "2",  "-threads", "4",   "/m/a.flac"}
        << 4;
    QTest::newRow("a copy takes no threads")
        << "/p/" << "/v/a.mkv" << "/m/a.opus" << "copy" << 128 << 48000 << 2 << -1 << ""
        << "/p/libm9s -i /v/a.mkv  -y  -vn  -acodec copy  /m/a.opus"
        << QStringList{"-i", "/v/a.mkv", "-y", "-vn", "-acodec", "copy", "/m/a.opus"} << 2;
    QTest::newRow("off") << "/p/" << "/v/a.mkv" << "/m/a.wav" << "wav" << 128 << 44100 << 2 << -1 << "off"
                         << "/p/libm9s -i /v/a.mkv  -y  -f wav  -vn  -ab 128  -ar 44100  -ac 2  /m/a.wav"
                         << QStringList{"-i",  "/v/a.mkv", "-y",    "-f",  "wav", "-vn",     "-ab",
                                        "128", "-ar",      "44100", "-ac", "2",   "/m/a.wav"}
                         << 0;
}

void TestEncoderCommand::command()
{
    QFETCH(QString, folder);
    QFETCH(QString, source);
    QFETCH(QString, target);
    QFETCH(QString, ext);
    QFETCH(int, bitrate);
    QFETCH(int, sampleRate);
    QFETCH(int, channels);
    QFETCH(int, track);
    QFETCH(QString, loudness);
    QFETCH(QString, line);
    QFETCH(QStringList, arguments);
    QFETCH(int, threads);

    TFFMpeg ffmpeg;
    const TEncoderCommand command =
        BuildEncoderCommand(ffmpeg, folder,
                            TEncoderRequest{source, target, FormatOfName(ext), bitrate, sampleRate, channels, track,
                                            false, loudness, threads});
    QCOMPARE(command.CommandLine, line);
    QCOMPARE(command.Arguments, arguments);
    QCOMPARE(command.Program, line.left(line.indexOf(QLatin1String("libm9s")) + 6));
}

void TestEncoderCommand::sameBuilderServesEveryFile()
{
    // Each call overwrites what the previous file set; nothing leaks across.
    TFFMpeg ffmpeg;
    // The output check, asked for once, comes last before the output, as libm9s expects it.
    TEncoderRequest checked{"/v/zero.mkv", "/m/zero.ac3", TOutputFormat::Copy, 8, 6000, 1, 1};
    checked.VerifyOutput = true;
    const QStringList checkedArguments = BuildEncoderCommand(ffmpeg, "/p/", checked).Arguments;
    QCOMPARE(checkedArguments.mid(checkedArguments.size() - 2),
             (QStringList{EncoderContract::VerifyOption, "/m/zero.ac3"}));
    // One chapter alone: libm9s's own option, after the check.
    TEncoderRequest chapter{"/v/talk.mkv", "/m/talk - 02.mp3", TOutputFormat::Mp3, 128, 44100, 2};
    chapter.Chapter = 2;
    chapter.VerifyOutput = true;
    const QStringList chapterArguments = BuildEncoderCommand(ffmpeg, "/p/", chapter).Arguments;
    QCOMPARE(chapterArguments.mid(chapterArguments.size() - 4),
             (QStringList{EncoderContract::VerifyOption, EncoderContract::ChapterOption, "2", "/m/talk - 02.mp3"}));
    BuildEncoderCommand(ffmpeg, "/p/", {"/v/first.avi", "/m/first.wav", TOutputFormat::Wav, 8, 6000, 1});
    const TEncoderCommand second =
        BuildEncoderCommand(ffmpeg, "/p/", {"/v/second.avi", "/m/second.mp3", TOutputFormat::Mp3, 320, 48000, 2});
    QCOMPARE(second.CommandLine,
             QStringLiteral("/p/libm9s -i /v/second.avi  -y  -f mp3  -vn  -ab 320  -ar 48000  -ac 2  /m/second.mp3"));
    QVERIFY(ffmpeg.Duration.isEmpty());
    QVERIFY(ffmpeg.StartTime.isEmpty());
}

QTEST_GUILESS_MAIN(TestEncoderCommand)
#include "tst_encodercommand.moc"
