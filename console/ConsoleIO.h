#pragma once

#include "libm9s/EncoderContract.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <deque>

// For QProcess::setChildProcessModifier (runs in the child between fork and
// exec, so async-signal-safe calls only): the child starts with SIGTERM and
// SIGINT blocked. Our encoder unblocks them once its handlers are installed,
// so a stop in its first milliseconds, while its libraries are still loading,
// ends it cleanly instead of killing it.
void HoldStopSignalsInChild();

// How received standard output is cut into lines, and what follows a command
// written to the child: nothing, carriage return + line feed, or SplitChar.
enum class TSplitMode : quint8 { smNone = 0, sm0D0A = 1, smSplitchar = 2 };

// Runs one console program at a time with its standard input, output and error
// redirected, and reports what it writes as events on the owner's thread.
//
// Events are Qt signals, so an owner binds its handlers with a member-pointer
// connect (direct connection, same thread):
//     connect(ConsoleIO, &TConsoleIO::OnReceiveOutput, this, &TfrmMain::ConsoleIOReceiveOutput);
// An event counts as "assigned" while its signal has at least one receiver.
// Per started child the owner sees: OnProcessStatusChange(true) inside
// StartProcess; then OnReceiveOutput / OnReceiveError / OnError in any mix;
// then exactly one OnReceiveOutput with the rest of the output (possibly
// empty); then OnProcessStatusChange(false). Nothing of that child follows.
//
// Delivery is never nested: what QProcess hands over is buffered and handed
// to the handlers from one loop. A handler that opens a modal dialog (a nested
// event loop) holds back later events until it returns, instead of receiving
// them inside itself out of order; consequently a handler must not wait for
// the end of the child inside a nested loop. An exception leaving a handler is
// passed to ReportCurrentException() and delivery goes on with the next event.
class TConsoleIO : public QObject
{
    Q_OBJECT
public:
    explicit TConsoleIO(QObject *parent = nullptr);
    // Stops the child when StopProcessOnFree is set. A child still held after
    // that is ended by force (its pipes close with the runner) and
    // OnProcessStatusChange(false) is raised; output not yet delivered is dropped.
    ~TConsoleIO() override;

    // Starts program with arguments (each one argument, no shell). An empty
    // currentDirectory inherits ours. visible is kept for the interface: a
    // console child has no window of its own here. Raises TolvaneError with
    // "System Error.  Code: %d.\r\n%s" when the child cannot be started, and
    // "Assertion failure" while a child is held (that child runs on).
    void StartProcess(const QString &program, const QStringList &arguments, const QString &currentDirectory,
                      bool visible);

    // Writes text and the send delimiter to the child's standard input.
    // Raises the system error for a bad file descriptor when no child is held.
    void SendCommand(const QByteArray &text);

    // Sends TerminateCommand; with EnableKill waits up to WaitTimeout ms for the
    // end and kills the child otherwise (at once when TerminateCommand is empty).
    // Returns before the end is reported: IsRunning stays true until then.
    void StopProcess();
    // Sends TerminateCommand at once and returns. A StopProcess that follows
    // does not send it again, and its WaitTimeout counts from this moment, so
    // several children told first and waited for after end together.
    void RequestStop();

    // True from a successful start until the end of the child has been reported.
    bool IsRunning() const { return m_held; }

    // Exit code of the last child whose end has been reported; -1 when it
    // crashed or was killed, so that a failed conversion can be told apart.
    int LastExitCode() const { return m_lastExitCode; }

    QByteArray TerminateCommand = QByteArray(EncoderContract::StopCommand);
    bool StopProcessOnFree = true;
    bool EnableKill = false;
    int WaitTimeout = 1000; // milliseconds
    TSplitMode SplitMode = TSplitMode::sm0D0A;
    char SplitChar = '\n';
    bool SplitReceive = true;
    bool SplitSend = true;

signals:
    // Standard output, split as SplitMode / SplitReceive say; bytes unchanged.
    void OnReceiveOutput(TConsoleIO *Sender, const QByteArray &Cmd);
    // Standard error as read, at most 1025 bytes at a time, never split or joined.
    void OnReceiveError(TConsoleIO *Sender, const QByteArray &Cmd);
    // Text of a failed read or write on one of the child's streams.
    void OnError(TConsoleIO *Sender, const QByteArray &Cmd);
    void OnProcessStatusChange(TConsoleIO *Sender, bool IsRunning);

private:
    enum class NewsKind { Output, Error, Failure, End };
    struct News
    {
        NewsKind kind;
        QByteArray bytes;
    };

    void readStandardOutput();
    void readStandardError();
    void processFinished();
    void processFailed(QProcess::ProcessError error);
    void queueChunks(NewsKind kind, const QByteArray &bytes);

    void deliverQueued();
    void scheduleDelivery();
    bool handleNews(News &news);
    bool handleOutput(const QByteArray &chunk);
    bool handleEnd();
    QByteArray sendDelimiter() const;
    bool receivesOutput() const;
    template <typename Emit> bool raise(Emit &&emitEvent);

    void releaseProcess();
    void forceEnd();

    QProcess *m_process = nullptr;
    bool m_held = false;
    QElapsedTimer m_stopRequested; // valid once the child was told to stop
    int m_lastExitCode = 0;
    bool m_delivering = false;
    int m_holdDelivery = 0;   // > 0 while blocking calls run: news is only queued
    std::deque<News> m_queue; // news read but not yet handed to the handlers
    QByteArray m_pending;     // standard output not yet delivered
    qsizetype m_scanned = 0;  // leading bytes of m_pending searched for m_scannedFor in vain
    QByteArray m_scannedFor;
};
