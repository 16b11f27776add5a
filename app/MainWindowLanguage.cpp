#include "app/MainWindow.h"
#include "ui_MainWindow.h"

#include "app/FileQueueModel.h"
#include "common/ErrorReport.h"
#include "common/LanguageFile.h"
#include "conversion/AudioTracks.h"
#include "conversion/EncoderOutput.h"
#include "conversion/FileQueueRules.h"
#include "dialogs/BatchAddDialog.h"
#include "dialogs/DirectoryChooser.h"
#include "dialogs/FileExistsDialog.h"
#include "dialogs/FolderPlaces.h"
#include "dialogs/PowerOffCountdown.h"
#include "dialogs/SearchProgress.h"
#include "dialogs/SettingsDialog.h"
#include "gui/CommonServices.h"

#include <QAbstractButton>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenu>
#include <QPointer>
#include <QTableView>
#include <QTranslator>

#include <iterator>
#include <utility>
#include <vector>

namespace {

// Where a language text goes.
enum class TTarget {
    Control,          // the caption of the control named like the key (or `control`)
    WindowTitle,      // the window's title
    ApplicationTitle, // message box captions and the name the desktop shows
    Stored,           // a text the main window keeps for later
    StatusReady,      // stored, and shown in the status label at once
    YesCaption,       // the countdown's Yes button and its base text
    ProductItem,      // a product link of the Tools menu: hidden while its caption is empty
    PlaceCaption,     // the caption of a place at the top of the folder trees
    BitrateUnit,      // the unit after each bit rate in its drop-down list
    OpenDialogFilter, // the next filter description of the open-file dialog
    ShortCaption,     // a button's own caption; a missing key gives its action's
    FormatItem,       // the item of the other-formats drop-down numbered at the key's end
    CannotOpen,       // what says a link or folder could not be opened
    TrackWord,        // a word of the audio-track menu's lines
    LoudnessItem,     // the item of the settings' loudness drop-down numbered at the key's end
};

struct TLanguageKey
{
    QString section;
    QString key;
    TTarget target = TTarget::Control;
    QString control;                     // object name when it differs from the key; an action for ShortCaption
    QString TfrmMain::*stored = nullptr; // Stored and StatusReady only
    // What a missing key gives. Texts the first language files did not carry
    // fall back to English, so that no caption of theirs is ever empty.
    QString fallback;
};

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
    const auto stored = [&keys, &main](const char *key, QString TfrmMain::*text, TTarget target = TTarget::Stored) {
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
    stored("ListViewItem0", &TfrmMain::msgColumnFile);
    keys.push_back({main, QStringLiteral("ListViewItem1"), TTarget::Stored, QString(), &TfrmMain::msgColumnLength,
                    QStringLiteral("Length")});
    keys.push_back({main, QStringLiteral("ListViewItem2"), TTarget::Stored, QString(), &TfrmMain::msgColumnState,
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
    stored("StringStartCaption", &TfrmMain::StringStartCaption);
    stored("StringStopCaption", &TfrmMain::StringStopCaption);
    stored("msgStatusReady", &TfrmMain::msgStatusReady, TTarget::StatusReady);
    stored("msgStatusRun", &TfrmMain::msgStatusRun);
    stored("msgClearAll", &TfrmMain::msgClearAll);
    stored("msgFolderView", &TfrmMain::msgFolderView);
    stored("msgFinishInfo", &TfrmMain::msgFinishInfo);
    stored("msgNoOutputFolder", &TfrmMain::msgNoOutputFolder);
    stored("msgFailedFiles", &TfrmMain::msgFailedFiles);
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
    keys.push_back({main, QStringLiteral("msgNoAudioTracks"), TTarget::Stored, QString(), &TfrmMain::msgNoAudioTracks,
                    QStringLiteral("No audio tracks found")});
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
                    &TfrmMain::msgSettingsInMemory,
                    QStringLiteral("Settings cannot be saved to %s: the file is read-only. Changes apply until "
                                   "Tolvane is closed; make the file writable to keep them.")});
    for (const TRunTextKey &text : QueueTextKeys())
        keys.push_back(
            {main, QLatin1String(text.key), TTarget::Stored, QString(), text.text, QString::fromUtf8(text.english)});

    const QString openDialog = QStringLiteral("OpenDialog");
    keys.push_back({openDialog, QStringLiteral("caption"), TTarget::Stored, QString(), &TfrmMain::OpenDialogCaption,
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

// The window a section belongs to; null when it does not exist (yet).
QWidget *WindowOfSection(const QString &section)
{
    if (section == QLatin1String("frmMain"))
        return frmMain;
    if (section == QLatin1String("frmDirectory"))
        return FrmDirectory;
    if (section == QLatin1String("frmBatchAdd"))
        return FrmBatchAdd;
    if (section == QLatin1String("frmSearchProgress"))
        return frmSearchProgress;
    if (section == QLatin1String("frmOverWrite"))
        return frmOverWrite;
    if (section == QLatin1String("frmPowerOffWindows"))
        return frmPowerOffWindows;
    if (section == QLatin1String("frmSetting"))
        return frmSetting;
    return nullptr;
}

// Where a Places key goes; the trees read the captions when they are shown.
QString &PlaceCaptionOf(const QString &key)
{
    TPlaceCaptions &captions = PlaceCaptions();
    if (key == QLatin1String("Home"))
        return captions.home;
    if (key == QLatin1String("Desktop"))
        return captions.desktop;
    if (key == QLatin1String("Music"))
        return captions.music;
    if (key == QLatin1String("Videos"))
        return captions.videos;
    return captions.fileSystem;
}

// Where a TrackWord key goes.
QString &TrackWordOf(TTrackWords &words, const QString &key)
{
    if (key == QLatin1String("msgTrackMono"))
        return words.Mono;
    if (key == QLatin1String("msgTrackStereo"))
        return words.Stereo;
    if (key == QLatin1String("msgTrack51"))
        return words.Surround51;
    if (key == QLatin1String("msgTrack71"))
        return words.Surround71;
    if (key == QLatin1String("msgTrackChannels"))
        return words.Channels;
    return words.KiloHertz;
}

TOpenTarget OpenTargetOf(const QString &key)
{
    if (key == QLatin1String("msgCannotOpenPage"))
        return TOpenTarget::Page;
    return key == QLatin1String("msgCannotOpenMail") ? TOpenTarget::Mail : TOpenTarget::Local;
}

// The caption of any kind of control, menu or action.
void SetCaption(QObject *target, const QString &text)
{
    if (auto *label = qobject_cast<QLabel *>(target))
        label->setText(text);
    else if (auto *button = qobject_cast<QAbstractButton *>(target))
        button->setText(text);
    else if (auto *group = qobject_cast<QGroupBox *>(target))
        group->setTitle(text);
    else if (auto *menu = qobject_cast<QMenu *>(target))
        menu->setTitle(text);
    else if (auto *action = qobject_cast<QAction *>(target))
        action->setText(text);
}

QObject *FindNamed(QWidget *window, const QString &name)
{
    if (!window)
        return nullptr;
    QObject *found = window->findChild<QObject *>(name);
    if (!found)
        qWarning("LoadLanguage: %s has no control %s", qPrintable(window->objectName()), qPrintable(name));
    return found;
}

// Japanese glyphs come from this family (Debian's fonts-noto-cjk); Chinese
// text finds a CJK font through fontconfig's fallback without help.
const QString JapaneseFontFamily = QStringLiteral("Noto Sans CJK JP");

void UseJapaneseFont(QWidget *widget, bool on)
{
    if (!widget)
        return;
    if (!on) {
        // A font that sets nothing: the widget follows its parent's again.
        widget->setFont(QFont());
        return;
    }
    QFont font = widget->font();
    font.setFamilies({JapaneseFontFamily});
    widget->setFont(font);
}

// Message boxes' standard buttons and the open-file dialog come from Qt; its
// own translations (Debian's qt6-translations-l10n) make them match the
// program's language. Without them they stay English.
void InstallQtTranslation(const QString &languageFile)
{
    static QPointer<QTranslator> installed;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
    }
    const QString name = QtTranslationOf(languageFile);
    if (name.isEmpty() || !QCoreApplication::instance())
        return;
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(name, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
        installed = translator;
    } else {
        delete translator;
    }
}

} // namespace

void TfrmMain::LoadLanguage(const QString &languageFile)
{
    InstallQtTranslation(languageFile);
    const TLanguageFile file(languageFile);
    OpenDialogFilterTexts.clear();
    TTrackWords trackWords;
    trackWords.Locale = GettextLocaleOf(languageFile);
    for (const TLanguageKey &entry : LanguageKeys()) {
        // Every key is applied, even when it is missing: the form's text never survives.
        const QString text = file.ReadString(entry.section, entry.key, entry.fallback);
        QWidget *window = WindowOfSection(entry.section);
        switch (entry.target) {
        case TTarget::Control:
            if (QObject *control = FindNamed(window, entry.control))
                SetCaption(control, text);
            break;
        case TTarget::WindowTitle:
            if (window)
                window->setWindowTitle(text);
            break;
        case TTarget::ApplicationTitle:
            SetApplicationTitle(text);
            // The name the desktop shows for the program: Qt adds it to the
            // dialogs' titles, where the taskbar used to show it.
            QGuiApplication::setApplicationDisplayName(text);
            break;
        case TTarget::Stored:
            this->*entry.stored = text;
            break;
        case TTarget::StatusReady:
            this->*entry.stored = text;
            ui->labelCurrentInfo->setText(text);
            ui->labelCurrentInfo->setToolTip(text);
            break;
        case TTarget::YesCaption:
            if (frmPowerOffWindows) {
                frmPowerOffWindows->yesCaption = text;
                if (QObject *button = FindNamed(frmPowerOffWindows, entry.key))
                    SetCaption(button, text);
            }
            break;
        case TTarget::PlaceCaption:
            PlaceCaptionOf(entry.key) = text;
            break;
        case TTarget::ProductItem:
            // A language lists as many products as it has; the rest stay out
            // of the menu, where a hidden entry would still reach screen readers.
            if (auto *item = qobject_cast<QAction *>(FindNamed(window, entry.key))) {
                item->setText(text);
                item->setVisible(!text.isEmpty());
                ui->N_OtherProducts->removeAction(item);
                if (!text.isEmpty())
                    ui->N_OtherProducts->addAction(item);
            }
            break;
        case TTarget::BitrateUnit:
            for (int i = 0; i < ui->comboBoxAudioBitrate->count(); ++i)
                ui->comboBoxAudioBitrate->setItemText(i, QString::number(BitrateOfIndex(i)) + QLatin1Char(' ') + text);
            break;
        case TTarget::ShortCaption:
            if (auto *action = qobject_cast<QAction *>(FindNamed(window, entry.control)))
                if (QObject *button = FindNamed(window, entry.key))
                    SetCaption(button, file.ReadString(entry.section, entry.key, action->text()));
            break;
        case TTarget::OpenDialogFilter:
            OpenDialogFilterTexts += text;
            break;
        case TTarget::FormatItem:
            ui->comboBoxFormatOther->setItemText(entry.key.right(1).toInt(), text);
            break;
        case TTarget::CannotOpen:
            SetCannotOpenText(OpenTargetOf(entry.key), text);
            break;
        case TTarget::TrackWord:
            TrackWordOf(trackWords, entry.key) = text;
            break;
        case TTarget::LoudnessItem:
            if (auto *loudness = qobject_cast<QComboBox *>(FindNamed(window, QStringLiteral("comboLoudness"))))
                loudness->setItemText(entry.key.right(1).toInt(), text);
            break;
        }
    }
    SetTrackWords(trackWords);
    // Checked here, once: the user is not told (a translator's slip is no
    // fault of theirs), the status line simply stays English.
    const QString statusRun = UsableStatusRunText(msgStatusRun, QString::fromUtf8(DefaultStatusRunText));
    if (statusRun != msgStatusRun)
        qWarning("LoadLanguage: msgStatusRun cannot be formatted; the English text is used");
    msgStatusRun = statusRun;
    for (const TRunTextKey &key : RunTextKeys()) {
        const QString english = QString::fromUtf8(key.english);
        QString &text = this->*key.text;
        const QString usable = UsableFormatText(text, english, int(english.count(QLatin1String("%s"))));
        if (usable != text)
            qWarning("LoadLanguage: %s cannot be formatted; the English text is used", key.key);
        text = usable;
    }
    // A chosen track's tool tip is worded with the menu's title.
    ApplyQueueTexts();
    if (QueueModel)
        QueueModel->SetCheckingText(msgStateChecking);
    if (ShowInFolderItem)
        ShowInFolderItem->setText(msgShowInFolder);
    ShowRunWideSettings();
    // A run under way says Stop in the new language too.
    if (ConversionRun && ConversionRun->IsActive())
        ui->ActionConvertNow->setText(StringStopCaption);
}

void TfrmMain::ApplyJapaneseCharset(bool on)
{
    if (on == m_japaneseCharset)
        return;
    m_japaneseCharset = on;
    const QList<QWidget *> mainControls{ui->groupBoxButtons,
                                        ui->groupBoxStatus,
                                        ui->groupBoxSettings,
                                        ui->GroupBoxSettingsAudio,
                                        ui->groupBoxOutput,
                                        ui->groupBoxChannel,
                                        ui->labelCurrentDecrption,
                                        ui->labelCurrentProgress,
                                        ui->labelCurrentInfo,
                                        ui->labelAudioBitrate,
                                        ui->labelSampleRate,
                                        ui->radioButtonChannelMono,
                                        ui->radioButtonChannelStereo,
                                        ui->labelOutput,
                                        ui->buttonAdd,
                                        ui->buttonDelete,
                                        ui->buttonClearAll,
                                        ui->buttonMoveUp,
                                        ui->buttonMoveDown,
                                        ui->buttonConvert,
                                        ui->comboBoxFormatOther,
                                        ui->listViewFiles};
    for (QWidget *control : mainControls)
        UseJapaneseFont(control, on); // children without a font of their own follow

    // In the dialogs only the captioned controls change; edit fields and folder trees keep theirs.
    const std::vector<std::pair<QWidget *, QStringList>> dialogControls{
        {FrmBatchAdd,
         {"labelDirectory", "labelFileNameExt", "labelNoticeFileNameExt", "buttonCancel", "buttonOK",
          "checkBoxIsSubDirectorie"}},
        {FrmDirectory, {"LabelDirectory", "ButtonCancel", "ButtonOK"}},
        {frmSearchProgress, {"labelSearching", "labelFound", "labelFoundCount", "buttonCancel"}},
        {frmOverWrite, {"labelDes", "buttonOverWrite", "buttonIgnore", "buttonAutoName", "checkBoxNotice"}},
        {frmSetting,
         {"labelWaitTime", "LabelSecond", "labelParallelFiles", "labelPreferredLanguage", "labelLoudness",
          "comboLoudness", "checkBoxAutoPowerOff", "checkBoxSplitChapters", "checkBoxKeepFolders", "ButtonOK",
          "ButtonCancel"}},
        {frmPowerOffWindows, {"labelNotice", "buttonYes", "buttonNo"}},
    };
    for (const auto &[dialog, names] : dialogControls)
        if (dialog)
            for (const QString &name : names)
                UseJapaneseFont(dialog->findChild<QWidget *>(name), on);

    // Out of the menu bar too: a hidden entry still reaches screen readers.
    ui->N_Tools->menuAction()->setVisible(!on);
    if (on)
        ui->MainMenu->removeAction(ui->N_Tools->menuAction());
    else
        ui->MainMenu->insertAction(ui->N_Help->menuAction(), ui->N_Tools->menuAction());
}

namespace {
// Each language by its own name, as a user who cannot read the current one looks for it.
struct TLanguageItem
{
    int code;
    const char *name;
    const char *objectName;
};
const TLanguageItem LanguageItems[] = {
    {1, "\u4E2D\u6587\uFF08\u7B80\u4F53\uFF09", "N_Language1"},
    {2, "English", "N_Language2"},
    {3, "\u65E5\u672C\u8A9E", "N_Language3"},
};
}

void TfrmMain::SetupLanguageMenu()
{
    QMenu *menu = ui->N_Options->addMenu(QStringLiteral("&Language"));
    menu->setObjectName(QStringLiteral("N_Language"));
    LanguageGroup = new QActionGroup(menu);
    const int current = frmCommon ? frmCommon->LanguageCode : 2;
    for (const TLanguageItem &language : LanguageItems) {
        QAction *item = menu->addAction(QString::fromUtf8(language.name));
        item->setObjectName(QLatin1String(language.objectName));
        item->setCheckable(true);
        item->setChecked(language.code == current || (language.code == 2 && (current < 1 || current > 3)));
        LanguageGroup->addAction(item);
        connect(item, &QAction::triggered, this, [this, code = language.code] { LanguageChosen(code); });
    }
}

// Every text of every window comes from the language file, so the new one
// applies at once; the open-file dialog is made afresh with its filters.
void TfrmMain::LanguageChosen(int code)
{
    if (code == frmCommon->LanguageCode)
        return;
    frmCommon->SetLanguage(code);
    ApplyJapaneseCharset(code == 3);
    LoadLanguage(frmCommon->LanguageFile);
    delete std::exchange(OpenDialog, nullptr);
}
