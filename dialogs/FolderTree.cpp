#include "dialogs/FolderTree.h"

#include "dialogs/FolderPlaces.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QFileSystemModel>
#include <QMouseEvent>
#include <QTimer>
#include <QTreeView>

#include <memory>
#include <vector>

// One node per place or folder; a folder's children are read when the view
// first asks for them.
class TFolderModel : public QAbstractItemModel
{
public:
    struct TNode
    {
        QString path;
        QString caption;
        QIcon icon;
        TNode *parent = nullptr;
        int row = 0;
        bool fetched = false;
        std::vector<std::unique_ptr<TNode>> children;
    };

    TFolderModel(const QFileIconProvider &icons, QObject *parent) : QAbstractItemModel(parent), m_icons(icons)
    {
        m_root.fetched = true;
    }

    void SetPlaces(const QList<TPlace> &places)
    {
        beginResetModel();
        m_root.children.clear();
        for (const TPlace &place : places)
            addChild(&m_root, place.path, CaptionOf(place), iconOf(place.kind));
        endResetModel();
    }

    TNode *NodeOf(const QModelIndex &index) const
    {
        return index.isValid() ? static_cast<TNode *>(index.internalPointer()) : const_cast<TNode *>(&m_root);
    }

    QModelIndex IndexOf(const TNode *node) const
    {
        return node == &m_root ? QModelIndex() : createIndex(node->row, 0, const_cast<TNode *>(node));
    }

    // The child of node for the folder named name; a folder the listing
    // leaves out (a hidden one) is added when it exists.
    TNode *ChildNamed(TNode *node, const QString &name)
    {
        fill(node);
        for (const auto &child : node->children)
            if (QFileInfo(child->path).fileName() == name)
                return child.get();
        const QString path = childPath(node->path, name);
        if (!QFileInfo(path).isDir())
            return nullptr;
        const int row = int(node->children.size());
        beginInsertRows(IndexOf(node), row, row);
        TNode *child = addChild(node, path, name, folderIcon());
        endInsertRows();
        return child;
    }

    QModelIndex index(int row, int column, const QModelIndex &parent) const override
    {
        const TNode *node = NodeOf(parent);
        if (column != 0 || row < 0 || row >= int(node->children.size()))
            return QModelIndex();
        return createIndex(row, 0, node->children[row].get());
    }

    QModelIndex parent(const QModelIndex &index) const override
    {
        return index.isValid() ? IndexOf(NodeOf(index)->parent) : QModelIndex();
    }

    int rowCount(const QModelIndex &parent) const override
    {
        return parent.column() > 0 ? 0 : int(NodeOf(parent)->children.size());
    }

    int columnCount(const QModelIndex &) const override { return 1; }

    bool hasChildren(const QModelIndex &parent) const override
    {
        const TNode *node = NodeOf(parent);
        return !node->fetched || !node->children.empty();
    }

    bool canFetchMore(const QModelIndex &parent) const override { return !NodeOf(parent)->fetched; }

    void fetchMore(const QModelIndex &parent) override { fill(NodeOf(parent)); }

    QVariant data(const QModelIndex &index, int role) const override
    {
        const TNode *node = NodeOf(index);
        if (!index.isValid())
            return QVariant();
        switch (role) {
        case Qt::DisplayRole:
            return node->caption;
        case Qt::DecorationRole:
            return node->icon;
        case Qt::ToolTipRole:
            return node->parent == &m_root ? QVariant(QDir::toNativeSeparators(node->path)) : QVariant();
        case QFileSystemModel::FilePathRole:
            return node->path;
        default:
            return QVariant();
        }
    }

private:
    static QString childPath(const QString &folder, const QString &name)
    {
        return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
    }

    QIcon folderIcon() const { return m_icons.icon(QFileIconProvider::Folder); }

    QIcon iconOf(TPlaceKind kind) const
    {
        const QIcon drive = m_icons.icon(QFileIconProvider::Drive);
        switch (kind) {
        case TPlaceKind::Home:
            return QIcon::fromTheme(QStringLiteral("user-home"), folderIcon());
        case TPlaceKind::Desktop:
            return QIcon::fromTheme(QStringLiteral("user-desktop"), folderIcon());
        case TPlaceKind::Music:
            return QIcon::fromTheme(QStringLiteral("folder-music"), folderIcon());
        case TPlaceKind::Videos:
            return QIcon::fromTheme(QStringLiteral("folder-videos"), folderIcon());
        case TPlaceKind::FileSystem:
            return QIcon::fromTheme(QStringLiteral("drive-harddisk"), drive);
        case TPlaceKind::Drive:
            return QIcon::fromTheme(QStringLiteral("drive-removable-media"), drive);
        }
        return folderIcon();
    }

    TNode *addChild(TNode *node, const QString &path, const QString &caption, const QIcon &icon)
    {
        auto child = std::make_unique<TNode>();
        child->path = path;
        child->caption = caption;
        child->icon = icon;
        child->parent = node;
        child->row = int(node->children.size());
        node->children.push_back(std::move(child));
        return node->children.back().get();
    }

    // Reads node's subfolders once: plain listing, hidden folders left out.
    void fill(TNode *node)
    {
        if (node->fetched)
            return;
        node->fetched = true;
        const QFileInfoList folders =
            QDir(node->path).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
        if (folders.isEmpty()) {
            // The expand arrow goes away.
            emit dataChanged(IndexOf(node), IndexOf(node));
            return;
        }
        beginInsertRows(IndexOf(node), 0, int(folders.size()) - 1);
        for (const QFileInfo &folder : folders)
            addChild(node, childPath(node->path, folder.fileName()), folder.fileName(), folderIcon());
        endInsertRows();
    }

    const QFileIconProvider &m_icons;
    TNode m_root;
};

QString VideosOrHomeFolder()
{
    const QList<TPlace> places = PlacesOf(CurrentPlaceSources());
    for (const TPlace &place : places)
        if (place.kind == TPlaceKind::Videos)
            return place.path;
    return places.isEmpty() ? QDir::homePath() : places.first().path;
}

TFolderTree::TFolderTree(QTreeView *view) : QObject(view), m_view(view), m_model(new TFolderModel(m_icons, this))
{
    m_view->setModel(m_model);
    m_view->setHeaderHidden(true);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->viewport()->installEventFilter(this);
}

void TFolderTree::ShowFolder(const QString &folder)
{
    const QString previous = SelectedPath();
    m_model->SetPlaces(PlacesOf(CurrentPlaceSources()));
    QModelIndex target = OpenDownTo(folder);
    if (!target.isValid())
        target = OpenDownTo(previous);
    if (!target.isValid())
        target = m_model->index(0, 0, QModelIndex());
    for (QModelIndex above = target.parent(); above.isValid(); above = above.parent())
        m_view->expand(above);
    m_view->setCurrentIndex(target);
    ScrollToSelected();
}

void TFolderTree::ScrollToSelected()
{
    const QModelIndex current = m_view->currentIndex();
    if (current.isValid())
        m_view->scrollTo(current, QAbstractItemView::PositionAtCenter);
}

QModelIndex TFolderTree::OpenDownTo(const QString &folder)
{
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder))
        return QModelIndex();
    QList<TPlace> places;
    for (int row = 0; row < m_model->rowCount(QModelIndex()); ++row)
        places.append({TPlaceKind::Drive, m_model->NodeOf(m_model->index(row, 0, QModelIndex()))->path, QString()});
    const int place = PlaceHolding(places, folder);
    if (place < 0)
        return QModelIndex();
    TFolderModel::TNode *node = m_model->NodeOf(m_model->index(place, 0, QModelIndex()));
    const QString rest = QDir(node->path).relativeFilePath(QDir::cleanPath(folder));
    if (rest != QLatin1String(".")) {
        for (const QString &name : rest.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
            TFolderModel::TNode *child = m_model->ChildNamed(node, name);
            if (!child)
                break;
            node = child;
        }
    }
    return m_model->IndexOf(node);
}

QString TFolderTree::SelectedPath() const
{
    const QModelIndexList selected = m_view->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return QString();
    return m_model->NodeOf(selected.first())->path;
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
