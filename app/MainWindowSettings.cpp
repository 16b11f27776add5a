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
    (stored.wav ? ui->radioButtonFormatWAV : ui->radioButtonFormatMP3)->setChecked(true);
    ui->comboBoxAudioBitrate->setCurrentIndex(stored.bitratePosition);
    ui->comboBoxSampleRate->setCurrentIndex(stored.sampleRatePosition);
    (stored.channels == 1 ? ui->radioButtonChannelMono : ui->radioButtonChannelStereo)->setChecked(true);

    connect(ui->radioButtonFormatWAV, &QRadioButton::toggled, this, [this](bool wav) {
        WriteOutputFormat(frmCommon->ConfigFile, wav);
    });
    connect(ui->comboBoxAudioBitrate, &QComboBox::currentIndexChanged, this, [this](int position) {
        WriteOutputBitrate(frmCommon->ConfigFile, position);
    });
    connect(ui->comboBoxSampleRate, &QComboBox::currentIndexChanged, this, [this](int position) {
        WriteOutputSampleRate(frmCommon->ConfigFile, position);
    });
    connect(ui->radioButtonChannelMono, &QRadioButton::toggled, this, [this](bool mono) {
        WriteOutputChannels(frmCommon->ConfigFile, mono ? 1 : 2);
    });
}
