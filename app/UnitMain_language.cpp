#include "UnitMain.h"
#include "ui_UnitMain.h"

void TfrmMain::LoadLanguage(const QString &) {}

void TfrmMain::ApplyJapaneseCharset()
{
    ui->N_Tools->menuAction()->setVisible(false);
}
