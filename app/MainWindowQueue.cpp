#include "app/MainWindow.h"
#include "ui_MainWindow.h"

#include "app/ActionBinding.h"
#include "app/FileQueueRules.h"
#include "common/ErrorReport.h"
#include "conversion/AudioTracks.h"
#include "dialogs/BatchAddDialog.h"
#include "dialogs/DirectoryChooser.h"
#include "dialogs/SearchProgress.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QTableWidgetItem>

TfrmMain::TOpenDialogRunner TfrmMain::OpenDialogRunner;
int TfrmMain::SearchYieldIntervalMs = 10;

namespace {
// Where a row's first item keeps the audio track chosen for it: its index
// among the file's audio tracks (absent for Automatic), its menu caption and
// the path it was chosen for.
constexpr int AudioTrackRole = Qt::UserRole + 1;
constexpr int AudioTrackCaptionRole = Qt::UserRole + 2;
constexpr int AudioTrackSourceRole = Qt::UserRole + 3;
// A probe reads headers only; the bound is for a file on a hung drive.
constexpr int MenuProbeTimeoutMs = 5000;
}

void TfrmMain::SetupFileQueue()
{
    // Rows never change height; a fixed header keeps a long queue cheap to lay
    // out. One line of text each, as in a list view, so more files are in sight.
    QHeaderView *rows = ui->listViewFiles->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(ui->listViewFiles->fontMetrics().height() + 4);

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    const auto addProxy = [this](const char *name, QAction *action) {
        QAction *proxy = PopupMenu->addAction(QString());
        proxy->setObjectName(QString::fromLatin1(name));
        BindProxyToAction(proxy, action);
    };
    addProxy("popMenu1", ui->ActionFileAdd);
    addProxy("popMenu2", ui->ActionFileBatchAdd);
    addProxy("popMenu3", ui->ActionFileDelete);
    addProxy("popMenu4", ui->ActionFileClearAll);
    PopupMenu->addSeparator()->setObjectName(QStringLiteral("popMenu5"));
    addProxy("popMenu6", ui->ActionFileMoveUp);
    addProxy("popMenu7", ui->ActionFileMoveDown);
    PopupMenu->addSeparator()->setObjectName(QStringLiteral("popMenu8"));
    AudioTrackMenu = PopupMenu->addMenu(QString());
    AudioTrackMenu->setObjectName(QStringLiteral("popMenuAudioTrack"));
    AudioTrackGroup = new QActionGroup(AudioTrackMenu);
    AutomaticTrackItem = AudioTrackMenu->addAction(QString());
    AutomaticTrackItem->setObjectName(QStringLiteral("popMenuAudioTrackAutomatic"));
    AutomaticTrackItem->setCheckable(true);
    AudioTrackGroup->addAction(AutomaticTrackItem);

    connect(ui->listViewFiles, &QWidget::customContextMenuRequested, this, &TfrmMain::listViewFilesContextPopup);
    connect(AudioTrackMenu, &QMenu::aboutToShow, this, &TfrmMain::FillAudioTrackMenu);
    connect(AudioTrackMenu, &QMenu::triggered, this, &TfrmMain::AudioTrackChosen);
    // A track belongs to its file: editing the row's path gives Automatic back.
    connect(ui->listViewFiles, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        if (item->column() == 0)
            ShowRowAudioTrack(item->row());
    });
}

void TfrmMain::listViewFilesContextPopup(const QPoint &pos)
{
    // A track is chosen for one file, and not while a run is going.
    AudioTrackMenu->menuAction()->setEnabled(ui->listViewFiles->isEnabled() && SelectedRow() >= 0);
    PopupMenu->popup(ui->listViewFiles->viewport()->mapToGlobal(pos));
}

void TfrmMain::FillAudioTrackMenu()
{
    // Everything below Automatic is the last file's; it is listed afresh.
    for (QAction *item : AudioTrackMenu->actions())
        if (item != AutomaticTrackItem)
            delete item;
    const int row = SelectedRow();
    const int chosen = AudioTrackOfRow(row);
    AutomaticTrackItem->setChecked(chosen < 0);
    if (row < 0)
        return;

    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const QList<TAudioTrack> tracks = ProbeAudioTracks(EncoderFolder(), SourceOfRow(row), MenuProbeTimeoutMs);
    QGuiApplication::restoreOverrideCursor();

    AudioTrackMenu->addSeparator();
    if (tracks.isEmpty()) {
        AudioTrackMenu->addAction(msgNoAudioTracks)->setEnabled(false);
        return;
    }
    for (const TAudioTrack &track : tracks) {
        QAction *item = AudioTrackMenu->addAction(TrackCaption(track));
        item->setCheckable(true);
        item->setChecked(track.Index == chosen);
        item->setData(track.Index);
        AudioTrackGroup->addAction(item);
    }
}

void TfrmMain::AudioTrackChosen(QAction *item)
{
    const int row = SelectedRow();
    if (row < 0)
        return;
    if (item == AutomaticTrackItem)
        SetRowAudioTrack(row, -1, QString());
    else if (item->data().isValid())
        SetRowAudioTrack(row, item->data().toInt(), item->text());
}

void TfrmMain::SetRowAudioTrack(int row, int track, const QString &caption)
{
    QTableWidgetItem *item = ui->listViewFiles->item(row, 0);
    if (!item)
        return;
    // Every write reports a change, which checks the path: the track goes in
    // last and out first, so that it is never seen without its path.
    if (track < 0)
        item->setData(AudioTrackRole, QVariant());
    item->setData(AudioTrackCaptionRole, track >= 0 ? QVariant(caption) : QVariant());
    item->setData(AudioTrackSourceRole, track >= 0 ? QVariant(item->text()) : QVariant());
    if (track >= 0)
        item->setData(AudioTrackRole, track);
    ShowRowAudioTrack(row);
}

// The row's tool tip names the chosen track; Automatic shows none.
void TfrmMain::ShowRowAudioTrack(int row)
{
    QTableWidgetItem *item = ui->listViewFiles->item(row, 0);
    if (!item)
        return;
    if (item->data(AudioTrackRole).isValid() && item->text() != item->data(AudioTrackSourceRole).toString())
        return SetRowAudioTrack(row, -1, QString());
    const QString caption = item->data(AudioTrackCaptionRole).toString();
    const QString toolTip =
        item->data(AudioTrackRole).isValid()
            ? item->text() + QLatin1Char('\n') + AudioTrackMenu->title() + QLatin1Char(' ') + caption
            : QString();
    if (item->toolTip() != toolTip)
        item->setToolTip(toolTip);
}

int TfrmMain::AudioTrackOfRow(int row) const
{
    const QTableWidgetItem *item = row >= 0 ? ui->listViewFiles->item(row, 0) : nullptr;
    const QVariant track = item ? item->data(AudioTrackRole) : QVariant();
    return track.isValid() ? track.toInt() : -1;
}

bool TfrmMain::AddFile(const QString &path)
{
    if (!IsAcceptedVideoPath(path))
        return false;
    // The view repaints on its own once the event loop runs; forcing a paint
    // per row would make long folder searches crawl.
    QTableWidget *list = ui->listViewFiles;
    const int row = list->rowCount();
    list->setRowCount(row + 1);
    list->setItem(row, 0, new QTableWidgetItem(path));
    return true;
}

void TfrmMain::AddFolder(const QString &folder, bool includeSubfolders, const QString &extension)
{
    SearchFolder(folder, includeSubfolders, extension);
}

bool TfrmMain::SearchFolder(const QString &folder, bool includeSubfolders, const QString &extension)
{
    // The search lets the window handle its events after every entry, so the
    // user can work meanwhile; closing the shown window or the progress box's
    // Cancel ends the search, and what it found so far stays.
    const bool shownAtStart = isVisible();
    QElapsedTimer sinceYield;
    sinceYield.start();
    if (frmSearchProgress)
        frmSearchProgress->Begin();
    TFolderSearch search;
    search.addEntry = [this](const QString &path) {
        if (AddFile(path) && frmSearchProgress)
            frmSearchProgress->Found();
    };
    search.keepGoing = [this, shownAtStart, &sinceYield] {
        if (sinceYield.elapsed() < SearchYieldIntervalMs)
            return true;
        if (frmSearchProgress)
            frmSearchProgress->ShowProgress();
        QCoreApplication::processEvents();
        sinceYield.restart();
        if (frmSearchProgress && frmSearchProgress->Cancelled())
            return false;
        return !shownAtStart || isVisible();
    };
    const bool complete = search.Run(folder, includeSubfolders, extension);
    if (frmSearchProgress)
        frmSearchProgress->End();
    return complete;
}

void TfrmMain::AddPaths(const QStringList &paths)
{
    // A folder is searched as batch add does with subfolders and every
    // extension; a cancelled search ends the whole list.
    for (const QString &path : paths) {
        if (QFileInfo(path).isDir()) {
            if (!SearchFolder(path, true, QStringLiteral("*")))
                return;
        } else {
            AddFile(path);
        }
    }
}

void TfrmMain::ActionFileAddExecute()
{
    if (!OpenDialog) {
        OpenDialog = new QFileDialog(this);
        OpenDialog->setObjectName(QStringLiteral("OpenDialog"));
        OpenDialog->setFileMode(QFileDialog::ExistingFiles);
        OpenDialog->setOption(QFileDialog::HideNameFilterDetails);
        // Set once: the dialog then opens with the filter chosen last time.
        OpenDialog->setNameFilters(OpenDialogNameFilters(OpenDialogFilterTexts));
    }
    OpenDialog->setWindowTitle(OpenDialogCaption);
    OpenDialog->selectFile(QString());

    QStringList files;
    if (OpenDialogRunner)
        files = OpenDialogRunner(*OpenDialog);
    else if (OpenDialog->exec() == QDialog::Accepted)
        files = OpenDialog->selectedFiles();
    for (const QString &file : files) {
        if (file.isEmpty())
            break;
        AddFile(file);
    }
}

void TfrmMain::ActionFileBatchAddExecute()
{
    if (!FrmBatchAdd)
        return;
    FrmBatchAdd->show();
    FrmBatchAdd->raise();
    FrmBatchAdd->activateWindow();
}

int TfrmMain::SelectedRow() const
{
    const QModelIndexList rows = ui->listViewFiles->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TfrmMain::ActionFileDeleteExecute() { DeleteSelectedFile(); }

void TfrmMain::DeleteSelectedFile()
{
    const int row = SelectedRow();
    if (row < 0)
        return;
    ui->listViewFiles->removeRow(row);
    ui->listViewFiles->clearSelection();
}

void TfrmMain::ActionFileClearAllExecute()
{
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), msgClearAll, QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("msgClearAllBox"));
    if (box.exec() == QMessageBox::Ok)
        ui->listViewFiles->setRowCount(0);
}

void TfrmMain::ActionFileMoveUpExecute() { MoveSelectedUp(); }

void TfrmMain::ActionFileMoveDownExecute() { MoveSelectedDown(); }

void TfrmMain::MoveSelectedUp()
{
    const int row = SelectedRow();
    if (row > 0)
        SwapRows(row, row - 1);
}

void TfrmMain::MoveSelectedDown()
{
    const int row = SelectedRow();
    if (row >= 0 && row + 1 < ui->listViewFiles->rowCount())
        SwapRows(row, row + 1);
}

// Moves the selected file from row `from` to row `to`; selection and focus go
// with it, and so does what its item keeps (the chosen audio track).
void TfrmMain::SwapRows(int from, int to)
{
    QTableWidget *list = ui->listViewFiles;
    QTableWidgetItem *moving = list->takeItem(from, 0);
    QTableWidgetItem *other = list->takeItem(to, 0);
    list->setItem(from, 0, other ? other : new QTableWidgetItem);
    list->setItem(to, 0, moving ? moving : new QTableWidgetItem);
    // A moved row's state belonged to the last run's order.
    SetRowState(from, QString());
    SetRowState(to, QString());
    list->setCurrentCell(to, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list->scrollToItem(list->item(to, 0));
}

void TfrmMain::ActionSetDirectoryExecute()
{
    if (!FrmDirectory)
        return;
    FrmDirectory->currentFolder = ui->editOutputFolder->text();
    if (FrmDirectory->exec() == QDialog::Accepted)
        ui->editOutputFolder->setText(FrmDirectory->chosenFolder);
}
