#include "common/ErrorReport.h"
#include "common/TolvaneError.h"
#include "console/ConsoleIO.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <memory>

namespace {
const QString Helper = QStringLiteral(TOLVANE_TEST_BIN_DIR "/consolehelper");

// Everything a runner raises, in order: "out:", "err:", "fail:" + bytes, "run:1" / "run:0".
class EventLog : public QObject
{
public:
    QList<QByteArray> events;
    bool wrongSender = false;

    void watch(TConsoleIO &io, bool output = true)
    {
        const auto record = [this, &io](const char *prefix) {
            return [this, &io, prefix](TConsoleIO *sender, const QByteArray &bytes) {
                wrongSender |= sender != &io;
                events << QByteArray(prefix) + bytes;
            };
        };
        if (output)
            connect(&io, &TConsoleIO::OnReceiveOutput, this, record("out:"));
        connect(&io, &TConsoleIO::OnReceiveError, this, record("err:"));
        connect(&io, &TConsoleIO::OnError, this, record("fail:"));
        connect(&io, &TConsoleIO::OnProcessStatusChange, this, [this, &io](TConsoleIO *sender, bool running) {
            wrongSender |= sender != &io;
            events << (running ? "run:1" : "run:0");
        });
    }

    // The events of one kind with their prefix removed.
    QList<QByteArray> of(const QByteArray &prefix) const
    {
        QList<QByteArray> result;
        for (const QByteArray &event : events)
            if (event.startsWith(prefix))
                result << event.mid(prefix.size());
        return result;
    }
};

// Waits for the reported end. The timeout only keeps a broken test from
// hanging; it decides nothing.
bool waitForEnd(TConsoleIO &io, int timeoutMs = 60000)
{
    QSignalSpy statusChanges(&io, &TConsoleIO::OnProcessStatusChange);
    while (io.IsRunning() && statusChanges.wait(timeoutMs))
        ;
    return !io.IsRunning();
}

// A WaitTimeout no stop reaches unless it really waits it out.
constexpr int LongWaitMs = 60000;

bool processExists(qint64 pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH; }

QString systemError(int code) { return WithFullStop(ErrorText::SystemError(code, qt_error_string(code))); }
}

class TestConsoleIO : public QObject
{
    Q_OBJECT
    QStringList m_reports;

private slots:
    void initTestCase();
    void init() { m_reports.clear(); }

    void outputIsSplitAsConfigured_data();
    void outputIsSplitAsConfigured();
    void errorChunksArriveAsRead_data();
    void errorChunksArriveAsRead();
    void largeErrorWriteComesInReadSizedChunks();
    void outputWithoutReceiverIsDroppedAtTheEnd();
    void everythingArrivesBeforeTheEnd();
    void workingFolder_data();
    void workingFolder();
    void childStartsWithStopSignalsHeld();

    void sendCommandAppendsTheDelimiter_data();
    void sendCommandAppendsTheDelimiter();
    void sendCommandWithoutChildFails();

    void stopProcess_data();
    void stopProcess();
    void stopWhileIdleDoesNothing();

    void startFailure_data();
    void startFailure();
    void startWhileRunningIsRefused();
    void startAgainAfterTheEnd();
    void lastExitCode_data();
    void lastExitCode();

    void destructionWhileRunning_data();
    void destructionWhileRunning();

    void handlerExceptionsAreReportedAndDeliveryGoesOn();
    void nestedEventLoopInHandlerKeepsOrder_data();
    void nestedEventLoopInHandlerKeepsOrder();
};

void TestConsoleIO::initTestCase()
{
    QVERIFY2(QFile::exists(Helper), qPrintable(Helper));
    SetErrorReporter([this](const QString &text) { m_reports << text; });
}

void TestConsoleIO::outputIsSplitAsConfigured_data()
{
    QTest::addColumn<TSplitMode>("mode");
    QTest::addColumn<char>("splitChar");
    QTest::addColumn<bool>("splitReceive");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<QByteArray>>("expected");

    using L = QList<QByteArray>;
    const auto crlf = TSplitMode::sm0D0A;
    const auto single = TSplitMode::smSplitchar;
    QTest::newRow("CRLF lines, rest at the end") << crlf << '\n'
                                                 << true << QStringList{"out:a b\\r\\nb\\r\\nc"} << L{"a b", "b", "c"};
    QTest::newRow("CRLF line completed by a later chunk")
        << crlf << '\n'
        << true << QStringList{"out:ab", "drained:1", "out:c\\r\\n"} << L{"abc", ""};
    QTest::newRow("CRLF delimiter split over two chunks")
        << crlf << '\n'
        << true << QStringList{"out:a\\r", "drained:1", "out:\\nb"} << L{"a", "b"};
    QTest::newRow("CRLF keeps lone CR and LF") << crlf << '\n'
                                               << true << QStringList{"out:a\\rb\\nc\\r\\n"} << L{"a\rb\nc", ""};
    QTest::newRow("CRLF empty lines") << crlf << '\n' << true << QStringList{"out:\\r\\n\\r\\n"} << L{"", "", ""};
    QTest::newRow("LF split keeps the CR") << single << '\n'
                                           << true << QStringList{"out:x\\r\\ny\\n"} << L{"x\r", "y", ""};
    QTest::newRow("other split char") << single << ';' << true << QStringList{"out:a;b;;c"} << L{"a", "b", "", "c"};
    QTest::newRow("silent child") << crlf << '\n' << true << QStringList{} << L{""};
    QTest::newRow("bytes unchanged") << crlf << '\n'
                                     << true << QStringList{"out:\\x00\\xff\\r\\n\\xe4\\xb8\\xad"}
                                     << L{QByteArray("\0\xff", 2), "\xe4\xb8\xad"};
    QTest::newRow("SplitReceive off: chunks whole")
        << crlf << '\n'
        << false << QStringList{"out:a\\r\\nb", "drained:1", "out:c\\r\\n"} << L{"a\r\nb", "c\r\n", ""};
    QTest::newRow("smNone: chunks whole")
        << TSplitMode::smNone << '\n'
        << true << QStringList{"out:a\\nb", "drained:1", "out:c\\n"} << L{"a\nb", "c\n", ""};
}

void TestConsoleIO::outputIsSplitAsConfigured()
{
    QFETCH(TSplitMode, mode);
    QFETCH(char, splitChar);
    QFETCH(bool, splitReceive);
    QFETCH(QStringList, steps);
    QFETCH(QList<QByteArray>, expected);

    TConsoleIO io;
    io.SplitMode = mode;
    io.SplitChar = splitChar;
    io.SplitReceive = splitReceive;
    EventLog log;
    log.watch(io);
    io.StartProcess(Helper, steps, QString(), false);
    QVERIFY(io.IsRunning());
    QCOMPARE(log.events, QList<QByteArray>{"run:1"});
    QVERIFY(waitForEnd(io));

    QList<QByteArray> all{"run:1"};
    for (const QByteArray &line : expected)
        all << "out:" + line;
    all << "run:0";
    QCOMPARE(log.events, all);
    QVERIFY(!log.wrongSender);
}

void TestConsoleIO::errorChunksArriveAsRead_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<QByteArray>>("expected");
    QTest::newRow("one read") << QStringList{"err:one\\rtwo\\r"} << QList<QByteArray>{"one\rtwo\r"};
    QTest::newRow("two reads") << QStringList{"err:one\\r", "drained:2", "err:two\\r"}
                               << QList<QByteArray>{"one\r", "two\r"};
    QTest::newRow("part of a line") << QStringList{"err:ab", "drained:2", "err:c\\nd"}
                                    << QList<QByteArray>{"ab", "c\nd"};
}

void TestConsoleIO::errorChunksArriveAsRead()
{
    QFETCH(QStringList, steps);
    QFETCH(QList<QByteArray>, expected);
    TConsoleIO io;
    EventLog log;
    log.watch(io);
    io.StartProcess(Helper, steps, QString(), false);
    QVERIFY(waitForEnd(io));
    QCOMPARE(log.of("err:"), expected);
    QCOMPARE(log.events.constLast(), QByteArray("run:0"));
}

void TestConsoleIO::largeErrorWriteComesInReadSizedChunks()
{
    QByteArray text;
    for (int i = 0; text.size() < 5000; ++i)
        text += QByteArray::number(i) + ' ';
    TConsoleIO io;
    EventLog log;
    log.watch(io);
    io.StartProcess(Helper, {"err:" + QString::fromLatin1(text)}, QString(), false);
    QVERIFY(waitForEnd(io));
    const QList<QByteArray> chunks = log.of("err:");
    QVERIFY(chunks.size() >= 5);
    for (const QByteArray &chunk : chunks)
        QVERIFY(chunk.size() <= 1025);
    QCOMPARE(chunks.join(), text);
}

void TestConsoleIO::outputWithoutReceiverIsDroppedAtTheEnd()
{
    TConsoleIO io;
    EventLog log;
    log.watch(io, false);
    io.StartProcess(Helper, {"out:left\\r\\nover"}, QString(), false);
    QVERIFY(waitForEnd(io));
    QCOMPARE(log.events, (QList<QByteArray>{"run:1", "run:0"}));

    // What the first child wrote must not reach the handler of the next one.
    log.events.clear();
    connect(&io, &TConsoleIO::OnReceiveOutput, &log,
            [&log](TConsoleIO *, const QByteArray &cmd) { log.events << "out:" + cmd; });
    io.StartProcess(Helper, {}, QString(), false);
    QVERIFY(waitForEnd(io));
    QCOMPARE(log.events, (QList<QByteArray>{"run:1", "out:", "run:0"}));
}

void TestConsoleIO::everythingArrivesBeforeTheEnd()
{
    // Far more than a pipe holds, written just before the child ends.
    const int lines = 100000;
    TConsoleIO io;
    io.SplitMode = TSplitMode::smSplitchar;
    EventLog log;
    log.watch(io);
    io.StartProcess(Helper, {"bulk:" + QString::number(lines), "err:done"}, QString(), false);
    QVERIFY(waitForEnd(io, 30000));

    QCOMPARE(log.events.constLast(), QByteArray("run:0"));
    QCOMPARE(log.of("err:").join(), QByteArray("done"));
    const QList<QByteArray> out = log.of("out:");
    QCOMPARE(out.size(), lines + 1);
    for (int i = 0; i < lines; ++i)
        if (out[i] != "line " + QByteArray::number(i))
            QFAIL(qPrintable(QStringLiteral("line %1 is \"%2\"").arg(i).arg(QString::fromLatin1(out[i]))));
    QCOMPARE(out.constLast(), QByteArray());
}

void TestConsoleIO::workingFolder_data()
{
    QTest::addColumn<bool>("ownFolder");
    QTest::newRow("given folder") << true;
    QTest::newRow("empty: inherited") << false;
}

void TestConsoleIO::workingFolder()
{
    QFETCH(bool, ownFolder);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString expected = ownFolder ? QDir(folder.path()).canonicalPath() : QDir::currentPath();
    TConsoleIO io;
    EventLog log;
    log.watch(io);
    io.StartProcess(Helper, {"cwd"}, ownFolder ? folder.path() : QString(), false);
    QVERIFY(waitForEnd(io));
    QCOMPARE(log.of("out:").join().trimmed(), QFile::encodeName(expected));
}

void TestConsoleIO::childStartsWithStopSignalsHeld()
{
    // The encoder takes them once its handlers stand; until then a stop
    // must wait rather than kill it.
    TConsoleIO io;
    EventLog log;
    log.watch(io);
    io.StartProcess("grep", {"SigBlk", "/proc/self/status"}, QString(), false);
    QVERIFY(waitForEnd(io));
    const QByteArray line = log.of("out:").join().trimmed();
    bool ok = false;
    const quint64 blocked = line.mid(line.indexOf(':') + 1).trimmed().toULongLong(&ok, 16);
    QVERIFY2(ok, line.constData());
    QCOMPARE(blocked & ((1ull << (SIGTERM - 1)) | (1ull << (SIGINT - 1))),
             (1ull << (SIGTERM - 1)) | (1ull << (SIGINT - 1)));
}

void TestConsoleIO::sendCommandAppendsTheDelimiter_data()
{
    QTest::addColumn<TSplitMode>("mode");
    QTest::addColumn<bool>("splitSend");
    QTest::addColumn<QByteArray>("hex");
    QTest::newRow("CRLF") << TSplitMode::sm0D0A << true << QByteArray("717569740d0a");
    QTest::newRow("SplitSend off") << TSplitMode::sm0D0A << false << QByteArray("71756974");
    QTest::newRow("split char LF") << TSplitMode::smSplitchar << true << QByteArray("717569740a");
    QTest::newRow("smNone") << TSplitMode::smNone << true << QByteArray("71756974");
}

void TestConsoleIO::sendCommandAppendsTheDelimiter()
{
    QFETCH(TSplitMode, mode);
    QFETCH(bool, splitSend);
    QFETCH(QByteArray, hex);
    TConsoleIO io;
    io.SplitMode = mode;
    io.SplitSend = splitSend;
    io.SplitReceive = false; // the answer ends in a line feed; keep it whole
    EventLog log;
    log.watch(io);
    io.StartProcess(Helper, {"stdin:500"}, QString(), false);
    io.SendCommand("quit");
    QVERIFY(waitForEnd(io));
    QCOMPARE(log.of("out:").join(), hex + '\n');
}

void TestConsoleIO::sendCommandWithoutChildFails()
{
    TConsoleIO io;
    try {
        io.SendCommand("quit");
        QFAIL("no error raised");
    } catch (const TolvaneError &e) {
        QCOMPARE(WithFullStop(e.text()), systemError(EBADF));
    }
    // After the end has been reported the same holds.
    io.StartProcess(Helper, {}, QString(), false);
    QVERIFY(waitForEnd(io));
    QVERIFY_THROWS_EXCEPTION(TolvaneError, io.SendCommand("quit"));
}

void TestConsoleIO::stopProcess_data()
{
    // A child that hears the stop text but takes its time to end. Given the
    // wait, it ends by itself; killed early, it never says "bye".
    const QStringList slow{"heard", "sleep:200", "out:bye\\n"};
    QTest::addColumn<QStringList>("behaviour");
    QTest::addColumn<QByteArray>("terminateCommand");
    QTest::addColumn<bool>("enableKill");
    QTest::addColumn<QString>("outcome"); // "bye": ends by itself, "killed", "runs on"
    QTest::addColumn<bool>("toldFirst");  // RequestStop comes before StopProcess

    QTest::newRow("cooperative child ends on quit")
        << QStringList{"quit"} << QByteArray("quit") << true << "bye" << false;
    QTest::newRow("slow child is given WaitTimeout") << slow << QByteArray("quit") << true << "bye" << false;
    QTest::newRow("deaf child is killed after WaitTimeout")
        << QStringList{"ignore"} << QByteArray("quit") << true << "killed" << false;
    QTest::newRow("empty command kills at once") << QStringList{"ignore"} << QByteArray() << true << "killed" << false;
    QTest::newRow("no kill: deaf child runs on")
        << QStringList{"ignore"} << QByteArray("quit") << false << "runs on" << false;
    QTest::newRow("no kill, empty command: nothing")
        << QStringList{"quit"} << QByteArray() << false << "runs on" << false;
    QTest::newRow("told first, ends on quit") << QStringList{"quit"} << QByteArray("quit") << true << "bye" << true;
    QTest::newRow("told first, slow child given its time") << slow << QByteArray("quit") << true << "bye" << true;
    QTest::newRow("told first, deaf child still killed")
        << QStringList{"ignore"} << QByteArray("quit") << true << "killed" << true;
}

void TestConsoleIO::stopProcess()
{
    QFETCH(QStringList, behaviour);
    QFETCH(QByteArray, terminateCommand);
    QFETCH(bool, enableKill);
    QFETCH(QString, outcome);
    QFETCH(bool, toldFirst);

    TConsoleIO io;
    io.SplitMode = TSplitMode::smSplitchar;
    io.TerminateCommand = terminateCommand;
    io.EnableKill = enableKill;
    QCOMPARE(io.WaitTimeout, 1000);
    // A child that ends by itself gets a wait far beyond any machine's
    // slowness, so only a stop that does not wait for it can kill it.
    if (outcome == QLatin1String("bye"))
        io.WaitTimeout = LongWaitMs;
    EventLog log;
    log.watch(io);
    io.StartProcess(Helper, QStringList{"out:ready\\n"} + behaviour, QString(), false);
    QTRY_VERIFY_WITH_TIMEOUT(log.of("out:").contains("ready"), 120000);

    if (toldFirst)
        io.RequestStop();
    io.StopProcess();
    // The end is reported from the event loop, never inside StopProcess.
    QVERIFY(io.IsRunning());
    QCOMPARE(log.events.constLast(), QByteArray("out:ready"));

    if (outcome != QLatin1String("runs on")) {
        QVERIFY(waitForEnd(io));
        QCOMPARE(log.of("out:").contains("bye"), outcome == QLatin1String("bye"));
        QCOMPARE(io.LastExitCode(), outcome == QLatin1String("bye") ? 0 : -1);
    } else {
        QTest::qWait(500);
        QVERIFY(io.IsRunning());
        io.EnableKill = true;
        io.TerminateCommand.clear();
        io.StopProcess();
        QVERIFY(waitForEnd(io));
    }
    QCOMPARE(log.events.constLast(), QByteArray("run:0"));
    QVERIFY(m_reports.isEmpty());
}

void TestConsoleIO::stopWhileIdleDoesNothing()
{
    TConsoleIO io;
    io.EnableKill = true;
    EventLog log;
    log.watch(io);
    io.StopProcess();
    QVERIFY(log.events.isEmpty());
    QVERIFY(!io.IsRunning());
}

void TestConsoleIO::startFailure_data()
{
    static QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString plain = folder.filePath("plain");
    const QString garbage = folder.filePath("garbage");
    for (const QString &path : {plain, garbage}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(64, '\x01'));
    }
    QFile::setPermissions(garbage, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");
    QTest::newRow("missing program") << folder.filePath("libm9s") << QString()
                                     << "System Error.  Code: 2.\r\nNo such file or directory.";
    QTest::newRow("not on the path") << "tolvane-no-such-program" << QString() << systemError(ENOENT);
    QTest::newRow("not executable") << plain << QString() << systemError(EACCES);
    QTest::newRow("a folder") << folder.path() << QString() << systemError(EACCES);
    QTest::newRow("not a program") << garbage << QString() << systemError(ENOEXEC);
    QTest::newRow("missing working folder") << Helper << folder.filePath("gone") << systemError(ENOENT);
    QTest::newRow("working folder is a file") << Helper << plain << systemError(ENOTDIR);
}

void TestConsoleIO::startFailure()
{
    QFETCH(QString, program);
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    TConsoleIO io;
    EventLog log;
    log.watch(io);
    try {
        io.StartProcess(program, {}, folder, false);
        QFAIL("no error raised");
    } catch (const TolvaneError &e) {
        QCOMPARE(WithFullStop(e.text()), expected);
    }
    QVERIFY(!io.IsRunning());
    QTest::qWait(50);
    QVERIFY(log.events.isEmpty());
}

void TestConsoleIO::startWhileRunningIsRefused()
{
    TConsoleIO io;
    io.SplitMode = TSplitMode::smSplitchar;
    io.EnableKill = true;
    EventLog log;
    log.watch(io);
    io.StartProcess(Helper, {"quit"}, QString(), false);
    try {
        io.StartProcess(Helper, {"out:second\\n"}, QString(), false);
        QFAIL("second start accepted");
    } catch (const TolvaneError &e) {
        QCOMPARE(e.text(), QStringLiteral("Assertion failure"));
    }
    // The first child is still the one held: it answers the stop.
    QVERIFY(io.IsRunning());
    io.StopProcess();
    QVERIFY(waitForEnd(io));
    QCOMPARE(log.events, (QList<QByteArray>{"run:1", "out:bye", "out:", "run:0"}));
}

void TestConsoleIO::startAgainAfterTheEnd()
{
    TConsoleIO io;
    io.SplitMode = TSplitMode::smSplitchar;
    EventLog log;
    log.watch(io);
    for (const char *word : {"first", "second"}) {
        log.events.clear();
        io.StartProcess(Helper, {QStringLiteral("out:%1\\n").arg(QLatin1String(word))}, QString(), false);
        QVERIFY(waitForEnd(io));
        QCOMPARE(log.events, (QList<QByteArray>{"run:1", QByteArray("out:") + word, "out:", "run:0"}));
    }
}

void TestConsoleIO::lastExitCode_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("kill");
    QTest::addColumn<int>("code");
    QTest::newRow("success") << QStringList{"exit:0"} << false << 0;
    QTest::newRow("failure") << QStringList{"exit:3"} << false << 3;
    QTest::newRow("killed") << QStringList{"ignore"} << true << -1;
}

void TestConsoleIO::lastExitCode()
{
    QFETCH(QStringList, steps);
    QFETCH(bool, kill);
    QFETCH(int, code);
    TConsoleIO io;
    io.EnableKill = true;
    io.TerminateCommand.clear();
    io.StartProcess(Helper, steps, QString(), false);
    if (kill)
        io.StopProcess();
    QVERIFY(waitForEnd(io));
    QCOMPARE(io.LastExitCode(), code);
}

void TestConsoleIO::destructionWhileRunning_data()
{
    QTest::addColumn<QStringList>("behaviour");
    QTest::addColumn<bool>("stopOnFree");
    QTest::addColumn<bool>("endsItself"); // the child leaves its mark before it ends
    QTest::newRow("cooperative child") << QStringList{"quit"} << true << false;
    QTest::newRow("slow child is given WaitTimeout") << QStringList{"heard", "sleep:200", "touch:MARK"} << true << true;
    QTest::newRow("deaf child killed after WaitTimeout") << QStringList{"ignore"} << true << false;
    QTest::newRow("StopProcessOnFree off") << QStringList{"ignore"} << false << false;
}

void TestConsoleIO::destructionWhileRunning()
{
    QFETCH(QStringList, behaviour);
    QFETCH(bool, stopOnFree);
    QFETCH(bool, endsItself);

    QTemporaryDir folder;
    const QString mark = folder.filePath(QStringLiteral("ended"));
    behaviour.replaceInStrings(QStringLiteral("MARK"), mark);
    auto io = std::make_unique<TConsoleIO>();
    io->SplitMode = TSplitMode::smSplitchar;
    io->EnableKill = true;
    // Only the deaf child is meant to outlast the wait.
    io->WaitTimeout = behaviour.contains(QStringLiteral("ignore")) && stopOnFree ? 500 : LongWaitMs;
    io->StopProcessOnFree = stopOnFree;
    EventLog log;
    log.watch(*io);
    io->StartProcess(Helper, QStringList{"pid"} + behaviour, QString(), false);
    QTRY_VERIFY_WITH_TIMEOUT(!log.of("out:").isEmpty(), 120000);
    const qint64 pid = log.of("out:").constFirst().mid(4).toLongLong();
    QVERIFY(pid > 0);

    io.reset();
    QCOMPARE(QFileInfo::exists(mark), endsItself);
    QCOMPARE(log.events.constLast(), QByteArray("run:0"));
    QCOMPARE(log.events.count("run:0"), 1);
    QVERIFY(!processExists(pid));
}

void TestConsoleIO::handlerExceptionsAreReportedAndDeliveryGoesOn()
{
    TConsoleIO io;
    io.SplitMode = TSplitMode::smSplitchar;
    EventLog log;
    connect(&io, &TConsoleIO::OnProcessStatusChange, &log, [](TConsoleIO *, bool running) {
        if (running)
            throw TolvaneError(QStringLiteral("start handler"));
    });
    log.watch(io);
    connect(&io, &TConsoleIO::OnReceiveOutput, &log, [](TConsoleIO *, const QByteArray &line) {
        if (line == "2" || line == "4")
            throw TolvaneError(QStringLiteral("bad line %1").arg(QLatin1String(line)));
    });
    connect(&io, &TConsoleIO::OnReceiveError, &log,
            [](TConsoleIO *, const QByteArray &) { throw std::runtime_error("stderr"); });
    io.StartProcess(Helper, {"out:1\\n2\\n", "drained:1", "err:e", "drained:2", "out:3\\n4\\n5"}, QString(), false);
    QVERIFY(io.IsRunning());
    QVERIFY(waitForEnd(io));
    QCOMPARE(log.of("out:"), (QList<QByteArray>{"1", "2", "3", "4", "5"}));
    QCOMPARE(log.events.constLast(), QByteArray("run:0"));
    QCOMPARE(m_reports, (QStringList{"start handler.", "bad line 2.", "stderr.", "bad line 4."}));
}

void TestConsoleIO::nestedEventLoopInHandlerKeepsOrder_data()
{
    QTest::addColumn<bool>("throwFirst");
    QTest::newRow("modal dialog in a handler") << false;
    QTest::newRow("error box after an exception") << true;
}

void TestConsoleIO::nestedEventLoopInHandlerKeepsOrder()
{
    QFETCH(bool, throwFirst);
    // Stands in for a modal dialog: a nested event loop in which QProcess goes
    // on signalling while the child streams the rest and ends.
    const auto modal = [] {
        QEventLoop loop;
        QTimer::singleShot(600, &loop, &QEventLoop::quit);
        loop.exec();
    };
    TConsoleIO io;
    io.SplitMode = TSplitMode::smSplitchar;
    EventLog log;
    log.watch(io);
    int depth = 0;
    int deepest = 0;
    bool modalShown = false;
    connect(&io, &TConsoleIO::OnReceiveOutput, &log, [&](TConsoleIO *, const QByteArray &line) {
        ++depth;
        deepest = std::max(deepest, depth);
        const auto leave = qScopeGuard([&] { --depth; });
        if (line == "1" && !modalShown) {
            modalShown = true;
            if (throwFirst)
                throw TolvaneError(QStringLiteral("first line"));
            modal();
            // The child has ended meanwhile, but its end is not reported yet:
            // writing to it still succeeds.
            QVERIFY(io.IsRunning());
            io.SendCommand("late");
        }
    });
    const auto previous = SetErrorReporter([&](const QString &text) {
        m_reports << text;
        modal();
    });
    QStringList steps{"out:1\\n"};
    for (int i = 2; i <= 6; ++i)
        steps << "sleep:40" << QStringLiteral("out:%1\\n").arg(i) << QStringLiteral("err:e%1").arg(i);
    steps << "out:7";
    io.StartProcess(Helper, steps, QString(), false);
    QVERIFY(waitForEnd(io));
    SetErrorReporter(previous);

    QVERIFY(modalShown);
    QCOMPARE(deepest, 1);
    QCOMPARE(log.of("out:"), (QList<QByteArray>{"1", "2", "3", "4", "5", "6", "7"}));
    QCOMPARE(log.of("err:").join(), QByteArray("e2e3e4e5e6"));
    QCOMPARE(log.events.constLast(), QByteArray("run:0"));
    QCOMPARE(m_reports, throwFirst ? QStringList{"first line."} : QStringList{});
}

QTEST_GUILESS_MAIN(TestConsoleIO)
#include "tst_consoleio.moc"
