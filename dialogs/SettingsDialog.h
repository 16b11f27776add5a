#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class TfrmSetting;
}

// The settings dialog: automatic power-off after a run, the length of its
// countdown, the preferred audio language, how many files a run converts at once and the loudness. Modeless; it is only
// hidden when closed, and every showing reads config.ini afresh. Values reach config.ini only through OK.
class TfrmSetting : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmSetting(QWidget *parent = nullptr);
    ~TfrmSetting() override;

public slots:
    void FormShow();
    void checkBoxAutoPowerOffClick();
    void ButtonOKClick();
    void ButtonCancelClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    Ui::TfrmSetting *ui;
};

extern TfrmSetting *frmSetting;

// The wait time as typed, by the integer rules of config.ini. Raises
// TolvaneError "'<text>' is not a valid integer value" for anything else.
int WaitTimeFromText(const QString &text);

// Writes [setting] autoPowerOff (1 or 0) and autoPowerOff_WaitTime, in this order.
void SaveAutoPowerOffSettings(const QString &configFile, bool autoPowerOff, int waitSeconds);

// How many files a run may convert at once: 1 to the number of cores, at most 16.
int MostParallelFiles();
// [setting] parallelFiles; missing or out of range gives the number of cores, at most 4.
int ReadParallelFiles(const QString &configFile);
void SaveParallelFiles(const QString &configFile, int files);

// [setting] preferredAudioLanguage: an ISO 639 code or a language name, empty
// when the user has none. Saved trimmed.
QString ReadPreferredAudioLanguage(const QString &configFile);
void SavePreferredAudioLanguage(const QString &configFile, const QString &language);

// [setting] loudness: "off", a target in LUFS ("-23", "-16", "-14") or
// "replaygain" (tags only), in the order of the dialog's list; anything else
// reads as "off".
const QStringList &LoudnessChoices();
QString ReadLoudness(const QString &configFile);
void SaveLoudness(const QString &configFile, const QString &loudness);
