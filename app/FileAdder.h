#pragma once

#include "conversion/FileQueueRules.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QFileDialog;
class QWidget;
class TFileQueue;
class TSourceLinks;
struct TWindowTexts;

// Files coming into the queue: through the open-file dialog, batch add, a
// drop, the command line or an edited row. Each path goes through the queue's
// rules; a file of no listed type stays on trial until its probe finds sound,
// and what was left out is told once the add and its trials are over.
class TFileAdder : public QObject
{
    Q_OBJECT
public:
    TFileAdder(QWidget &window, const TWindowTexts &texts, TFileQueue &queue);
    ~TFileAdder() override;

    // True when the path was taken into the queue.
    bool AddFile(const QString &path);
    void AddFolder(const QString &folder, bool includeSubfolders, const QString &extension);
    // Files and folders given at once (dropped, or on the command line), in
    // their order: files one by one, folders searched with their subfolders
    // for every listed file.
    void AddPaths(const QStringList &paths);
    // The same with the bytes the file system holds (a dropped name need not be UTF-8).
    void AddNativePaths(const QList<QByteArray> &paths);
    // Where Add Files and batch add open: the folder used last, else the
    // videos folder, else home.
    QString AddStartFolder() const;
    // Files of the last adds still waiting for their probe to find sound.
    int OnTrialCount() const { return int(m_onTrial.size()); }
    // An edited path goes through the rules an added one does; false keeps the old path.
    bool AcceptEditedPath(int row, const QString &path);

    // File -> Add: the open-file dialog, then its files.
    void AddFromDialog();
    void ShowBatchAdd();
    // The dialog's filters are set once: a new language needs a new dialog.
    void ForgetOpenDialog();

    // Tests answer the open-file dialog through this hook; it gets the
    // prepared dialog and returns the chosen files. Empty: the real dialog.
    using TOpenDialogRunner = std::function<QStringList(QFileDialog &dialog)>;
    static TOpenDialogRunner OpenDialogRunner;
    // The folder search handles the window's events at the first entry after
    // this many milliseconds (0: after every entry). Handling them after every
    // entry would repaint the window once per row.
    static int SearchYieldIntervalMs;

private:
    // False when the search was cancelled or the window closed.
    bool SearchFolder(const QString &folder, bool includeSubfolders, const QString &extension);
    bool AddNative(const QByteArray &native, bool fromFolderSearch);
    struct TAdmitted
    {
        QString Source;
        TAddVerdict Verdict;
    };
    std::optional<TAdmitted> Admit(const QByteArray &native, bool fromFolderSearch, bool refusePassOver);
    // An add may nest (a drop during a folder search); the files it left out
    // are told when the outermost one ends and no file of it is on trial.
    void BeginAdd() { ++m_addDepth; }
    void EndAdd();
    void TellNotAdded();
    void PutOnTrial(quint64 id);
    void Refuse(const QString &name, TNotAdded reason) { m_notAdded.append({name, reason, m_addOrder}); }
    void SaveLastAddFolder(const QString &folder);

    QWidget &m_window;
    const TWindowTexts &m_texts;
    TFileQueue &m_queue;
    std::unique_ptr<TSourceLinks> m_sourceLinks;
    QFileDialog *m_openDialog = nullptr;
    int m_addDepth = 0;
    QList<TNotAddedFile> m_notAdded;
    quint64 m_addOrder = 0;               // counts the paths offered, for the order of m_notAdded
    QHash<quint64, quint64> m_trialOrder; // by id: when a file on trial was offered
    QSet<quint64> m_onTrial;              // ids of the files still waiting for their probe
};
