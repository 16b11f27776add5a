#include "app/OutputSettings.h"

#include "common/IniFile.h"
#include "conversion/EncoderCommand.h"

#include <functional>

namespace {
const QString Section = QStringLiteral("setting");

// The stored number, or fallback when it is missing or no number.
int storedNumber(const TIniFile &ini, const QString &key, int fallback)
{
    int value = 0;
    return ParseIniInteger(ini.ReadString(Section, key, QString()), &value) ? value : fallback;
}

// The position of value in a list of count entries, or fallback.
int positionOf(int value, int count, const std::function<int(int)> &valueOf, int fallback)
{
    for (int position = 0; position < count; ++position)
        if (valueOf(position) == value)
            return position;
    return fallback;
}
}

TOutputSettings ReadOutputSettings(const QString &configFile, int bitrates, int sampleRates)
{
    const TIniFile ini(configFile);
    TOutputSettings settings;
    settings.format = KnownOutputFormat(ini.ReadString(Section, QStringLiteral("format"), QString()));
    settings.bitratePosition = positionOf(storedNumber(ini, QStringLiteral("bitrate"), -1), bitrates, BitrateOfIndex,
                                          settings.bitratePosition);
    settings.sampleRatePosition = positionOf(storedNumber(ini, QStringLiteral("sampleRate"), -1), sampleRates,
                                             SampleRateOfIndex, settings.sampleRatePosition);
    settings.channels = storedNumber(ini, QStringLiteral("channels"), 2) == 1 ? 1 : 2;
    return settings;
}

void WriteOutputFormat(const QString &configFile, const QString &format)
{
    TIniFile(configFile).WriteString(Section, QStringLiteral("format"), KnownOutputFormat(format));
}

void WriteOutputBitrate(const QString &configFile, int bitratePosition)
{
    TIniFile(configFile).WriteInteger(Section, QStringLiteral("bitrate"), BitrateOfIndex(bitratePosition));
}

void WriteOutputSampleRate(const QString &configFile, int sampleRatePosition)
{
    TIniFile(configFile).WriteInteger(Section, QStringLiteral("sampleRate"), SampleRateOfIndex(sampleRatePosition));
}

void WriteOutputChannels(const QString &configFile, int channels)
{
    TIniFile(configFile).WriteInteger(Section, QStringLiteral("channels"), channels);
}

bool ReadVerifyOutput(const QString &configFile)
{
    return storedNumber(TIniFile(configFile), QStringLiteral("verifyOutput"), 1) != 0;
}
