#include "terminal/TerminalTexts.h"

#include "common/LanguageFile.h"
#include "conversion/EncoderOutput.h"
#include "libm9s/EncoderContract.h"

namespace {
const QString Section = QStringLiteral("frmMain");

// The two files a text may come from: the user's language, then English,
// which every installation ships; the built-in words come last.
struct TSources
{
    TLanguageFile user;
    TLanguageFile english;
};

// The text of key when it takes as many "%s" as the words it replaces.
void Take(const TSources &files, const char *key, QString &text, int arguments)
{
    for (const TLanguageFile *file : {&files.english, &files.user})
        text = UsableFormatText(file->ReadString(Section, QLatin1String(key), text), text, arguments);
}
}

TTerminalTexts TerminalTextsOf(const QString &languageFile, const QString &englishFile)
{
    namespace Kind = EncoderContract::FailureKind;
    const TSources file{TLanguageFile(languageFile), TLanguageFile(englishFile)};
    TTerminalTexts texts;
    TReportTexts &report = texts.Report;
    const struct
    {
        const char *kind;
        const char *key;
        int arguments;
    } failures[] = {
        {Kind::NoSound, "msgFailNoSound", 0},
        {Kind::Unreadable, "msgFailUnreadable", 0},
        {Kind::Access, "msgFailAccess", 0},
        {Kind::DiskFull, "msgFailDiskFull", 0},
        {Kind::CannotKeep, "msgFailCannotKeep", 0},
        {Kind::Check, "msgFailCheck", 0},
        {Kind::Other, "msgFailOther", 0},
        {FolderFailure::Access, "msgFailFolderAccess", 1},
        {FolderFailure::NotMade, "msgFailFolderNotMade", 1},
        {FolderFailure::NotAFile, "msgFailNotAFile", 1},
    };
    for (const auto &failure : failures) {
        QString text = report.Failures.value(QLatin1String(failure.kind));
        Take(file, failure.key, text, failure.arguments);
        if (!text.isEmpty())
            report.Failures.insert(QLatin1String(failure.kind), text);
    }
    report.SourceEndsEarly = QStringLiteral("the source ends at %s of %s");
    report.OldFileKept = QStringLiteral("The old file was kept.");
    Take(file, "msgSourceEndsEarly", report.SourceEndsEarly, 2);
    Take(file, "msgOldFileKept", report.OldFileKept, 0);
    Take(file, "msgStateChapter", report.Chapter, 2);
    Take(file, "msgOutputBesideSource", report.BesideSource, 1);
    Take(file, "msgPartKept", report.PartKept, 3);
    Take(file, "msgStoppedPartNote", report.StoppedPartNote, 1);

    TTallyTexts &tally = texts.Tally;
    Take(file, "msgFolderView", tally.Finished, 0);
    Take(file, "msgRunStopped", tally.Stopped, 0);
    Take(file, "msgRunSummary", tally.Converted, 3);
    Take(file, "msgRunChapters", tally.Chapters, 2);
    Take(file, "msgRunSkipped", tally.Skipped, 1);
    Take(file, "msgRunFailed", tally.Failed, 1);
    Take(file, "msgIncompleteFiles", tally.Incomplete, 1);
    Take(file, "msgRunStoppedFiles", tally.StoppedFiles, 1);
    Take(file, "msgSpanSeconds", tally.Spans.Seconds, 1);
    Take(file, "msgSpanMinutes", tally.Spans.Minutes, 1);
    Take(file, "msgSpanMinutesSeconds", tally.Spans.MinutesSeconds, 2);
    Take(file, "msgSpanHours", tally.Spans.Hours, 1);
    Take(file, "msgSpanHoursMinutes", tally.Spans.HoursMinutes, 2);
    return texts;
}
