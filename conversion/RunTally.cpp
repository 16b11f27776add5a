#include "conversion/RunTally.h"

#include "conversion/EncoderOutput.h"

namespace {
// The main text names this many failed files at most; the detail area has them all.
constexpr int FailedFilesShown = 10;

QString Number(int count) { return QString::number(count); }

QString FileName(const QString &source) { return source.mid(source.lastIndexOf(QLatin1Char('/')) + 1); }
}

void TRunTally::Record(TFileOutcome outcome, const QString &source, const QString &reason, int chapterFiles)
{
    ++m_counts[int(outcome)];
    if (outcome == TFileOutcome::Converted && chapterFiles > 1) {
        ++m_chapteredFiles;
        m_chapterFiles += chapterFiles;
    }
    if (outcome == TFileOutcome::Failed || outcome == TFileOutcome::Incomplete)
        m_problems.append({source, reason, outcome == TFileOutcome::Failed});
}

int TRunTally::Count(TFileOutcome outcome) const { return m_counts[int(outcome)]; }

bool TRunTally::Shortfall() const
{
    return Count(TFileOutcome::Failed) + Count(TFileOutcome::Incomplete) + Count(TFileOutcome::Stopped) > 0;
}

QStringList TRunTally::CountSentences(qint64 elapsedMs, const TTallyTexts &texts) const
{
    QStringList sentences{FormatText(texts.Converted, {Number(Count(TFileOutcome::Converted)), Number(m_files),
                                                       ElapsedText(elapsedMs, texts.Spans)})};
    if (m_chapteredFiles > 0)
        sentences << FormatText(texts.Chapters, {Number(m_chapteredFiles), Number(m_chapterFiles)});
    const std::pair<TFileOutcome, const QString *> others[] = {{TFileOutcome::Skipped, &texts.Skipped},
                                                               {TFileOutcome::Failed, &texts.Failed},
                                                               {TFileOutcome::Incomplete, &texts.Incomplete},
                                                               {TFileOutcome::Stopped, &texts.StoppedFiles}};
    for (const auto &[outcome, text] : others)
        if (Count(outcome) > 0)
            sentences << FormatText(*text, {Number(Count(outcome))});
    return sentences;
}

TEndMessage TRunTally::EndMessage(bool stopped, qint64 elapsedMs, const TTallyTexts &texts) const
{
    const QString paragraph = QStringLiteral("\n\n");
    TEndMessage message;
    message.Text = (stopped ? texts.Stopped : texts.Finished) + paragraph
                   + CountSentences(elapsedMs, texts).join(QLatin1Char('\n'));
    QStringList failed;
    QStringList detail;
    for (const TProblem &problem : m_problems) {
        detail << problem.Source + QStringLiteral(": ") + problem.Reason;
        if (problem.Failed)
            failed << FileName(problem.Source) + QStringLiteral(": ") + problem.Reason;
    }
    // A long list would grow the box off the screen: the main text names
    // the first few, the detail area all of them.
    if (!failed.isEmpty()) {
        message.Text +=
            paragraph + texts.FailedFiles + QLatin1Char('\n') + failed.mid(0, FailedFilesShown).join(QLatin1Char('\n'));
        if (failed.size() > FailedFilesShown)
            message.Text +=
                QLatin1Char('\n') + FormatText(texts.MoreFailed, {Number(int(failed.size()) - FailedFilesShown)});
    }
    message.Detail = detail.join(QLatin1Char('\n'));
    if (!stopped)
        message.Question = texts.OpenFolder;
    return message;
}
