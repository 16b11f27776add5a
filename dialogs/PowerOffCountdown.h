#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class TfrmPowerOffWindows;
}
class QTimer;

// The countdown before automatic power-off, shown modally at the end of a
// run. It counts down once a second on its Yes button and asks for the
// power-off when the count is used up or when Yes is pressed, at most once
// per showing: a refused request is not repeated every second. No, Escape
// and the title bar's close button all cancel the countdown.
class TfrmPowerOffWindows : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmPowerOffWindows(QWidget *parent = nullptr);
    ~TfrmPowerOffWindows() override;

    QTimer *Timer;          // one tick a second while the dialog is shown
    int waitSeconds = 0;    // countdown length, read from config.ini at each showing
    int elapsedSeconds = 0; // ticks since the dialog was shown
    QString yesCaption;     // base text of the Yes button's countdown caption

public slots:
    void FormShow();
    void TimerTimer();
    void buttonYesClick();
    void buttonNoClick();
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void PowerOffOnce();

    Ui::TfrmPowerOffWindows *ui;
    bool m_powerOffRequested = false;
};

extern TfrmPowerOffWindows *frmPowerOffWindows;

// The Yes button's text during the countdown: "Yes (29)" for a base "Yes "
// and 29 seconds left; negative once the limit has passed.
QString CountdownCaption(const QString &yesCaption, int secondsLeft);

// The end-of-run step: when config.ini switches automatic power-off on (read
// afresh), shows the countdown modally and returns once its modal wait has
// ended, whichever way; otherwise returns at once.
void ShowPowerOffCountdownIfEnabled();
