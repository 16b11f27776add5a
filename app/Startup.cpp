#include "Startup.h"

#include "UnitMain.h"
#include "Unit_common.h"

#include <QString>

void CreateApplicationForms(const QString &appFolder)
{
    frmCommon = new TfrmCommon(appFolder);
    new TfrmMain();
}

void DestroyApplicationForms()
{
    delete frmMain;
    delete frmCommon;
    frmCommon = nullptr;
}
