#include "conversion/EncoderCommand.h"

#include "conversion/CommandLineBuilder.h"

#include <algorithm>
#include <array>

namespace {
constexpr std::array<int, 18> Bitrates{8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 350};
constexpr std::array<int, 12> SampleRates{6000,  8000,  11025, 12000, 16000, 22050,
                                          24000, 32000, 44100, 48000, 88200, 96000};
constexpr int DefaultBitrate = 128;
constexpr int DefaultSampleRate = 44100;

template <size_t N> int valueAt(const std::array<int, N> &values, int position, int fallback)
{
    return position >= 0 && position < int(N) ? values[size_t(position)] : fallback;
}
}

int BitrateOfIndex(int position) { return valueAt(Bitrates, position, DefaultBitrate); }

int SampleRateOfIndex(int position) { return valueAt(SampleRates, position, DefaultSampleRate); }

QString OutputExtOf(bool wavChecked, bool mp3Checked)
{
    if (wavChecked && !mp3Checked)
        return QStringLiteral("wav");
    return QStringLiteral("mp3");
}

const QStringList &OutputFormats()
{
    static const QStringList formats = [] {
        QStringList names;
        for (const EncoderContract::FormatTraits &traits : EncoderContract::Formats)
            names << QLatin1String(traits.name);
        return names;
    }();
    return formats;
}

TOutputFormat FormatOfName(const QString &name)
{
    for (const EncoderContract::FormatTraits &traits : EncoderContract::Formats)
        if (name.trimmed().compare(QLatin1String(traits.name), Qt::CaseInsensitive) == 0)
            return traits.format;
    return EncoderContract::DefaultFormat;
}

QString FormatName(TOutputFormat format) { return QLatin1String(EncoderContract::TraitsOf(format).name); }

QString KnownOutputFormat(const QString &format) { return FormatName(FormatOfName(format)); }

bool FormatUsesBitrate(const QString &format) { return EncoderContract::TraitsOf(FormatOfName(format)).usesBitrate; }

bool FormatUsesRateAndChannels(const QString &format)
{
    return EncoderContract::TraitsOf(FormatOfName(format)).usesRateAndChannels;
}

void TEncoderRequest::ApplyTo(TFFMpeg &ffmpeg) const
{
    const EncoderContract::FormatTraits &traits = EncoderContract::TraitsOf(Format);
    const bool copy = Format == TOutputFormat::Copy;
    const bool rateAndChannels = traits.usesRateAndChannels;
    ffmpeg.Overwrite = true; // the placeholder or the hidden file is always there to be replaced
    ffmpeg.InputFile = Source;
    ffmpeg.OutputFile = Target;
    ffmpeg.DisableVideo = true;
    // A copy takes the codec, rate and channels of the source: the encoder
    // refuses settings it cannot honour, so none is given. Every encoded
    // format carries the bit rate; the encoder ignores it where it means nothing.
    ffmpeg.OutputFormat = copy ? QString() : QLatin1String(traits.name);
    ffmpeg.AudioBitrate = copy ? QString() : QString::number(Bitrate);
    ffmpeg.AudioSampleRate = rateAndChannels ? QString::number(SampleRate) : QString();
    ffmpeg.AudioChannels = rateAndChannels ? QString::number(Channels) : QString();
    ffmpeg.AudioCodec = copy ? QLatin1String(EncoderContract::CopyCodec) : QString();
    ffmpeg.Map =
        AudioTrack >= 0 ? QLatin1String(EncoderContract::AudioTrackPrefix) + QString::number(AudioTrack) : QString();
    ffmpeg.VerifyOutput = VerifyOutput;
    // A copy cannot be levelled, only tagged.
    const bool levelled = Loudness.startsWith(QLatin1Char('-'));
    ffmpeg.Loudness = levelled && !copy ? Loudness : QString();
    ffmpeg.ReplayGain = Loudness == QLatin1String("replaygain");
    ffmpeg.Chapter = Chapter > 0 ? QString::number(Chapter) : QString();
    // A copy writes packets as they are, on one thread.
    ffmpeg.Threads = Threads > 0 && !copy ? QString::number(Threads) : QString();
}

int EncoderThreads(int cores, int parallelFiles, int filesLeft)
{
    const int together = std::max(1, std::min(parallelFiles, filesLeft));
    return std::max(1, cores / together);
}

TEncoderCommand BuildEncoderCommand(TFFMpeg &ffmpeg, const QString &programFolder, const TEncoderRequest &request)
{
    request.ApplyTo(ffmpeg);
    QString folder = programFolder;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return {folder + TFFMpeg::ExecutableName(), ffmpeg.BuildArguments(), folder + ffmpeg.BuildCommandLine()};
}
