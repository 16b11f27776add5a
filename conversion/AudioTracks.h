#pragma once

#include <QList>
#include <QString>
#include <functional>

// One audio track of a source as `libm9s -probe` lists it.
struct TAudioTrack
{
    int Index = 0; // among the audio tracks, from 0: what `-map 0:a:N` takes
    QString Codec; // FFmpeg's short name: aac, ac3, pcm_s16le, ...
    int Channels = 0;
    int SampleRate = 0;
    QString Language; // as tagged, usually ISO 639-2; empty when untagged
    QString Title;
    bool Default = false;
    QString Layout;      // stereo, 5.1(side), ...
    double Duration = 0; // seconds; 0 when the file does not say
};

// One chapter of a source as `libm9s -probe` lists it after the tracks.
struct TChapter
{
    int Number = 0;   // from 1: what -chapter takes
    double Start = 0; // seconds
    double End = -1;  // seconds; -1 when the source does not say where it ends
    QString Title;
};

// The tracks of a `-probe` listing; empty when the text is not one. The
// chapter lines after the tracks are not tracks.
QList<TAudioTrack> ParseTrackList(const QString &text);
// The chapters of a `-probe` listing, in its order; empty when it has none.
QList<TChapter> ParseChapterList(const QString &text);

// How long each chapter is, in seconds: an open end runs to the source's
// duration; 0 for a length nobody can tell.
QList<double> ChapterLengths(const QList<TChapter> &chapters, double sourceDuration);

// Runs `libm9s -probe source` from encoderFolder and returns its listing.
// Waits at most timeoutMs; a probe that fails, cannot start or takes longer
// gives an empty text.
QString ProbeListing(const QString &encoderFolder, const QString &source, int timeoutMs = 15000);

// The track the encoder takes on its own when none is asked for: the default
// one, else the one with most channels (the first of equals). With a preferred
// language (ISO 639 code or English language name), a track in that language
// wins. -1 when there is no track.
int AutomaticTrack(const QList<TAudioTrack> &tracks, const QString &preferredLanguage);

// Whether a track's language tag names the language the user wrote.
bool LanguageMatches(const QString &tag, const QString &wanted);

// The extension ("m4a", "mp3", ...) of the container a copy of codec goes into.
QString CopyExtensionOf(const QString &codec);

class TIsoLanguageNames;

// The words of a track's line in the interface language. The language's name
// comes from Debian's iso-codes in the catalogue of locale.
struct TTrackWords
{
    QString Mono = QStringLiteral("mono");
    QString Stereo = QStringLiteral("stereo");
    QString Surround51 = QStringLiteral("5.1");
    QString Surround71 = QStringLiteral("7.1");
    QString Channels = QStringLiteral("%s ch"); // "%s" takes the number of channels
    QString KiloHertz = QStringLiteral("kHz");
    QString Locale; // gettext's name of the interface language ("ja", "zh_CN"); empty for English
};

// The words every later TrackCaption(track) uses; set when the language file
// is loaded.
void SetTrackWords(const TTrackWords &words);

// The track as the queue's menu and tool tip show it: "2: Japanese — AAC 5.1, 48 kHz".
QString TrackCaption(const TAudioTrack &track);
QString TrackCaption(const TAudioTrack &track, const TTrackWords &words, const TIsoLanguageNames &names);

// What a file is written as: the output's extension and the audio track to
// ask the encoder for (-1: its own choice).
struct TOutputPlan
{
    QString Extension;
    int AudioTrack = -1;
    bool LanguageUnmatched = false; // a preferred language was given and no track has it
};

// The plan for a file in format (see OutputFormats) with the track the user
// chose for it (-1: Automatic). probe lists the source's tracks; it is called
// only when the plan needs them: for a copy, whose container follows the
// codec, and for Automatic with a preferred language. A copy always names
// its track, so that the encoder copies the codec the name was chosen for.
TOutputPlan PlanOutput(const QString &format, int chosenTrack, const QString &preferredLanguage,
                       const std::function<QList<TAudioTrack>()> &probe);
