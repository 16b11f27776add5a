#include "app/FileAdder.h"

#include "app/WindowTexts.h"
#include "common/ErrorReport.h"
#include "common/Settings.h"
#include "conversion/FileQueue.h"
#include "conversion/SourcePaths.h"
#include "dialogs/BatchAddDialog.h"
#include "dialogs/FolderTree.h"
#include "dialogs/SearchProgress.h"
#include "gui/CommonServices.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QScopeGuard>
#include <QWidget>

#include <utility>

TFileAdder::TOpenDialogRunner TFileAdder::OpenDialogRunner;
int TFileAdder::SearchYieldIntervalMs = 10;

TFileAdder::TFileAdder(QWidget &window, const TWindowTexts &texts, TFileQueue &queue)
    : QObject(&window), m_window(window), m_texts(texts), m_queue(queue),
      m_sourceLinks(std::make_unique<TSourceLinks>())
{
    connect(&m_queue, &TFileQueue::NoSound, this, [this](quint64 id, const QString &shown, bool readable) {
        m_notAdded.append(
            {QFileInfo(shown).fileName(), readable ? TNotAdded::NoSound : TNotAdded::NotMedia, m_trialOrder.take(id)});
    });
    // A file on trial leaves the trial when its probe answers or the user takes it out.
    for (auto change : {&TFileQueue::Removed, &TFileQueue::Cleared})
        connect(&m_queue, change, this, &TFileAdder::TellNotAdded);
    connect(&m_queue, &TFileQueue::Changed, this, [this] {
        if (!m_onTrial.isEmpty())
            TellNotAdded();
    });
}

TFileAdder::~TFileAdder() = default;

bool TFileAdder::AcceptEditedPath(int row, const QString &path)
{
    // Told as an add's refusals are, once the edit is over.
    BeginAdd();
    const auto told = qScopeGuard([this] { EndAdd(); });
    ++m_addOrder;
    // An edited path is named by the user: nothing is passed over in silence.
    const std::optional<TAdmitted> admitted = Admit(NativePathOf(path), false, true);
    if (!admitted)
        return false;
    const auto &[source, verdict] = *admitted;
    const quint64 id = m_queue.At(row).Id;
    // A file of no listed type is on trial, as when it is added.
    m_queue.SetState(row, verdict == TAddVerdict::Check ? TItemState::Checking : TItemState::Idle);
    m_queue.SetSource(row, source);
    PutOnTrial(id);
    return true;
}

// A probe that knew the file already has settled it at once: then it is on no trial.
void TFileAdder::PutOnTrial(quint64 id)
{
    const int row = m_queue.RowOf(id);
    if (row < 0 || m_queue.At(row).State != TItemState::Checking)
        return;
    m_onTrial.insert(id);
    m_trialOrder.insert(id, m_addOrder);
}

bool TFileAdder::AddFile(const QString &path)
{
    BeginAdd();
    const bool added = AddNative(NativePathOf(path), false);
    EndAdd();
    return added;
}

// The queue's rules for one path: the source to queue and its verdict, or
// nothing when it is refused (and told) or passed over.
std::optional<TFileAdder::TAdmitted> TFileAdder::Admit(const QByteArray &native, bool fromFolderSearch,
                                                       bool refusePassOver)
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
    const QString source = m_sourceLinks->SourceFor(native);
    if (m_queue.Holds(source)) {
        Refuse(name, TNotAdded::AlreadyQueued);
        return std::nullopt;
    }
    return TAdmitted{source, verdict};
}

bool TFileAdder::AddNative(const QByteArray &native, bool fromFolderSearch)
{
    ++m_addOrder;
    const std::optional<TAdmitted> admitted = Admit(native, fromFolderSearch, false);
    if (!admitted)
        return false;
    const auto &[source, verdict] = *admitted;
    // The view repaints on its own once the event loop runs; forcing a paint
    // per row would make long folder searches crawl.
    const bool onTrial = verdict == TAddVerdict::Check;
    m_queue.Append(source, m_sourceLinks->ShownPathOf(source), onTrial ? TItemState::Checking : TItemState::Idle);
    if (onTrial && m_queue.Count() > 0)
        PutOnTrial(m_queue.At(m_queue.Count() - 1).Id);
    return true;
}

void TFileAdder::EndAdd()
{
    --m_addDepth;
    TellNotAdded();
}

void TFileAdder::TellNotAdded()
{
    for (auto id = m_onTrial.begin(); id != m_onTrial.end();) {
        const int row = m_queue.RowOf(*id);
        if (row >= 0 && m_queue.At(row).State == TItemState::Checking) {
            ++id;
            continue;
        }
        m_trialOrder.remove(*id);
        id = m_onTrial.erase(id);
    }
    if (m_addDepth > 0 || !m_onTrial.isEmpty() || m_notAdded.isEmpty())
        return;
    const TWindowTexts &t = m_texts;
    // Not modal: the probe's answer may come while the user does something else.
    auto *box = new QMessageBox(
        QMessageBox::Information, ApplicationTitle(),
        NotAddedText(std::exchange(m_notAdded, {}), {t.msgNotAdded, t.msgReasonNoSound, t.msgReasonNotMedia,
                                                     t.msgReasonInList, t.msgReasonNotAFile, t.msgNotAddedMore}),
        QMessageBox::Ok, &m_window);
    box->setObjectName(QStringLiteral("msgNotAddedBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

void TFileAdder::AddFolder(const QString &folder, bool includeSubfolders, const QString &extension)
{
    SaveLastAddFolder(folder);
    BeginAdd();
    SearchFolder(folder, includeSubfolders, extension);
    EndAdd();
}

bool TFileAdder::SearchFolder(const QString &folder, bool includeSubfolders, const QString &extension)
{
    // The search lets the window handle its events after every entry, so the
    // user can work meanwhile; closing the shown window or the progress box's
    // Cancel ends the search, and what it found so far stays.
    const bool shownAtStart = m_window.isVisible();
    QElapsedTimer sinceYield;
    sinceYield.start();
    if (frmSearchProgress)
        frmSearchProgress->Begin();
    TFolderSearch search;
    search.addEntry = [this, &folder](const QByteArray &path) {
        if (!AddNative(path, true))
            return;
        // A file found in a folder may keep its place below it in the output folder.
        m_queue.SetRoot(m_queue.Count() - 1, folder);
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
        return !shownAtStart || m_window.isVisible();
    };
    const bool complete = search.Run(folder, includeSubfolders, extension);
    if (frmSearchProgress)
        frmSearchProgress->End();
    return complete;
}

void TFileAdder::AddPaths(const QStringList &paths)
{
    QList<QByteArray> natives;
    for (const QString &path : paths)
        natives << NativePathOf(path);
    AddNativePaths(natives);
}

void TFileAdder::AddNativePaths(const QList<QByteArray> &paths)
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

void TFileAdder::SaveLastAddFolder(const QString &folder)
{
    if (frmCommon && !folder.isEmpty() && folder != frmCommon->Settings().LastAddFolder())
        frmCommon->Settings().SetLastAddFolder(folder);
}

QString TFileAdder::AddStartFolder() const
{
    const QString last = frmCommon ? frmCommon->Settings().LastAddFolder() : QString();
    return !last.isEmpty() && QFileInfo(last).isDir() ? last : VideosOrHomeFolder();
}

void TFileAdder::AddFromDialog()
{
    if (!m_openDialog) {
        m_openDialog = new QFileDialog(&m_window);
        m_openDialog->setObjectName(QStringLiteral("OpenDialog"));
        m_openDialog->setFileMode(QFileDialog::ExistingFiles);
        m_openDialog->setOption(QFileDialog::HideNameFilterDetails);
        // Set once: the dialog then opens with the filter chosen last time.
        m_openDialog->setNameFilters(OpenDialogNameFilters(m_texts.OpenDialogFilterTexts));
    }
    m_openDialog->setWindowTitle(m_texts.OpenDialogCaption);
    m_openDialog->setDirectory(AddStartFolder());
    m_openDialog->selectFile(QString());

    QStringList files;
    if (OpenDialogRunner)
        files = OpenDialogRunner(*m_openDialog);
    else if (m_openDialog->exec() == QDialog::Accepted)
        files = m_openDialog->selectedFiles();
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

void TFileAdder::ForgetOpenDialog() { delete std::exchange(m_openDialog, nullptr); }

void TFileAdder::ShowBatchAdd()
{
    if (!FrmBatchAdd)
        return;
    FrmBatchAdd->StartFolder = AddStartFolder();
    FrmBatchAdd->show();
    FrmBatchAdd->raise();
    FrmBatchAdd->activateWindow();
}
