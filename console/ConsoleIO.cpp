#include "console/ConsoleIO.h"

// How the Windows runner's machinery maps onto QProcess:
// - three anonymous pipes, duplicated non-inheritable ends, STARTUPINFO with
//   redirected handles, CreateProcess: QProcess::start with separate channels
//   and the argument vector (no shell); waitForStarted makes a failure
//   synchronous. The errno is found first by the checks execve/chdir would do.
// - the show state of the console window: nothing; a child has none here.
// - reader threads (ReadFile of 1025 bytes, SendMessage 7441/7442): QProcess's
//   readyRead signals on this thread; the bytes are cut into pieces of at most
//   1025 and queued.
// - failed read (7443): QProcess::errorOccurred with ReadError/WriteError.
// - watcher thread (WaitForSingleObject, 7444): QProcess::finished. QProcess
//   has drained both pipes by then; the rest it buffers is queued before the end.
// - the hidden window's message handling: deliverQueued, the one loop that
//   calls the handlers, so a handler with a modal dialog is never re-entered.
// - WriteFile to the input pipe: QProcess::write; the bytes go out from the
//   event loop, or inside waitForFinished while stopping.
// - WaitForSingleObject(WaitTimeout) + TerminateProcess(4): waitForFinished
//   (WaitTimeout) + kill (SIGKILL; the exit code is the signal's, not 4).
// - CloseHandle of the process and pipes at the end: the QProcess is released
//   once the end has been reported.

#include "common/ErrorReport.h"
#include "common/TolvaneError.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMetaMethod>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

void HoldStopSignalsInChild()
{
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
}

namespace {
// Reads are handed on in pieces of at most this size, so standard error
// arrives in the same chunks whatever QProcess happened to buffer.
constexpr qsizetype ChunkSize = 1025;

[[noreturn]] void raiseSystemError(int code)
{
    throw TolvaneError(ErrorText::SystemError(code, qt_error_string(code)));
}

// QProcess reports a failed start only as text ("execve: <message>"); the
// code is recovered by matching the system's message for it.
[[noreturn]] void raiseStartFailure(const QString &message)
{
    for (int code = 1; code < 256; ++code) {
        const QString text = qt_error_string(code);
        if (!text.isEmpty() && message.endsWith(text))
            raiseSystemError(code);
    }
    throw TolvaneError(QStringLiteral("A call to an OS function failed"));
}

QString resolveProgram(const QString &program)
{
    if (program.contains(QLatin1Char('/')))
        return QFileInfo(program).absoluteFilePath();
    return QStandardPaths::findExecutable(program);
}

// QProcess does not say why a start failed; the checks execve and chdir would
// make are repeated here first so the error carries the real errno.
void checkStartable(const QString &path, const QString &currentDirectory)
{
    if (path.isEmpty())
        raiseSystemError(ENOENT);
    const QByteArray program = QFile::encodeName(path);
    struct stat info{};
    if (::access(program.constData(), X_OK) != 0 || ::stat(program.constData(), &info) != 0)
        raiseSystemError(errno);
    if (!S_ISREG(info.st_mode))
        raiseSystemError(EACCES);
    if (currentDirectory.isEmpty())
        return;
    const QByteArray folder = QFile::encodeName(currentDirectory);
    if (::stat(folder.constData(), &info) != 0)
        raiseSystemError(errno);
    if (!S_ISDIR(info.st_mode))
        raiseSystemError(ENOTDIR);
    if (::access(folder.constData(), X_OK) != 0)
        raiseSystemError(errno);
}
}

// Every event goes through here: an exception from a handler is reported and
// the caller goes on. Returns false when the handler destroyed the runner.
template <typename Emit> bool TConsoleIO::raise(Emit &&emitEvent)
{
    QPointer<TConsoleIO> self(this);
    try {
        emitEvent();
    } catch (...) {
        ReportCurrentException();
    }
    return !self.isNull();
}

TConsoleIO::TConsoleIO(QObject *parent) : QObject(parent) {}

TConsoleIO::~TConsoleIO()
{
    if (StopProcessOnFree) {
        try {
            StopProcess();
        } catch (...) {
            ReportCurrentException();
        }
    }
    if (!m_process)
        return;
    // The child cannot outlive its pipes usefully; end it rather than leave it
    // writing into nothing.
    m_process->disconnect(this);
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(1000);
    }
    delete m_process;
    m_process = nullptr;
    m_queue.clear();
    if (m_held) {
        m_held = false;
        raise([this] { emit OnProcessStatusChange(this, false); });
    }
}

void TConsoleIO::StartProcess(const QString &program, const QStringList &arguments, const QString &currentDirectory,
                              bool visible)
{
    Q_UNUSED(visible);
    if (m_held)
        throw TolvaneError(ErrorText::AssertionFailure());
    const QString path = resolveProgram(program);
    checkStartable(path, currentDirectory);

    auto *process = new QProcess(this);
    process->setProgram(path);
    process->setArguments(arguments);
    if (!currentDirectory.isEmpty())
        process->setWorkingDirectory(currentDirectory);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->setChildProcessModifier(HoldStopSignalsInChild);
    // The encoder asks for PR_SET_PDEATHSIG, which fires when the thread that
    // forked it ends, not the program: children are started from the GUI
    // thread only, which lives as long as the program.
    Q_ASSERT(!QCoreApplication::instance() || QThread::currentThread() == QCoreApplication::instance()->thread());
    process->start(QIODevice::ReadWrite);
    if (!process->waitForStarted(-1)) {
        const QString message = process->errorString();
        delete process;
        raiseStartFailure(message);
    }
    connect(process, &QProcess::readyReadStandardOutput, this, &TConsoleIO::readStandardOutput);
    connect(process, &QProcess::readyReadStandardError, this, &TConsoleIO::readStandardError);
    connect(process, &QProcess::finished, this, &TConsoleIO::processFinished);
    connect(process, &QProcess::errorOccurred, this, &TConsoleIO::processFailed);

    m_process = process;
    m_held = true;
    m_stopRequested.invalidate();
    m_pending.clear();
    m_scanned = 0;

    // The start is reported before any output, and before StartProcess returns.
    ++m_holdDelivery;
    QPointer<TConsoleIO> self(this);
    raise([this] { emit OnProcessStatusChange(this, true); });
    if (!self)
        return;
    --m_holdDelivery;
    scheduleDelivery();
}

QByteArray TConsoleIO::sendDelimiter() const
{
    if (!SplitSend)
        return {};
    switch (SplitMode) {
    case TSplitMode::sm0D0A:
        return QByteArrayLiteral("\r\n");
    case TSplitMode::smSplitchar:
        return QByteArray(1, SplitChar);
    case TSplitMode::smNone:
        break;
    }
    return {};
}

void TConsoleIO::SendCommand(const QByteArray &text)
{
    if (!m_held)
        raiseSystemError(EBADF);
    // Between the child's exit and the report of its end the write goes
    // nowhere but does not fail, as with a pipe still held open.
    if (m_process->state() == QProcess::NotRunning)
        return;
    m_process->write(text + sendDelimiter());
}

void TConsoleIO::RequestStop()
{
    if (!m_held || TerminateCommand.isEmpty() || m_stopRequested.isValid())
        return;
    SendCommand(TerminateCommand);
    m_stopRequested.start();
    // The write would otherwise wait for the event loop; written now, the
    // child starts its end while others are being told.
    if (m_process->state() != QProcess::NotRunning) {
        ++m_holdDelivery;
        m_process->waitForBytesWritten(0);
        --m_holdDelivery;
        scheduleDelivery();
    }
}

void TConsoleIO::StopProcess()
{
    if (!m_held)
        return;
    const bool told = m_stopRequested.isValid();
    if (!TerminateCommand.isEmpty() && !told)
        SendCommand(TerminateCommand);
    if (!EnableKill)
        return;
    if (TerminateCommand.isEmpty()) {
        forceEnd();
        return;
    }
    if (m_process->state() == QProcess::NotRunning)
        return;
    // waitForFinished also writes the command out and reads the pipes; it
    // raises QProcess's signals itself, so news is only queued meanwhile and
    // handed on from the event loop afterwards.
    ++m_holdDelivery;
    const qint64 waited = told ? m_stopRequested.elapsed() : 0;
    const bool ended = m_process->waitForFinished(int(std::max<qint64>(0, WaitTimeout - waited)));
    --m_holdDelivery;
    if (!ended && m_process->state() != QProcess::NotRunning)
        forceEnd();
    scheduleDelivery();
}

void TConsoleIO::forceEnd()
{
    if (m_process && m_process->state() != QProcess::NotRunning)
        m_process->kill();
}

void TConsoleIO::releaseProcess()
{
    if (m_process) {
        m_process->disconnect(this);
        m_process->deleteLater();
        m_process = nullptr;
    }
    m_held = false;
}

void TConsoleIO::queueChunks(NewsKind kind, const QByteArray &bytes)
{
    for (qsizetype at = 0; at < bytes.size(); at += ChunkSize)
        m_queue.push_back({kind, bytes.mid(at, ChunkSize)});
}

void TConsoleIO::readStandardOutput()
{
    queueChunks(NewsKind::Output, m_process->readAllStandardOutput());
    deliverQueued();
}

void TConsoleIO::readStandardError()
{
    queueChunks(NewsKind::Error, m_process->readAllStandardError());
    deliverQueued();
}

void TConsoleIO::processFinished()
{
    // Whatever QProcess still buffers belongs before the end.
    queueChunks(NewsKind::Output, m_process->readAllStandardOutput());
    queueChunks(NewsKind::Error, m_process->readAllStandardError());
    m_queue.push_back({NewsKind::End, {}});
    deliverQueued();
}

void TConsoleIO::processFailed(QProcess::ProcessError error)
{
    // A crash is an end like any other (a forced end looks like one) and is
    // reported through finished.
    if (error != QProcess::ReadError && error != QProcess::WriteError)
        return;
    m_queue.push_back({NewsKind::Failure, m_process->errorString().toUtf8()});
    deliverQueued();
}

void TConsoleIO::scheduleDelivery()
{
    QMetaObject::invokeMethod(this, &TConsoleIO::deliverQueued, Qt::QueuedConnection);
}

// The one place handlers are called from. A handler that runs a nested event
// loop lets QProcess signal again; that news is queued and picked up here
// after the handler returns, so nothing is lost or overtaken.
void TConsoleIO::deliverQueued()
{
    if (m_delivering || m_holdDelivery > 0)
        return;
    m_delivering = true;
    while (!m_queue.empty()) {
        News news = std::move(m_queue.front());
        m_queue.pop_front();
        if (!handleNews(news))
            return; // a handler destroyed the runner
    }
    m_delivering = false;
}

bool TConsoleIO::handleNews(News &news)
{
    switch (news.kind) {
    case NewsKind::Output:
        return handleOutput(news.bytes);
    case NewsKind::Error:
        if (!isSignalConnected(QMetaMethod::fromSignal(&TConsoleIO::OnReceiveError)))
            return true;
        return raise([&] { emit OnReceiveError(this, news.bytes); });
    case NewsKind::Failure:
        return raise([&] { emit OnError(this, news.bytes); });
    case NewsKind::End:
        return handleEnd();
    }
    return true;
}

bool TConsoleIO::receivesOutput() const
{
    return isSignalConnected(QMetaMethod::fromSignal(&TConsoleIO::OnReceiveOutput));
}

bool TConsoleIO::handleOutput(const QByteArray &chunk)
{
    if (chunk.isEmpty())
        return true;
    m_pending += chunk;
    if (!receivesOutput())
        return true;

    QByteArray delimiter;
    if (SplitReceive && SplitMode == TSplitMode::sm0D0A)
        delimiter = QByteArrayLiteral("\r\n");
    else if (SplitReceive && SplitMode == TSplitMode::smSplitchar)
        delimiter = QByteArray(1, SplitChar);
    if (delimiter.isEmpty()) {
        const QByteArray all = std::exchange(m_pending, QByteArray());
        m_scanned = 0;
        return raise([&] { emit OnReceiveOutput(this, all); });
    }

    // Only the new bytes (and one before them, for a split "\r\n") need searching.
    qsizetype from = 0;
    if (delimiter == m_scannedFor)
        from = std::max<qsizetype>(0, m_scanned - (delimiter.size() - 1));
    qsizetype start = 0;
    for (;;) {
        const qsizetype at = m_pending.indexOf(delimiter, from);
        if (at < 0)
            break;
        const QByteArray line = m_pending.mid(start, at - start);
        start = at + delimiter.size();
        from = start;
        if (!raise([&] { emit OnReceiveOutput(this, line); }))
            return false;
    }
    m_pending.remove(0, start);
    m_scanned = m_pending.size();
    m_scannedFor = delimiter;
    return true;
}

bool TConsoleIO::handleEnd()
{
    const QByteArray rest = std::exchange(m_pending, QByteArray());
    m_scanned = 0;
    if (receivesOutput() && !raise([&] { emit OnReceiveOutput(this, rest); }))
        return false;
    m_lastExitCode = m_process && m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
    releaseProcess();
    return raise([this] { emit OnProcessStatusChange(this, false); });
}
