#include "common/Settings.h"
#include "common/TolvaneError.h"
#include "support/ErrorOf.h"
#include "support/TestFiles.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using Key = TSettings::Key;

namespace {
// Every key's value as text, so one table serves every type.
QString valueOf(const TSettings &settings, Key key)
{
    switch (key) {
    case Key::Language:
        return QString::number(settings.Language());
    case Key::Skin:
        return QString::number(settings.Skin());
    case Key::OutputFolder:
        return settings.OutputFolder();
    case Key::AutoPowerOff:
        return QString::number(settings.AutoPowerOff());
    case Key::AutoPowerOffWaitTime:
        return QString::number(settings.AutoPowerOffWaitTime());
    case Key::ParallelFiles:
        return QString::number(settings.ParallelFiles());
    case Key::PreferredAudioLanguage:
        return settings.PreferredAudioLanguage();
    case Key::Format:
        return QLatin1String(EncoderContract::TraitsOf(settings.Format()).name);
    case Key::Bitrate:
        return QString::number(settings.Bitrate());
    case Key::SampleRate:
        return QString::number(settings.SampleRate());
    case Key::Channels:
        return QString::number(settings.Channels());
    case Key::VerifyOutput:
        return QString::number(settings.VerifyOutput());
    case Key::Loudness:
        return settings.Loudness();
    case Key::SplitChapters:
        return QString::number(settings.SplitChapters());
    case Key::KeepFolders:
        return QString::number(settings.KeepFolders());
    case Key::LastAddFolder:
        return settings.LastAddFolder();
    }
    return QStringLiteral("<unknown key>");
}

// Sets a key from text; the language has no setter and is left alone.
void setValue(TSettings &settings, Key key, const QString &value)
{
    const int number = value.toInt();
    switch (key) {
    case Key::Language:
        break;
    case Key::Skin:
        return settings.SetSkin(number);
    case Key::OutputFolder:
        return settings.SetOutputFolder(value);
    case Key::AutoPowerOff:
    case Key::AutoPowerOffWaitTime:
        return settings.SetAutoPowerOff(key == Key::AutoPowerOff && number == 1,
                                        key == Key::AutoPowerOffWaitTime ? number : 30);
    case Key::ParallelFiles:
        return settings.SetParallelFiles(number);
    case Key::PreferredAudioLanguage:
        return settings.SetPreferredAudioLanguage(value);
    case Key::Format:
        for (const EncoderContract::FormatTraits &traits : EncoderContract::Formats)
            if (value == QLatin1String(traits.name))
                settings.SetFormat(traits.format);
        return;
    case Key::Bitrate:
        return settings.SetBitrate(number);
    case Key::SampleRate:
        return settings.SetSampleRate(number);
    case Key::Channels:
        return settings.SetChannels(number);
    case Key::VerifyOutput:
        return settings.SetVerifyOutput(number == 1);
    case Key::Loudness:
        return settings.SetLoudness(value);
    case Key::SplitChapters:
        return settings.SetSplitChapters(number == 1);
    case Key::KeepFolders:
        return settings.SetKeepFolders(number == 1);
    case Key::LastAddFolder:
        return settings.SetLastAddFolder(value);
    }
}

QString defaultParallelFiles() { return QString::number(std::min(TSettings::MostParallelFiles(), 4)); }
} // namespace

class TestSettingKeys : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString configFile(const QByteArray &content)
    {
        const QString path = m_dir.filePath(QStringLiteral("config.ini"));
        QFile::remove(path);
        if (!content.isEmpty())
            writeFile(path, content);
        return path;
    }

private slots:
    void read_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<Key>("key");
        QTest::addColumn<QString>("expected");

        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        const struct
        {
            Key key;
            QString value;
        } defaults[] = {
            {Key::Language, "2"},
            {Key::Skin, "10"},
            {Key::OutputFolder, music},
            {Key::AutoPowerOff, "0"},
            {Key::AutoPowerOffWaitTime, "30"},
            {Key::ParallelFiles, defaultParallelFiles()},
            {Key::PreferredAudioLanguage, ""},
            {Key::Format, "mp3"},
            {Key::Bitrate, "128"},
            {Key::SampleRate, "44100"},
            {Key::Channels, "2"},
            {Key::VerifyOutput, "1"},
            {Key::Loudness, "off"},
            {Key::SplitChapters, "0"},
            {Key::KeepFolders, "0"},
            {Key::LastAddFolder, ""},
        };
        for (const auto &row : defaults)
            QTest::addRow("no file: default of %s", qPrintable(TSettings::NameOf(row.key)))
                << QByteArray() << row.key << row.value;

        QTest::newRow("language in hexadecimal") << QByteArray("[common]\nlanguage=0x3\n") << Key::Language << "3";
        QTest::newRow("language no number") << QByteArray("[common]\nlanguage=jp\n") << Key::Language << "2";
        QTest::newRow("names in other capitals")
            << QByteArray("[Setting]\nAUTOPOWEROFF=1\n") << Key::AutoPowerOff << "1";
        QTest::newRow("power-off 2 is off") << QByteArray("[setting]\nautoPowerOff=2\n") << Key::AutoPowerOff << "0";
        QTest::newRow("verify 0 is off") << QByteArray("[setting]\nverifyOutput=0\n") << Key::VerifyOutput << "0";
        QTest::newRow("verify any other number keeps on")
            << QByteArray("[setting]\nverifyOutput=2\n") << Key::VerifyOutput << "1";
        QTest::newRow("verify no number keeps on")
            << QByteArray("[setting]\nverifyOutput=no\n") << Key::VerifyOutput << "1";
        QTest::newRow("wait time no number")
            << QByteArray("[setting]\nautoPowerOff_WaitTime=x\n") << Key::AutoPowerOffWaitTime << "30";
        QTest::newRow("parallel files 0")
            << QByteArray("[setting]\nparallelFiles=0\n") << Key::ParallelFiles << defaultParallelFiles();
        QTest::newRow("parallel files above the cores")
            << QByteArray("[setting]\nparallelFiles=999\n") << Key::ParallelFiles << defaultParallelFiles();
        QTest::newRow("parallel files 1") << QByteArray("[setting]\nparallelFiles=1\n") << Key::ParallelFiles << "1";
        QTest::newRow("format any case, blanks") << QByteArray("[setting]\nformat= FLAC \n") << Key::Format << "flac";
        QTest::newRow("format copy") << QByteArray("[setting]\nformat=copy\n") << Key::Format << "copy";
        QTest::newRow("format unknown") << QByteArray("[setting]\nformat=aiff\n") << Key::Format << "mp3";
        QTest::newRow("channels 1") << QByteArray("[setting]\nchannels=1\n") << Key::Channels << "1";
        QTest::newRow("channels 6") << QByteArray("[setting]\nchannels=6\n") << Key::Channels << "2";
        QTest::newRow("bitrate no number") << QByteArray("[setting]\nbitrate=fast\n") << Key::Bitrate << "128";
        QTest::newRow("loudness replaygain")
            << QByteArray("[setting]\nloudness=ReplayGain\n") << Key::Loudness << "replaygain";
        QTest::newRow("loudness unknown") << QByteArray("[setting]\nloudness=-99\n") << Key::Loudness << "off";
        QTest::newRow("preferred language trimmed")
            << QByteArray("[setting]\npreferredAudioLanguage= de \n") << Key::PreferredAudioLanguage << "de";
        QTest::newRow("key of another section")
            << QByteArray("[skin]\noutputFolder=/x\n") << Key::OutputFolder << music;
    }

    void read()
    {
        QFETCH(QByteArray, config);
        QFETCH(Key, key);
        QFETCH(QString, expected);
        const TSettings settings(configFile(config));
        QCOMPARE(valueOf(settings, key), expected);
    }

    void write_data()
    {
        QTest::addColumn<Key>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("stored");

        QTest::newRow("skin") << Key::Skin << "4" << QByteArray("[skin]\nskin=4\n");
        QTest::newRow("output folder") << Key::OutputFolder << "/m/a b"
                                       << QByteArray("[setting]\noutputFolder=/m/a b\n");
        QTest::newRow("power-off with its wait time")
            << Key::AutoPowerOff << "1" << QByteArray("[setting]\nautoPowerOff=1\nautoPowerOff_WaitTime=30\n");
        QTest::newRow("parallel files") << Key::ParallelFiles << "1" << QByteArray("[setting]\nparallelFiles=1\n");
        QTest::newRow("preferred language trimmed")
            << Key::PreferredAudioLanguage << "de" << QByteArray("[setting]\npreferredAudioLanguage=de\n");
        QTest::newRow("format") << Key::Format << "opus" << QByteArray("[setting]\nformat=opus\n");
        QTest::newRow("bitrate") << Key::Bitrate << "320" << QByteArray("[setting]\nbitrate=320\n");
        QTest::newRow("channels") << Key::Channels << "1" << QByteArray("[setting]\nchannels=1\n");
        QTest::newRow("verify off") << Key::VerifyOutput << "0" << QByteArray("[setting]\nverifyOutput=0\n");
        QTest::newRow("loudness") << Key::Loudness << "-16" << QByteArray("[setting]\nloudness=-16\n");
        QTest::newRow("chapters") << Key::SplitChapters << "1" << QByteArray("[setting]\nsplitChapters=1\n");
        QTest::newRow("keep folders") << Key::KeepFolders << "1" << QByteArray("[setting]\nkeepFolders=1\n");
        QTest::newRow("last add folder") << Key::LastAddFolder << "/v" << QByteArray("[setting]\nlastAddFolder=/v\n");
    }

    void write()
    {
        // Written, read back, told, and kept in the file's format.
        QFETCH(Key, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, stored);
        TSettings settings(configFile(QByteArray()));
        QSignalSpy changed(&settings, &TSettings::Changed);
        setValue(settings, key, value);
        QCOMPARE(valueOf(settings, key), value);
        QVERIFY(!changed.isEmpty());
        QCOMPARE(changed.first().first().value<Key>(), key);
        QCOMPARE(contentOf(settings.FileName()), stored);
    }

    void languageIsReadOnceAndFailedWritesAreNotTold()
    {
        TSettings settings(configFile("[common]\nlanguage=3\n"));
        writeFile(settings.FileName(), "[common]\nlanguage=1\n");
        QCOMPARE(settings.Language(), 3);

        TSettings missing(m_dir.filePath(QStringLiteral("gone/config.ini")));
        QSignalSpy changed(&missing, &TSettings::Changed);
        QCOMPARE(ErrorOf([&] { missing.SetSkin(4); }), QStringLiteral("Unable to write to %1").arg(missing.FileName()));
        QVERIFY(changed.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSettingKeys)
#include "tst_settingkeys.moc"
