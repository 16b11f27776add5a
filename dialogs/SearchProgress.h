#pragma once

#include <QDialog>
#include <QElapsedTimer>

class QLabel;
class QPushButton;

// The small modeless box of a running folder search: how many video files
// were found so far, and Cancel. It shows itself only when a search takes a
// while; rows already added stay when the search is cancelled. Searches that
// start inside a running one (a drop meanwhile) share the box and its Cancel.
class TfrmSearchProgress : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmSearchProgress(QWidget *parent = nullptr);

    // A search starts or ends.
    void Begin();
    void End();
    // The search added one file.
    void Found();
    // Between entries, before the window gets its turn: shows the count, and
    // the box once the search has run for ShowAfterMs.
    void ShowProgress();

    int FoundCount() const { return m_found; }
    bool Cancelled() const { return m_cancelled; }

    // How long a search runs before the box appears.
    static int ShowAfterMs;

public slots:
    void buttonCancelClick();

    void reject() override;

private:
    QLabel *m_count;
    QPushButton *m_cancel;
    QElapsedTimer m_running;
    int m_depth = 0;
    int m_found = 0;
    bool m_cancelled = false;
};

extern TfrmSearchProgress *frmSearchProgress;
