#pragma once

#include "app/MainWindow.h"
#include "app/Startup.h"
#include "common/ErrorReport.h"
#include "common/PowerOff.h"
#include "support/ProgramFolder.h"

#include <QByteArray>
#include <QStandardPaths>
#include <QStringList>
#include <QTest>

#include <memory>
#include <utility>

// The program as main() starts it (frmCommon, then every window) on a
// throw-away program folder, with errors and power-off requests recorded
// instead of acted on, and Qt's standard folders kept apart from the user's.
// Write into folder() before start(); stop() ends it and the next start gets
// a fresh folder.
class ProgramFixture
{
public:
    QStringList errors;
    int powerOffs = 0;

    ProgramFixture()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_previousReporter = SetErrorReporter([this](const QString &text) { errors << text; });
        m_previousPowerOff = SetPowerOffHandler([this] { ++powerOffs; });
    }
    ~ProgramFixture()
    {
        stop();
        SetPowerOffHandler(m_previousPowerOff);
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
        m_forms = std::make_unique<TApplicationForms>(folder().path());
        if (show == Shown) {
            frmMain->show();
            if (!QTest::qWaitForWindowExposed(frmMain))
                qWarning("the main window was not exposed");
        }
    }

    // Returns the errors reported since the last stop, so that a cleanup can
    // check them after the windows are gone.
    QStringList stop()
    {
        m_forms.reset();
        m_folder.reset();
        powerOffs = 0;
        return std::exchange(errors, QStringList());
    }

private:
    std::unique_ptr<TestProgramFolder> m_folder;
    std::unique_ptr<TApplicationForms> m_forms;
    ErrorReporter m_previousReporter;
    PowerOffHandler m_previousPowerOff;
};
