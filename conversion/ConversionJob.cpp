#include "conversion/ConversionJob.h"

#include "common/TolvaneError.h"
#include "console/ConsoleIO.h"
#include "conversion/FileQueue.h"
#include "conversion/OutputFiles.h"
#include "conversion/OutputNames.h"
#include "conversion/TargetFile.h"
#include "libm9s/EncoderContract.h"

#include <QDir>
#include <QFileInfo>

#include <optional>
#include <utility>

// One file goes through these steps, each started by the one before or by a
// signal, never by waiting:
//   Start           the plan and the folder; the facts a probe found are used,
//                   or the encoder is asked for them now
//   StartOutput     the target of the whole source or of its next chapter;
//                   an existing one asks FileExistsAsked and waits for
//                   AnswerFileExists
//   StartTarget     a new target gets the placeholder, so it exists from the
//                   moment its name is chosen; an existing one is left alone;
//                   the encoder writes a hidden file beside it; then the
//                   encoder starts
//   SettleIfEnded   the encoder ended: a complete, checked hidden file takes
//                   the target's name; a stopped one is kept under a name
//                   that says so, where it replaces nothing; anything else
//                   is dropped, and the old file (or no file) stays under
//                   the target's name
//   OutputEnded     a source in chapters waits for the run to start its next
//                   chapter (StartNextChapter); otherwise it is Finished

namespace {
bool PathExists(const QString &path) { return QFileInfo(path).exists() || QFileInfo(path).isSymLink(); }

QString CleanFolder(const QString &folder) { return QDir::cleanPath(QFileInfo(folder).absoluteFilePath()); }
}

int CurrentRow(const TFileQueue &queue, TRunningFile &file)
{
    // Rows only grow at the end during a run; the id finds a moved one all the same.
    if (file.Row < 0 || file.Row >= queue.Count() || queue.At(file.Row).Id != file.Item)
        file.Row = queue.RowOf(file.Item);
    return file.Row;
}

TConversionJob::TConversionJob(TJobHost &host, const TRunningFile &file, TConsoleIO *encoder, QObject *parent)
    : QObject(parent), m_host(host), m_file(file), m_encoder(encoder)
{
}

void TConversionJob::Start()
{
    // Queued, then moved or deleted: said as such, not as the encoder's complaint.
    if (!QFileInfo::exists(m_file.Source)) {
        m_file.Report.FailureKind = QLatin1String(FolderFailure::SourceGone);
        return OutputEnded(TFileOutcome::Failed);
    }

    const TRunSettings &settings = m_host.RunSettings();
    const TOutputOptions &options = settings.Options;
    std::optional<TMediaFacts> facts;
    const auto factsOnce = [&]() -> const TMediaFacts & {
        if (!facts)
            facts = FactsOf();
        return *facts;
    };
    const TOutputPlan plan = PlanOutput(options.Extension, m_file.ChosenTrack, options.PreferredLanguage,
                                        [&] { return factsOnce().Tracks; });
    m_file.AudioTrack = plan.AudioTrack;
    m_file.Extension = plan.Extension;
    m_file.Report.LanguageUnmatched = plan.LanguageUnmatched;
    const bool exact = !settings.TargetFile.isEmpty();
    // The hidden file the encoder writes takes the target's extension, which
    // tells the encoder the container: a copy's must be the one its codec goes in.
    if (exact && options.Extension == QLatin1String("copy") && m_file.AudioTrack >= 0
        && QFileInfo(settings.TargetFile).suffix().toLower() != m_file.Extension) {
        m_file.Report.FailureKind = QLatin1String(EncoderContract::FailureKind::Other);
        m_file.Report.Detail =
            QStringLiteral("a copy of this audio track goes into a .%1 file: the output's name must end so")
                .arg(m_file.Extension);
        return OutputEnded(TFileOutcome::Failed);
    }
    const QString folder =
        exact ? QFileInfo(settings.TargetFile).absolutePath()
              : OutputFolderFor(WithTrailingSlash(settings.Folder), m_file.Root, m_file.Source, settings.KeepFolders);
    // Made again should it have gone since the last file.
    ForceOutputFolder(folder);
    if (!QFileInfo(folder).isDir())
        return FailOnFolder(FolderFailure::NotMade, folder);
    m_file.Folder = WithTrailingSlash(folder);
    if (settings.SplitChapters && !exact)
        TakeChapters(factsOnce());
    StartOutput();
}

// The queue's facts when its probe has them, else the encoder is asked now.
TMediaFacts TConversionJob::FactsOf()
{
    const int row = Row();
    const TFileQueue &queue = m_host.RunQueue();
    if (m_host.RunProbe() && row >= 0 && queue.At(row).Facts.Known)
        return queue.At(row).Facts;
    const QString listing = ProbeListing(m_host.RunSettings().EncoderFolder, m_file.Source);
    return MediaFactsOf(ParseTrackList(listing), ParseChapterList(listing));
}

// A single chapter is the whole source: it is converted as one file.
void TConversionJob::TakeChapters(const TMediaFacts &facts)
{
    if (facts.Chapters.size() < 2)
        return;
    m_file.Chapters = facts.Chapters;
    m_file.ChapterLengths = ChapterLengths(facts.Chapters, double(facts.Duration));
    m_file.Chapter = 1;
}

// The next output of a file: the whole source, or its current chapter.
// Each goes through the same rules: up to date, the question, the run's own outputs.
void TConversionJob::StartOutput()
{
    QString path;
    if (m_file.Chapter > 0) {
        const qsizetype total = m_file.Chapters.size();
        path = ChapterOutputFilePath(m_file.Folder, m_file.Source, m_file.Extension, m_file.Chapter, int(total),
                                     m_file.Chapters[m_file.Chapter - 1].Title);
        m_host.RunQueue().SetChapter(Row(), m_file.Chapter, int(total));
        m_file.Report.Chapters = int(total);
    } else if (!m_host.RunSettings().TargetFile.isEmpty()) {
        path = m_host.RunSettings().TargetFile;
    } else {
        path = OutputFilePath(m_file.Folder, m_file.Source, m_file.Extension);
    }
    // A source is never its own output, whatever the answer to the question
    // would be: the output takes a free name beside it, unasked.
    if (m_host.IsSourceOfRun(path)) {
        m_file.Report.BesideSource = true;
        path = AutoRenameTarget(path);
    }
    if (TargetKindOf(path) == TTargetKind::Other)
        return FailOnTarget(path);
    const QSet<QString> &written = m_host.WrittenThisRun();
    if (m_host.RunSettings().SkipUpToDate && !written.contains(path) && IsOutputUpToDate(m_file.Source, path)
        && IsOutputWhole(path)) {
        m_file.Report.Detail = QStringLiteral("the output is up to date");
        return StartTarget(QString());
    }
    if (PathExists(path) && !written.contains(path) && m_host.OverwriteChoice() == ocAsk) {
        if (FolderRefusesFiles(path))
            return FailOnFolder(FolderFailure::Access, m_file.Folder);
        m_askedPath = path;
        emit FileExistsAsked(path);
        return;
    }
    StartTarget(
        ResolveTargetFile(path, m_host.OverwriteChoice(), [] { return quint8(ocAsk); }, m_host.WrittenThisRun()));
}

void TConversionJob::AnswerFileExists(quint8 choice)
{
    StartTarget(
        ResolveTargetFile(m_askedPath, m_host.OverwriteChoice(), [choice] { return choice; }, m_host.WrittenThisRun()));
}

void TConversionJob::EndUnanswered()
{
    if (m_file.Chapter > 0)
        OutputEnded(TFileOutcome::Stopped);
}

void TConversionJob::StartNextChapter()
{
    m_chapterPending = false;
    ++m_file.Chapter;
    // What the last chapter's encoder told is no part of this one.
    m_file.FDuration = m_file.FMaxTime = 0;
    m_file.LastErrorLine.clear();
    m_file.ErrorTail.clear();
    m_file.Output.clear();
    m_file.NewTarget = false;
    m_file.StoppedSeconds = -1;
    m_file.Report.Detail.clear();
    m_file.Report.FailureKind.clear();
    m_file.Report.OldKept = false;
    m_file.SourceEndsEarly = false;
    StartOutput();
}

void TConversionJob::StopPendingChapter()
{
    if (!std::exchange(m_chapterPending, false))
        return;
    ++m_file.Chapter;
    OutputEnded(TFileOutcome::Stopped);
}

void TConversionJob::StartTarget(const QString &target)
{
    m_file.Target = target;
    if (target.isEmpty())
        return OutputEnded(TFileOutcome::Skipped);
    try {
        PrepareOutput();
    } catch (const TFileWriteError &error) {
        if (FolderRefuses(error))
            return FailOnFolder(FolderFailure::Access, QFileInfo(target).absolutePath());
        // This file cannot be written; the next may well be (another name,
        // a folder made meanwhile), so the run goes on.
        FailWithWriteError(m_file.Report, error);
        return OutputEnded(TFileOutcome::Failed);
    }
    // From here the target is reserved: another file of this run that
    // wants the same name gets a new one.
    m_host.WrittenThisRun().insert(target);
    m_working = true;
    StartEncoder();
}

// The file fails for its folder. The output folder itself ends the run, as
// no file could go there; a kept subfolder fails only its own files.
void TConversionJob::FailOnFolder(const char *kind, const QString &folder)
{
    TFileReport &report = m_file.Report;
    report.FailureKind = QLatin1String(kind);
    report.Folder = CleanFolder(folder);
    report.Detail.clear();
    emit Finished(TFileOutcome::Failed);
    const TRunSettings &settings = m_host.RunSettings();
    if (report.Folder == CleanFolder(settings.Folder))
        throw TolvaneError(ReportText(TFileOutcome::Failed, report, settings.Texts));
}

// An output counts as up to date only when it holds all the source does: a
// file cut short (by a full disk, a kill, another program) is no copy of it.
// The source's length is what its container declares, which the audio may
// fall short of by a frame or two of either codec.
bool TConversionJob::IsOutputWhole(const QString &path)
{
    constexpr double tolerance = 0.25;
    const TRunSettings &settings = m_host.RunSettings();
    double expected = m_file.Chapter > 0 ? m_file.ChapterLengths.value(m_file.Chapter - 1) : 0.0;
    if (m_file.Chapter == 0) {
        const TMediaFacts facts = FactsOf();
        const int taken = m_file.AudioTrack >= 0 ? m_file.AudioTrack
                                                 : AutomaticTrack(facts.Tracks, settings.Options.PreferredLanguage);
        for (const TAudioTrack &track : facts.Tracks)
            if (track.Index == taken)
                expected = track.Duration;
    }
    // A source that tells no length leaves nothing to measure against.
    if (expected <= 0)
        return true;
    const QList<TAudioTrack> written = ParseTrackList(ProbeListing(settings.EncoderFolder, path));
    return !written.isEmpty() && written.first().Duration + tolerance >= expected;
}

// Something that is no file has the output's name: this output fails, the run goes on.
void TConversionJob::FailOnTarget(const QString &target)
{
    TFileReport &report = m_file.Report;
    report.FailureKind = QLatin1String(FolderFailure::NotAFile);
    report.Folder = target;
    report.Detail.clear();
    OutputEnded(TFileOutcome::Failed);
}

// One output of a file ended. A file in chapters goes on with its next
// chapter after a written or skipped one; otherwise the file ends, counted
// as converted once any of its chapter files was written.
void TConversionJob::OutputEnded(TFileOutcome outcome)
{
    if (m_file.Chapter > 0) {
        const bool written = outcome == TFileOutcome::Converted || outcome == TFileOutcome::Incomplete;
        m_file.Report.ChapterFiles += written ? 1 : 0;
        bool passed = outcome == TFileOutcome::Converted || outcome == TFileOutcome::Skipped;
        if (passed && m_file.Chapter < m_file.Chapters.size()) {
            if (!m_host.Interrupted()) {
                m_chapterPending = true;
                return;
            }
            // A stop as the chapter ended: the file ends at the next one.
            ++m_file.Chapter;
            outcome = TFileOutcome::Stopped;
            passed = false;
        }
        if (passed && m_file.Report.ChapterFiles > 0)
            outcome = TFileOutcome::Converted;
        m_file.Report.Chapter = passed ? 0 : m_file.Chapter;
    }
    emit Finished(outcome);
}

void TConversionJob::StartEncoder()
{
    // A missing source leaves the input out: the encoder fails on its own.
    const QString input = QFileInfo::exists(m_file.Source) ? m_file.Source : QString();
    const TEncoderCommand command = m_host.EncoderCommandFor(m_file, input);
    try {
        m_encoder->StartProcess(command.Program, command.Arguments, QString(), false);
    } catch (...) {
        DropOutput();
        m_working = false;
        throw;
    }
}
