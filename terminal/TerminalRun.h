#pragma once

#include "conversion/ConversionRun.h"
#include "conversion/FileQueue.h"
#include "conversion/FileReport.h"
#include "conversion/MediaProbe.h"
#include "conversion/RunEstimate.h"
#include "conversion/SourcePaths.h"
#include "terminal/CommandLine.h"
#include "terminal/TerminalReport.h"
#include "terminal/TerminalTexts.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>

class TSettings;

// A run without a window: the paths of the command line go through the
// queue's rules into a queue, the run converts it as the window's would,
// and the report prints on standard error. Nobody is asked anything: the
// command line says what to do with existing files.
class TTerminalRun : public QObject
{
    Q_OBJECT
public:
    TTerminalRun(const TCommandLine &command, const QString &programFolder, const TSettings &settings,
                 QObject *parent = nullptr);

    // Queues the paths and starts the run; the end comes as Finished.
    void Start();
    // SIGINT or SIGTERM: the run stops as Stop does in the window.
    void Stop();

signals:
    void Finished(int exitStatus);

private:
    void QueuePath(const QString &path);
    void QueueFile(const QByteArray &native, const QString &root);
    void NotQueued(const QString &path, const QString &why);
    TRunSettings RunSettingsNow() const;
    QString NameOf(int row, const QString &source) const;
    void FileStarted(int row, const QString &source);
    void ShowProgress(int row, const TProgressView &view);
    void FileFinished(int row, const QString &source, TFileOutcome outcome, const TFileReport &report);
    void RunEnded();
    void EndReport();

    TCommandLine m_command;
    QString m_programFolder;
    const TSettings &m_settings;
    TSourceLinks m_links;
    TFileQueue m_queue;
    TMediaProbe m_probe;
    TConversionRun m_run;
    TRunEstimate m_estimate;
    TTerminalReport m_report;
    TTerminalTexts m_texts;
    QElapsedTimer m_clock;
    int m_ended = 0;
    qint64 m_lastShownMs = -1;
    QHash<int, qint64> m_lastEventMs; // by row: when its last progress event was written
    TRunSettings m_settingsNow;       // what the run was started with
};

// The whole terminal run as main() starts it: a QCoreApplication, the
// settings from config.ini, SIGINT and SIGTERM caught. Returns the exit status.
int RunInTerminal(int &argc, char **argv, const TCommandLine &command);
