#include "Startup.h"

#include "UnitCloseWindows.h"
#include "UnitMain.h"
#include "UnitOverWrite.h"
#include "UnitSetting.h"
#include "Unit_batch.h"
#include "Unit_common_directory.h"
#include "Unit_common.h"
#include "SearchProgress.h"

#include <QString>

void CreateApplicationForms(const QString &appFolder)
{
    frmCommon = new TfrmCommon(appFolder);
    new TfrmMain();
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
