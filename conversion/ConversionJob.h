#pragma once

#include "conversion/AudioTracks.h"
#include "conversion/EncoderCommand.h"
#include "conversion/EncoderOutput.h"
#include "conversion/FileReport.h"
#include "conversion/MediaFacts.h"
#include "conversion/RunSettings.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QtGlobal>

class TConsoleIO;
class TFileQueue;
class TFileWriteError;
class TMediaProbe;

// One file of a run: what the run froze of its queue item when it started,
// and what the encoder reported of it.
struct TRunningFile
{
    quint64 Item = 0; // the queue item
    int Row = -1;     // the item's row when last reported
    QString Source;
    QString Shown;        // Source as the user knows it (a stand-in link's file by its own name)
    QString Root;         // the added folder it was found in, if any
    int ChosenTrack = -1; // the user's choice; -1 for Automatic
    QString Target;
    QString Folder;      // where its outputs go, with "/"
    QString Extension;   // of its outputs
    int AudioTrack = -1; // asked of the encoder; -1 leaves the choice to it
    // One file per chapter: the chapters and their lengths in seconds, and
    // the one on the encoder now, from 1. Chapter is 0 for one file of the whole.
    QList<TChapter> Chapters;
    QList<double> ChapterLengths;
    int Chapter = 0;
    qint64 FDuration = 0;       // what the encoder converts (the source, or its chapter), in seconds
    qint64 FMaxTime = 0;        // highest encoder time seen, in seconds
    QString LastErrorLine;      // the encoder's last message that was not progress
    QString Output;             // what the encoder writes: a hidden file beside Target, which takes its name when whole
    bool NewTarget = false;     // Target was not there: it holds the placeholder until the output takes its place
    qint64 StoppedSeconds = -1; // a stopped encoder said how far it came
    QString ErrorTail;          // the end of the encoder's error output, where marker lines are looked for
    TFileReport Report;
    bool SourceEndsEarly = false; // the encoder said the source ends before its declared length
    bool Replaces() const { return !NewTarget; }
};

// The item's row in queue now, kept in file.Row; -1 once the item is gone.
int CurrentRow(const TFileQueue &queue, TRunningFile &file);

// Folds a chunk of encoder output into the progress of file. Raises on a bad
// value after storing what was read before it.
TProgressView ReadProgress(TRunningFile &file, const QString &text);

// What the jobs of one run share, kept by the run that schedules them.
class TJobHost
{
public:
    virtual TFileQueue &RunQueue() = 0;
    // Asked for facts a job needs and does not have yet; may be none.
    virtual TMediaProbe *RunProbe() const = 0;
    virtual const TRunSettings &RunSettings() const = 0;
    // Targets this run wrote or reserved: never written over by a later source.
    virtual QSet<QString> &WrittenThisRun() = 0;
    // path is one of the files this run converts, by whatever path or link.
    virtual bool IsSourceOfRun(const QString &path) const = 0;
    // The file-exists answer that holds for the rest of the run; ocAsk until one does.
    virtual quint8 &OverwriteChoice() = 0;
    // A stop or a close: no job goes on.
    virtual bool Interrupted() const = 0;
    // The encoder's command for file's output, read from input, with the
    // share of the cores an encoder starting now gets.
    virtual TEncoderCommand EncoderCommandFor(const TRunningFile &file, const QString &input) = 0;

protected:
    ~TJobHost() = default;
};

// The whole life of one file of a run, on one encoder the run lends it: the
// plan and the output folder, then for each output (the whole source, or
// one chapter after another) the target and its name, the file-exists
// question, the placeholder or the hidden file the encoder writes, the
// encoder; when it ends, what it left is settled (taken whole by a rename,
// kept as a stopped part, or cleaned up) and the report made. The job never
// waits: it asks through FileExistsAsked and goes on from
// AnswerFileExists, and it ends with Finished. What comes next is the
// run's to say.
class TConversionJob : public QObject
{
    Q_OBJECT
public:
    TConversionJob(TJobHost &host, const TRunningFile &file, TConsoleIO *encoder, QObject *parent = nullptr);

    const TRunningFile &File() const { return m_file; }
    int Row() { return CurrentRow(m_host.RunQueue(), m_file); }
    // The encoder works on this file, or its next chapter waits to start.
    bool IsBusy() const { return m_working || m_chapterPending; }
    bool IsChapterPending() const { return m_chapterPending; }

    // The plan, the output folder and the first output. An output folder
    // that cannot be and an encoder that cannot start raise.
    void Start();
    // The reply to FileExistsAsked; raises as Start does.
    void AnswerFileExists(quint8 choice);
    // The run was stopped while the question waited: the chapter files
    // written before it stay, and are told.
    void EndUnanswered();
    // The chapter after the one that ended; raises as Start does.
    void StartNextChapter();
    // A stop between two chapters ends the file at the one that did not start.
    void StopPendingChapter();
    // The run closes: nothing more of this file is started or told.
    void DropPendingChapter() { m_chapterPending = false; }
    // What the encoder left is settled once it ended; nothing while it runs
    // or when nothing is on it.
    void SettleIfEnded();
    // The run let the encoder go: whatever it was doing counts as stopped.
    void ReleaseEncoder() { m_encoder = nullptr; }
    // A chunk of the encoder's standard output or error output.
    TProgressView ReadOutput(const QString &text) { return ReadProgress(m_file, text); }
    TProgressView ReadError(const QString &text);

signals:
    // The target exists and the job waits for AnswerFileExists.
    void FileExistsAsked(const QString &target);
    // The file is over: File().Report says why.
    void Finished(TFileOutcome outcome);

private:
    TMediaFacts FactsOf();
    void TakeChapters(const TMediaFacts &facts);
    void StartOutput();
    void StartTarget(const QString &target);
    void FailOnFolder(const char *kind, const QString &folder);
    void FailOnTarget(const QString &target);
    bool IsOutputWhole(const QString &path);
    void OutputEnded(TFileOutcome outcome);
    void StartEncoder();
    // What the encoder is given and what it leaves, in ConversionJobOutput.cpp.
    static void FailWithWriteError(TFileReport &report, const TFileWriteError &error);
    static bool FolderRefuses(const TFileWriteError &error);
    static bool FolderRefusesFiles(const QString &target);
    void PrepareOutput();
    TFileOutcome FinishFile();
    TFileOutcome SettleOutput();
    void KeepStoppedPart();
    void DropOutput();
    void ReadMarkerLines(const QString &text);

    TJobHost &m_host;
    TRunningFile m_file;
    TConsoleIO *m_encoder = nullptr;
    QString m_askedPath;           // the target asked about
    bool m_working = false;        // the encoder works on this file
    bool m_chapterPending = false; // the next chapter waits to be started
};
