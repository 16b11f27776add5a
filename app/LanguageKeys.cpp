#include "app/LanguageKeys.h"

#include "conversion/AudioTracks.h"
#include "conversion/FileQueueRules.h"

#include <QByteArray>

#include <iterator>
#include <utility>

// Every key of the language file in the order it is applied: App, the main
// window, then each dialog. Keys that name a control differently say so.
std::vector<TLanguageKey> LanguageKeys()
{
    const QString app = QStringLiteral("App");
    const QString main = QStringLiteral("frmMain");
    std::vector<TLanguageKey> keys;
    const auto control = [&keys](const QString &section, const char *key, const char *name = nullptr) {
        keys.push_back({section, QLatin1String(key), TLanguageTarget::Control,
                        name ? QLatin1String(name) : QLatin1String(key), nullptr, QString()});
    };
    const auto special = [&keys](const QString &section, const char *key, TLanguageTarget target) {
        keys.push_back({section, QLatin1String(key), target, QString(), nullptr, QString()});
    };
    const auto stored = [&keys, &main](const char *key, QString TWindowTexts::*text,
                                       TLanguageTarget target = TLanguageTarget::Stored) {
        keys.push_back({main, QLatin1String(key), target, QString(), text, QString()});
    };
    const auto withFallback = [&keys](TLanguageTarget target, const QString &section, const char *key,
                                      const char *english, const char *name = nullptr) {
        keys.push_back({section, QLatin1String(key), target, name ? QLatin1String(name) : QLatin1String(key), nullptr,
                        QLatin1String(english)});
    };

    special(app, "Title", TLanguageTarget::ApplicationTitle);

    special(main, "caption", TLanguageTarget::WindowTitle);
    for (const char *action :
         {"ActionFileAdd", "ActionFileBatchAdd", "ActionConvertNow", "ActionFileDelete", "ActionFileClearAll",
          "ActionFileMoveUp", "ActionFileMoveDown", "ActionExit", "ActionSetDirectory"})
        control(main, action);
    keys.push_back({main, QStringLiteral("buttonAdd"), TLanguageTarget::ShortCaption, QStringLiteral("ActionFileAdd"),
                    nullptr, QString()});
    stored("ListViewItem0", &TWindowTexts::msgColumnFile);
    keys.push_back({main, QStringLiteral("ListViewItem1"), TLanguageTarget::Stored, QString(),
                    &TWindowTexts::msgColumnLength, QStringLiteral("Length")});
    keys.push_back({main, QStringLiteral("ListViewItem2"), TLanguageTarget::Stored, QString(),
                    &TWindowTexts::msgColumnState, QStringLiteral("State")});
    control(main, "groupBoxStatus");
    control(main, "groupBoxSettings");
    control(main, "groupBoxSettingsAudio", "GroupBoxSettingsAudio");
    control(main, "groupBoxOutput");
    control(main, "labelCurrentDecrption");
    control(main, "labelCurrentProgress");
    control(main, "labelOutput");
    control(main, "labelAudioBitrate");
    withFallback(TLanguageTarget::BitrateUnit, main, "comboBoxAudioBitrate", "kbit/s");
    control(main, "labelSampleRate");
    control(main, "labelChannel", "groupBoxChannel");
    stored("StringStartCaption", &TWindowTexts::StringStartCaption);
    stored("StringStopCaption", &TWindowTexts::StringStopCaption);
    stored("msgStatusReady", &TWindowTexts::msgStatusReady, TLanguageTarget::StatusReady);
    stored("msgStatusRun", &TWindowTexts::msgStatusRun);
    stored("msgClearAll", &TWindowTexts::msgClearAll);
    stored("msgFolderView", &TWindowTexts::msgFolderView);
    stored("msgFinishInfo", &TWindowTexts::msgFinishInfo);
    stored("msgNoOutputFolder", &TWindowTexts::msgNoOutputFolder);
    stored("msgFailedFiles", &TWindowTexts::msgFailedFiles);
    for (const TRunTextKey &text : RunTextKeys())
        keys.push_back({main, QLatin1String(text.key), TLanguageTarget::Stored, QString(), text.text,
                        QString::fromUtf8(text.english)});
    control(main, "radioButtonChannelMono");
    control(main, "radioButtonChannelStereo");
    control(main, "N_1");
    withFallback(TLanguageTarget::Control, main, "N_Language", "&Language");
    control(main, "N_Skin");
    for (int i = 1; i <= 18; ++i) {
        const QByteArray name = "N_Skin" + QByteArray::number(i);
        control(main, name.constData());
    }
    for (const char *item :
         {"N_Help", "N_LocalHelp", "N_HomePage", "N_Support", "N_FeedBack", "N_Update", "N_Options", "N_Setting"})
        control(main, item);
    control(main, "N_Tools");
    control(main, "N_OtherProducts");
    for (int i = 1; i <= 10; ++i) {
        const QByteArray name = "N_Product" + QByteArray::number(i);
        special(main, name.constData(), TLanguageTarget::ProductItem);
    }

    // The other formats and the audio track of a queued file.
    const char *const formatItems[] = {"WAV / MP3", "FLAC",       "M4A (AAC)",
                                       "Opus",      "Ogg Vorbis", "Original audio (no re-encoding)"};
    for (int i = 0; i < int(std::size(formatItems)); ++i) {
        const QByteArray name = "comboBoxFormatOther" + QByteArray::number(i);
        withFallback(TLanguageTarget::FormatItem, main, name.constData(), formatItems[i]);
    }
    withFallback(TLanguageTarget::Control, main, "popMenuAudioTrack", "Audio track");
    withFallback(TLanguageTarget::Control, main, "popMenuAudioTrackAutomatic", "Automatic");
    keys.push_back({main, QStringLiteral("msgNoAudioTracks"), TLanguageTarget::Stored, QString(),
                    &TWindowTexts::msgNoAudioTracks, QStringLiteral("No audio tracks found")});
    const TTrackWords english;
    for (const auto &[key, word] : {std::pair{"msgTrackMono", english.Mono},
                                    {"msgTrackStereo", english.Stereo},
                                    {"msgTrack51", english.Surround51},
                                    {"msgTrack71", english.Surround71},
                                    {"msgTrackChannels", english.Channels},
                                    {"msgTrackKHz", english.KiloHertz}})
        keys.push_back({main, QLatin1String(key), TLanguageTarget::TrackWord, QString(), nullptr, word});
    for (const char *key : {"msgCannotOpenPage", "msgCannotOpenMail", "msgCannotOpenFile"})
        special(main, key, TLanguageTarget::CannotOpen);
    keys.push_back({main, QStringLiteral("msgSettingsInMemory"), TLanguageTarget::Stored, QString(),
                    &TWindowTexts::msgSettingsInMemory,
                    QStringLiteral("Settings cannot be saved to %s: the file is read-only. Changes apply until "
                                   "Tolvane is closed; make the file writable to keep them.")});
    for (const TRunTextKey &text : QueueTextKeys())
        keys.push_back({main, QLatin1String(text.key), TLanguageTarget::Stored, QString(), text.text,
                        QString::fromUtf8(text.english)});

    const QString openDialog = QStringLiteral("OpenDialog");
    keys.push_back({openDialog, QStringLiteral("caption"), TLanguageTarget::Stored, QString(),
                    &TWindowTexts::OpenDialogCaption, QLatin1String(OpenDialogEnglishTitle)});
    for (const TOpenDialogFilterName &filter : OpenDialogFilterNames())
        withFallback(TLanguageTarget::OpenDialogFilter, openDialog, filter.key, filter.english);

    const QString directory = QStringLiteral("frmDirectory");
    special(directory, "caption", TLanguageTarget::WindowTitle);
    control(directory, "labelDiretroy", "LabelDirectory");
    control(directory, "buttonOK", "ButtonOK");
    control(directory, "buttonCancel", "ButtonCancel");

    const QString batch = QStringLiteral("frmBatchAdd");
    special(batch, "caption", TLanguageTarget::WindowTitle);
    for (const char *name : {"labelDirectory", "checkBoxIsSubDirectorie", "labelFileNameExt", "labelNoticeFileNameExt",
                             "buttonOK", "buttonCancel"})
        control(batch, name);

    const QString progress = QStringLiteral("frmSearchProgress");
    special(progress, "caption", TLanguageTarget::WindowTitle);
    for (const char *name : {"labelSearching", "labelFound", "buttonCancel"})
        control(progress, name);

    const QString places = QStringLiteral("Places");
    for (const char *name : {"Home", "Desktop", "Music", "Videos", "FileSystem"})
        special(places, name, TLanguageTarget::PlaceCaption);

    const QString overwrite = QStringLiteral("frmOverWrite");
    special(overwrite, "caption", TLanguageTarget::WindowTitle);
    for (const char *name : {"labelDes", "buttonOverWrite", "buttonIgnore", "buttonAutoName", "checkBoxNotice"})
        control(overwrite, name);

    const QString powerOff = QStringLiteral("frmPowerOffWindows");
    special(powerOff, "caption", TLanguageTarget::WindowTitle);
    control(powerOff, "labelNotice");
    special(powerOff, "buttonYes", TLanguageTarget::YesCaption);
    control(powerOff, "buttonNo");

    const QString setting = QStringLiteral("frmSetting");
    special(setting, "caption", TLanguageTarget::WindowTitle);
    control(setting, "checkBoxAutoPowerOff");
    control(setting, "labelWaitTime");
    withFallback(TLanguageTarget::Control, setting, "LabelSecond", "seconds");
    control(setting, "labelParallelFiles");
    withFallback(TLanguageTarget::Control, setting, "labelPreferredLanguage", "Preferred audio language:");
    withFallback(TLanguageTarget::Control, setting, "labelLoudness", "Loudness:");
    const char *const loudnessItems[] = {"Off", "-23 LUFS (broadcast)", "-16 LUFS (podcasts)", "-14 LUFS (streaming)",
                                         "ReplayGain tags only"};
    for (int i = 0; i < int(std::size(loudnessItems)); ++i) {
        const QByteArray name = "comboLoudness" + QByteArray::number(i);
        withFallback(TLanguageTarget::LoudnessItem, setting, name.constData(), loudnessItems[i]);
    }
    withFallback(TLanguageTarget::Control, setting, "checkBoxSplitChapters", "One file per chapter");
    withFallback(TLanguageTarget::Control, setting, "checkBoxKeepFolders",
                 "Keep the folder structure of added folders");
    control(setting, "ButtonOK");
    control(setting, "ButtonCancel");
    return keys;
}
