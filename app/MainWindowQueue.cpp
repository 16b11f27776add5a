#include "app/MainWindow.h"
#include "ui_MainWindow.h"

#include "app/ActionBinding.h"
#include "app/FileQueueModel.h"
#include "common/ErrorReport.h"
#include "common/Settings.h"
#include "conversion/AudioTracks.h"
#include "conversion/FileQueue.h"
#include "conversion/FileQueueRules.h"
#include "conversion/MediaProbe.h"
#include "conversion/SourcePaths.h"
#include "dialogs/BatchAddDialog.h"
#include "dialogs/DirectoryChooser.h"
#include "dialogs/FolderTree.h"
#include "dialogs/SearchProgress.h"
#include "gui/CommonServices.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTableView>

TfrmMain::TOpenDialogRunner TfrmMain::OpenDialogRunner;

const std::vector<TRunTextKey> &QueueTextKeys()
{
    static const std::vector<TRunTextKey> keys{
        {"msgNotAdded", &TfrmMain::msgNotAdded, "These files were not added:"},
        {"msgNotAddedMore", &TfrmMain::msgNotAddedMore, "... and %s more"},
        {"msgReasonNoSound", &TfrmMain::msgReasonNoSound, "no sound track"},
        {"msgReasonNotMedia", &TfrmMain::msgReasonNotMedia, "not a video or sound file"},
        {"msgReasonInList", &TfrmMain::msgReasonInList, "already in the list"},
        {"msgReasonNotAFile", &TfrmMain::msgReasonNotAFile, "not a file"},
        {"msgStateChecking", &TfrmMain::msgStateChecking, "Checking"},
    };
    return keys;
}
int TfrmMain::SearchYieldIntervalMs = 10;

void TfrmMain::SetupFileQueue()
{
    // English until a language file replaces them.
    for (const TRunTextKey &text : QueueTextKeys())
        this->*text.text = QString::fromUtf8(text.english);
    Probe = new TMediaProbe(frmCommon ? frmCommon->AppFolder : QString(), this);
    Queue = new TFileQueue(this);
    Queue->setObjectName(QStringLiteral("Queue"));
    Queue->SetProbe(Probe);
    SourceLinks = std::make_unique<TSourceLinks>();
    connect(Queue, &TFileQueue::NoSound, this, [this](quint64 id, const QString &shown, bool readable) {
        NotAdded.append(
            {QFileInfo(shown).fileName(), readable ? TNotAdded::NoSound : TNotAdded::NotMedia, TrialOrder.take(id)});
    });
    // A file on trial leaves the trial when its probe answers or the user takes it out.
    for (auto change : {&TFileQueue::Removed, &TFileQueue::Cleared})
        connect(Queue, change, this, &TfrmMain::TellNotAdded);
    connect(Queue, &TFileQueue::Changed, this, [this] {
        if (!OnTrial.isEmpty())
            TellNotAdded();
    });
    QueueModel = new TFileQueueModel(*Queue, this);
    QueueModel->SetCheckingText(msgStateChecking);
    ui->listViewFiles->setModel(QueueModel);
    // A long path loses its middle, so the file's own name stays in sight.
    ui->listViewFiles->setTextElideMode(Qt::ElideMiddle);
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
    ShowInFolderItem = PopupMenu->addAction(msgShowInFolder);
    ShowInFolderItem->setObjectName(QStringLiteral("popMenuShowInFolder"));
    connect(ShowInFolderItem, &QAction::triggered, this, &TfrmMain::ShowSelectedInFolder);
    QueueModel->SetEditCheck([this](int row, const QString &path) { return AcceptEditedPath(row, path); });

    connect(ui->listViewFiles, &QWidget::customContextMenuRequested, this, &TfrmMain::listViewFilesContextPopup);
    connect(AudioTrackMenu, &QMenu::aboutToShow, this, &TfrmMain::FillAudioTrackMenu);
    connect(AudioTrackMenu, &QMenu::triggered, this, &TfrmMain::AudioTrackChosen);
    // The tracks of a file whose probe answers while its menu is open are shown at once.
    connect(Queue, &TFileQueue::Changed, this, [this](int row) {
        if (AudioTrackMenu->isVisible() && row == SelectedRow())
            FillAudioTrackMenu();
    });
}

void TfrmMain::listViewFilesContextPopup(const QPoint &pos)
{
    // A track is chosen for one file, and not while a run is going.
    AudioTrackMenu->menuAction()->setEnabled(ui->listViewFiles->isEnabled() && SelectedRows().size() == 1);
    // Only a file converted has a folder to show.
    const int row = SelectedRows().size() == 1 ? SelectedRow() : -1;
    ShowInFolderItem->setVisible(row >= 0 && Queue->At(row).State == TItemState::Done
                                 && !Queue->At(row).Outputs.isEmpty());
    PopupMenu->popup(ui->listViewFiles->viewport()->mapToGlobal(pos));
}

void TfrmMain::ShowSelectedInFolder()
{
    const int row = SelectedRow();
    if (row < 0 || Queue->At(row).Outputs.isEmpty())
        return;
    ShellOpen(QFileInfo(Queue->At(row).Outputs.first()).absolutePath());
}

bool TfrmMain::AcceptEditedPath(int row, const QString &path)
{
    // Told as an add's refusals are, once the edit is over.
    BeginAdd();
    const auto told = qScopeGuard([this] { EndAdd(); });
    ++AddOrder;
    // An edited path is named by the user: nothing is passed over in silence.
    const std::optional<TAdmitted> admitted = Admit(NativePathOf(path), false, true);
    if (!admitted)
        return false;
    const auto &[source, verdict] = *admitted;
    const quint64 id = Queue->At(row).Id;
    // A file of no listed type is on trial, as when it is added.
    Queue->SetState(row, verdict == TAddVerdict::Check ? TItemState::Checking : TItemState::Idle);
    Queue->SetSource(row, source);
    const int now = Queue->RowOf(id);
    if (now >= 0 && Queue->At(now).State == TItemState::Checking) {
        OnTrial.insert(id);
        TrialOrder.insert(id, AddOrder);
    }
    return true;
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

    AudioTrackMenu->addSeparator();
    const TQueueItem &file = Queue->At(row);
    if (!file.Facts.Known) {
        // The probe has not answered yet: the menu fills when it does.
        Probe->Hurry(file.Source);
        AudioTrackMenu->addAction(QStringLiteral("\u2026"))->setEnabled(false);
        return;
    }
    if (file.Facts.Tracks.isEmpty()) {
        AudioTrackMenu->addAction(msgNoAudioTracks)->setEnabled(false);
        return;
    }
    for (const TAudioTrack &track : file.Facts.Tracks) {
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
        Queue->SetAudioTrack(row, -1, QString());
    else if (item->data().isValid())
        Queue->SetAudioTrack(row, item->data().toInt(), item->text());
}

int TfrmMain::AudioTrackOfRow(int row) const
{
    return row >= 0 && row < Queue->Count() ? Queue->At(row).AudioTrack : -1;
}

bool TfrmMain::AddFile(const QString &path)
{
    BeginAdd();
    const bool added = AddNative(NativePathOf(path), false);
    EndAdd();
    return added;
}

// The queue's rules for one path: the source to queue and its verdict, or
// nothing when it is refused (and told) or passed over.
std::optional<TfrmMain::TAdmitted> TfrmMain::Admit(const QByteArray &native, bool fromFolderSearch, bool refusePassOver)
{
    const QString readable = ReadablePath(native);
    TAddVerdict verdict = AddVerdictOf(readable, IsRegularFile(native), fromFolderSearch);
    if (verdict == TAddVerdict::PassOver && refusePassOver)
        verdict = TAddVerdict::NotAFile;
    if (verdict == TAddVerdict::PassOver)
        return std::nullopt;
    const QString name = QFileInfo(readable).fileName();
    if (verdict == TAddVerdict::NotAFile) {
        Refuse(name.isEmpty() ? readable : name, TNotAdded::NotAFile);
        return std::nullopt;
    }
    const QString source = SourceLinks->SourceFor(native);
    if (Queue->Holds(source)) {
        Refuse(name, TNotAdded::AlreadyQueued);
        return std::nullopt;
    }
    return TAdmitted{source, verdict};
}

bool TfrmMain::AddNative(const QByteArray &native, bool fromFolderSearch)
{
    ++AddOrder;
    const std::optional<TAdmitted> admitted = Admit(native, fromFolderSearch, false);
    if (!admitted)
        return false;
    const auto &[source, verdict] = *admitted;
    // The view repaints on its own once the event loop runs; forcing a paint
    // per row would make long folder searches crawl.
    const bool onTrial = verdict == TAddVerdict::Check;
    Queue->Append(source, SourceLinks->ShownPathOf(source), onTrial ? TItemState::Checking : TItemState::Idle);
    // A probe that knew the file already has settled it at once.
    const int row = Queue->Count() - 1;
    if (onTrial && row >= 0 && Queue->At(row).State == TItemState::Checking) {
        OnTrial.insert(Queue->At(row).Id);
        TrialOrder.insert(Queue->At(row).Id, AddOrder);
    }
    return true;
}

void TfrmMain::EndAdd()
{
    --AddDepth;
    TellNotAdded();
}

void TfrmMain::TellNotAdded()
{
    for (auto id = OnTrial.begin(); id != OnTrial.end();) {
        const int row = Queue->RowOf(*id);
        if (row >= 0 && Queue->At(row).State == TItemState::Checking) {
            ++id;
            continue;
        }
        TrialOrder.remove(*id);
        id = OnTrial.erase(id);
    }
    if (AddDepth > 0 || !OnTrial.isEmpty() || NotAdded.isEmpty())
        return;
    // Not modal: the probe's answer may come while the user does something else.
    auto *box = new QMessageBox(
        QMessageBox::Information, ApplicationTitle(),
        NotAddedText(std::exchange(NotAdded, {}), {msgNotAdded, msgReasonNoSound, msgReasonNotMedia, msgReasonInList,
                                                   msgReasonNotAFile, msgNotAddedMore}),
        QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("msgNotAddedBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

void TfrmMain::AddFolder(const QString &folder, bool includeSubfolders, const QString &extension)
{
    SaveLastAddFolder(folder);
    BeginAdd();
    SearchFolder(folder, includeSubfolders, extension);
    EndAdd();
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
    search.addEntry = [this, &folder](const QByteArray &path) {
        if (!AddNative(path, true))
            return;
        // A file found in a folder may keep its place below it in the output folder.
        Queue->SetRoot(Queue->Count() - 1, folder);
        if (frmSearchProgress)
            frmSearchProgress->Found();
    };
    // A path longer than the system takes can be neither searched nor
    // converted: it is named among the files not added, not dropped unseen.
    search.tooLong = [this](const QByteArray &path) { AddNative(path, false); };
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
    QList<QByteArray> natives;
    for (const QString &path : paths)
        natives << NativePathOf(path);
    AddNativePaths(natives);
}

void TfrmMain::AddNativePaths(const QList<QByteArray> &paths)
{
    // A folder is searched as batch add does with subfolders and every
    // extension; a cancelled search ends the whole list.
    BeginAdd();
    for (const QByteArray &path : paths) {
        if (IsFolder(path)) {
            if (!SearchFolder(QFile::decodeName(path), true, QStringLiteral("*")))
                break;
        } else {
            AddNative(path, false);
        }
    }
    EndAdd();
}

void TfrmMain::SaveLastAddFolder(const QString &folder)
{
    if (frmCommon && !folder.isEmpty() && folder != frmCommon->Settings().LastAddFolder())
        frmCommon->Settings().SetLastAddFolder(folder);
}

QString TfrmMain::AddStartFolder() const
{
    const QString last = frmCommon ? frmCommon->Settings().LastAddFolder() : QString();
    return !last.isEmpty() && QFileInfo(last).isDir() ? last : VideosOrHomeFolder();
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
    OpenDialog->setDirectory(AddStartFolder());
    OpenDialog->selectFile(QString());

    QStringList files;
    if (OpenDialogRunner)
        files = OpenDialogRunner(*OpenDialog);
    else if (OpenDialog->exec() == QDialog::Accepted)
        files = OpenDialog->selectedFiles();
    if (!files.isEmpty() && !files.first().isEmpty())
        SaveLastAddFolder(QFileInfo(files.first()).absolutePath());
    BeginAdd();
    for (const QString &file : files) {
        if (file.isEmpty())
            break;
        AddNative(NativePathOf(file), false);
    }
    EndAdd();
}

void TfrmMain::ActionFileBatchAddExecute()
{
    if (!FrmBatchAdd)
        return;
    FrmBatchAdd->StartFolder = AddStartFolder();
    FrmBatchAdd->show();
    FrmBatchAdd->raise();
    FrmBatchAdd->activateWindow();
}

QList<int> TfrmMain::SelectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &index : ui->listViewFiles->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

int TfrmMain::SelectedRow() const
{
    const QList<int> rows = SelectedRows();
    return rows.isEmpty() ? -1 : rows.first();
}

void TfrmMain::ActionFileDeleteExecute() { DeleteSelectedFile(); }

void TfrmMain::DeleteSelectedFile()
{
    const QList<int> rows = SelectedRows();
    if (rows.isEmpty())
        return;
    Queue->Remove(rows);
    ui->listViewFiles->clearSelection();
}

void TfrmMain::ActionFileClearAllExecute()
{
    if (Queue->Count() == 0)
        return;
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), msgClearAll, QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("msgClearAllBox"));
    if (box.exec() == QMessageBox::Ok)
        Queue->Clear();
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
    if (row >= 0 && row + 1 < Queue->Count())
        SwapRows(row, row + 1);
}

// Moves the selected file from row `from` to row `to`; selection and focus go
// with it, and so does what the queue keeps of it (the chosen audio track).
void TfrmMain::SwapRows(int from, int to)
{
    Queue->Swap(from, to);
    // A moved row's state belonged to the last run's order.
    Queue->SetState(from, TItemState::Idle);
    Queue->SetState(to, TItemState::Idle);
    QTableView *list = ui->listViewFiles;
    const QModelIndex moved = QueueModel->index(to, 0);
    list->selectionModel()->setCurrentIndex(moved, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list->scrollTo(moved);
}

void TfrmMain::ActionSetDirectoryExecute()
{
    if (!FrmDirectory)
        return;
    FrmDirectory->currentFolder = ui->editOutputFolder->text();
    if (FrmDirectory->exec() == QDialog::Accepted)
        ui->editOutputFolder->setText(FrmDirectory->chosenFolder);
}
