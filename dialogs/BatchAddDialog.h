#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class TFrmBatchAdd;
}
class TFolderTree;

// Batch add: picks a folder, an extension and whether subfolders count, and
// asks the main window to search that folder. Modeless; hidden, never
// destroyed, so it keeps its choices from one showing to the next.
class TFrmBatchAdd : public QDialog
{
    Q_OBJECT
public:
    explicit TFrmBatchAdd(QWidget *parent = nullptr);
    ~TFrmBatchAdd() override;

    // Where the first showing opens (the folder used last); empty: the videos folder or home.
    QString StartFolder;

signals:
    // Connected to the main window's folder search.
    void AddFolderRequested(const QString &folder, bool includeSubfolders, const QString &extension);

public slots:
    void buttonOKClick();
    void buttonCancelClick();

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    Ui::TFrmBatchAdd *ui;
    TFolderTree *m_tree;
};

extern TFrmBatchAdd *FrmBatchAdd;

// Removes blanks and control characters (everything up to the space) from
// both ends of text.
QString TrimBlanksAndControls(const QString &text);
