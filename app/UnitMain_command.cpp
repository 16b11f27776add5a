#include "UnitMain.h"
#include "ui_UnitMain.h"

#include "Unit_common.h"

// The encoder command for one file. Every value is taken from the position of
// the selected item, never from its text, and read afresh for each file, so a
// change during a run applies to the next file that starts.

QString TfrmMain::GetOutputExt() const
{
    return OutputExtOf(ui->radioButtonFormatWAV->isChecked(), ui->radioButtonFormatMP3->isChecked());
}

int TfrmMain::BitrateOfIndex(int Position) const { return ::BitrateOfIndex(Position); }

int TfrmMain::SampleRateOfIndex(int Position) const { return ::SampleRateOfIndex(Position); }

int TfrmMain::ChannelCount() const { return ui->radioButtonChannelMono->isChecked() ? 1 : 2; }

TEncoderCommand TfrmMain::BuildEncoderCommand(const QString &Source, const QString &Target)
{
    const int bitrate = BitrateOfIndex(ui->comboBoxAudioBitrate->currentIndex());
    const int sampleRate = SampleRateOfIndex(ui->comboBoxSampleRate->currentIndex());
    return ::BuildEncoderCommand(FFMpeg, frmCommon->AppFolder, Source, Target, GetOutputExt(), bitrate, sampleRate,
                                 ChannelCount());
}
