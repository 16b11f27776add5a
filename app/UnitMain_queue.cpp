#include "UnitMain.h"
#include "ui_UnitMain.h"

#include <QTableWidgetItem>

void TfrmMain::AddFile(const QString &path)
{
    const int row = ui->listViewFiles->rowCount();
    ui->listViewFiles->insertRow(row);
    ui->listViewFiles->setItem(row, 0, new QTableWidgetItem(path));
}

void TfrmMain::AddFolder(const QString &, bool, const QString &) {}

void TfrmMain::ActionFileAddExecute() {}
void TfrmMain::ActionFileBatchAddExecute() {}
void TfrmMain::ActionFileDeleteExecute() {}
void TfrmMain::ActionFileClearAllExecute() {}
void TfrmMain::ActionFileMoveUpExecute() {}
void TfrmMain::ActionFileMoveDownExecute() {}
void TfrmMain::ActionSetDirectoryExecute() {}
