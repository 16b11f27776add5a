#include "conversion/ConversionJob.h"

#include "common/TolvaneError.h"
#include "console/ConsoleIO.h"
#include "conversion/FileQueue.h"
#include "conversion/OutputFiles.h"
#include "conversion/OutputNames.h"
#include "conversion/TargetFile.h"
#include "conversion/TemporaryOutput.h"
#include "libm9s/EncoderContract.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

// What a job's encoder is given to write, what it says while it writes, and
// what is made of what it left.

namespace {
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
    case ENAMETOOLONG:
        return QLatin1String(FolderFailure::NameTooLong);
    default:
        return QLatin1String(EncoderContract::FailureKind::Other);
    }
}

// The progress of a chapter as a share of its whole source, each chapter
// weighed by its length (or all alike when their lengths are not known), so
// that it runs once from 0 to 99 over all of them.
TProgressView OverWholeSource(const TRunningFile &file, const TProgressView &chapterView)
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
}

TProgressView ReadProgress(TRunningFile &file, const QString &text)
{
    // Values read before a bad one are kept, as the display of this chunk is dropped.
    TProgressState state{file.FDuration, file.FMaxTime};
    TProgressView view;
    try {
        view = ReadProgressChunk(text, state);
    } catch (...) {
        file.FDuration = state.Duration;
        file.FMaxTime = state.MaxTime;
        throw;
    }
    file.FDuration = state.Duration;
    file.FMaxTime = state.MaxTime;
    return file.Chapter > 0 ? OverWholeSource(file, view) : view;
}

void TConversionJob::FailWithWriteError(TFileReport &report, const TFileWriteError &error)
{
    report.Detail = error.text();
    report.FailureKind = WriteFailureKind(error.Code);
}

// A new file may not be made in the folder at all: every file for it would fail alike.
bool TConversionJob::FolderRefuses(const TFileWriteError &error)
{
    return error.Code == EACCES || error.Code == EPERM || error.Code == EROFS;
}

// Whether the folder of target refuses the hidden file a replacement would
// be written to: tried, not read off the permissions, which root and
// read-only mounts make misleading. Any other failure to make a file there
// is left to the file's own writing, which names it.
bool TConversionJob::FolderRefusesFiles(const QString &target)
{
    try {
        QFile::remove(CreateTemporaryBeside(target));
    } catch (const TFileWriteError &error) {
        return FolderRefuses(error);
    }
    return false;
}

// The encoder always writes a hidden file: until it is whole and checked,
// the target's name holds the old file, or the placeholder of a new one.
void TConversionJob::PrepareOutput()
{
    m_file.NewTarget = TargetKindOf(m_file.Target) == TTargetKind::Missing;
    if (m_file.NewTarget)
        WritePlaceholder(m_file.Target);
    try {
        m_file.Output = CreateTemporaryBeside(m_file.Target, m_file.NewTarget ? m_file.Target : QString());
    } catch (...) {
        if (m_file.NewTarget)
            RemoveBarePlaceholder(m_file.Target);
        throw;
    }
}

void TConversionJob::SettleIfEnded()
{
    if (!m_working || (m_encoder && m_encoder->IsRunning()))
        return;
    const TFileOutcome outcome = FinishFile();
    m_working = false;
    OutputEnded(outcome);
}

TFileOutcome TConversionJob::FinishFile()
{
    if (m_file.Report.Detail.isEmpty())
        m_file.Report.Detail = m_file.LastErrorLine;
    // A stopped file is not a failure, nor a finished one, whoever stopped
    // the encoder: this run, or a signal from elsewhere.
    if (m_host.Interrupted() || !m_encoder || m_encoder->LastExitCode() == EncoderContract::ExitStopped) {
        KeepStoppedPart();
        return TFileOutcome::Stopped;
    }
    TFileOutcome outcome = TFileOutcome::Failed;
    if (m_encoder->LastExitCode() == EncoderContract::ExitDone) {
        outcome = SettleOutput();
    } else {
        DropOutput();
        if (m_file.Report.FailureKind.isEmpty())
            m_file.Report.FailureKind = QLatin1String(EncoderContract::FailureKind::Other);
    }
    // An incomplete file stays only where it replaced nothing.
    if (outcome == TFileOutcome::Converted || (outcome == TFileOutcome::Incomplete && !m_file.Replaces()))
        m_host.RunQueue().AddOutput(Row(), m_file.Target);
    return outcome;
}

TFileOutcome TConversionJob::SettleOutput()
{
    // A success that left no audio is none: the output was never written,
    // or went with its folder.
    if (!HoldsOutput(m_file.Output)) {
        m_file.Report.FailureKind = QLatin1String(EncoderContract::FailureKind::Check);
        DropOutput();
        return TFileOutcome::Failed;
    }
    // All the source held, but less than it claims: worth keeping as a new
    // file, never in place of one the user had.
    if (m_file.SourceEndsEarly && m_file.Replaces()) {
        DropOutput();
        return TFileOutcome::Incomplete;
    }
    try {
        CommitTemporary(m_file.Output, m_file.Target);
    } catch (const TFileWriteError &error) {
        FailWithWriteError(m_file.Report, error);
        DropOutput();
        return TFileOutcome::Failed;
    }
    m_file.Report.Output = m_file.Target;
    return m_file.SourceEndsEarly ? TFileOutcome::Incomplete : TFileOutcome::Converted;
}

// What a stop left of a new file is kept, named as the part it is; the
// target's name stays free for the whole file. An old file is never
// replaced by a part.
void TConversionJob::KeepStoppedPart()
{
    if (m_file.Replaces() || m_file.Output.isEmpty() || !HoldsOutput(m_file.Output))
        return DropOutput();
    const qint64 seconds = m_file.StoppedSeconds >= 0 ? m_file.StoppedSeconds : m_file.FMaxTime;
    QString note;
    try {
        note = FormatText(m_host.RunSettings().Texts.StoppedPartNote, {FileNameTime(seconds)});
    } catch (const TolvaneError &) {
        note = FormatText(TReportTexts().StoppedPartNote, {FileNameTime(seconds)});
    }
    const QString part = StoppedPartPath(m_file.Target, note);
    if (::rename(QFile::encodeName(m_file.Output).constData(), QFile::encodeName(part).constData()) != 0)
        return DropOutput();
    RemoveBarePlaceholder(m_file.Target);
    m_host.WrittenThisRun().remove(m_file.Target);
    m_file.Report.PartKept = true;
    m_file.Report.ReadSeconds = seconds;
    m_file.Report.DeclaredSeconds = m_file.FDuration;
    m_file.Report.Output = part;
}

// Nothing of the output stays: the hidden file goes, and so does the
// placeholder of a new target; an old file stays as it was.
void TConversionJob::DropOutput()
{
    if (!m_file.Output.isEmpty())
        QFile::remove(m_file.Output);
    if (m_file.NewTarget) {
        RemoveBarePlaceholder(m_file.Target);
    } else {
        m_file.Report.OldKept = true;
    }
    m_host.WrittenThisRun().remove(m_file.Target); // the user's file still (or nobody's), not the run's
}

TProgressView TConversionJob::ReadError(const QString &text)
{
    // libm9s says why it failed in its last line on standard error; one
    // chunk may carry several lines.
    static const QRegularExpression lineEnds(QStringLiteral("[\\r\\n]"));
    for (const QString &piece : text.split(lineEnds, Qt::SkipEmptyParts)) {
        const QString line = piece.trimmed();
        if (!line.isEmpty() && !IsMarkerLine(line))
            m_file.LastErrorLine = line;
    }
    ReadMarkerLines(text);
    return ReadProgress(m_file, text);
}

void TConversionJob::ReadMarkerLines(const QString &text)
{
    m_file.ErrorTail = (m_file.ErrorTail + text).right(MarkerTailLength);
    const QString &tail = m_file.ErrorTail;
    const QString kind = TrimControls(
        ExtractMarked(tail, QLatin1String(EncoderContract::FailureOpen), QLatin1String(EncoderContract::FailureClose)));
    if (!kind.isEmpty())
        m_file.Report.FailureKind = kind;
    const QString stopped = TrimControls(
        ExtractMarked(tail, QLatin1String(EncoderContract::StoppedOpen), QLatin1String(EncoderContract::StoppedClose)));
    bool read = false;
    if (const double seconds = stopped.toDouble(&read); read && seconds >= 0)
        m_file.StoppedSeconds = qint64(seconds);
    const QString incomplete = TrimControls(ExtractMarked(tail, QLatin1String(EncoderContract::IncompleteOpen),
                                                          QLatin1String(EncoderContract::IncompleteClose)));
    if (incomplete.isEmpty())
        return;
    m_file.SourceEndsEarly = true;
    // The times only word the reason: a bad one leaves them out, not the marker.
    const QStringList seconds = incomplete.split(QLatin1Char('/'));
    try {
        if (seconds.size() == 2) {
            m_file.Report.ReadSeconds = RoundedSeconds(seconds[0]);
            m_file.Report.DeclaredSeconds = RoundedSeconds(seconds[1]);
        }
    } catch (const TolvaneError &) {
        m_file.Report.ReadSeconds = m_file.Report.DeclaredSeconds = 0;
    }
}
