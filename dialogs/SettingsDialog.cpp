#include "dialogs/SettingsDialog.h"
#include "ui_SettingsDialog.h"

#include "common/IniFile.h"
#include "common/Settings.h"
#include "common/TolvaneError.h"
#include "gui/CommonServices.h"
#include "gui/DialogPlacement.h"

#include <QCompleter>
#include <QLocale>
#include <QShowEvent>
#include <QStandardItemModel>

TfrmSetting *frmSetting = nullptr;

namespace {
constexpr int ClientWidth = 307;
constexpr int ClientHeight = 280;
}

int WaitTimeFromText(const QString &text)
{
    int seconds = 0;
    if (!ParseIniInteger(text, &seconds))
        throw TolvaneError(ErrorText::NotAnInteger(text));
    return seconds;
}

namespace {
// The language names the field offers as the user types; codes are typed as they are.
QStringList LanguageNames()
{
    QStringList names;
    for (int value = QLocale::C + 1; value <= QLocale::LastLanguage; ++value)
        names << QLocale::languageToString(QLocale::Language(value));
    names.removeDuplicates();
    names.sort(Qt::CaseInsensitive);
    return names;
}
}

TfrmSetting::TfrmSetting(QWidget *parent) : QDialog(parent), ui(new Ui::TfrmSetting)
{
    ui->setupUi(this);
    FixClientSize(this, ClientWidth, ClientHeight);
    setModal(false);
    ui->spinParallelFiles->setRange(1, TSettings::MostParallelFiles());
    auto *completer = new QCompleter(LanguageNames(), ui->editPreferredLanguage);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    ui->editPreferredLanguage->setCompleter(completer);

    connect(ui->checkBoxAutoPowerOff, &QCheckBox::clicked, this, &TfrmSetting::checkBoxAutoPowerOffClick);
    connect(ui->ButtonOK, &QPushButton::clicked, this, &TfrmSetting::ButtonOKClick);
    connect(ui->ButtonCancel, &QPushButton::clicked, this, &TfrmSetting::ButtonCancelClick);
}

TfrmSetting::~TfrmSetting() { delete ui; }

void TfrmSetting::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Only a show by the program counts; a window manager restoring the
    // window must not throw away what the user has typed.
    if (!event->spontaneous()) {
        CentreOnOwner(this);
        FormShow();
    }
}

void TfrmSetting::FormShow()
{
    const bool on = frmCommon->IsAutoPowerOff();
    ui->checkBoxAutoPowerOff->setChecked(on);
    ui->editWaitTime->setText(QString::number(frmCommon->AutoPowerOffWaitTime()));
    ui->editWaitTime->setEnabled(on);
    const TSettings &settings = frmCommon->Settings();
    ui->spinParallelFiles->setValue(settings.ParallelFiles());
    ui->editPreferredLanguage->setText(settings.PreferredAudioLanguage());
    ui->comboLoudness->setCurrentIndex(int(TSettings::LoudnessChoices().indexOf(settings.Loudness())));
    ui->checkBoxSplitChapters->setChecked(settings.SplitChapters());
    ui->checkBoxKeepFolders->setChecked(settings.KeepFolders());
}

void TfrmSetting::SetLoudnessLevelsApply(bool apply, const QString &why)
{
    auto *items = qobject_cast<QStandardItemModel *>(ui->comboLoudness->model());
    if (!items)
        return;
    const QStringList &choices = TSettings::LoudnessChoices();
    for (int position = 0; position < choices.size(); ++position) {
        const QString &choice = choices[position];
        // Off and ReplayGain tags apply to a copy too.
        const bool level = choice != QLatin1String("off") && choice != QLatin1String("replaygain");
        if (QStandardItem *item = items->item(position))
            item->setEnabled(apply || !level);
    }
    ui->comboLoudness->setToolTip(apply ? QString() : why);
}

void TfrmSetting::checkBoxAutoPowerOffClick() { ui->editWaitTime->setEnabled(ui->checkBoxAutoPowerOff->isChecked()); }

void TfrmSetting::ButtonOKClick()
{
    const bool on = ui->checkBoxAutoPowerOff->isChecked();
    // The field is checked even when power-off is being switched off, so a
    // bad wait time never reaches config.ini; the error leaves the dialog open.
    const int waitSeconds = WaitTimeFromText(ui->editWaitTime->text());
    TSettings &settings = frmCommon->Settings();
    settings.SetAutoPowerOff(on, waitSeconds);
    settings.SetParallelFiles(ui->spinParallelFiles->value());
    settings.SetPreferredAudioLanguage(ui->editPreferredLanguage->text());
    settings.SetLoudness(TSettings::LoudnessChoices().value(ui->comboLoudness->currentIndex(), "off"));
    settings.SetSplitChapters(ui->checkBoxSplitChapters->isChecked());
    settings.SetKeepFolders(ui->checkBoxKeepFolders->isChecked());
    hide();
}

// Escape and the title bar's close button come the same way through QDialog::reject().
void TfrmSetting::ButtonCancelClick() { hide(); }
