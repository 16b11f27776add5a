#pragma once

#include "conversion/FileReport.h"
#include "conversion/RunTally.h"

#include <QString>

#include <cstdio>

// text with every control character written out ("\x1b"): a file name or
// an encoder's line can neither move the cursor, clear the screen nor begin
// a line of its own that reads as the program's.
QString TerminalSafe(const QString &text);

// What a terminal run prints on standard error: a line per file as it ends,
// a live line of the whole run while the stream is a terminal, and a
// summary at the end.
class TTerminalReport
{
public:
    // live: redraw one line in place (standard error is a terminal);
    // quiet: only failures and the summary.
    TTerminalReport(std::FILE *stream, bool live, bool quiet);

    // The run takes files more files.
    void Expect(int files) { m_tally.Expect(files); }
    // output: the file written, when it is one file.
    void FileEnded(TFileOutcome end, const QString &name, const QString &reason, int chapterFiles = 0,
                   const QString &output = QString());
    // percent of the run, files ended so far of all, seconds left (<0: unknown).
    void Progress(int percent, int ended, int files, qint64 secondsLeft);
    // A line about the run as a whole, said once; quiet keeps it too.
    void Note(const QString &text);
    // stopped: the run was stopped rather than gone through.
    void Summary(qint64 elapsedMs, bool stopped = false);

    const TRunTally &Tally() const { return m_tally; }
    // 0 when every file was converted or skipped, 1 otherwise.
    int ExitStatus() const { return m_tally.Shortfall() ? 1 : 0; }

    // The user's words for the summary.
    void SetTexts(const TTallyTexts &texts) { m_texts = texts; }

    // The words of a line, for tests.
    static QString EndWord(TFileOutcome end);
    static QString FileLine(TFileOutcome end, const QString &name, const QString &reason,
                            const QString &output = QString());
    static QString ProgressLine(int percent, int ended, int files, qint64 secondsLeft);
    static QString SummaryLine(const TRunTally &tally, qint64 elapsedMs, bool stopped,
                               const TTallyTexts &texts = TTallyTexts());

private:
    void Write(const QString &text);
    void ClearLive();

    std::FILE *m_stream;
    bool m_live;
    bool m_quiet;
    bool m_liveShown = false;
    TRunTally m_tally;
    TTallyTexts m_texts;
};
