#include "conversion/ConversionRun.h"

#include "common/ErrorReport.h"
#include "console/ConsoleIO.h"
#include "conversion/FileQueue.h"
#include "conversion/MediaProbe.h"
#include "conversion/OutputFiles.h"
#include "conversion/OutputNames.h"
#include "conversion/TemporaryOutput.h"
#include "libm9s/EncoderContract.h"

#include <QThread>

#include <algorithm>
#include <optional>
#include <utility>

// The run takes its files in turns, each turn started by a signal, never by
// waiting:
//   Start           freezes the queue's items, then Advance
//   Advance         fills every free encoder: the next chapters of files under
//                   way first, then new jobs top to bottom, each one's target
//                   resolved (and perhaps asked about) before the next
//   (question)      a job whose target exists waits for AnswerFileExists
//   EncoderEnded    the runner said an encoder ended: its job settles what
//                   it left and ends (or waits with its next chapter), then
//                   Advance
//   EndIfDone       nothing busy and nothing left: RunEnded, and RunFinished
//                   for a run that went through

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
    // Connected before anyone else can be: a job has read each chunk before
    // the run's owner hears of it.
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

const TRunningFile &TConversionRun::File() const
{
    const TConversionJob *job = m_slots[size_t(m_lastStarted)].Job;
    return job ? job->File() : m_noFile;
}

bool TConversionRun::Start(const TRunSettings &settings)
{
    if (m_active || !ConsoleIO)
        return false;
    m_settings = settings;
    m_folder = settings.Folder;
    m_closing = false;
    m_failed = false;
    m_stopped = false;
    FContinue = true;
    m_failedSources.clear();
    m_writtenThisRun.clear();
    // Encoders beyond the first are made when a run needs them and stay.
    const size_t wanted = size_t(std::clamp(settings.ParallelFiles, 1, 64));
    while (m_slots.size() < wanted)
        m_slots.emplace_back().Io = NewConsoleIO();
    for (size_t i = wanted; i < m_slots.size(); ++i) {
        m_slots[i].Io->deleteLater();
        if (m_slots[i].Job)
            m_slots[i].Job->deleteLater();
    }
    m_slots.resize(wanted);
    if (size_t(m_lastStarted) >= wanted)
        m_lastStarted = 0;
    // The jobs are the files queued now: files added later wait for the next run.
    m_files.clear();
    for (int row = 0; row < m_queue.Count(); ++row) {
        const TQueueItem &item = m_queue.At(row);
        TRunningFile file;
        file.Item = item.Id;
        file.Row = row;
        file.Source = item.Source;
        file.Shown = item.Shown.isEmpty() ? item.Source : item.Shown;
        file.Root = item.Root;
        file.ChosenTrack = item.AudioTrack;
        m_files.push_back(file);
    }
    m_sourceIds.clear();
    for (const TRunningFile &file : m_files)
        if (const std::optional<TFileId> id = FileIdOf(file.Source))
            m_sourceIds.insert(*id);
    m_next = 0;
    m_active = true;
    ForceOutputFolder(m_folder);
    // What a run of a program that died left goes first.
    RemoveAbandonedTemporaries();
    Advance();
    return true;
}

void TConversionRun::Advance()
{
    try {
        m_waitingForFacts = false;
        while (m_active && !Interrupted() && !m_asking) {
            // The next chapters of files under way go before new files.
            if (StartPendingChapters())
                continue;
            if (m_next >= m_files.size())
                break;
            TSlot *slot = FreeSlot();
            if (!slot)
                break;
            if (!FactsReady(m_files[m_next])) {
                m_waitingForFacts = true;
                return;
            }
            StartJob(*slot, m_files[m_next++]);
        }
    } catch (...) {
        FailRun();
        throw;
    }
    EndIfDone();
}

// The plan of a copy, or of Automatic with a preferred language, needs the
// source's tracks, one file per chapter its chapters; they come from the
// queue's probe, which is hurried.
bool TConversionRun::FactsReady(TRunningFile &file)
{
    const TOutputOptions &options = m_settings.Options;
    const bool needed = options.Extension == QLatin1String("copy") || m_settings.SplitChapters
                        || (file.ChosenTrack < 0 && !options.PreferredLanguage.trimmed().isEmpty());
    const int row = CurrentRow(m_queue, file);
    if (!needed || !m_probe || row < 0 || m_queue.At(row).Facts.Known)
        return true;
    m_probe->Hurry(file.Source);
    return false;
}

void TConversionRun::StartJob(TSlot &slot, const TRunningFile &file)
{
    // The job before stays until control is back in the event loop: its
    // own steps may still be on the way out.
    if (slot.Job)
        slot.Job->deleteLater();
    auto *job = new TConversionJob(*this, file, slot.Io, this);
    slot.Job = job;
    connect(job, &TConversionJob::FileExistsAsked, this, [this, job](const QString &target) { JobAsks(*job, target); });
    connect(job, &TConversionJob::Finished, this, [this, job](TFileOutcome outcome) { JobFinished(*job, outcome); });
    m_lastStarted = int(&slot - m_slots.data());
    m_folder = WithTrailingSlash(m_settings.Folder);
    emit FileStarted(job->Row(), job->File().Source);
    job->Start();
}

void TConversionRun::JobAsks(TConversionJob &job, const QString &target)
{
    m_asking = &job;
    emit FileExistsAsked(target, job.File().Source);
}

void TConversionRun::JobFinished(TConversionJob &job, TFileOutcome outcome)
{
    if (outcome == TFileOutcome::Failed)
        m_failedSources.append(job.File().Shown);
    if (!m_closing)
        emit FileFinished(job.Row(), job.File().Source, outcome, job.File().Report);
}

// Starts the chapters whose file before them ended, each asked about before
// the next; true when there was one.
bool TConversionRun::StartPendingChapters()
{
    bool took = false;
    for (TSlot &slot : m_slots) {
        if (!m_active || Interrupted() || m_asking)
            break;
        if (!slot.Job || !slot.Job->IsChapterPending())
            continue;
        took = true;
        m_lastStarted = int(&slot - m_slots.data());
        slot.Job->StartNextChapter();
    }
    return took;
}

void TConversionRun::StopPendingChapters()
{
    for (TSlot &slot : m_slots)
        if (slot.Job)
            slot.Job->StopPendingChapter();
}

void TConversionRun::AnswerFileExists(quint8 choice)
{
    TConversionJob *job = std::exchange(m_asking, nullptr);
    // A close or stop that came while the question waited starts nothing.
    if (!job || !m_active)
        return;
    if (Interrupted()) {
        job->EndUnanswered();
        return EndIfDone();
    }
    try {
        job->AnswerFileExists(choice);
    } catch (...) {
        FailRun();
        throw;
    }
    Advance();
}

bool TConversionRun::IsSourceOfRun(const QString &path) const
{
    const std::optional<TFileId> id = FileIdOf(path);
    return id && m_sourceIds.contains(*id);
}

TEncoderCommand TConversionRun::EncoderCommandFor(const TRunningFile &file, const QString &input)
{
    const int cores = m_settings.Cores > 0 ? m_settings.Cores : QThread::idealThreadCount();
    return BuildEncoderCommand(input, file.Output, file.AudioTrack, file.Chapter,
                               EncoderThreads(cores, std::clamp(m_settings.ParallelFiles, 1, 64), FilesLeft()));
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
    if (m_active && Interrupted())
        StopPendingChapters();
    // A stop does not wait for the facts of a job it will not take.
    if (!m_active || m_asking || AnyBusy() || (m_waitingForFacts && !Interrupted()))
        return;
    if (!Interrupted() && !m_failed && m_next < m_files.size())
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
        if (slot.Io && !slot.Busy() && (!slot.Job || slot.Job != m_asking))
            return &slot;
    return nullptr;
}

bool TConversionRun::AnyBusy() const
{
    return std::any_of(m_slots.begin(), m_slots.end(), [](const TSlot &slot) { return slot.Busy(); });
}

// The files of this run not yet done: those on an encoder or waiting for
// an answer, and those not yet taken.
int TConversionRun::FilesLeft() const
{
    const auto busy = std::count_if(m_slots.begin(), m_slots.end(), [this](const TSlot &slot) {
        return slot.Busy() || (slot.Job && slot.Job == m_asking);
    });
    return int(busy + qsizetype(m_files.size() - m_next));
}

void TConversionRun::FinishEndedFiles()
{
    for (TSlot &slot : m_slots)
        if (slot.Job)
            slot.Job->SettleIfEnded();
}

void TConversionRun::StopConversion()
{
    m_stopped = true;
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
        if (slot.Job)
            slot.Job->ReleaseEncoder();
        slot.Io = nullptr;
    }
    // What the stopped encoders left is settled now: no signal will tell of their end.
    FinishEndedFiles();
    for (TSlot &slot : m_slots)
        if (slot.Job)
            slot.Job->DropPendingChapter();
    m_active = false;
}

TEncoderCommand TConversionRun::BuildEncoderCommand(const QString &Source, const QString &Target, int AudioTrack,
                                                    int Chapter, int Threads)
{
    const TOutputOptions &options = m_settings.Options;
    return ::BuildEncoderCommand(FFMpeg, m_settings.EncoderFolder,
                                 {Source, Target, FormatOfName(options.Extension), options.Bitrate, options.SampleRate,
                                  options.Channels, AudioTrack, options.VerifyOutput, options.Loudness, Threads,
                                  Chapter});
}

TProgressView TConversionRun::ParseEncoderOutput(const QString &Text)
{
    TConversionJob *job = m_slots[size_t(m_lastStarted)].Job;
    return job ? job->ReadOutput(Text) : ReadProgress(m_noFile, Text);
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
    emit FileProgress(slot->Job->Row(), slot->Job->ReadOutput(QString::fromUtf8(Cmd)));
}

void TConversionRun::ReceiveError(TConsoleIO *Sender, const QByteArray &Cmd)
{
    TSlot *slot = SlotOf(Sender);
    if (!FContinue || !slot)
        return;
    emit FileProgress(slot->Job->Row(), slot->Job->ReadError(QString::fromUtf8(Cmd)));
}
