#include "app/MainWindow.h"
#include "ui_MainWindow.h"

#include "app/OutputSettings.h"
#include "dialogs/SettingsDialog.h"
#include "gui/CommonServices.h"

#include <QComboBox>
#include <QRadioButton>

void TfrmMain::N_SettingClick()
{
    // Modeless: a second click only brings the open dialog to the front.
    if (!frmSetting->isVisible())
        frmSetting->show();
    frmSetting->raise();
    frmSetting->activateWindow();
}

void TfrmMain::SetupOutputSettings()
{
    // Restored before the controls report changes, so starting writes nothing.
    const QString config = frmCommon->ConfigFile;
    const TOutputSettings stored =
        ReadOutputSettings(config, ui->comboBoxAudioBitrate->count(), ui->comboBoxSampleRate->count());
    ShowOutputFormat(stored.format);
    ui->comboBoxAudioBitrate->setCurrentIndex(stored.bitratePosition);
    ui->comboBoxSampleRate->setCurrentIndex(stored.sampleRatePosition);
    (stored.channels == 1 ? ui->radioButtonChannelMono : ui->radioButtonChannelStereo)->setChecked(true);

    // The formats after WAV and MP3 are picked in the combo box, which
    // then checks a hidden third radio button: the group stays one exclusive
    // choice. Its first item ("…") stands for "WAV or MP3 above".
    for (QRadioButton *button : {ui->radioButtonFormatWAV, ui->radioButtonFormatMP3, ui->radioButtonFormatOther})
        connect(button, &QRadioButton::toggled, this, [this, button](bool checked) {
            if (!checked)
                return;
            if (button != ui->radioButtonFormatOther)
                ui->comboBoxFormatOther->setCurrentIndex(0);
            OutputFormatChanged();
        });
    connect(ui->comboBoxFormatOther, &QComboBox::activated, this, [this](int position) {
        if (position == 0)
            ui->radioButtonFormatMP3->setChecked(true);
        else if (ui->radioButtonFormatOther->isChecked())
            OutputFormatChanged();
        else
            ui->radioButtonFormatOther->setChecked(true);
    });
    connect(ui->comboBoxAudioBitrate, &QComboBox::currentIndexChanged, this,
            [this](int position) { WriteOutputBitrate(frmCommon->ConfigFile, position); });
    connect(ui->comboBoxSampleRate, &QComboBox::currentIndexChanged, this,
            [this](int position) { WriteOutputSampleRate(frmCommon->ConfigFile, position); });
    connect(ui->radioButtonChannelMono, &QRadioButton::toggled, this,
            [this](bool mono) { WriteOutputChannels(frmCommon->ConfigFile, mono ? 1 : 2); });
}

void TfrmMain::ShowOutputFormat(const QString &format)
{
    // The formats after WAV and MP3 are the combo box's items, in order.
    const int position = int(OutputFormats().indexOf(KnownOutputFormat(format)));
    ui->comboBoxFormatOther->setCurrentIndex(position >= 2 ? position - 1 : 0);
    (position == 0   ? ui->radioButtonFormatWAV
     : position == 1 ? ui->radioButtonFormatMP3
                     : ui->radioButtonFormatOther)
        ->setChecked(true);
    ApplyFormatToControls();
}

void TfrmMain::OutputFormatChanged()
{
    WriteOutputFormat(frmCommon->ConfigFile, GetOutputExt());
    ApplyFormatToControls();
}

void TfrmMain::ApplyFormatToControls()
{
    // A run keeps the audio options locked; the format unlocks only what it uses.
    const QString format = GetOutputExt();
    const bool idle = ui->listViewFiles->isEnabled();
    ui->comboBoxAudioBitrate->setEnabled(idle && FormatUsesBitrate(format));
    for (QWidget *widget :
         QList<QWidget *>{ui->comboBoxSampleRate, ui->radioButtonChannelMono, ui->radioButtonChannelStereo})
        widget->setEnabled(idle && FormatUsesRateAndChannels(format));
}
