#pragma once

#include "conversion/FileReport.h"
#include "conversion/RunTally.h"

#include <QJsonObject>
#include <QString>

#include <cstdio>

// text with every control character written out ("\x1b"): a file name or
// an encoder's line can neither move the cursor, clear the screen nor begin
// a line of its own that reads as the program's.
QString TerminalSafe(const QString &text);

// What a terminal run prints on standard error: a line per file as it ends,
// a live line of the whole run while the stream is a terminal, and a
// summary at the end. For a program that runs this one, every line is
// instead a JSON object, one per event, whose keys stay as they are:
//   {"event":"start","file":F,"output":O}          O null when not known yet
//   {"event":"progress","file":F,"percent":P,"seconds":S}
//   {"event":"end","file":F,"state":W,"reason":R,"outputs":[...]}
//   {"event":"note","text":T}                      about the run as a whole
//   {"event":"error","text":T}                     what ended the run early
//   {"event":"summary","converted":N,"failed":N,"skipped":N,"exit":N}
// W is the word a text line begins with (done, failed, skipped, stopped,
// incomplete); "chapterFiles" is added to an end written one file per chapter.
class TTerminalReport
{
public:
    // live: redraw one line in place (standard error is a terminal);
    // quiet: only failures and the summary (and no progress in JSON);
    // json: the JSON events.
    TTerminalReport(std::FILE *stream, bool live, bool quiet, bool json = false);

    bool IsJson() const { return m_json; }
    // A file is taken; output: where it is to go, empty when not known yet. JSON only.
    void FileStarted(const QString &name, const QString &output);
    // percent of a file, seconds of it converted. JSON only.
    void FileProgress(const QString &name, int percent, qint64 seconds);

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
    // An event as its one line, without the line's end: compact, UTF-8.
    static QByteArray EventLine(const QJsonObject &event);

private:
    void Write(const QString &text);
    void WriteEvent(const QJsonObject &event);
    void ClearLive();

    std::FILE *m_stream;
    bool m_live;
    bool m_quiet;
    bool m_json;
    bool m_liveShown = false;
    TRunTally m_tally;
    TTallyTexts m_texts;
};
