// libm9s against the stock ffmpeg program on the same files: WAV sample for
// sample, MP3 by what ffprobe reports; in every container the program
// accepts, with surround sound, several audio tracks, tags and awkward paths.

#include "EncoderTestKit.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace EncoderTestKit;

class TestLibm9sReference : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void wavMatchesFfmpeg_data();
    void wavMatchesFfmpeg();
    void mp3MatchesFfmpeg_data();
    void mp3MatchesFfmpeg();
    void copiesTags_data();
    void copiesTags();
    void handlesAwkwardPaths_data();
    void handlesAwkwardPaths();

private:
    QString Path(const QString &name) const { return dir_.filePath(name); }
    QString Make(const QString &name, const QStringList &args);

    QTemporaryDir dir_;
    QMap<QString, QString> made_;  // fixture name -> path, or empty when ffmpeg failed
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

    Make("surround.mp4", VideoSource(1.5) + ToneSource(48000, 6, 1.5) +
                             QStringList{"-c:v", "mpeg4", "-c:a", "aac", "-channel_layout", "5.1"});
    // Frames of 100000 samples: far more than the encoder converts in one step.
    Make("huge-frames.mkv", {"-f", "lavfi", "-i",
                             "aevalsrc=0.4*sin(2*PI*440*t)|0.3*sin(2*PI*660*t*t):s=8000:n=100000:d=30", "-c:a",
                             "pcm_s16le"});
    Make("surround.mkv", ToneSource(48000, 6, 1.5) + QStringList{"-c:a", "ac3", "-channel_layout", "5.1(side)"});
    // A mono commentary first, the stereo sound second: the stereo track wins...
    const QStringList twoTracks = VideoSource(1.5) + ToneSource(44100, 1, 1.5) + ToneSource(48000, 2, 1.5) +
                                  QStringList{"-map", "0:v", "-map", "1:a", "-map", "2:a", "-c:v", "mpeg4",
                                              "-c:a", "libvorbis"};
    Make("two-tracks.mkv", twoTracks + QStringList{"-disposition:a:0", "0", "-disposition:a:1", "0"});
    // ...unless the mono one is marked as the default.
    Make("two-tracks-default.mkv",
         twoTracks + QStringList{"-disposition:a:0", "default", "-disposition:a:1", "0"});
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
    RunResult r = RunEncoder(EncoderArgs(input, "wav", 128, rate, channels, ours));
    QVERIFY2(r.finished && r.exitCode == 0, Visible(r.err).constData());
    QVERIFY(MakeWithFfmpeg({"-i", input, "-vn", "-f", "wav", "-ar", QString::number(rate), "-ac",
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
    QVERIFY(ourFrames > rate);  // more than a second of the (at least) 1.5 s
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

void TestLibm9sReference::copiesTags_data()
{
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("format");
    QTest::newRow("mkv to wav") << "mkv" << "wav";
    QTest::newRow("mkv to mp3") << "mkv" << "mp3";
    QTest::newRow("mp4 to mp3") << "mp4" << "mp3";
    QTest::newRow("asf to wav") << "asf" << "wav";
}

void TestLibm9sReference::copiesTags()
{
    QFETCH(QString, container);
    QFETCH(QString, format);
    const QString input = Path("tagged." + container);
    if (!QFileInfo::exists(input)) {
        QVERIFY(MakeWithFfmpeg(ToneSource(44100, 2, 0.5) +
                                   QStringList{"-metadata", "title=Tëst Title", "-metadata", "artist=Some Artist",
                                               "-metadata", "album=An Album", "-metadata", "comment=A comment"},
                               input));
    }
    const QString output = Path("tagged-out." + format);
    WritePlaceholder(output);
    RunResult r = RunEncoder(EncoderArgs(input, format, 128, 44100, 2, output));
    QVERIFY2(r.exitCode == 0, Visible(r.err).constData());

    const AudioInfo info = Probe(output);
    QCOMPARE(info.tags.value("title"), QString("Tëst Title"));
    QCOMPARE(info.tags.value("artist"), QString("Some Artist"));
    QCOMPARE(info.tags.value("album"), QString("An Album"));
    QCOMPARE(info.tags.value("comment"), QString("A comment"));
}

void TestLibm9sReference::handlesAwkwardPaths_data()
{
    QTest::addColumn<QString>("inputName");
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<bool>("relative");  // run in the folder with bare names
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
    const RunResult r = relative
                            ? RunEncoderIn(dir_.path(), EncoderArgs(inputName, format, 128, 44100, 2, outputName))
                            : RunEncoder(EncoderArgs(input, format, 128, 44100, 2, output));
    QVERIFY2(r.exitCode == 0, Visible(r.err).constData());
    const AudioInfo info = Probe(output);
    QVERIFY2(info.opened, qPrintable(info.error));
    QVERIFY(info.samples > 44100);
    QCOMPARE(info.decodeErrors, 0);
}

QTEST_GUILESS_MAIN(TestLibm9sReference)
#include "tst_libm9s_reference.moc"
