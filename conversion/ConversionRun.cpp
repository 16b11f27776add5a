#include "conversion/ConversionRun.h"

#include "console/ConsoleIO.h"
#include "conversion/AudioTracks.h"
#include "conversion/KeptOriginal.h"
#include "conversion/OutputFiles.h"
#include "conversion/OutputNames.h"
#include "encoder/libm9s/EncoderContract.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

// One file goes through these steps, top to bottom:
//   StartRow        takes the row and its source
//   ResolveTarget   the output name, after the file-exists question
//   (TKeptOriginal) an existing file is moved aside, not emptied
//   WritePlaceholder the target exists from the moment its name is chosen
//   StartEncoder    libm9s with the owner's options of this moment
//   WaitForAnEncoder the event loop runs until an encoder ended
//   FinishFile      keeps the new file or brings the old one back

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

bool IsProgressReport(const QString &line)
{
    return line.contains(QLatin1String(EncoderContract::DurationOpen))
           || line.contains(QLatin1String(EncoderContract::TimeOpen));
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
    // What a crashed run of another program left here goes back first.
    RecoverKeptOriginals(folder);

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
        emit FileFinished(row, slot.File.Source, TFileOutcome::Skipped, QString());
        return false;
    }

    slot.Original = std::make_unique<TKeptOriginal>(slot.File.Target);
    WritePlaceholder(slot.File.Target);
    // From here the target is reserved: another file of this run that
    // wants the same name gets a new one.
    m_writtenThisRun.insert(slot.File.Target);
    StartEncoder(slot);
    return true;
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
    const TEncoderCommand command = BuildEncoderCommand(inputFile, slot.File.Target, slot.File.AudioTrack);
    try {
        slot.Io->StartProcess(command.Program, command.Arguments, QString(), false);
    } catch (...) {
        if (!slot.Original->IsHeld())
            RemoveBarePlaceholder(slot.File.Target);
        slot.Original.reset(); // a kept original goes back
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
        slot.Original.reset();
        if (!m_closing)
            emit FileFinished(slot.File.Row, slot.File.Source, outcome, slot.File.LastErrorLine);
    }
    return !m_closing && ConsoleIO;
}

TFileOutcome TConversionRun::FinishFile(TSlot &slot)
{
    const bool stopped = Interrupted() || !slot.Io;
    const bool failed = !stopped && slot.Io->LastExitCode() != EncoderContract::ExitDone;
    const bool neverWritten = SettleTarget(slot, stopped, failed);
    // A stopped file is not a failure.
    if (stopped)
        return TFileOutcome::Stopped;
    if (neverWritten || failed) {
        m_failedSources.append(slot.File.Source);
        return TFileOutcome::Failed;
    }
    return TFileOutcome::Converted;
}

bool TConversionRun::SettleTarget(TSlot &slot, bool stopped, bool failed)
{
    TKeptOriginal &original = *slot.Original;
    const QString &target = slot.File.Target;
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
                                 options.SampleRate, options.Channels, AudioTrack, options.Loudness);
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
        if (!line.isEmpty() && !IsProgressReport(line))
            slot->File.LastErrorLine = line;
    }
    emit FileProgress(slot->File.Row, ParseInto(slot->File, text));
}
