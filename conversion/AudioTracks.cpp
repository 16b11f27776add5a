#include "conversion/AudioTracks.h"

#include "common/IsoLanguageNames.h"
#include "conversion/CommandLineBuilder.h"
#include "libm9s/EncoderContract.h"

#include <QLocale>
#include <QProcess>

#include <algorithm>
#include <memory>

namespace {
constexpr int KnownFields = 9;

// The language a tag or a user's text names; AnyLanguage when none.
QLocale::Language languageOf(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return QLocale::AnyLanguage;
    if (trimmed.size() <= 3) {
        // ISO 639-1, ISO 639-2/T and ISO 639-3 codes; the bibliographic
        // 639-2/B codes Matroska files often carry are mapped by hand.
        static const QList<std::pair<QString, QString>> bibliographic{
            {"fre", "fra"}, {"ger", "deu"}, {"chi", "zho"}, {"dut", "nld"}, {"gre", "ell"},
            {"cze", "ces"}, {"per", "fas"}, {"rum", "ron"}, {"slo", "slk"}, {"ice", "isl"},
            {"arm", "hye"}, {"baq", "eus"}, {"bur", "mya"}, {"geo", "kat"}, {"mac", "mkd"},
            {"mao", "mri"}, {"may", "msa"}, {"tib", "bod"}, {"wel", "cym"}, {"alb", "sqi"}};
        QString code = trimmed.toLower();
        for (const auto &[b, t] : bibliographic)
            if (code == b)
                code = t;
        const QLocale::Language language = QLocale::codeToLanguage(code);
        if (language != QLocale::AnyLanguage)
            return language;
    }
    for (int value = QLocale::C + 1; value <= QLocale::LastLanguage; ++value) {
        const auto language = QLocale::Language(value);
        if (QLocale::languageToString(language).compare(trimmed, Qt::CaseInsensitive) == 0
            || QLocale(language).nativeLanguageName().compare(trimmed, Qt::CaseInsensitive) == 0)
            return language;
    }
    return QLocale::AnyLanguage;
}

QString codecCaption(const QString &codec)
{
    static const QList<std::pair<QString, QString>> names{{"aac", "AAC"},     {"mp3", "MP3"},   {"ac3", "AC-3"},
                                                          {"eac3", "E-AC-3"}, {"opus", "Opus"}, {"vorbis", "Vorbis"},
                                                          {"flac", "FLAC"},   {"dts", "DTS"},   {"truehd", "TrueHD"},
                                                          {"alac", "ALAC"},   {"mp2", "MP2"}};
    for (const auto &[name, caption] : names)
        if (codec == name)
            return caption;
    return codec.startsWith(QLatin1String("pcm_")) ? QStringLiteral("PCM") : codec.toUpper();
}

QString channelsCaption(const TAudioTrack &track, const TTrackWords &words)
{
    if (track.Layout.startsWith(QLatin1String("5.1")))
        return words.Surround51;
    if (track.Layout.startsWith(QLatin1String("7.1")))
        return words.Surround71;
    if (track.Channels == 1)
        return words.Mono;
    if (track.Channels == 2)
        return words.Stereo;
    QString channels = words.Channels;
    return channels.replace(QLatin1String("%s"), QString::number(track.Channels));
}

// The words and names of the interface language, set once it is known.
struct TCurrentWords
{
    TTrackWords words;
    std::unique_ptr<TIsoLanguageNames> names = std::make_unique<TIsoLanguageNames>(QString());
};

TCurrentWords &currentWords()
{
    static TCurrentWords current;
    return current;
}
}

QList<TAudioTrack> ParseTrackList(const QString &text)
{
    QList<TAudioTrack> tracks;
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.isEmpty() || !lines.first().startsWith(QLatin1String("libm9s-tracks ")))
        return tracks;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QStringList fields = lines[i].split(QLatin1Char('\t'));
        if (fields.size() < 2)
            continue;
        while (fields.size() < KnownFields)
            fields.append(QString());
        bool ok = false;
        TAudioTrack track;
        track.Index = fields[0].toInt(&ok);
        if (!ok)
            continue;
        track.Codec = fields[1];
        track.Channels = fields[2].toInt();
        track.SampleRate = fields[3].toInt();
        track.Language = fields[4];
        track.Title = fields[5];
        track.Default = fields[6] == QLatin1String("1");
        track.Duration = fields[7].toDouble();
        track.Layout = fields[8].trimmed();
        tracks.append(track);
    }
    return tracks;
}

QList<TChapter> ParseChapterList(const QString &text)
{
    QList<TChapter> chapters;
    if (!text.startsWith(QLatin1String("libm9s-tracks ")))
        return chapters;
    const QString start = QLatin1String(EncoderContract::ChapterLineStart) + QLatin1Char('\t');
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!line.startsWith(start))
            continue;
        const QStringList fields = line.split(QLatin1Char('\t'));
        bool numbered = false;
        TChapter chapter;
        chapter.Number = fields.value(1).toInt(&numbered);
        if (!numbered)
            continue;
        chapter.Start = fields.value(2).toDouble();
        bool ended = false;
        const double end = fields.value(3).toDouble(&ended);
        chapter.End = ended ? end : -1;
        // A title may hold tabs of its own.
        chapter.Title = fields.mid(4).join(QLatin1Char('\t')).trimmed();
        chapters.append(chapter);
    }
    return chapters;
}

QList<double> ChapterLengths(const QList<TChapter> &chapters, double sourceDuration)
{
    QList<double> lengths;
    for (const TChapter &chapter : chapters) {
        const double end = chapter.End >= 0 ? chapter.End : sourceDuration;
        lengths.append(std::max(0.0, end - chapter.Start));
    }
    return lengths;
}

QString ProbeListing(const QString &encoderFolder, const QString &source, int timeoutMs)
{
    QString folder = encoderFolder;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    QProcess probe;
    probe.setProcessChannelMode(QProcess::SeparateChannels);
    probe.start(folder + TFFMpeg::ExecutableName(), {QLatin1String(EncoderContract::ProbeOption), source});
    // The probe reads headers only; the bound is for a file on a hung drive.
    if (!probe.waitForFinished(timeoutMs)) {
        probe.kill();
        probe.waitForFinished();
        return {};
    }
    if (probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
        return {};
    return QString::fromUtf8(probe.readAllStandardOutput());
}

bool LanguageMatches(const QString &tag, const QString &wanted)
{
    if (tag.trimmed().isEmpty() || wanted.trimmed().isEmpty())
        return false;
    if (tag.trimmed().compare(wanted.trimmed(), Qt::CaseInsensitive) == 0)
        return true;
    const QLocale::Language language = languageOf(tag);
    return language != QLocale::AnyLanguage && language == languageOf(wanted);
}

int AutomaticTrack(const QList<TAudioTrack> &tracks, const QString &preferredLanguage)
{
    for (const TAudioTrack &track : tracks)
        if (LanguageMatches(track.Language, preferredLanguage))
            return track.Index;
    for (const TAudioTrack &track : tracks)
        if (track.Default)
            return track.Index;
    int best = -1;
    int bestChannels = -1;
    for (const TAudioTrack &track : tracks)
        if (track.Channels > bestChannels) {
            best = track.Index;
            bestChannels = track.Channels;
        }
    return best;
}

QString CopyExtensionOf(const QString &codec)
{
    static const QList<std::pair<QString, QString>> containers{{"aac", "m4a"},   {"mp3", "mp3"},   {"ac3", "ac3"},
                                                               {"eac3", "eac3"}, {"opus", "opus"}, {"vorbis", "ogg"},
                                                               {"flac", "flac"}, {"mp2", "mp2"}};
    for (const auto &[name, extension] : containers)
        if (codec == name)
            return extension;
    // The PCM kinds a WAV holds; big-endian and the rest go to Matroska.
    static const QStringList wavPcm{"pcm_u8",    "pcm_s16le", "pcm_s24le", "pcm_s32le",
                                    "pcm_f32le", "pcm_f64le", "pcm_alaw",  "pcm_mulaw"};
    if (wavPcm.contains(codec))
        return QStringLiteral("wav");
    return QStringLiteral("mka");
}

void SetTrackWords(const TTrackWords &words)
{
    TCurrentWords &current = currentWords();
    if (words.Locale != current.words.Locale)
        current.names = std::make_unique<TIsoLanguageNames>(words.Locale);
    current.words = words;
}

QString TrackCaption(const TAudioTrack &track)
{
    const TCurrentWords &current = currentWords();
    return TrackCaption(track, current.words, *current.names);
}

QString TrackCaption(const TAudioTrack &track, const TTrackWords &words, const TIsoLanguageNames &names)
{
    // "und" is what many muxers write for a track nobody tagged.
    const QString tag = track.Language.trimmed();
    const bool untagged = tag.compare(QLatin1String("und"), Qt::CaseInsensitive) == 0;
    QString name = untagged ? QString() : names.NameOf(tag);
    if (name.isEmpty() && !untagged)
        name = tag;
    if (!track.Title.isEmpty())
        name = name.isEmpty() ? track.Title : name + QStringLiteral(" (") + track.Title + QLatin1Char(')');
    // Tracks are counted from 1 for people; the index stays the encoder's, from 0.
    QString caption = QString::number(track.Index + 1) + QStringLiteral(": ");
    if (!name.isEmpty())
        caption += name + QStringLiteral(" \u2014 ");
    caption += codecCaption(track.Codec) + QLatin1Char(' ') + channelsCaption(track, words);
    if (track.SampleRate > 0)
        caption += QStringLiteral(", ") + QLocale::c().toString(track.SampleRate / 1000.0, 'g', 4) + QLatin1Char(' ')
                   + words.KiloHertz;
    return caption;
}

TOutputPlan PlanOutput(const QString &format, int chosenTrack, const QString &preferredLanguage,
                       const std::function<QList<TAudioTrack>()> &probe)
{
    const bool copy = format == QLatin1String("copy");
    TOutputPlan plan{copy ? QStringLiteral("mka") : format, chosenTrack};
    if (!copy && (chosenTrack >= 0 || preferredLanguage.trimmed().isEmpty()))
        return plan;
    const QList<TAudioTrack> tracks = probe();
    if (chosenTrack < 0) {
        // Without a track in the preferred language the encoder's own
        // choice stands, except for a copy that needs to know the codec.
        const bool preferred = std::any_of(tracks.begin(), tracks.end(), [&](const TAudioTrack &track) {
            return LanguageMatches(track.Language, preferredLanguage);
        });
        if (preferred || copy)
            plan.AudioTrack = AutomaticTrack(tracks, preferredLanguage);
        plan.LanguageUnmatched = !preferred && !tracks.isEmpty() && !preferredLanguage.trimmed().isEmpty();
    }
    if (copy)
        for (const TAudioTrack &track : tracks)
            if (track.Index == plan.AudioTrack)
                plan.Extension = CopyExtensionOf(track.Codec);
    return plan;
}
