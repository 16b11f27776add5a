#include "app/WindowTexts.h"

#include "conversion/EncoderOutput.h"
#include "libm9s/EncoderContract.h"

const char DefaultStatusRunText[] = "Converting file %s";

const std::vector<TRunTextKey> &RunTextKeys()
{
    static const std::vector<TRunTextKey> keys{
        {"msgStateWaiting", &TWindowTexts::msgStateWaiting, "Waiting"},
        {"msgStateConverting", &TWindowTexts::msgStateConverting, "Working"},
        {"msgStateDone", &TWindowTexts::msgStateDone, "Done"},
        {"msgStateSkipped", &TWindowTexts::msgStateSkipped, "Skipped"},
        {"msgStateFailed", &TWindowTexts::msgStateFailed, "Failed"},
        {"msgStateStopped", &TWindowTexts::msgStateStopped, "Stopped"},
        {"msgTimeLeft", &TWindowTexts::msgTimeLeft, "about %s left"},
        {"msgStatusRunFiles", &TWindowTexts::msgStatusRunFiles, "Converting %s files \u00B7 %s of %s done"},
        {"msgRunSummary", &TWindowTexts::msgRunSummary, "Files converted: %s of %s, in %s."},
        {"msgMoreFailed", &TWindowTexts::msgMoreFailed, "... and %s more (see details)"},
        {"msgSpanSeconds", &TWindowTexts::msgSpanSeconds, "%s s"},
        {"msgSpanMinutes", &TWindowTexts::msgSpanMinutes, "%s min"},
        {"msgSpanMinutesSeconds", &TWindowTexts::msgSpanMinutesSeconds, "%s min %s s"},
        {"msgSpanHours", &TWindowTexts::msgSpanHours, "%s h"},
        {"msgSpanHoursMinutes", &TWindowTexts::msgSpanHoursMinutes, "%s h %s min"},
        {"msgStateIncomplete", &TWindowTexts::msgStateIncomplete, "Incomplete"},
        {"msgStateChapter", &TWindowTexts::msgStateChapter, "chapter %s of %s"},
        {"msgSourceEndsEarly", &TWindowTexts::msgSourceEndsEarly, "the source ends at %s of %s"},
        {"msgOldFileKept", &TWindowTexts::msgOldFileKept, "The old file was kept."},
        {"msgIncompleteFiles", &TWindowTexts::msgIncompleteFiles, "Incomplete files (the source ends early): %s."},
        {"msgFailNoSound", &TWindowTexts::msgFailNoSound, "The file has no sound track."},
        {"msgFailUnreadable", &TWindowTexts::msgFailUnreadable, "The file is damaged or cannot be read."},
        {"msgFailAccess", &TWindowTexts::msgFailAccess, "The output file may not be written there."},
        {"msgFailDiskFull", &TWindowTexts::msgFailDiskFull, "The disk is full."},
        {"msgFailCannotKeep", &TWindowTexts::msgFailCannotKeep,
         "This track cannot be kept as it is; choose a format to convert it."},
        {"msgFailCheck", &TWindowTexts::msgFailCheck,
         "The output check failed: the file written does not hold the whole track."},
        {"msgFailOther", &TWindowTexts::msgFailOther, "The conversion failed."},
        {"msgFailFolderAccess", &TWindowTexts::msgFailFolderAccess, FolderFailure::AccessEnglish},
        {"msgFailFolderNotMade", &TWindowTexts::msgFailFolderNotMade, FolderFailure::NotMadeEnglish},
        {"msgFailNotAFile", &TWindowTexts::msgFailNotAFile, FolderFailure::NotAFileEnglish},
        {"msgFailSourceGone", &TWindowTexts::msgFailSourceGone, FolderFailure::SourceGoneEnglish},
        {"msgFailNameTooLong", &TWindowTexts::msgFailNameTooLong, FolderFailure::NameTooLongEnglish},
        {"msgOutputBesideSource", &TWindowTexts::msgOutputBesideSource,
         "The output would have replaced its own source, so it was named %s."},
        {"msgPartKept", &TWindowTexts::msgPartKept, "%s of %s kept as %s."},
        {"msgStoppedPartNote", &TWindowTexts::msgStoppedPartNote, "stopped at %s"},
        {"msgRunStopped", &TWindowTexts::msgRunStopped, "Conversion stopped."},
        {"msgRunSkipped", &TWindowTexts::msgRunSkipped, "Skipped: %s."},
        {"msgRunFailed", &TWindowTexts::msgRunFailed, "Failed: %s."},
        {"msgRunStoppedFiles", &TWindowTexts::msgRunStoppedFiles, "Stopped: %s."},
        {"msgRunChapters", &TWindowTexts::msgRunChapters,
         "Of these, %s written as one file per chapter (%s chapter files)."},
        {"msgStatusAudioLeft", &TWindowTexts::msgStatusAudioLeft, "%s of audio left"},
        {"msgCloseDuringRun", &TWindowTexts::msgCloseDuringRun,
         "Files are still being converted. Stop the conversion and quit?"},
        {"msgStopAndQuit", &TWindowTexts::msgStopAndQuit, "Stop and Quit"},
        {"msgKeepConverting", &TWindowTexts::msgKeepConverting, "Keep Converting"},
        {"msgShowInFolder", &TWindowTexts::msgShowInFolder, "Show in Folder"},
        {"msgOutputTip", &TWindowTexts::msgOutputTip, "Output: %s"},
        {"msgRunWide", &TWindowTexts::msgRunWide, "For every file: %s"},
        {"msgRunWideLoudness", &TWindowTexts::msgRunWideLoudness, "loudness %s"},
        {"msgRunWideChapters", &TWindowTexts::msgRunWideChapters, "one file per chapter"},
        {"msgRunWideKeepFolders", &TWindowTexts::msgRunWideKeepFolders, "folders kept"},
        {"msgLoudnessNotForCopy", &TWindowTexts::msgLoudnessNotForCopy,
         "not for the original audio, which is not re-encoded; ReplayGain tags are"},
    };
    return keys;
}

const std::vector<TRunTextKey> &QueueTextKeys()
{
    static const std::vector<TRunTextKey> keys{
        {"msgNotAdded", &TWindowTexts::msgNotAdded, "These files were not added:"},
        {"msgNotAddedMore", &TWindowTexts::msgNotAddedMore, "... and %s more"},
        {"msgReasonNoSound", &TWindowTexts::msgReasonNoSound, "no sound track"},
        {"msgReasonNotMedia", &TWindowTexts::msgReasonNotMedia, "not a video or sound file"},
        {"msgReasonInList", &TWindowTexts::msgReasonInList, "already in the list"},
        {"msgReasonNotAFile", &TWindowTexts::msgReasonNotAFile, "not a file"},
        {"msgStateChecking", &TWindowTexts::msgStateChecking, "Checking"},
    };
    return keys;
}
TWindowTexts EnglishWindowTexts()
{
    TWindowTexts texts;
    texts.StringStartCaption = QStringLiteral("Convert");
    texts.StringStopCaption = QStringLiteral("Stop");
    texts.msgStatusReady = QStringLiteral("Ready");
    texts.msgStatusRun = QString::fromUtf8(DefaultStatusRunText);
    texts.msgFolderView = QStringLiteral("Conversion finished.");
    texts.msgFinishInfo = QStringLiteral("Do you want to open the output folder?");
    texts.msgNoOutputFolder = QStringLiteral("No output folder is set. Please choose one before converting.");
    texts.msgFailedFiles = QStringLiteral("These files could not be converted:");
    texts.msgColumnLength = QStringLiteral("Length");
    texts.msgColumnState = QStringLiteral("State");
    for (const std::vector<TRunTextKey> *keys : {&RunTextKeys(), &QueueTextKeys()})
        for (const TRunTextKey &text : *keys)
            texts.*text.text = QString::fromUtf8(text.english);
    return texts;
}

TSpanTexts TWindowTexts::SpanTexts() const
{
    // Each was checked when the language file loaded.
    TSpanTexts texts;
    texts.Seconds = msgSpanSeconds;
    texts.Minutes = msgSpanMinutes;
    texts.MinutesSeconds = msgSpanMinutesSeconds;
    texts.Hours = msgSpanHours;
    texts.HoursMinutes = msgSpanHoursMinutes;
    return texts;
}

TReportTexts TWindowTexts::ReportTexts() const
{
    namespace Kind = EncoderContract::FailureKind;
    TReportTexts texts;
    texts.Failures = {{Kind::NoSound, msgFailNoSound},
                      {Kind::Unreadable, msgFailUnreadable},
                      {Kind::Access, msgFailAccess},
                      {Kind::DiskFull, msgFailDiskFull},
                      {Kind::CannotKeep, msgFailCannotKeep},
                      {Kind::Check, msgFailCheck},
                      {Kind::Other, msgFailOther},
                      {FolderFailure::Access, msgFailFolderAccess},
                      {FolderFailure::NotMade, msgFailFolderNotMade},
                      {FolderFailure::NotAFile, msgFailNotAFile},
                      {FolderFailure::SourceGone, msgFailSourceGone},
                      {FolderFailure::NameTooLong, msgFailNameTooLong}};
    texts.SourceEndsEarly = msgSourceEndsEarly;
    texts.OldFileKept = msgOldFileKept;
    texts.BesideSource = UsableFormatText(msgOutputBesideSource, texts.BesideSource, 1);
    texts.PartKept = UsableFormatText(msgPartKept, texts.PartKept, 3);
    texts.StoppedPartNote = UsableFormatText(msgStoppedPartNote, texts.StoppedPartNote, 1);
    texts.Chapter = msgStateChapter;
    return texts;
}

TTallyTexts TWindowTexts::TallyTexts() const
{
    TTallyTexts texts;
    texts.Finished = msgFolderView;
    texts.Stopped = msgRunStopped;
    texts.Converted = msgRunSummary;
    texts.Chapters = msgRunChapters;
    texts.Skipped = msgRunSkipped;
    texts.Failed = msgRunFailed;
    texts.Incomplete = msgIncompleteFiles;
    texts.StoppedFiles = msgRunStoppedFiles;
    texts.FailedFiles = msgFailedFiles;
    texts.MoreFailed = msgMoreFailed;
    texts.OpenFolder = msgFinishInfo;
    texts.Spans = SpanTexts();
    return texts;
}
