#pragma once

#include <QDialog>
#include <QString>
#include <QtGlobal>

namespace Ui {
class TfrmOverWrite;
}

// The file-exists question, shown modally before an existing output file
// would be written. Its answer is one of the TOverwriteChoice codes in
// FChoice; the check box turns an answer for this file into one for every
// later collision. Closing it any other way (title bar, Escape, the window
// manager) skips this one file: FChoice is ocAsk then, the check box ignored.
class TfrmOverWrite : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmOverWrite(QWidget *parent = nullptr);
    ~TfrmOverWrite() override;

    quint8 FChoice = 0; // the last answer, kept between showings

    // Names the file the next showing asks about.
    void ShowFile(const QString &target);

public slots:
    void buttonOverWriteClick();
    void buttonIgnoreClick();
    void buttonAutoNameClick();
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void Answer(quint8 once, quint8 always);

    Ui::TfrmOverWrite *ui;
};

extern TfrmOverWrite *frmOverWrite;
