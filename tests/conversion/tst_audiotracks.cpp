#include "conversion/AudioTracks.h"

#include "common/IsoLanguageNames.h"

#include <QtTest>

namespace {
// Three tracks as `libm9s -probe` lists them, with a field it may add later,
// and the chapters it lists after them.
const QString Listing = QStringLiteral("libm9s-tracks 1\n"
                                       "0\taac\t2\t48000\teng\t\t0\t5400.032\tstereo\n"
                                       "1\tac3\t6\t48000\tjpn\tJapanese dub\t0\t5400.000\t5.1(side)\textra\n"
                                       "2\tpcm_s24le\t2\t96000\tfre\t\t1\t5400.000\tstereo\n"
                                       "chapter\t1\t0.000\t61.500\tPrologue\n"
                                       "chapter\t2\t61.500\t5400.032\t2\n");
}

class TestAudioTracks : public QObject
{
    Q_OBJECT
private slots:
    void parse()
    {
        const QList<TAudioTrack> tracks = ParseTrackList(Listing);
        QCOMPARE(tracks.size(), 3);
        QCOMPARE(tracks[1].Codec, QStringLiteral("ac3"));
        QCOMPARE(tracks[1].Channels, 6);
        QCOMPARE(tracks[1].Title, QStringLiteral("Japanese dub"));
        QVERIFY(tracks[2].Default && !tracks[0].Default);
        QVERIFY(ParseTrackList(QStringLiteral("0\taac\t2\n")).isEmpty()); // no header: not a listing
        QVERIFY(ParseTrackList(QStringLiteral("libm9s-tracks 1\n")).isEmpty());
        // The chapters after the tracks; an open end runs to the source's end.
        const QList<TChapter> chapters =
            ParseChapterList(Listing + QStringLiteral("chapter\t3\t5400.032\t\tEpilogue\twith a tab\n"));
        QCOMPARE(chapters.size(), 3);
        QCOMPARE(chapters[0].Title, QStringLiteral("Prologue"));
        QCOMPARE(chapters[2].Title, QStringLiteral("Epilogue\twith a tab"));
        QCOMPARE(ChapterLengths(chapters, 5460.032), (QList<double>{61.5, 5400.032 - 61.5, 60}));
        QVERIFY(ParseChapterList(QStringLiteral("chapter\t1\t0\t1\tno header\n")).isEmpty());
    }

    // The line a track gets in the queue's menu, from its `-probe` line, in
    // English and in a locale whose words mark where they went.
    void caption_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("caption");
        const auto row = [](const char *name, const char *locale, const char *line, const char *caption) {
            QTest::newRow(name) << QString::fromUtf8(locale) << QString::fromUtf8(line) << QString::fromUtf8(caption);
        };
        row("language and title", "", "1\tac3\t6\t48000\tjpn\tJapanese dub\t0\t5400.000\t5.1(side)",
            "2: Japanese (Japanese dub) \u2014 AC-3 5.1, 48 kHz");
        row("bibliographic code, PCM", "", "2\tpcm_s24le\t2\t96000\tfre\t\t1\t1.0\tstereo",
            "3: French \u2014 PCM stereo, 96 kHz");
        row("two-letter code, mono", "", "0\tmp3\t1\t44100\tde\t\t0\t1.0\tmono", "1: German \u2014 MP3 mono, 44.1 kHz");
        row("7.1", "", "3\teac3\t8\t48000\teng\t\t0\t1.0\t7.1", "4: English \u2014 E-AC-3 7.1, 48 kHz");
        row("unknown code shown as it is", "", "0\topus\t2\t48000\tqaa\t\t0\t1.0\tstereo",
            "1: qaa \u2014 Opus stereo, 48 kHz");
        row("untagged, title only", "", "4\tvorbis\t2\t22050\t\tCommentary\t0\t1.0\tstereo",
            "5: Commentary \u2014 Vorbis stereo, 22.05 kHz");
        row("untagged, odd layout", "", "5\tflac\t3\t8000\t\t\t0\t1.0\t3.0", "6: FLAC 3 ch, 8 kHz");
        row("und is untagged", "", "0\taac\t2\t48000\tund\t\t0\t1.0\tstereo", "1: AAC stereo, 48 kHz");
        row("collective code of ISO 639-2", "", "0\taac\t2\t48000\tafa\t\t0\t1.0\tstereo",
            "1: Afro-Asiatic languages \u2014 AAC stereo, 48 kHz");
        row("Japanese name and words", "ja", "1\tac3\t6\t48000\tJPN\tJapanese dub\t0\t5400.000\t5.1(side)",
            "2: \u65e5\u672c\u8a9e (Japanese dub) \u2014 AC-3 <5.1>, 48 <kHz>");
        row("Chinese name of a bibliographic code", "zh_CN", "2\tpcm_s24le\t2\t96000\tfre\t\t1\t1.0\tstereo",
            "3: \u6cd5\u8bed \u2014 PCM <stereo>, 96 <kHz>");
        row("Chinese name from the ISO 639-2 catalogue", "zh_CN", "0\tmp3\t1\t44100\tafa\t\t0\t1.0\tmono",
            "1: \u4e9a\u975e\u8bf8\u8bed\u8a00 \u2014 MP3 <mono>, 44.1 <kHz>");
        row("untranslated name stays English", "ja", "3\teac3\t8\t48000\tglg\t\t0\t1.0\t7.1",
            "4: Galician \u2014 E-AC-3 <7.1>, 48 <kHz>");
        row("number of channels in the words", "ja", "5\tflac\t3\t8000\t\t\t0\t1.0\t3.0", "6: FLAC <3>, 8 <kHz>");
    }

    void caption()
    {
        QFETCH(QString, locale);
        QFETCH(QString, line);
        QFETCH(QString, caption);
        if (!QFile::exists(QStringLiteral("/usr/share/iso-codes/json/iso_639-3.json")))
            QSKIP("Debian's iso-codes is not installed");
        const QList<TAudioTrack> tracks = ParseTrackList(QStringLiteral("libm9s-tracks 1\n") + line + '\n');
        QCOMPARE(tracks.size(), 1);
        TTrackWords words;
        if (!locale.isEmpty())
            words = {"<mono>", "<stereo>", "<5.1>", "<7.1>", "<%s>", "<kHz>", locale};
        QCOMPARE(TrackCaption(tracks[0], words, TIsoLanguageNames(locale)), caption);
        // The words set for the window are the ones a caption without them takes.
        SetTrackWords(words);
        QCOMPARE(TrackCaption(tracks[0]), caption);
        SetTrackWords({});
    }

    void automatic_data()
    {
        QTest::addColumn<QString>("listing");
        QTest::addColumn<QString>("preferred");
        QTest::addColumn<int>("track");
        QTest::newRow("default flag") << Listing << "" << 2;
        QTest::newRow("ISO 639-2 code") << Listing << "jpn" << 1;
        QTest::newRow("ISO 639-1 code") << Listing << "ja" << 1;
        QTest::newRow("language name, any case") << Listing << "japanese" << 1;
        QTest::newRow("bibliographic code") << Listing << "FRE" << 2;
        QTest::newRow("language not there") << Listing << "German" << 2;
        const QString noDefault = QString(Listing).replace(QStringLiteral("\t1\t5400"), QStringLiteral("\t0\t5400"));
        QTest::newRow("most channels") << noDefault << "" << 1;
        QTest::newRow("no track") << "libm9s-tracks 1\n" << "eng" << -1;
    }

    void automatic()
    {
        QFETCH(QString, listing);
        QFETCH(QString, preferred);
        QFETCH(int, track);
        QCOMPARE(AutomaticTrack(ParseTrackList(listing), preferred), track);
    }

    void plan_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("chosen");
        QTest::addColumn<QString>("preferred");
        QTest::addColumn<QString>("listing");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<int>("track");
        QTest::addColumn<bool>("probed");
        QTest::newRow("conversion, automatic") << "flac" << -1 << "" << Listing << "flac" << -1 << false;
        QTest::newRow("conversion, chosen track") << "opus" << 1 << "jpn" << Listing << "opus" << 1 << false;
        QTest::newRow("conversion, preferred language") << "ogg" << -1 << "en" << Listing << "ogg" << 0 << true;
        QTest::newRow("preferred language missing") << "m4a" << -1 << "de" << Listing << "m4a" << -1 << true;
        QTest::newRow("copy of AAC") << "copy" << 0 << "" << Listing << "m4a" << 0 << true;
        QTest::newRow("copy of AC-3") << "copy" << 1 << "" << Listing << "ac3" << 1 << true;
        QTest::newRow("copy, automatic names its track") << "copy" << -1 << "" << Listing << "wav" << 2 << true;
        QTest::newRow("copy, unreadable source") << "copy" << -1 << "" << "" << "mka" << -1 << true;
    }

    void plan()
    {
        QFETCH(QString, format);
        QFETCH(int, chosen);
        QFETCH(QString, preferred);
        QFETCH(QString, listing);
        QFETCH(QString, extension);
        QFETCH(int, track);
        QFETCH(bool, probed);
        bool called = false;
        const TOutputPlan plan = PlanOutput(format, chosen, preferred, [&] {
            called = true;
            return ParseTrackList(listing);
        });
        QCOMPARE(plan.Extension, extension);
        QCOMPARE(plan.AudioTrack, track);
        QCOMPARE(called, probed);
    }

    void copyContainers_data()
    {
        QTest::addColumn<QString>("codec");
        QTest::addColumn<QString>("extension");
        for (const auto &[codec, extension] : QList<std::pair<const char *, const char *>>{{"aac", "m4a"},
                                                                                           {"mp3", "mp3"},
                                                                                           {"ac3", "ac3"},
                                                                                           {"eac3", "eac3"},
                                                                                           {"opus", "opus"},
                                                                                           {"vorbis", "ogg"},
                                                                                           {"flac", "flac"},
                                                                                           {"pcm_s16le", "wav"},
                                                                                           {"pcm_s16be", "mka"},
                                                                                           {"dts", "mka"},
                                                                                           {"mp2", "mp2"}})
            QTest::newRow(codec) << codec << extension;
    }

    void copyContainers()
    {
        QFETCH(QString, codec);
        QFETCH(QString, extension);
        QCOMPARE(CopyExtensionOf(codec), extension);
    }
};

QTEST_GUILESS_MAIN(TestAudioTracks)
#include "tst_audiotracks.moc"
