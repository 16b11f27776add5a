#include "dialogs/PowerOffCountdown.h"
#include "ui_PowerOffCountdown.h"

#include "gui/CommonServices.h"
#include "gui/DialogPlacement.h"

#include <QShowEvent>
#include <QTimer>

TfrmPowerOffWindows *frmPowerOffWindows = nullptr;

namespace {
constexpr int ClientWidth = 283;
constexpr int ClientHeight = 118;
constexpr int TickMilliseconds = 1000;
}

QString CountdownCaption(const QString &yesCaption, int secondsLeft)
{
    return yesCaption + QLatin1Char('(') + QString::number(secondsLeft) + QLatin1Char(')');
}

void ShowPowerOffCountdownIfEnabled()
{
    if (!frmPowerOffWindows || frmPowerOffWindows->isVisible())
        return;
    if (frmCommon->IsAutoPowerOff())
        frmPowerOffWindows->exec();
}

TfrmPowerOffWindows::TfrmPowerOffWindows(QWidget *parent)
    : QDialog(parent), Timer(new QTimer(this)), ui(new Ui::TfrmPowerOffWindows)
{
    ui->setupUi(this);
    FixClientSize(this, ClientWidth, ClientHeight);
    setModal(true);
    // Until the language file provides one, the form's own caption is the base.
    yesCaption = ui->buttonYes->text();

    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(TickMilliseconds);

    connect(Timer, &QTimer::timeout, this, &TfrmPowerOffWindows::TimerTimer);
    connect(ui->buttonYes, &QPushButton::clicked, this, &TfrmPowerOffWindows::buttonYesClick);
    connect(ui->buttonNo, &QPushButton::clicked, this, &TfrmPowerOffWindows::buttonNoClick);
}

TfrmPowerOffWindows::~TfrmPowerOffWindows() { delete ui; }

void TfrmPowerOffWindows::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        CentreOnOwner(this);
        FormShow();
    }
}

void TfrmPowerOffWindows::hideEvent(QHideEvent *event)
{
    // However the dialog goes away, nothing may count on unseen.
    if (!event->spontaneous())
        Timer->stop();
    QDialog::hideEvent(event);
}

void TfrmPowerOffWindows::FormShow()
{
    elapsedSeconds = 0;
    waitSeconds = frmCommon->AutoPowerOffWaitTime();
    m_powerOffRequested = false;
    ui->buttonNo->setFocus();
    Timer->start();
}

void TfrmPowerOffWindows::TimerTimer()
{
    ++elapsedSeconds;
    ui->buttonYes->setText(CountdownCaption(yesCaption, waitSeconds - elapsedSeconds));
    if (elapsedSeconds >= waitSeconds)
        PowerOffOnce();
}

void TfrmPowerOffWindows::buttonYesClick()
{
    PowerOffOnce();
    done(QDialog::Accepted);
}

void TfrmPowerOffWindows::buttonNoClick()
{
    Timer->stop();
    elapsedSeconds = 0;
    done(QDialog::Rejected);
}

// Escape and the title bar's close button cancel the countdown as No does,
// rather than leaving it to run on towards a power-off nobody sees coming.
void TfrmPowerOffWindows::reject() { buttonNoClick(); }

// A refused request (no right to switch off, another program holding it up)
// is not repeated: with polkit every repeat could raise a fresh password prompt.
void TfrmPowerOffWindows::PowerOffOnce()
{
    Timer->stop();
    if (m_powerOffRequested)
        return;
    m_powerOffRequested = true;
    frmCommon->PowerOff();
}
