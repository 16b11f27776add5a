#pragma once

#include "conversion/FileReport.h"
#include "conversion/RunEstimate.h"
#include "conversion/RunTally.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

namespace Ui {
class TfrmMain;
}
class QWidget;
class TConversionRun;
class TFileQueue;
class TFileQueueView;
class TMediaProbe;
class TOutputOptionsView;
struct TProgressView;
struct TWindowTexts;

// The conversion run as the window shows it: the engine runs it, this draws
// what it reports (each row's state, the progress bar, the status line, the
// share done and time left in the title, the end message) and answers its
// question about an existing file. The controls stay locked while it goes.
class TRunView : public QObject
{
    Q_OBJECT
public:
    TRunView(QWidget &window, Ui::TfrmMain &ui, const TWindowTexts &texts, TFileQueue &queue, TMediaProbe &probe,
             TFileQueueView &queueView, TOutputOptionsView &options);

    TConversionRun &Run() const { return *m_run; }
    // Convert when idle, Stop while a run goes.
    void ConvertOrStop();
    void SetControlsEnabled(bool enabled);
    void ResetStatus();
    // A line of the encoder's output shown as the selected row's progress.
    void ParseEncoderOutput(const QString &text);
    // A run under way says Stop in the new language too.
    void ShowTexts();

private:
    void RunConversion();
    void StopConversion();
    void ShowFileStarted(int row);
    void ShowFileProgress(int row, const TProgressView &view);
    void ShowFileFinished(int row, const QString &source, TFileOutcome outcome, const TFileReport &report);
    void ShowRunEnded();
    void AskFileExists(const QString &target, const QString &source);
    double ElapsedRunSeconds() const;
    void ShowProgress(const TProgressView &view);
    void ShowEndOfRun(const QString &folder);
    void ShowStoppedRun();
    void ShowFileOutcome(int row, TFileOutcome outcome, const QString &reason);
    void ShowRunInTitle();
    void RestoreTitle();

    QWidget &m_window;
    Ui::TfrmMain &ui;
    const TWindowTexts &m_texts;
    TFileQueue &m_queue;
    TFileQueueView &m_queueView;
    TOutputOptionsView &m_options;
    TConversionRun *m_run = nullptr; // owns the runner, the choices and the file being converted
    TRunTally m_tally;               // how the files of the run ended, for its end message
    TRunEstimate m_estimate;         // the whole run's share done and time left
    QElapsedTimer m_clock;           // since the run started
    int m_runFiles = 0;              // rows when the run started
    int m_finishedFiles = 0;         // however they ended
    qint64 m_tookMs = 0;             // the last run's time, for its end message
    QString m_titleBeforeRun;        // the window's title, given back when the run ends
};
