#include "terminal/TerminalReport.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

TTerminalReport::TTerminalReport(std::FILE *stream, bool live, bool quiet, bool json)
    : m_stream(stream), m_live(live && !quiet && !json), m_quiet(quiet), m_json(json)
{
}

QByteArray TTerminalReport::EventLine(const QJsonObject &event)
{
    return QJsonDocument(event).toJson(QJsonDocument::Compact);
}

void TTerminalReport::WriteEvent(const QJsonObject &event)
{
    std::fputs((EventLine(event) + '\n').constData(), m_stream);
    std::fflush(m_stream);
}

void TTerminalReport::FileStarted(const QString &name, const QString &output)
{
    if (!m_json)
        return;
    WriteEvent({{"event", "start"},
                {"file", name},
                {"output", output.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(output)}});
}

void TTerminalReport::FileProgress(const QString &name, int percent, qint64 seconds)
{
    if (!m_json || m_quiet)
        return;
    WriteEvent({{"event", "progress"}, {"file", name}, {"percent", percent}, {"seconds", seconds}});
}

QString TTerminalReport::EndWord(TFileOutcome end)
{
    switch (end) {
    case TFileOutcome::Converted:
        return QStringLiteral("done");
    case TFileOutcome::Incomplete:
        return QStringLiteral("incomplete");
    case TFileOutcome::Skipped:
        return QStringLiteral("skipped");
    case TFileOutcome::Failed:
        return QStringLiteral("failed");
    case TFileOutcome::Stopped:
        return QStringLiteral("stopped");
    }
    return {};
}

QString TerminalSafe(const QString &text)
{
    QString safe;
    safe.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code < 0x20 || code == 0x7f || (code >= 0x80 && code < 0xa0))
            safe += QStringLiteral("\\x%1").arg(int(code), 2, 16, QLatin1Char('0'));
        else
            safe += c;
    }
    return safe;
}

QString TTerminalReport::FileLine(TFileOutcome end, const QString &name, const QString &reason, const QString &output)
{
    QString line = QStringLiteral("%1: %2").arg(EndWord(end), TerminalSafe(name));
    if (!output.isEmpty())
        line += QStringLiteral(" -> ") + TerminalSafe(output);
    if (!reason.isEmpty())
        line += QStringLiteral(" (%1)").arg(TerminalSafe(reason));
    return line;
}

QString TTerminalReport::ProgressLine(int percent, int ended, int files, qint64 secondsLeft)
{
    QString line = QStringLiteral("%1% · %2 of %3 files").arg(percent).arg(ended).arg(files);
    if (secondsLeft >= 0)
        // Work is left until the run ends: never "about 0 s".
        line += QStringLiteral(" · about %1 left").arg(SpanText(std::max<qint64>(1, secondsLeft), TSpanTexts()));
    return line;
}

// The end as the window says it, on one line.
QString TTerminalReport::SummaryLine(const TRunTally &tally, qint64 elapsedMs, bool stopped, const TTallyTexts &texts)
{
    return (QStringList{stopped ? texts.Stopped : texts.Finished} + tally.CountSentences(elapsedMs, texts))
        .join(QLatin1Char(' '));
}

void TTerminalReport::Note(const QString &text)
{
    if (m_json)
        return WriteEvent({{"event", "note"}, {"text", text}});
    ClearLive();
    Write(QStringLiteral("tolvane: ") + TerminalSafe(text) + QLatin1Char('\n'));
}

void TTerminalReport::FileEnded(TFileOutcome end, const QString &name, const QString &reason, int chapterFiles,
                                const QString &output)
{
    m_tally.Record(end, name, reason, chapterFiles);
    if (m_json) {
        QJsonObject event{{"event", "end"},
                          {"file", name},
                          {"state", EndWord(end)},
                          {"reason", reason},
                          {"outputs", output.isEmpty() ? QJsonArray() : QJsonArray{output}}};
        if (chapterFiles > 0)
            event.insert(QStringLiteral("chapterFiles"), chapterFiles);
        return WriteEvent(event);
    }
    if (m_quiet && end != TFileOutcome::Failed && end != TFileOutcome::Incomplete)
        return;
    ClearLive();
    Write(FileLine(end, name, reason, output) + QLatin1Char('\n'));
}

void TTerminalReport::Progress(int percent, int ended, int files, qint64 secondsLeft)
{
    if (!m_live)
        return;
    // "\r" and the erase-line sequence redraw the line in place.
    Write(QStringLiteral("\r\x1b[K") + ProgressLine(percent, ended, files, secondsLeft));
    m_liveShown = true;
}

void TTerminalReport::Summary(qint64 elapsedMs, bool stopped)
{
    if (m_json)
        return WriteEvent({{"event", "summary"},
                           {"converted", m_tally.Count(TFileOutcome::Converted)},
                           {"failed", m_tally.Count(TFileOutcome::Failed)},
                           {"skipped", m_tally.Count(TFileOutcome::Skipped)},
                           {"exit", ExitStatus()}});
    ClearLive();
    Write(SummaryLine(m_tally, elapsedMs, stopped, m_texts) + QLatin1Char('\n'));
}

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
