#pragma once

#include "conversion/FileReport.h"
#include "conversion/RunEstimate.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

// The words of a run's end, each with "%s" for its numbers; English until
// a language file gives its own.
struct TTallyTexts
{
    QString Finished = QStringLiteral("Conversion finished.");
    QString Stopped = QStringLiteral("Conversion stopped.");
    QString Converted = QStringLiteral("Files converted: %s of %s, in %s."); // converted, files of the run, time
    QString Chapters = QStringLiteral("Of these, %s written as one file per chapter (%s chapter files).");
    QString Skipped = QStringLiteral("Skipped: %s.");
    QString Failed = QStringLiteral("Failed: %s.");
    QString Incomplete = QStringLiteral("Incomplete files (the source ends early): %s.");
    QString StoppedFiles = QStringLiteral("Stopped: %s.");
    QString FailedFiles = QStringLiteral("These files could not be converted:");
    QString MoreFailed = QStringLiteral("... and %s more (see details)");
    QString OpenFolder = QStringLiteral("Do you want to open the output folder?");
    TSpanTexts Spans;
};

// What a run's end says, in the order the user reads it.
struct TEndMessage
{
    QString Text;     // the end, what was done, and the failed files with their reasons
    QString Question; // last: whether to open the output folder; empty after a stop
    QString Detail;   // every failed or incomplete file with its reason, for the scrollable detail area
};

// Counts how the files of one run ended and says so at its end, for the
// window's end message and the terminal's summary alike.
class TRunTally
{
public:
    // The run takes files more files.
    void Expect(int files) { m_files += files; }
    // A file ended. source as the user knows it; reason as its row tells it.
    // chapterFiles: the file was written as that many files, one per chapter.
    void Record(TFileOutcome outcome, const QString &source, const QString &reason, int chapterFiles = 0);

    int Files() const { return m_files; }
    int Count(TFileOutcome outcome) const;
    // Files failed, incomplete or stopped: the run did not do all it was asked.
    bool Shortfall() const;

    // One sentence per count: the converted always, the others when there are any.
    QStringList CountSentences(qint64 elapsedMs, const TTallyTexts &texts) const;
    // stopped: the user stopped the run, and nothing is asked.
    TEndMessage EndMessage(bool stopped, qint64 elapsedMs, const TTallyTexts &texts) const;

private:
    struct TProblem
    {
        QString Source;
        QString Reason;
        bool Failed = false; // else incomplete
    };
    int m_files = 0;
    int m_counts[5] = {};
    int m_chapteredFiles = 0; // converted files written one per chapter
    int m_chapterFiles = 0;   // the files those made
    QList<TProblem> m_problems;
};
