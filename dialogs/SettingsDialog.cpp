#include "dialogs/SettingsDialog.h"
#include "ui_SettingsDialog.h"

#include "common/IniFile.h"
#include "common/TolvaneError.h"
#include "gui/CommonServices.h"
#include "gui/DialogPlacement.h"

#include <QCompleter>
#include <QLocale>
#include <QShowEvent>
#include <QThread>

#include <algorithm>

TfrmSetting *frmSetting = nullptr;

namespace {
constexpr int ClientWidth = 307;
constexpr int ClientHeight = 216;
constexpr int ParallelFilesCap = 16;
constexpr int DefaultParallelFilesCap = 4;
}

int WaitTimeFromText(const QString &text)
{
    int seconds = 0;
    if (!ParseIniInteger(text, &seconds))
        throw TolvaneError(ErrorText::NotAnInteger(text));
    return seconds;
}

void SaveAutoPowerOffSettings(const QString &configFile, bool autoPowerOff, int waitSeconds)
{
    const TIniFile ini(configFile);
    ini.WriteInteger(QStringLiteral("setting"), QStringLiteral("autoPowerOff"), autoPowerOff ? 1 : 0);
    ini.WriteInteger(QStringLiteral("setting"), QStringLiteral("autoPowerOff_WaitTime"), waitSeconds);
}

int MostParallelFiles() { return std::clamp(QThread::idealThreadCount(), 1, ParallelFilesCap); }

int ReadParallelFiles(const QString &configFile)
{
    const int fallback = std::min(MostParallelFiles(), DefaultParallelFilesCap);
    const int files =
        TIniFile(configFile).ReadInteger(QStringLiteral("setting"), QStringLiteral("parallelFiles"), fallback);
    return files >= 1 && files <= MostParallelFiles() ? files : fallback;
}

void SaveParallelFiles(const QString &configFile, int files)
{
    TIniFile(configFile).WriteInteger(QStringLiteral("setting"), QStringLiteral("parallelFiles"), files);
}

QString ReadPreferredAudioLanguage(const QString &configFile)
{
    return TIniFile(configFile)
        .ReadString(QStringLiteral("setting"), QStringLiteral("preferredAudioLanguage"), QString())
        .trimmed();
}

void SavePreferredAudioLanguage(const QString &configFile, const QString &language)
{
    TIniFile(configFile)
        .WriteString(QStringLiteral("setting"), QStringLiteral("preferredAudioLanguage"), language.trimmed());
}

const QStringList &LoudnessChoices()
{
    static const QStringList choices{"off", "-23", "-16", "-14", "replaygain"};
    return choices;
}

QString ReadLoudness(const QString &configFile)
{
    const QString value =
        TIniFile(configFile).ReadString(QStringLiteral("setting"), QStringLiteral("loudness"), QString()).trimmed();
    return LoudnessChoices().contains(value, Qt::CaseInsensitive) ? value.toLower() : LoudnessChoices().first();
}

void SaveLoudness(const QString &configFile, const QString &loudness)
{
    TIniFile(configFile).WriteString(QStringLiteral("setting"), QStringLiteral("loudness"), loudness);
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
    frmSetting = this;
    ui->setupUi(this);
    FixClientSize(this, ClientWidth, ClientHeight);
    setModal(false);
    ui->spinParallelFiles->setRange(1, MostParallelFiles());
    auto *completer = new QCompleter(LanguageNames(), ui->editPreferredLanguage);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    ui->editPreferredLanguage->setCompleter(completer);

    connect(ui->checkBoxAutoPowerOff, &QCheckBox::clicked, this, &TfrmSetting::checkBoxAutoPowerOffClick);
    connect(ui->ButtonOK, &QPushButton::clicked, this, &TfrmSetting::ButtonOKClick);
    connect(ui->ButtonCancel, &QPushButton::clicked, this, &TfrmSetting::ButtonCancelClick);
}

TfrmSetting::~TfrmSetting()
{
    if (frmSetting == this)
        frmSetting = nullptr;
    delete ui;
}

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
    ui->spinParallelFiles->setValue(ReadParallelFiles(frmCommon->ConfigFile));
    ui->editPreferredLanguage->setText(ReadPreferredAudioLanguage(frmCommon->ConfigFile));
    ui->comboLoudness->setCurrentIndex(int(LoudnessChoices().indexOf(ReadLoudness(frmCommon->ConfigFile))));
}

void TfrmSetting::checkBoxAutoPowerOffClick() { ui->editWaitTime->setEnabled(ui->checkBoxAutoPowerOff->isChecked()); }

void TfrmSetting::ButtonOKClick()
{
    const bool on = ui->checkBoxAutoPowerOff->isChecked();
    // The field is checked even when power-off is being switched off, so a
    // bad wait time never reaches config.ini; the error leaves the dialog open.
    const int waitSeconds = WaitTimeFromText(ui->editWaitTime->text());
    SaveAutoPowerOffSettings(frmCommon->ConfigFile, on, waitSeconds);
    SaveParallelFiles(frmCommon->ConfigFile, ui->spinParallelFiles->value());
    SavePreferredAudioLanguage(frmCommon->ConfigFile, ui->editPreferredLanguage->text());
    SaveLoudness(frmCommon->ConfigFile, LoudnessChoices().value(ui->comboLoudness->currentIndex(), "off"));
    hide();
}

// Escape and the title bar's close button come the same way through QDialog::reject().
void TfrmSetting::ButtonCancelClick() { hide(); }
