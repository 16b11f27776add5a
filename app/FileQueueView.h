#pragma once

#include <QList>
#include <QObject>
#include <QString>

namespace Ui {
class TfrmMain;
}
class QAction;
class QActionGroup;
class QMenu;
class QPoint;
class QWidget;
class TFileQueue;
class TFileQueueModel;
class TMediaProbe;
struct TWindowTexts;

// The queue as the window shows it: the table's columns and words, the
// selection the row commands work on, and the row menu with its audio
// tracks. The queue itself is the engine's; this only draws and edits it.
class TFileQueueView : public QObject
{
    Q_OBJECT
public:
    TFileQueueView(QWidget &window, Ui::TfrmMain &ui, const TWindowTexts &texts, TFileQueue &queue, TMediaProbe &probe);

    TFileQueueModel &Model() const { return *m_model; }
    // The columns, states and row menu in the words of the texts now in use.
    void ShowTexts();
    // The state column holds its longest word; with chapters, "chapter 12 of 12 · 100%".
    void FitStateColumn(bool chapters);

    void DeleteSelected();
    void ClearAll();
    void MoveSelectedUp();
    void MoveSelectedDown();

    // The path the user knows a row's file by.
    QString SourceOfRow(int row) const;
    // The audio track chosen for a row, -1 for Automatic.
    int AudioTrackOfRow(int row) const;

private:
    QList<int> SelectedRows() const; // top to bottom
    int SelectedRow() const;         // the first selected; -1 for none
    void SetupTable();
    void SetupColumns();
    void SetupRowMenu();
    void SwapRows(int from, int to);
    void ShowRowMenu(const QPoint &pos);
    // A row whose file was converted opens the folder of what it wrote.
    void ShowSelectedInFolder();
    // The "Audio track" menu: filled from the selected row's file each time
    // it opens; the choice is kept in the row's item.
    void FillAudioTrackMenu();
    void AudioTrackChosen(QAction *item);

    QWidget &m_window;
    Ui::TfrmMain &ui;
    const TWindowTexts &m_texts;
    TFileQueue &m_queue;
    TMediaProbe &m_probe;
    TFileQueueModel *m_model = nullptr;
    QMenu *m_rowMenu = nullptr;
    QMenu *m_audioTrackMenu = nullptr;
    QAction *m_automaticTrackItem = nullptr;
    QActionGroup *m_audioTrackGroup = nullptr;
    QAction *m_showInFolderItem = nullptr;
};
