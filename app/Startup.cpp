#include "Startup.h"

#include "UnitCloseWindows.h"
#include "UnitMain.h"
#include "UnitSetting.h"
#include "Unit_common.h"

#include <QString>

void CreateApplicationForms(const QString &appFolder)
{
    frmCommon = new TfrmCommon(appFolder);
    new TfrmMain();
    new TfrmSetting(frmMain);
    new TfrmPowerOffWindows(frmMain);
}

void DestroyApplicationForms()
{
    delete frmPowerOffWindows;
    delete frmSetting;
    delete frmMain;
    delete frmCommon;
    frmCommon = nullptr;
}
