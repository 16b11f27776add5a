#pragma once

#include "conversion/EncoderCommand.h"
#include "conversion/EncoderOutput.h"
#include "conversion/FileReport.h"
#include "encoder/CommandLineBuilder.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <vector>

class TConsoleIO;

// The format and options a file is converted with, read from the owner at
// the moment they are needed, so a change during a run applies to the next file.
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

// What the run asks of whoever owns it (the main window, or a test). The run
// itself knows no widget.
class IConversionOwner
{
public:
    virtual ~IConversionOwner() = default;
    // The queue, read afresh at every file: rows may go while the controls are enabled.
    virtual int RowCount() const = 0;
    virtual QString SourceOfRow(int row) const = 0;
    virtual TOutputOptions CurrentOptions() const = 0;
    // The audio track chosen for a row, -1 for Automatic.
    virtual int AudioTrackOfRow(int row) const
    {
        Q_UNUSED(row);
        return -1;
    }
    // The folder holding libm9s, ending in "/".
    virtual QString EncoderFolder() const = 0;
    // The file-exists question for target: one of the TOverwriteChoice codes,
    // ocAsk when the question was closed without an answer.
    virtual quint8 AskFileExists(const QString &target) = 0;
    // A hidden file is about to be written in folder: start-up cleans the
    // folders it was told of, should the program not live to remove it.
    virtual void RememberTemporaryFolder(const QString &folder) { Q_UNUSED(folder); }
};

// The file an encoder is working on. One per running encoder: what belongs to
// a file lives here, not in the run.
struct TRunningFile
{
    int Row = -1;
    QString Source;
    QString Target;
    int AudioTrack = -1;   // asked of the encoder; -1 leaves the choice to it
    qint64 FDuration = 0;  // the source's duration, in seconds
    qint64 FMaxTime = 0;   // highest encoder time seen, in seconds
    QString LastErrorLine; // the encoder's last message that was not progress
    QString Output;        // what the encoder writes: Target, or a hidden file beside an existing one
    QString ErrorTail;     // the end of the encoder's error output, where marker lines are looked for
    TFileReport Report;
    bool SourceEndsEarly = false; // the encoder said the source ends before its declared length
    bool Replaces() const { return Output != Target; }
};

// The conversion run: takes the queue's rows top to bottom, resolves each
// target, writes its placeholder (or, for an existing target, a hidden file
// beside it), starts libm9s, waits for it and settles what it left. Up to ParallelFiles encoders run at once, each its
// own TConsoleIO; targets are still resolved one at a time in queue order. Everything runs on the thread that calls Run
// (the GUI thread): an encoder is tied to the thread that starts it and dies with it.
class TConversionRun : public QObject
{
    Q_OBJECT
public:
    explicit TConversionRun(IConversionOwner &owner, QObject *parent = nullptr);
    ~TConversionRun() override;

    TConsoleIO *ConsoleIO = nullptr; // runs the first encoder; released by Close
    TFFMpeg FFMpeg;                  // builds the encoder's command for each file
    bool FContinue = true;           // a run may go on; cleared by a stop
    quint8 FOverwriteChoice = 0;     // remembered file-exists answer (ocAsk until answered)
    int ParallelFiles = 1;           // encoders running at once, read when a run starts

    // Converts every row into folder. Returns false when the run was stopped
    // or closed, true when it went through every row (RunFinished was sent).
    // A nested call, or one after Close, does nothing. A file that cannot be
    // written fails on its own; an encoder that cannot start raises and ends the run.
    bool Run(QString folder);
    // Asks every running encoder to stop; the run ends after them.
    void StopConversion();
    // The owner goes: the running encoders are stopped and released, and
    // nothing more of this run is reported.
    void Close();

    bool IsActive() const { return m_runActive; }
    bool IsClosing() const { return m_closing; }
    bool IsEncoderRunning() const;
    // The file that started last.
    const TRunningFile &File() const;
    // The encoders working now.
    int RunningCount() const;
    QStringList FailedSources() const { return m_failedSources; }

    // The encoder's command for source into target with the owner's options now.
    TEncoderCommand BuildEncoderCommand(const QString &Source, const QString &Target, int AudioTrack = -1);
    // target, or the name the file-exists rules give it; empty to skip it.
    QString ResolveTargetFile(const QString &Path);
    // Folds a chunk of encoder output into the progress of the file that started last.
    // Raises on a bad value after storing what was read before it.
    TProgressView ParseEncoderOutput(const QString &Text);

signals:
    // A row is taken: its file is the next one to be converted.
    void FileStarted(int row, const QString &source);
    void FileProgress(int row, const TProgressView &view);
    void FileFinished(int row, const QString &source, TFileOutcome outcome, const TFileReport &report);
    // Every row was taken; failedSources could not be converted. folder
    // ends in "/" once a row was taken.
    void RunFinished(const QString &folder, const QStringList &failedSources);
    // The encoder started or ended.
    void EncoderRunningChanged(bool running);

private:
    // One encoder and the file it works on.
    struct TSlot
    {
        TConsoleIO *Io = nullptr;
        TRunningFile File;
        bool Working = false; // a file is on this encoder
        bool Busy() const { return Working; }
    };

    // The steps of one file, in order.
    bool StartRow(TSlot &slot, int row, const QString &folder);
    bool ResolveTarget(TRunningFile &file, const QString &folder);
    void StartEncoder(TSlot &slot);
    void WaitForAnEncoder();
    void PrepareOutput(TRunningFile &file);
    TFileOutcome FinishFile(TSlot &slot);
    TFileOutcome SettleOutput(TRunningFile &file);
    void DropOutput(TRunningFile &file);
    bool Interrupted() const { return !FContinue || m_closing; }
    void RequestStopAll();

    TConsoleIO *NewConsoleIO();
    TSlot *FreeSlot();
    bool AnyBusy() const;
    bool FinishEndedFiles();
    TProgressView ParseInto(TRunningFile &file, const QString &Text);
    TSlot *SlotOf(const TConsoleIO *io);
    void ReceiveOutput(TConsoleIO *Sender, const QByteArray &Cmd);
    void ReceiveError(TConsoleIO *Sender, const QByteArray &Cmd);
    static void ReadMarkerLines(TRunningFile &file, const QString &text);
    void ProcessStatusChanged();

    IConversionOwner &m_owner;
    std::vector<TSlot> m_slots;     // [0] runs on ConsoleIO
    int m_lastStarted = 0;          // the slot whose file started last
    bool m_reportedRunning = false; // what EncoderRunningChanged said last
    bool m_runActive = false;       // Run is on the stack (no nested run)
    bool m_closing = false;         // the owner is closing: the run must end at once
    QStringList m_failedSources;    // sources of this run whose encoder failed
    QSet<QString> m_writtenThisRun; // targets this run wrote: never written over by a later source
};
