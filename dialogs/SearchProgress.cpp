#include "dialogs/SearchProgress.h"

#include "gui/DialogPlacement.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TfrmSearchProgress *frmSearchProgress = nullptr;
int TfrmSearchProgress::ShowAfterMs = 400;

TfrmSearchProgress::TfrmSearchProgress(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmSearchProgress"));
    setWindowTitle(QStringLiteral("Searching"));
    setModal(false);

    auto *searching = new QLabel(QStringLiteral("Searching the folder for video files..."), this);
    searching->setObjectName(QStringLiteral("labelSearching"));
    auto *found = new QLabel(QStringLiteral("Video files found:"), this);
    found->setObjectName(QStringLiteral("labelFound"));
    m_count = new QLabel(QStringLiteral("0"), this);
    m_count->setObjectName(QStringLiteral("labelFoundCount"));
    m_count->setMinimumWidth(m_count->fontMetrics().horizontalAdvance(QStringLiteral("0000000")));
    m_cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("buttonCancel"));

    auto *countRow = new QHBoxLayout;
    countRow->addWidget(found);
    countRow->addWidget(m_count);
    countRow->addStretch();
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(m_cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(searching);
    layout->addLayout(countRow);
    layout->addLayout(buttonRow);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_cancel, &QPushButton::clicked, this, &TfrmSearchProgress::buttonCancelClick);
}

void TfrmSearchProgress::Begin()
{
    if (m_depth++ > 0)
        return;
    m_found = 0;
    m_cancelled = false;
    m_count->setText(QStringLiteral("0"));
    m_running.start();
}

void TfrmSearchProgress::End()
{
    if (m_depth > 0 && --m_depth == 0)
        hide();
}

void TfrmSearchProgress::Found() { ++m_found; }

void TfrmSearchProgress::ShowProgress()
{
    m_count->setText(QString::number(m_found));
    if (!m_cancelled && !isVisible() && m_running.isValid() && m_running.elapsed() >= ShowAfterMs) {
        adjustSize();
        CentreOnOwner(this);
        show();
    }
}

void TfrmSearchProgress::buttonCancelClick()
{
    m_cancelled = true;
    hide();
}

void TfrmSearchProgress::reject()
{
    // Escape and the title bar's close are Cancel too.
    m_cancelled = true;
    QDialog::reject();
}
