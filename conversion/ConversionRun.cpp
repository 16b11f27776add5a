#include "conversion/ConversionRun.h"

#include "common/ErrorReport.h"
#include "console/ConsoleIO.h"
#include "conversion/AudioTracks.h"
#include "conversion/FileQueue.h"
#include "conversion/MediaProbe.h"
#include "conversion/OutputFiles.h"
#include "conversion/OutputNames.h"
#include "conversion/TargetFile.h"
#include "conversion/TemporaryOutput.h"
#include "libm9s/EncoderContract.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <optional>

// One file goes through these steps, each started by the one before or by a
// signal, never by waiting:
//   StartRow        takes the job; its facts are probed first when the plan needs them
//   (question)      an existing target waits for AnswerFileExists
//   StartTarget     a new target gets the placeholder, so it exists from the
//                   moment its name is chosen; an existing one is left alone;
//                   the encoder writes a hidden file beside it; then the
//                   encoder starts
//   EncoderEnded    the runner said the encoder ended
//   FinishFile      a complete, checked hidden file takes the target's name;
//                   a stopped one is kept under a name that says so, where
//                   it replaces nothing; anything else is dropped, and the
//                   old file (or no file) stays under the target's name
//   OutputEnded     a source in chapters goes on with its next chapter
//                   (StartOutput, from Advance); otherwise its file ends
//   Advance         the next job, or the end of the run

namespace {
// Progress reports and the other marker lines all share this stem; none of
// them is a message for the user.
bool IsMarkerLine(const QString &line) { return line.contains(QLatin1String("ffmpeg_release_")); }

// Enough of the end of the error output to hold a marker line cut in two chunks.
constexpr qsizetype MarkerTailLength = 4096;

bool PathExists(const QString &path) { return QFileInfo(path).exists() || QFileInfo(path).isSymLink(); }

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

// A new file may not be made in the folder at all: every file for it would fail alike.
bool FolderRefuses(const TFileWriteError &error)
{
    return error.Code == EACCES || error.Code == EPERM || error.Code == EROFS;
}

// Whether the folder of target refuses the hidden file a replacement would
// be written to: tried, not read off the permissions, which root and
// read-only mounts make misleading. Any other failure to make a file there
// is left to the file's own writing, which names it.
bool FolderRefusesFiles(const QString &target)
{
    try {
        QFile::remove(CreateTemporaryBeside(target));
    } catch (const TFileWriteError &error) {
        return FolderRefuses(error);
    }
    return false;
}

QString CleanFolder(const QString &folder) { return QDir::cleanPath(QFileInfo(folder).absoluteFilePath()); }
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
    m_stopped = false;
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
        job.Shown = item.Shown.isEmpty() ? item.Source : item.Shown;
        job.Root = item.Root;
        job.ChosenTrack = item.AudioTrack;
        m_jobs.push_back(job);
    }
    m_sourceIds.clear();
    for (const TRunningFile &job : m_jobs)
        if (const std::optional<TFileId> id = FileIdOf(job.Source))
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
        // Jobs are taken top to bottom into every free encoder; each target
        // is resolved (and perhaps asked about) before the next.
        m_waitingForFacts = false;
        while (m_active && !Interrupted() && !m_asking) {
            // The next chapters of files under way go before new files.
            if (StartPendingChapters())
                continue;
            if (m_next >= m_jobs.size())
                break;
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
// source's tracks, one file per chapter its chapters; they come from the
// queue's probe, which is hurried.
bool TConversionRun::FactsReady(TRunningFile &file)
{
    const TOutputOptions &options = m_settings.Options;
    const bool needed = options.Extension == QLatin1String("copy") || m_settings.SplitChapters
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
    std::optional<TMediaFacts> facts;
    const auto factsOnce = [&]() -> const TMediaFacts & {
        if (!facts)
            facts = FactsOf(slot.File);
        return *facts;
    };
    const TOutputPlan plan = PlanOutput(options.Extension, slot.File.ChosenTrack, options.PreferredLanguage,
                                        [&] { return factsOnce().Tracks; });
    slot.File.AudioTrack = plan.AudioTrack;
    slot.File.Extension = plan.Extension;
    slot.File.Report.LanguageUnmatched = plan.LanguageUnmatched;
    const QString folder = OutputFolderFor(m_folder, slot.File.Root, slot.File.Source, m_settings.KeepFolders);
    // Made again should it have gone since the last file.
    ForceOutputFolder(folder);
    if (!QFileInfo(folder).isDir())
        return FailOnFolder(slot, FolderFailure::NotMade, folder);
    slot.File.Folder = WithTrailingSlash(folder);
    if (m_settings.SplitChapters)
        TakeChapters(slot.File, factsOnce());
    StartOutput(slot);
}

// The queue's facts when its probe has them, else the encoder is asked now.
TMediaFacts TConversionRun::FactsOf(TRunningFile &file)
{
    const int row = RowOf(file);
    if (m_probe && row >= 0 && m_queue.At(row).Facts.Known)
        return m_queue.At(row).Facts;
    const QString listing = ProbeListing(m_settings.EncoderFolder, file.Source);
    return MediaFactsOf(ParseTrackList(listing), ParseChapterList(listing));
}

// A single chapter is the whole source: it is converted as one file.
void TConversionRun::TakeChapters(TRunningFile &file, const TMediaFacts &facts) const
{
    if (facts.Chapters.size() < 2)
        return;
    file.Chapters = facts.Chapters;
    file.ChapterLengths = ChapterLengths(facts.Chapters, double(facts.Duration));
    file.Chapter = 1;
}

// The next output of a file: the whole source, or its current chapter.
// Each goes through the same rules: up to date, the question, the run's own outputs.
void TConversionRun::StartOutput(TSlot &slot)
{
    TRunningFile &file = slot.File;
    QString path;
    if (file.Chapter > 0) {
        const qsizetype total = file.Chapters.size();
        path = ChapterOutputFilePath(file.Folder, file.Source, file.Extension, file.Chapter, int(total),
                                     file.Chapters[file.Chapter - 1].Title);
        m_queue.SetChapter(RowOf(file), file.Chapter, int(total));
        file.Report.Chapters = int(total);
    } else {
        path = OutputFilePath(file.Folder, file.Source, file.Extension);
    }
    // A source is never its own output, whatever the answer to the question
    // would be: the output takes a free name beside it, unasked.
    if (IsSourceOfRun(path)) {
        file.Report.BesideSource = true;
        path = AutoRenameTarget(path);
    }
    if (TargetKindOf(path) == TTargetKind::Other)
        return FailOnTarget(slot, path);
    if (m_settings.SkipUpToDate && !m_writtenThisRun.contains(path) && IsOutputUpToDate(file.Source, path)
        && IsOutputWhole(file, path)) {
        file.Report.Detail = QStringLiteral("the output is up to date");
        return StartTarget(slot, QString());
    }
    if (PathExists(path) && !m_writtenThisRun.contains(path) && FOverwriteChoice == ocAsk) {
        if (FolderRefusesFiles(path))
            return FailOnFolder(slot, FolderFailure::Access, file.Folder);
        m_asking = &slot;
        m_askedPath = path;
        emit FileExistsAsked(path, file.Source);
        return;
    }
    StartTarget(slot, ResolveTargetFile(path, FOverwriteChoice, [] { return quint8(ocAsk); }, m_writtenThisRun));
}

// Starts the chapters whose file before them ended, each asked about before
// the next; true when there was one.
bool TConversionRun::StartPendingChapters()
{
    bool took = false;
    for (TSlot &slot : m_slots) {
        if (!m_active || Interrupted() || m_asking)
            break;
        if (!std::exchange(slot.ChapterPending, false))
            continue;
        took = true;
        TRunningFile &file = slot.File;
        ++file.Chapter;
        // What the last chapter's encoder told is no part of this one.
        file.FDuration = file.FMaxTime = 0;
        file.LastErrorLine.clear();
        file.ErrorTail.clear();
        file.Output.clear();
        file.NewTarget = false;
        file.StoppedSeconds = -1;
        file.Report.Detail.clear();
        file.Report.FailureKind.clear();
        file.Report.OldKept = false;
        file.SourceEndsEarly = false;
        m_lastStarted = int(&slot - m_slots.data());
        StartOutput(slot);
    }
    return took;
}

// A stop between two chapters ends their file at the one that did not start.
void TConversionRun::StopPendingChapters()
{
    for (TSlot &slot : m_slots)
        if (std::exchange(slot.ChapterPending, false)) {
            ++slot.File.Chapter;
            OutputEnded(slot, TFileOutcome::Stopped);
        }
}

void TConversionRun::AnswerFileExists(quint8 choice)
{
    TSlot *slot = std::exchange(m_asking, nullptr);
    // A close or stop that came while the question waited starts nothing.
    if (!slot || !m_active)
        return;
    if (Interrupted()) {
        // The chapter files written before the question stay, and are told.
        if (slot->File.Chapter > 0)
            OutputEnded(*slot, TFileOutcome::Stopped);
        return EndIfDone();
    }
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
    if (target.isEmpty())
        return OutputEnded(slot, TFileOutcome::Skipped);
    try {
        PrepareOutput(slot.File);
    } catch (const TFileWriteError &error) {
        if (FolderRefuses(error))
            return FailOnFolder(slot, FolderFailure::Access, QFileInfo(target).absolutePath());
        // This file cannot be written; the next may well be (another name,
        // a folder made meanwhile), so the run goes on.
        FailWithWriteError(slot.File.Report, error);
        m_failedSources.append(slot.File.Shown);
        return OutputEnded(slot, TFileOutcome::Failed);
    }
    // From here the target is reserved: another file of this run that
    // wants the same name gets a new one.
    m_writtenThisRun.insert(target);
    slot.Working = true;
    StartEncoder(slot);
}

// The file fails for its folder. The output folder itself ends the run, as
// no file could go there; a kept subfolder fails only its own files.
void TConversionRun::FailOnFolder(TSlot &slot, const char *kind, const QString &folder)
{
    TFileReport &report = slot.File.Report;
    report.FailureKind = QLatin1String(kind);
    report.Folder = CleanFolder(folder);
    report.Detail.clear();
    m_failedSources.append(slot.File.Shown);
    emit FileFinished(RowOf(slot.File), slot.File.Source, TFileOutcome::Failed, report);
    if (report.Folder == CleanFolder(m_settings.Folder))
        throw TolvaneError(ReportText(TFileOutcome::Failed, report, m_settings.Texts));
}

// An output counts as up to date only when it holds all the source does: a
// file cut short (by a full disk, a kill, another program) is no copy of it.
// The source's length is what its container declares, which the audio may
// fall short of by a frame or two of either codec.
bool TConversionRun::IsOutputWhole(TRunningFile &file, const QString &path)
{
    constexpr double tolerance = 0.25;
    double expected = file.Chapter > 0 ? file.ChapterLengths.value(file.Chapter - 1) : 0.0;
    if (file.Chapter == 0) {
        const TMediaFacts facts = FactsOf(file);
        const int taken =
            file.AudioTrack >= 0 ? file.AudioTrack : AutomaticTrack(facts.Tracks, m_settings.Options.PreferredLanguage);
        for (const TAudioTrack &track : facts.Tracks)
            if (track.Index == taken)
                expected = track.Duration;
    }
    // A source that tells no length leaves nothing to measure against.
    if (expected <= 0)
        return true;
    const QList<TAudioTrack> written = ParseTrackList(ProbeListing(m_settings.EncoderFolder, path));
    return !written.isEmpty() && written.first().Duration + tolerance >= expected;
}

// Something that is no file has the output's name: this output fails, the run goes on.
void TConversionRun::FailOnTarget(TSlot &slot, const QString &target)
{
    TFileReport &report = slot.File.Report;
    report.FailureKind = QLatin1String(FolderFailure::NotAFile);
    report.Folder = target;
    report.Detail.clear();
    m_failedSources.append(slot.File.Shown);
    OutputEnded(slot, TFileOutcome::Failed);
}

bool TConversionRun::IsSourceOfRun(const QString &path) const
{
    const std::optional<TFileId> id = FileIdOf(path);
    return id && m_sourceIds.contains(*id);
}

// One output of a file ended. A file in chapters goes on with its next
// chapter after a written or skipped one; otherwise the file ends, counted
// as converted once any of its chapter files was written.
void TConversionRun::OutputEnded(TSlot &slot, TFileOutcome outcome)
{
    TRunningFile &file = slot.File;
    if (file.Chapter > 0) {
        const bool written = outcome == TFileOutcome::Converted || outcome == TFileOutcome::Incomplete;
        file.Report.ChapterFiles += written ? 1 : 0;
        bool passed = outcome == TFileOutcome::Converted || outcome == TFileOutcome::Skipped;
        if (passed && file.Chapter < file.Chapters.size()) {
            if (!Interrupted()) {
                slot.ChapterPending = true;
                return;
            }
            // A stop as the chapter ended: the file ends at the next one.
            ++file.Chapter;
            outcome = TFileOutcome::Stopped;
            passed = false;
        }
        if (passed && file.Report.ChapterFiles > 0)
            outcome = TFileOutcome::Converted;
        file.Report.Chapter = passed ? 0 : file.Chapter;
    }
    if (!m_closing)
        emit FileFinished(RowOf(file), file.Source, outcome, file.Report);
}

// The encoder always writes a hidden file: until it is whole and checked,
// the target's name holds the old file, or the placeholder of a new one.
void TConversionRun::PrepareOutput(TRunningFile &file)
{
    file.NewTarget = TargetKindOf(file.Target) == TTargetKind::Missing;
    if (file.NewTarget)
        WritePlaceholder(file.Target);
    try {
        file.Output = CreateTemporaryBeside(file.Target, file.NewTarget ? file.Target : QString());
    } catch (...) {
        if (file.NewTarget)
            RemoveBarePlaceholder(file.Target);
        throw;
    }
}

void TConversionRun::StartEncoder(TSlot &slot)
{
    // A missing source leaves the input out: the encoder fails on its own.
    const QString inputFile = QFileInfo::exists(slot.File.Source) ? slot.File.Source : QString();
    const int cores = m_settings.Cores > 0 ? m_settings.Cores : QThread::idealThreadCount();
    const TEncoderCommand command =
        BuildEncoderCommand(inputFile, slot.File.Output, slot.File.AudioTrack, slot.File.Chapter,
                            EncoderThreads(cores, std::clamp(m_settings.ParallelFiles, 1, 64), FilesLeft()));
    try {
        slot.Io->StartProcess(command.Program, command.Arguments, QString(), false);
    } catch (...) {
        DropOutput(slot.File);
        slot.Working = false;
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
    if (m_active && Interrupted())
        StopPendingChapters();
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

// The files of this run not yet done: those on an encoder or waiting for
// an answer, and those not yet taken.
int TConversionRun::FilesLeft() const
{
    const auto busy = std::count_if(m_slots.begin(), m_slots.end(),
                                    [this](const TSlot &slot) { return slot.Busy() || &slot == m_asking; });
    return int(busy + qsizetype(m_jobs.size() - m_next));
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
        if (!slot.Working || (slot.Io && slot.Io->IsRunning()))
            continue;
        const TFileOutcome outcome = FinishFile(slot);
        slot.Working = false;
        OutputEnded(slot, outcome);
    }
}

TFileOutcome TConversionRun::FinishFile(TSlot &slot)
{
    TRunningFile &file = slot.File;
    if (file.Report.Detail.isEmpty())
        file.Report.Detail = file.LastErrorLine;
    // A stopped file is not a failure, nor a finished one, whoever stopped
    // the encoder: this run, or a signal from elsewhere.
    if (Interrupted() || !slot.Io || slot.Io->LastExitCode() == EncoderContract::ExitStopped) {
        KeepStoppedPart(file);
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
        m_failedSources.append(file.Shown);
    // An incomplete file stays only where it replaced nothing.
    if (outcome == TFileOutcome::Converted || (outcome == TFileOutcome::Incomplete && !file.Replaces()))
        m_queue.AddOutput(RowOf(file), file.Target);
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
    if (file.SourceEndsEarly && file.Replaces()) {
        DropOutput(file);
        return TFileOutcome::Incomplete;
    }
    try {
        CommitTemporary(file.Output, file.Target);
    } catch (const TFileWriteError &error) {
        FailWithWriteError(file.Report, error);
        DropOutput(file);
        return TFileOutcome::Failed;
    }
    file.Report.Output = file.Target;
    return file.SourceEndsEarly ? TFileOutcome::Incomplete : TFileOutcome::Converted;
}

// What a stop left of a new file is kept, named as the part it is; the
// target's name stays free for the whole file. An old file is never
// replaced by a part.
void TConversionRun::KeepStoppedPart(TRunningFile &file)
{
    if (file.Replaces() || file.Output.isEmpty() || !HoldsOutput(file.Output))
        return DropOutput(file);
    const qint64 seconds = file.StoppedSeconds >= 0 ? file.StoppedSeconds : file.FMaxTime;
    QString note;
    try {
        note = FormatText(m_settings.Texts.StoppedPartNote, {FileNameTime(seconds)});
    } catch (const TolvaneError &) {
        note = FormatText(TReportTexts().StoppedPartNote, {FileNameTime(seconds)});
    }
    const QString part = StoppedPartPath(file.Target, note);
    if (::rename(QFile::encodeName(file.Output).constData(), QFile::encodeName(part).constData()) != 0)
        return DropOutput(file);
    RemoveBarePlaceholder(file.Target);
    m_writtenThisRun.remove(file.Target);
    file.Report.PartKept = true;
    file.Report.ReadSeconds = seconds;
    file.Report.DeclaredSeconds = file.FDuration;
    file.Report.Output = part;
}

// Nothing of the output stays: the hidden file goes, and so does the
// placeholder of a new target; an old file stays as it was.
void TConversionRun::DropOutput(TRunningFile &file)
{
    if (!file.Output.isEmpty())
        QFile::remove(file.Output);
    if (file.NewTarget) {
        RemoveBarePlaceholder(file.Target);
    } else {
        file.Report.OldKept = true;
    }
    m_writtenThisRun.remove(file.Target); // the user's file still (or nobody's), not the run's
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
        slot.Io = nullptr;
    }
    // What the stopped encoders left is settled now: no signal will tell of their end.
    FinishEndedFiles();
    for (TSlot &slot : m_slots)
        slot.ChapterPending = false;
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
    return file.Chapter > 0 ? OverWholeSource(file, view) : view;
}

// The progress of a chapter as a share of its whole source, each chapter
// weighed by its length (or all alike when their lengths are not known), so
// that it runs once from 0 to 99 over all of them.
TProgressView TConversionRun::OverWholeSource(const TRunningFile &file, const TProgressView &chapterView)
{
    const qsizetype current = file.Chapter - 1;
    double total = 0;
    for (double length : file.ChapterLengths)
        total += length;
    const bool weighed = total > 0 && current < file.ChapterLengths.size();
    double before = weighed ? 0 : double(current);
    for (qsizetype i = 0; weighed && i < current; ++i)
        before += file.ChapterLengths[i];
    const double within =
        weighed ? std::min(double(chapterView.Converted), file.ChapterLengths[current]) : chapterView.Percent / 100.0;
    if (!weighed)
        total = double(file.Chapters.size());
    TProgressView view = chapterView;
    view.Percent = std::clamp(int((before + within) * 100 / total), 0, 99);
    if (weighed) {
        view.Duration = std::llround(total);
        view.Converted = std::llround(before + within);
        view.EndClock = SecondsToClock(view.Duration);
    }
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
        if (!line.isEmpty() && !IsMarkerLine(line))
            slot->File.LastErrorLine = line;
    }
    ReadMarkerLines(slot->File, text);
    emit FileProgress(RowOf(slot->File), ParseInto(slot->File, text));
}

void TConversionRun::ReadMarkerLines(TRunningFile &file, const QString &text)
{
    file.ErrorTail = (file.ErrorTail + text).right(MarkerTailLength);
    const QString kind = TrimControls(ExtractMarked(file.ErrorTail, QLatin1String(EncoderContract::FailureOpen),
                                                    QLatin1String(EncoderContract::FailureClose)));
    if (!kind.isEmpty())
        file.Report.FailureKind = kind;
    const QString stopped = TrimControls(ExtractMarked(file.ErrorTail, QLatin1String(EncoderContract::StoppedOpen),
                                                       QLatin1String(EncoderContract::StoppedClose)));
    bool read = false;
    if (const double seconds = stopped.toDouble(&read); read && seconds >= 0)
        file.StoppedSeconds = qint64(seconds);
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
