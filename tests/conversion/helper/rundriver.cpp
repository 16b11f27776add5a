// A conversion run without a window, for the test that kills the program in
// the middle of an overwrite:
//   rundriver <encoder folder> <output folder> <config.ini> <source>...
// Every existing target is overwritten. "writing" goes to standard output at
// the encoder's first report, so the test knows when to strike.
#include "conversion/ConversionRun.h"
#include "conversion/FileQueue.h"
#include "conversion/OutputNames.h"
#include "conversion/TemporaryOutput.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    TFileQueue queue;
    for (const QString &source : arguments.mid(4))
        queue.Append(source);
    TConversionRun run(queue);
    run.FOverwriteChoice = ocOverwriteAll;
    QObject::connect(&run, &TConversionRun::FileProgress, [] {
        std::puts("writing");
        std::fflush(stdout);
    });
    bool through = false;
    QObject::connect(&run, &TConversionRun::RunFinished, [&through] { through = true; });
    QObject::connect(&run, &TConversionRun::RunEnded, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    if (!run.Start({arguments.value(2), arguments.value(1), TOutputOptions{}, 1}))
        return 1;
    app.exec();
    return through ? 0 : 1;
}
