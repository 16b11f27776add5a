#pragma once

#include "conversion/FileReport.h"

#include <QString>

// The format and options a file is converted with.
struct TOutputOptions
{
    QString Extension = QStringLiteral("mp3"); // the format: one of OutputFormats
    int Bitrate = 128;
    int SampleRate = 44100;
    int Channels = 2;
    QString PreferredLanguage; // the track Automatic takes when a file has it
    bool VerifyOutput = true;  // the encoder reads back what it wrote before it reports success
    QString Loudness;          // [setting] loudness: "off", "-23", "-16", "-14" or "replaygain"
};

// What a run converts with, read once when it starts: the controls stay
// locked while it goes, and a change afterwards is for the next run.
struct TRunSettings
{
    QString Folder;        // the output folder
    QString EncoderFolder; // holds libm9s
    TOutputOptions Options;
    int ParallelFiles = 1;      // encoders at once
    bool KeepFolders = false;   // a file found in an added folder keeps its subfolder below Folder
    bool SkipUpToDate = false;  // a file whose output is newer than it is skipped without a question
    TReportTexts Texts = {};    // the user's words for an output folder that ends the run
    int Cores = 0;              // shared among the running encoders; 0: the machine's
    bool SplitChapters = false; // a source with two chapters or more gives one file per chapter
    // A run of one source whose output goes to exactly this path, in Folder,
    // as one file: no name is made from the source's, no chapter files. Empty
    // for the usual names. The existing-file rules apply to it all the same.
    QString TargetFile{};
};
