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
        keys.push_back({section, QLatin1String(key), TTarget::Control, name ? QLatin1String(name) : QLatin1String(key),
                        nullptr, QString()});
    };
    const auto special = [&keys](const QString &section, const char *key, TTarget target) {
        keys.push_back({section, QLatin1String(key), target, QString(), nullptr, QString()});
    };
    const auto stored = [&keys, &main](const char *key, QString TWindowTexts::*text, TTarget target = TTarget::Stored) {
        keys.push_back({main, QLatin1String(key), target, QString(), text, QString()});
    };
    const auto withFallback = [&keys](TTarget target, const QString &section, const char *key, const char *english,
                                      const char *name = nullptr) {
        keys.push_back({section, QLatin1String(key), target, name ? QLatin1String(name) : QLatin1String(key), nullptr,
                        QLatin1String(english)});
    };

    special(app, "Title", TTarget::ApplicationTitle);

    special(main, "caption", TTarget::WindowTitle);
    for (const char *action :
         {"ActionFileAdd", "ActionFileBatchAdd", "ActionConvertNow", "ActionFileDelete", "ActionFileClearAll",
          "ActionFileMoveUp", "ActionFileMoveDown", "ActionExit", "ActionSetDirectory"})
        control(main, action);
    keys.push_back({main, QStringLiteral("buttonAdd"), TTarget::ShortCaption, QStringLiteral("ActionFileAdd"), nullptr,
                    QString()});
    stored("ListViewItem0", &TWindowTexts::msgColumnFile);
    keys.push_back({main, QStringLiteral("ListViewItem1"), TTarget::Stored, QString(), &TWindowTexts::msgColumnLength,
                    QStringLiteral("Length")});
    keys.push_back({main, QStringLiteral("ListViewItem2"), TTarget::Stored, QString(), &TWindowTexts::msgColumnState,
                    QStringLiteral("State")});
    control(main, "groupBoxStatus");
    control(main, "groupBoxSettings");
    control(main, "groupBoxSettingsAudio", "GroupBoxSettingsAudio");
    control(main, "groupBoxOutput");
    control(main, "labelCurrentDecrption");
    control(main, "labelCurrentProgress");
    control(main, "labelOutput");
    control(main, "labelAudioBitrate");
    withFallback(TTarget::BitrateUnit, main, "comboBoxAudioBitrate", "kbit/s");
    control(main, "labelSampleRate");
    control(main, "labelChannel", "groupBoxChannel");
    stored("StringStartCaption", &TWindowTexts::StringStartCaption);
    stored("StringStopCaption", &TWindowTexts::StringStopCaption);
    stored("msgStatusReady", &TWindowTexts::msgStatusReady, TTarget::StatusReady);
    stored("msgStatusRun", &TWindowTexts::msgStatusRun);
    stored("msgClearAll", &TWindowTexts::msgClearAll);
    stored("msgFolderView", &TWindowTexts::msgFolderView);
    stored("msgFinishInfo", &TWindowTexts::msgFinishInfo);
    stored("msgNoOutputFolder", &TWindowTexts::msgNoOutputFolder);
    stored("msgFailedFiles", &TWindowTexts::msgFailedFiles);
    for (const TRunTextKey &text : RunTextKeys())
        keys.push_back(
            {main, QLatin1String(text.key), TTarget::Stored, QString(), text.text, QString::fromUtf8(text.english)});
    control(main, "radioButtonChannelMono");
    control(main, "radioButtonChannelStereo");
    control(main, "N_1");
    withFallback(TTarget::Control, main, "N_Language", "&Language");
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
        special(main, name.constData(), TTarget::ProductItem);
    }

    // The other formats and the audio track of a queued file.
    const char *const formatItems[] = {"WAV / MP3", "FLAC",       "M4A (AAC)",
                                       "Opus",      "Ogg Vorbis", "Original audio (no re-encoding)"};
    for (int i = 0; i < int(std::size(formatItems)); ++i) {
        const QByteArray name = "comboBoxFormatOther" + QByteArray::number(i);
        withFallback(TTarget::FormatItem, main, name.constData(), formatItems[i]);
    }
    withFallback(TTarget::Control, main, "popMenuAudioTrack", "Audio track");
    withFallback(TTarget::Control, main, "popMenuAudioTrackAutomatic", "Automatic");
    keys.push_back({main, QStringLiteral("msgNoAudioTracks"), TTarget::Stored, QString(),
                    &TWindowTexts::msgNoAudioTracks, QStringLiteral("No audio tracks found")});
    const TTrackWords english;
    for (const auto &[key, word] : {std::pair{"msgTrackMono", english.Mono},
                                    {"msgTrackStereo", english.Stereo},
                                    {"msgTrack51", english.Surround51},
                                    {"msgTrack71", english.Surround71},
                                    {"msgTrackChannels", english.Channels},
                                    {"msgTrackKHz", english.KiloHertz}})
        keys.push_back({main, QLatin1String(key), TTarget::TrackWord, QString(), nullptr, word});
    for (const char *key : {"msgCannotOpenPage", "msgCannotOpenMail", "msgCannotOpenFile"})
        special(main, key, TTarget::CannotOpen);
    keys.push_back({main, QStringLiteral("msgSettingsInMemory"), TTarget::Stored, QString(),
                    &TWindowTexts::msgSettingsInMemory,
                    QStringLiteral("Settings cannot be saved to %s: the file is read-only. Changes apply until "
                                   "Tolvane is closed; make the file writable to keep them.")});
    for (const TRunTextKey &text : QueueTextKeys())
        keys.push_back(
            {main, QLatin1String(text.key), TTarget::Stored, QString(), text.text, QString::fromUtf8(text.english)});

    const QString openDialog = QStringLiteral("OpenDialog");
    keys.push_back({openDialog, QStringLiteral("caption"), TTarget::Stored, QString(), &TWindowTexts::OpenDialogCaption,
                    QLatin1String(OpenDialogEnglishTitle)});
    for (const TOpenDialogFilterName &filter : OpenDialogFilterNames())
        withFallback(TTarget::OpenDialogFilter, openDialog, filter.key, filter.english);

    const QString directory = QStringLiteral("frmDirectory");
    special(directory, "caption", TTarget::WindowTitle);
    control(directory, "labelDiretroy", "LabelDirectory");
    control(directory, "buttonOK", "ButtonOK");
    control(directory, "buttonCancel", "ButtonCancel");

    const QString batch = QStringLiteral("frmBatchAdd");
    special(batch, "caption", TTarget::WindowTitle);
    for (const char *name : {"labelDirectory", "checkBoxIsSubDirectorie", "labelFileNameExt", "labelNoticeFileNameExt",
                             "buttonOK", "buttonCancel"})
        control(batch, name);

    const QString progress = QStringLiteral("frmSearchProgress");
    special(progress, "caption", TTarget::WindowTitle);
    for (const char *name : {"labelSearching", "labelFound", "buttonCancel"})
        control(progress, name);

    const QString places = QStringLiteral("Places");
    for (const char *name : {"Home", "Desktop", "Music", "Videos", "FileSystem"})
        special(places, name, TTarget::PlaceCaption);

    const QString overwrite = QStringLiteral("frmOverWrite");
    special(overwrite, "caption", TTarget::WindowTitle);
    for (const char *name : {"labelDes", "buttonOverWrite", "buttonIgnore", "buttonAutoName", "checkBoxNotice"})
        control(overwrite, name);

    const QString powerOff = QStringLiteral("frmPowerOffWindows");
    special(powerOff, "caption", TTarget::WindowTitle);
    control(powerOff, "labelNotice");
    special(powerOff, "buttonYes", TTarget::YesCaption);
    control(powerOff, "buttonNo");

    const QString setting = QStringLiteral("frmSetting");
    special(setting, "caption", TTarget::WindowTitle);
    control(setting, "checkBoxAutoPowerOff");
    control(setting, "labelWaitTime");
    withFallback(TTarget::Control, setting, "LabelSecond", "seconds");
    control(setting, "labelParallelFiles");
    withFallback(TTarget::Control, setting, "labelPreferredLanguage", "Preferred audio language:");
    withFallback(TTarget::Control, setting, "labelLoudness", "Loudness:");
    const char *const loudnessItems[] = {"Off", "-23 LUFS (broadcast)", "-16 LUFS (podcasts)", "-14 LUFS (streaming)",
                                         "ReplayGain tags only"};
    for (int i = 0; i < int(std::size(loudnessItems)); ++i) {
        const QByteArray name = "comboLoudness" + QByteArray::number(i);
        withFallback(TTarget::LoudnessItem, setting, name.constData(), loudnessItems[i]);
    }
    withFallback(TTarget::Control, setting, "checkBoxSplitChapters", "One file per chapter");
    withFallback(TTarget::Control, setting, "checkBoxKeepFolders", "Keep the folder structure of added folders");
    control(setting, "ButtonOK");
    control(setting, "ButtonCancel");
    return keys;
}
