#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class TfrmSetting;
}

// The settings dialog: automatic power-off after a run, the length of its
// countdown, the preferred audio language, how many files a run converts at
// once, the loudness, one file per chapter and keeping the folders of added
// folders. Modeless; it is only hidden when closed, and every showing reads
// the settings afresh. Values reach config.ini only through OK.
class TfrmSetting : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmSetting(QWidget *parent = nullptr);
    ~TfrmSetting() override;

    // The loudness levels (not ReplayGain) of the list shown as not applying
    // to the format chosen, with why in the list's tool tip.
    void SetLoudnessLevelsApply(bool apply, const QString &why);

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
