#include "conversion/EncoderCommand.h"

#include "encoder/CommandLineBuilder.h"

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
    static const QStringList formats{"wav", "mp3", "flac", "m4a", "opus", "ogg", "copy"};
    return formats;
}

QString KnownOutputFormat(const QString &format)
{
    for (const QString &known : OutputFormats())
        if (known.compare(format.trimmed(), Qt::CaseInsensitive) == 0)
            return known;
    return QStringLiteral("mp3");
}

bool FormatUsesBitrate(const QString &format)
{
    const QString known = KnownOutputFormat(format);
    return known != QLatin1String("wav") && known != QLatin1String("flac") && known != QLatin1String("copy");
}

bool FormatUsesRateAndChannels(const QString &format) { return KnownOutputFormat(format) != QLatin1String("copy"); }

TEncoderCommand BuildEncoderCommand(TFFMpeg &ffmpeg, const QString &programFolder, const QString &source,
                                    const QString &target, const QString &extension, int bitrate, int sampleRate,
                                    int channels, int audioTrack, bool verifyOutput,
                                    const QString &loudness)
{
    const bool copy = extension == QLatin1String("copy");
    ffmpeg.Overwrite = true; // the placeholder or the hidden file is always there to be replaced
    ffmpeg.InputFile = source;
    ffmpeg.OutputFile = target;
    ffmpeg.DisableVideo = true;
    // A copy takes the codec, rate and channels of the source: the encoder
    // refuses settings it cannot honour, so none is given.
    ffmpeg.OutputFormat = copy ? QString() : extension;
    ffmpeg.AudioSampleRate = copy ? QString() : QString::number(sampleRate);
    ffmpeg.AudioBitrate = copy ? QString() : QString::number(bitrate);
    ffmpeg.AudioChannels = copy ? QString() : QString::number(channels);
    ffmpeg.AudioCodec = copy ? QStringLiteral("copy") : QString();
    ffmpeg.Map = audioTrack >= 0 ? QStringLiteral("0:a:%1").arg(audioTrack) : QString();
    ffmpeg.VerifyOutput = verifyOutput;
    const bool levelled = loudness.startsWith(QLatin1Char('-'));
    ffmpeg.Loudness = levelled && !copy ? loudness : QString();
    ffmpeg.ReplayGain = loudness == QLatin1String("replaygain");

    QString folder = programFolder;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return {folder + TFFMpeg::ExecutableName(), ffmpeg.BuildArguments(), folder + ffmpeg.BuildCommandLine()};
}
