#include "terminal/TerminalReport.h"

namespace {
QString Duration(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds / 60 % 60);
}

QString Elapsed(qint64 ms)
{
    // Short runs read better with a tenth of a second.
    if (ms < 10000)
        return QStringLiteral("%1 s").arg(double(ms) / 1000.0, 0, 'f', 1);
    return Duration(ms / 1000);
}
}

TTerminalReport::TTerminalReport(std::FILE *stream, bool live, bool quiet)
    : m_stream(stream), m_live(live && !quiet), m_quiet(quiet)
{
}

QString TTerminalReport::EndWord(TEnd end)
{
    switch (end) {
    case TEnd::Done:
        return QStringLiteral("done");
    case TEnd::Incomplete:
        return QStringLiteral("incomplete");
    case TEnd::Skipped:
        return QStringLiteral("skipped");
    case TEnd::Failed:
        return QStringLiteral("failed");
    case TEnd::Stopped:
        return QStringLiteral("stopped");
    }
    return {};
}

QString TTerminalReport::FileLine(TEnd end, const QString &name, const QString &reason)
{
    QString line = QStringLiteral("%1: %2").arg(EndWord(end), name);
    if (!reason.isEmpty())
        line += QStringLiteral(" (%1)").arg(reason);
    return line;
}

QString TTerminalReport::ProgressLine(int percent, int ended, int files, qint64 secondsLeft)
{
    QString line = QStringLiteral("%1% · %2 of %3 files").arg(percent).arg(ended).arg(files);
    if (secondsLeft >= 0)
        line += QStringLiteral(" · about %1 left").arg(Duration(secondsLeft));
    return line;
}

QString TTerminalReport::SummaryLine(const TCounts &counts, qint64 elapsedMs)
{
    QString line = QStringLiteral("%1 of %2 files converted").arg(counts.Done).arg(counts.Total());
    const auto add = [&line](int count, const char *word) {
        if (count > 0)
            line += QStringLiteral(", %1 %2").arg(count).arg(QLatin1String(word));
    };
    add(counts.Incomplete, "incomplete");
    add(counts.Skipped, "skipped");
    add(counts.Failed, "failed");
    add(counts.Stopped, "stopped");
    return line + QStringLiteral(", in %1.").arg(Elapsed(elapsedMs));
}

void TTerminalReport::FileEnded(TEnd end, const QString &name, const QString &reason)
{
    switch (end) {
    case TEnd::Done:
        ++m_counts.Done;
        break;
    case TEnd::Incomplete:
        ++m_counts.Incomplete;
        break;
    case TEnd::Skipped:
        ++m_counts.Skipped;
        break;
    case TEnd::Failed:
        ++m_counts.Failed;
        break;
    case TEnd::Stopped:
        ++m_counts.Stopped;
        break;
    }
    if (m_quiet && end != TEnd::Failed && end != TEnd::Incomplete)
        return;
    ClearLive();
    Write(FileLine(end, name, reason) + QLatin1Char('\n'));
}

void TTerminalReport::Progress(int percent, int ended, int files, qint64 secondsLeft)
{
    if (!m_live)
        return;
    // "\r" and the erase-line sequence redraw the line in place.
    Write(QStringLiteral("\r\x1b[K") + ProgressLine(percent, ended, files, secondsLeft));
    m_liveShown = true;
}

void TTerminalReport::Summary(qint64 elapsedMs)
{
    ClearLive();
    Write(SummaryLine(m_counts, elapsedMs) + QLatin1Char('\n'));
}

int TTerminalReport::ExitStatus() const { return m_counts.Failed + m_counts.Incomplete + m_counts.Stopped > 0 ? 1 : 0; }

void TTerminalReport::ClearLive()
{
    if (!m_liveShown)
        return;
    Write(QStringLiteral("\r\x1b[K"));
    m_liveShown = false;
}

void TTerminalReport::Write(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), m_stream);
    std::fflush(m_stream);
}
