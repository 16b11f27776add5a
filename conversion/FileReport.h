#pragma once

#include <QHash>
#include <QString>
#include <QtGlobal>

// How one file of a run ended. Incomplete: the encoder converted all the
// source held, which ends well before the length it declares.
enum class TFileOutcome { Converted, Failed, Stopped, Skipped, Incomplete };

// Failures of the folder a file goes to rather than of the file: they
// name the folder. Beside EncoderContract::FailureKind, which they extend.
namespace FolderFailure {
inline constexpr char Access[] = "folderaccess";   // the folder may not be written
inline constexpr char NotMade[] = "foldernotmade"; // the folder is missing and cannot be made
inline constexpr char AccessEnglish[] =
    "Tolvane may not write to the folder %s. Choose another output folder, or ask for permission to write there.";
inline constexpr char NotMadeEnglish[] = "The folder %s cannot be made: a file of that name is in the way, or Tolvane "
                                         "may not write to the folder above it. Choose another output folder.";
// Something that is no file (a folder, a pipe, a device) has the output's name: it is never written to.
inline constexpr char NotAFile[] = "notafile";
inline constexpr char NotAFileEnglish[] =
    "Something other than a file has the output's name (%s): a folder, a pipe or a device. It was left alone.";
}

// Why a file ended as it did, for its row and the end message.
struct TFileReport
{
    QString Detail;         // the encoder's last message, or the system's text for a write that failed
    QString FailureKind;    // Failed: one of EncoderContract::FailureKind
    qint64 ReadSeconds = 0; // Incomplete: where the source's audio ends
    qint64 DeclaredSeconds = 0;
    bool OldKept = false; // an existing file was to be replaced and stays as it was
    QString Folder;       // a FolderFailure: the folder (or the thing in the output's place) it names
    // A source converted one file per chapter: the chapter it failed, stopped
    // or ended early in (0 for none) of how many, and the chapter files written.
    int Chapter = 0;
    int Chapters = 0;
    int ChapterFiles = 0;
    QString Output; // the file written: the output, or the part a stop kept
    // The output's own name is a file this run converts: the output took a
    // free name beside it instead, and the source was not touched.
    bool BesideSource = false;
    // Stopped: what was converted is kept under a name that says so,
    // ReadSeconds of DeclaredSeconds.
    bool PartKept = false;
    bool LanguageUnmatched = false; // no track in the preferred language: the default one was taken
};

// The user's language for a report, from the language file.
struct TReportTexts
{
    // By failure kind; "other" stands for any kind not here.
    QHash<QString, QString> Failures{
        {QLatin1String(FolderFailure::Access), QLatin1String(FolderFailure::AccessEnglish)},
        {QLatin1String(FolderFailure::NotMade), QLatin1String(FolderFailure::NotMadeEnglish)},
        {QLatin1String(FolderFailure::NotAFile), QLatin1String(FolderFailure::NotAFileEnglish)}};
    QString SourceEndsEarly; // "the source ends at %s of %s"
    QString OldFileKept;     // "The old file was kept."
    QString Chapter = QStringLiteral("chapter %s of %s");
    QString BesideSource = QStringLiteral("The output would have replaced its own source, so it was named %s.");
    QString PartKept = QStringLiteral("%s of %s kept as %s.");
    QString StoppedPartNote = QStringLiteral("stopped at %s"); // in the kept part's file name
};

// seconds as a player shows a length: "12:03", "1:02:03".
QString PlayTime(qint64 seconds);

// What the row's tool tip and the end message say of a file, on one line;
// empty when there is nothing to say (a file converted or skipped).
QString ReportText(TFileOutcome outcome, const TFileReport &report, const TReportTexts &texts);
