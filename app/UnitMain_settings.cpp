#include "UnitMain.h"
#include "ui_UnitMain.h"

void TfrmMain::N_SettingClick() {}
