#include "app/RunView.h"
#include "ui_MainWindow.h"

#include "app/FileQueueModel.h"
#include "app/FileQueueView.h"
#include "app/OutputOptionsView.h"
#include "app/WindowTexts.h"
#include "common/ErrorReport.h"
#include "common/Settings.h"
#include "common/TolvaneError.h"
#include "conversion/ConversionRun.h"
#include "conversion/EncoderOutput.h"
#include "conversion/FileQueue.h"
#include "conversion/OutputFiles.h"
#include "conversion/OutputNames.h"
#include "dialogs/FileExistsDialog.h"
#include "dialogs/PowerOffCountdown.h"
#include "gui/CommonServices.h"

#include <QDir>
#include <QMessageBox>
#include <QTableView>

#include <algorithm>

namespace {
// The status line has room for one line: a line break in a file name would
// push the rest of the window about, so it shows as a replacement character.
QString OneLine(QString text)
{
    for (QChar &c : text)
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\v') || c == QLatin1Char('\f')
            || c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph
            || c.unicode() == 0x85)
            c = QChar::ReplacementCharacter;
    return text;
}

// The end message: what was done, then (in a run that went through) the
// question. Why each file failed goes into the scrollable detail area too,
// so a long list never grows the box off the screen.
void FillEndBox(QMessageBox &box, const TEndMessage &message)
{
    box.setText(message.Text);
    box.setInformativeText(message.Question);
    if (!message.Detail.isEmpty())
        box.setDetailedText(message.Detail);
}
}

TRunView::TRunView(QWidget &window, Ui::TfrmMain &ui, const TWindowTexts &texts, TFileQueue &queue, TMediaProbe &probe,
                   TFileQueueView &queueView, TOutputOptionsView &options)
    : QObject(&window), m_window(window), ui(ui), m_texts(texts), m_queue(queue), m_queueView(queueView),
      m_options(options)
{
    // The status line carries file names, which may look like markup.
    ui.labelCurrentInfo->setTextFormat(Qt::PlainText);

    m_run = new TConversionRun(queue, &probe, this);
    m_run->setObjectName(QStringLiteral("ConversionRun"));
    connect(m_run, &TConversionRun::FileStarted, this, [this](int row) { ShowFileStarted(row); });
    connect(m_run, &TConversionRun::FileProgress, this, &TRunView::ShowFileProgress);
    connect(m_run, &TConversionRun::FileFinished, this, &TRunView::ShowFileFinished);
    connect(m_run, &TConversionRun::FileExistsAsked, this, &TRunView::AskFileExists);
    connect(m_run, &TConversionRun::RunEnded, this, &TRunView::ShowRunEnded);
    connect(m_run, &TConversionRun::RunFinished, this, [this](const QString &folder) { ShowEndOfRun(folder); });
}

void TRunView::ConvertOrStop()
{
    if (m_run->IsActive())
        StopConversion();
    else
        RunConversion();
}

void TRunView::RunConversion()
{
    // An empty queue has nothing to convert, and so nothing to report.
    if (m_run->IsActive() || !m_run->ConsoleIO || m_queue.Count() == 0)
        return;
    const QString folder = ui.editOutputFolder->text();
    // Without a folder the targets would land in whatever folder the program
    // was started from.
    if (!IsOutputFolderSet(folder))
        throw TolvaneError(m_texts.msgNoOutputFolder);
    // Read once: the run converts every file with what is chosen now.
    const TSettings &stored = frmCommon->Settings();
    TRunSettings settings{folder, frmCommon->AppFolder, m_options.CurrentOptions(), stored.ParallelFiles()};
    settings.KeepFolders = stored.KeepFolders();
    settings.Texts = m_texts.ReportTexts();
    settings.SplitChapters = stored.SplitChapters();
    m_queueView.FitStateColumn(settings.SplitChapters);
    m_runFiles = m_queue.Count();
    m_tally = TRunTally();
    m_tally.Expect(m_runFiles);
    m_finishedFiles = 0;
    m_estimate.Start(m_runFiles);
    for (int row = 0; row < m_runFiles; ++row) {
        m_queue.SetState(row, TItemState::Waiting);
        m_queue.ClearOutputs(row);
        m_estimate.FileLength(row, m_queue.At(row).Facts.Duration);
    }
    m_clock.start();
    m_titleBeforeRun = m_window.windowTitle();
    SetControlsEnabled(false);
    // However it ends, ShowRunEnded gives the window back; an error of the
    // first file comes up from here after that.
    m_run->Start(settings);
}

// The run is over, however it ended: the controls and the title are the
// window's own again, and rows the run never took wait no more.
void TRunView::ShowRunEnded()
{
    m_tookMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    SetControlsEnabled(true);
    RestoreTitle();
    m_queue.ReplaceStates(TItemState::Waiting, TItemState::Idle);
    if (m_run->WasStopped())
        ShowStoppedRun();
}

void TRunView::AskFileExists(const QString &target, const QString &source)
{
    if (!frmOverWrite)
        return m_run->AnswerFileExists(quint8(ocAsk));
    // The run's clock stops while the user thinks, unless other files go on
    // converting meanwhile; the window says what it waits for.
    int row = -1;
    for (int i = 0; i < m_queue.Count() && row < 0; ++i)
        if (m_queue.At(i).Source == source)
            row = i;
    m_estimate.Pause(ElapsedRunSeconds(), row);
    const QString waiting = frmOverWrite->windowTitle() + QStringLiteral(": ") + target;
    ui.labelCurrentInfo->setText(OneLine(waiting));
    ui.labelCurrentInfo->setToolTip(PlainToolTip(waiting));
    frmOverWrite->ShowFile(target);
    connect(
        frmOverWrite, &QDialog::finished, this,
        [this] {
            m_estimate.Resume(ElapsedRunSeconds());
            m_run->AnswerFileExists(frmOverWrite->FChoice);
        },
        Qt::SingleShotConnection);
    frmOverWrite->open();
}

double TRunView::ElapsedRunSeconds() const { return m_clock.isValid() ? double(m_clock.elapsed()) / 1000.0 : 0; }

void TRunView::ShowFileStarted(int row)
{
    ui.listViewFiles->selectRow(row);
    m_queue.SetState(row, TItemState::Converting, 0);
    // The bar follows this file now: a busy bar of the last one goes.
    if (ui.progressBarCurrent->maximum() == 0) {
        ui.progressBarCurrent->setRange(0, 100);
        ui.progressBarCurrent->setValue(0);
    }
    m_estimate.FileStarted(row);
    ShowRunInTitle();
}

void TRunView::ShowFileProgress(int row, const TProgressView &view)
{
    m_estimate.FileProgress(row, view.Duration, view.Converted);
    if (view.Unmeasured())
        m_queue.SetState(row, TItemState::Converting);
    else if (view.Percent > 0)
        m_queue.SetState(row, TItemState::Converting, view.Percent);
    // One file at a time: the bar and the status line follow it.
    if (m_run->RunningCount() <= 1 && row == m_run->File().Row)
        ShowProgress(view);
    ShowRunInTitle();
}

void TRunView::ShowFileFinished(int row, const QString &source, TFileOutcome outcome, const TFileReport &report)
{
    const QString reason = ReportText(outcome, report, m_texts.ReportTexts());
    ShowFileOutcome(row, outcome, reason);
    m_estimate.FileFinished(row, outcome == TFileOutcome::Converted);
    const QString shown = m_queueView.SourceOfRow(row);
    m_tally.Record(outcome, shown.isEmpty() ? source : shown, reason, report.ChapterFiles);
    ++m_finishedFiles;
    ShowRunInTitle();
}

// "42% · about 3 min left · Tolvane ..." while a run goes; the time left
// once the run has a speed to go by.
void TRunView::ShowRunInTitle()
{
    if (!m_clock.isValid())
        return;
    const TRunEstimate::TView view = m_estimate.Estimate(ElapsedRunSeconds());
    // Several files at once: the status line and the bar tell of the whole run.
    if (m_run->RunningCount() > 1) {
        const QString status =
            FormatText(m_texts.msgStatusRunFiles, {QString::number(m_run->RunningCount()),
                                                   QString::number(m_finishedFiles), QString::number(m_runFiles)});
        ui.labelCurrentInfo->setText(status);
        ui.labelCurrentInfo->setToolTip(status);
        ui.progressBarCurrent->setRange(0, 100);
        ui.progressBarCurrent->setValue(std::min(view.Percent, 99));
    }
    const QString separator = QStringLiteral(" \u00B7 ");
    QString title = QString::number(view.Percent) + QLatin1Char('%') + separator;
    if (view.SecondsLeft >= 0)
        title += FormatText(m_texts.msgTimeLeft, {RoughSpanText(view.SecondsLeft, m_texts.SpanTexts())}) + separator;
    title += m_titleBeforeRun;
    // Only a change reaches the window manager.
    if (title != m_window.windowTitle())
        m_window.setWindowTitle(title);
}

void TRunView::RestoreTitle()
{
    if (!m_clock.isValid())
        return;
    m_clock.invalidate();
    m_window.setWindowTitle(m_titleBeforeRun);
}

void TRunView::ShowFileOutcome(int row, TFileOutcome outcome, const QString &reason)
{
    switch (outcome) {
    case TFileOutcome::Converted:
        return m_queue.SetState(row, TItemState::Done);
    case TFileOutcome::Failed:
        return m_queue.SetState(row, TItemState::Failed, -1, reason);
    case TFileOutcome::Stopped:
        return m_queue.SetState(row, TItemState::Stopped, -1, reason);
    case TFileOutcome::Skipped:
        return m_queue.SetState(row, TItemState::Skipped);
    case TFileOutcome::Incomplete:
        return m_queue.SetState(row, TItemState::Incomplete, -1, reason);
    }
}

void TRunView::ShowEndOfRun(const QString &folder)
{
    ResetStatus();
    ShowPowerOffCountdownIfEnabled();
    if (m_run->IsClosing())
        return;
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), QString(), QMessageBox::Yes | QMessageBox::No, &m_window);
    box.setObjectName(QStringLiteral("msgFinishInfo"));
    FillEndBox(box, m_tally.EndMessage(false, m_tookMs, m_texts.TallyTexts()));
    if (box.exec() != QMessageBox::Yes)
        return;
    ShellOpen(QDir::isAbsolutePath(folder) ? folder : QDir::current().filePath(folder));
}

// After a stop the user learns what was done all the same; nothing is asked.
void TRunView::ShowStoppedRun()
{
    ResetStatus();
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), QString(), QMessageBox::Ok, &m_window);
    box.setObjectName(QStringLiteral("msgRunStopped"));
    FillEndBox(box, m_tally.EndMessage(true, m_tookMs, m_texts.TallyTexts()));
    box.exec();
}

void TRunView::StopConversion()
{
    m_run->StopConversion();
    ResetStatus();
}

void TRunView::SetControlsEnabled(bool enabled)
{
    // A run takes its format and options once, at its start: none of them
    // may change under it.
    const QList<QWidget *> widgets{ui.listViewFiles,          ui.buttonAdd,
                                   ui.buttonDelete,           ui.buttonClearAll,
                                   ui.buttonMoveUp,           ui.buttonMoveDown,
                                   ui.comboBoxAudioBitrate,   ui.comboBoxSampleRate,
                                   ui.radioButtonChannelMono, ui.radioButtonChannelStereo,
                                   ui.radioButtonFormatWAV,   ui.radioButtonFormatMP3,
                                   ui.radioButtonFormatOther, ui.comboBoxFormatOther};
    for (QWidget *widget : widgets)
        widget->setEnabled(enabled);
    const QList<QAction *> actions{ui.ActionFileAdd,     ui.ActionFileDelete,   ui.ActionFileClearAll,
                                   ui.ActionFileMoveUp,  ui.ActionFileMoveDown, ui.ActionSetDirectory,
                                   ui.ActionFileBatchAdd};
    for (QAction *action : actions)
        action->setEnabled(enabled);
    ui.editOutputFolder->setEnabled(enabled);
    if (enabled)
        m_options.ApplyFormatToControls();
    ui.ActionConvertNow->setText(enabled ? m_texts.StringStartCaption : m_texts.StringStopCaption);
}

void TRunView::ShowTexts()
{
    if (m_run->IsActive())
        ui.ActionConvertNow->setText(m_texts.StringStopCaption);
}

void TRunView::ResetStatus()
{
    ui.labelCurrentInfo->setText(m_texts.msgStatusReady);
    ui.progressBarCurrent->setRange(0, 100);
    ui.progressBarCurrent->setValue(0);
}

void TRunView::ParseEncoderOutput(const QString &text)
{
    if (ui.listViewFiles->selectionModel()->selectedRows().isEmpty())
        return;
    ShowProgress(m_run->ParseEncoderOutput(text));
}

void TRunView::ShowProgress(const TProgressView &view)
{
    const QModelIndexList selected = ui.listViewFiles->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    const int row = selected.first().row();
    // Without a duration no share can be shown: the bar says only that the
    // encoder works, rather than sit at 99 until the file ends.
    if (view.Unmeasured()) {
        ui.progressBarCurrent->setRange(0, 0);
    } else {
        ui.progressBarCurrent->setRange(0, 100);
        ui.progressBarCurrent->setValue(view.Percent);
    }
    // The line names the file; its tool tip the whole path. The time in it is
    // the file's audio still to convert, said as such: the title's time left
    // is the clock's, for the whole run.
    QString status = FormatText(m_texts.msgStatusRun, {QStringLiteral("%1/%2").arg(row + 1).arg(m_queue.Count())});
    if (!view.Unmeasured())
        status += QStringLiteral(" \u00B7 ") + FormatText(m_texts.msgStatusAudioLeft, {view.LeftClock});
    status += QStringLiteral(" \u00B7 ");
    const QString source = m_queueView.SourceOfRow(row);
    // A name longer than the line loses its middle, so its start and its extension stay in sight.
    const QFontMetrics metrics = ui.labelCurrentInfo->fontMetrics();
    const int room = ui.labelCurrentInfo->contentsRect().width() - metrics.horizontalAdvance(status);
    const QString name = OneLine(FileNamePart(source));
    ui.labelCurrentInfo->setText(OneLine(status) + metrics.elidedText(name, Qt::ElideMiddle, std::max(room, 0)));
    ui.labelCurrentInfo->setToolTip(PlainToolTip(status + source));
}
