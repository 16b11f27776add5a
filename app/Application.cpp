#include "app/Application.h"

#include "app/Startup.h"
#include "common/ErrorReport.h"

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Tolvane"));
    setOrganizationName(QStringLiteral("Tolvane"));
    // Lets the desktop match the windows to the launcher and its icon.
    setDesktopFileName(QStringLiteral("example.tolvane.Tolvane"));
    setWindowIcon(ProgramIcon());
}

TApplication::~TApplication() = default;

TfrmMain &TApplication::CreateForms(const QString &appFolder)
{
    m_forms = std::make_unique<TApplicationForms>(appFolder);
    return m_forms->Main();
}

QIcon ProgramIcon()
{
    // The resources live in a static library, which does not register them itself.
    Q_INIT_RESOURCE(icons);
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/tolvane-%1.png").arg(size), QSize(size, size));
    return icon;
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ReportCurrentException();
        return false;
    }
}
