#pragma once

#include "ErrorReport.h"
#include "ProgramFolder.h"
#include "Startup.h"
#include "UnitMain.h"

#include <QByteArray>
#include <QStringList>
#include <QTest>

#include <memory>

// The program as main() starts it (frmCommon, then every window) on a
// throw-away program folder, with errors recorded instead of shown. Write
// into folder() before start(); stop() ends it and the next start gets a
// fresh folder.
class ProgramFixture
{
public:
    QStringList errors;

    ProgramFixture()
    {
        m_previousReporter = SetErrorReporter([this](const QString &text) { errors << text; });
    }
    ~ProgramFixture()
    {
        stop();
        SetErrorReporter(m_previousReporter);
    }
    ProgramFixture(const ProgramFixture &) = delete;
    ProgramFixture &operator=(const ProgramFixture &) = delete;

    TestProgramFolder &folder()
    {
        if (!m_folder)
            m_folder = std::make_unique<TestProgramFolder>();
        return *m_folder;
    }

    enum Show { Hidden, Shown };

    void start(const QByteArray &config = QByteArray(), Show show = Shown)
    {
        if (!config.isEmpty())
            folder().writeConfig(config);
        CreateApplicationForms(folder().path());
        if (show == Shown) {
            frmMain->show();
            if (!QTest::qWaitForWindowExposed(frmMain))
                qWarning("the main window was not exposed");
        }
    }

    void stop()
    {
        if (frmMain)
            DestroyApplicationForms();
        m_folder.reset();
        errors.clear();
    }

private:
    std::unique_ptr<TestProgramFolder> m_folder;
    ErrorReporter m_previousReporter;
};
