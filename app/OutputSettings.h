#pragma once

#include <QString>

// The output choices of the main window as config.ini keeps them in
// [setting]: format=wav|mp3|flac|m4a|opus|ogg|copy, bitrate= (kbit/s), sampleRate= (Hz),
// channels=1|2. A missing or unknown value gives the default: MP3,
// 128 kbit/s, 44100 Hz, stereo.
struct TOutputSettings
{
    QString format = QStringLiteral("mp3"); // one of OutputFormats
    int bitratePosition = 11;               // in the bit-rate list
    int sampleRatePosition = 8;             // in the sample-rate list
    int channels = 2;
};

// bitrates and sampleRates: how many entries each list has.
TOutputSettings ReadOutputSettings(const QString &configFile, int bitrates, int sampleRates);

// [setting] verifyOutput=0 lets libm9s report success without reading back
// what it wrote; any other value, or none, has it check.
bool ReadVerifyOutput(const QString &configFile);

// Each writes its own key only.
void WriteOutputFormat(const QString &configFile, const QString &format);
void WriteOutputBitrate(const QString &configFile, int bitratePosition);
void WriteOutputSampleRate(const QString &configFile, int sampleRatePosition);
void WriteOutputChannels(const QString &configFile, int channels);
