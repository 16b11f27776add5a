#pragma once

#include <QFileIconProvider>
#include <QObject>
#include <QString>

class QFileSystemModel;
class QModelIndex;
class QSortFilterProxyModel;
class QTreeView;

// The folder tree of batch add and of the directory chooser: folders only,
// below one top node, with the platform's folder icons, each node filled when
// it is expanded. It does not watch the disk while it is shown.
class TFolderTree : public QObject
{
    Q_OBJECT
public:
    // Sets view up to show topFolder as its one top node.
    TFolderTree(QTreeView *view, const QString &topFolder);

    // On the first call the top node is expanded one level and selected, so a
    // folder is always selected; later calls keep what the user chose.
    void FillOnce();

    // Full path of the selected folder ("/" for the file-system root); empty
    // when nothing is selected.
    QString SelectedPath() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QModelIndex TopIndex() const;

    QTreeView *m_view;
    QString m_topFolder;
    // Asks the style when the desktop has no icon theme, so folders always
    // show a folder icon.
    QFileIconProvider m_icons;
    QFileSystemModel *m_model;
    QSortFilterProxyModel *m_proxy;
    bool m_filled = false;
};

// "The computer": the file system's root.
QString ComputerFolder();
// "The desktop": the user's desktop folder, or home when there is none.
QString DesktopFolder();
