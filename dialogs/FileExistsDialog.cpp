#include "dialogs/FileExistsDialog.h"
#include "ui_FileExistsDialog.h"

#include "conversion/OutputNames.h"
#include "gui/DialogPlacement.h"

#include <QLabel>
#include <QShowEvent>

TfrmOverWrite *frmOverWrite = nullptr;

namespace {
constexpr int ClientWidth = 330;
constexpr int ClientHeight = 146;
}

TfrmOverWrite::TfrmOverWrite(QWidget *parent) : QDialog(parent), ui(new Ui::TfrmOverWrite)
{
    ui->setupUi(this);
    FixClientSize(this, ClientWidth, ClientHeight);
    setModal(true);

    connect(ui->buttonOverWrite, &QPushButton::clicked, this, &TfrmOverWrite::buttonOverWriteClick);
    connect(ui->buttonIgnore, &QPushButton::clicked, this, &TfrmOverWrite::buttonIgnoreClick);
    connect(ui->buttonAutoName, &QPushButton::clicked, this, &TfrmOverWrite::buttonAutoNameClick);
}

TfrmOverWrite::~TfrmOverWrite() { delete ui; }

void TfrmOverWrite::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        CentreOnOwner(this);
        ui->buttonAutoName->setFocus();
    }
}

void TfrmOverWrite::ShowFile(const QString &target)
{
    // The name says which file it is; the folder, cut short when long, where.
    const QString name = target.mid(target.lastIndexOf(QLatin1Char('/')) + 1);
    QLabel *label = ui->labelFileName;
    label->setText(label->fontMetrics().elidedText(name, Qt::ElideMiddle, label->width()));
    label->setToolTip(target);
}

void TfrmOverWrite::Answer(quint8 once, quint8 always)
{
    FChoice = ui->checkBoxNotice->isChecked() ? always : once;
    accept();
}

void TfrmOverWrite::done(int result)
{
    // Every way out but the three buttons ends here as a rejection; the
    // answer of an earlier showing must not decide about this file.
    if (result != QDialog::Accepted)
        FChoice = ocAsk;
    QDialog::done(result);
}

void TfrmOverWrite::buttonOverWriteClick() { Answer(ocOverwriteOnce, ocOverwriteAll); }
void TfrmOverWrite::buttonIgnoreClick() { Answer(ocAsk, ocSkipAll); }
void TfrmOverWrite::buttonAutoNameClick() { Answer(ocRenameOnce, ocRenameAll); }
