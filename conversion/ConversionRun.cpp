#include "conversion/ConversionRun.h"

#include "common/ErrorReport.h"
#include "console/ConsoleIO.h"
#include "conversion/AudioTracks.h"
#include "conversion/FileQueue.h"
#include "conversion/KeptOriginal.h"
#include "conversion/MediaProbe.h"
#include "conversion/OutputFiles.h"
#include "conversion/OutputNames.h"
#include "encoder/libm9s/EncoderContract.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

// One file goes through these steps, each started by the one before or by a
// signal, never by waiting:
//   StartRow        takes the job; its facts are probed first when the plan needs them
//   (question)      an existing target waits for AnswerFileExists
//   StartTarget     an existing file is moved aside (TKeptOriginal), the
//                   placeholder written, the encoder started
//   EncoderEnded    the runner said the encoder ended
//   FinishFile      keeps the new file or brings the old one back
//   Advance         the next job, or the end of the run

namespace {
bool IsProgressReport(const QString &line)
{
    return line.contains(QLatin1String(EncoderContract::DurationOpen))
           || line.contains(QLatin1String(EncoderContract::TimeOpen));
}

bool PathExists(const QString &path) { return QFileInfo(path).exists() || QFileInfo(path).isSymLink(); }
}

TConversionRun::TConversionRun(TFileQueue &queue, TMediaProbe *probe, QObject *parent)
    : QObject(parent), m_queue(queue), m_probe(probe)
{
    FOverwriteChoice = ocAsk;
    ConsoleIO = NewConsoleIO();
    ConsoleIO->setObjectName(QStringLiteral("ConsoleIO"));
    m_slots.resize(1);
    m_slots[0].Io = ConsoleIO;
    // A job that waited for its facts goes on when they come.
    connect(&m_queue, &TFileQueue::Changed, this, [this] {
        if (m_waitingForFacts)
            QMetaObject::invokeMethod(this, &TConversionRun::Continue, Qt::QueuedConnection);
    });
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

bool TConversionRun::Start(const TRunSettings &settings)
{
    if (m_active || !ConsoleIO)
        return false;
    m_settings = settings;
    m_folder = settings.Folder;
    m_closing = false;
    m_failed = false;
    FContinue = true;
    m_failedSources.clear();
    m_writtenThisRun.clear();
    // Encoders beyond the first are made when a run needs them and stay.
    const size_t wanted = size_t(std::clamp(settings.ParallelFiles, 1, 64));
    while (m_slots.size() < wanted)
        m_slots.emplace_back().Io = NewConsoleIO();
    for (size_t i = wanted; i < m_slots.size(); ++i)
        m_slots[i].Io->deleteLater();
    m_slots.resize(wanted);
    // The jobs are the files queued now: files added later wait for the next run.
    m_jobs.clear();
    for (int row = 0; row < m_queue.Count(); ++row) {
        const TQueueItem &item = m_queue.At(row);
        TRunningFile job;
        job.Item = item.Id;
        job.Row = row;
        job.Source = item.Source;
        job.ChosenTrack = item.AudioTrack;
        m_jobs.push_back(job);
    }
    m_next = 0;
    m_active = true;
    ForceOutputFolder(m_folder);
    // What a crashed run of another program left here goes back first.
    RecoverKeptOriginals(m_folder);
    Advance();
    return true;
}

void TConversionRun::Advance()
{
    try {
        // Jobs are taken top to bottom into every free encoder; each target
        // is resolved (and perhaps asked about) before the next.
        m_waitingForFacts = false;
        while (m_active && !Interrupted() && !m_asking && m_next < m_jobs.size()) {
            TSlot *slot = FreeSlot();
            if (!slot)
                break;
            if (!FactsReady(m_jobs[m_next])) {
                m_waitingForFacts = true;
                return;
            }
            StartRow(*slot, m_jobs[m_next++]);
        }
    } catch (...) {
        FailRun();
        throw;
    }
    EndIfDone();
}

// The plan of a copy, or of Automatic with a preferred language, needs the
// source's tracks; they come from the queue's probe, which is hurried.
bool TConversionRun::FactsReady(TRunningFile &file)
{
    const TOutputOptions &options = m_settings.Options;
    const bool needed = options.Extension == QLatin1String("copy")
                        || (file.ChosenTrack < 0 && !options.PreferredLanguage.trimmed().isEmpty());
    const int row = RowOf(file);
    if (!needed || !m_probe || row < 0 || m_queue.At(row).Facts.Known)
        return true;
    m_probe->Hurry(file.Source);
    return false;
}

void TConversionRun::StartRow(TSlot &slot, const TRunningFile &job)
{
    slot.File = job;
    m_lastStarted = int(&slot - m_slots.data());
    m_folder = WithTrailingSlash(m_settings.Folder);
    emit FileStarted(RowOf(slot.File), slot.File.Source);

    const TOutputOptions &options = m_settings.Options;
    const int row = RowOf(slot.File);
    const TOutputPlan plan =
        PlanOutput(options.Extension, slot.File.ChosenTrack, options.PreferredLanguage, [&]() -> QList<TAudioTrack> {
            if (m_probe && row >= 0 && m_queue.At(row).Facts.Known)
                return m_queue.At(row).Facts.Tracks;
            return ProbeAudioTracks(m_settings.EncoderFolder, slot.File.Source);
        });
    slot.File.AudioTrack = plan.AudioTrack;
    const QString path = OutputFilePath(m_folder, slot.File.Source, plan.Extension);
    if (PathExists(path) && !m_writtenThisRun.contains(path) && FOverwriteChoice == ocAsk) {
        m_asking = &slot;
        m_askedPath = path;
        emit FileExistsAsked(path, slot.File.Source);
        return;
    }
    StartTarget(slot, ResolveTargetFile(path, FOverwriteChoice, [] { return quint8(ocAsk); }, m_writtenThisRun));
}

void TConversionRun::AnswerFileExists(quint8 choice)
{
    TSlot *slot = std::exchange(m_asking, nullptr);
    // A close or stop that came while the question waited starts nothing.
    if (!slot || !m_active)
        return;
    if (Interrupted())
        return EndIfDone();
    try {
        StartTarget(*slot,
                    ResolveTargetFile(m_askedPath, FOverwriteChoice, [choice] { return choice; }, m_writtenThisRun));
    } catch (...) {
        FailRun();
        throw;
    }
    Advance();
}

void TConversionRun::StartTarget(TSlot &slot, const QString &target)
{
    slot.File.Target = target;
    if (target.isEmpty()) {
        emit FileFinished(RowOf(slot.File), slot.File.Source, TFileOutcome::Skipped, QString());
        return;
    }
    slot.Original = std::make_unique<TKeptOriginal>(target);
    try {
        WritePlaceholder(target);
    } catch (...) {
        slot.Original.reset(); // a kept original goes back
        throw;
    }
    // From here the target is reserved: another file of this run that
    // wants the same name gets a new one.
    m_writtenThisRun.insert(target);
    StartEncoder(slot);
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

// A step raised: the other encoders stop, and the run ends after them without its report.
void TConversionRun::FailRun()
{
    m_failed = true;
    m_asking = nullptr;
    StopConversion();
    EndIfDone();
}

void TConversionRun::ProcessStatusChanged()
{
    const bool running = IsEncoderRunning();
    if (running != m_reportedRunning) {
        m_reportedRunning = running;
        emit EncoderRunningChanged(running);
    }
    // The next file starts once the runner has finished telling of this one.
    if (m_active && !m_closing)
        QMetaObject::invokeMethod(this, &TConversionRun::EncoderEnded, Qt::QueuedConnection);
}

void TConversionRun::EncoderEnded()
{
    if (!m_active || m_closing)
        return;
    FinishEndedFiles();
    Continue();
}

// Advance from the event loop: an error has nobody to go up to, so it is shown.
void TConversionRun::Continue()
{
    if (!m_active || m_closing)
        return;
    try {
        Advance();
    } catch (...) {
        ReportCurrentException();
    }
}

void TConversionRun::EndIfDone()
{
    // A stop does not wait for the facts of a job it will not take.
    if (!m_active || m_asking || AnyBusy() || (m_waitingForFacts && !Interrupted()))
        return;
    if (!Interrupted() && !m_failed && m_next < m_jobs.size())
        return;
    m_active = false;
    if (m_closing)
        return;
    // A stop during the last file ends the run like one during any other:
    // without the end report.
    const bool through = !Interrupted() && !m_failed;
    FContinue = true;
    emit RunEnded();
    if (through)
        emit RunFinished(m_folder, m_failedSources);
}

TConversionRun::TSlot *TConversionRun::FreeSlot()
{
    for (TSlot &slot : m_slots)
        if (slot.Io && !slot.Busy() && &slot != m_asking)
            return &slot;
    return nullptr;
}

bool TConversionRun::AnyBusy() const
{
    return std::any_of(m_slots.begin(), m_slots.end(), [](const TSlot &slot) { return slot.Busy(); });
}

int TConversionRun::RowOf(TRunningFile &file)
{
    // Rows only grow at the end during a run; the id finds a moved one all the same.
    if (file.Row < 0 || file.Row >= m_queue.Count() || m_queue.At(file.Row).Id != file.Item)
        file.Row = m_queue.RowOf(file.Item);
    return file.Row;
}

void TConversionRun::FinishEndedFiles()
{
    for (TSlot &slot : m_slots) {
        if (!slot.Busy() || (slot.Io && slot.Io->IsRunning()))
            continue;
        const TFileOutcome outcome = FinishFile(slot);
        slot.Original.reset();
        if (!m_closing)
            emit FileFinished(RowOf(slot.File), slot.File.Source, outcome, slot.File.LastErrorLine);
    }
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
    m_queue.AddOutput(RowOf(slot.File), slot.File.Target);
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
    // A run between its files has nothing to wait for.
    if (!m_asking)
        EndIfDone();
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
    if (!m_active)
        return;
    m_closing = true;
    FContinue = false;
    m_asking = nullptr;
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
    // What the stopped encoders left is settled now: no signal will tell of their end.
    FinishEndedFiles();
    m_active = false;
}

TEncoderCommand TConversionRun::BuildEncoderCommand(const QString &Source, const QString &Target, int AudioTrack)
{
    const TOutputOptions &options = m_settings.Options;
    return ::BuildEncoderCommand(FFMpeg, m_settings.EncoderFolder, Source, Target, options.Extension, options.Bitrate,
                                 options.SampleRate, options.Channels, AudioTrack);
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
    emit FileProgress(RowOf(slot->File), ParseInto(slot->File, QString::fromUtf8(Cmd)));
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
    emit FileProgress(RowOf(slot->File), ParseInto(slot->File, text));
}
