#include "app/FileQueueView.h"
#include "ui_MainWindow.h"

#include "app/ActionBinding.h"
#include "app/FileQueueModel.h"
#include "app/WindowTexts.h"
#include "common/ErrorReport.h"
#include "conversion/AudioTracks.h"
#include "conversion/EncoderOutput.h"
#include "conversion/FileQueue.h"
#include "conversion/MediaProbe.h"
#include "gui/CommonServices.h"

#include <QActionGroup>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QTableView>

#include <algorithm>

TFileQueueView::TFileQueueView(QWidget &window, Ui::TfrmMain &ui, const TWindowTexts &texts, TFileQueue &queue,
                               TMediaProbe &probe)
    : QObject(&window), m_window(window), ui(ui), m_texts(texts), m_queue(queue), m_probe(probe)
{
    SetupTable();
    SetupRowMenu();
    SetupColumns();
}

void TFileQueueView::SetupTable()
{
    m_model = new TFileQueueModel(m_queue, this);
    m_model->SetCheckingText(m_texts.msgStateChecking);
    ui.listViewFiles->setModel(m_model);
    // A long path loses its middle, so the file's own name stays in sight.
    ui.listViewFiles->setTextElideMode(Qt::ElideMiddle);
    // Rows never change height; a fixed header keeps a long queue cheap to lay
    // out. One line of text each, as in a list view, so more files are in sight.
    QHeaderView *rows = ui.listViewFiles->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(ui.listViewFiles->fontMetrics().height() + 4);
}

void TFileQueueView::SetupRowMenu()
{
    m_rowMenu = new QMenu(&m_window);
    m_rowMenu->setObjectName(QStringLiteral("PopupMenu"));
    const auto addProxy = [this](const char *name, QAction *action) {
        QAction *proxy = m_rowMenu->addAction(QString());
        proxy->setObjectName(QString::fromLatin1(name));
        BindProxyToAction(proxy, action);
    };
    addProxy("popMenu1", ui.ActionFileAdd);
    addProxy("popMenu2", ui.ActionFileBatchAdd);
    addProxy("popMenu3", ui.ActionFileDelete);
    addProxy("popMenu4", ui.ActionFileClearAll);
    m_rowMenu->addSeparator()->setObjectName(QStringLiteral("popMenu5"));
    addProxy("popMenu6", ui.ActionFileMoveUp);
    addProxy("popMenu7", ui.ActionFileMoveDown);
    m_rowMenu->addSeparator()->setObjectName(QStringLiteral("popMenu8"));
    m_audioTrackMenu = m_rowMenu->addMenu(QString());
    m_audioTrackMenu->setObjectName(QStringLiteral("popMenuAudioTrack"));
    m_audioTrackGroup = new QActionGroup(m_audioTrackMenu);
    m_automaticTrackItem = m_audioTrackMenu->addAction(QString());
    m_automaticTrackItem->setObjectName(QStringLiteral("popMenuAudioTrackAutomatic"));
    m_automaticTrackItem->setCheckable(true);
    m_audioTrackGroup->addAction(m_automaticTrackItem);
    m_showInFolderItem = m_rowMenu->addAction(m_texts.msgShowInFolder);
    m_showInFolderItem->setObjectName(QStringLiteral("popMenuShowInFolder"));
    connect(m_showInFolderItem, &QAction::triggered, this, &TFileQueueView::ShowSelectedInFolder);

    connect(ui.listViewFiles, &QWidget::customContextMenuRequested, this, &TFileQueueView::ShowRowMenu);
    connect(m_audioTrackMenu, &QMenu::aboutToShow, this, &TFileQueueView::FillAudioTrackMenu);
    connect(m_audioTrackMenu, &QMenu::triggered, this, &TFileQueueView::AudioTrackChosen);
    // The tracks of a file whose probe answers while its menu is open are shown at once.
    connect(&m_queue, &TFileQueue::Changed, this, [this](int row) {
        if (m_audioTrackMenu->isVisible() && row == SelectedRow())
            FillAudioTrackMenu();
    });
}

// The source's path takes what room there is; its length and its state in a
// run stand narrow beside it.
void TFileQueueView::SetupColumns()
{
    QHeaderView *header = ui.listViewFiles->horizontalHeader();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(TFileQueueModel::FileColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(TFileQueueModel::LengthColumn, QHeaderView::Fixed);
    header->setSectionResizeMode(TFileQueueModel::StateColumn, QHeaderView::Fixed);
    ShowTexts();
}

void TFileQueueView::ShowTexts()
{
    // A chosen track's tool tip is worded with the menu's title.
    const TWindowTexts &t = m_texts;
    m_model->SetTexts({t.msgColumnFile, t.msgColumnLength, t.msgColumnState, t.msgStateWaiting, t.msgStateConverting,
                       t.msgStateDone, t.msgStateSkipped, t.msgStateFailed, t.msgStateStopped, t.msgStateIncomplete,
                       m_audioTrackMenu->title(), t.msgStateChapter, t.msgOutputTip});
    m_model->SetCheckingText(t.msgStateChecking);
    m_showInFolderItem->setText(t.msgShowInFolder);
    const QFontMetrics metrics = ui.listViewFiles->fontMetrics();
    ui.listViewFiles->horizontalHeader()->resizeSection(
        TFileQueueModel::LengthColumn,
        std::max(metrics.horizontalAdvance(t.msgColumnLength), metrics.horizontalAdvance(QStringLiteral("00:00:00")))
            + 16);
    FitStateColumn(false);
}

void TFileQueueView::FitStateColumn(bool chapters)
{
    const TWindowTexts &t = m_texts;
    QStringList texts{t.msgColumnState,     QStringLiteral("100%"), t.msgStateWaiting,
                      t.msgStateConverting, t.msgStateDone,         t.msgStateSkipped,
                      t.msgStateFailed,     t.msgStateStopped,      t.msgStateIncomplete};
    if (chapters)
        texts << FormatText(t.msgStateChapter, {QStringLiteral("12"), QStringLiteral("12")})
                     + QStringLiteral(" \u00B7 100%");
    const QFontMetrics metrics = ui.listViewFiles->fontMetrics();
    int width = 0;
    for (const QString &text : texts)
        width = std::max(width, metrics.horizontalAdvance(text));
    ui.listViewFiles->horizontalHeader()->resizeSection(TFileQueueModel::StateColumn, width + 16);
}

void TFileQueueView::ShowRowMenu(const QPoint &pos)
{
    // A track is chosen for one file, and not while a run is going.
    m_audioTrackMenu->menuAction()->setEnabled(ui.listViewFiles->isEnabled() && SelectedRows().size() == 1);
    // Only a file converted has a folder to show.
    const int row = SelectedRows().size() == 1 ? SelectedRow() : -1;
    m_showInFolderItem->setVisible(row >= 0 && m_queue.At(row).State == TItemState::Done
                                   && !m_queue.At(row).Outputs.isEmpty());
    m_rowMenu->popup(ui.listViewFiles->viewport()->mapToGlobal(pos));
}

void TFileQueueView::ShowSelectedInFolder()
{
    const int row = SelectedRow();
    if (row < 0 || m_queue.At(row).Outputs.isEmpty())
        return;
    ShellOpen(QFileInfo(m_queue.At(row).Outputs.first()).absolutePath());
}

void TFileQueueView::FillAudioTrackMenu()
{
    // Everything below Automatic is the last file's; it is listed afresh.
    for (QAction *item : m_audioTrackMenu->actions())
        if (item != m_automaticTrackItem)
            delete item;
    const int row = SelectedRow();
    const int chosen = AudioTrackOfRow(row);
    m_automaticTrackItem->setChecked(chosen < 0);
    if (row < 0)
        return;

    m_audioTrackMenu->addSeparator();
    const TQueueItem &file = m_queue.At(row);
    if (!file.Facts.Known) {
        // The probe has not answered yet: the menu fills when it does.
        m_probe.Hurry(file.Source);
        m_audioTrackMenu->addAction(QStringLiteral("\u2026"))->setEnabled(false);
        return;
    }
    if (file.Facts.Tracks.isEmpty()) {
        m_audioTrackMenu->addAction(m_texts.msgNoAudioTracks)->setEnabled(false);
        return;
    }
    for (const TAudioTrack &track : file.Facts.Tracks) {
        QAction *item = m_audioTrackMenu->addAction(TrackCaption(track));
        item->setCheckable(true);
        item->setChecked(track.Index == chosen);
        item->setData(track.Index);
        m_audioTrackGroup->addAction(item);
    }
}

void TFileQueueView::AudioTrackChosen(QAction *item)
{
    const int row = SelectedRow();
    if (row < 0)
        return;
    if (item == m_automaticTrackItem)
        m_queue.SetAudioTrack(row, -1, QString());
    else if (item->data().isValid())
        m_queue.SetAudioTrack(row, item->data().toInt(), item->text());
}

int TFileQueueView::AudioTrackOfRow(int row) const
{
    return row >= 0 && row < m_queue.Count() ? m_queue.At(row).AudioTrack : -1;
}

QString TFileQueueView::SourceOfRow(int row) const
{
    if (row < 0 || row >= m_queue.Count())
        return QString();
    // A stand-in link's path means nothing to the user: the file's own name does.
    const TQueueItem &item = m_queue.At(row);
    return item.Shown.isEmpty() ? item.Source : item.Shown;
}

QList<int> TFileQueueView::SelectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &index : ui.listViewFiles->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

int TFileQueueView::SelectedRow() const
{
    const QList<int> rows = SelectedRows();
    return rows.isEmpty() ? -1 : rows.first();
}

void TFileQueueView::DeleteSelected()
{
    const QList<int> rows = SelectedRows();
    if (rows.isEmpty())
        return;
    m_queue.Remove(rows);
    ui.listViewFiles->clearSelection();
}

void TFileQueueView::ClearAll()
{
    if (m_queue.Count() == 0)
        return;
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), m_texts.msgClearAll, QMessageBox::Ok | QMessageBox::Cancel,
                    &m_window);
    box.setObjectName(QStringLiteral("msgClearAllBox"));
    if (box.exec() == QMessageBox::Ok)
        m_queue.Clear();
}

void TFileQueueView::MoveSelectedUp()
{
    const int row = SelectedRow();
    if (row > 0)
        SwapRows(row, row - 1);
}

void TFileQueueView::MoveSelectedDown()
{
    const int row = SelectedRow();
    if (row >= 0 && row + 1 < m_queue.Count())
        SwapRows(row, row + 1);
}

// Moves the selected file from row `from` to row `to`; selection and focus go
// with it, and so does what the queue keeps of it (the chosen audio track).
void TFileQueueView::SwapRows(int from, int to)
{
    m_queue.Swap(from, to);
    // A moved row's state belonged to the last run's order.
    m_queue.SetState(from, TItemState::Idle);
    m_queue.SetState(to, TItemState::Idle);
    QTableView *list = ui.listViewFiles;
    const QModelIndex moved = m_model->index(to, 0);
    list->selectionModel()->setCurrentIndex(moved, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list->scrollTo(moved);
}
