#include "app/Application.h"
#include "app/FileQueueRules.h"
#include "app/LogindPowerOff.h"
#include "app/MainWindow.h"
#include "common/PowerOff.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QTimer>

int main(int argc, char *argv[])
{
    TApplication app(argc, argv);

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

    TfrmMain &mainWindow = app.CreateForms(QString());
    mainWindow.show();
    // Files and folders from the command line (a file manager's "Open with")
    // are queued once the window is up, so a long folder search shows.
    const QStringList paths = CommandLinePaths(app.arguments().mid(1), QDir::currentPath());
    if (!paths.isEmpty())
        QTimer::singleShot(0, &mainWindow, [&mainWindow, paths] { mainWindow.AddPaths(paths); });
    return app.exec();
}
