#include "app/OutputOptionsView.h"
#include "ui_MainWindow.h"

#include "app/WindowTexts.h"
#include "common/Settings.h"
#include "conversion/ConversionRun.h"
#include "conversion/EncoderCommand.h"
#include "conversion/EncoderOutput.h"
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

TOutputOptionsView::TOutputOptionsView(QWidget &window, Ui::TfrmMain &ui, const TWindowTexts &texts)
    : QObject(&window), ui(ui), m_texts(texts)
{
    // Restored before the controls report changes, so starting writes nothing.
    TSettings &settings = frmCommon->Settings();
    ShowOutputFormat(FormatName(settings.Format()));
    ui.comboBoxAudioBitrate->setCurrentIndex(
        PositionOf(settings.Bitrate(), ui.comboBoxAudioBitrate->count(), BitrateOfIndex, DefaultBitratePosition));
    ui.comboBoxSampleRate->setCurrentIndex(PositionOf(settings.SampleRate(), ui.comboBoxSampleRate->count(),
                                                      SampleRateOfIndex, DefaultSampleRatePosition));
    (settings.Channels() == 1 ? ui.radioButtonChannelMono : ui.radioButtonChannelStereo)->setChecked(true);

    // The formats after WAV and MP3 are picked in the combo box, which
    // then checks a hidden third radio button: the group stays one exclusive
    // choice. Its first item ("…") stands for "WAV or MP3 above".
    for (QRadioButton *button : {ui.radioButtonFormatWAV, ui.radioButtonFormatMP3, ui.radioButtonFormatOther})
        connect(button, &QRadioButton::toggled, this, [this, button](bool checked) {
            if (!checked)
                return;
            if (button != this->ui.radioButtonFormatOther)
                this->ui.comboBoxFormatOther->setCurrentIndex(0);
            OutputFormatChanged();
        });
    connect(ui.comboBoxFormatOther, &QComboBox::activated, this, [this](int position) {
        if (position == 0)
            this->ui.radioButtonFormatMP3->setChecked(true);
        else if (this->ui.radioButtonFormatOther->isChecked())
            OutputFormatChanged();
        else
            this->ui.radioButtonFormatOther->setChecked(true);
    });
    connect(ui.comboBoxAudioBitrate, &QComboBox::currentIndexChanged, this,
            [](int position) { frmCommon->Settings().SetBitrate(BitrateOfIndex(position)); });
    connect(ui.comboBoxSampleRate, &QComboBox::currentIndexChanged, this,
            [](int position) { frmCommon->Settings().SetSampleRate(SampleRateOfIndex(position)); });
    connect(ui.radioButtonChannelMono, &QRadioButton::toggled, this,
            [](bool mono) { frmCommon->Settings().SetChannels(mono ? 1 : 2); });
    connect(&frmCommon->Settings(), &TSettings::Changed, this, &TOutputOptionsView::ShowRunWideSettings);
}

// Every value is taken from the position of the selected item, never from its
// text, and read afresh for each file, so a change during a run applies to
// the next file that starts.
QString TOutputOptionsView::GetOutputExt() const
{
    if (ui.radioButtonFormatOther->isChecked())
        return OutputFormats().value(ui.comboBoxFormatOther->currentIndex() + 1, QStringLiteral("mp3"));
    return OutputExtOf(ui.radioButtonFormatWAV->isChecked(), ui.radioButtonFormatMP3->isChecked());
}

int TOutputOptionsView::ChannelCount() const { return ui.radioButtonChannelMono->isChecked() ? 1 : 2; }

TOutputOptions TOutputOptionsView::CurrentOptions() const
{
    return {GetOutputExt(),
            BitrateOfIndex(ui.comboBoxAudioBitrate->currentIndex()),
            SampleRateOfIndex(ui.comboBoxSampleRate->currentIndex()),
            ChannelCount(),
            frmCommon->Settings().PreferredAudioLanguage(),
            frmCommon->Settings().VerifyOutput(),
            frmCommon->Settings().Loudness()};
}

void TOutputOptionsView::ShowOutputFormat(const QString &format)
{
    // The formats after WAV and MP3 are the combo box's items, in order.
    const int position = int(OutputFormats().indexOf(KnownOutputFormat(format)));
    ui.comboBoxFormatOther->setCurrentIndex(position >= 2 ? position - 1 : 0);
    (position == 0   ? ui.radioButtonFormatWAV
     : position == 1 ? ui.radioButtonFormatMP3
                     : ui.radioButtonFormatOther)
        ->setChecked(true);
    ApplyFormatToControls();
}

void TOutputOptionsView::OutputFormatChanged()
{
    frmCommon->Settings().SetFormat(FormatOfName(GetOutputExt()));
    ApplyFormatToControls();
}

void TOutputOptionsView::ApplyFormatToControls()
{
    // A run keeps the audio options locked; the format unlocks only what it uses.
    const QString format = GetOutputExt();
    const bool idle = ui.listViewFiles->isEnabled();
    ui.comboBoxAudioBitrate->setEnabled(idle && FormatUsesBitrate(format));
    for (QWidget *widget :
         QList<QWidget *>{ui.comboBoxSampleRate, ui.radioButtonChannelMono, ui.radioButtonChannelStereo})
        widget->setEnabled(idle && FormatUsesRateAndChannels(format));
    ShowRunWideSettings();
}

void TOutputOptionsView::ShowRunWideSettings()
{
    // Before the texts are set there are no words to say it with.
    if (m_texts.msgRunWide.isEmpty())
        return;
    // A copy is not re-encoded: no level can be reached, tags can still be written.
    const bool copy = GetOutputExt() == QLatin1String("copy");
    if (frmSetting)
        frmSetting->SetLoudnessLevelsApply(!copy, m_texts.msgLoudnessNotForCopy);
    const TSettings &settings = frmCommon->Settings();
    QStringList parts;
    const QString loudness = settings.Loudness();
    if (loudness != QLatin1String("off")) {
        // The words of the settings dialog's list, in the user's language.
        const auto *choices =
            frmSetting ? frmSetting->findChild<QComboBox *>(QStringLiteral("comboLoudness")) : nullptr;
        const int position = int(TSettings::LoudnessChoices().indexOf(loudness));
        const QString shown = choices && position >= 0 ? choices->itemText(position) : loudness;
        QString part = FormatText(m_texts.msgRunWideLoudness, {shown});
        if (copy && loudness != QLatin1String("replaygain"))
            part += QStringLiteral(" (") + m_texts.msgLoudnessNotForCopy + QLatin1Char(')');
        parts << part;
    }
    if (settings.SplitChapters())
        parts << m_texts.msgRunWideChapters;
    if (settings.KeepFolders())
        parts << m_texts.msgRunWideKeepFolders;
    const QString text =
        parts.isEmpty() ? QString() : FormatText(m_texts.msgRunWide, {parts.join(QStringLiteral(" \u00B7 "))});
    // Empty rather than hidden: a hidden label still reaches screen readers.
    ui.labelRunWide->setText(text);
    ui.labelRunWide->setToolTip(text);
}
