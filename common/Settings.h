#pragma once

#include "libm9s/EncoderContract.h"

#include <QObject>
#include <QString>
#include <QStringList>

// Every key of config.ini, with its type and default, and the only way the
// program reads and writes them. Reads go to the file each time, so a value
// written by one window is seen by the next read anywhere; the language alone
// is read once, at construction. A value that is missing, of the wrong kind
// or out of range reads as the key's default. Writes go through TIniFile
// (same format, case-insensitive names, atomic replacement) and raise its
// "Unable to write to" error; each successful write sends Changed.
class TSettings : public QObject
{
    Q_OBJECT
public:
    enum class Key {
        Language,
        Skin,
        OutputFolder,
        AutoPowerOff,
        AutoPowerOffWaitTime,
        ParallelFiles,
        PreferredAudioLanguage,
        Format,
        Bitrate,
        SampleRate,
        Channels,
        VerifyOutput,
        Loudness,
        SplitChapters,
        KeepFolders,
        LastAddFolder,
    };
    Q_ENUM(Key)

    explicit TSettings(const QString &configFile, QObject *parent = nullptr);

    const QString &FileName() const { return m_configFile; }
    // The section and key of a setting in config.ini.
    static QString SectionOf(Key key);
    static QString NameOf(Key key);

    int Language() const { return m_language; } // 1 Chinese, 2 English, 3 Japanese; others act as 2
    void SetLanguage(int code);
    int Skin() const;
    void SetSkin(int skinIndex);
    QString OutputFolder() const; // default: the user's music folder
    void SetOutputFolder(const QString &folder);
    bool AutoPowerOff() const; // only a stored 1 is on
    int AutoPowerOffWaitTime() const;
    // Written together, in this order, as the settings dialog's OK does.
    void SetAutoPowerOff(bool on, int waitSeconds);
    int ParallelFiles() const; // 1 to MostParallelFiles; default the cores, at most 4
    void SetParallelFiles(int files);
    QString PreferredAudioLanguage() const; // trimmed; empty when the user has none
    void SetPreferredAudioLanguage(const QString &language);

    EncoderContract::Format Format() const;
    void SetFormat(EncoderContract::Format format);
    int Bitrate() const;    // kbit/s as stored; whether the window offers it is the window's matter
    int SampleRate() const; // Hz, likewise
    int Channels() const;   // 1 or 2
    void SetBitrate(int kbits);
    void SetSampleRate(int rate);
    void SetChannels(int channels);

    bool VerifyOutput() const; // on unless a 0 is stored
    void SetVerifyOutput(bool on);
    QString Loudness() const; // one of LoudnessChoices
    void SetLoudness(const QString &loudness);
    bool SplitChapters() const;
    void SetSplitChapters(bool on);
    bool KeepFolders() const;
    void SetKeepFolders(bool on);
    QString LastAddFolder() const;
    void SetLastAddFolder(const QString &folder);

    // How many files a run may convert at once: 1 to the number of cores, at most 16.
    static int MostParallelFiles();
    // The values loudness may take, the default first.
    static const QStringList &LoudnessChoices();

signals:
    void Changed(TSettings::Key key);

private:
    QString readString(Key key) const;
    int readInteger(Key key) const;
    bool readFlag(Key key) const;
    void write(Key key, const QString &value);
    void write(Key key, int value) { write(key, QString::number(value)); }

    QString m_configFile;
    int m_language = 2;
};
