#pragma once

#include "conversion/AudioTracks.h"
#include "conversion/CommandLineBuilder.h"
#include "conversion/EncoderCommand.h"
#include "conversion/EncoderOutput.h"
#include "conversion/FileQueue.h"
#include "conversion/FileReport.h"
#include "conversion/TargetFile.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <vector>

class TConsoleIO;
class TMediaProbe;

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
};

// One file of a run: what the run froze of its queue item when it started,
// and what the encoder reported of it. One per running encoder.
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

// The conversion run: a job per queue item present at its start, taken top
// to bottom. For each: the target is resolved (perhaps after the file-exists
// question), its placeholder written (or, for an existing target, a hidden
// file beside it) and libm9s started; when the encoder ends, what it left is
// settled and the next job starts. With SplitChapters, a source with
// chapters goes through the same steps once per chapter before its file
// ends. Up to ParallelFiles encoders run at once. Nothing waits: every step
// follows a signal (an encoder's end, the answer to a question, a probe's
// facts), and the run knows nothing of who shows it.
class TConversionRun : public QObject
{
    Q_OBJECT
public:
    // probe, when given, is asked for facts a job needs and does not have yet.
    explicit TConversionRun(TFileQueue &queue, TMediaProbe *probe = nullptr, QObject *parent = nullptr);
    ~TConversionRun() override;

    TConsoleIO *ConsoleIO = nullptr; // runs the first encoder; released by Close
    TFFMpeg FFMpeg;                  // builds the encoder's command for each file
    bool FContinue = true;           // a run may go on; cleared by a stop
    quint8 FOverwriteChoice = 0;     // remembered file-exists answer (ocAsk until answered)

    // Takes every item of the queue and starts as many as it may; returns at
    // once (false when a run goes on already, or after Close). The end comes
    // as RunEnded. A file that cannot be written fails on its own, and so do
    // the files of a kept subfolder that cannot be made or written; an output
    // folder that cannot be, and an encoder that cannot start, raise, and the
    // run ends.
    bool Start(const TRunSettings &settings);
    // Asks every running encoder to stop; the run ends after them.
    void StopConversion();
    // The owner goes: the running encoders are stopped and released, their
    // files settled, and nothing more of this run is reported.
    void Close();
    // The reply to FileExistsAsked: one of the TOverwriteChoice codes, ocAsk
    // for a question closed without an answer. Raises as Start does.
    void AnswerFileExists(quint8 choice);

    bool IsActive() const { return m_active; }
    bool IsClosing() const { return m_closing; }
    bool IsAsking() const { return m_asking != nullptr; }
    bool IsEncoderRunning() const;
    // The run that ended last was stopped by StopConversion rather than ended by an error.
    bool WasStopped() const { return m_stopped && !m_failed; }
    // ...or ended by an error one of its steps raised.
    bool Failed() const { return m_failed; }
    // The file that started last.
    const TRunningFile &File() const;
    // The encoders working now.
    int RunningCount() const;
    QStringList FailedSources() const { return m_failedSources; }
    const TRunSettings &Settings() const { return m_settings; }

    // The encoder's command for source into target with this run's options.
    // Chapter: that chapter alone, counted from 1; 0 for the whole source.
    // Threads: what the encoder may use; 0 leaves it to the encoder.
    TEncoderCommand BuildEncoderCommand(const QString &Source, const QString &Target, int AudioTrack = -1,
                                        int Chapter = 0, int Threads = 0);
    // Folds a chunk of encoder output into the progress of the file that started last.
    // Raises on a bad value after storing what was read before it.
    TProgressView ParseEncoderOutput(const QString &Text);

signals:
    // A job is taken: its file is the next one to be converted.
    void FileStarted(int row, const QString &source);
    void FileProgress(int row, const TProgressView &view);
    void FileFinished(int row, const QString &source, TFileOutcome outcome, const TFileReport &report);
    // The target of a job exists and the run waits for AnswerFileExists.
    void FileExistsAsked(const QString &target, const QString &source);
    // The run is over, however it ended (not after Close).
    void RunEnded();
    // ...and it went through every job; failedSources could not be
    // converted. folder ends in "/" once a job was taken. Follows RunEnded.
    void RunFinished(const QString &folder, const QStringList &failedSources);
    // The encoder started or ended.
    void EncoderRunningChanged(bool running);

private:
    // One encoder and the file it works on.
    struct TSlot
    {
        TConsoleIO *Io = nullptr;
        TRunningFile File;
        bool Working = false;        // a file is on this encoder
        bool ChapterPending = false; // its file's next chapter waits to be started
        bool Busy() const { return Working || ChapterPending; }
    };

    // The steps of one file, in order.
    void Advance();
    bool FactsReady(TRunningFile &file);
    void StartRow(TSlot &slot, const TRunningFile &job);
    TMediaFacts FactsOf(TRunningFile &file);
    void TakeChapters(TRunningFile &file, const TMediaFacts &facts) const;
    void StartOutput(TSlot &slot);
    bool StartPendingChapters();
    void StopPendingChapters();
    void StartTarget(TSlot &slot, const QString &target);
    void FailOnFolder(TSlot &slot, const char *kind, const QString &folder);
    void FailOnTarget(TSlot &slot, const QString &target);
    bool IsSourceOfRun(const QString &path) const;
    bool IsOutputWhole(TRunningFile &file, const QString &path);
    void OutputEnded(TSlot &slot, TFileOutcome outcome);
    void PrepareOutput(TRunningFile &file);
    void StartEncoder(TSlot &slot);
    void EncoderEnded();
    TFileOutcome FinishFile(TSlot &slot);
    TFileOutcome SettleOutput(TRunningFile &file);
    void KeepStoppedPart(TRunningFile &file);
    void DropOutput(TRunningFile &file);
    void EndIfDone();
    void Continue();
    bool Interrupted() const { return !FContinue || m_closing; }
    void RequestStopAll();
    void FailRun();

    TConsoleIO *NewConsoleIO();
    TSlot *FreeSlot();
    bool AnyBusy() const;
    int FilesLeft() const;
    void FinishEndedFiles();
    int RowOf(TRunningFile &file);
    TProgressView ParseInto(TRunningFile &file, const QString &Text);
    static TProgressView OverWholeSource(const TRunningFile &file, const TProgressView &chapterView);
    TSlot *SlotOf(const TConsoleIO *io);
    void ReceiveOutput(TConsoleIO *Sender, const QByteArray &Cmd);
    void ReceiveError(TConsoleIO *Sender, const QByteArray &Cmd);
    static void ReadMarkerLines(TRunningFile &file, const QString &text);
    void ProcessStatusChanged();

    TFileQueue &m_queue;
    TMediaProbe *m_probe = nullptr;
    TRunSettings m_settings;
    QString m_folder;                 // the output folder, with "/" once a job was taken
    std::vector<TRunningFile> m_jobs; // frozen at the start, in queue order
    size_t m_next = 0;                // the next job to take
    std::vector<TSlot> m_slots;       // [0] runs on ConsoleIO
    int m_lastStarted = 0;            // the slot whose file started last
    TSlot *m_asking = nullptr;        // the slot whose target waits for an answer
    QString m_askedPath;              // the target asked about
    bool m_waitingForFacts = false;   // the next job waits for its probe
    bool m_reportedRunning = false;   // what EncoderRunningChanged said last
    bool m_active = false;
    bool m_closing = false;         // the owner is closing: the run must end at once
    bool m_failed = false;          // a step raised: no end report
    bool m_stopped = false;         // StopConversion was called during this run
    QStringList m_failedSources;    // sources of this run whose encoder failed, as the user knows them
    QSet<QString> m_writtenThisRun; // targets this run wrote: never written over by a later source
    QSet<TFileId> m_sourceIds;      // the files this run converts: never an output, by any path
};
