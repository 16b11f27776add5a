#pragma once

#include <QString>

#include <cstdio>

// What a terminal run prints on standard error: a line per file as it ends,
// a live line of the whole run while the stream is a terminal, and a
// summary at the end.
class TTerminalReport
{
public:
    enum class TEnd { Done, Incomplete, Skipped, Failed, Stopped };

    struct TCounts
    {
        int Done = 0;
        int Incomplete = 0;
        int Skipped = 0;
        int Failed = 0;
        int Stopped = 0;
        int Total() const { return Done + Incomplete + Skipped + Failed + Stopped; }
    };

    // live: redraw one line in place (standard error is a terminal);
    // quiet: only failures and the summary.
    TTerminalReport(std::FILE *stream, bool live, bool quiet);

    void FileEnded(TEnd end, const QString &name, const QString &reason);
    // percent of the run, files ended so far of all, seconds left (<0: unknown).
    void Progress(int percent, int ended, int files, qint64 secondsLeft);
    void Summary(qint64 elapsedMs);

    const TCounts &Counts() const { return m_counts; }
    // 0 when every file was converted or skipped, 1 otherwise.
    int ExitStatus() const;

    // The words of a line, for tests.
    static QString EndWord(TEnd end);
    static QString FileLine(TEnd end, const QString &name, const QString &reason);
    static QString ProgressLine(int percent, int ended, int files, qint64 secondsLeft);
    static QString SummaryLine(const TCounts &counts, qint64 elapsedMs);

private:
    void Write(const QString &text);
    void ClearLive();

    std::FILE *m_stream;
    bool m_live;
    bool m_quiet;
    bool m_liveShown = false;
    TCounts m_counts;
};
