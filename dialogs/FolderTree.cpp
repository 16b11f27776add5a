#include "FolderTree.h"

#include <QDir>
#include <QFileSystemModel>
#include <QMouseEvent>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QTreeView>

namespace {
bool isBelow(const QString &path, const QString &folder)
{
    if (folder == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/')) && path != folder;
    return path.startsWith(folder + QLatin1Char('/'));
}

// Hides everything beside the top folder, so that it stands alone at the top
// of the tree while the model still knows its parents.
class TTopFolderFilter : public QSortFilterProxyModel
{
public:
    TTopFolderFilter(const QString &topFolder, QObject *parent)
        : QSortFilterProxyModel(parent), m_top(topFolder) {}

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override
    {
        const auto *model = static_cast<const QFileSystemModel *>(sourceModel());
        const QString path = model->filePath(model->index(sourceRow, 0, sourceParent));
        return path == m_top || isBelow(path, m_top) || isBelow(m_top, path);
    }

private:
    QString m_top;
};
}

QString ComputerFolder()
{
    return QDir::rootPath();
}

QString DesktopFolder()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && QFileInfo(desktop).isDir())
        return QDir::cleanPath(desktop);
    return QDir::cleanPath(QDir::homePath());
}

TFolderTree::TFolderTree(QTreeView *view, const QString &topFolder)
    : QObject(view), m_view(view), m_topFolder(QDir::cleanPath(topFolder)),
      m_model(new QFileSystemModel(this)), m_proxy(new TTopFolderFilter(m_topFolder, this))
{
    m_model->setOption(QFileSystemModel::DontWatchForChanges);
    m_model->setIconProvider(&m_icons);
    m_model->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    m_model->setReadOnly(true);
    m_model->setRootPath(m_topFolder);
    m_proxy->setSourceModel(m_model);

    m_view->setModel(m_proxy);
    m_view->setHeaderHidden(true);
    for (int column = 1; column < m_model->columnCount(); ++column)
        m_view->hideColumn(column);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setRootIndex(m_proxy->mapFromSource(m_model->index(m_topFolder).parent()));
    m_view->viewport()->installEventFilter(this);
}

QModelIndex TFolderTree::TopIndex() const
{
    return m_proxy->mapFromSource(m_model->index(m_topFolder));
}

void TFolderTree::FillOnce()
{
    if (m_filled)
        return;
    m_filled = true;
    const QModelIndex top = TopIndex();
    m_view->expand(top);
    m_view->setCurrentIndex(top);
}

QString TFolderTree::SelectedPath() const
{
    const QModelIndexList selected = m_view->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return QString();
    return m_model->filePath(m_proxy->mapToSource(selected.first()));
}

bool TFolderTree::eventFilter(QObject *watched, QEvent *event)
{
    // A right click picks the folder under the mouse, as a left click does.
    if (event->type() == QEvent::MouseButtonPress) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton) {
            const QModelIndex index = m_view->indexAt(mouse->position().toPoint());
            if (index.isValid())
                m_view->setCurrentIndex(index);
        }
    }
    return QObject::eventFilter(watched, event);
}
