// Takes pictures of every window of the real program for scripts/screenshots.sh:
// the forms are created as at start-up from a program folder whose config.ini
// picks the language and the skin, each window is shown in turn and saved as a
// PNG with QWidget::grab(). A power-off request is only recorded.
//
//   tolvane_screenshots <program folder> <output folder> <name prefix> [main|all]
//
// "main" takes the main window only (idle with a queue, and during a run);
// "all" adds every dialog, an open menu and the end-of-run message box.

#include "app/Application.h"
#include "app/MainWindow.h"
#include "common/ErrorReport.h"
#include "common/PowerOff.h"
#include "conversion/EncoderOutput.h"
#include "dialogs/BatchAddDialog.h"
#include "dialogs/DirectoryChooser.h"
#include "dialogs/FileExistsDialog.h"
#include "dialogs/PowerOffCountdown.h"
#include "dialogs/SettingsDialog.h"
#include "support/CaptionFit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <cstdio>

namespace {

QString g_outputFolder;
QString g_prefix;
int g_saved = 0;

void settle()
{
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
}

void save(QWidget *widget, const QString &name)
{
    settle();
    for (const QString &line : ClippedCaptions(widget))
        std::fprintf(stderr, "%s: CLIPPED %s\n", qPrintable(g_prefix), qPrintable(line));
    const QString file = QDir(g_outputFolder).filePath(g_prefix + QLatin1Char('-') + name + QStringLiteral(".png"));
    if (!widget->grab().save(file))
        std::fprintf(stderr, "cannot save %s\n", qPrintable(file));
    else
        ++g_saved;
}

// A window with its menu bar and one open menu drawn below it, as the user sees them.
void saveWithMenu(QMenu *menu, const QString &name)
{
    QMenuBar *bar = frmMain->findChild<QMenuBar *>(QStringLiteral("MainMenu"));
    menu->popup(frmMain->mapToGlobal(QPoint(bar->actionGeometry(menu->menuAction()).left(), bar->height())));
    settle();
    const QPixmap window = frmMain->grab();
    const QPixmap open = menu->grab();
    const int left = bar->actionGeometry(menu->menuAction()).left();
    QPixmap both(window.width(), qMax(window.height(), bar->height() + open.height()));
    both.fill(Qt::white);
    QPainter painter(&both);
    painter.drawPixmap(0, 0, window);
    painter.drawPixmap(left, bar->height(), open);
    painter.end();
    menu->hide();
    const QString file = QDir(g_outputFolder).filePath(g_prefix + QLatin1Char('-') + name + QStringLiteral(".png"));
    if (both.save(file))
        ++g_saved;
}

QTableView *queueView() { return frmMain->findChild<QTableView *>(QStringLiteral("listViewFiles")); }

// The queue takes only files that exist, so the pictures' files are made
// (empty) in a temporary Videos folder.
void fillQueue(const QString &videos)
{
    for (const char *name : {"Holiday 2023/beach.mp4", "Holiday 2023/harbour.mov", "concert_recording.mkv",
                             "interview-part1.avi", "interview-part2.avi"}) {
        const QString path = QDir(videos).filePath(QString::fromLatin1(name));
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            std::fprintf(stderr, "cannot make %s\n", qPrintable(path));
        file.close();
        frmMain->AddFile(path);
    }
}

// The run's look without an encoder: controls disabled, the second file
// selected, its progress and the status line as the run shows them.
void showRunState()
{
    QTableView *list = queueView();
    list->selectRow(1);
    frmMain->SetControlsEnabled(false);
    const QString status = ProgressStatusText(frmMain->Texts().msgStatusRun, 2, list->model()->rowCount(),
                                              QStringLiteral("00:01:17"), list->model()->index(1, 0).data().toString());
    auto *info = frmMain->findChild<QLabel *>(QStringLiteral("labelCurrentInfo"));
    info->setText(status);
    info->setToolTip(status);
    frmMain->findChild<QProgressBar *>(QStringLiteral("progressBarCurrent"))->setValue(42);
}

void showRunEnd()
{
    frmMain->SetControlsEnabled(true);
    frmMain->ResetStatus();
}

void saveDialog(QWidget *dialog, const QString &name)
{
    dialog->show();
    dialog->raise();
    save(dialog, name);
    dialog->hide();
}

void saveMessageBox(const QString &text, QMessageBox::StandardButtons buttons, const QString &name)
{
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), text, buttons, frmMain);
    box.show();
    save(&box, name);
    box.hide();
}

} // namespace

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: tolvane_screenshots <program folder> <output folder> <prefix> [main|all]\n");
        return 2;
    }
    g_outputFolder = args[2];
    g_prefix = args[3];
    const bool all = args.size() < 5 || args[4] != QLatin1String("main");
    QDir().mkpath(g_outputFolder);

    SetPowerOffHandler([] { std::fprintf(stderr, "power-off requested (recorded only)\n"); });
    SetErrorReporter([](const QString &text) { std::fprintf(stderr, "error box: %s\n", qPrintable(text)); });

    app.CreateForms(args[1]);
    frmMain->show();
    settle();
    QTemporaryDir videos;
    fillQueue(videos.filePath(QStringLiteral("Videos")));
    queueView()->selectRow(0);
    save(frmMain, QStringLiteral("main"));
    showRunState();
    save(frmMain, QStringLiteral("main-run"));
    showRunEnd();

    if (all) {
        saveWithMenu(frmMain->findChild<QMenu *>(QStringLiteral("N_1")), QStringLiteral("menu-file"));
        saveWithMenu(frmMain->findChild<QMenu *>(QStringLiteral("N_Skin")), QStringLiteral("menu-skin"));
        saveWithMenu(frmMain->findChild<QMenu *>(QStringLiteral("N_Help")), QStringLiteral("menu-help"));
        if (QMenu *tools = frmMain->findChild<QMenu *>(QStringLiteral("N_Tools")); tools->menuAction()->isVisible())
            saveWithMenu(tools, QStringLiteral("menu-tools"));
        saveDialog(frmSetting, QStringLiteral("setting"));
        // The Yes button as the first tick of the countdown shows it.
        frmPowerOffWindows->show();
        frmPowerOffWindows->TimerTimer();
        save(frmPowerOffWindows, QStringLiteral("poweroff"));
        frmPowerOffWindows->buttonNoClick();
        saveDialog(frmOverWrite, QStringLiteral("overwrite"));
        saveDialog(FrmBatchAdd, QStringLiteral("batchadd"));
        saveDialog(FrmDirectory, QStringLiteral("directory"));
        saveMessageBox(frmMain->Texts().msgClearAll, QMessageBox::Ok | QMessageBox::Cancel,
                       QStringLiteral("msg-clearall"));
        saveMessageBox(frmMain->Texts().msgFolderView + QStringLiteral("\r\n\r\n") + frmMain->Texts().msgFinishInfo
                           + QStringLiteral("\r\n\r\n") + frmMain->Texts().msgFailedFiles
                           + QStringLiteral("\r\n/home/user/Videos/broken.avi"),
                       QMessageBox::Yes | QMessageBox::No, QStringLiteral("msg-finish"));
    }

    QTextStream(stdout) << g_saved << " pictures in " << g_outputFolder << '\n';
    frmMain->close();
    return 0;
}
