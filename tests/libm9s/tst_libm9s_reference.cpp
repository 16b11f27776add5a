// libm9s against the stock ffmpeg program on the same files: WAV sample for
// sample, the other formats by what ffprobe reports and what they decode
// to, copies packet for packet; in every container the program accepts,
// with surround sound, several audio tracks, tags, cover pictures, chapters
// and awkward paths; the track list against ffprobe; and loudness levelling
// and ReplayGain tags against ffmpeg's own EBU R128 meter.

#include "EncoderTestKit.h"
#include "libm9s/output/ChunkedDecode.h"
#include "libm9s/output/OutputCheck.h"
#include "libm9s/segments/Segments.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

using namespace EncoderTestKit;

class TestLibm9sReference : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void wavMatchesFfmpeg_data();
    void wavMatchesFfmpeg();
    void mp3MatchesFfmpeg_data();
    void mp3MatchesFfmpeg();
    void newFormatsMatchFfmpeg_data();
    void newFormatsMatchFfmpeg();
    void copyKeepsPackets_data();
    void copyKeepsPackets();
    void mapPicksAskedTrack_data();
    void mapPicksAskedTrack();
    void probeListsTracks_data();
    void probeListsTracks();
    void carriesTagsCoverAndChapters_data();
    void carriesTagsCoverAndChapters();
    void splitsChapters_data();
    void splitsChapters();
    void handlesAwkwardPaths_data();
    void handlesAwkwardPaths();
    void segmentsJoinWithoutSeam_data();
    void segmentsJoinWithoutSeam();
    void decodesMp3InChunks_data();
    void decodesMp3InChunks();
    void levelsLoudness_data();
    void levelsLoudness();

private:
    QString Path(const QString &name) const { return dir_.filePath(name); }
    QString Make(const QString &name, const QStringList &args);
    void MakeTagged();
    void MakeHalfRateHeader(const QString &from, const QString &name);

    QTemporaryDir dir_;
    QMap<QString, QString> made_; // fixture name -> path, or empty when ffmpeg failed
};

QString TestLibm9sReference::Make(const QString &name, const QStringList &args)
{
    const QString path = Path(name);
    made_.insert(name, MakeWithFfmpeg(args, path) ? path : QString());
    return made_.value(name);
}

void TestLibm9sReference::initTestCase()
{
    QVERIFY(dir_.isValid());
    QVERIFY2(QFileInfo(EncoderPath()).isExecutable(), qPrintable(EncoderPath()));

    for (const ContainerFixture &f : ContainerFixtures())
        Make(f.file, f.args);

    Make("surround.mp4", VideoSource(1.5) + ToneSource(48000, 6, 1.5)
                             + QStringList{"-c:v", "mpeg4", "-c:a", "aac", "-channel_layout", "5.1"});
    // Frames of 100000 samples: far more than the encoder converts in one step.
    Make("huge-frames.mkv",
         {"-f", "lavfi", "-i", "aevalsrc=0.4*sin(2*PI*440*t)|0.3*sin(2*PI*660*t*t):s=8000:n=100000:d=30", "-c:a",
          "pcm_s16le"});
    Make("surround.mkv", ToneSource(48000, 6, 1.5) + QStringList{"-c:a", "ac3", "-channel_layout", "5.1(side)"});
    // A mono commentary first, the stereo sound second: the stereo track wins...
    const QStringList twoTracks =
        VideoSource(1.5) + ToneSource(44100, 1, 1.5) + ToneSource(48000, 2, 1.5)
        + QStringList{"-map", "0:v", "-map", "1:a", "-map", "2:a", "-c:v", "mpeg4", "-c:a", "libvorbis"};
    Make("two-tracks.mkv", twoTracks + QStringList{"-disposition:a:0", "0", "-disposition:a:1", "0"});
    // ...unless the mono one is marked as the default.
    Make("two-tracks-default.mkv", twoTracks + QStringList{"-disposition:a:0", "default", "-disposition:a:1", "0"});
    // Three languages, three codecs, three rates; the second is the default.
    Make("three-tracks.mkv", VideoSource(1.5) + ToneSource(44100, 1, 1.5) + ToneSource(48000, 2, 1.5)
                                 + ToneSource(22050, 6, 1.5)
                                 + QStringList{"-map",
                                               "0:v",
                                               "-map",
                                               "1:a",
                                               "-map",
                                               "2:a",
                                               "-map",
                                               "3:a",
                                               "-c:v",
                                               "mpeg4",
                                               "-c:a:0",
                                               "aac",
                                               "-c:a:1",
                                               "ac3",
                                               "-c:a:2",
                                               "flac",
                                               "-metadata:s:a:0",
                                               "language=eng",
                                               "-metadata:s:a:0",
                                               "title=Director's commentary",
                                               "-metadata:s:a:1",
                                               "language=jpn",
                                               "-metadata:s:a:2",
                                               "language=fre",
                                               "-disposition:a:0",
                                               "0",
                                               "-disposition:a:1",
                                               "default",
                                               "-disposition:a:2",
                                               "0"});
    Make("deep.mkv", ToneSource(48000, 2, 1.5) + QStringList{"-c:a", "pcm_s24le"});
    Make("eac3.mkv", ToneSource(48000, 2, 1.5) + QStringList{"-c:a", "eac3"});
    Make("opus.mkv", ToneSource(48000, 2, 1.5) + QStringList{"-c:a", "libopus"});
    Make("pcm.mkv", ToneSource(44100, 2, 1.5) + QStringList{"-c:a", "pcm_s16le"});
    // Long enough for three segments: chords under bursts of band-limited
    // noise at a syllable's pace, as in a film's music and speech.
    const QString film = "aevalsrc=0.3*sin(2*PI*220*t)*(0.6+0.4*sin(2*PI*0.5*t))+0.2*sin(2*PI*330*t+sin(2*PI*3*t))"
                         "+0.3*(random(0)-0.5)*gt(sin(2*PI*4*t)\\,0.3)|0.3*sin(2*PI*277*t)+0.2*sin(2*PI*554*t)"
                         "+0.3*(random(1)-0.5)*gt(sin(2*PI*3*t)\\,0.2):s=48000:d=7";
    Make("film.mov", {"-f", "lavfi", "-i", film, "-c:a", "pcm_s16le"});
    Make("film-deep.mov", {"-f", "lavfi", "-i", film, "-c:a", "pcm_s24le"});
    // Long enough for more segments than threads: each thread's FLAC
    // encoder goes on from one to the next, and the last round is cut small.
    Make("film-long.mov", {"-f", "lavfi", "-i", QString(film).replace(":d=7", ":d=70"), "-c:a", "pcm_s16le"});
    // Matroska's timestamps are milliseconds, coarser than a sample.
    Make("film.mkv", {"-f", "lavfi", "-i", film, "-c:a", "aac"});
    // Short clusters put a cue every half second, so every segment's seek
    // lands near its start, not at the top. No noise bands: a decoder makes
    // them up at random, differently after a seek, as any player's does.
    Make("film-cues.mkv", {"-f", "lavfi", "-i", film, "-c:a", "aac", "-aac_pns", "0", "-cluster_time_limit", "500"});
    MakeHalfRateHeader("film-cues.mkv", "film-half-rate.mkv");
    // AC-3 in Matroska: the container names no frame size.
    Make("film-ac3.mkv", {"-f", "lavfi", "-i", film, "-c:a", "ac3", "-b:a", "96k", "-cluster_time_limit", "500"});
    // Opus in Matroska: its decoder cuts its pre-roll from the first frame after a seek.
    Make("film-opus.mkv", {"-f", "lavfi", "-i", film, "-c:a", "libopus", "-cluster_time_limit", "500"});
    // G.722 in WAV: the file dates its packets by their bytes, which a seek
    // into G.722 gets wrong.
    Make("film-g722.wav", {"-f", "lavfi", "-i", film, "-c:a", "g722"});
    // MP2 in a transport stream, as a DVB recording.
    Make("film-mp2.ts", {"-f", "lavfi", "-i", film, "-c:a", "mp2", "-b:a", "192k"});
    // Two recordings joined into one (cat a.ts b.ts): the timestamps start
    // again at the join, and the length the file states is the second's.
    const QString longFilm = QString(film).replace(":d=7", ":d=75");
    for (const QString codec : {"mp2", "ac3", "aac"}) {
        const QString first = Make("first-" + codec + ".ts", {"-f", "lavfi", "-i", longFilm, "-c:a", codec});
        const QString second = Make("second-" + codec + ".ts",
                                    {"-f", "lavfi", "-i", QString(longFilm).replace("220", "247"), "-c:a", codec});
        QFile joined(Path("joined-" + codec + ".ts"));
        if (!first.isEmpty() && !second.isEmpty() && joined.open(QIODevice::WriteOnly)
            && joined.write(ReadAll(first) + ReadAll(second)) > 0)
            made_.insert(QFileInfo(joined).fileName(), joined.fileName());
    }
    MakeTagged();
    Make("film-chapters.mkv",
         {"-i", made_.value("film-cues.mkv"), "-i", Path("tags.txt"), "-map", "0", "-map_chapters", "1", "-c", "copy"});
}

// A copy of a Matroska fixture of 48 kHz whose header names 24 kHz, as
// HE-AAC's header names its core's half rate: only the probe, which
// decodes, finds the rate of the audio.
void TestLibm9sReference::MakeHalfRateHeader(const QString &from, const QString &name)
{
    const auto rateElement = [](double hz) {
        QByteArray element("\xB5\x88", 2); // SamplingFrequency, an 8-byte float
        quint64 bits = 0;
        std::memcpy(&bits, &hz, sizeof bits);
        for (int shift = 56; shift >= 0; shift -= 8)
            element.append(char(bits >> shift));
        return element;
    };
    QFile source(made_.value(from));
    QByteArray bytes = source.open(QIODevice::ReadOnly) ? source.readAll() : QByteArray();
    const qsizetype at = bytes.indexOf(rateElement(48000));
    QFile copy(Path(name));
    const bool made = at >= 0 && copy.open(QIODevice::WriteOnly)
                      && copy.write(bytes.replace(at, 10, rateElement(24000))) == bytes.size();
    made_.insert(name, made ? copy.fileName() : QString());
}

void TestLibm9sReference::MakeTagged()
{
    // Every tag the encoder carries, titles in three scripts, three chapters.
    QFile meta(Path("tags.txt"));
    QVERIFY(meta.open(QIODevice::WriteOnly));
    meta.write(";FFMETADATA1\ntitle=汉语 日本語のタイトル Ελληνικά\nartist=Ärtist 歌手\nalbum_artist=Band\n"
               "album=Albüm\ndate=2021\ngenre=Lecture\ncomment=Kommentar\ndescription=Beschreibung\ntrack=4/9\n"
               "disc=1/2\ncomposer=作曲家\ncopyright=© 2021\n");
    const char *chapters[][3] = {
        {"0", "1000", "第一章 はじめに"}, {"1000", "2500", "Глава два"}, {"2500", "4000", "三 Final"}};
    for (const auto &c : chapters)
        meta.write(QString("[CHAPTER]\nTIMEBASE=1/1000\nSTART=%1\nEND=%2\ntitle=%3\n").arg(c[0], c[1], c[2]).toUtf8());
    meta.close();
    const QString png = Make("cover.png", VideoSource(1) + QStringList{"-frames:v", "1"});
    const QString jpg = Make("cover.jpg", VideoSource(1) + QStringList{"-frames:v", "1"});
    const QStringList tags{"-map_metadata", "2", "-map_chapters", "2", "-metadata:s:a:0", "language=jpn"};
    // MP4: AAC, a PNG cover (covr) and chapters.
    Make("tagged.mp4",
         VideoSource(4) + ToneSource(44100, 2, 4)
             + QStringList{"-i", meta.fileName(), "-i", png, "-map", "0:v", "-map", "1:a", "-map", "3:v", "-c:v:0",
                           "mpeg4", "-c:v:1", "copy", "-disposition:v:1", "attached_pic", "-c:a", "aac"}
             + tags);
    // Matroska: Vorbis with a title of its own, the cover a JPEG attachment.
    Make("tagged.mkv", VideoSource(4) + ToneSource(48000, 2, 4)
                           + QStringList{"-i", meta.fileName(), "-map", "0:v", "-map", "1:a", "-c:v", "mpeg4", "-c:a",
                                         "libvorbis", "-metadata:s:a:0", "title=Commentary", "-attach", jpg,
                                         "-metadata:s:t", "mimetype=image/jpeg"}
                           + tags);
    Make("tagged.asf", ToneSource(44100, 2, 0.5) + QStringList{"-i", meta.fileName(), "-map_metadata", "1"});
    // An MP3 as a careless tagger leaves it: a title that is not UTF-8, two
    // artists and two albums in one frame each (UTF-8 and UTF-16), and a
    // cover that is a JPEG header and junk.
    const QString bare = Make("untagged.mp3", ToneSource(44100, 2, 2) + QStringList{"-write_id3v2", "0"});
    using namespace Qt::Literals::StringLiterals;
    auto syncSafe = [](qsizetype n) {
        QByteArray size(4, '\0');
        for (int i = 0; i < 4; ++i)
            size[i] = char(n >> (21 - 7 * i) & 0x7F);
        return size;
    };
    auto frame = [&](const char *id, const QByteArray &content) {
        return id + syncSafe(content.size()) + "\0\0"_ba + content;
    };
    const QByteArray utf16 = QByteArray("\xFF\xFE"
                                        "A\0l\0b\0\xFC\0m\0"
                                        "\0\0"
                                        "\xFF\xFE"
                                        "Z\0w\0e\0i\0",
                                        26);
    const QByteArray frames =
        frame("TIT2", "\x03"
                      "Caf\xE9 ok"_ba)
        + frame("TPE1", "\x03"
                        "Alice\0Bob"_ba)
        + frame("TALB", "\x01"_ba + utf16)
        + frame("APIC", "\0image/jpeg\0\x03\0\xFF\xD8\xFF\xE0\0\x10JFIF\0"_ba + QByteArray("junk").repeated(200));
    QFile damaged(Path("tagged.mp3"));
    if (!bare.isEmpty() && damaged.open(QIODevice::WriteOnly)) {
        damaged.write("ID3\x04\0\0"_ba + syncSafe(frames.size()) + frames + ReadAll(bare));
        damaged.close();
        made_.insert("tagged.mp3", damaged.fileName());
    }

    // Sound to level: a voice (a buzz in syllables and pauses), music with a
    // kick drum (peaks far above its loudness), a clipped square wave, a
    // whisper, silence, and what no meter can measure.
    const QString voice = "(0.25*sin(2*PI*150*t)+0.15*sin(2*PI*300*t)+0.1*sin(2*PI*450*t))"
                          "*max(0\\,sin(2*PI*3*t))*gt(sin(2*PI*0.25*t)\\,-0.5)";
    const QString band = "0.15*sin(2*PI*220*t)+0.1*sin(2*PI*%1*t)+0.6*exp(-30*mod(t\\,0.5))*sin(2*PI*60*t)";
    auto sound = [](const QString &expression, double seconds, const QStringList &codec) {
        return QStringList{"-f", "lavfi", "-i", QString("aevalsrc=%1:s=44100:d=%2").arg(expression).arg(seconds)}
               + codec;
    };
    const QStringList pcm{"-c:a", "pcm_s16le"};
    Make("voice.mkv", sound(voice, 12, {"-c:a", "aac", "-b:a", "192k"}));
    Make("music.mkv", sound(band.arg(330) + "|" + band.arg(440), 12, pcm));
    Make("clipped.mkv", sound("clip(3*sin(2*PI*100*t)\\,-1\\,1)", 12, pcm));
    Make("whisper.mkv", sound("0.01*" + voice, 12, pcm));
    // Loud for three seconds, then 26 dB quieter: a part gets its own gain.
    Make("steps.mkv", sound("sin(2*PI*440*t)*if(lt(t\\,3)\\,0.5\\,0.025)", 12, pcm));
    Make("silence.mkv", sound("0", 3, pcm));
    Make("short.mkv", sound(voice, 0.3, pcm));
    Make("below-gate.mkv", sound("0.0003*" + voice, 3, pcm));
    Make("voice-mp3.mkv", sound(voice, 12, {"-c:a", "libmp3lame"}));
    Make("voice-opus.mkv", sound(voice, 12, {"-c:a", "libopus"}));
    // Speech whose plosives stand 20 dB over its loudness: levelled to
    // -14 LUFS, the limiter has most of them to hold.
    Make("plosives.mkv", sound("0.3*" + voice + "+1.6*(random(0)-0.5)*exp(-80*mod(t\\,0.9))", 12, pcm));

    // Chapters as sources get them wrong: one without length, one of 100 ms,
    // overlapping ones; and sources whose timestamps do not tell the sample
    // (Vorbis in Matroska) or whose chapters count from after the encoder's
    // delay (LAME).
    auto chaptered = [&](const QString &name, const QList<QPair<int, int>> &times, const QStringList &codec) {
        QFile list(Path(name + ".txt"));
        if (!list.open(QIODevice::WriteOnly))
            return;
        list.write(";FFMETADATA1\ntitle=Chaptered\n");
        for (qsizetype i = 0; i < times.size(); ++i)
            list.write(QString("[CHAPTER]\nTIMEBASE=1/1000\nSTART=%1\nEND=%2\ntitle=Part %3\n")
                           .arg(times[i].first)
                           .arg(times[i].second)
                           .arg(i + 1)
                           .toUtf8());
        list.close();
        Make(name, sound(band.arg(330) + "|" + band.arg(440), 5,
                         QStringList{"-i", list.fileName(), "-map", "0", "-map_chapters", "1"} + codec));
    };
    chaptered("zero-chapter.mkv", {{0, 0}, {0, 2000}, {2000, 5000}}, pcm);
    chaptered("short-chapter.mkv", {{0, 2000}, {2000, 2100}, {2100, 5000}}, pcm);
    chaptered("overlapping.mkv", {{0, 3000}, {2000, 4000}, {3500, 5000}}, pcm);
    chaptered("vorbis-chapters.mkv", {{0, 1500}, {1500, 3500}, {3500, 5000}}, {"-c:a", "libvorbis"});
    chaptered("lame-chapters.mp3", {{0, 1500}, {1500, 3500}, {3500, 5000}}, {"-c:a", "libmp3lame"});
}

namespace {

// The first sample of each point of a FLAC file's SEEKTABLE whose offset
// lands on a frame's sync code; -1 for one that does not.
QList<qint64> FlacSeekPoints(const QByteArray &file)
{
    auto number = [](const QByteArray &bytes, qsizetype at, int length) {
        qint64 v = 0;
        for (qsizetype i = at; i < at + length && i < bytes.size(); ++i)
            v = v << 8 | quint8(bytes[i]);
        return v;
    };
    qsizetype audio = 4; // after the metadata blocks
    QByteArray table;
    for (bool last = false; !last && audio + 4 <= file.size();) {
        last = quint8(file[audio]) & 0x80;
        const qsizetype length = qsizetype(number(file, audio + 1, 3));
        if ((quint8(file[audio]) & 0x7F) == 3)
            table = file.mid(audio + 4, length);
        audio += 4 + length;
    }
    QList<qint64> points;
    for (qsizetype p = 0; p + 18 <= table.size(); p += 18) {
        const qsizetype frame = audio + qsizetype(number(table, p + 8, 8));
        const bool sync = frame + 1 < file.size() && quint8(file[frame]) == 0xFF && quint8(file[frame + 1]) == 0xF8;
        points << (sync ? number(table, p, 8) : -1);
    }
    return points;
}

// What the ffmpeg program gets for the same output.
QStringList FfmpegCodecArgs(const QString &format, int kbits, bool deep)
{
    const QString bitrate = QString("%1k").arg(kbits);
    if (format == "flac")
        return {"-c:a", "flac", "-sample_fmt", deep ? "s32" : "s16"};
    if (format == "m4a")
        return {"-c:a", "aac", "-b:a", bitrate, "-f", "ipod"};
    if (format == "opus")
        return {"-c:a", "libopus", "-b:a", bitrate};
    return {"-c:a", "libvorbis", "-b:a", bitrate};
}

int FrameSize(const QString &format)
{
    static const QMap<QString, int> sizes{{"flac", 4608}, {"m4a", 1024}, {"opus", 960}, {"ogg", 2048}, {"mp3", 1152}};
    return sizes.value(format);
}

// The container a copy of each fixture's audio goes to.
const QMap<QString, QString> kCopyExtension{
    {"clip.avi", "mp3"}, {"clip.mpg", "mka"},  {"clip.mpeg", "mka"}, {"clip.dat", "mka"},  {"clip.vob", "ac3"},
    {"clip.wmv", "mka"}, {"clip.asf", "mka"},  {"clip.mov", "m4a"},  {"clip.qt", "mka"},   {"clip.mp4", "m4a"},
    {"clip.3gp", "m4a"}, {"clip.mkv", "ogg"},  {"clip.rm", "ac3"},   {"clip.rmvb", "ac3"}, {"clip.swf", "mp3"},
    {"clip.flv", "mp3"}, {"eac3.mkv", "eac3"}, {"opus.mkv", "opus"}, {"pcm.mkv", "wav"},   {"deep.mkv", "wav"}};

} // namespace

void TestLibm9sReference::newFormatsMatchFfmpeg_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("kbits");
    QTest::addColumn<int>("rate");    // asked
    QTest::addColumn<int>("written"); // what the file says
    QTest::addColumn<int>("channels");

    for (const ContainerFixture &f : ContainerFixtures())
        QTest::addRow("%s to flac", qPrintable(f.file)) << f.file << "flac" << 128 << 44100 << 44100 << 2;
    for (const QString format : {"m4a", "opus", "ogg"})
        for (const QString fixture : {"clip.mkv", "clip.mp4", "clip.avi", "clip.vob", "surround.mp4", "surround.mkv"})
            QTest::addRow("%s to %s", qPrintable(fixture), qPrintable(format))
                << fixture << format << 128 << 44100 << (format == "opus" ? 48000 : 44100) << 2;
    QTest::newRow("24-bit PCM to flac") << "deep.mkv" << "flac" << 128 << 48000 << 48000 << 2;
    QTest::newRow("flac, 8000 Hz mono") << "clip.mkv" << "flac" << 128 << 8000 << 8000 << 1;
    QTest::newRow("m4a, 64 kbit/s, 22050 Hz mono") << "clip.mkv" << "m4a" << 64 << 22050 << 22050 << 1;
    QTest::newRow("m4a, 320 kbit/s, 48000 Hz") << "clip.mp4" << "m4a" << 320 << 48000 << 48000 << 2;
    QTest::newRow("opus, 32 kbit/s, 16000 Hz mono") << "clip.avi" << "opus" << 32 << 16000 << 48000 << 1;
    QTest::newRow("ogg, 48 kbit/s, 22050 Hz mono") << "clip.avi" << "ogg" << 48 << 22050 << 22050 << 1;
    QTest::newRow("ogg, 256 kbit/s, 48000 Hz") << "clip.mp4" << "ogg" << 256 << 48000 << 48000 << 2;
}

void TestLibm9sReference::newFormatsMatchFfmpeg()
{
    QFETCH(QString, fixture);
    QFETCH(QString, format);
    QFETCH(int, kbits);
    QFETCH(int, rate);
    QFETCH(int, written);
    QFETCH(int, channels);
    const QString input = made_.value(fixture);
    QVERIFY2(!input.isEmpty(), "ffmpeg could not make the fixture");
    const bool deep = fixture == "deep.mkv";

    const QString ours = Path("ours." + format);
    const QString theirs = Path("theirs." + format);
    WritePlaceholder(ours);
    const RunResult r = RunEncoder(EncoderArgs(input, format, kbits, rate, channels, ours));
    QVERIFY2(r.finished && r.exitCode == 0, Visible(r.err).constData());
    // Opus encodes at its own rate for the asked one; the Ogg header says 48000 all the same.
    const int encoderRate = format == "opus" ? (rate >= 44100 ? 48000 : 16000) : rate;
    QVERIFY(MakeWithFfmpeg(
        QStringList{"-i", input, "-vn", "-ar", QString::number(encoderRate), "-ac", QString::number(channels)}
            + FfmpegCodecArgs(format, kbits, deep),
        theirs));

    const AudioInfo a = Probe(ours);
    const AudioInfo b = Probe(theirs);
    QVERIFY2(a.opened, qPrintable(a.error));
    QCOMPARE(a.codec, b.codec);
    QCOMPARE(a.container, b.container);
    QCOMPARE(a.sampleRate, written);
    QCOMPARE(b.sampleRate, written);
    QCOMPARE(a.channels, channels);
    QCOMPARE(b.channels, channels);
    QCOMPARE(a.decodeErrors, 0);
    QVERIFY2(qAbs(a.samples - b.samples) <= FrameSize(format) && a.samples > written,
             qPrintable(QString("%1 against %2 samples").arg(a.samples).arg(b.samples)));
    if (format == "flac") {
        QCOMPARE(FfprobeAudio(ours).value("bits_per_raw_sample"), deep ? QString("24") : QString("16"));
        QCOMPARE(FfprobeAudio(ours).value("bits_per_raw_sample"), FfprobeAudio(theirs).value("bits_per_raw_sample"));
    } else {
        // The same bit rate asked of the same encoder gives a file of about that size.
        const double ratio = double(QFileInfo(ours).size()) / double(QFileInfo(theirs).size());
        QVERIFY2(ratio > 0.8 && ratio < 1.25, qPrintable(QString("%1 times the size").arg(ratio)));
    }
}

void TestLibm9sReference::copyKeepsPackets_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<int>("track"); // -1: the automatic choice
    QTest::addColumn<QString>("extension");
    for (auto it = kCopyExtension.begin(); it != kCopyExtension.end(); ++it)
        QTest::addRow("%s", qPrintable(it.key())) << it.key() << -1 << it.value();
    QTest::newRow("three tracks, aac") << "three-tracks.mkv" << 0 << "m4a";
    QTest::newRow("three tracks, ac3") << "three-tracks.mkv" << 1 << "ac3";
    QTest::newRow("three tracks, flac") << "three-tracks.mkv" << 2 << "flac";
    QTest::newRow("aac asked into Matroska") << "clip.mp4" << -1 << "mka";
}

void TestLibm9sReference::copyKeepsPackets()
{
    QFETCH(QString, fixture);
    QFETCH(int, track);
    QFETCH(QString, extension);
    const QString input = made_.value(fixture);
    QVERIFY2(!input.isEmpty(), "ffmpeg could not make the fixture");

    const QString ours = Path("copy-ours." + extension);
    const QString theirs = Path("copy-theirs." + extension);
    WritePlaceholder(ours);
    const QStringList map = track >= 0 ? QStringList{"-map", QString("0:a:%1").arg(track)} : QStringList{};
    const RunResult r = RunEncoder(CopyArgs(input, ours, map));
    QVERIFY2(r.finished && r.exitCode == 0, Visible(r.err).constData());
    QVERIFY2(r.err.contains("=ffmpeg_release_time\r"), Visible(r.err).constData());
    QVERIFY(MakeWithFfmpeg(QStringList{"-i", input, "-vn"} + (map.isEmpty() ? QStringList{"-map", "0:a"} : map)
                               + QStringList{"-acodec", "copy"},
                           theirs));

    const QStringList a = PacketChecksums(ours);
    QVERIFY(!a.isEmpty());
    QCOMPARE(a, PacketChecksums(theirs));
    QCOMPARE(Probe(ours).decodeErrors, 0);
}

void TestLibm9sReference::mapPicksAskedTrack_data()
{
    QTest::addColumn<int>("track");
    QTest::newRow("first, mono aac") << 0;
    QTest::newRow("second, the default") << 1;
    QTest::newRow("third, 5.1 flac") << 2;
}

void TestLibm9sReference::mapPicksAskedTrack()
{
    QFETCH(int, track);
    const QString input = made_.value("three-tracks.mkv");
    QVERIFY(!input.isEmpty());
    const QString ours = Path("map-ours.wav");
    const QString theirs = Path("map-theirs.wav");
    WritePlaceholder(ours);
    QStringList args = EncoderArgs(input, "wav", 128, 44100, 2, ours);
    args.insert(args.size() - 1, "-map");
    args.insert(args.size() - 1, QString("0:a:%1").arg(track));
    const RunResult r = RunEncoder(args);
    QVERIFY2(r.exitCode == 0, Visible(r.err).constData());
    QVERIFY(MakeWithFfmpeg(
        kDecodeAsLibm9s
            + QStringList{"-i", input, "-map", QString("0:a:%1").arg(track), "-f", "wav", "-ar", "44100", "-ac", "2"},
        theirs));
    const WavData a = ReadWav(ours);
    const WavData b = ReadWav(theirs);
    QVERIFY(a.ok && b.ok);
    QVERIFY(qAbs(qsizetype(a.samples.size()) - qsizetype(b.samples.size())) <= 2 * 1152);
    QVERIFY2(MaxSampleDifference(a.samples, b.samples) <= 1,
             qPrintable(QString("samples differ by %1").arg(MaxSampleDifference(a.samples, b.samples))));
}

void TestLibm9sReference::probeListsTracks_data()
{
    QTest::addColumn<QString>("fixture");
    for (const ContainerFixture &f : ContainerFixtures())
        QTest::addRow("%s", qPrintable(f.file)) << f.file;
    for (const QString fixture :
         {"three-tracks.mkv", "surround.mp4", "two-tracks-default.mkv", "deep.mkv", "tagged.mp4", "tagged.mkv"})
        QTest::addRow("%s", qPrintable(fixture)) << fixture;
}

void TestLibm9sReference::probeListsTracks()
{
    QFETCH(QString, fixture);
    const QString input = made_.value(fixture);
    QVERIFY2(!input.isEmpty(), "ffmpeg could not make the fixture");
    const RunResult r = RunEncoder({"-probe", input});
    QVERIFY2(r.exitCode == 0, Visible(r.err).constData());
    QList<QByteArray> lines = r.out.split('\n');
    QVERIFY(r.out.endsWith('\n'));
    lines.removeLast();
    QCOMPARE(lines.value(0), QByteArray("libm9s-tracks 1"));

    const RunResult probe = Run("ffprobe", {"-v", "error", "-select_streams", "a", "-show_entries",
                                            "stream=codec_name,channels,sample_rate:stream_tags=language,title:"
                                            "stream_disposition=default:format=duration:"
                                            "chapter=start_time,end_time:chapter_tags=title",
                                            "-of", "json", input});
    const QJsonObject json = QJsonDocument::fromJson(probe.out).object();
    const QJsonArray chapters = json.value("chapters").toArray();
    const qsizetype firstChapter = lines.size() - chapters.size();
    for (qsizetype i = firstChapter; i < lines.size(); ++i) {
        const QStringList f = QString::fromUtf8(lines[i]).split('\t');
        const QJsonObject c = chapters[i - firstChapter].toObject();
        QCOMPARE(f.size(), 5);
        QCOMPARE(f[0], QString("chapter"));
        QCOMPARE(f[1], QString::number(i - firstChapter + 1));
        QCOMPARE(f[2].toDouble(), c.value("start_time").toString().toDouble());
        QCOMPARE(f[3].toDouble(), c.value("end_time").toString().toDouble());
        QCOMPARE(f[4], c.value("tags").toObject().value("title").toString());
    }
    lines.resize(firstChapter);
    const QJsonArray streams = json.value("streams").toArray();
    QCOMPARE(lines.size() - 1, streams.size());
    for (int i = 0; i < streams.size(); ++i) {
        const QJsonObject s = streams[i].toObject();
        const QStringList f = QString::fromUtf8(lines[i + 1]).split('\t');
        QCOMPARE(f.size(), 9);
        QCOMPARE(f[0], QString::number(i));
        QCOMPARE(f[1], s.value("codec_name").toString());
        QCOMPARE(f[2], QString::number(s.value("channels").toInt()));
        QCOMPARE(f[3], s.value("sample_rate").toString());
        const QString language = s.value("tags").toObject().value("language").toString();
        QCOMPARE(f[4], language == "und" ? QString() : language);
        QCOMPARE(f[5], s.value("tags").toObject().value("title").toString());
        QCOMPARE(f[6], QString::number(s.value("disposition").toObject().value("default").toInt()));
        const double length = json.value("format").toObject().value("duration").toString().toDouble();
        if (fixture != "clip.swf") // a Flash file does not say how long it is
            QVERIFY2(qAbs(f[7].toDouble() - length) < 0.1, qPrintable(f[7]));
    }
}

void TestLibm9sReference::wavMatchesFfmpeg_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");

    for (const ContainerFixture &f : ContainerFixtures())
        QTest::addRow("%s", qPrintable(f.file)) << f.file << 44100 << 2;
    QTest::newRow("mkv to 8000 Hz mono") << "clip.mkv" << 8000 << 1;
    QTest::newRow("mp4 to 11025 Hz mono") << "clip.mp4" << 11025 << 1;
    QTest::newRow("vob to 96000 Hz") << "clip.vob" << 96000 << 2;
    QTest::newRow("avi to 6000 Hz") << "clip.avi" << 6000 << 2;
    QTest::newRow("5.1 aac to stereo") << "surround.mp4" << 44100 << 2;
    QTest::newRow("5.1 aac to mono") << "surround.mp4" << 22050 << 1;
    QTest::newRow("5.1(side) ac3 to stereo") << "surround.mkv" << 48000 << 2;
    QTest::newRow("huge PCM frames to 96000 Hz") << "huge-frames.mkv" << 96000 << 2;
    QTest::newRow("two tracks") << "two-tracks.mkv" << 44100 << 2;
    QTest::newRow("two tracks, mono default") << "two-tracks-default.mkv" << 44100 << 2;
}

void TestLibm9sReference::wavMatchesFfmpeg()
{
    QFETCH(QString, fixture);
    QFETCH(int, rate);
    QFETCH(int, channels);
    const QString input = made_.value(fixture);
    QVERIFY2(!input.isEmpty(), "ffmpeg could not make the fixture");

    const QString ours = Path("ours.wav");
    const QString theirs = Path("theirs.wav");
    WritePlaceholder(ours);
    // One thread, as ffmpeg decodes: segments of an AAC source start from a
    // seek, after which its decoder's noise bands come out a little different
    // (segmentsJoinWithoutSeam bounds that).
    RunResult r = RunEncoder(EncoderArgs(input, "wav", 128, rate, channels, ours) << "-threads" << "1");
    QVERIFY2(r.finished && r.exitCode == 0, Visible(r.err).constData());
    QVERIFY(MakeWithFfmpeg(DecodeAsLibm9s(input)
                               + QStringList{"-i", input, "-vn", "-f", "wav", "-ar", QString::number(rate), "-ac",
                                             QString::number(channels)},
                           theirs));

    const WavData a = ReadWav(ours);
    const WavData b = ReadWav(theirs);
    QVERIFY2(a.ok, qPrintable(a.error));
    QVERIFY(b.ok);
    QCOMPARE(a.sampleRate, rate);
    QCOMPARE(a.channels, channels);
    QVERIFY(a.sizesConsistent);
    const qint64 ourFrames = qint64(a.samples.size()) / channels;
    const qint64 theirFrames = qint64(b.samples.size()) / channels;
    QVERIFY2(qAbs(ourFrames - theirFrames) <= 1152,
             qPrintable(QString("%1 against %2 samples").arg(ourFrames).arg(theirFrames)));
    QVERIFY(ourFrames > rate); // more than a second of the (at least) 1.5 s
    QVERIFY2(MaxSampleDifference(a.samples, b.samples) <= 1,
             qPrintable(QString("samples differ by %1").arg(MaxSampleDifference(a.samples, b.samples))));
}

void TestLibm9sReference::mp3MatchesFfmpeg_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<int>("kbits");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");

    for (const ContainerFixture &f : ContainerFixtures())
        QTest::addRow("%s", qPrintable(f.file)) << f.file << 128 << 44100 << 2;
    QTest::newRow("mkv, 64 kbit/s, 22050 Hz mono") << "clip.mkv" << 64 << 22050 << 1;
    QTest::newRow("mp4, 320 kbit/s, 48000 Hz") << "clip.mp4" << 320 << 48000 << 2;
    QTest::newRow("avi, 8 kbit/s, 8000 Hz mono") << "clip.avi" << 8 << 8000 << 1;
    QTest::newRow("5.1, 192 kbit/s") << "surround.mp4" << 192 << 44100 << 2;
}

void TestLibm9sReference::mp3MatchesFfmpeg()
{
    QFETCH(QString, fixture);
    QFETCH(int, kbits);
    QFETCH(int, rate);
    QFETCH(int, channels);
    const QString input = made_.value(fixture);
    QVERIFY2(!input.isEmpty(), "ffmpeg could not make the fixture");

    const QString ours = Path("ours.mp3");
    const QString theirs = Path("theirs.mp3");
    WritePlaceholder(ours);
    RunResult r = RunEncoder(EncoderArgs(input, "mp3", kbits, rate, channels, ours));
    QVERIFY2(r.finished && r.exitCode == 0, Visible(r.err).constData());
    QVERIFY(MakeWithFfmpeg({"-i", input, "-vn", "-f", "mp3", "-b:a", QString("%1k").arg(kbits), "-ar",
                            QString::number(rate), "-ac", QString::number(channels)},
                           theirs));

    const QMap<QString, QString> a = FfprobeAudio(ours);
    const QMap<QString, QString> b = FfprobeAudio(theirs);
    QCOMPARE(a.value("sample_rate"), QString::number(rate));
    QCOMPARE(a.value("channels"), QString::number(channels));
    QCOMPARE(a.value("sample_rate"), b.value("sample_rate"));
    QCOMPARE(a.value("channels"), b.value("channels"));
    QCOMPARE(a.value("bit_rate"), b.value("bit_rate"));
    const double da = a.value("duration").toDouble();
    const double db = b.value("duration").toDouble();
    QVERIFY2(da > 1.0 && qAbs(da - db) <= 0.05, qPrintable(QString("%1 s against %2 s").arg(da).arg(db)));

    const AudioInfo decoded = Probe(ours);
    QCOMPARE(decoded.codec, QString("mp3"));
    QCOMPARE(decoded.decodeErrors, 0);
}

void TestLibm9sReference::segmentsJoinWithoutSeam_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("threads");
    QTest::addColumn<QStringList>("part"); // -ss, -t, -chapter
    const QStringList whole;
    for (const QString format : {"wav", "flac", "mp3"})
        for (int threads : {2, 3})
            QTest::addRow("%s, %d threads", qPrintable(format), threads) << "film.mov" << format << threads << whole;
    QTest::newRow("24-bit flac, 3 threads") << "film-deep.mov" << "flac" << 3 << whole;
    QTest::newRow("flac, 2 threads, 9 segments") << "film-long.mov" << "flac" << 2 << whole;
    for (const QString format : {"wav", "mp3"})
        QTest::addRow("aac in mkv to %s, 3 threads", qPrintable(format)) << "film-cues.mkv" << format << 3 << whole;
    QTest::newRow("aac in mkv, header at half the rate, to wav") << "film-half-rate.mkv" << "wav" << 2 << whole;
    QTest::newRow("ac3 in mkv to wav, 3 threads") << "film-ac3.mkv" << "wav" << 3 << whole;
    QTest::newRow("mp2 in ts to flac, 3 threads") << "film-mp2.ts" << "flac" << 3 << whole;
    // A part starts where the one-thread run's trim starts it, to the sample.
    const QStringList from13for45{"-ss", "1.3", "-t", "4.5"};
    QTest::newRow("wav, 1.3 s on for 4.5 s, 3 threads") << "film.mov" << "wav" << 3 << from13for45;
    QTest::newRow("mp3, 1.3 s on for 4.5 s, 3 threads") << "film.mov" << "mp3" << 3 << from13for45;
    QTest::newRow("opus in mkv to mp3, 1.3 s on for 4.5 s, 3 threads") << "film-opus.mkv" << "mp3" << 3 << from13for45;
    QTest::newRow("flac, 0.7 s on, 2 threads") << "film.mov" << "flac" << 2 << QStringList{"-ss", "0.7"};
    QTest::newRow("aac in mkv to wav, the first 5.5 s") << "film-cues.mkv" << "wav" << 3 << QStringList{"-t", "5.5"};
    for (const QString format : {"flac", "mp3"})
        QTest::addRow("aac in mkv to %s, chapter 3", qPrintable(format))
            << "film-chapters.mkv" << format << 2 << QStringList{"-chapter", "3"};
    // Timestamps that start again halfway: one thread, all of both halves.
    QTest::newRow("two mp2 ts joined, to wav") << "joined-mp2.ts" << "wav" << 2 << whole;
    QTest::newRow("two mp2 ts joined, to mp3") << "joined-mp2.ts" << "mp3" << 2 << whole;
    QTest::newRow("two ac3 ts joined, to flac") << "joined-ac3.ts" << "flac" << 2 << whole;
    QTest::newRow("two aac ts joined, to wav") << "joined-aac.ts" << "wav" << 2 << whole;
    QTest::newRow("g722 in wav, to wav") << "film-g722.wav" << "wav" << 2 << whole;
}

// Cut into segments, the output decodes to the one-thread output's length;
// WAV and FLAC are the same bytes, from PCM and from AAC placed by its frames
// after a seek on millisecond timestamps; an MP3's frames at the joins are
// no worse than the others. A file whose timestamps start again is not cut:
// the same bytes as one thread.
void TestLibm9sReference::segmentsJoinWithoutSeam()
{
    QFETCH(QString, fixture);
    QFETCH(QString, format);
    QFETCH(int, threads);
    QFETCH(QStringList, part);
    const QString input = made_.value(fixture);
    QVERIFY2(!input.isEmpty(), "ffmpeg could not make the fixture");
    constexpr int kRate = 44100;
    QStringList lastTimes; // the time each run said it had written at its end
    auto encode = [&](const QString &name, const QString &as, int n) {
        const QString path = Path(name);
        WritePlaceholder(path);
        RunResult r = RunEncoder(EncoderArgs(input, as, 128, kRate, 2, path) + part << "-threads" << QString::number(n)
                                                                                    << "-verify");
        lastTimes << QString::fromUtf8(r.err).section("=ffmpeg_release_time", -2, -2).section('=', -1);
        return r.finished && r.exitCode == 0 ? path : QString(Visible(r.err));
    };
    const QString single = encode("single." + format, format, 1);
    const QString joined = encode("joined." + format, format, threads);
    QVERIFY2(QFileInfo(joined).isFile(), qPrintable(joined));

    const AudioInfo a = Probe(single, true);
    const AudioInfo b = Probe(joined, true);
    QCOMPARE(b.decodeErrors, 0);
    QCOMPARE(b.samples, a.samples);
    // What the output check counts: the samples that decode, not the
    // encoder's priming; read back to the microsecond, not frame by frame.
    QCOMPARE(lastTimes.value(1), lastTimes.value(0));
    if (format == "mp3")
        QCOMPARE(ReadBackUs(joined.toStdString(), AV_CODEC_ID_MP3, true), av_rescale(b.samples, AV_TIME_BASE, kRate));
    if (format == "flac" && !fixture.startsWith("joined-")) {
        // A seek point per ten seconds, each on the frame that holds it (a
        // file longer than it states spreads them over the room it has).
        const QList<qint64> points = FlacSeekPoints(ReadAll(joined));
        QCOMPARE(points.size(), (b.samples - 1) / (10 * kRate) + 1);
        for (qsizetype i = 0; i < points.size(); ++i)
            QVERIFY2(points[i] >= i * 10 * kRate && points[i] < i * 10 * kRate + 4608, qPrintable(QString::number(i)));
    }
    if (format != "mp3" || fixture.startsWith("joined-")) {
        QVERIFY(ReadAll(joined) == ReadAll(single));
        return;
    }
    QVERIFY(ReadAll(joined) != ReadAll(single)); // the segments' own encoders were at work
    const AudioInfo source = Probe(encode("source.wav", "wav", 1), true);
    std::vector<int64_t> joins;
    // A decoded MP3 lags its frames by LAME's delay (576 + 529 samples).
    for (const Segment &s : PlanFileSegments(source.samples, 1152, threads, kRate))
        if (s.start > 0)
            joins.push_back(s.start - 1105);
    const SeamReport one = CompareFrames(source.pcm, a.pcm, 2, {});
    const SeamReport many = CompareFrames(source.pcm, b.pcm, 2, joins);
    QVERIFY2(many.worstJoin < many.p99Others,
             qPrintable(QString("join frame %1, 99th percentile %2").arg(many.worstJoin).arg(many.p99Others)));
    QVERIFY2(many.snrDb > one.snrDb - 0.3, qPrintable(QString("%1 dB against %2 dB").arg(many.snrDb).arg(one.snrDb)));
}

void TestLibm9sReference::decodesMp3InChunks_data()
{
    QTest::addColumn<QStringList>("encode"); // ffmpeg's options for the MP3
    QTest::newRow("128 kbit/s stereo, 44.1 kHz") << QStringList{"-ar", "44100", "-ac", "2", "-b:a", "128k"};
    QTest::newRow("8 kbit/s mono, 8 kHz: the reservoir reaches furthest")
        << QStringList{"-ar", "8000", "-ac", "1", "-b:a", "8k"};
    QTest::newRow("VBR, 48 kHz") << QStringList{"-ar", "48000", "-ac", "2", "-q:a", "4"};
}

// The output check decodes an MP3 in chunks on several threads: whatever
// the chunks, it counts what one decoder counts from the top, priming and
// padding taken off.
void TestLibm9sReference::decodesMp3InChunks()
{
    QFETCH(QStringList, encode);
    const QString path = Path("chunks.mp3");
    // Noise: frames that borrow much from the reservoir.
    QVERIFY(
        MakeWithFfmpeg(QStringList{"-f", "lavfi", "-i", "anoisesrc=d=9:a=0.3", "-c:a", "libmp3lame"} + encode, path));
    auto decode = [&](int threads, size_t chunk) {
        AVFormatContext *format = nullptr;
        if (avformat_open_input(&format, path.toUtf8().constData(), nullptr, nullptr) < 0)
            return SampleCounts{};
        InputContextPtr owned(format);
        avformat_find_stream_info(format, nullptr);
        return DecodeAll(format, format->streams[0], threads, chunk);
    };
    const SampleCounts one = decode(1, kDecodeChunkPackets);
    QCOMPARE(one.size(), size_t(1));
    QCOMPARE(one.begin()->second, Probe(path, true).samples);
    for (const size_t chunk : {1, 2, 33, 100})
        QCOMPARE(decode(3, chunk), one);
}

namespace {

const QStringList kCarriedTags{"title",       "artist", "album_artist", "album",    "date",      "genre",   "comment",
                               "description", "track",  "disc",         "composer", "copyright", "language"};

QJsonObject FfprobeAll(const QString &path)
{
    const RunResult r =
        Run("ffprobe", {"-v", "error", "-show_chapters", "-show_format", "-show_streams", "-of", "json", path});
    return QJsonDocument::fromJson(r.out).object();
}

// The file's tags, then the audio stream's where the file has none (Ogg
// keeps them there); lower-case names, "und" as no language at all.
QMap<QString, QString> TagsOf(const QJsonObject &json)
{
    QMap<QString, QString> tags;
    QList<QJsonObject> holders{json.value("format").toObject()};
    for (const QJsonValue &s : json.value("streams").toArray())
        if (s.toObject().value("codec_type").toString() == "audio")
            holders << s.toObject();
    for (const QJsonObject &holder : holders) {
        const QJsonObject t = holder.value("tags").toObject();
        for (auto it = t.begin(); it != t.end(); ++it)
            if (!tags.contains(it.key().toLower()) && it.value().toString() != "und")
                tags.insert(it.key().toLower(), it.value().toString());
    }
    return tags;
}

// The attached picture's bytes as ffmpeg reads them; empty when there is none.
QByteArray CoverOf(const QString &path, const QJsonObject &json)
{
    for (const QJsonValue &s : json.value("streams").toArray())
        if (s.toObject().value("disposition").toObject().value("attached_pic").toInt() == 1)
            return Run("ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-map",
                                  QString("0:%1").arg(s.toObject().value("index").toInt()), "-c", "copy", "-f",
                                  "image2pipe", "-"})
                .out;
    return {};
}

bool KeepsVorbisComments(const QString &extension) { return QStringList{"flac", "ogg", "opus"}.contains(extension); }

// What each output keeps of kCarriedTags: Vorbis comments have one
// description, which is the comment; RIFF INFO holds what it has names for.
bool KeepsTag(const QString &extension, const QString &tag)
{
    if (extension == "wav")
        return !QStringList{"album_artist", "description", "disc", "composer"}.contains(tag);
    return !(KeepsVorbisComments(extension) && tag == "description");
}

// One codec frame at the output's rate, in seconds.
double FrameSeconds(const QString &extension)
{
    static const QMap<QString, double> frames{{"mp3", 1152 / 44100.0},  {"m4a", 1024 / 44100.0},
                                              {"flac", 4608 / 44100.0}, {"opus", 960 / 48000.0},
                                              {"ogg", 2048 / 44100.0},  {"mka", 0.001}};
    return frames.value(extension, 0.001);
}

} // namespace

void TestLibm9sReference::carriesTagsCoverAndChapters_data()
{
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("format"); // or copy
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QStringList>("extra");
    // Tags read back as given here, as UTF-8 in the file's bytes, rather
    // than as the source's read; and whether the source's cover can be shown.
    QTest::addColumn<QStringList>("written");
    QTest::addColumn<bool>("coverReadable");
    for (const QString format : {"wav", "mp3", "flac", "m4a", "opus", "ogg"}) {
        QTest::addRow("mkv to %s", qPrintable(format))
            << "mkv" << format << format << QStringList{} << QStringList{} << true;
        QTest::addRow("mp4 to %s", qPrintable(format))
            << "mp4" << format << format << QStringList{} << QStringList{} << true;
    }
    QTest::newRow("mkv copied to ogg") << "mkv" << "copy" << "ogg" << QStringList{} << QStringList{} << true;
    QTest::newRow("mkv copied to mka") << "mkv" << "copy" << "mka" << QStringList{} << QStringList{} << true;
    QTest::newRow("mp4 copied to m4a") << "mp4" << "copy" << "m4a" << QStringList{} << QStringList{} << true;
    QTest::newRow("mp4 copied to mka") << "mp4" << "copy" << "mka" << QStringList{} << QStringList{} << true;
    QTest::newRow("asf to wav, author as artist") << "asf" << "wav" << "wav" << QStringList{} << QStringList{} << true;
    QTest::newRow("mp4 to mp3 without cover")
        << "mp4" << "mp3" << "mp3" << QStringList{"-nocover"} << QStringList{} << true;
    QTest::newRow("mkv to ogg without cover")
        << "mkv" << "ogg" << "ogg" << QStringList{"-nocover"} << QStringList{} << true;
    const QStringList repaired{"title=Caf\uFFFD ok", "artist=Alice;Bob", "album=Albüm;Zwei"};
    for (const QString format : {"mp3", "flac", "m4a", "opus", "ogg"})
        QTest::addRow("mp3 with a damaged cover, bad UTF-8 and two artists to %s", qPrintable(format))
            << "mp3" << format << format << QStringList{} << repaired << false;
    QTest::newRow("mp3 with a damaged cover copied") << "mp3" << "copy" << "mp3" << QStringList{} << repaired << false;
}

void TestLibm9sReference::carriesTagsCoverAndChapters()
{
    QFETCH(QString, container);
    QFETCH(QString, format);
    QFETCH(QString, extension);
    QFETCH(QStringList, extra);
    QFETCH(QStringList, written);
    QFETCH(bool, coverReadable);
    const QString input = made_.value("tagged." + container);
    QVERIFY2(!input.isEmpty(), "ffmpeg could not make the fixture");
    const QString output = Path("tagged-out." + extension);
    WritePlaceholder(output);
    QStringList args =
        format == "copy" ? CopyArgs(input, output, extra) : EncoderArgs(input, format, 128, 44100, 2, output);
    if (format != "copy")
        args = extra + args;
    const RunResult r = RunEncoder(args);
    QVERIFY2(r.exitCode == 0, Visible(r.err).constData());

    const QJsonObject source = FfprobeAll(input);
    const QJsonObject ours = FfprobeAll(output);
    QMap<QString, QString> expected = TagsOf(source);
    if (!expected.contains("artist") && expected.contains("author"))
        expected.insert("artist", expected.value("author"));
    const QByteArray bytes = ReadAll(output);
    for (const QString &tag : written) {
        expected.insert(tag.section('=', 0, 0), tag.section('=', 1));
        QVERIFY2(bytes.contains(tag.section('=', 1).toUtf8()), qPrintable(tag));
    }
    const QMap<QString, QString> got = TagsOf(ours);
    for (const QString &tag : kCarriedTags)
        QVERIFY2(got.value(tag) == (KeepsTag(extension, tag) ? expected.value(tag) : QString()),
                 qPrintable(tag + ": " + got.value(tag)));

    // A picture no player can show is left out, and said; it never fails the audio.
    QCOMPARE(r.err.contains("The cover picture cannot be read"), !coverReadable && !extra.contains("-nocover"));
    const bool coverKept = !extra.contains("-nocover") && extension != "wav" && coverReadable;
    QCOMPARE(CoverOf(output, ours), coverKept ? CoverOf(input, source) : QByteArray());

    const QJsonArray from = source.value("chapters").toArray();
    const QJsonArray to = ours.value("chapters").toArray();
    QCOMPARE(to.size(), extension == "wav" ? 0 : from.size());
    for (qsizetype i = 0; i < to.size(); ++i) {
        const QJsonObject a = from[i].toObject();
        const QJsonObject b = to[i].toObject();
        QCOMPARE(b.value("tags").toObject().value("title"), a.value("tags").toObject().value("title"));
        QList<QString> times{"start_time"};
        // Vorbis comments keep starts only: the last chapter ends with the file.
        if (!KeepsVorbisComments(extension) || i + 1 < to.size())
            times << "end_time";
        for (const QString &time : times) {
            const double delta = b.value(time).toString().toDouble() - a.value(time).toString().toDouble();
            QVERIFY2(qAbs(delta) <= FrameSeconds(extension),
                     qPrintable(QString("%1 %2 off by %3").arg(i).arg(time).arg(delta)));
        }
    }
    if (extension == "mp3") {
        // ID3v2.4, and what a tag editor sees.
        QCOMPARE(ReadAll(output).left(4), QByteArray("ID3\x04"));
        const QByteArray inspected = Run("mutagen-inspect", {output}).out;
        QCOMPARE(inspected.count("\nCHAP="), from.size());
        QCOMPARE(inspected.contains("APIC=cover front"), coverKept);
    }
}

void TestLibm9sReference::splitsChapters_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("format"); // or copy
    QTest::addColumn<QString>("extension");
    QTest::addColumn<int>("tolerance"); // samples a piece may be off
    QTest::addColumn<int>("chapters");  // as listed and split
    QTest::addColumn<QString>("note");  // a line the split says
    // The pieces' samples joined are the whole's. Not from AAC with noise
    // bands, which its decoder makes up anew after a seek.
    QTest::addColumn<bool>("joinsExactly");
    for (const QString format : {"wav", "flac"})
        QTest::addRow("%s", qPrintable(format)) << "tagged.mp4" << format << format << 0 << 3 << QString() << false;
    for (const QString format : {"mp3", "m4a", "opus", "ogg"})
        QTest::addRow("%s", qPrintable(format))
            << "tagged.mp4" << format << format << FrameSize(format) << 3 << QString() << false;
    QTest::newRow("copy") << "tagged.mp4" << "copy" << "m4a" << 2 * 1024 << 3 << QString() << false;
    QTest::newRow("a chapter without length is left out")
        << "zero-chapter.mkv" << "wav" << "wav" << 0 << 2 << "Chapter 1 of the source (at 00:00:00.000) has no length"
        << true;
    QTest::newRow("a 100 ms chapter as MP3 passes the check")
        << "short-chapter.mkv" << "mp3" << "mp3" << FrameSize("mp3") << 3 << QString() << false;
    QTest::newRow("a 100 ms chapter as FLAC") << "short-chapter.mkv" << "flac" << "flac" << 0 << 3 << QString() << true;
    QTest::newRow("overlapping chapters end where the next begins")
        << "overlapping.mkv" << "flac" << "flac" << 0 << 3 << QString() << true;
    QTest::newRow("Vorbis in Matroska cut on the sample")
        << "vorbis-chapters.mkv" << "wav" << "wav" << 0 << 3 << QString() << true;
    QTest::newRow("LAME source cut after its encoder delay")
        << "lame-chapters.mp3" << "flac" << "flac" << 0 << 3 << QString() << true;
}

void TestLibm9sReference::splitsChapters()
{
    QFETCH(QString, fixture);
    QFETCH(QString, format);
    QFETCH(QString, extension);
    QFETCH(int, tolerance);
    QFETCH(int, chapters);
    QFETCH(QString, note);
    QFETCH(bool, joinsExactly);
    const QString input = made_.value(fixture);
    QVERIFY2(!input.isEmpty(), "ffmpeg could not make the fixture");
    // The chapters as libm9s numbers them, which is what -chapter takes.
    const RunResult listing = RunEncoder({"-probe", input});
    QCOMPARE(listing.exitCode, 0);
    QCOMPARE(listing.err.contains(note.toUtf8()), true);
    QList<QStringList> listed;
    for (const QByteArray &line : listing.out.split('\n'))
        if (line.startsWith("chapter\t"))
            listed << QString::fromUtf8(line).split('\t');
    QCOMPARE(listed.size(), chapters);
    const QJsonObject source = FfprobeAll(input);
    auto convert = [&](const QString &name, const QStringList &extra) {
        const QString output = Path(name + "." + extension);
        WritePlaceholder(output);
        const RunResult r = RunEncoder(format == "copy" ? CopyArgs(input, output, extra)
                                                        : extra + EncoderArgs(input, format, 128, 44100, 2, output));
        return r.exitCode == 0 && r.err.contains(note.toUtf8()) ? output : QString::fromUtf8(r.err);
    };
    const AudioInfo whole = Probe(convert("whole", {"-verify"}), joinsExactly);
    QVERIFY2(whole.samples > 0, qPrintable(whole.error));
    int64_t sum = 0;
    std::vector<float> joined;
    for (int n = 1; n <= chapters; ++n) {
        const QString piece = convert(QString("piece%1").arg(n), {"-verify", "-chapter", QString::number(n)});
        const AudioInfo info = Probe(piece, joinsExactly);
        QVERIFY2(info.opened, qPrintable(piece));
        // The last piece runs to the end of the whole, past the chapter's end.
        const double start = listed[n - 1].value(2).toDouble() * info.sampleRate;
        const double end = n < chapters ? listed[n - 1].value(3).toDouble() * info.sampleRate : double(whole.samples);
        QVERIFY2(qAbs(info.samples - (end - start)) <= qMax(tolerance, 1),
                 qPrintable(QString("chapter %1: %2 samples").arg(n).arg(info.samples)));
        sum += info.samples;
        joined.insert(joined.end(), info.pcm.begin(), info.pcm.end());
        const QMap<QString, QString> tags = TagsOf(FfprobeAll(piece));
        QCOMPARE(tags.value("title"), listed[n - 1].value(4));
        QCOMPARE(tags.value("track"), QString("%1/%2").arg(n).arg(chapters));
        QCOMPARE(tags.value("album"), TagsOf(source).value("title"));
    }
    QVERIFY2(qAbs(sum - whole.samples) <= 3 * tolerance,
             qPrintable(QString("%1 samples in the pieces, %2 in the whole").arg(sum).arg(whole.samples)));
    if (joinsExactly) {
        const auto differs = std::mismatch(joined.begin(), joined.end(), whole.pcm.begin(), whole.pcm.end());
        QVERIFY2(differs.first == joined.end() && differs.second == whole.pcm.end(),
                 qPrintable(QString("the pieces differ from the whole from sample %1 on")
                                .arg((differs.first - joined.begin()) / 2)));
    }
}

void TestLibm9sReference::handlesAwkwardPaths_data()
{
    QTest::addColumn<QString>("inputName");
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<bool>("relative"); // run in the folder with bare names
    QTest::newRow("blanks") << "my clip .avi" << "my clip .mp3" << false;
    QTest::newRow("quotes") << "it's \"quoted\".avi" << "it's \"quoted\".wav" << false;
    QTest::newRow("non-ASCII letters") << "Größe 日本語 ñ.avi" << "Größe 日本語 ñ.mp3" << false;
    QTest::newRow("name that looks like a protocol") << "concat:a|b.avi" << "http:out.wav" << true;
    QTest::newRow("percent and backslash") << "100% \\ x.avi" << "100% \\ x.wav" << false;
}

void TestLibm9sReference::handlesAwkwardPaths()
{
    QFETCH(QString, inputName);
    QFETCH(QString, outputName);
    QFETCH(bool, relative);
    const QString source = made_.value("clip.avi");
    QVERIFY(!source.isEmpty());
    const QString input = Path(inputName);
    const QString output = Path(outputName);
    QFile::remove(input);
    QVERIFY(QFile::copy(source, input));
    WritePlaceholder(output);

    const QString format = outputName.endsWith(".wav") ? "wav" : "mp3";
    const RunResult r = relative ? RunEncoderIn(dir_.path(), EncoderArgs(inputName, format, 128, 44100, 2, outputName))
                                 : RunEncoder(EncoderArgs(input, format, 128, 44100, 2, output));
    QVERIFY2(r.exitCode == 0, Visible(r.err).constData());
    const AudioInfo info = Probe(output);
    QVERIFY2(info.opened, qPrintable(info.error));
    QVERIFY(info.samples > 44100);
    QCOMPARE(info.decodeErrors, 0);
}

namespace {

// ffmpeg's EBU R128 meter on a file: integrated loudness and true peak.
struct Loudness {
    double lufs = qQNaN();
    double peak = qQNaN();
};

Loudness MeasureWithFfmpeg(const QString &path)
{
    const RunResult r =
        Run("ffmpeg", {"-nostdin", "-nostats", "-i", path, "-af", "ebur128=peak=true", "-f", "null", "-"});
    const QString summary = QString::fromUtf8(r.err.mid(r.err.lastIndexOf("Summary:")));
    static const QRegularExpression number("(I|Peak):\\s+(-?[0-9.]+|-inf)");
    Loudness loudness;
    for (auto it = number.globalMatch(summary); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        (m.captured(1) == "I" ? loudness.lufs : loudness.peak) = m.captured(2).toDouble();
    }
    return loudness;
}

} // namespace

void TestLibm9sReference::levelsLoudness_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QStringList>("args"); // before the output name
    QTest::addColumn<QString>("output");
    QTest::addColumn<double>("target");  // NaN: not checked (unchanged, or the limiter takes some off)
    QTest::addColumn<double>("ceiling"); // NaN: peaks not checked (lossy codecs make their own)
    QTest::addColumn<QString>("tag");    // the gain tag the file must carry
    QTest::addColumn<QString>("says");   // on standard error

    const double none = qQNaN();
    auto level = [](const QString &format, const QString &lufs, const QStringList &more = {}) {
        return QStringList{"-f", format, "-ab", "192", "-loudness", lufs} + more;
    };
    QTest::newRow("voice to -16, mp3") << "voice.mkv" << level("mp3", "-16") << "l.mp3" << -16.0 << none << ""
                                       << "no limiting needed";
    QTest::newRow("voice to -23, opus") << "voice.mkv" << level("opus", "-23") << "l.opus" << -23.0 << none << ""
                                        << "dB for -23 LUFS";
    QTest::newRow("music to -11, flac: limited")
        << "music.mkv" << level("flac", "-11") << "l.flac" << -11.0 << -1.0 << "" << "the limiter held";
    QTest::newRow("music to -23, wav: only lowered")
        << "music.mkv" << level("wav", "-23") << "l.wav" << -23.0 << -1.0 << "" << "no limiting needed";
    QTest::newRow("clipped to -14, flac") << "clipped.mkv" << level("flac", "-14") << "l.flac" << -14.0 << -1.0 << ""
                                          << "applied -";
    QTest::newRow("whisper to -16 under -2 dBTP, wav")
        << "whisper.mkv" << level("wav", "-16", {"-truepeak", "-2"}) << "l.wav" << -16.0 << -2.0 << ""
        << "applied +";
    QTest::newRow("the quiet part to -16, m4a")
        << "steps.mkv" << level("m4a", "-16", {"-ss", "4", "-t", "5"}) << "l.m4a" << -16.0 << none << "" << "";
    // On three threads: measured in parts, a constant gain encoded in
    // segments, the limiter on one thread.
    const QStringList three{"-threads", "3"};
    QTest::newRow("voice to -16, mp3, 3 threads")
        << "voice.mkv" << level("mp3", "-16", three) << "l.mp3" << -16.0 << none << "" << "no limiting needed";
    QTest::newRow("film to -20, flac, 3 threads")
        << "film.mov" << level("flac", "-20", three) << "l.flac" << -20.0 << -1.0 << "" << "no limiting needed";
    QTest::newRow("film to -10, mp3, 3 threads: true peak measured")
        << "film.mkv" << level("mp3", "-10", three) << "l.mp3" << -10.0 << none << "" << "dBTP; applied +";
    QTest::newRow("the quiet part to -16, flac, 3 threads")
        << "steps.mkv" << level("flac", "-16", QStringList{"-ss", "4", "-t", "5"} + three) << "l.flac" << -16.0 << none
        << "" << "";
    QTest::newRow("film to -8, wav, 3 threads: limited")
        << "film.mkv" << level("wav", "-8", three) << "l.wav" << -8.0 << -1.0 << "" << "the limiter held";
    // Noise bursts full to the top of the band, pushed hard: the meters see
    // peaks there that a short interpolator misses. At -6 LUFS the limiter
    // holds them but takes most of a dB of loudness with them.
    QTest::newRow("film to -6, wav: noise peaks held")
        << "film.mov" << level("wav", "-6") << "l.wav" << none << -1.0 << "" << "the limiter held";
    QTest::newRow("film to -7, flac: limited")
        << "film.mov" << level("flac", "-7") << "l.flac" << -7.0 << -1.0 << "" << "the limiter held";
    // What the limiter takes with the plosives is made up, measured on the limited audio.
    // The peaks are checked as FFmpeg's meter reads them, whose filters ring
    // higher near the top of the band than the limiter's own interpolation.
    QTest::newRow("plosives to -14, wav: the limiter's loss made up")
        << "plosives.mkv" << level("wav", "-14") << "l.wav" << -14.0 << -1.0 << "" << "the limiter held";
    QTest::newRow("plosives to -16, flac: the limiter's loss made up")
        << "plosives.mkv" << level("flac", "-16") << "l.flac" << -16.0 << -1.0 << "" << "the limiter held";
    QTest::newRow("plosives to -14, flac") << "plosives.mkv" << level("flac", "-14") << "l.flac" << -14.0 << -1.0 << ""
                                           << "the limiter held";
    QTest::newRow("plosives to -23, m4a") << "plosives.mkv" << level("m4a", "-23") << "l.m4a" << -23.0 << -1.0 << ""
                                          << "dB for -23 LUFS";
    // A lossy encoder takes loudness too, and makes overs of its own: made
    // up, measured on what the file decodes to.
    QTest::newRow("plosives to -14, mp3: the encoder's loss made up")
        << "plosives.mkv" << level("mp3", "-14") << "l.mp3" << -14.0 << -1.0 << "" << "the limiter held";
    QTest::newRow("plosives to -16, opus: the encoder's overs held")
        << "plosives.mkv" << level("opus", "-16") << "l.opus" << -16.0 << -1.0 << "" << "the limiter held";
    QTest::newRow("silence") << "silence.mkv" << level("wav", "-16") << "l.wav" << none << none << ""
                             << "not changed: the audio is silent";
    QTest::newRow("shorter than a gating block")
        << "short.mkv" << level("mp3", "-16") << "l.mp3" << none << none << "" << "shorter than 0.4 s";
    QTest::newRow("below the gate") << "below-gate.mkv" << level("flac", "-16") << "l.flac" << none << none << ""
                                    << "-70 LUFS gate";

    QTest::newRow("tags, mp3") << "voice.mkv" << QStringList{"-f", "mp3", "-ab", "192", "-replaygain"} << "t.mp3"
                               << none << none << "REPLAYGAIN_TRACK_GAIN" << "REPLAYGAIN_TRACK_PEAK=";
    QTest::newRow("tags, flac") << "music.mkv" << QStringList{"-f", "flac", "-replaygain"} << "t.flac" << none << none
                                << "REPLAYGAIN_TRACK_GAIN" << "";
    QTest::newRow("tags, opus") << "voice.mkv" << QStringList{"-f", "opus", "-replaygain"} << "t.opus" << none << none
                                << "R128_TRACK_GAIN" << "";
    // WAV: in an ID3 chunk, with the source's tags, and no RIFF INFO (for
    // which FFmpeg would pass over the chunk).
    QTest::newRow("tags, wav") << "tagged.mp4" << QStringList{"-f", "wav", "-replaygain"} << "t.wav" << none << none
                               << "REPLAYGAIN_TRACK_GAIN" << "REPLAYGAIN_TRACK_PEAK=";
    QTest::newRow("tags, wav, 3 threads") << "film.mov" << QStringList{"-f", "wav", "-replaygain"} + three << "t.wav"
                                          << none << none << "REPLAYGAIN_TRACK_GAIN" << "";
    QTest::newRow("tags, m4a: none") << "voice.mkv" << QStringList{"-f", "m4a", "-replaygain"} << "t.m4a" << none
                                     << none << "" << "No ReplayGain tags";
    QTest::newRow("tags on a copy, mp3") << "voice-mp3.mkv" << QStringList{"-acodec", "copy", "-replaygain"} << "c.mp3"
                                         << none << none << "REPLAYGAIN_TRACK_GAIN" << "";
    QTest::newRow("tags on a copy, opus") << "voice-opus.mkv" << QStringList{"-acodec", "copy", "-replaygain"}
                                          << "c.opus" << none << none << "R128_TRACK_GAIN" << "";
    QTest::newRow("tags, flac, 3 threads") << "film.mkv" << QStringList{"-f", "flac", "-replaygain"} + three << "t.flac"
                                           << none << none << "REPLAYGAIN_TRACK_GAIN" << "REPLAYGAIN_TRACK_PEAK=";
    QTest::newRow("tags on a copy, mp3, 3 threads")
        << "voice-mp3.mkv" << QStringList{"-acodec", "copy", "-replaygain"} + three << "c.mp3" << none << none
        << "REPLAYGAIN_TRACK_GAIN" << "";
    QTest::newRow("tags on a copy, silence")
        << "silence.mkv" << QStringList{"-acodec", "copy", "-replaygain"} << "c.mka" << none << none << ""
        << "No ReplayGain tags: the audio is silent";
}

void TestLibm9sReference::levelsLoudness()
{
    QFETCH(QString, fixture);
    QFETCH(QStringList, args);
    QFETCH(QString, output);
    QFETCH(double, target);
    QFETCH(double, ceiling);
    QFETCH(QString, tag);
    QFETCH(QString, says);
    const QString input = made_.value(fixture);
    QVERIFY2(!input.isEmpty(), "ffmpeg could not make the fixture");

    const QString path = Path(output);
    const RunResult r = RunEncoder(QStringList{"-i", input, "-y"} + args + QStringList{path});
    QVERIFY2(r.finished && r.exitCode == 0, Visible(r.err).constData());
    QVERIFY2(r.err.contains(says.toUtf8()), Visible(r.err).constData());
    const Loudness measured = MeasureWithFfmpeg(path);
    const QString seen = QString("%1 LUFS, %2 dBTP; %3").arg(measured.lufs).arg(measured.peak).arg(r.err);
    if (!qIsNaN(target))
        QVERIFY2(qAbs(measured.lufs - target) <= 0.5, qPrintable(seen));
    if (!qIsNaN(ceiling))
        QVERIFY2(measured.peak <= ceiling + 0.05, qPrintable(seen)); // printed to a tenth

    const AudioInfo info = Probe(path);
    QVERIFY2(info.opened, qPrintable(info.error));
    QCOMPARE(info.tags.contains("replaygain_track_gain") || info.tags.contains("r128_track_gain"), !tag.isEmpty());
    if (!tag.isEmpty()) {
        // Gain tags: what brings the file to -18 LUFS (Opus: to -23, in 1/256 dB).
        const bool opus = tag == "R128_TRACK_GAIN";
        const double gain = opus ? info.tags.value("r128_track_gain").toDouble() / 256
                                 : info.tags.value("replaygain_track_gain").section(' ', 0, 0).toDouble();
        QVERIFY2(qAbs(gain - ((opus ? -23 : -18) - measured.lufs)) <= 0.5, qPrintable(seen));
        QCOMPARE(info.tags.contains("replaygain_track_peak"), !opus);
    }
    if (fixture == "tagged.mp4")
        QCOMPARE(info.tags.value("title"), TagsOf(FfprobeAll(input)).value("title"));
}

QTEST_GUILESS_MAIN(TestLibm9sReference)
#include "tst_libm9s_reference.moc"
