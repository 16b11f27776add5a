#include "conversion/EncoderCommand.h"

#include "encoder/CommandLineBuilder.h"

#include <array>

namespace {
constexpr std::array<int, 18> Bitrates{8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 350};
constexpr std::array<int, 12> SampleRates{6000, 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 88200, 96000};
constexpr int DefaultBitrate = 128;
constexpr int DefaultSampleRate = 44100;

template <size_t N>
int valueAt(const std::array<int, N> &values, int position, int fallback)
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

TEncoderCommand BuildEncoderCommand(TFFMpeg &ffmpeg, const QString &programFolder, const QString &source,
                                    const QString &target, const QString &extension, int bitrate,
                                    int sampleRate, int channels)
{
    ffmpeg.Overwrite = true; // the placeholder is always there to be replaced
    ffmpeg.InputFile = source;
    ffmpeg.OutputFile = target;
    ffmpeg.DisableVideo = true;
    ffmpeg.OutputFormat = extension;
    ffmpeg.AudioSampleRate = QString::number(sampleRate);
    ffmpeg.AudioBitrate = QString::number(bitrate);
    ffmpeg.AudioChannels = QString::number(channels);

    QString folder = programFolder;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return {folder + TFFMpeg::ExecutableName(), ffmpeg.BuildArguments(), folder + ffmpeg.BuildCommandLine()};
}
