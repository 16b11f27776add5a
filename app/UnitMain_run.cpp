#include "UnitMain.h"
#include "ui_UnitMain.h"

#include "ConsoleIO.h"
#include "EncoderCommand.h"
#include "EncoderContract.h"
#include "EncoderOutput.h"
#include "ErrorReport.h"
#include "KeptOriginal.h"
#include "OutputFiles.h"
#include "OutputNames.h"
#include "TolvaneError.h"
#include "UnitCloseWindows.h"
#include "UnitOverWrite.h"
#include "Unit_common.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTableWidgetItem>
#include <QTextDocument>

const char DefaultStatusRunText[] = "Converting file %s";

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

// Keeps a flag set while a scope runs, however it is left.
class TFlagGuard
{
public:
    explicit TFlagGuard(bool &flag) : m_flag(flag) { m_flag = true; }
    ~TFlagGuard() { m_flag = false; }
    TFlagGuard(const TFlagGuard &) = delete;
    TFlagGuard &operator=(const TFlagGuard &) = delete;

private:
    bool &m_flag;
};
}

void TfrmMain::SetupConversionRun()
{
    FOverwriteChoice = ocAsk;
    FContinue = true;

    // The status line carries file names, which may look like markup.
    ui->labelCurrentInfo->setTextFormat(Qt::PlainText);

    ConsoleIO = new TConsoleIO(this);
    ConsoleIO->setObjectName(QStringLiteral("ConsoleIO"));
    ConsoleIO->TerminateCommand = QByteArray(EncoderContract::StopCommand);
    ConsoleIO->SplitMode = TSplitMode::smSplitchar;
    ConsoleIO->SplitChar = EncoderContract::LineEnd;
    ConsoleIO->WaitTimeout = 1000;
    ConsoleIO->EnableKill = true;
    ConsoleIO->StopProcessOnFree = true;
    connect(ConsoleIO, &TConsoleIO::OnReceiveOutput, this, &TfrmMain::ConsoleIOReceiveOutput);
    connect(ConsoleIO, &TConsoleIO::OnReceiveError, this, &TfrmMain::ConsoleIOReceiveError);
    connect(ConsoleIO, &TConsoleIO::OnProcessStatusChange, this, &TfrmMain::ConsoleIOProcessStatusChange);

    // English until the language file is loaded, which replaces them all.
    DefaultText(StringStartCaption, "Convert");
    DefaultText(StringStopCaption, "Stop");
    DefaultText(msgStatusReady, "Ready");
    DefaultText(msgStatusRun, DefaultStatusRunText);
    DefaultText(msgFolderView, "Conversion finished.");
    DefaultText(msgFinishInfo, "Do you want to open the output folder?");
    DefaultText(msgNoOutputFolder, "No output folder is set. Please choose one before converting.");
    DefaultText(msgFailedFiles, "These files could not be converted:");
}

void TfrmMain::ActionConvertNowExecute()
{
    if (ConsoleIO && ConsoleIO->IsRunning())
        StopConversion();
    else if (!m_runActive) // a click between two files of a run starts nothing
        RunConversion();
}

void TfrmMain::RunConversion()
{
    if (m_runActive || !ConsoleIO)
        return;
    m_closing = false;
    QString folder = ui->editOutputFolder->text();
    // Without a folder the targets would land in whatever folder the program
    // was started from.
    if (!IsOutputFolderSet(folder))
        throw TolvaneError(msgNoOutputFolder);

    const TFlagGuard active(m_runActive);
    FContinue = true;
    m_failedSources.clear();
    m_writtenThisRun.clear();
    ForceOutputFolder(folder);
    // What a crashed run of another program left here goes back first.
    RecoverKeptOriginals(folder);

    QTableWidget *list = ui->listViewFiles;
    const int count = list->rowCount();
    for (int i = 0; i < count; ++i) {
        if (!FContinue || m_closing)
            return;
        if (i >= list->rowCount())
            break; // rows removed while the controls were enabled

        list->selectRow(i);
        const QTableWidgetItem *item = list->item(i, 0);
        const QString source = item ? item->text() : QString();
        // A missing source leaves the input out: the encoder fails on its own.
        const QString inputFile = QFileInfo::exists(source) ? source : QString();

        folder = WithTrailingSlash(folder);
        const QString target = ResolveTargetFile(OutputFilePath(folder, source, GetOutputExt()));
        // The question is modal and runs its own event loop: a close or stop
        // that came meanwhile must not start another file.
        if (!FContinue || m_closing)
            return;
        if (target.isEmpty())
            continue;

        // An existing file is moved aside, not emptied: it comes back unless
        // the encoder leaves something better in its place.
        TKeptOriginal original(target);
        WritePlaceholder(target);
        m_writtenThisRun.insert(target);
        const TEncoderCommand command = BuildEncoderCommand(inputFile, target);
        FDuration = 0;
        FMaxTime = 0;
        try {
            ConsoleIO->StartProcess(command.Program, command.Arguments, QString(), false);
        } catch (...) {
            if (!original.IsHeld())
                RemoveBarePlaceholder(target);
            throw; // a kept original goes back as it leaves scope
        }

        // Sleeps until the next event: the encoder's output, its end or the
        // user; nothing is polled.
        while (ConsoleIO && ConsoleIO->IsRunning())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const bool stopped = !FContinue || m_closing || !ConsoleIO;
        const bool failed = !stopped && ConsoleIO->LastExitCode() != EncoderContract::ExitDone;
        const bool neverWritten = SettleTarget(target, original, stopped, failed);
        if (m_closing || !ConsoleIO)
            return;
        // A stopped file is not a failure.
        if (FContinue && (neverWritten || failed))
            m_failedSources.append(source);
    }
    // A stop during the last file ends the run like one during any other:
    // without the countdown and the end message.
    if (!FContinue)
        return;

    ResetStatus();
    FContinue = true;
    ShowPowerOffCountdownIfEnabled();
    if (m_closing)
        return;
    ShowEndOfRun(folder);
}

bool TfrmMain::SettleTarget(const QString &target, TKeptOriginal &original, bool stopped, bool failed)
{
    // A target still holding only the placeholder was never written: an
    // encoder that failed, or one killed by a stop before its first bytes.
    // Whatever the encoder did write stays as it left it, unless it only
    // stands in the way of the file it was to replace.
    if (!original.IsHeld())
        return RemoveBarePlaceholder(target);
    const QFileInfo info(target);
    const bool holdsAudio = info.exists() && !IsBarePlaceholder(target);
    const TEncoderEnd end = stopped ? TEncoderEnd::Stopped : failed ? TEncoderEnd::Failed : TEncoderEnd::Succeeded;
    if (ReplacementWins(end, holdsAudio)) {
        original.Discard();
    } else {
        original.Restore();
        m_writtenThisRun.remove(target); // the user's file again, not the run's
    }
    return !holdsAudio;
}

void TfrmMain::ShowEndOfRun(const QString &folder)
{
    QString text = msgFolderView + QStringLiteral("\r\n\r\n") + msgFinishInfo;
    if (!m_failedSources.isEmpty())
        text += QStringLiteral("\r\n\r\n") + msgFailedFiles + QStringLiteral("\r\n")
                + m_failedSources.join(QStringLiteral("\r\n"));
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("msgFinishInfo"));
    if (box.exec() != QMessageBox::Yes)
        return;
    ShellOpen(QDir::isAbsolutePath(folder) ? folder : QDir::current().filePath(folder));
}

void TfrmMain::StopConversion()
{
    FContinue = false;
    if (ConsoleIO)
        ConsoleIO->StopProcess();
    ResetStatus();
}

void TfrmMain::CloseConversionRun()
{
    if (!m_runActive)
        return;
    // The waiting run sees this and ends without another file or message.
    m_closing = true;
    FContinue = false;
    if (ConsoleIO && ConsoleIO->IsRunning()) {
        ConsoleIO->StopProcess();
        // Released: nothing of this run may reach the window any more. The
        // object itself goes once control is back in the event loop, since
        // the close may have been reached from inside one of its own events.
        ConsoleIO->disconnect(this);
        ConsoleIO->deleteLater();
        ConsoleIO = nullptr;
    }
}

void TfrmMain::SetControlsEnabled(bool Enabled)
{
    const QList<QWidget *> widgets{ui->listViewFiles,          ui->buttonAdd,          ui->buttonDelete,
                                   ui->buttonClearAll,         ui->buttonMoveUp,       ui->buttonMoveDown,
                                   ui->comboBoxAudioBitrate,   ui->comboBoxSampleRate, ui->radioButtonChannelMono,
                                   ui->radioButtonChannelStereo};
    for (QWidget *widget : widgets)
        widget->setEnabled(Enabled);
    const QList<QAction *> actions{ui->ActionFileAdd,      ui->ActionFileDelete,   ui->ActionFileClearAll,
                                   ui->ActionFileMoveUp,   ui->ActionFileMoveDown, ui->ActionSetDirectory,
                                   ui->ActionFileBatchAdd};
    for (QAction *action : actions)
        action->setEnabled(Enabled);
    ui->editOutputFolder->setEnabled(Enabled);
    ui->ActionConvertNow->setText(Enabled ? StringStartCaption : StringStopCaption);
}

void TfrmMain::ResetStatus()
{
    ui->labelCurrentInfo->setText(msgStatusReady);
    ui->progressBarCurrent->setValue(0);
}

void TfrmMain::ForceOutputFolder(const QString &Folder)
{
    ::ForceOutputFolder(Folder);
}

QString TfrmMain::ResolveTargetFile(const QString &Path)
{
    return ::ResolveTargetFile(
        Path, FOverwriteChoice,
        [] {
            if (!frmOverWrite)
                return quint8(ocAsk);
            frmOverWrite->exec();
            return frmOverWrite->FChoice;
        },
        m_writtenThisRun);
}

void TfrmMain::ConsoleIOProcessStatusChange(TConsoleIO *, bool IsRunning)
{
    SetControlsEnabled(!IsRunning);
}

void TfrmMain::ConsoleIOReceiveOutput(TConsoleIO *, const QByteArray &Cmd)
{
    // After a stop the status line stays at "ready" whatever the encoder still says.
    if (FContinue)
        ParseEncoderOutput(QString::fromUtf8(Cmd));
}

void TfrmMain::ConsoleIOReceiveError(TConsoleIO *, const QByteArray &Cmd)
{
    if (FContinue)
        ParseEncoderOutput(QString::fromUtf8(Cmd));
}

void TfrmMain::ParseEncoderOutput(const QString &Text)
{
    const QModelIndexList selected = ui->listViewFiles->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    const int row = selected.first().row();
    const QTableWidgetItem *item = ui->listViewFiles->item(row, 0);
    const QString current = item ? item->text() : QString();

    // Values read before a bad one are kept, as the display of this chunk is dropped.
    TProgressState state{FDuration, FMaxTime};
    TProgressView view;
    try {
        view = ReadProgressChunk(Text, state);
    } catch (...) {
        FDuration = state.Duration;
        FMaxTime = state.MaxTime;
        throw;
    }
    FDuration = state.Duration;
    FMaxTime = state.MaxTime;

    ui->progressBarCurrent->setValue(view.Percent);
    const QString status =
        ProgressStatusText(msgStatusRun, row + 1, ui->listViewFiles->rowCount(), view.EndClock, current);
    ui->labelCurrentInfo->setText(OneLine(status));
    ui->labelCurrentInfo->setToolTip(PlainToolTip(status));
}
