#include "dialogs/DirectoryChooser.h"
#include "ui_DirectoryChooser.h"

#include "dialogs/FolderTree.h"
#include "gui/DialogPlacement.h"

#include <QKeyEvent>
#include <QShowEvent>

TFrmDirectory *FrmDirectory = nullptr;

namespace {
constexpr int ClientWidth = 401;
constexpr int ClientHeight = 306;
}

TFrmDirectory::TFrmDirectory(QWidget *parent) : QDialog(parent), ui(new Ui::TFrmDirectory)
{
    ui->setupUi(this);
    FixClientSize(this, ClientWidth, ClientHeight);
    m_tree = new TFolderTree(ui->ShellTreeView1);

    connect(ui->ButtonOK, &QPushButton::clicked, this, &TFrmDirectory::ButtonOKClick);
    connect(ui->ButtonCancel, &QPushButton::clicked, this, &TFrmDirectory::ButtonCancelClick);
}

TFrmDirectory::~TFrmDirectory() { delete ui; }

void TFrmDirectory::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        CentreOnOwner(this);
        m_tree->ShowFolder(currentFolder);
    }
    QDialog::showEvent(event);
    m_tree->ScrollToSelected();
}

void TFrmDirectory::keyPressEvent(QKeyEvent *event)
{
    // Escape is the Cancel button, which also forgets the last choice; the
    // title bar's close only ends the dialog.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        ui->ButtonCancel->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TFrmDirectory::ButtonOKClick()
{
    chosenFolder = m_tree->SelectedPath();
    accept();
}

void TFrmDirectory::ButtonCancelClick()
{
    chosenFolder.clear();
    reject();
}
