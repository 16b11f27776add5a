#pragma once

#include <QObject>
#include <QString>

namespace Ui {
class TfrmMain;
}
class QWidget;
struct TOutputOptions;
struct TWindowTexts;

// The output's format, bit rate, sample rate and channels as the window's
// controls show them: restored from config.ini, written back when the user
// changes them, and read afresh each time a file's command is made. Also the
// line beside Convert that names the settings applying to every file.
class TOutputOptionsView : public QObject
{
    Q_OBJECT
public:
    TOutputOptionsView(QWidget &window, Ui::TfrmMain &ui, const TWindowTexts &texts);

    QString GetOutputExt() const;
    int ChannelCount() const;
    // The format and options the controls show now; a run reads them once.
    TOutputOptions CurrentOptions() const;
    // The format unlocks the options it uses, unless a run holds them locked.
    void ApplyFormatToControls();
    // The line beside Convert: the settings that apply to every file, and
    // a loudness level the original audio does not take.
    void ShowRunWideSettings();

private:
    // Shows a stored format; the controls it does not use are disabled.
    void ShowOutputFormat(const QString &format);
    void OutputFormatChanged();

    Ui::TfrmMain &ui;
    const TWindowTexts &m_texts;
};
