#pragma once

#include <QAbstractItemModel>
#include <QDir>
#include <QFileSystemModel>
#include <QPersistentModelIndex>
#include <QTest>
#include <QTreeView>

// Drives a folder tree as a user does: opens one node after another (the
// children arrive in the background) and clicks the folder.

// The full path of a node, asked from the file-system model behind the view.
inline QString FolderOfNode(const QModelIndex &index) { return index.data(QFileSystemModel::FilePathRole).toString(); }

inline QString SelectedFolder(QTreeView *tree)
{
    const QModelIndexList selected = tree->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? QString() : FolderOfNode(selected.first());
}

// The first top node of the tree.
inline QModelIndex TopNode(QTreeView *tree) { return tree->model()->index(0, 0, tree->rootIndex()); }

// The folders of the tree's top level, in order.
inline QStringList TopFolders(QTreeView *tree)
{
    QStringList folders;
    for (int row = 0; row < tree->model()->rowCount(tree->rootIndex()); ++row)
        folders << FolderOfNode(tree->model()->index(row, 0, tree->rootIndex()));
    return folders;
}

// Opens the nodes from the top level down to folder and returns folder's node
// (invalid when it does not show up in time).
inline QModelIndex OpenDownTo(QTreeView *tree, const QString &folder, int timeoutMs = 5000)
{
    QAbstractItemModel *model = tree->model();
    const QString target = QDir::cleanPath(folder);
    const auto holds = [&target](const QString &path) {
        return target == path || target.startsWith(path == QLatin1String("/") ? path : path + QLatin1Char('/'));
    };
    // The top node that holds the folder most closely.
    QPersistentModelIndex node;
    for (int row = 0; row < model->rowCount(tree->rootIndex()); ++row) {
        const QModelIndex top = model->index(row, 0, tree->rootIndex());
        if (holds(FolderOfNode(top)) && (!node.isValid() || FolderOfNode(top).size() > FolderOfNode(node).size()))
            node = top;
    }
    while (node.isValid() && FolderOfNode(node) != target) {
        tree->expand(node);
        QPersistentModelIndex next;
        QDeadlineTimer deadline(timeoutMs);
        while (!next.isValid() && !deadline.hasExpired()) {
            if (model->canFetchMore(node))
                model->fetchMore(node);
            for (int row = 0; row < model->rowCount(node); ++row) {
                const QModelIndex child = model->index(row, 0, node);
                if (holds(FolderOfNode(child))) {
                    next = child;
                    break;
                }
            }
            if (!next.isValid())
                QTest::qWait(10);
        }
        node = next;
    }
    return node;
}

// Clicks folder's node with the given mouse button; false when it was not found.
inline bool ClickFolder(QTreeView *tree, const QString &folder, Qt::MouseButton button = Qt::LeftButton)
{
    // Rows keep arriving while we wait, which moves plain indexes.
    const QPersistentModelIndex node = OpenDownTo(tree, folder);
    if (!node.isValid())
        return false;
    // The view lays the opened nodes out later; wait until the node is in sight.
    QRect rect;
    QDeadlineTimer deadline(5000);
    do {
        tree->scrollTo(node);
        QTest::qWait(10);
        rect = tree->visualRect(node);
    } while (!tree->viewport()->rect().contains(rect.center()) && !deadline.hasExpired());
    if (!tree->viewport()->rect().contains(rect.center()))
        return false;
    QTest::mouseClick(tree->viewport(), button, Qt::NoModifier, rect.center());
    return true;
}
