// Drives one conversion run through the real main window (offscreen) for
// benchmarks/run_overhead.sh: queues the given clips, clicks Convert, answers
// the end message with No, and prints what the run cost this process.
//
//   run_overhead_driver PROGRAM_FOLDER OUTPUT_FOLDER CLIP...
//
// PROGRAM_FOLDER must hold libm9s; its config.ini is written here.
#include "Application.h"
#include "ErrorReport.h"
#include "ModalAnswerer.h"
#include "Startup.h"
#include "UnitMain.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <sys/resource.h>

namespace {
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
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: run_overhead_driver PROGRAM_FOLDER OUTPUT_FOLDER CLIP...\n");
        return 2;
    }
    const QString programFolder = args[1];
    {
        QFile config(programFolder + QStringLiteral("/config.ini"));
        if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 2;
        config.write("[setting]\noutputFolder=" + args[2].toUtf8() + "\nautoPowerOff=0\n");
    }
    int errors = 0;
    SetErrorReporter([&errors](const QString &text) {
        ++errors;
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    });

    CreateApplicationForms(programFolder);
    frmMain->show();
    for (int i = 3; i < args.size(); ++i)
        frmMain->AddFile(args[i]);
    app.processEvents();

    ModalAnswerer answers;
    answers.expect(ModalAnswerer::messageBox(QMessageBox::No));
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
    const double wallMs = wall.nsecsElapsed() / 1e6;
    const double selfMs = CpuMilliseconds(RUSAGE_SELF) - selfBefore;
    const double childrenMs = CpuMilliseconds(RUSAGE_CHILDREN) - childrenBefore;

    std::printf("files=%d wall_ms=%.1f gui_cpu_ms=%.1f encoder_cpu_ms=%.1f errors=%d unexpected_dialogs=%d\n",
                int(args.size() - 3), wallMs, selfMs, childrenMs, errors, int(answers.unexpected.size()));
    DestroyApplicationForms();
    return errors == 0 && answers.unexpected.isEmpty() ? 0 : 1;
}
