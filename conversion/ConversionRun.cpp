#include "conversion/ConversionRun.h"

#include "console/ConsoleIO.h"
#include "conversion/AudioTracks.h"
#include "conversion/OutputFiles.h"
#include "conversion/OutputNames.h"
#include "conversion/TemporaryOutput.h"
#include "encoder/libm9s/EncoderContract.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>

// One file goes through these steps, top to bottom:
//   StartRow        takes the row and its source
//   ResolveTarget   the output name, after the file-exists question
//   PrepareOutput   a new target gets the placeholder, so it exists from the
//                   moment its name is chosen; an existing one is left alone
//                   and the encoder writes a hidden file beside it
//   StartEncoder    libm9s with the owner's options of this moment
//   WaitForAnEncoder the event loop runs until an encoder ended
//   FinishFile      a complete, checked hidden file takes the target's name;
//                   anything less is dropped and the old file stays

namespace {
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

// Progress reports and the other marker lines all share this stem; none of
// them is a message for the user.
bool IsMarkerLine(const QString &line) { return line.contains(QLatin1String("ffmpeg_release_")); }

// Enough of the end of the error output to hold a marker line cut in two chunks.
constexpr qsizetype MarkerTailLength = 4096;

QString WriteFailureKind(int code)
{
    switch (code) {
    case EACCES:
    case EPERM:
    case EROFS:
        return QLatin1String(EncoderContract::FailureKind::Access);
    case ENOSPC:
    case EDQUOT:
        return QLatin1String(EncoderContract::FailureKind::DiskFull);
    default:
        return QLatin1String(EncoderContract::FailureKind::Other);
    }
}

void FailWithWriteError(TFileReport &report, const TFileWriteError &error)
{
    report.Detail = error.text();
    report.FailureKind = WriteFailureKind(error.Code);
}
}

TConversionRun::TConversionRun(IConversionOwner &owner, QObject *parent) : QObject(parent), m_owner(owner)
{
    FOverwriteChoice = ocAsk;
    ConsoleIO = NewConsoleIO();
    ConsoleIO->setObjectName(QStringLiteral("ConsoleIO"));
    m_slots.resize(1);
    m_slots[0].Io = ConsoleIO;
}

TConversionRun::~TConversionRun() = default;

TConsoleIO *TConversionRun::NewConsoleIO()
{
    auto *io = new TConsoleIO(this);
    io->TerminateCommand = QByteArray(EncoderContract::StopCommand);
    io->SplitMode = TSplitMode::smSplitchar;
    io->SplitChar = EncoderContract::LineEnd;
    io->WaitTimeout = 1000;
    io->EnableKill = true;
    io->StopProcessOnFree = true;
    connect(io, &TConsoleIO::OnReceiveOutput, this, &TConversionRun::ReceiveOutput);
    connect(io, &TConsoleIO::OnReceiveError, this, &TConversionRun::ReceiveError);
    connect(io, &TConsoleIO::OnProcessStatusChange, this, &TConversionRun::ProcessStatusChanged);
    return io;
}

bool TConversionRun::IsEncoderRunning() const { return RunningCount() > 0; }

int TConversionRun::RunningCount() const
{
    int running = 0;
    for (const TSlot &slot : m_slots)
        running += slot.Io && slot.Io->IsRunning() ? 1 : 0;
    return running;
}

const TRunningFile &TConversionRun::File() const { return m_slots[size_t(m_lastStarted)].File; }

bool TConversionRun::Run(QString folder)
{
    if (m_runActive || !ConsoleIO)
        return false;
    m_closing = false;
    const TFlagGuard active(m_runActive);
    FContinue = true;
    m_failedSources.clear();
    m_writtenThisRun.clear();
    // Encoders beyond the first are made when a run needs them and stay.
    const size_t wanted = size_t(std::clamp(ParallelFiles, 1, 64));
    while (m_slots.size() < wanted)
        m_slots.emplace_back().Io = NewConsoleIO();
    for (size_t i = wanted; i < m_slots.size(); ++i)
        m_slots[i].Io->deleteLater();
    m_slots.resize(wanted);
    ForceOutputFolder(folder);
    // What a run of a program that died left here goes first.
    RemoveDeadTemporaries(folder);

    const int count = m_owner.RowCount();
    int row = 0;
    try {
        for (;;) {
            // Rows are taken top to bottom into every free encoder; each
            // target is resolved (and perhaps asked about) before the next.
            for (TSlot *slot = FreeSlot(); slot && !Interrupted() && row < count; slot = FreeSlot()) {
                if (row >= m_owner.RowCount())
                    break; // rows removed while the controls were enabled
                folder = WithTrailingSlash(folder);
                StartRow(*slot, row++, folder);
            }
            if (!AnyBusy())
                break;
            WaitForAnEncoder();
            if (!FinishEndedFiles())
                return false;
        }
    } catch (...) {
        // An encoder that cannot start ends the run: the others stop and
        // their files are settled before the error goes up.
        StopConversion();
        while (AnyBusy()) {
            WaitForAnEncoder();
            FinishEndedFiles();
        }
        throw;
    }
    // A stop during the last file ends the run like one during any other:
    // without the end report.
    if (Interrupted())
        return false;
    FContinue = true;
    emit RunFinished(folder, m_failedSources);
    return true;
}

TConversionRun::TSlot *TConversionRun::FreeSlot()
{
    for (TSlot &slot : m_slots)
        if (slot.Io && !slot.Busy())
            return &slot;
    return nullptr;
}

bool TConversionRun::AnyBusy() const
{
    return std::any_of(m_slots.begin(), m_slots.end(), [](const TSlot &slot) { return slot.Busy(); });
}

bool TConversionRun::StartRow(TSlot &slot, int row, const QString &folder)
{
    slot.File = TRunningFile{};
    slot.File.Row = row;
    slot.File.Source = m_owner.SourceOfRow(row);
    m_lastStarted = int(&slot - m_slots.data());
    emit FileStarted(row, slot.File.Source);

    const bool named = ResolveTarget(slot.File, folder);
    // The question is modal and runs its own event loop: a close or stop
    // that came meanwhile must not start another file.
    if (Interrupted())
        return false;
    if (!named) {
        emit FileFinished(row, slot.File.Source, TFileOutcome::Skipped, slot.File.Report);
        return false;
    }

    try {
        PrepareOutput(slot.File);
    } catch (const TFileWriteError &error) {
        // This file cannot be written; the next may well be (another name,
        // a folder made meanwhile), so the run goes on.
        FailWithWriteError(slot.File.Report, error);
        m_failedSources.append(slot.File.Source);
        emit FileFinished(row, slot.File.Source, TFileOutcome::Failed, slot.File.Report);
        return false;
    }
    // From here the target is reserved: another file of this run that
    // wants the same name gets a new one.
    m_writtenThisRun.insert(slot.File.Target);
    slot.Working = true;
    StartEncoder(slot);
    return true;
}

void TConversionRun::PrepareOutput(TRunningFile &file)
{
    const QFileInfo info(file.Target);
    if (!info.isFile()) {
        WritePlaceholder(file.Target);
        file.Output = file.Target;
        return;
    }
    m_owner.RememberTemporaryFolder(info.absolutePath());
    file.Output = CreateTemporaryBeside(file.Target);
}

bool TConversionRun::ResolveTarget(TRunningFile &file, const QString &folder)
{
    const TOutputOptions options = m_owner.CurrentOptions();
    const TOutputPlan plan = PlanOutput(options.Extension, m_owner.AudioTrackOfRow(file.Row), options.PreferredLanguage,
                                        [&] { return ProbeAudioTracks(m_owner.EncoderFolder(), file.Source); });
    file.AudioTrack = plan.AudioTrack;
    const QString path = OutputFilePath(folder, file.Source, plan.Extension);
    file.Target = ResolveTargetFile(path);
    return !file.Target.isEmpty();
}

void TConversionRun::StartEncoder(TSlot &slot)
{
    // A missing source leaves the input out: the encoder fails on its own.
    const QString inputFile = QFileInfo::exists(slot.File.Source) ? slot.File.Source : QString();
    const TEncoderCommand command = BuildEncoderCommand(inputFile, slot.File.Output, slot.File.AudioTrack);
    try {
        slot.Io->StartProcess(command.Program, command.Arguments, QString(), false);
    } catch (...) {
        DropOutput(slot.File);
        slot.Working = false;
        throw;
    }
}

void TConversionRun::WaitForAnEncoder()
{
    // Sleeps until the next event: an encoder's output, its end or the
    // user; nothing is polled.
    const auto ended = [this] {
        return std::any_of(m_slots.begin(), m_slots.end(),
                           [](const TSlot &slot) { return slot.Busy() && !(slot.Io && slot.Io->IsRunning()); });
    };
    while (!ended())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

bool TConversionRun::FinishEndedFiles()
{
    for (TSlot &slot : m_slots) {
        if (!slot.Busy() || (slot.Io && slot.Io->IsRunning()))
            continue;
        const TFileOutcome outcome = FinishFile(slot);
        slot.Working = false;
        if (!m_closing)
            emit FileFinished(slot.File.Row, slot.File.Source, outcome, slot.File.Report);
    }
    return !m_closing && ConsoleIO;
}

TFileOutcome TConversionRun::FinishFile(TSlot &slot)
{
    TRunningFile &file = slot.File;
    if (file.Report.Detail.isEmpty())
        file.Report.Detail = file.LastErrorLine;
    // A stopped file is not a failure.
    if (Interrupted() || !slot.Io) {
        DropOutput(file);
        return TFileOutcome::Stopped;
    }
    TFileOutcome outcome = TFileOutcome::Failed;
    if (slot.Io->LastExitCode() == EncoderContract::ExitDone) {
        outcome = SettleOutput(file);
    } else {
        DropOutput(file);
        if (file.Report.FailureKind.isEmpty())
            file.Report.FailureKind = QLatin1String(EncoderContract::FailureKind::Other);
    }
    if (outcome == TFileOutcome::Failed)
        m_failedSources.append(file.Source);
    return outcome;
}

TFileOutcome TConversionRun::SettleOutput(TRunningFile &file)
{
    // A success that left no audio is none: the output was never written,
    // or went with its folder.
    if (!HoldsOutput(file.Output)) {
        file.Report.FailureKind = QLatin1String(EncoderContract::FailureKind::Check);
        DropOutput(file);
        return TFileOutcome::Failed;
    }
    // All the source held, but less than it claims: worth keeping as a new
    // file, never in place of one the user had.
    if (file.SourceEndsEarly) {
        if (file.Replaces())
            DropOutput(file);
        return TFileOutcome::Incomplete;
    }
    if (!file.Replaces())
        return TFileOutcome::Converted;
    try {
        CommitTemporary(file.Output, file.Target);
    } catch (const TFileWriteError &error) {
        FailWithWriteError(file.Report, error);
        DropOutput(file);
        return TFileOutcome::Failed;
    }
    return TFileOutcome::Converted;
}

void TConversionRun::DropOutput(TRunningFile &file)
{
    // A new target keeps what the encoder wrote; only a bare placeholder,
    // never written, goes.
    if (!file.Replaces()) {
        RemoveBarePlaceholder(file.Target);
        return;
    }
    QFile::remove(file.Output);
    file.Report.OldKept = true;
    m_writtenThisRun.remove(file.Target); // the user's file still, not the run's
}

void TConversionRun::StopConversion()
{
    FContinue = false;
    RequestStopAll();
    for (TSlot &slot : m_slots)
        if (slot.Io)
            slot.Io->StopProcess();
}

void TConversionRun::RequestStopAll()
{
    // Every encoder is told before any is waited for: they end together
    // instead of one after another.
    for (TSlot &slot : m_slots)
        if (slot.Io)
            slot.Io->RequestStop();
}

void TConversionRun::Close()
{
    if (!m_runActive)
        return;
    // The waiting run sees this and ends without another file or report.
    m_closing = true;
    FContinue = false;
    RequestStopAll();
    for (TSlot &slot : m_slots) {
        if (!slot.Io || !slot.Io->IsRunning())
            continue;
        slot.Io->StopProcess();
        // Released: nothing of this run may reach the owner any more. The
        // object itself goes once control is back in the event loop, since
        // the close may have been reached from inside one of its own events.
        slot.Io->disconnect(this);
        slot.Io->deleteLater();
        if (slot.Io == ConsoleIO)
            ConsoleIO = nullptr;
        slot.Io = nullptr;
    }
}

void TConversionRun::ProcessStatusChanged()
{
    const bool running = IsEncoderRunning();
    if (running == m_reportedRunning)
        return;
    m_reportedRunning = running;
    emit EncoderRunningChanged(running);
}

TEncoderCommand TConversionRun::BuildEncoderCommand(const QString &Source, const QString &Target, int AudioTrack)
{
    const TOutputOptions options = m_owner.CurrentOptions();
    return ::BuildEncoderCommand(FFMpeg, m_owner.EncoderFolder(), Source, Target, options.Extension, options.Bitrate,
                                 options.SampleRate, options.Channels, AudioTrack, options.VerifyOutput, options.Loudness);
}

QString TConversionRun::ResolveTargetFile(const QString &Path)
{
    return ::ResolveTargetFile(
        Path, FOverwriteChoice, [this, &Path] { return m_owner.AskFileExists(Path); }, m_writtenThisRun);
}

TProgressView TConversionRun::ParseEncoderOutput(const QString &Text)
{
    return ParseInto(m_slots[size_t(m_lastStarted)].File, Text);
}

TProgressView TConversionRun::ParseInto(TRunningFile &file, const QString &Text)
{
    // Values read before a bad one are kept, as the display of this chunk is dropped.
    TProgressState state{file.FDuration, file.FMaxTime};
    TProgressView view;
    try {
        view = ReadProgressChunk(Text, state);
    } catch (...) {
        file.FDuration = state.Duration;
        file.FMaxTime = state.MaxTime;
        throw;
    }
    file.FDuration = state.Duration;
    file.FMaxTime = state.MaxTime;
    return view;
}

TConversionRun::TSlot *TConversionRun::SlotOf(const TConsoleIO *io)
{
    for (TSlot &slot : m_slots)
        if (slot.Io == io && slot.Busy())
            return &slot;
    return nullptr;
}

void TConversionRun::ReceiveOutput(TConsoleIO *Sender, const QByteArray &Cmd)
{
    TSlot *slot = SlotOf(Sender);
    // After a stop nothing more of this file is reported.
    if (!FContinue || !slot)
        return;
    emit FileProgress(slot->File.Row, ParseInto(slot->File, QString::fromUtf8(Cmd)));
}

void TConversionRun::ReceiveError(TConsoleIO *Sender, const QByteArray &Cmd)
{
    TSlot *slot = SlotOf(Sender);
    if (!FContinue || !slot)
        return;
    const QString text = QString::fromUtf8(Cmd);
    // libm9s says why it failed in its last line on standard error; one
    // chunk may carry several lines.
    static const QRegularExpression lineEnds(QStringLiteral("[\\r\\n]"));
    for (const QString &piece : text.split(lineEnds, Qt::SkipEmptyParts)) {
        const QString line = piece.trimmed();
        if (!line.isEmpty() && !IsMarkerLine(line))
            slot->File.LastErrorLine = line;
    }
    ReadMarkerLines(slot->File, text);
    emit FileProgress(slot->File.Row, ParseInto(slot->File, text));
}

void TConversionRun::ReadMarkerLines(TRunningFile &file, const QString &text)
{
    file.ErrorTail = (file.ErrorTail + text).right(MarkerTailLength);
    const QString kind = TrimControls(ExtractMarked(file.ErrorTail, QLatin1String(EncoderContract::FailureOpen),
                                                    QLatin1String(EncoderContract::FailureClose)));
    if (!kind.isEmpty())
        file.Report.FailureKind = kind;
    const QString incomplete =
        TrimControls(ExtractMarked(file.ErrorTail, QLatin1String(EncoderContract::IncompleteOpen),
                                   QLatin1String(EncoderContract::IncompleteClose)));
    if (incomplete.isEmpty())
        return;
    file.SourceEndsEarly = true;
    // The times only word the reason: a bad one leaves them out, not the marker.
    const QStringList seconds = incomplete.split(QLatin1Char('/'));
    try {
        if (seconds.size() == 2) {
            file.Report.ReadSeconds = RoundedSeconds(seconds[0]);
            file.Report.DeclaredSeconds = RoundedSeconds(seconds[1]);
        }
    } catch (const TolvaneError &) {
        file.Report.ReadSeconds = file.Report.DeclaredSeconds = 0;
    }
}
