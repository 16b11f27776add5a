#include "UnitMain.h"
#include "ui_UnitMain.h"

#include "UnitSetting.h"

void TfrmMain::N_SettingClick()
{
    // Modeless: a second click only brings the open dialog to the front.
    if (!frmSetting->isVisible())
        frmSetting->show();
    frmSetting->raise();
    frmSetting->activateWindow();
}
