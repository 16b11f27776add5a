#pragma once

#include "conversion/CommandLineBuilder.h"
#include "conversion/ConversionJob.h"
#include "conversion/EncoderCommand.h"
#include "conversion/EncoderOutput.h"
#include "conversion/FileQueue.h"
#include "conversion/FileReport.h"
#include "conversion/RunSettings.h"
#include "conversion/TargetFile.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <vector>

class TConsoleIO;
class TMediaProbe;

// The conversion run: a job (TConversionJob) per queue item present at its
// start, taken top to bottom into up to ParallelFiles encoders, with the
// cores shared among them. The run only schedules: it lends each job an
// encoder, starts the next when one ends (a file in chapters goes on with its
// next chapter before a new file is taken), tells what each job tells,
// counts what failed and ends. Nothing waits: every step follows a signal (an
// encoder's end, the answer to a question, a probe's facts), and the run
// knows nothing of who shows it.
class TConversionRun : public QObject, private TJobHost
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
    // One encoder and the job it is lent to.
    struct TSlot
    {
        TConsoleIO *Io = nullptr;
        TConversionJob *Job = nullptr; // the last job taken into it, until the next
        bool Busy() const { return Job && Job->IsBusy(); }
    };

    // What the jobs share.
    TFileQueue &RunQueue() override { return m_queue; }
    TMediaProbe *RunProbe() const override { return m_probe; }
    const TRunSettings &RunSettings() const override { return m_settings; }
    QSet<QString> &WrittenThisRun() override { return m_writtenThisRun; }
    bool IsSourceOfRun(const QString &path) const override;
    quint8 &OverwriteChoice() override { return FOverwriteChoice; }
    bool Interrupted() const override { return !FContinue || m_closing; }
    TEncoderCommand EncoderCommandFor(const TRunningFile &file, const QString &input) override;

    void Advance();
    bool FactsReady(TRunningFile &file);
    void StartJob(TSlot &slot, const TRunningFile &file);
    void JobFinished(TConversionJob &job, TFileOutcome outcome);
    void JobAsks(TConversionJob &job, const QString &target);
    bool StartPendingChapters();
    void StopPendingChapters();
    void EncoderEnded();
    void EndIfDone();
    void Continue();
    void RequestStopAll();
    void FailRun();

    TConsoleIO *NewConsoleIO();
    TSlot *FreeSlot();
    bool AnyBusy() const;
    int FilesLeft() const;
    void FinishEndedFiles();
    TSlot *SlotOf(const TConsoleIO *io);
    void ReceiveOutput(TConsoleIO *Sender, const QByteArray &Cmd);
    void ReceiveError(TConsoleIO *Sender, const QByteArray &Cmd);
    void ProcessStatusChanged();

    TFileQueue &m_queue;
    TMediaProbe *m_probe = nullptr;
    TRunSettings m_settings;
    QString m_folder;                   // the output folder, with "/" once a job was taken
    std::vector<TRunningFile> m_files;  // frozen at the start, in queue order
    size_t m_next = 0;                  // the next file to take
    std::vector<TSlot> m_slots;         // [0] runs on ConsoleIO
    TRunningFile m_noFile;              // File() before any job was taken
    int m_lastStarted = 0;              // the slot whose file started last
    TConversionJob *m_asking = nullptr; // the job whose target waits for an answer
    bool m_waitingForFacts = false;     // the next job waits for its probe
    bool m_reportedRunning = false;     // what EncoderRunningChanged said last
    bool m_active = false;
    bool m_closing = false;         // the owner is closing: the run must end at once
    bool m_failed = false;          // a step raised: no end report
    bool m_stopped = false;         // StopConversion was called during this run
    QStringList m_failedSources;    // sources of this run whose encoder failed, as the user knows them
    QSet<QString> m_writtenThisRun; // targets this run wrote: never written over by a later source
    QSet<TFileId> m_sourceIds;      // the files this run converts: never an output, by any path
};
