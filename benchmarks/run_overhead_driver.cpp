// Drives one conversion run through the real main window (offscreen) for
// benchmarks/run_overhead.sh: queues the given clips, clicks Convert, answers
// the end message with No, and prints what the run cost this process.
//
//   run_overhead_driver [--parallel N] PROGRAM_FOLDER OUTPUT_FOLDER CLIP...
//
// --parallel N stores N files converted at once (the program caps it at the
// number of cores); without it the program's default applies.
// PROGRAM_FOLDER must hold libm9s; its config.ini is written here.
#include "app/Application.h"
#include "app/MainWindow.h"
#include "common/ErrorReport.h"
#include "conversion/ConversionRun.h"

#include <QAction>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

namespace {
// Answers the end message with No as soon as it is shown. Reacting to the
// show event (instead of polling for modal windows on a timer) keeps the
// process asleep while it waits, so its CPU time is the run's own.
class EndMessageAnswerer : public QObject
{
public:
    int answered = 0;
    int unexpected = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Show)
            return false;
        auto *box = qobject_cast<QMessageBox *>(watched);
        if (!box) {
            if (auto *dialog = qobject_cast<QDialog *>(watched)) {
                ++unexpected;
                QTimer::singleShot(0, dialog, &QDialog::reject);
            }
            return false;
        }
        if (box->objectName() == QLatin1String("msgFinishInfo"))
            ++answered;
        else
            ++unexpected;
        QTimer::singleShot(0, box, [box] {
            if (QAbstractButton *no = box->button(QMessageBox::No))
                no->click();
            else
                box->reject();
        });
        return false;
    }
};

double CpuMilliseconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}
}

int main(int argc, char *argv[])
{
    TApplication app(argc, argv);
    QStringList args = app.arguments();
    QByteArray parallel;
    if (args.size() > 2 && args[1] == QLatin1String("--parallel")) {
        parallel = "parallelFiles=" + args[2].toUtf8() + "\n";
        args.remove(1, 2);
    }
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: run_overhead_driver [--parallel N] PROGRAM_FOLDER OUTPUT_FOLDER CLIP...\n");
        return 2;
    }
    const QString programFolder = args[1];
    {
        QFile config(programFolder + QStringLiteral("/config.ini"));
        if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 2;
        config.write("[setting]\noutputFolder=" + args[2].toUtf8() + "\nautoPowerOff=0\n" + parallel);
    }
    int errors = 0;
    SetErrorReporter([&errors](const QString &text) {
        ++errors;
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    });

    app.CreateForms(programFolder);
    frmMain->show();
    for (int i = 3; i < args.size(); ++i)
        frmMain->AddFile(args[i]);
    app.processEvents();

    EndMessageAnswerer answers;
    app.installEventFilter(&answers);
    auto *convert = frmMain->findChild<QAction *>(QStringLiteral("ActionConvertNow"));

    const double selfBefore = CpuMilliseconds(RUSAGE_SELF);
    const double childrenBefore = CpuMilliseconds(RUSAGE_CHILDREN);
    QElapsedTimer wall;
    wall.start();
    try {
        convert->trigger();
    } catch (...) {
        ReportCurrentException();
    }
    // The run goes on from the event loop: the clock stops once its end
    // message was answered (or an error ended it without one). The loop
    // sleeps between events, so the process's CPU time stays its own.
    while (errors == 0 && answers.unexpected == 0 && (frmMain->ConversionRun()->IsActive() || answers.answered == 0))
        app.processEvents(QEventLoop::WaitForMoreEvents);
    const double wallMs = wall.nsecsElapsed() / 1e6;
    const double selfMs = CpuMilliseconds(RUSAGE_SELF) - selfBefore;
    const double childrenMs = CpuMilliseconds(RUSAGE_CHILDREN) - childrenBefore;

    std::printf("files=%d wall_ms=%.1f gui_cpu_ms=%.1f encoder_cpu_ms=%.1f errors=%d unexpected_dialogs=%d\n",
                int(args.size() - 3), wallMs, selfMs, childrenMs, errors, answers.unexpected);
    app.removeEventFilter(&answers);
    return errors == 0 && answers.unexpected == 0 && answers.answered == 1 ? 0 : 1;
}
