#include "app/MainWindow.h"
#include "ui_MainWindow.h"

#include "common/Settings.h"
#include "conversion/EncoderCommand.h"
#include "dialogs/SettingsDialog.h"
#include "gui/CommonServices.h"

#include <QComboBox>
#include <QRadioButton>

#include <functional>

namespace {
// 128 kbit/s and 44100 Hz in the window's lists.
constexpr int DefaultBitratePosition = 11;
constexpr int DefaultSampleRatePosition = 8;

// The position of value in a list of count entries, or fallback when the list does not offer it.
int PositionOf(int value, int count, const std::function<int(int)> &valueOf, int fallback)
{
    for (int position = 0; position < count; ++position)
        if (valueOf(position) == value)
            return position;
    return fallback;
}
}

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
    TSettings &settings = frmCommon->Settings();
    ShowOutputFormat(FormatName(settings.Format()));
    ui->comboBoxAudioBitrate->setCurrentIndex(
        PositionOf(settings.Bitrate(), ui->comboBoxAudioBitrate->count(), ::BitrateOfIndex, DefaultBitratePosition));
    ui->comboBoxSampleRate->setCurrentIndex(PositionOf(settings.SampleRate(), ui->comboBoxSampleRate->count(),
                                                       ::SampleRateOfIndex, DefaultSampleRatePosition));
    (settings.Channels() == 1 ? ui->radioButtonChannelMono : ui->radioButtonChannelStereo)->setChecked(true);

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
            [](int position) { frmCommon->Settings().SetBitrate(::BitrateOfIndex(position)); });
    connect(ui->comboBoxSampleRate, &QComboBox::currentIndexChanged, this,
            [](int position) { frmCommon->Settings().SetSampleRate(::SampleRateOfIndex(position)); });
    connect(ui->radioButtonChannelMono, &QRadioButton::toggled, this,
            [](bool mono) { frmCommon->Settings().SetChannels(mono ? 1 : 2); });
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
    frmCommon->Settings().SetFormat(FormatOfName(GetOutputExt()));
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
    ShowRunWideSettings();
}
