#include "conversion/FileReport.h"

#include "conversion/EncoderOutput.h"
#include "conversion/OutputNames.h"
#include "libm9s/EncoderContract.h"

namespace Kind = EncoderContract::FailureKind;

QString PlayTime(qint64 seconds)
{
    const qint64 hours = seconds / 3600;
    const QString minutesAndSeconds = QStringLiteral("%1:%2")
                                          .arg(seconds / 60 % 60, hours ? 2 : 1, 10, QLatin1Char('0'))
                                          .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return hours ? QString::number(hours) + QLatin1Char(':') + minutesAndSeconds : minutesAndSeconds;
}

QString ReportText(TFileOutcome outcome, const TFileReport &report, const TReportTexts &texts)
{
    QString text;
    if (outcome == TFileOutcome::Failed && !report.Folder.isEmpty()) {
        // The folder is what the user can act on; the system's words add nothing.
        text = FormatText(texts.Failures.value(report.FailureKind), {report.Folder});
    } else if (outcome == TFileOutcome::Failed) {
        text = texts.Failures.value(report.FailureKind, texts.Failures.value(QLatin1String(Kind::Other)));
        // The encoder's own words stay, for whoever looks closer.
        if (!report.Detail.isEmpty())
            text += QStringLiteral(" (") + report.Detail + QLatin1Char(')');
    } else if (outcome == TFileOutcome::Incomplete) {
        // A marker whose times could not be read still says the file is short.
        const bool timed = report.DeclaredSeconds > 0;
        text = FormatText(texts.SourceEndsEarly, {timed ? PlayTime(report.ReadSeconds) : QStringLiteral("?"),
                                                  timed ? PlayTime(report.DeclaredSeconds) : QStringLiteral("?")});
    }
    if (report.PartKept && outcome == TFileOutcome::Stopped)
        text = FormatText(texts.PartKept, {PlayTime(report.ReadSeconds), PlayTime(report.DeclaredSeconds),
                                           FileNamePart(report.Output)});
    if (report.BesideSource && outcome != TFileOutcome::Failed && outcome != TFileOutcome::Skipped)
        text = (text.isEmpty() ? QString() : text + QLatin1Char(' '))
               + FormatText(texts.BesideSource, {FileNamePart(report.Output)});
    if (report.OldKept && outcome != TFileOutcome::Converted)
        text += (text.isEmpty()                    ? QString()
                 : text.endsWith(QLatin1Char('.')) ? QStringLiteral(" ")
                                                   : QStringLiteral(". "))
                + texts.OldFileKept;
    // The chapter a file ended in goes first: the files of the ones before it are written.
    if (report.Chapter > 0 && outcome != TFileOutcome::Converted && outcome != TFileOutcome::Skipped) {
        const QString chapter =
            FormatText(texts.Chapter, {QString::number(report.Chapter), QString::number(report.Chapters)});
        text = text.isEmpty() ? chapter : chapter + QStringLiteral(": ") + text;
    }
    return text;
}
