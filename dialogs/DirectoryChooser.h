#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class TFrmDirectory;
}
class TFolderTree;

// The output-folder chooser, shown modally. Hidden, never destroyed, so it
// shows the folder chosen last time.
class TFrmDirectory : public QDialog
{
    Q_OBJECT
public:
    explicit TFrmDirectory(QWidget *parent = nullptr);
    ~TFrmDirectory() override;

    // The folder chosen by the last OK; emptied by Cancel.
    QString chosenFolder;
    // The output folder as it stands; the tree opens at it.
    QString currentFolder;

public slots:
    void ButtonOKClick();
    void ButtonCancelClick();

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    Ui::TFrmDirectory *ui;
    TFolderTree *m_tree;
};

extern TFrmDirectory *FrmDirectory;
