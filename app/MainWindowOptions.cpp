#include "app/MainWindow.h"
#include "ui_MainWindow.h"

#include "common/Settings.h"
#include "gui/CommonServices.h"

// The encoder command for one file. Every value is taken from the position of
// the selected item, never from its text, and read afresh for each file, so a
// change during a run applies to the next file that starts.

QString TfrmMain::GetOutputExt() const
{
    if (ui->radioButtonFormatOther->isChecked())
        return OutputFormats().value(ui->comboBoxFormatOther->currentIndex() + 1, QStringLiteral("mp3"));
    return OutputExtOf(ui->radioButtonFormatWAV->isChecked(), ui->radioButtonFormatMP3->isChecked());
}

int TfrmMain::BitrateOfIndex(int Position) const { return ::BitrateOfIndex(Position); }

int TfrmMain::SampleRateOfIndex(int Position) const { return ::SampleRateOfIndex(Position); }

int TfrmMain::ChannelCount() const { return ui->radioButtonChannelMono->isChecked() ? 1 : 2; }

TOutputOptions TfrmMain::CurrentOptions() const
{
    return {GetOutputExt(),
            BitrateOfIndex(ui->comboBoxAudioBitrate->currentIndex()),
            SampleRateOfIndex(ui->comboBoxSampleRate->currentIndex()),
            ChannelCount(),
            frmCommon->Settings().PreferredAudioLanguage(),
            frmCommon->Settings().VerifyOutput(),
            frmCommon->Settings().Loudness()};
}

TEncoderCommand TfrmMain::BuildEncoderCommand(const QString &Source, const QString &Target)
{
    const TOutputOptions options = CurrentOptions();
    return ::BuildEncoderCommand(ConversionRun->FFMpeg, EncoderFolder(),
                                 {Source, Target, FormatOfName(options.Extension), options.Bitrate, options.SampleRate,
                                  options.Channels, -1, options.VerifyOutput, options.Loudness});
}
