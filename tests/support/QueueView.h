#pragma once

#include "app/MainWindow.h"
#include "support/FindControl.h"

#include <QAbstractItemModel>
#include <QStringList>
#include <QTableView>

// The main window's queue as its view shows it.
inline QTableView *queueView() { return FindControl<QTableView>(frmMain, "listViewFiles"); }

inline int queueRows() { return queueView()->model()->rowCount(); }

// A cell of the view: column 0 the file, 1 its length, 2 how it fares in a run.
inline QString queueCell(int row, int column, int role = Qt::DisplayRole)
{
    return queueView()->model()->index(row, column).data(role).toString();
}

inline QStringList queuedFiles()
{
    QStringList files;
    for (int row = 0; row < queueRows(); ++row)
        files << queueCell(row, 0);
    return files;
}
