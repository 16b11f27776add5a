// The encoder's pieces that need no media: command line, times, stream
// choice, the stop text, the tags taken over and fitted to each format,
// chapters cut to a window, the rates and bit rates fitted to each encoder, a
// copy's container and the track list's lines.

#include "libm9s/base/EncoderError.h"
#include "libm9s/base/FrameQueue.h"
#include "libm9s/base/Options.h"
#include "libm9s/base/StopControl.h"
#include "libm9s/base/TimeText.h"
#include "libm9s/encode/EncoderChoice.h"
#include "libm9s/filter/Leveller.h"
#include "libm9s/input/StreamChoice.h"
#include "libm9s/input/TrackList.h"
#include "libm9s/loudness/Loudness.h"
#include "libm9s/metadata/Chapters.h"
#include "libm9s/metadata/Tags.h"
#include "libm9s/output/CopyContainer.h"
#include "libm9s/output/FlacSeekTable.h"
#include "libm9s/output/OutputCheck.h"
#include "libm9s/output/OutputMedia.h"
#include "libm9s/segments/FlacMd5.h"
#include "libm9s/segments/LibraryMd5.h"
#include "libm9s/segments/SegmentPlacement.h"
#include "libm9s/segments/Segments.h"

#include <QtTest>

extern "C" {
#include <libavutil/md5.h>
}

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <limits>
#include <thread>
#include <utility>

namespace {

std::vector<std::string> ToArgs(const QStringList &list)
{
    std::vector<std::string> args;
    for (const QString &s : list)
        args.push_back(s.toStdString());
    return args;
}

FramePtr FrameOf(int samples)
{
    FramePtr frame = MakeFrame();
    frame->nb_samples = samples;
    return frame;
}

AudioCandidate Candidate(int index, int channels, bool isDefault = false, bool decodable = true, bool hadPackets = true)
{
    AudioCandidate c;
    c.index = index;
    c.channels = channels;
    c.isDefault = isDefault;
    c.decodable = decodable;
    c.hadPackets = hadPackets;
    return c;
}

} // namespace

Q_DECLARE_METATYPE(std::vector<AudioCandidate>)

class TestLibm9sUnits : public QObject {
    Q_OBJECT

private slots:
    void parsesOptions_data();
    void parsesOptions();
    void parsesFormatsCopyTrackAndProbe_data();
    void parsesFormatsCopyTrackAndProbe();
    void rejectsBadCommandLines_data();
    void rejectsBadCommandLines();
    void mapsRatesMp3CannotCarry_data();
    void mapsRatesMp3CannotCarry();
    void fitsRateToEncoder_data();
    void fitsRateToEncoder();
    void fitsBitrate_data();
    void fitsBitrate();
    void choosesCopyContainer_data();
    void choosesCopyContainer();
    void writesTrackLines_data();
    void writesTrackLines();
    void formatsClock_data();
    void formatsClock();
    void seesSourceEndEarly_data();
    void seesSourceEndEarly();
    void namesOutputFailures_data();
    void namesOutputFailures();
    void formatsSeconds_data();
    void formatsSeconds();
    void parsesTimeOptions_data();
    void parsesTimeOptions();
    void choosesAudioStream_data();
    void choosesAudioStream();
    void plansSegments_data();
    void plansSegments();
    void skipsFlacEncodersOwnSum_data();
    void skipsFlacEncodersOwnSum();
    void sizedPoolGivesEachSize_data();
    void sizedPoolGivesEachSize();
    void flacSeekTableFillsItsRoom_data();
    void flacSeekTableFillsItsRoom();
    void flacMd5SumsInOrder_data();
    void flacMd5SumsInOrder();
    void placesLandingOnFrameGrid_data();
    void placesLandingOnFrameGrid();
    void flacSeekTableAsksForRoom_data();
    void flacSeekTableAsksForRoom();
    void seesStopText_data();
    void seesStopText();
    void copiesTags();
    void fitsTags_data();
    void fitsTags();
    void cutsChapters_data();
    void cutsChapters();
    void plansGainAndTags_data();
    void plansGainAndTags();
    void boundsTruePeakBySamples_data();
    void boundsTruePeakBySamples();
    void measuresInParts_data();
    void measuresInParts();
    void levellerKeepsEverySample_data();
    void levellerKeepsEverySample();
    void queueHoldsProducerBackWhenFull();
    void queueCancelReleasesProducer();
    void queueDeliversFramesThenError();
};

void TestLibm9sUnits::parsesOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<bool>("wav");
    QTest::addColumn<int>("kbits");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<qint64>("startUs");
    QTest::addColumn<qint64>("durationUs"); // -1: none
    QTest::addColumn<int>("threads");       // the threads used; 0: one per core

    QTest::newRow("builder order, mp3") << QStringList{"-i",  "/v/a b.avi", "-y",    "-f",  "mp3", "-vn",       "-ab",
                                                       "128", "-ar",        "44100", "-ac", "2",   "/o/a b.mp3"}
                                        << "/v/a b.avi" << "/o/a b.mp3" << true << false << 128 << 44100 << 2
                                        << qint64(0) << qint64(-1) << 0;
    QTest::newRow("wav, mono, 8 kbit/s, 6000 Hz")
        << QStringList{"-i", "in.mkv", "-y", "-f", "wav", "-vn", "-ab", "8", "-ar", "6000", "-ac", "1", "out.wav"}
        << "in.mkv" << "out.wav" << true << true << 8 << 6000 << 1 << qint64(0) << qint64(-1) << 0;
    QTest::newRow("350 kbit/s stays 350, no -y") << QStringList{"-i", "x", "-f", "mp3", "-ab", "350", "o"} << "x" << "o"
                                                 << false << false << 350 << 0 << 0 << qint64(0) << qint64(-1) << 0;
    QTest::newRow("format from the extension") << QStringList{"-i", "x", "/o/Song.WAV"} << "x" << "/o/Song.WAV" << false
                                               << true << 128 << 0 << 0 << qint64(0) << qint64(-1) << 0;
    QTest::newRow("duration and start") << QStringList{"-i", "x", "-f", "wav", "-t", "1:30", "-ss", "2.5", "o"} << "x"
                                        << "o" << false << true << 128 << 0 << 0 << qint64(2500000) << qint64(90000000)
                                        << 0;
    QTest::newRow("output path with dashes inside")
        << QStringList{"-i", "x", "-f", "mp3", "/o/-a-.mp3"} << "x" << "/o/-a-.mp3" << false << false << 128 << 0 << 0
        << qint64(0) << qint64(-1) << 0;
    // More threads than cores only cost memory and time.
    QTest::newRow("-threads 256: the cores") << QStringList{"-i", "x", "-threads", "256", "o.mp3"} << "x" << "o.mp3"
                                             << false << false << 128 << 0 << 0 << qint64(0) << qint64(-1) << 0;
    QTest::newRow("-threads 1") << QStringList{"-i", "x", "-threads", "1", "o.mp3"} << "x" << "o.mp3" << false << false
                                << 128 << 0 << 0 << qint64(0) << qint64(-1) << 1;
}

void TestLibm9sUnits::parsesOptions()
{
    QFETCH(QStringList, args);
    QFETCH(QString, input);
    QFETCH(QString, output);
    QFETCH(bool, overwrite);
    QFETCH(bool, wav);
    QFETCH(int, kbits);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(qint64, startUs);
    QFETCH(qint64, durationUs);

    const EncoderOptions o = ParseOptions(ToArgs(args));
    QCOMPARE(QString::fromStdString(o.inputPath), input);
    QCOMPARE(QString::fromStdString(o.outputPath), output);
    QCOMPARE(o.overwrite, overwrite);
    QCOMPARE(o.format == OutputFormat::Wav, wav);
    QCOMPARE(o.bitrateKbits, kbits);
    QCOMPARE(o.sampleRate, rate);
    QCOMPARE(o.channels, channels);
    QCOMPARE(qint64(o.startUs), startUs);
    QCOMPARE(o.durationUs ? qint64(*o.durationUs) : qint64(-1), durationUs);
    QFETCH(int, threads);
    QCOMPARE(ThreadsToUse(o), threads ? threads : int(std::max(1u, std::thread::hardware_concurrency())));
}

void TestLibm9sUnits::parsesFormatsCopyTrackAndProbe_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("format"); // as -f names it
    QTest::addColumn<bool>("copy");
    QTest::addColumn<int>("track"); // -1: none asked
    QTest::addColumn<QString>("probe");
    QTest::addColumn<int>("chapter"); // -1: the whole file
    QTest::addColumn<bool>("cover");

    for (const QString f : {"flac", "m4a", "opus", "ogg"}) {
        QTest::addRow("-f %s", qPrintable(f))
            << QStringList{"-i", "x", "-f", f, "o"} << f << false << -1 << "" << -1 << true;
        QTest::addRow("%s from the extension", qPrintable(f))
            << QStringList{"-i", "x", "/o/A." + f.toUpper()} << f << false << -1 << "" << -1 << true;
    }
    QTest::newRow("copy, no format needed")
        << QStringList{"-i", "x", "-y", "-vn", "-acodec", "copy", "o.m4a"} << "mp3" << true << -1 << "" << -1 << true;
    QTest::newRow("copy with -f and rates, which it ignores")
        << QStringList{"-i", "x", "-f", "wav", "-acodec", "copy", "-ab", "128", "-ar", "8000", "o"} << "wav" << true
        << -1 << "" << -1 << true;
    QTest::newRow("third audio track") << QStringList{"-i", "x", "-map", "0:a:2", "o.mp3"} << "mp3" << false << 2 << ""
                                       << -1 << true;
    QTest::newRow("probe") << QStringList{"-probe", "/v/a b.mkv"} << "mp3" << false << -1 << "/v/a b.mkv" << -1 << true;
    QTest::newRow("one chapter, no cover")
        << QStringList{"-i", "x", "-chapter", "12", "-nocover", "o.flac"} << "flac" << false << -1 << "" << 12 << false;
}

void TestLibm9sUnits::parsesFormatsCopyTrackAndProbe()
{
    QFETCH(QStringList, args);
    QFETCH(QString, format);
    QFETCH(bool, copy);
    QFETCH(int, track);
    QFETCH(QString, probe);
    const EncoderOptions o = ParseOptions(ToArgs(args));
    QCOMPARE(QString(FormatName(o.format)), format);
    QCOMPARE(o.copy, copy);
    QCOMPARE(o.audioTrack.value_or(-1), track);
    QCOMPARE(QString::fromStdString(o.probePath), probe);
    QFETCH(int, chapter);
    QFETCH(bool, cover);
    QCOMPARE(o.chapter.value_or(-1), chapter);
    QCOMPARE(o.cover, cover);
}

void TestLibm9sUnits::fitsRateToEncoder_data()
{
    QTest::addColumn<int>("asked");
    QTest::addColumn<int>("opus");
    QTest::addColumn<int>("flac"); // FFmpeg's encoder: below 65535 Hz, or tens of Hz below 655350
    struct Row {
        int asked, opus, flac;
    };
    for (const Row &r :
         {Row{96000, 48000, 96000}, Row{48000, 48000, 48000}, Row{44100, 48000, 44100}, Row{32000, 24000, 32000},
          Row{24000, 24000, 24000}, Row{22050, 16000, 22050}, Row{16000, 16000, 16000}, Row{12000, 12000, 12000},
          Row{11025, 8000, 11025}, Row{8000, 8000, 8000}, Row{6000, 8000, 6000}, Row{65534, 48000, 65534},
          Row{65535, 48000, 65540}, Row{88201, 48000, 88200}, Row{655340, 48000, 655340}, Row{655349, 48000, 655340},
          Row{768000, 48000, 655340}})
        QTest::addRow("%d", r.asked) << r.asked << r.opus << r.flac;
}

void TestLibm9sUnits::fitsRateToEncoder()
{
    QFETCH(int, asked);
    QFETCH(int, opus);
    QFETCH(int, flac);
    QCOMPARE(OpusSampleRate(asked), opus);
    QCOMPARE(VorbisSampleRate(asked), asked < 8000 ? 8000 : qMin(asked, 48000));
    QCOMPARE(FlacSampleRate(asked), flac);
}

void TestLibm9sUnits::fitsBitrate_data()
{
    QTest::addColumn<int>("wanted");
    QTest::addColumn<int>("low"); // the accepted range
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("fitted");
    QTest::newRow("inside") << 128 << 32 << 240 << 128;
    QTest::newRow("above") << 350 << 32 << 240 << 240;
    QTest::newRow("far above a narrow range") << 100000 << 8 << 9 << 9;
    QTest::newRow("below") << 8 << 45 << 500 << 45;
    QTest::newRow("nothing accepted") << 64 << 0 << -1 << 64;
}

void TestLibm9sUnits::fitsBitrate()
{
    QFETCH(int, wanted);
    QFETCH(int, low);
    QFETCH(int, high);
    QFETCH(int, fitted);
    QCOMPARE(FitBitrate(wanted, [&](int kbits) { return kbits >= low && kbits <= high; }), fitted);
}

void TestLibm9sUnits::choosesCopyContainer_data()
{
    QTest::addColumn<int>("codec");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("muxer");
    QTest::addColumn<bool>("fits");
    auto row = [](const char *name, AVCodecID codec, const char *output, const char *muxer, bool fits) {
        QTest::newRow(name) << int(codec) << output << muxer << fits;
    };
    row("aac", AV_CODEC_ID_AAC, "/o/a.m4a", "ipod", true);
    row("aac named .mp4", AV_CODEC_ID_AAC, "/o/a.MP4", "ipod", true);
    row("aac named .mp3", AV_CODEC_ID_AAC, "/o/a.mp3", "ipod", false);
    row("mp3", AV_CODEC_ID_MP3, "a.mp3", "mp3", true);
    row("ac3", AV_CODEC_ID_AC3, "a.ac3", "ac3", true);
    row("e-ac-3", AV_CODEC_ID_EAC3, "a.eac3", "eac3", true);
    row("opus", AV_CODEC_ID_OPUS, "a.opus", "opus", true);
    row("vorbis", AV_CODEC_ID_VORBIS, "a.ogg", "ogg", true);
    row("vorbis named .opus", AV_CODEC_ID_VORBIS, "a.opus", "ogg", false);
    row("flac", AV_CODEC_ID_FLAC, "a.flac", "flac", true);
    row("16-bit pcm", AV_CODEC_ID_PCM_S16LE, "a.wav", "wav", true);
    row("24-bit pcm", AV_CODEC_ID_PCM_S24LE, "a.wav", "wav", true);
    row("big-endian pcm", AV_CODEC_ID_PCM_S16BE, "a.mka", "matroska", true);
    row("big-endian pcm named .wav", AV_CODEC_ID_PCM_S16BE, "a.wav", "matroska", false);
    row("dts", AV_CODEC_ID_DTS, "a.mka", "matroska", true);
    row("mp2", AV_CODEC_ID_MP2, "a.mp2", "mp2", true);
    row("mp2 named .mp3", AV_CODEC_ID_MP2, "a.mp3", "mp2", false);
    row("aac asked into Matroska", AV_CODEC_ID_AAC, "a.mkv", "matroska", true);
    row("unknown extension", AV_CODEC_ID_AC3, "/o.d/a.tmp", "ac3", true);
    row("no extension", AV_CODEC_ID_AC3, "/o.d/a", "ac3", true);
}

void TestLibm9sUnits::choosesCopyContainer()
{
    QFETCH(int, codec);
    QFETCH(QString, output);
    QFETCH(QString, muxer);
    QFETCH(bool, fits);
    const CopyContainer container = ChooseCopyContainer(AVCodecID(codec), output.toStdString());
    QCOMPARE(QString(container.muxer), muxer);
    QCOMPARE(ExtensionFits(output.toStdString(), container), fits);
}

void TestLibm9sUnits::writesTrackLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");
    AudioTrack full;
    full.codec = "aac";
    full.channels = 6;
    full.sampleRate = 48000;
    full.layout = "5.1";
    full.language = "jpn";
    full.title = "Tab\there\nand line";
    full.isDefault = true;
    full.durationUs = 3723456789;
    QTest::newRow("every field") << QString::fromStdString(TrackLine(2, full))
                                 << "2\taac\t6\t48000\tjpn\tTab here and line\t1\t3723.456\t5.1";
    QTest::newRow("nothing known") << QString::fromStdString(TrackLine(0, AudioTrack{})) << "0\t\t\t\t\t\t0\t\t";
    QTest::newRow("chapter") << QString::fromStdString(ChapterLine(2, Chapter{61500000, 3723456789, "第二章\tZwei"}))
                             << "chapter\t2\t61.500\t3723.456\t第二章 Zwei";
    QTest::newRow("chapter to the end") << QString::fromStdString(ChapterLine(9, Chapter{1000, kOpenEnd, ""}))
                                        << "chapter\t9\t0.001\t\t";
    // Bytes compared as they are: what is not UTF-8 (an overlong slash, a
    // surrogate, a sequence cut short) becomes U+FFFD byte by byte.
    QTest::newRow("title that is not UTF-8")
        << QString::fromLatin1(ChapterLine(1, Chapter{0, 1000, "a\xC0\xAF\xED\xA0\x80\xF0\x9F\x98\x80\xE6\x97"}))
        << QString::fromLatin1("chapter\t1\t0.000\t0.001\ta" + std::string(5, '#') + "\xF0\x9F\x98\x80" + "##")
               .replace("#", QString::fromLatin1("\xEF\xBF\xBD"));
}

void TestLibm9sUnits::writesTrackLines()
{
    QFETCH(QString, line);
    QFETCH(QString, expected);
    QCOMPARE(line, expected);
}

void TestLibm9sUnits::rejectsBadCommandLines_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("named"); // the message must name this

    QTest::newRow("unknown option") << QStringList{"-i", "x", "-acodec", "mp3", "o.mp3"} << "'-acodec'";
    QTest::newRow("option of another ffmpeg") << QStringList{"-i", "x", "-b:a", "128k", "o.mp3"} << "'-b:a'";
    QTest::newRow("value missing at the end") << QStringList{"-i", "x", "o.mp3", "-ab"} << "'-ab'";
    QTest::newRow("bit rate with a unit") << QStringList{"-i", "x", "-ab", "128k", "o.mp3"} << "'128k'";
    QTest::newRow("bit rate zero") << QStringList{"-i", "x", "-ab", "0", "o.mp3"} << "'0'";
    QTest::newRow("three channels") << QStringList{"-i", "x", "-ac", "3", "o.mp3"} << "'3'";
    QTest::newRow("rate not a number") << QStringList{"-i", "x", "-ar", "44.1k", "o.mp3"} << "'44.1k'";
    QTest::newRow("negative rate") << QStringList{"-i", "x", "-ar", "-8000", "o.mp3"} << "'-8000'";
    QTest::newRow("unknown format") << QStringList{"-i", "x", "-f", "wma", "o.wma"} << "'wma'";
    QTest::newRow("copy is the only codec") << QStringList{"-i", "x", "-acodec", "aac", "o.m4a"} << "'-acodec'";
    QTest::newRow("map of a video stream") << QStringList{"-i", "x", "-map", "0:v:0", "o.mp3"} << "'0:v:0'";
    QTest::newRow("map of a second input") << QStringList{"-i", "x", "-map", "1:a:0", "o.mp3"} << "'1:a:0'";
    QTest::newRow("map without a number") << QStringList{"-i", "x", "-map", "0:a:", "o.mp3"} << "-map";
    QTest::newRow("negative track") << QStringList{"-i", "x", "-map", "0:a:-1", "o.mp3"} << "-map";
    QTest::newRow("probe with a conversion") << QStringList{"-probe", "x", "-i", "x", "o.mp3"} << "-probe";
    QTest::newRow("probe without a file") << QStringList{"-probe"} << "'-probe'";
    QTest::newRow("bad duration") << QStringList{"-i", "x", "-t", "soon", "o.mp3"} << "'soon'";
    QTest::newRow("negative start") << QStringList{"-i", "x", "-ss", "-3", "o.mp3"} << "'-3'";
    QTest::newRow("two outputs") << QStringList{"-i", "x", "a.mp3", "b.mp3"} << "'b.mp3'";
    QTest::newRow("no input") << QStringList{"-y", "-f", "mp3", "o.mp3"} << "-i";
    QTest::newRow("empty input") << QStringList{"-i", "", "-f", "mp3", "o.mp3"} << "-i";
    QTest::newRow("no output") << QStringList{"-i", "x", "-f", "mp3"} << "output";
    QTest::newRow("no format, other extension") << QStringList{"-i", "x", "o.wma"} << "-f";
    QTest::newRow("no threads") << QStringList{"-i", "x", "-threads", "0", "o.mp3"} << "'0'";
    QTest::newRow("threads not a number") << QStringList{"-i", "x", "-threads", "auto", "o.mp3"} << "'auto'";
    QTest::newRow("chapters count from 1") << QStringList{"-i", "x", "-chapter", "0", "o.mp3"} << "'0'";
    QTest::newRow("chapter by name") << QStringList{"-i", "x", "-chapter", "Intro", "o.mp3"} << "'Intro'";
    QTest::newRow("chapter past the most ever listed")
        << QStringList{"-i", "x", "-chapter", "1000", "o.mp3"} << "'1000'";
    QTest::newRow("loudness above -5") << QStringList{"-i", "x", "-loudness", "-4", "o.mp3"} << "'-4'";
    QTest::newRow("loudness with a unit") << QStringList{"-i", "x", "-loudness", "-16LUFS", "o.mp3"} << "'-16LUFS'";
    QTest::newRow("ceiling above full scale")
        << QStringList{"-i", "x", "-loudness", "-16", "-truepeak", "0.5", "o"} << "'0.5'";
    QTest::newRow("ceiling without loudness") << QStringList{"-i", "x", "-truepeak", "-1", "o.mp3"} << "-loudness";
    QTest::newRow("loudness of a copy") << QStringList{"-i", "x", "-acodec", "copy", "-loudness", "-16", "o"}
                                        << "-replaygain";
    QTest::newRow("loudness and tags") << QStringList{"-i", "x", "-loudness", "-16", "-replaygain", "o.mp3"}
                                       << "-replaygain";
}

void TestLibm9sUnits::rejectsBadCommandLines()
{
    QFETCH(QStringList, args);
    QFETCH(QString, named);
    try {
        ParseOptions(ToArgs(args));
        QFAIL("accepted");
    } catch (const OptionError &e) {
        const QString text = QString::fromUtf8(e.what());
        QVERIFY2(text.contains(named), qPrintable(text));
        QVERIFY(!text.contains('\n'));
    }
}

void TestLibm9sUnits::mapsRatesMp3CannotCarry_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<bool>("carried");
    QTest::addColumn<int>("nearest");
    for (int r : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000})
        QTest::addRow("%d", r) << r << true << r;
    QTest::newRow("6000") << 6000 << false << 8000;
    QTest::newRow("88200") << 88200 << false << 48000;
    QTest::newRow("96000") << 96000 << false << 48000;
}

void TestLibm9sUnits::mapsRatesMp3CannotCarry()
{
    QFETCH(int, rate);
    QFETCH(bool, carried);
    QFETCH(int, nearest);
    QCOMPARE(IsMp3SampleRate(rate), carried);
    QCOMPARE(NearestMp3SampleRate(rate), nearest);
}

void TestLibm9sUnits::formatsClock_data()
{
    QTest::addColumn<qint64>("us");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("minutes"); // as the output check says it
    QTest::newRow("zero") << qint64(0) << "00:00:00.00" << "0:00";
    QTest::newRow("example of the program") << qint64(205400000) << "00:03:25.40" << "3:25";
    QTest::newRow("below half a hundredth") << qint64(4999) << "00:00:00.00" << "0:00";
    QTest::newRow("half a hundredth rounds up") << qint64(5000) << "00:00:00.01" << "0:00";
    QTest::newRow("rounding carries into the hour") << qint64(3599995000) << "01:00:00.00" << "59:59";
    QTest::newRow("a hundred hours") << qint64(360000000000) << "100:00:00.00" << "100:00:00";
    QTest::newRow("negative is zero") << qint64(-7) << "00:00:00.00" << "0:00";
    QTest::newRow("an hour and a bit") << qint64(3723000000) << "01:02:03.00" << "1:02:03";
}

void TestLibm9sUnits::formatsClock()
{
    QFETCH(qint64, us);
    QFETCH(QString, text);
    QFETCH(QString, minutes);
    QCOMPARE(QString::fromStdString(FormatClock(us)), text);
    QCOMPARE(QString::fromStdString(FormatMinutes(us)), minutes);
}

void TestLibm9sUnits::seesSourceEndEarly_data()
{
    QTest::addColumn<double>("read"); // seconds
    QTest::addColumn<double>("declared");
    QTest::addColumn<bool>("early");
    QTest::newRow("239 of 600 s") << 239.0 << 600.0 << true;
    QTest::newRow("half a second short of a minute") << 59.5 << 60.0 << false;
    QTest::newRow("5 s short of 10 min: under 1 %") << 595.0 << 600.0 << false;
    QTest::newRow("7 s short of 10 min") << 593.0 << 600.0 << true;
    QTest::newRow("nothing of a half-second clip") << 0.0 << 0.5 << false;
    QTest::newRow("longer than declared") << 61.0 << 60.0 << false;
}

void TestLibm9sUnits::seesSourceEndEarly()
{
    QFETCH(double, read);
    QFETCH(double, declared);
    QFETCH(bool, early);
    QCOMPARE(EndsEarly(int64_t(read * 1e6), int64_t(declared * 1e6)), early);
}

void TestLibm9sUnits::namesOutputFailures_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("kind");
    for (int error : {EACCES, EPERM, EROFS})
        QTest::addRow("%s", strerror(error)) << error << "access";
    for (int error : {ENOSPC, EDQUOT})
        QTest::addRow("%s", strerror(error)) << error << "diskfull";
    for (int error : {EFBIG, ENOENT, EISDIR, EIO})
        QTest::addRow("%s", strerror(error)) << error << "other";
}

void TestLibm9sUnits::namesOutputFailures()
{
    QFETCH(int, error);
    QFETCH(QString, kind);
    QCOMPARE(QString(OutputFailureKind(error)), kind);
}

void TestLibm9sUnits::formatsSeconds_data()
{
    QTest::addColumn<qint64>("samples");
    QTest::addColumn<int>("rate");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing") << qint64(0) << 44100 << "0.00";
    QTest::newRow("one hundredth") << qint64(441) << 44100 << "0.01";
    QTest::newRow("just below half a hundredth") << qint64(220) << 44100 << "0.00";
    QTest::newRow("just above half a hundredth") << qint64(221) << 44100 << "0.01";
    QTest::newRow("minutes") << qint64(8000LL * 754 + 2760) << 8000 << "754.35";
    QTest::newRow("hours at 96 kHz") << qint64(96000LL * 36000) << 96000 << "36000.00";
}

void TestLibm9sUnits::formatsSeconds()
{
    QFETCH(qint64, samples);
    QFETCH(int, rate);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(FormatSeconds(samples, rate)), text);
}

void TestLibm9sUnits::parsesTimeOptions_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("us"); // -1: rejected
    QTest::newRow("seconds") << "90" << qint64(90000000);
    QTest::newRow("seconds with fraction") << "2.25" << qint64(2250000);
    QTest::newRow("minutes and seconds") << "1:30" << qint64(90000000);
    QTest::newRow("clock with hundredths") << "00:01:30.50" << qint64(90500000);
    QTest::newRow("negative") << "-1" << qint64(-1);
    QTest::newRow("words") << "abc" << qint64(-1);
    QTest::newRow("empty") << "" << qint64(-1);
}

void TestLibm9sUnits::parsesTimeOptions()
{
    QFETCH(QString, text);
    QFETCH(qint64, us);
    std::optional<int64_t> parsed = ParseTimeText(text.toStdString());
    QCOMPARE(parsed ? qint64(*parsed) : qint64(-1), us);
}

void TestLibm9sUnits::choosesAudioStream_data()
{
    QTest::addColumn<std::vector<AudioCandidate>>("candidates");
    QTest::addColumn<int>("chosen");
    QTest::newRow("no audio") << std::vector<AudioCandidate>{} << -1;
    QTest::newRow("most channels") << std::vector<AudioCandidate>{Candidate(1, 1), Candidate(2, 2), Candidate(3, 6)}
                                   << 3;
    QTest::newRow("default before channels")
        << std::vector<AudioCandidate>{Candidate(1, 6), Candidate(2, 1, true)} << 2;
    QTest::newRow("tie: the first") << std::vector<AudioCandidate>{Candidate(4, 2, true), Candidate(5, 2, true)} << 4;
    QTest::newRow("undecodable last") << std::vector<AudioCandidate>{Candidate(1, 6, true, false), Candidate(2, 1)}
                                      << 2;
    QTest::newRow("streams that showed packets first")
        << std::vector<AudioCandidate>{Candidate(1, 2, true, true, false), Candidate(2, 1, false, true, true)} << 2;
}

void TestLibm9sUnits::choosesAudioStream()
{
    QFETCH(std::vector<AudioCandidate>, candidates);
    QFETCH(int, chosen);
    QCOMPARE(ChooseAudioStream(candidates), chosen);
}

void TestLibm9sUnits::seesStopText_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<int>("stopAtChunk"); // -1: never
    QTest::newRow("quit and line feed") << QList<QByteArray>{"quit\n"} << 0;
    QTest::newRow("q alone, no line feed yet") << QList<QByteArray>{"q"} << 0;
    QTest::newRow("after another line") << QList<QByteArray>{"hello\nquit\n"} << 0;
    QTest::newRow("q inside a line") << QList<QByteArray>{"aquit\n"} << -1;
    QTest::newRow("line split over reads") << QList<QByteArray>{"hel", "lo\n", "qu", "it\n"} << 2;
    QTest::newRow("q after text without line feed") << QList<QByteArray>{"x", "q"} << -1;
    QTest::newRow("carriage return and line feed before") << QList<QByteArray>{"status\r\n", "quit\r\n"} << 1;
    QTest::newRow("empty reads") << QList<QByteArray>{"", ""} << -1;
}

void TestLibm9sUnits::seesStopText()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(int, stopAtChunk);
    StopLineScanner scanner;
    int stoppedAt = -1;
    for (int i = 0; i < chunks.size() && stoppedAt < 0; ++i)
        if (scanner.Feed(chunks[i].constData(), size_t(chunks[i].size())))
            stoppedAt = i;
    QCOMPARE(stoppedAt, stopAtChunk);
}

void TestLibm9sUnits::copiesTags()
{
    AVDictionary *file = nullptr;
    AVDictionary *stream = nullptr;
    av_dict_set(&file, "title", "Film", 0);
    av_dict_set(&file, "author", "Maker", 0); // RealMedia's name for the artist
    av_dict_set(&file, "comment", "", 0);     // empty: nothing to copy
    av_dict_set(&file, "genre", "Drama", 0);
    av_dict_set(&file, "year", "1999", 0);        // an old name for the date
    av_dict_set(&file, "language", "und", 0);     // says nothing: the stream's counts
    av_dict_set(&file, "encoder", "Lavf58", 0);   // not the source's content
    av_dict_set(&file, "major_brand", "isom", 0); // nor is its container's
    av_dict_set(&stream, "album", "Collected", 0);
    av_dict_set(&stream, "comment", "from the track", 0);
    av_dict_set(&stream, "language", "jpn", 0);

    AVDictionary *out = nullptr;
    CopyTags(file, stream, &out);
    auto get = [&](const char *key) {
        const AVDictionaryEntry *e = av_dict_get(out, key, nullptr, 0);
        return e ? QString::fromUtf8(e->value) : QString();
    };
    QCOMPARE(get("title"), QString("Film"));
    QCOMPARE(get("artist"), QString("Maker"));
    QCOMPARE(get("album"), QString("Collected"));
    QCOMPARE(get("comment"), QString("from the track"));
    QCOMPARE(get("genre"), QString("Drama"));
    QCOMPARE(get("date"), QString("1999"));
    QCOMPARE(get("language"), QString("jpn"));
    QCOMPARE(av_dict_count(out), 7);

    av_dict_free(&out);
    av_dict_free(&file);
    av_dict_free(&stream);
}

void TestLibm9sUnits::fitsTags_data()
{
    QTest::addColumn<QString>("muxer");
    QTest::addColumn<bool>("withComment");
    QTest::addColumn<QString>("fileKeys");   // sorted, what is left for the file
    QTest::addColumn<QString>("streamKeys"); // and for the audio stream
    QTest::addColumn<QString>("comment");
    const QString all = "album artist comment copyright description language title track";
    QTest::newRow("MP3 keeps all") << "mp3" << true << all << "" << "Remark";
    QTest::newRow("WAV: the muxer picks") << "wav" << true << all << "" << "Remark";
    QTest::newRow("M4A: the language goes to the track")
        << "ipod" << true << "album artist comment copyright description title track" << "language title"
        << "Remark";
    QTest::newRow("FLAC: one description in Vorbis comments")
        << "flac" << true << "album artist comment copyright language title track" << "" << "Remark";
    QTest::newRow("Ogg without comment: the description takes its place")
        << "ogg" << false << "album artist comment copyright language title track" << "" << "About";
    QTest::newRow("raw AC-3 keeps nothing") << "ac3" << true << "" << "" << "";
}

void TestLibm9sUnits::fitsTags()
{
    QFETCH(QString, muxer);
    QFETCH(bool, withComment);
    QFETCH(QString, fileKeys);
    QFETCH(QString, streamKeys);
    QFETCH(QString, comment);
    AVDictionary *file = nullptr;
    AVDictionary *stream = nullptr;
    for (const char *key : {"title", "artist", "album", "track", "copyright", "language"})
        av_dict_set(&file, key, "x", 0);
    av_dict_set(&file, "description", "About", 0);
    if (withComment)
        av_dict_set(&file, "comment", "Remark", 0);
    av_dict_set(&stream, "title", "Dub", 0);
    FitTags(muxer.toUtf8().constData(), &file, &stream);
    auto keys = [](const AVDictionary *tags) {
        QStringList list;
        for (const AVDictionaryEntry *e = nullptr; (e = av_dict_get(tags, "", e, AV_DICT_IGNORE_SUFFIX));)
            list << e->key;
        list.sort();
        return list.join(' ');
    };
    QCOMPARE(keys(file), fileKeys);
    QCOMPARE(keys(stream), streamKeys);
    const AVDictionaryEntry *e = av_dict_get(file, "comment", nullptr, 0);
    QCOMPARE(QString::fromUtf8(e ? e->value : ""), comment);
    av_dict_free(&file);
    av_dict_free(&stream);
}

void TestLibm9sUnits::cutsChapters_data()
{
    QTest::addColumn<QStringList>("args"); // -chapter, -ss and -t
    QTest::addColumn<QString>("window");   // start+length in ms after -chapter, or its error
    QTest::addColumn<QString>("chapters"); // what the output keeps, in ms
    // Chapters 0-1 s, 1-2.5 s and 2.5-4 s.
    QTest::newRow("whole file") << QStringList{} << "0+" << "A 0-1000, B 1000-2500, C 2500-4000";
    QTest::newRow("window cuts into two") << QStringList{"-ss", "0.5", "-t", "1.5"} << "500+1500"
                                          << "A 0-500, B 500-1500";
    QTest::newRow("window between chapters") << QStringList{"-ss", "1", "-t", "1.5"} << "1000+1500" << "B 0-1500";
    QTest::newRow("window to the end") << QStringList{"-ss", "3"} << "3000+" << "C 0-1000";
    QTest::newRow("second chapter") << QStringList{"-chapter", "2"} << "1000+1500" << "";
    QTest::newRow("last chapter runs to the end") << QStringList{"-chapter", "3"} << "2500+" << "";
    QTest::newRow("-ss and -t within a chapter")
        << QStringList{"-chapter", "2", "-ss", "0.25", "-t", "9"} << "1250+1250" << "";
    QTest::newRow("no such chapter") << QStringList{"-chapter", "4"} << "no chapter 4 (it has 3" << "";
}

void TestLibm9sUnits::cutsChapters()
{
    QFETCH(QStringList, args);
    QFETCH(QString, window);
    QFETCH(QString, chapters);
    const std::vector<Chapter> source{{0, 1000000, "A"}, {1000000, 2500000, "B"}, {2500000, 4000000, "C"}};
    EncoderOptions options = ParseOptions(ToArgs(QStringList{"-i", "x"} + args + QStringList{"o.wav"}));
    try {
        SelectChapter(source, options);
    } catch (const EncoderError &e) {
        QVERIFY2(QString::fromUtf8(e.what()).contains(window), e.what());
        return;
    }
    auto ms = [](int64_t us) { return us == kOpenEnd ? QString() : QString::number(us / 1000); };
    QCOMPARE(ms(options.startUs) + "+" + (options.durationUs ? ms(*options.durationUs) : QString()), window);
    if (options.chapter)
        return;
    QStringList kept;
    for (const Chapter &c : ChaptersWithin(source, options.startUs, options.durationUs))
        kept << QString::fromStdString(c.title) + " " + ms(c.startUs) + "-" + ms(c.endUs);
    QCOMPARE(kept.join(", "), chapters);
}

void TestLibm9sUnits::queueHoldsProducerBackWhenFull()
{
    // Two frames or 1000 samples, whichever comes first; one frame always fits.
    FrameQueue queue(2, 1000);
    std::atomic<int> pushed{0};
    std::thread producer([&] {
        for (int samples : {5000, 10, 10, 10}) {
            queue.Push(FrameOf(samples));
            ++pushed;
        }
        queue.Finish();
    });
    QTRY_COMPARE_WITH_TIMEOUT(pushed.load(), 1, 120000); // the big one went in alone...
    QTest::qWait(50);
    QCOMPARE(pushed.load(), 1); // ...and holds the rest back
    QCOMPARE(queue.Pop()->nb_samples, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(pushed.load(), 3, 120000); // two small ones fill it
    QTest::qWait(50);
    QCOMPARE(pushed.load(), 3);
    int total = 0;
    while (FramePtr frame = queue.Pop())
        total += frame->nb_samples;
    QCOMPARE(total, 30);
    producer.join();
}

void TestLibm9sUnits::queueCancelReleasesProducer()
{
    FrameQueue queue(1, 1000);
    std::atomic<bool> refused{false};
    std::thread producer([&] {
        queue.Push(FrameOf(1));
        refused = !queue.Push(FrameOf(1)); // waits: the queue is full
    });
    QTest::qWait(50);
    QVERIFY(!refused);
    queue.Cancel();
    producer.join();
    QVERIFY(refused);
    QVERIFY(queue.Cancelled());
}

void TestLibm9sUnits::queueDeliversFramesThenError()
{
    FrameQueue queue(8, 1000);
    QVERIFY(queue.Push(FrameOf(3)));
    queue.Finish(std::make_exception_ptr(EncoderError("read failed")));
    QCOMPARE(queue.Pop()->nb_samples, 3);
    QVERIFY_THROWS_EXCEPTION(EncoderError, queue.Pop());
}

void TestLibm9sUnits::plansSegments_data()
{
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("frame");
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("count");
    constexpr qint64 kSecond = 44100;
    QTest::newRow("short file, a segment per thread") << 7 * kSecond << 1152 << 3 << 3;
    QTest::newRow("too short to split") << kSecond * 3 / 2 << 1152 << 4 << 1;
    QTest::newRow("as many as a second each allows") << 3 * kSecond << 4608 << 8 << 3;
    QTest::newRow("two hours, at most a minute each") << 7200 * kSecond << 1152 << 2 << 127;
    QTest::newRow("more threads than minutes") << 90 * kSecond << 4096 << 16 << 16;
    QTest::newRow("not a whole frame") << qint64(5000) << 1152 << 2 << 1;
    QTest::newRow("ten minutes on two threads, six each, the last two in quarters") << 600 * kSecond << 1152 << 2 << 18;
    QTest::newRow("four minutes on two threads, half a minute each") << 240 * kSecond << 1152 << 2 << 14;
}

// Segments start on frame boundaries, follow each other without gap or
// overlap, and the last one is open to whatever the input still holds;
// after the first round, the last comes in quarters.
void TestLibm9sUnits::plansSegments()
{
    QFETCH(qint64, total);
    QFETCH(int, frame);
    QFETCH(int, threads);
    QFETCH(int, count);
    const std::vector<Segment> segments = PlanFileSegments(total, frame, threads, 44100);
    QCOMPARE(int(segments.size()), count);
    int64_t next = 0;
    for (const Segment &s : segments) {
        QCOMPARE(s.start, next);
        QCOMPARE(s.start % frame, 0);
        QVERIFY(s.end > s.start);
        QCOMPARE(s.last, &s == &segments.back());
        QVERIFY(s.end - s.start <= 60 * 44100);
        next = s.end;
    }
    QVERIFY(next >= total);
    const int64_t first = segments.front().end - segments.front().start;
    if (count > threads)
        QVERIFY(segments.back().end - segments.back().start <= first / 4 + frame);
}

namespace {

// The MD5 sum libavcodec's FLAC encoder hands over in its STREAMINFO at
// the end (on its last packet) after encoding samples, 16-bit stereo.
QByteArray FlacEncoderSum(const std::vector<int16_t> &samples)
{
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_FLAC);
    CodecContextPtr encoder(avcodec_alloc_context3(codec));
    encoder->sample_fmt = AV_SAMPLE_FMT_S16;
    encoder->sample_rate = 44100;
    av_channel_layout_default(&encoder->ch_layout, 2);
    FramePtr frame = MakeFrame();
    frame->nb_samples = int(samples.size() / 2);
    frame->format = AV_SAMPLE_FMT_S16;
    frame->sample_rate = 44100;
    av_channel_layout_default(&frame->ch_layout, 2);
    if (avcodec_open2(encoder.get(), codec, nullptr) < 0 || av_frame_get_buffer(frame.get(), 0) < 0)
        return {};
    std::memcpy(frame->data[0], samples.data(), samples.size() * 2);
    PacketPtr packet = MakePacket();
    QByteArray info;
    for (const AVFrame *f : {frame.get(), static_cast<AVFrame *>(nullptr)}) {
        avcodec_send_frame(encoder.get(), f);
        while (avcodec_receive_packet(encoder.get(), packet.get()) >= 0) {
            size_t size = 0;
            if (const uint8_t *side = av_packet_get_side_data(packet.get(), AV_PKT_DATA_NEW_EXTRADATA, &size))
                info = QByteArray(reinterpret_cast<const char *>(side), qsizetype(size));
            av_packet_unref(packet.get());
        }
    }
    return info.mid(18, 16);
}

} // namespace

void TestLibm9sUnits::skipsFlacEncodersOwnSum_data()
{
    QTest::addColumn<QString>("skipping"); // the thread in a SkipLibraryMd5 scope
    QTest::addColumn<bool>("summed");
    QTest::newRow("no thread") << "" << true;
    QTest::newRow("the encoding thread") << "encoding" << false;
    QTest::newRow("another thread") << "other" << true;
}

// Inside the scope, the library's own calls to av_md5_update do nothing,
// on that thread only; this program's sums are unaffected.
void TestLibm9sUnits::skipsFlacEncodersOwnSum()
{
    QFETCH(QString, skipping);
    QFETCH(bool, summed);
    std::vector<int16_t> samples(2 * 4096);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(i * 37);
    QByteArray expected(16, 0);
    av_md5_sum(reinterpret_cast<uint8_t *>(expected.data()), reinterpret_cast<const uint8_t *>(samples.data()),
               samples.size() * 2);
    QByteArray nothing(16, 0);
    av_md5_sum(reinterpret_cast<uint8_t *>(nothing.data()), nullptr, 0);

    QByteArray sum;
    std::thread encoding([&] {
        const SkipLibraryMd5 skip(skipping == "encoding");
        sum = FlacEncoderSum(samples);
    });
    {
        const SkipLibraryMd5 skip(skipping == "other");
        encoding.join();
    }
    QCOMPARE(sum.toHex(), (summed ? expected : nothing).toHex());
}

void TestLibm9sUnits::sizedPoolGivesEachSize_data()
{
    QTest::addColumn<QList<int>>("sizes"); // asked for in turn, each buffer handed back before the next
    QTest::addColumn<bool>("reused");      // the last one must be the buffer handed back before it
    QTest::newRow("same size") << QList<int>{4608, 4608} << true;
    QTest::newRow("larger") << QList<int>{4608, 18432} << false;
    QTest::newRow("smaller") << QList<int>{18432, 4608} << false;
    QTest::newRow("back to the first") << QList<int>{4608, 18432, 4608} << false;
}

// A pool shared by one thread's segments: buffers are taken again, but
// never one of another size.
void TestLibm9sUnits::sizedPoolGivesEachSize()
{
    QFETCH(QList<int>, sizes);
    QFETCH(bool, reused);
    SizedBufferPool pool;
    const uint8_t *before = nullptr;
    for (const int size : sizes) {
        AVBufferRef *buffer = pool.Get(size_t(size));
        QVERIFY(buffer);
        QCOMPARE(buffer->size, size_t(size));
        const uint8_t *data = buffer->data;
        av_buffer_unref(&buffer);
        if (reused && before)
            QCOMPARE(data, before);
        before = data;
    }
}

void TestLibm9sUnits::placesLandingOnFrameGrid_data()
{
    // 48 kHz; the origin's frame at timestamp 0; on millisecond timestamps
    // the grid of frame samples starts after the first frame's offset.
    QTest::addColumn<int>("grid"); // 0: exact timestamps, in samples
    QTest::addColumn<int>("offset");
    QTest::addColumn<qint64>("pts");
    QTest::addColumn<int>("samples");
    QTest::addColumn<qint64>("placed"); // -1: not placed
    QTest::newRow("exact timestamps") << 0 << 0 << qint64(96000) << 1024 << qint64(96000);
    QTest::newRow("the origin's own frame") << 1024 << 1024 << qint64(0) << 1024 << qint64(0);
    // 1024 + 50 * 1024 samples = 1088 ms.
    QTest::newRow("aac frame, milliseconds rounded") << 1024 << 1024 << qint64(1088) << 1024 << qint64(52224);
    // 648 + 100 * 960 + 480: half a frame off the grid.
    QTest::newRow("opus frame off the grid") << 960 << 648 << qint64(2023) << 960 << qint64(-1);
    // A frame of 960 from 99993.5 ms, its first 312 samples cut: it starts
    // at 100000 ms exactly but says 100001, rounded twice.
    QTest::newRow("opus frame cut after a seek") << 960 << 648 << qint64(100001) << 648 << qint64(4800000);
    QTest::newRow("short frame ending off the grid") << 960 << 648 << qint64(100011) << 648 << qint64(-1);
    QTest::newRow("longer than the grid") << 960 << 648 << qint64(1000) << 1920 << qint64(-1);
    // A damaged timestamp: no place that frames could be counted on from.
    QTest::newRow("timestamp at the 64-bit end") << 0 << 0 << std::numeric_limits<qint64>::max() << 1024 << qint64(-1);
    QTest::newRow("timestamp at the 64-bit start")
        << 0 << 0 << std::numeric_limits<qint64>::min() + 1 << 1024 << qint64(-1);
    QTest::newRow("grid, timestamp at the 64-bit end")
        << 1024 << 1024 << std::numeric_limits<qint64>::max() << 1024 << qint64(-1);
}

// Where a frame that follows a seek starts, from its timestamp and the codec's
// frame grid; a frame the grid cannot account for is not placed at all.
void TestLibm9sUnits::placesLandingOnFrameGrid()
{
    QFETCH(int, grid);
    QFETCH(int, offset);
    QFETCH(qint64, pts);
    QFETCH(int, samples);
    QFETCH(qint64, placed);
    SegmentSetup setup;
    setup.frameGrid = grid;
    setup.gridOffset = offset;
    FramePtr frame = MakeFrame();
    frame->pts = pts;
    frame->nb_samples = samples;
    frame->sample_rate = 48000;
    const AVRational base = grid ? AVRational{1, 1000} : AVRational{1, 48000};
    const std::optional<int64_t> at = PlaceAfterSeek(setup, *frame, base);
    QCOMPARE(at ? qint64(*at) : qint64(-1), placed);
}

void TestLibm9sUnits::flacMd5SumsInOrder_data()
{
    QTest::addColumn<bool>("wide"); // 24 bits at the top of 32-bit samples
    QTest::addColumn<int>("blocks");
    QTest::newRow("16-bit, one block") << false << 1;
    QTest::newRow("16-bit, fewer than a wake-up's worth") << false << 63;
    QTest::newRow("16-bit, thousands of blocks") << false << 5000;
    QTest::newRow("24-bit, thousands of blocks") << true << 3000;
}

// The sum on its own thread is the sum of the samples in the order added,
// as the stream's width packs them.
void TestLibm9sUnits::flacMd5SumsInOrder()
{
    QFETCH(bool, wide);
    QFETCH(int, blocks);
    constexpr int kChannels = 2;
    std::unique_ptr<AVMD5, void (*)(void *)> expected(av_md5_alloc(), av_free);
    av_md5_init(expected.get());
    FlacMd5 md5(kChannels, wide);
    uint32_t seed = 1;
    for (int b = 0; b < blocks; ++b) {
        const int samples = 1 + b % 37;
        const int values = samples * kChannels;
        BufferRefPtr pcm(av_buffer_alloc(size_t(values) * (wide ? 4 : 2)));
        QByteArray packed;
        for (int i = 0; i < values; ++i) {
            seed = seed * 1664525 + 1013904223;
            const int32_t v = int32_t(seed) >> 8; // 24 significant bits
            if (wide) {
                reinterpret_cast<int32_t *>(pcm->data)[i] = v * 256;
                packed.append(char(v)).append(char(v >> 8)).append(char(v >> 16));
            } else {
                reinterpret_cast<int16_t *>(pcm->data)[i] = int16_t(v);
                packed.append(char(v)).append(char(v >> 8));
            }
        }
        av_md5_update(expected.get(), reinterpret_cast<const uint8_t *>(packed.constData()), size_t(packed.size()));
        md5.Add(std::move(pcm), samples);
    }
    uint8_t ours[16];
    uint8_t theirs[16];
    md5.Final(ours);
    av_md5_final(expected.get(), theirs);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(ours), 16).toHex(),
             QByteArray(reinterpret_cast<char *>(theirs), 16).toHex());
}

void TestLibm9sUnits::flacSeekTableFillsItsRoom_data()
{
    QTest::addColumn<int>("seconds"); // of 4608-sample frames at 44.1 kHz
    QTest::addColumn<int>("room");    // the padding block's bytes, header included
    QTest::addColumn<int>("points");  // in the table; 0: no table
    QTest::addColumn<bool>("padded"); // a padding block follows it
    const int point = FlacSeekTable::kPointBytes;
    QTest::newRow("a point per ten seconds, padding after") << 60 << 8196 + 6 * point << 6 << true;
    QTest::newRow("room for all exactly: the table is last") << 60 << 4 + 6 * point << 6 << false;
    QTest::newRow("two bytes too few for padding: a point less") << 60 << 4 + 6 * point + 2 << 5 << true;
    QTest::newRow("more points than room: spread evenly") << 600 << 4 + 10 * point << 10 << false;
    QTest::newRow("no room for a single point") << 60 << 4 + point - 1 << 0 << false;
}

// Every byte of the padding is used, block headers say what follows, and
// each point names the frame that holds a multiple of ten seconds.
void TestLibm9sUnits::flacSeekTableFillsItsRoom()
{
    QFETCH(int, seconds);
    QFETCH(int, room);
    QFETCH(int, points);
    QFETCH(bool, padded);
    constexpr int kFrame = 4608;
    FlacSeekTable table(44100);
    for (int64_t s = 0; s < int64_t(seconds) * 44100; s += kFrame)
        table.Add(1000 + s % 7, kFrame);
    const std::vector<uint8_t> blocks = table.Blocks(size_t(room));
    QCOMPARE(blocks.empty(), points == 0);
    if (points == 0)
        return;
    auto number = [&](size_t at, int bytes) {
        int64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v = v << 8 | blocks[at + size_t(i)];
        return v;
    };
    QCOMPARE(int(blocks.size()), room);
    QCOMPARE(int(blocks[0]), 3 | (padded ? 0 : 0x80));
    QCOMPARE(number(1, 3), int64_t(points) * FlacSeekTable::kPointBytes);
    int64_t last = -1;
    for (int i = 0; i < points; ++i) {
        const size_t at = 4 + size_t(i) * FlacSeekTable::kPointBytes;
        const int64_t sample = number(at, 8);
        // The first frame at or after a multiple of ten seconds.
        QVERIFY(sample % kFrame == 0 && sample > last && sample % 441000 < kFrame);
        int64_t before = 0; // the frames' bytes ahead of this one
        for (int64_t s = 0; s < sample; s += kFrame)
            before += 1000 + s % 7;
        QCOMPARE(number(at + 8, 8), before);
        QCOMPARE(number(at + 16, 2), int64_t(kFrame));
        last = sample;
    }
    if (padded) {
        const size_t at = 4 + size_t(points) * FlacSeekTable::kPointBytes;
        QCOMPARE(int(blocks[at]), 0x81);
        QCOMPARE(number(at + 1, 3), int64_t(room) - int64_t(at) - 4);
    }
}

void TestLibm9sUnits::flacSeekTableAsksForRoom_data()
{
    QTest::addColumn<qint64>("seconds"); // declared; 0: unknown
    QTest::addColumn<int>("points");     // room asked for beyond the usual padding
    QTest::newRow("unknown length") << qint64(0) << 1;
    QTest::newRow("ten minutes") << qint64(600) << 61;
    QTest::newRow("a year declared: a day's points") << qint64(365 * 86400) << 8641;
}

void TestLibm9sUnits::flacSeekTableAsksForRoom()
{
    QFETCH(qint64, seconds);
    QFETCH(int, points);
    QCOMPARE(FlacSeekTable::PaddingFor(seconds * 44100, 44100), 8192 + 4 + points * FlacSeekTable::kPointBytes);
}

void TestLibm9sUnits::plansGainAndTags_data()
{
    QTest::addColumn<double>("lufs");
    QTest::addColumn<double>("peakDb"); // the true peak, and the sample peak too
    QTest::addColumn<bool>("truePeak"); // false: only the sample peak was measured
    QTest::addColumn<double>("seconds");
    QTest::addColumn<double>("gainDb"); // for -16 LUFS under -1 dBTP
    QTest::addColumn<QString>("peaks"); // "limit", "measure the true peak" or nothing to do
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QStringList>("tags"); // ReplayGain; Opus's last

    const QString limit = "limit";
    const QString measure = "measure the true peak";
    QTest::newRow("quiet, room above") << -31.5 << -18.0 << true << 60.0 << 15.5 << "" << ""
                                       << QStringList{"13.50 dB", "0.125893", "2176"};
    QTest::newRow("quiet, peaks pushed over")
        << -31.5 << -10.0 << true << 60.0 << 15.5 << limit << "" << QStringList{"13.50 dB", "0.316228", "2176"};
    QTest::newRow("loud, lowered") << -8.0 << 2.0 << true << 60.0 << -8.0 << "" << ""
                                   << QStringList{"-10.00 dB", "1.258925", "-3840"};
    QTest::newRow("one gating block") << -20.0 << -6.0 << true << 0.4 << 4.0 << "" << ""
                                      << QStringList{"2.00 dB", "0.501187", "-768"};
    QTest::newRow("just under a block") << -20.0 << -6.0 << true << 0.399 << 0.0 << "" << "shorter than 0.4 s"
                                        << QStringList{};
    QTest::newRow("silence") << -HUGE_VAL << -HUGE_VAL << true << 60.0 << 0.0 << "" << "silent" << QStringList{};
    QTest::newRow("below the gate") << -HUGE_VAL << -80.0 << true << 60.0 << 0.0 << "" << "gate" << QStringList{};
    QTest::newRow("nearly at the gate") << -69.9 << -50.0 << true << 60.0 << 53.9 << limit << ""
                                        << QStringList{"51.90 dB", "0.003162", "12006"};
    // Between the samples a peak rises at most 5.6 dB: only that near the
    // ceiling is the true peak worth its cost; a sample over it already
    // calls for the limiter.
    QTest::newRow("sample peak far under the ceiling")
        << -31.5 << -24.2 << false << 60.0 << 15.5 << "" << "" << QStringList{"13.50 dB", "0.061660", "2176"};
    QTest::newRow("sample peak near the ceiling")
        << -31.5 << -24.0 << false << 60.0 << 15.5 << measure << "" << QStringList{"13.50 dB", "0.063096", "2176"};
    QTest::newRow("sample peak pushed over: no need to measure more")
        << -31.5 << -16.0 << false << 60.0 << 15.5 << limit << "" << QStringList{"13.50 dB", "0.158489", "2176"};
    QTest::newRow("lowered, sample peak over full scale")
        << -4.0 << 0.5 << false << 60.0 << -12.0 << "" << "" << QStringList{"-14.00 dB", "1.059254", "-4864"};
}

void TestLibm9sUnits::plansGainAndTags()
{
    QFETCH(double, lufs);
    QFETCH(double, peakDb);
    QFETCH(bool, truePeak);
    QFETCH(double, seconds);
    QFETCH(double, gainDb);
    QFETCH(QString, peaks);
    QFETCH(QString, refusal);
    QFETCH(QStringList, tags);
    LoudnessMeasure measure;
    measure.integratedLufs = lufs;
    measure.samplePeak = std::isfinite(peakDb) ? std::pow(10.0, peakDb / 20) : 0.0;
    measure.truePeak = truePeak ? measure.samplePeak : 0.0;
    measure.truePeakKnown = truePeak;
    measure.sampleRate = 48000;
    measure.samples = int64_t(std::llround(seconds * 48000));
    const LevelPlan plan = PlanLevel(measure, -16, -1);
    QCOMPARE(plan.gainDb, gainDb);
    QCOMPARE(plan.limit ? "limit" : plan.needsTruePeak ? "measure the true peak" : "", peaks);
    QVERIFY2(QString::fromStdString(plan.refusal).contains(refusal) && plan.refusal.empty() == refusal.isEmpty(),
             plan.refusal.c_str());
    QStringList written;
    for (const bool opus : {false, true})
        for (const auto &[key, value] : ReplayGainTags(measure, opus))
            written << QString::fromStdString(value);
    QCOMPARE(written, tags);
}

void TestLibm9sUnits::boundsTruePeakBySamples_data()
{
    QTest::addColumn<int>("rate");
    QTest::newRow("4x interpolation") << 48000;
    QTest::newRow("4x interpolation, from 44.1 kHz") << 44100;
    QTest::newRow("2x interpolation") << 96000;
    QTest::newRow("none") << 192000;
}

// The worst case for the interpolation, a burst of samples with the signs
// of an ideal half-sample filter, stays within the bound the plan trusts;
// a looser one would measure the true peak for nothing.
void TestLibm9sUnits::boundsTruePeakBySamples()
{
    QFETCH(int, rate);
    std::vector<float> burst(size_t(rate) / 10);
    for (int n = -40; n <= 40; ++n)
        burst[burst.size() / 2 + size_t(n)] = std::sin(M_PI * (0.5 - n)) / (0.5 - n) >= 0 ? 0.5f : -0.5f;
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    LoudnessMeter meter(mono, rate, MeterKind::TruePeak);
    meter.Add(burst.data(), int(burst.size()));
    const LoudnessMeasure measure = meter.Result();
    const double over = ToDecibels(measure.truePeak) - ToDecibels(measure.samplePeak);
    QVERIFY2(over <= TruePeakOverSampleDb(rate) && over >= TruePeakOverSampleDb(rate) - 0.25,
             qPrintable(QString::number(over)));
}

void TestLibm9sUnits::measuresInParts_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("parts"); // threads to plan for; long tracks get more parts
    QTest::addColumn<bool>("truePeak");

    QTest::newRow("stereo in three") << 44100 << 2 << 9 << 3 << false;
    QTest::newRow("100 ms not a whole number of samples") << 11025 << 1 << 7 << 4 << false;
    QTest::newRow("5.1, weighted channels") << 48000 << 6 << 5 << 2 << false;
    QTest::newRow("parts of a minute at most") << 8000 << 1 << 150 << 2 << false;
    QTest::newRow("true peak") << 44100 << 2 << 6 << 3 << true;
}

// The track's parts, each fed from its lead-in on, measure as one meter over
// the whole: the same blocks, so the same loudness, and the same peaks.
void TestLibm9sUnits::measuresInParts()
{
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(int, seconds);
    QFETCH(int, parts);
    QFETCH(bool, truePeak);
    // Tones that swell and fade, loud noise bursts and near-silent pauses
    // (below the relative gate), each channel its own.
    const int64_t total = int64_t(seconds) * rate + rate / 3;
    std::vector<float> audio(size_t(total) * size_t(channels));
    uint32_t noise = 1;
    for (int64_t i = 0; i < total; ++i) {
        const double t = double(i) / rate;
        const double swell = 0.5 + 0.45 * std::sin(2 * M_PI * 0.3 * t);
        const bool pause = std::fmod(t, 4.0) > 3.2;
        for (int c = 0; c < channels; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double burst = std::fmod(t + c, 2.5) < 0.4 ? (double(noise >> 8) / (1 << 24) - 0.5) : 0.0;
            const double tone = swell * std::sin(2 * M_PI * (220 + 110 * c) * t) * 0.4 + burst;
            audio[size_t(i) * size_t(channels) + size_t(c)] = float(pause ? tone * 0.001 : tone);
        }
    }
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, channels);
    const MeterKind kind = truePeak ? MeterKind::TruePeak : MeterKind::Loudness;

    LoudnessMeter whole(layout, rate, kind);
    whole.Add(audio.data(), int(total));
    const std::vector<Segment> cuts = PartMeters::Plan(total, rate, parts);
    QVERIFY(cuts.size() >= size_t(parts));
    PartMeters meters(layout, rate, cuts, kind);
    // Each part's audio in uneven pieces, from its lead-in on.
    for (size_t i = 0; i < cuts.size(); ++i) {
        const int64_t to = cuts[i].last ? total : cuts[i].end;
        for (int64_t at = std::max<int64_t>(0, cuts[i].start - PartMeters::LeadSamples(rate)); at < to;) {
            const int n = int(std::min<int64_t>(to - at, 1000 + at % 777));
            meters.Add(i, at, audio.data() + size_t(at) * size_t(channels), n);
            at += n;
        }
    }
    const LoudnessMeasure one = whole.Result();
    const LoudnessMeasure all = meters.Result();
    const QString seen = QString("%1 against %2 LUFS, %3 against %4 LU, true peak %5 against %6")
                             .arg(all.integratedLufs, 0, 'f', 6)
                             .arg(one.integratedLufs, 0, 'f', 6)
                             .arg(all.rangeLu)
                             .arg(one.rangeLu)
                             .arg(all.truePeak)
                             .arg(one.truePeak);
    QCOMPARE(all.samples, one.samples);
    QCOMPARE(all.samplePeak, one.samplePeak);
    QCOMPARE(all.truePeakKnown, truePeak);
    // Only the filters' first milliseconds in each lead-in differ.
    QVERIFY2(std::abs(all.truePeak - one.truePeak) <= 1e-4 * one.truePeak, qPrintable(seen));
    QVERIFY2(std::abs(all.integratedLufs - one.integratedLufs) <= 1e-4, qPrintable(seen));
    QVERIFY2(std::abs(all.rangeLu - one.rangeLu) <= 1e-3, qPrintable(seen));
    av_channel_layout_uninit(&layout);
}

void TestLibm9sUnits::levellerKeepsEverySample_data()
{
    QTest::addColumn<double>("gainDb");
    QTest::addColumn<double>("ceilingDb"); // NaN: no limiter
    QTest::addColumn<int>("format");       // AVSampleFormat
    QTest::addColumn<int>("chunk");        // samples per call

    QTest::newRow("gain only, planar floats") << 6.0 << qQNaN() << int(AV_SAMPLE_FMT_FLTP) << 1000;
    QTest::newRow("gain only, 16 bits") << -3.0 << qQNaN() << int(AV_SAMPLE_FMT_S16) << 4096;
    QTest::newRow("limited, packed floats") << 12.0 << -1.0 << int(AV_SAMPLE_FMT_FLT) << 333;
    QTest::newRow("limited, 32 bits, one at a time") << 12.0 << -3.0 << int(AV_SAMPLE_FMT_S32) << 1;
    QTest::newRow("limited, chunks longer than the look-ahead") << 20.0 << -1.0 << int(AV_SAMPLE_FMT_FLTP) << 5000;
}

void TestLibm9sUnits::levellerKeepsEverySample()
{
    QFETCH(double, gainDb);
    QFETCH(double, ceilingDb);
    QFETCH(int, format);
    QFETCH(int, chunk);
    // Two seconds at 8000 Hz: a quiet tone, then a burst a quarter of the
    // sample rate high, whose peaks lie between the samples; the two
    // channels differ.
    constexpr int kRate = 8000;
    constexpr int kSamples = 2 * kRate;
    auto source = [](int channel, int i) {
        const double quiet = 0.01 * std::sin(2 * M_PI * 440 * i / kRate + channel);
        return float(i >= kRate && i < kRate + 400 ? 0.5 * std::sin(M_PI / 2 * i + M_PI / 4) : quiet);
    };
    const auto sampleFormat = AVSampleFormat(format);
    const std::optional<double> ceiling = std::isnan(ceilingDb) ? std::nullopt : std::optional(ceilingDb);
    Leveller leveller(gainDb, ceiling, 2, kRate, sampleFormat);

    std::vector<std::vector<double>> out(2);
    std::vector<uint8_t> buffer;
    auto collect = [&](int n, const std::function<int(uint8_t *const *)> &step) {
        const int bytes = av_get_bytes_per_sample(sampleFormat);
        buffer.assign(size_t(n) * 2 * size_t(bytes), 0);
        const bool planar = av_sample_fmt_is_planar(sampleFormat);
        uint8_t *planes[2] = {buffer.data(), buffer.data() + (planar ? size_t(n) * size_t(bytes) : 0)};
        const int got = step(planes);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < got; ++i) {
                const uint8_t *at = planes[planar ? c : 0] + size_t(planar ? i : i * 2 + c) * size_t(bytes);
                const AVSampleFormat packed = av_get_packed_sample_fmt(sampleFormat);
                out[size_t(c)].push_back(packed == AV_SAMPLE_FMT_FLT ? *reinterpret_cast<const float *>(at)
                                         : packed == AV_SAMPLE_FMT_S16
                                             ? *reinterpret_cast<const int16_t *>(at) / 32768.0
                                             : *reinterpret_cast<const int32_t *>(at) / 2147483648.0);
            }
    };
    for (int done = 0; done < kSamples; done += chunk) {
        const int n = std::min(chunk, kSamples - done);
        uint8_t **in = leveller.Input(n);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
                reinterpret_cast<float *>(in[c])[i] = source(c, done + i);
        collect(n, [&](uint8_t *const *planes) { return leveller.Process(n, planes); });
    }
    collect(leveller.Delay(), [&](uint8_t *const *planes) { return leveller.Flush(leveller.Delay(), planes); });

    const double gain = std::pow(10.0, gainDb / 20);
    // The burst's true peaks lie 3 dB above its samples: the limiter must see them.
    const double limit = ceiling ? std::pow(10.0, *ceiling / 20) / M_SQRT2 * 1.01 : 2.0;
    for (int c = 0; c < 2; ++c) {
        QCOMPARE(int(out[size_t(c)].size()), kSamples);
        double loudest = 0;
        for (int i = 0; i < kSamples; ++i) {
            loudest = std::max(loudest, std::abs(out[size_t(c)][size_t(i)]));
            // In the right place, and untouched away from the burst.
            if (i < kRate - 100 || i > kRate + 6000)
                QVERIFY2(std::abs(out[size_t(c)][size_t(i)] - source(c, i) * gain) < 1e-3,
                         qPrintable(QString("channel %1, sample %2").arg(c).arg(i)));
        }
        QVERIFY2(loudest <= limit, qPrintable(QString::number(loudest)));
    }
    QCOMPARE(leveller.Limited(), ceiling.has_value());
}

QTEST_GUILESS_MAIN(TestLibm9sUnits)
#include "tst_libm9s_units.moc"
