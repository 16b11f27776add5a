// Drives the real main window offscreen for benchmarks/queue_folder_search.sh:
//   queue_bench_driver folder DIR          search DIR with subfolders, extension "*"
//   queue_bench_driver rows N [DIR]        fill the queue with N rows, time the
//                                          queue commands on it, then search DIR
// Prints one "name: value" line per figure.
#include "app/Application.h"
#include "app/MainWindow.h"
#include "common/ErrorReport.h"

#include <QAction>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {
QTableWidget *queueList() { return frmMain->findChild<QTableWidget *>(QStringLiteral("listViewFiles")); }

void trigger(const char *action) { frmMain->findChild<QAction *>(QLatin1String(action))->trigger(); }

// Runs step, lets the window handle everything it caused (including the
// repaint), and returns the milliseconds it all took.
template <typename Step> double timed(Step step)
{
    QElapsedTimer clock;
    clock.start();
    step();
    QCoreApplication::processEvents();
    frmMain->repaint();
    return clock.nsecsElapsed() / 1e6;
}

void searchFolder(const QString &folder)
{
    const int before = queueList()->rowCount();
    QElapsedTimer clock;
    clock.start();
    frmMain->AddFolder(folder, true, QStringLiteral("*"));
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("folder search rows added: %d\n", queueList()->rowCount() - before);
    std::printf("folder search seconds: %.3f\n", seconds);
}

void fillAndUse(int count)
{
    QTableWidget *list = queueList();
    QElapsedTimer clock;
    clock.start();
    // As a search adds them: one row at a time, the window's events handled
    // as often as the search handles them.
    QElapsedTimer sinceYield;
    sinceYield.start();
    for (int i = 0; i < count; ++i) {
        frmMain->AddFile(QStringLiteral("/videos/folder%1/clip%2.avi").arg(i / 100).arg(i));
        if (sinceYield.elapsed() >= TfrmMain::SearchYieldIntervalMs) {
            QCoreApplication::processEvents();
            sinceYield.restart();
        }
    }
    std::printf("rows: %d\n", list->rowCount());
    std::printf("fill seconds: %.3f\n", clock.nsecsElapsed() / 1e9);

    std::printf("repaint ms: %.2f\n", timed([] {}));
    std::printf("scroll to end ms: %.2f\n", timed([list] { list->scrollToBottom(); }));
    std::printf("select last row ms: %.2f\n", timed([list] { list->selectRow(list->rowCount() - 1); }));
    std::printf("move up ms: %.2f\n", timed([] { trigger("ActionFileMoveUp"); }));
    std::printf("move down ms: %.2f\n", timed([] { trigger("ActionFileMoveDown"); }));
    std::printf("select middle row ms: %.2f\n", timed([list] { list->selectRow(list->rowCount() / 2); }));
    std::printf("delete middle row ms: %.2f\n", timed([] { trigger("ActionFileDelete"); }));
    std::printf("add one row ms: %.2f\n", timed([] { frmMain->AddFile(QStringLiteral("/videos/one-more.avi")); }));
    std::printf("scroll to top ms: %.2f\n", timed([list] { list->scrollToTop(); }));
}
}

int main(int argc, char *argv[])
{
    TApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: %s folder DIR | rows N [DIR]\n", argv[0]);
        return 2;
    }
    SetErrorReporter([](const QString &text) { std::fprintf(stderr, "error: %s\n", qPrintable(text)); });
    QTemporaryDir program;
    app.CreateForms(program.path());
    frmMain->show();
    if (!QTest::qWaitForWindowExposed(frmMain))
        return 1;

    if (args.at(1) == QLatin1String("folder")) {
        searchFolder(args.at(2));
    } else {
        fillAndUse(args.at(2).toInt());
        if (args.size() > 3)
            searchFolder(args.at(3));
    }
    return 0;
}
