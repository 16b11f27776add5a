#include "app/Application.h"
#include "app/LogindPowerOff.h"
#include "app/MainWindow.h"
#include "common/PowerOff.h"
#include "common/TolvaneError.h"
#include "terminal/CommandLine.h"
#include "terminal/TerminalRun.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QString>
#include <QTimer>

#include <cstdio>

namespace {
QStringList ArgumentsOf(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QFile::decodeName(argv[i]);
    return arguments;
}

void Print(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

void InstallPowerOff()
{
    // For trying the program out: with TOLVANE_POWEROFF_LOG set, a power-off
    // request is only written to that file and the machine stays on.
    const QString powerOffLog = qEnvironmentVariable("TOLVANE_POWEROFF_LOG");
    if (powerOffLog.isEmpty()) {
        SetPowerOffHandler(LogindPowerOff);
    } else {
        SetPowerOffHandler([powerOffLog] {
            QFile log(powerOffLog);
            if (log.open(QIODevice::Append))
                log.write("PowerOff requested\n");
        });
    }
}

// A window needs a display, unless Qt is told to draw elsewhere.
bool HasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
           || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// A command line the window cannot use is said where the user looks: on the
// terminal, and in a box for a start from a launcher.
int RefuseWindowCommandLine(int argc, char *argv[], const QString &reason)
{
    Print(stderr, UsageErrorText(reason));
    if (!HasDisplay())
        return UsageExitStatus;
    TApplication app(argc, argv);
    QMessageBox::critical(nullptr, QStringLiteral("Tolvane"), UsageErrorText(reason));
    return UsageExitStatus;
}

int RunWindow(int argc, char *argv[], const QStringList &paths)
{
    // On a server or over ssh: a word on what to do, not Qt's abort.
    if (!HasDisplay()) {
        Print(stderr, QStringLiteral("tolvane: there is no display to open the window on. To convert without a "
                                     "window: tolvane --convert FILE-OR-FOLDER... (see tolvane --help)\n"));
        return 1;
    }
    TApplication app(argc, argv);
    InstallPowerOff();
    TfrmMain &mainWindow = app.CreateForms(QString());
    mainWindow.show();
    // Files and folders from the command line (a file manager's "Open with")
    // are queued once the window is up, so a long folder search shows.
    if (!paths.isEmpty())
        QTimer::singleShot(0, &mainWindow, [&mainWindow, paths] { mainWindow.AddPaths(paths); });
    return app.exec();
}
}

int main(int argc, char *argv[])
{
    TCommandLine command;
    try {
        command = ParseCommandLine(ArgumentsOf(argc, argv), QDir::currentPath());
    } catch (const TolvaneError &error) {
        const bool terminalRun = ArgumentsOf(argc, argv).contains(QStringLiteral("--convert"));
        if (terminalRun) {
            Print(stderr, UsageErrorText(error.text()));
            return UsageExitStatus;
        }
        return RefuseWindowCommandLine(argc, argv, error.text());
    }
    switch (command.Mode) {
    case TLaunchMode::Help:
        Print(stdout, UsageText());
        return 0;
    case TLaunchMode::Version:
        Print(stdout, VersionText());
        return 0;
    case TLaunchMode::Convert:
        return RunInTerminal(argc, argv, command);
    case TLaunchMode::Window:
        break;
    }
    return RunWindow(argc, argv, command.Paths);
}
