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

void CreateApplicationForms(const QString &appFolder)
{
    frmCommon = new TfrmCommon(appFolder);
    new TfrmMain();
    // Errors with no active window show in front of the main window.
    InstallErrorBox(frmMain);
    new TfrmSetting(frmMain);
    new TfrmPowerOffWindows(frmMain);
    new TfrmOverWrite(frmMain);
    new TFrmBatchAdd(frmMain);
    new TFrmDirectory(frmMain);
    new TfrmSearchProgress(frmMain);
    // Batch add hands its folder to the main window's search.
    QObject::connect(FrmBatchAdd, &TFrmBatchAdd::AddFolderRequested, frmMain, &TfrmMain::AddFolder);
}

void DestroyApplicationForms()
{
    delete frmSearchProgress;
    delete FrmDirectory;
    delete FrmBatchAdd;
    delete frmOverWrite;
    delete frmPowerOffWindows;
    delete frmSetting;
    delete frmMain;
    delete frmCommon;
    frmCommon = nullptr;
}
