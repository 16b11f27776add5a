#include "app/MainWindow.h"
#include "ui_MainWindow.h"

#include "app/FileAdder.h"
#include "app/FileQueueView.h"
#include "app/LanguageKeys.h"
#include "app/OutputOptionsView.h"
#include "app/RunView.h"
#include "common/ErrorReport.h"
#include "common/LanguageFile.h"
#include "conversion/AudioTracks.h"
#include "conversion/EncoderCommand.h"
#include "conversion/EncoderOutput.h"
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
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenu>
#include <QPointer>
#include <QTableView>
#include <QTranslator>

#include <utility>
#include <vector>

namespace {

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
    m_texts.OpenDialogFilterTexts.clear();
    TTrackWords trackWords;
    trackWords.Locale = GettextLocaleOf(languageFile);
    for (const TLanguageKey &entry : LanguageKeys()) {
        // Every key is applied, even when it is missing: the form's text never survives.
        const QString text = file.ReadString(entry.section, entry.key, entry.fallback);
        QWidget *window = WindowOfSection(entry.section);
        switch (entry.target) {
        case TLanguageTarget::Control:
            if (QObject *control = FindNamed(window, entry.control))
                SetCaption(control, text);
            break;
        case TLanguageTarget::WindowTitle:
            if (window)
                window->setWindowTitle(text);
            break;
        case TLanguageTarget::ApplicationTitle:
            SetApplicationTitle(text);
            // The name the desktop shows for the program: Qt adds it to the
            // dialogs' titles, where the taskbar used to show it.
            QGuiApplication::setApplicationDisplayName(text);
            break;
        case TLanguageTarget::Stored:
            m_texts.*entry.stored = text;
            break;
        case TLanguageTarget::StatusReady:
            m_texts.*entry.stored = text;
            ui->labelCurrentInfo->setText(text);
            ui->labelCurrentInfo->setToolTip(text);
            break;
        case TLanguageTarget::YesCaption:
            if (frmPowerOffWindows) {
                frmPowerOffWindows->yesCaption = text;
                if (QObject *button = FindNamed(frmPowerOffWindows, entry.key))
                    SetCaption(button, text);
            }
            break;
        case TLanguageTarget::PlaceCaption:
            PlaceCaptionOf(entry.key) = text;
            break;
        case TLanguageTarget::ProductItem:
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
        case TLanguageTarget::BitrateUnit:
            for (int i = 0; i < ui->comboBoxAudioBitrate->count(); ++i)
                ui->comboBoxAudioBitrate->setItemText(i,
                                                      QString::number(::BitrateOfIndex(i)) + QLatin1Char(' ') + text);
            break;
        case TLanguageTarget::ShortCaption:
            if (auto *action = qobject_cast<QAction *>(FindNamed(window, entry.control)))
                if (QObject *button = FindNamed(window, entry.key))
                    SetCaption(button, file.ReadString(entry.section, entry.key, action->text()));
            break;
        case TLanguageTarget::OpenDialogFilter:
            m_texts.OpenDialogFilterTexts += text;
            break;
        case TLanguageTarget::FormatItem:
            ui->comboBoxFormatOther->setItemText(entry.key.right(1).toInt(), text);
            break;
        case TLanguageTarget::CannotOpen:
            SetCannotOpenText(OpenTargetOf(entry.key), text);
            break;
        case TLanguageTarget::TrackWord:
            TrackWordOf(trackWords, entry.key) = text;
            break;
        case TLanguageTarget::LoudnessItem:
            if (auto *loudness = qobject_cast<QComboBox *>(FindNamed(window, QStringLiteral("comboLoudness"))))
                loudness->setItemText(entry.key.right(1).toInt(), text);
            break;
        }
    }
    SetTrackWords(trackWords);
    // Checked here, once: the user is not told (a translator's slip is no
    // fault of theirs), the status line simply stays English.
    QString &statusRun = m_texts.msgStatusRun;
    const QString usableStatusRun = UsableStatusRunText(statusRun, QString::fromUtf8(DefaultStatusRunText));
    if (usableStatusRun != statusRun)
        qWarning("LoadLanguage: msgStatusRun cannot be formatted; the English text is used");
    statusRun = usableStatusRun;
    for (const TRunTextKey &key : RunTextKeys()) {
        const QString english = QString::fromUtf8(key.english);
        QString &text = m_texts.*key.text;
        const QString usable = UsableFormatText(text, english, int(english.count(QLatin1String("%s"))));
        if (usable != text)
            qWarning("LoadLanguage: %s cannot be formatted; the English text is used", key.key);
        text = usable;
    }
    ShowTexts();
}

void TfrmMain::SetTexts(const TWindowTexts &texts)
{
    m_texts = texts;
    ShowTexts();
}

void TfrmMain::ShowTexts()
{
    m_queueView->ShowTexts();
    m_options->ShowRunWideSettings();
    m_runView->ShowTexts();
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
    m_languageGroup = new QActionGroup(menu);
    const int current = frmCommon ? frmCommon->LanguageCode : 2;
    for (const TLanguageItem &language : LanguageItems) {
        QAction *item = menu->addAction(QString::fromUtf8(language.name));
        item->setObjectName(QLatin1String(language.objectName));
        item->setCheckable(true);
        item->setChecked(language.code == current || (language.code == 2 && (current < 1 || current > 3)));
        m_languageGroup->addAction(item);
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
    m_adder->ForgetOpenDialog();
}
