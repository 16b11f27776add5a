#include "Application.h"
#include "LogindPowerOff.h"
#include "PowerOff.h"
#include "Startup.h"
#include "UnitMain.h"

#include <QFile>
#include <QString>

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

    CreateApplicationForms(QString());
    frmMain->show();
    const int result = app.exec();
    DestroyApplicationForms();
    return result;
}
