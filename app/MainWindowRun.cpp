#include "app/MainWindow.h"
#include "ui_MainWindow.h"

#include "common/ErrorReport.h"
#include "common/Settings.h"
#include "common/TolvaneError.h"
#include "console/ConsoleIO.h"
#include "conversion/OutputFiles.h"
#include "conversion/OutputNames.h"
#include "dialogs/FileExistsDialog.h"
#include "dialogs/PowerOffCountdown.h"
#include "gui/CommonServices.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTableWidgetItem>
#include <QTextDocument>

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
        {"msgRunSummary", &TfrmMain::msgRunSummary, "Files converted: %s of %s, in %s."},
        {"msgMoreFailed", &TfrmMain::msgMoreFailed, "... and %s more (see details)"},
        {"msgSpanSeconds", &TfrmMain::msgSpanSeconds, "%s s"},
        {"msgSpanMinutes", &TfrmMain::msgSpanMinutes, "%s min"},
        {"msgSpanMinutesSeconds", &TfrmMain::msgSpanMinutesSeconds, "%s min %s s"},
        {"msgSpanHours", &TfrmMain::msgSpanHours, "%s h"},
        {"msgSpanHoursMinutes", &TfrmMain::msgSpanHoursMinutes, "%s h %s min"},
    };
    return keys;
}

// The main text names this many failed files at most; the detail area has them all.
const int FailedFilesShown = 10;

namespace {
// Sets text unless the language file already gave one.
void DefaultText(QString &text, const char *fallback)
{
    if (text.isEmpty())
        text = QString::fromUtf8(fallback);
}

// Tool tips render anything that looks like markup as rich text; a file
// named "<b>x</b>.avi" must still show its name as it is.
QString PlainToolTip(const QString &text)
{
    if (!Qt::mightBeRichText(text))
        return text;
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
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

    SetupStateColumn();
    ConversionRun = new TConversionRun(*this, this);
    ConversionRun->setObjectName(QStringLiteral("ConversionRun"));
    connect(ConversionRun, &TConversionRun::FileStarted, this, [this](int row) { ShowFileStarted(row); });
    connect(ConversionRun, &TConversionRun::FileProgress, this, [this](int row, const TProgressView &view) {
        RunEstimate.FileProgress(row, view.Duration, view.Converted);
        if (view.Unmeasured())
            SetRowState(row, msgStateConverting);
        else if (view.Percent > 0)
            SetRowState(row, QStringLiteral("%1%").arg(view.Percent));
        // The bar and the status line follow the file that started last.
        if (row == ConversionRun->File().Row)
            ShowProgress(view);
        ShowRunInTitle();
    });
    connect(ConversionRun, &TConversionRun::EncoderRunningChanged, this,
            [this](bool running) { ConsoleIOProcessStatusChange(ConversionRun->ConsoleIO, running); });
    connect(ConversionRun, &TConversionRun::FileFinished, this,
            [this](int row, const QString &source, TFileOutcome outcome, const QString &lastErrorLine) {
                ShowFileOutcome(row, outcome, lastErrorLine);
                RunEstimate.FileFinished(row, outcome == TFileOutcome::Converted);
                ConvertedFiles += outcome == TFileOutcome::Converted ? 1 : 0;
                ShowRunInTitle();
                if (outcome == TFileOutcome::Failed)
                    FailureReasons << source.mid(source.lastIndexOf(QLatin1Char('/')) + 1) + QStringLiteral(": ")
                                          + lastErrorLine;
            });
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
    SizeStateColumn();
}

void TfrmMain::ActionConvertNowExecute()
{
    if (ConversionRun->IsEncoderRunning())
        StopConversion();
    else if (!ConversionRun->IsActive()) // a click between two files of a run starts nothing
        RunConversion();
}

void TfrmMain::RunConversion()
{
    if (ConversionRun->IsActive() || !ConversionRun->ConsoleIO)
        return;
    const QString folder = ui->editOutputFolder->text();
    // Without a folder the targets would land in whatever folder the program
    // was started from.
    if (!IsOutputFolderSet(folder))
        throw TolvaneError(msgNoOutputFolder);
    ConversionRun->ParallelFiles = frmCommon->Settings().ParallelFiles();
    FailureReasons.clear();
    ResetRowStates(msgStateWaiting);
    RunFiles = RowCount();
    ConvertedFiles = 0;
    RunEstimate.Start(RunFiles);
    RunClock.start();
    TitleBeforeRun = windowTitle();
    // However the run ends (through, stopped, closed or by an error) the
    // title is the window's own again, and rows the run never took wait no more.
    const auto restore = qScopeGuard([this] {
        RestoreTitle();
        for (int row = 0; row < RowCount(); ++row)
            if (const QTableWidgetItem *item = ui->listViewFiles->item(row, 1); item && item->text() == msgStateWaiting)
                SetRowState(row, QString());
    });
    ConversionRun->Run(folder);
}

void TfrmMain::ShowFileStarted(int row)
{
    ui->listViewFiles->selectRow(row);
    SetRowState(row, QStringLiteral("0%"));
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
    const TRunEstimate::TView view = RunEstimate.Estimate(double(RunClock.elapsed()) / 1000.0);
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

// The queue's second, narrow column: how each file of the run fares. The
// first column keeps the source path alone.
void TfrmMain::SetupStateColumn()
{
    QTableWidget *list = ui->listViewFiles;
    list->setColumnCount(2);
    list->setHorizontalHeaderItem(1, new QTableWidgetItem(QString()));
    QHeaderView *header = list->horizontalHeader();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    header->setSectionResizeMode(1, QHeaderView::Fixed);
    SizeStateColumn();
}

void TfrmMain::SizeStateColumn()
{
    QTableWidget *list = ui->listViewFiles;
    const QFontMetrics metrics = list->fontMetrics();
    int widest = metrics.horizontalAdvance(QStringLiteral("100%"));
    for (const QString *state :
         {&msgStateWaiting, &msgStateConverting, &msgStateDone, &msgStateSkipped, &msgStateFailed, &msgStateStopped})
        widest = std::max(widest, metrics.horizontalAdvance(*state));
    list->horizontalHeader()->resizeSection(1, widest + 16);
}

void TfrmMain::SetRowState(int row, const QString &state, const QString &toolTip)
{
    QTableWidget *list = ui->listViewFiles;
    if (row < 0 || row >= list->rowCount())
        return;
    QTableWidgetItem *item = list->item(row, 1);
    if (!item) {
        item = new QTableWidgetItem;
        item->setTextAlignment(Qt::AlignCenter);
        list->setItem(row, 1, item);
    }
    item->setText(state);
    item->setToolTip(PlainToolTip(toolTip));
}

void TfrmMain::ResetRowStates(const QString &state)
{
    for (int row = 0; row < ui->listViewFiles->rowCount(); ++row)
        SetRowState(row, state);
}

void TfrmMain::ShowFileOutcome(int row, TFileOutcome outcome, const QString &lastErrorLine)
{
    switch (outcome) {
    case TFileOutcome::Converted:
        return SetRowState(row, msgStateDone);
    case TFileOutcome::Failed:
        return SetRowState(row, msgStateFailed, lastErrorLine);
    case TFileOutcome::Stopped:
        return SetRowState(row, msgStateStopped);
    case TFileOutcome::Skipped:
        return SetRowState(row, msgStateSkipped);
    }
}

void TfrmMain::ShowEndOfRun(const QString &folder, const QStringList &failedSources)
{
    const qint64 seconds = RunClock.isValid() ? RunClock.elapsed() / 1000 : 0;
    RestoreTitle();
    ResetStatus();
    ShowPowerOffCountdownIfEnabled();
    if (ConversionRun->IsClosing())
        return;
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), EndOfRunText(failedSources),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("msgFinishInfo"));
    box.setInformativeText(FormatText(
        msgRunSummary, {QString::number(ConvertedFiles), QString::number(RunFiles), SpanText(seconds, SpanTexts())}));
    // Why each file failed goes into the scrollable detail area, so a long
    // list never grows the box off the screen.
    if (!FailureReasons.isEmpty())
        box.setDetailedText(FailureReasons.join(QLatin1Char('\n')));
    if (box.exec() != QMessageBox::Yes)
        return;
    ShellOpen(QDir::isAbsolutePath(folder) ? folder : QDir::current().filePath(folder));
}

QString TfrmMain::EndOfRunText(const QStringList &failedSources) const
{
    QString text = msgFolderView + QStringLiteral("\r\n\r\n") + msgFinishInfo;
    if (failedSources.isEmpty())
        return text;
    // A long list would grow the box off the screen: the main text names
    // the first few, the detail area all of them.
    text += QStringLiteral("\r\n\r\n") + msgFailedFiles + QStringLiteral("\r\n")
            + failedSources.mid(0, FailedFilesShown).join(QStringLiteral("\r\n"));
    if (failedSources.size() > FailedFilesShown)
        text += QStringLiteral("\r\n")
                + FormatText(msgMoreFailed, {QString::number(failedSources.size() - FailedFilesShown)});
    return text;
}

void TfrmMain::StopConversion()
{
    ConversionRun->StopConversion();
    ResetStatus();
}

void TfrmMain::CloseConversionRun() { ConversionRun->Close(); }

void TfrmMain::SetControlsEnabled(bool Enabled)
{
    const QList<QWidget *> widgets{ui->listViewFiles,           ui->buttonAdd,          ui->buttonDelete,
                                   ui->buttonClearAll,          ui->buttonMoveUp,       ui->buttonMoveDown,
                                   ui->comboBoxAudioBitrate,    ui->comboBoxSampleRate, ui->radioButtonChannelMono,
                                   ui->radioButtonChannelStereo};
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

QString TfrmMain::ResolveTargetFile(const QString &Path) { return ConversionRun->ResolveTargetFile(Path); }

void TfrmMain::ConsoleIOProcessStatusChange(TConsoleIO *, bool IsRunning) { SetControlsEnabled(!IsRunning); }

int TfrmMain::RowCount() const { return ui->listViewFiles->rowCount(); }

QString TfrmMain::SourceOfRow(int row) const
{
    const QTableWidgetItem *item = ui->listViewFiles->item(row, 0);
    return item ? item->text() : QString();
}

QString TfrmMain::EncoderFolder() const { return frmCommon->AppFolder; }

quint8 TfrmMain::AskFileExists(const QString &)
{
    if (!frmOverWrite)
        return quint8(ocAsk);
    frmOverWrite->exec();
    return frmOverWrite->FChoice;
}

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
    const QString status =
        ProgressStatusText(msgStatusRun, row + 1, ui->listViewFiles->rowCount(), view.EndClock, SourceOfRow(row));
    ui->labelCurrentInfo->setText(OneLine(status));
    ui->labelCurrentInfo->setToolTip(PlainToolTip(status));
}
