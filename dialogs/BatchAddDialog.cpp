#include "dialogs/BatchAddDialog.h"
#include "ui_BatchAddDialog.h"

#include "dialogs/FolderTree.h"
#include "gui/DialogPlacement.h"

#include <QKeyEvent>
#include <QShowEvent>

TFrmBatchAdd *FrmBatchAdd = nullptr;

namespace {
constexpr int ClientWidth = 402;
constexpr int ClientHeight = 271;
}

QString TrimBlanksAndControls(const QString &text)
{
    qsizetype first = 0, last = text.size();
    while (first < last && text[first].unicode() <= ' ')
        ++first;
    while (last > first && text[last - 1].unicode() <= ' ')
        --last;
    return text.mid(first, last - first);
}

TFrmBatchAdd::TFrmBatchAdd(QWidget *parent) : QDialog(parent), ui(new Ui::TFrmBatchAdd)
{
    ui->setupUi(this);
    FixClientSize(this, ClientWidth, ClientHeight);
    m_tree = new TFolderTree(ui->ShellTreeView);

    connect(ui->buttonOK, &QPushButton::clicked, this, &TFrmBatchAdd::buttonOKClick);
    connect(ui->buttonCancel, &QPushButton::clicked, this, &TFrmBatchAdd::buttonCancelClick);
}

TFrmBatchAdd::~TFrmBatchAdd() { delete ui; }

void TFrmBatchAdd::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        CentreOnOwner(this);
        // The first showing opens where the last add was; later ones where the user left off.
        QString folder = m_tree->SelectedPath();
        if (folder.isEmpty())
            folder = StartFolder.isEmpty() ? VideosOrHomeFolder() : StartFolder;
        m_tree->ShowFolder(folder);
    }
    QDialog::showEvent(event);
    m_tree->ScrollToSelected();
}

void TFrmBatchAdd::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        ui->buttonCancel->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TFrmBatchAdd::buttonOKClick()
{
    const QString folder = m_tree->SelectedPath();
    // Hidden first, so the rows can be seen arriving in the main window.
    hide();
    if (folder.isEmpty())
        return;
    const QString extension = TrimBlanksAndControls(ui->editExt->text());
    const bool includeSubfolders = ui->checkBoxIsSubDirectorie->isChecked();
    emit AddFolderRequested(folder, includeSubfolders, extension);
}

void TFrmBatchAdd::buttonCancelClick() { hide(); }
