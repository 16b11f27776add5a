#pragma once

#include "conversion/FileQueueRules.h"
#include "conversion/FileReport.h"
#include "conversion/RunEstimate.h"
#include "conversion/RunTally.h"

#include <QString>
#include <QStringList>

#include <vector>

// The main window's own words. The language loader fills them, under the
// language file's key names, and every part of the window reads them from
// here; a part never keeps a copy, so a language switch reaches all of them.
struct TWindowTexts
{
    QString StringStartCaption;
    QString StringStopCaption;
    QString msgStatusReady;
    QString msgStatusRun;
    QString msgClearAll;
    QString msgFolderView;
    QString msgFinishInfo;
    QString msgNoOutputFolder;
    QString msgFailedFiles;
    QString msgNoAudioTracks;    // the audio-track menu's line for a file without tracks
    QString msgSettingsInMemory; // config.ini cannot be written; "%s" takes its path
    QString msgColumnFile;       // the queue's column headers
    QString msgColumnLength;
    QString msgColumnState;
    // Texts of a run: each row's state, the time left in the title, the
    // end message's summary. English where the language file lacks them.
    QString msgStateWaiting;
    QString msgStateConverting; // a file whose duration the encoder cannot tell
    QString msgStateDone;
    QString msgStateSkipped;
    QString msgStateFailed;
    QString msgStateStopped;
    QString msgTimeLeft;       // "about %s left"
    QString msgStatusRunFiles; // the status line while several files convert at once
    QString msgRunSummary;     // files converted, files of the run, time taken
    QString msgMoreFailed;     // the failed files the end message leaves out
    QString msgSpanSeconds;    // spans of time, each number a "%s"
    QString msgSpanMinutes;
    QString msgSpanMinutesSeconds;
    QString msgSpanHours;
    QString msgSpanHoursMinutes;
    QString msgStateIncomplete; // the source ends before its declared length
    QString msgStateChapter;    // "chapter %s of %s": a source converted one file per chapter
    QString msgSourceEndsEarly; // "the source ends at %s of %s"
    QString msgOldFileKept;     // an overwrite that did not complete
    QString msgIncompleteFiles; // the end message's count of incomplete files
    QString msgFailNoSound;     // why a file failed, one text per kind the encoder names
    QString msgFailUnreadable;
    QString msgFailAccess;
    QString msgFailDiskFull;
    QString msgFailCannotKeep;
    QString msgFailCheck;
    QString msgFailOther;
    QString msgFailFolderAccess;   // the output folder may not be written; "%s" takes it
    QString msgFailFolderNotMade;  // the output folder cannot be made; "%s" takes it
    QString msgFailNotAFile;       // no file has the output's name; "%s" takes it
    QString msgFailSourceGone;     // a queued file was moved or deleted
    QString msgFailNameTooLong;    // the output's name is too long for its file system
    QString msgOutputBesideSource; // the output took a free name beside its own source; "%s": that name
    QString msgPartKept;           // "%s of %s kept as %s."
    QString msgStoppedPartNote;    // in a kept part's file name: "stopped at %s"
    QString msgRunStopped;         // the end message after a stop opens with it
    QString msgRunSkipped;         // the end message's other counts
    QString msgRunFailed;
    QString msgRunStoppedFiles;
    QString msgRunChapters;     // files written one per chapter, and the files they made
    QString msgStatusAudioLeft; // the status line's "%s of audio left" in the file being converted
    QString msgCloseDuringRun;  // closing the window while files convert asks first
    QString msgStopAndQuit;
    QString msgKeepConverting;
    QString msgShowInFolder; // the row menu's entry for a file converted
    QString msgOutputTip;    // a row's tool tip: "Output: %s"
    // The line beside Convert that says which settings apply to every file.
    QString msgRunWide;
    QString msgRunWideLoudness;
    QString msgRunWideChapters;
    QString msgRunWideKeepFolders;
    QString msgLoudnessNotForCopy; // why a loudness level is greyed for the original audio
    // The open-file dialog's title and filter descriptions, English where the
    // language file lacks them.
    QString OpenDialogCaption = QLatin1String(OpenDialogEnglishTitle);
    QStringList OpenDialogFilterTexts;
    // The message after an add that left files out, and the state of a file
    // on trial (QueueTextKeys has their keys and English).
    QString msgNotAdded;
    QString msgNotAddedMore;
    QString msgReasonNoSound;
    QString msgReasonNotMedia;
    QString msgReasonInList;
    QString msgReasonNotAFile;
    QString msgStateChecking;

    // The words a run and its end message are told in, made of the texts above.
    TReportTexts ReportTexts() const;
    TTallyTexts TallyTexts() const;
    TSpanTexts SpanTexts() const;
};

// The texts the window shows before a language file is read: English, or
// empty for those only a language file gives.
TWindowTexts EnglishWindowTexts();

// A text of the run with its key in section frmMain and its English.
struct TRunTextKey
{
    const char *key;
    QString TWindowTexts::*text;
    const char *english;
};
const std::vector<TRunTextKey> &RunTextKeys();
// The texts of adding files to the queue.
const std::vector<TRunTextKey> &QueueTextKeys();

// The English status line, also used in place of a language's unusable one.
extern const char DefaultStatusRunText[];
