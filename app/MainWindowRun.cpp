#include "app/MainWindow.h"
#include "ui_MainWindow.h"

#include "app/FileQueueModel.h"
#include "common/ErrorReport.h"
#include "common/Settings.h"
#include "common/TolvaneError.h"
#include "console/ConsoleIO.h"
#include "conversion/EncoderOutput.h"
#include "conversion/FileQueue.h"
#include "conversion/OutputFiles.h"
#include "conversion/OutputNames.h"
#include "conversion/TemporaryOutput.h"
#include "dialogs/FileExistsDialog.h"
#include "dialogs/PowerOffCountdown.h"
#include "gui/CommonServices.h"
#include "libm9s/EncoderContract.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTableView>

#include <algorithm>

const char DefaultStatusRunText[] = "Converting file %s";

const std::vector<TRunTextKey> &RunTextKeys()
{
    static const std::vector<TRunTextKey> keys{
        {"msgStateWaiting", &TfrmMain::msgStateWaiting, "Waiting"},
        {"msgStateConverting", &TfrmMain::msgStateConverting, "Working"},
        {"msgStateDone", &TfrmMain::msgStateDone, "Done"},
        {"msgStateSkipped", &TfrmMain::msgStateSkipped, "Skipped"},
        {"msgStateFailed", &TfrmMain::msgStateFailed, "Failed"},
        {"msgStateStopped", &TfrmMain::msgStateStopped, "Stopped"},
        {"msgTimeLeft", &TfrmMain::msgTimeLeft, "about %s left"},
        {"msgStatusRunFiles", &TfrmMain::msgStatusRunFiles, "Converting %s files \u00B7 %s of %s done"},
        {"msgRunSummary", &TfrmMain::msgRunSummary, "Files converted: %s of %s, in %s."},
        {"msgMoreFailed", &TfrmMain::msgMoreFailed, "... and %s more (see details)"},
        {"msgSpanSeconds", &TfrmMain::msgSpanSeconds, "%s s"},
        {"msgSpanMinutes", &TfrmMain::msgSpanMinutes, "%s min"},
        {"msgSpanMinutesSeconds", &TfrmMain::msgSpanMinutesSeconds, "%s min %s s"},
        {"msgSpanHours", &TfrmMain::msgSpanHours, "%s h"},
        {"msgSpanHoursMinutes", &TfrmMain::msgSpanHoursMinutes, "%s h %s min"},
        {"msgStateIncomplete", &TfrmMain::msgStateIncomplete, "Incomplete"},
        {"msgStateChapter", &TfrmMain::msgStateChapter, "chapter %s of %s"},
        {"msgSourceEndsEarly", &TfrmMain::msgSourceEndsEarly, "the source ends at %s of %s"},
        {"msgOldFileKept", &TfrmMain::msgOldFileKept, "The old file was kept."},
        {"msgIncompleteFiles", &TfrmMain::msgIncompleteFiles, "Incomplete files (the source ends early): %s."},
        {"msgFailNoSound", &TfrmMain::msgFailNoSound, "The file has no sound track."},
        {"msgFailUnreadable", &TfrmMain::msgFailUnreadable, "The file is damaged or cannot be read."},
        {"msgFailAccess", &TfrmMain::msgFailAccess, "The output file may not be written there."},
        {"msgFailDiskFull", &TfrmMain::msgFailDiskFull, "The disk is full."},
        {"msgFailCannotKeep", &TfrmMain::msgFailCannotKeep,
         "This track cannot be kept as it is; choose a format to convert it."},
        {"msgFailCheck", &TfrmMain::msgFailCheck,
         "The output check failed: the file written does not hold the whole track."},
        {"msgFailOther", &TfrmMain::msgFailOther, "The conversion failed."},
        {"msgFailFolderAccess", &TfrmMain::msgFailFolderAccess, FolderFailure::AccessEnglish},
        {"msgFailFolderNotMade", &TfrmMain::msgFailFolderNotMade, FolderFailure::NotMadeEnglish},
        {"msgFailNotAFile", &TfrmMain::msgFailNotAFile, FolderFailure::NotAFileEnglish},
        {"msgFailSourceGone", &TfrmMain::msgFailSourceGone, FolderFailure::SourceGoneEnglish},
        {"msgFailNameTooLong", &TfrmMain::msgFailNameTooLong, FolderFailure::NameTooLongEnglish},
        {"msgOutputBesideSource", &TfrmMain::msgOutputBesideSource,
         "The output would have replaced its own source, so it was named %s."},
        {"msgPartKept", &TfrmMain::msgPartKept, "%s of %s kept as %s."},
        {"msgStoppedPartNote", &TfrmMain::msgStoppedPartNote, "stopped at %s"},
        {"msgRunStopped", &TfrmMain::msgRunStopped, "Conversion stopped."},
        {"msgRunSkipped", &TfrmMain::msgRunSkipped, "Skipped: %s."},
        {"msgRunFailed", &TfrmMain::msgRunFailed, "Failed: %s."},
        {"msgRunStoppedFiles", &TfrmMain::msgRunStoppedFiles, "Stopped: %s."},
        {"msgRunChapters", &TfrmMain::msgRunChapters,
         "Of these, %s written as one file per chapter (%s chapter files)."},
        {"msgStatusAudioLeft", &TfrmMain::msgStatusAudioLeft, "%s of audio left"},
        {"msgCloseDuringRun", &TfrmMain::msgCloseDuringRun,
         "Files are still being converted. Stop the conversion and quit?"},
        {"msgStopAndQuit", &TfrmMain::msgStopAndQuit, "Stop and Quit"},
        {"msgKeepConverting", &TfrmMain::msgKeepConverting, "Keep Converting"},
        {"msgShowInFolder", &TfrmMain::msgShowInFolder, "Show in Folder"},
        {"msgOutputTip", &TfrmMain::msgOutputTip, "Output: %s"},
        {"msgRunWide", &TfrmMain::msgRunWide, "For every file: %s"},
        {"msgRunWideLoudness", &TfrmMain::msgRunWideLoudness, "loudness %s"},
        {"msgRunWideChapters", &TfrmMain::msgRunWideChapters, "one file per chapter"},
        {"msgRunWideKeepFolders", &TfrmMain::msgRunWideKeepFolders, "folders kept"},
        {"msgLoudnessNotForCopy", &TfrmMain::msgLoudnessNotForCopy,
         "not for the original audio, which is not re-encoded; ReplayGain tags are"},
    };
    return keys;
}

namespace {
// Sets text unless the language file already gave one.
void DefaultText(QString &text, const char *fallback)
{
    if (text.isEmpty())
        text = QString::fromUtf8(fallback);
}

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
}

void TfrmMain::SetupConversionRun()
{
    // The status line carries file names, which may look like markup.
    ui->labelCurrentInfo->setTextFormat(Qt::PlainText);

    SetupQueueColumns();
    ConversionRun = new TConversionRun(*Queue, Probe, this);
    ConversionRun->setObjectName(QStringLiteral("ConversionRun"));
    connect(ConversionRun, &TConversionRun::FileStarted, this, [this](int row) { ShowFileStarted(row); });
    connect(ConversionRun, &TConversionRun::FileProgress, this, [this](int row, const TProgressView &view) {
        RunEstimate.FileProgress(row, view.Duration, view.Converted);
        if (view.Unmeasured())
            Queue->SetState(row, TItemState::Converting);
        else if (view.Percent > 0)
            Queue->SetState(row, TItemState::Converting, view.Percent);
        // One file at a time: the bar and the status line follow it.
        if (ConversionRun->RunningCount() <= 1 && row == ConversionRun->File().Row)
            ShowProgress(view);
        ShowRunInTitle();
    });
    connect(ConversionRun, &TConversionRun::FileFinished, this,
            [this](int row, const QString &source, TFileOutcome outcome, const TFileReport &report) {
                const QString reason = ReportText(outcome, report, ReportTexts());
                ShowFileOutcome(row, outcome, reason);
                RunEstimate.FileFinished(row, outcome == TFileOutcome::Converted);
                const QString shown = SourceOfRow(row);
                RunTally.Record(outcome, shown.isEmpty() ? source : shown, reason, report.ChapterFiles);
                ++FinishedFiles;
                ShowRunInTitle();
            });
    connect(ConversionRun, &TConversionRun::FileExistsAsked, this, &TfrmMain::AskFileExists);
    connect(ConversionRun, &TConversionRun::RunEnded, this, &TfrmMain::ShowRunEnded);
    connect(ConversionRun, &TConversionRun::RunFinished, this, &TfrmMain::ShowEndOfRun);

    // English until the language file is loaded, which replaces them all.
    DefaultText(StringStartCaption, "Convert");
    DefaultText(StringStopCaption, "Stop");
    DefaultText(msgStatusReady, "Ready");
    DefaultText(msgStatusRun, DefaultStatusRunText);
    DefaultText(msgFolderView, "Conversion finished.");
    DefaultText(msgFinishInfo, "Do you want to open the output folder?");
    DefaultText(msgNoOutputFolder, "No output folder is set. Please choose one before converting.");
    DefaultText(msgFailedFiles, "These files could not be converted:");
    for (const TRunTextKey &text : RunTextKeys())
        DefaultText(this->*text.text, text.english);
    DefaultText(msgColumnLength, "Length");
    DefaultText(msgColumnState, "State");
    ApplyQueueTexts();
}

void TfrmMain::ActionConvertNowExecute()
{
    if (ConversionRun->IsActive())
        StopConversion();
    else
        RunConversion();
}

void TfrmMain::RunConversion()
{
    // An empty queue has nothing to convert, and so nothing to report.
    if (ConversionRun->IsActive() || !ConversionRun->ConsoleIO || Queue->Count() == 0)
        return;
    const QString folder = ui->editOutputFolder->text();
    // Without a folder the targets would land in whatever folder the program
    // was started from.
    if (!IsOutputFolderSet(folder))
        throw TolvaneError(msgNoOutputFolder);
    // Read once: the run converts every file with what is chosen now.
    TRunSettings settings{folder, EncoderFolder(), CurrentOptions(), frmCommon->Settings().ParallelFiles()};
    settings.KeepFolders = frmCommon->Settings().KeepFolders();
    settings.Texts = ReportTexts();
    settings.SplitChapters = frmCommon->Settings().SplitChapters();
    FitStateColumn(settings.SplitChapters);
    RunFiles = Queue->Count();
    RunTally = TRunTally();
    RunTally.Expect(RunFiles);
    FinishedFiles = 0;
    RunEstimate.Start(RunFiles);
    for (int row = 0; row < RunFiles; ++row) {
        Queue->SetState(row, TItemState::Waiting);
        Queue->ClearOutputs(row);
        RunEstimate.FileLength(row, Queue->At(row).Facts.Duration);
    }
    RunClock.start();
    TitleBeforeRun = windowTitle();
    SetControlsEnabled(false);
    // However it ends, ShowRunEnded gives the window back; an error of the
    // first file comes up from here after that.
    ConversionRun->Start(settings);
}

// The run is over, however it ended: the controls and the title are the
// window's own again, and rows the run never took wait no more.
void TfrmMain::ShowRunEnded()
{
    RunTookMs = RunClock.isValid() ? RunClock.elapsed() : 0;
    SetControlsEnabled(true);
    RestoreTitle();
    Queue->ReplaceStates(TItemState::Waiting, TItemState::Idle);
    if (ConversionRun->WasStopped())
        ShowStoppedRun();
}

void TfrmMain::AskFileExists(const QString &target, const QString &source)
{
    if (!frmOverWrite)
        return ConversionRun->AnswerFileExists(quint8(ocAsk));
    // The run's clock stops while the user thinks, unless other files go on
    // converting meanwhile; the window says what it waits for.
    int row = -1;
    for (int i = 0; i < Queue->Count() && row < 0; ++i)
        if (Queue->At(i).Source == source)
            row = i;
    RunEstimate.Pause(ElapsedRunSeconds(), row);
    const QString waiting = frmOverWrite->windowTitle() + QStringLiteral(": ") + target;
    ui->labelCurrentInfo->setText(OneLine(waiting));
    ui->labelCurrentInfo->setToolTip(PlainToolTip(waiting));
    frmOverWrite->ShowFile(target);
    connect(
        frmOverWrite, &QDialog::finished, this,
        [this] {
            RunEstimate.Resume(ElapsedRunSeconds());
            ConversionRun->AnswerFileExists(frmOverWrite->FChoice);
        },
        Qt::SingleShotConnection);
    frmOverWrite->open();
}

double TfrmMain::ElapsedRunSeconds() const { return RunClock.isValid() ? double(RunClock.elapsed()) / 1000.0 : 0; }

void TfrmMain::ShowFileStarted(int row)
{
    ui->listViewFiles->selectRow(row);
    Queue->SetState(row, TItemState::Converting, 0);
    // The bar follows this file now: a busy bar of the last one goes.
    if (ui->progressBarCurrent->maximum() == 0) {
        ui->progressBarCurrent->setRange(0, 100);
        ui->progressBarCurrent->setValue(0);
    }
    RunEstimate.FileStarted(row);
    ShowRunInTitle();
}

// "42% · about 3 min left · Tolvane ..." while a run goes; the time left
// once the run has a speed to go by.
void TfrmMain::ShowRunInTitle()
{
    if (!RunClock.isValid())
        return;
    const TRunEstimate::TView view = RunEstimate.Estimate(ElapsedRunSeconds());
    // Several files at once: the status line and the bar tell of the whole run.
    if (ConversionRun->RunningCount() > 1) {
        const QString status =
            FormatText(msgStatusRunFiles, {QString::number(ConversionRun->RunningCount()),
                                           QString::number(FinishedFiles), QString::number(RunFiles)});
        ui->labelCurrentInfo->setText(status);
        ui->labelCurrentInfo->setToolTip(status);
        ui->progressBarCurrent->setRange(0, 100);
        ui->progressBarCurrent->setValue(std::min(view.Percent, 99));
    }
    const QString separator = QStringLiteral(" \u00B7 ");
    QString title = QString::number(view.Percent) + QLatin1Char('%') + separator;
    if (view.SecondsLeft >= 0)
        title += FormatText(msgTimeLeft, {RoughSpanText(view.SecondsLeft, SpanTexts())}) + separator;
    title += TitleBeforeRun;
    // Only a change reaches the window manager.
    if (title != windowTitle())
        setWindowTitle(title);
}

void TfrmMain::RestoreTitle()
{
    if (!RunClock.isValid())
        return;
    RunClock.invalidate();
    setWindowTitle(TitleBeforeRun);
}

TSpanTexts TfrmMain::SpanTexts() const
{
    // Each was checked when the language file loaded.
    TSpanTexts texts;
    texts.Seconds = msgSpanSeconds;
    texts.Minutes = msgSpanMinutes;
    texts.MinutesSeconds = msgSpanMinutesSeconds;
    texts.Hours = msgSpanHours;
    texts.HoursMinutes = msgSpanHoursMinutes;
    return texts;
}

// The source's path takes what room there is; its length and its state in a
// run stand narrow beside it.
void TfrmMain::SetupQueueColumns()
{
    QHeaderView *header = ui->listViewFiles->horizontalHeader();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(TFileQueueModel::FileColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(TFileQueueModel::LengthColumn, QHeaderView::Fixed);
    header->setSectionResizeMode(TFileQueueModel::StateColumn, QHeaderView::Fixed);
}

void TfrmMain::ApplyQueueTexts()
{
    if (!QueueModel)
        return;
    const QString trackTitle = AudioTrackMenu ? AudioTrackMenu->title() : QString();
    QueueModel->SetTexts({msgColumnFile, msgColumnLength, msgColumnState, msgStateWaiting, msgStateConverting,
                          msgStateDone, msgStateSkipped, msgStateFailed, msgStateStopped, msgStateIncomplete,
                          trackTitle, msgStateChapter, msgOutputTip});
    const QFontMetrics metrics = ui->listViewFiles->fontMetrics();
    ui->listViewFiles->horizontalHeader()->resizeSection(
        TFileQueueModel::LengthColumn,
        std::max(metrics.horizontalAdvance(msgColumnLength), metrics.horizontalAdvance(QStringLiteral("00:00:00")))
            + 16);
    FitStateColumn(false);
}

void TfrmMain::FitStateColumn(bool chapters)
{
    QStringList texts{msgColumnState,  QStringLiteral("100%"), msgStateWaiting, msgStateConverting, msgStateDone,
                      msgStateSkipped, msgStateFailed,         msgStateStopped, msgStateIncomplete};
    if (chapters)
        texts << FormatText(msgStateChapter, {QStringLiteral("12"), QStringLiteral("12")})
                     + QStringLiteral(" \u00B7 100%");
    const QFontMetrics metrics = ui->listViewFiles->fontMetrics();
    int width = 0;
    for (const QString &text : texts)
        width = std::max(width, metrics.horizontalAdvance(text));
    ui->listViewFiles->horizontalHeader()->resizeSection(TFileQueueModel::StateColumn, width + 16);
}

void TfrmMain::ShowFileOutcome(int row, TFileOutcome outcome, const QString &reason)
{
    switch (outcome) {
    case TFileOutcome::Converted:
        return Queue->SetState(row, TItemState::Done);
    case TFileOutcome::Failed:
        return Queue->SetState(row, TItemState::Failed, -1, reason);
    case TFileOutcome::Stopped:
        return Queue->SetState(row, TItemState::Stopped, -1, reason);
    case TFileOutcome::Skipped:
        return Queue->SetState(row, TItemState::Skipped);
    case TFileOutcome::Incomplete:
        return Queue->SetState(row, TItemState::Incomplete, -1, reason);
    }
}

TReportTexts TfrmMain::ReportTexts() const
{
    namespace Kind = EncoderContract::FailureKind;
    TReportTexts texts;
    texts.Failures = {{Kind::NoSound, msgFailNoSound},
                      {Kind::Unreadable, msgFailUnreadable},
                      {Kind::Access, msgFailAccess},
                      {Kind::DiskFull, msgFailDiskFull},
                      {Kind::CannotKeep, msgFailCannotKeep},
                      {Kind::Check, msgFailCheck},
                      {Kind::Other, msgFailOther},
                      {FolderFailure::Access, msgFailFolderAccess},
                      {FolderFailure::NotMade, msgFailFolderNotMade},
                      {FolderFailure::NotAFile, msgFailNotAFile},
                      {FolderFailure::SourceGone, msgFailSourceGone},
                      {FolderFailure::NameTooLong, msgFailNameTooLong}};
    texts.SourceEndsEarly = msgSourceEndsEarly;
    texts.OldFileKept = msgOldFileKept;
    texts.BesideSource = UsableFormatText(msgOutputBesideSource, texts.BesideSource, 1);
    texts.PartKept = UsableFormatText(msgPartKept, texts.PartKept, 3);
    texts.StoppedPartNote = UsableFormatText(msgStoppedPartNote, texts.StoppedPartNote, 1);
    texts.Chapter = msgStateChapter;
    return texts;
}

TTallyTexts TfrmMain::TallyTexts() const
{
    TTallyTexts texts;
    texts.Finished = msgFolderView;
    texts.Stopped = msgRunStopped;
    texts.Converted = msgRunSummary;
    texts.Chapters = msgRunChapters;
    texts.Skipped = msgRunSkipped;
    texts.Failed = msgRunFailed;
    texts.Incomplete = msgIncompleteFiles;
    texts.StoppedFiles = msgRunStoppedFiles;
    texts.FailedFiles = msgFailedFiles;
    texts.MoreFailed = msgMoreFailed;
    texts.OpenFolder = msgFinishInfo;
    texts.Spans = SpanTexts();
    return texts;
}

namespace {
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

void TfrmMain::ShowEndOfRun(const QString &folder, const QStringList &)
{
    ResetStatus();
    ShowPowerOffCountdownIfEnabled();
    if (ConversionRun->IsClosing())
        return;
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), QString(), QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("msgFinishInfo"));
    FillEndBox(box, RunTally.EndMessage(false, RunTookMs, TallyTexts()));
    if (box.exec() != QMessageBox::Yes)
        return;
    ShellOpen(QDir::isAbsolutePath(folder) ? folder : QDir::current().filePath(folder));
}

// After a stop the user learns what was done all the same; nothing is asked.
void TfrmMain::ShowStoppedRun()
{
    ResetStatus();
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), QString(), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("msgRunStopped"));
    FillEndBox(box, RunTally.EndMessage(true, RunTookMs, TallyTexts()));
    box.exec();
}

void TfrmMain::StopConversion()
{
    ConversionRun->StopConversion();
    ResetStatus();
}

void TfrmMain::CloseConversionRun() { ConversionRun->Close(); }

void TfrmMain::SetControlsEnabled(bool Enabled)
{
    // A run takes its format and options once, at its start: none of them
    // may change under it.
    const QList<QWidget *> widgets{ui->listViewFiles,          ui->buttonAdd,
                                   ui->buttonDelete,           ui->buttonClearAll,
                                   ui->buttonMoveUp,           ui->buttonMoveDown,
                                   ui->comboBoxAudioBitrate,   ui->comboBoxSampleRate,
                                   ui->radioButtonChannelMono, ui->radioButtonChannelStereo,
                                   ui->radioButtonFormatWAV,   ui->radioButtonFormatMP3,
                                   ui->radioButtonFormatOther, ui->comboBoxFormatOther};
    for (QWidget *widget : widgets)
        widget->setEnabled(Enabled);
    const QList<QAction *> actions{ui->ActionFileAdd,     ui->ActionFileDelete,   ui->ActionFileClearAll,
                                   ui->ActionFileMoveUp,  ui->ActionFileMoveDown, ui->ActionSetDirectory,
                                   ui->ActionFileBatchAdd};
    for (QAction *action : actions)
        action->setEnabled(Enabled);
    ui->editOutputFolder->setEnabled(Enabled);
    if (Enabled)
        ApplyFormatToControls();
    ui->ActionConvertNow->setText(Enabled ? StringStartCaption : StringStopCaption);
}

void TfrmMain::ResetStatus()
{
    ui->labelCurrentInfo->setText(msgStatusReady);
    ui->progressBarCurrent->setRange(0, 100);
    ui->progressBarCurrent->setValue(0);
}

void TfrmMain::ForceOutputFolder(const QString &Folder) { ::ForceOutputFolder(Folder); }

void TfrmMain::ConsoleIOProcessStatusChange(TConsoleIO *, bool IsRunning) { SetControlsEnabled(!IsRunning); }

QString TfrmMain::SourceOfRow(int row) const
{
    if (row < 0 || row >= Queue->Count())
        return QString();
    // A stand-in link's path means nothing to the user: the file's own name does.
    const TQueueItem &item = Queue->At(row);
    return item.Shown.isEmpty() ? item.Source : item.Shown;
}

QString TfrmMain::EncoderFolder() const { return frmCommon->AppFolder; }

void TfrmMain::ParseEncoderOutput(const QString &Text)
{
    if (ui->listViewFiles->selectionModel()->selectedRows().isEmpty())
        return;
    ShowProgress(ConversionRun->ParseEncoderOutput(Text));
}

void TfrmMain::ShowProgress(const TProgressView &view)
{
    const QModelIndexList selected = ui->listViewFiles->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    const int row = selected.first().row();
    // Without a duration no share can be shown: the bar says only that the
    // encoder works, rather than sit at 99 until the file ends.
    if (view.Unmeasured()) {
        ui->progressBarCurrent->setRange(0, 0);
    } else {
        ui->progressBarCurrent->setRange(0, 100);
        ui->progressBarCurrent->setValue(view.Percent);
    }
    // The line names the file; its tool tip the whole path. The time in it is
    // the file's audio still to convert, said as such: the title's time left
    // is the clock's, for the whole run.
    QString status = FormatText(msgStatusRun, {QStringLiteral("%1/%2").arg(row + 1).arg(Queue->Count())});
    if (!view.Unmeasured())
        status += QStringLiteral(" \u00B7 ") + FormatText(msgStatusAudioLeft, {view.LeftClock});
    status += QStringLiteral(" \u00B7 ");
    const QString source = SourceOfRow(row);
    // A name longer than the line loses its middle, so its start and its extension stay in sight.
    const QFontMetrics metrics = ui->labelCurrentInfo->fontMetrics();
    const int room = ui->labelCurrentInfo->contentsRect().width() - metrics.horizontalAdvance(status);
    const QString name = OneLine(FileNamePart(source));
    ui->labelCurrentInfo->setText(OneLine(status) + metrics.elidedText(name, Qt::ElideMiddle, std::max(room, 0)));
    ui->labelCurrentInfo->setToolTip(PlainToolTip(status + source));
}
