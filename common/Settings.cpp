#include "common/Settings.h"

#include "common/IniFile.h"

#include <QStandardPaths>
#include <QThread>

#include <algorithm>

namespace {
using Key = TSettings::Key;

struct KeyEntry
{
    Key key;
    const char *section;
    const char *name;
    const char *fallback; // nullptr: worked out on this machine (defaultOf)
};

// Every key config.ini holds and what a missing or unusable value reads as.
// The names are the users' files' names: never change one.
constexpr KeyEntry Keys[] = {
    {Key::Language, "common", "language", "2"},
    {Key::Skin, "skin", "skin", "10"},
    {Key::OutputFolder, "setting", "outputFolder", nullptr},
    {Key::AutoPowerOff, "setting", "autoPowerOff", "0"},
    {Key::AutoPowerOffWaitTime, "setting", "autoPowerOff_WaitTime", "30"},
    {Key::ParallelFiles, "setting", "parallelFiles", nullptr},
    {Key::PreferredAudioLanguage, "setting", "preferredAudioLanguage", ""},
    {Key::Format, "setting", "format", "mp3"},
    {Key::Bitrate, "setting", "bitrate", "128"},
    {Key::SampleRate, "setting", "sampleRate", "44100"},
    {Key::Channels, "setting", "channels", "2"},
    {Key::VerifyOutput, "setting", "verifyOutput", "1"},
    {Key::Loudness, "setting", "loudness", "off"},
    {Key::SplitChapters, "setting", "splitChapters", "0"},
    {Key::KeepFolders, "setting", "keepFolders", "0"},
    {Key::LastAddFolder, "setting", "lastAddFolder", ""},
};

constexpr int ParallelFilesCap = 16;
constexpr int DefaultParallelFilesCap = 4;

const KeyEntry &entryOf(Key key)
{
    for (const KeyEntry &entry : Keys)
        if (entry.key == key)
            return entry;
    Q_UNREACHABLE();
}

QString defaultOf(Key key)
{
    if (const char *fallback = entryOf(key).fallback)
        return QString::fromLatin1(fallback);
    if (key == Key::OutputFolder)
        return QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    return QString::number(std::min(TSettings::MostParallelFiles(), DefaultParallelFilesCap));
}

int defaultNumberOf(Key key)
{
    int value = 0;
    ParseIniInteger(defaultOf(key), &value);
    return value;
}
} // namespace

TSettings::TSettings(const QString &configFile, QObject *parent) : QObject(parent), m_configFile(configFile)
{
    m_language = readInteger(Key::Language);
}

QString TSettings::SectionOf(Key key) { return QString::fromLatin1(entryOf(key).section); }

QString TSettings::NameOf(Key key) { return QString::fromLatin1(entryOf(key).name); }

int TSettings::MostParallelFiles() { return std::clamp(QThread::idealThreadCount(), 1, ParallelFilesCap); }

const QStringList &TSettings::LoudnessChoices()
{
    static const QStringList choices{"off", "-23", "-16", "-14", "replaygain"};
    return choices;
}

QString TSettings::readString(Key key) const
{
    return TIniFile(m_configFile).ReadString(SectionOf(key), NameOf(key), defaultOf(key));
}

int TSettings::readInteger(Key key) const
{
    return TIniFile(m_configFile).ReadInteger(SectionOf(key), NameOf(key), defaultNumberOf(key));
}

bool TSettings::readFlag(Key key) const
{
    // Only 1 is on, as the power-off switch has always been read; text that is
    // no number at all leaves the default.
    int value = 0;
    if (!ParseIniInteger(TIniFile(m_configFile).ReadString(SectionOf(key), NameOf(key), QString()), &value))
        value = defaultNumberOf(key);
    return value == 1;
}

void TSettings::write(Key key, const QString &value)
{
    TIniFile(m_configFile).WriteString(SectionOf(key), NameOf(key), value);
    emit Changed(key);
}

void TSettings::SetLanguage(int code)
{
    m_language = code;
    write(Key::Language, code);
}

int TSettings::Skin() const { return readInteger(Key::Skin); }

void TSettings::SetSkin(int skinIndex) { write(Key::Skin, skinIndex); }

QString TSettings::OutputFolder() const { return readString(Key::OutputFolder); }

void TSettings::SetOutputFolder(const QString &folder) { write(Key::OutputFolder, folder); }

bool TSettings::AutoPowerOff() const { return readFlag(Key::AutoPowerOff); }

int TSettings::AutoPowerOffWaitTime() const { return readInteger(Key::AutoPowerOffWaitTime); }

void TSettings::SetAutoPowerOff(bool on, int waitSeconds)
{
    write(Key::AutoPowerOff, on ? 1 : 0);
    write(Key::AutoPowerOffWaitTime, waitSeconds);
}

int TSettings::ParallelFiles() const
{
    const int fallback = defaultNumberOf(Key::ParallelFiles);
    const int files = readInteger(Key::ParallelFiles);
    return files >= 1 && files <= MostParallelFiles() ? files : fallback;
}

void TSettings::SetParallelFiles(int files) { write(Key::ParallelFiles, files); }

QString TSettings::PreferredAudioLanguage() const { return readString(Key::PreferredAudioLanguage).trimmed(); }

void TSettings::SetPreferredAudioLanguage(const QString &language)
{
    write(Key::PreferredAudioLanguage, language.trimmed());
}

EncoderContract::Format TSettings::Format() const
{
    const QString stored = readString(Key::Format).trimmed();
    for (const EncoderContract::FormatTraits &traits : EncoderContract::Formats)
        if (stored.compare(QLatin1String(traits.name), Qt::CaseInsensitive) == 0)
            return traits.format;
    return EncoderContract::DefaultFormat;
}

void TSettings::SetFormat(EncoderContract::Format format)
{
    write(Key::Format, QString::fromLatin1(EncoderContract::TraitsOf(format).name));
}

int TSettings::Bitrate() const { return readInteger(Key::Bitrate); }

int TSettings::SampleRate() const { return readInteger(Key::SampleRate); }

int TSettings::Channels() const { return readInteger(Key::Channels) == 1 ? 1 : 2; }

void TSettings::SetBitrate(int kbits) { write(Key::Bitrate, kbits); }

void TSettings::SetSampleRate(int rate) { write(Key::SampleRate, rate); }

void TSettings::SetChannels(int channels) { write(Key::Channels, channels == 1 ? 1 : 2); }

// Unlike the other switches, only a stored 0 is off: a slip in the file
// never costs the check of what was written.
bool TSettings::VerifyOutput() const { return readInteger(Key::VerifyOutput) != 0; }

void TSettings::SetVerifyOutput(bool on) { write(Key::VerifyOutput, on ? 1 : 0); }

QString TSettings::Loudness() const
{
    const QString stored = readString(Key::Loudness).trimmed();
    for (const QString &choice : LoudnessChoices())
        if (stored.compare(choice, Qt::CaseInsensitive) == 0)
            return choice;
    return defaultOf(Key::Loudness);
}

void TSettings::SetLoudness(const QString &loudness) { write(Key::Loudness, loudness); }

bool TSettings::SplitChapters() const { return readFlag(Key::SplitChapters); }

void TSettings::SetSplitChapters(bool on) { write(Key::SplitChapters, on ? 1 : 0); }

bool TSettings::KeepFolders() const { return readFlag(Key::KeepFolders); }

void TSettings::SetKeepFolders(bool on) { write(Key::KeepFolders, on ? 1 : 0); }

QString TSettings::LastAddFolder() const { return readString(Key::LastAddFolder); }

void TSettings::SetLastAddFolder(const QString &folder) { write(Key::LastAddFolder, folder); }
