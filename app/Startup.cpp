#include "app/Startup.h"

#include "app/MainWindow.h"
#include "dialogs/BatchAddDialog.h"
#include "dialogs/DirectoryChooser.h"
#include "dialogs/FileExistsDialog.h"
#include "dialogs/PowerOffCountdown.h"
#include "dialogs/SearchProgress.h"
#include "dialogs/SettingsDialog.h"
#include "gui/CommonServices.h"
#include "gui/ErrorBox.h"

#include <QString>

namespace {
// Makes a window and publishes it under its name before the next one is
// made: a later window's constructor may look an earlier one up.
template <typename Form, typename... Args> void make(std::unique_ptr<Form> &owner, Form *&name, Args &&...args)
{
    owner = std::make_unique<Form>(std::forward<Args>(args)...);
    name = owner.get();
}
}

TApplicationForms::TApplicationForms(const QString &appFolder)
{
    make(m_common, frmCommon, appFolder);
    make(m_main, frmMain);
    // Errors with no active window show in front of the main window.
    InstallErrorBox(frmMain);
    make(m_setting, frmSetting, frmMain);
    make(m_powerOff, frmPowerOffWindows, frmMain);
    make(m_overWrite, frmOverWrite, frmMain);
    make(m_batchAdd, FrmBatchAdd, frmMain);
    make(m_directory, FrmDirectory, frmMain);
    make(m_searchProgress, frmSearchProgress, frmMain);
    // Batch add hands its folder to the main window's search.
    QObject::connect(FrmBatchAdd, &TFrmBatchAdd::AddFolderRequested, frmMain, &TfrmMain::AddFolder);
}

TApplicationForms::~TApplicationForms()
{
    // The dialogs are the main window's children: they go first, so the main
    // window does not delete them a second time.
    frmSearchProgress = nullptr;
    m_searchProgress.reset();
    FrmDirectory = nullptr;
    m_directory.reset();
    FrmBatchAdd = nullptr;
    m_batchAdd.reset();
    frmOverWrite = nullptr;
    m_overWrite.reset();
    frmPowerOffWindows = nullptr;
    m_powerOff.reset();
    frmSetting = nullptr;
    m_setting.reset();
    frmMain = nullptr;
    m_main.reset();
    frmCommon = nullptr;
    m_common.reset();
}
