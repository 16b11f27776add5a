#pragma once

#include <QFileIconProvider>
#include <QObject>
#include <QString>

class QModelIndex;
class QTreeView;
class TFolderModel;

// The folder tree of batch add and of the directory chooser: a top level of
// places (home, the user's folders, the file system, drives), folders only
// below them, with folder icons, each node filled when it is expanded. It does
// not watch the disk while it is shown.
class TFolderTree : public QObject
{
    Q_OBJECT
public:
    explicit TFolderTree(QTreeView *view);

    // Reads the places afresh (a drive may have come or gone), then opens the
    // tree down to folder, selects it and scrolls it into view. A folder that
    // cannot be reached selects its nearest shown parent; one outside every
    // place keeps the selection of the last showing, or the first place.
    void ShowFolder(const QString &folder);

    // Brings the selected node into view once the view has its size.
    void ScrollToSelected();

    // Full path of the selected folder or place ("/" for the file system);
    // empty when nothing is selected.
    QString SelectedPath() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QModelIndex OpenDownTo(const QString &folder);

    QTreeView *m_view;
    // Asks the style when the desktop has no icon theme, so folders always
    // show a folder icon.
    QFileIconProvider m_icons;
    TFolderModel *m_model;
};

// The folder batch add opens at: the user's videos, else home.
QString VideosOrHomeFolder();
