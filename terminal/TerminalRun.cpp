#include "terminal/TerminalRun.h"

#include "common/ConfigLocation.h"
#include "common/ErrorReport.h"
#include "common/LanguageFile.h"
#include "common/Settings.h"
#include "common/TolvaneError.h"
#include "conversion/EncoderCommand.h"
#include "conversion/FileQueueRules.h"
#include "conversion/OutputNames.h"
#include "conversion/SourcePaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The encoder counts tracks from 0, --track from 1: a track the file does
// not have is told as the user asked for it.
QString TrackAsGiven(const QString &reason)
{
    static const QRegularExpression line(
        QStringLiteral("has no audio track (\\d+) \\(it has (\\d+), counted from 0\\)"));
    const QRegularExpressionMatch match = line.match(reason);
    if (!match.hasMatch())
        return reason;
    return QStringLiteral("there is no audio track %1: it has %2")
        .arg(match.captured(1).toInt() + 1)
        .arg(match.captured(2));
}

// Why a file ended as it did, as the window says it in the user's language.
QString ReasonOf(TFileOutcome outcome, TFileReport report, const TReportTexts &texts)
{
    QStringList parts;
    if (report.ChapterFiles > 0)
        parts << QStringLiteral("%1 chapter file%2").arg(report.ChapterFiles).arg(report.ChapterFiles == 1 ? "" : "s");
    // A track the file does not have is said as the user asked for it, and is all there is to say.
    const QString track = TrackAsGiven(report.Detail);
    if (outcome == TFileOutcome::Failed && track != report.Detail) {
        if (report.Chapter > 0)
            parts << FormatText(texts.Chapter, {QString::number(report.Chapter), QString::number(report.Chapters)});
        return (parts << track).join(QStringLiteral("; "));
    }
    if (outcome != TFileOutcome::Converted)
        parts << ReportText(outcome, report, texts);
    if (outcome == TFileOutcome::Converted && report.BesideSource)
        parts << ReportText(outcome, report, texts);
    if (outcome == TFileOutcome::Skipped && !report.Detail.isEmpty())
        parts << report.Detail;
    if (outcome == TFileOutcome::Skipped && parts.join(QString()).isEmpty())
        parts << QStringLiteral("the output exists");
    if (report.LanguageUnmatched)
        parts << QStringLiteral("no audio track in that language: the default track was taken");
    parts.removeAll(QString());
    return parts.join(QStringLiteral("; "));
}

// Why a path named on the command line (or found in a folder) is no file to convert.
QString WhyNotAFile(const QByteArray &native)
{
    if (native.size() >= PATH_MAX)
        return QStringLiteral("the path is longer than the %1 bytes the system takes").arg(PATH_MAX);
    struct stat info;
    if (::stat(native.constData(), &info) != 0)
        return errno == ENOENT ? QStringLiteral("no such file") : QString::fromLocal8Bit(std::strerror(errno));
    return S_ISDIR(info.st_mode) ? QStringLiteral("a folder") : QStringLiteral("not a file");
}

quint8 ChoiceOf(TExistingPolicy policy)
{
    switch (policy) {
    case TExistingPolicy::Overwrite:
        return ocOverwriteAll;
    case TExistingPolicy::Rename:
        return ocRenameAll;
    case TExistingPolicy::Skip:
        break;
    }
    return ocSkipAll;
}

// A signal handler may only write to a pipe; the event loop reads the other end.
int g_signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}
}

TTerminalRun::TTerminalRun(const TCommandLine &command, const QString &programFolder, const TSettings &settings,
                           QObject *parent)
    : QObject(parent), m_command(command), m_programFolder(programFolder), m_settings(settings), m_probe(programFolder),
      m_run(m_queue, &m_probe), m_report(stderr, ::isatty(STDERR_FILENO) == 1, command.Convert.Quiet,
                                         command.Convert.Progress == TProgressStyle::Json),
      // A program reads the reasons of the JSON events: they stay in English.
      m_texts(
          TerminalTextsOf(QDir(programFolder).filePath(LanguageFileName(m_report.IsJson() ? 2 : settings.Language())),
                          QDir(programFolder).filePath(LanguageFileName(2))))
{
    m_report.SetTexts(m_texts.Tally);
    m_queue.SetProbe(&m_probe);
    connect(&m_run, &TConversionRun::FileStarted, this, &TTerminalRun::FileStarted);
    connect(&m_run, &TConversionRun::FileProgress, this, &TTerminalRun::ShowProgress);
    connect(&m_run, &TConversionRun::FileFinished, this, &TTerminalRun::FileFinished);
    connect(&m_run, &TConversionRun::RunEnded, this, &TTerminalRun::RunEnded);
    // The remembered answer covers every file; should the run still ask, the
    // command line's answer is given again.
    connect(&m_run, &TConversionRun::FileExistsAsked, this,
            [this] { m_run.AnswerFileExists(ChoiceOf(m_command.Convert.Existing)); });
}

void TTerminalRun::Start()
{
    for (const QString &path : m_command.Paths)
        QueuePath(path);
    m_clock.start();
    m_estimate.Start(m_queue.Count());
    m_report.Expect(m_queue.Count());
    for (int row = 0; row < m_queue.Count(); ++row)
        m_estimate.FileLength(row, m_queue.At(row).Facts.Duration);
    m_run.FOverwriteChoice = ChoiceOf(m_command.Convert.Existing);
    m_settingsNow = RunSettingsNow();
    const TRunSettings &settings = m_settingsNow;
    // A level is reached by re-encoding; a copy keeps its audio as it is.
    if (settings.Options.Extension == QLatin1String("copy") && settings.Options.Loudness.startsWith(QLatin1Char('-')))
        m_report.Note(QStringLiteral("--loudness %1 does not apply to copies: the audio is not re-encoded; use "
                                     "replaygain")
                          .arg(settings.Options.Loudness));
    if (m_queue.Count() == 0) {
        RunEnded();
        return;
    }
    try {
        m_run.Start(settings);
    } catch (const TolvaneError &error) {
        ReportError(error.text());
        emit Finished(1);
    }
}

void TTerminalRun::Stop()
{
    if (m_run.IsActive())
        m_run.StopConversion();
}

void TTerminalRun::QueuePath(const QString &path)
{
    const QByteArray native = NativePathOf(path);
    // Each file found would be written over the one before.
    if (m_command.Convert.OutputFile && IsFolder(native))
        return NotQueued(path, QStringLiteral("--output-file takes a file, not a folder"));
    if (IsFolder(native)) {
        TFolderSearch search;
        search.addEntry = [this, &path](const QByteArray &found) {
            if (IsListedMediaPath(ReadablePath(found)))
                QueueFile(found, path);
        };
        search.keepGoing = [] { return true; };
        search.tooLong = [this](const QByteArray &found) { NotQueued(ReadablePath(found), WhyNotAFile(found)); };
        search.Run(path, true, QString());
        return;
    }
    // A file named by itself is taken whatever its extension: the encoder
    // says so if it holds no sound.
    if (!IsRegularFile(native))
        return NotQueued(path, WhyNotAFile(native));
    QueueFile(native, QString());
}

void TTerminalRun::NotQueued(const QString &path, const QString &why)
{
    m_report.Expect(1);
    m_report.FileEnded(TFileOutcome::Failed, path, why);
}

void TTerminalRun::QueueFile(const QByteArray &native, const QString &root)
{
    const QString source = m_links.SourceFor(native);
    if (m_queue.Holds(source))
        return;
    m_queue.Append(source, m_links.ShownPathOf(source));
    const int row = m_queue.Count() - 1;
    m_queue.SetRoot(row, root);
    if (m_command.Convert.AudioTrack)
        m_queue.SetAudioTrack(row, *m_command.Convert.AudioTrack, QString());
}

TRunSettings TTerminalRun::RunSettingsNow() const
{
    const TConvertOptions &given = m_command.Convert;
    TRunSettings run;
    run.Folder = given.OutputFolder.value_or(m_settings.OutputFolder());
    run.EncoderFolder = WithTrailingSlash(m_programFolder);
    run.Options.Extension = given.Format.value_or(FormatName(m_settings.Format()));
    run.Options.Bitrate = given.Bitrate.value_or(m_settings.Bitrate());
    run.Options.SampleRate = given.SampleRate.value_or(m_settings.SampleRate());
    run.Options.Channels = given.Channels.value_or(m_settings.Channels());
    run.Options.PreferredLanguage = given.Language.value_or(m_settings.PreferredAudioLanguage());
    run.Options.VerifyOutput = m_settings.VerifyOutput();
    run.Options.Loudness = given.Loudness.value_or(m_settings.Loudness());
    run.ParallelFiles = given.Jobs.value_or(m_settings.ParallelFiles());
    run.KeepFolders = given.KeepFolders.value_or(m_settings.KeepFolders());
    run.SkipUpToDate = given.SkipUpToDate;
    run.SplitChapters = given.SplitChapters.value_or(m_settings.SplitChapters());
    if (given.OutputFile) {
        run.TargetFile = *given.OutputFile;
        run.Folder = QFileInfo(*given.OutputFile).path();
    }
    run.Texts = m_texts.Report;
    return run;
}

QString TTerminalRun::NameOf(int row, const QString &source) const
{
    // A stand-in link is named by the file it stands for.
    const bool known = row >= 0 && row < m_queue.Count() && !m_queue.At(row).Shown.isEmpty();
    return known ? m_queue.At(row).Shown : source;
}

void TTerminalRun::FileStarted(int row, const QString &source)
{
    const TRunSettings &run = m_settingsNow;
    QString output = run.TargetFile;
    // A copy's extension comes from its track, chapter files from the chapters: known only later.
    const bool named = run.Options.Extension != QLatin1String("copy") && !run.SplitChapters;
    if (output.isEmpty() && named && row >= 0 && row < m_queue.Count())
        output = OutputFilePath(
            OutputFolderFor(WithTrailingSlash(run.Folder), m_queue.At(row).Root, source, run.KeepFolders), source,
            run.Options.Extension);
    m_report.FileStarted(NameOf(row, source), output);
}

void TTerminalRun::ShowProgress(int row, const TProgressView &view)
{
    m_estimate.FileProgress(row, view.Duration, view.Converted);
    const qint64 now = m_clock.elapsed();
    // A program is told each file's progress at most four times a second.
    if (m_report.IsJson()) {
        const auto last = m_lastEventMs.constFind(row);
        if (last != m_lastEventMs.cend() && now - *last < 250)
            return;
        m_lastEventMs.insert(row, now);
        const QString source = row >= 0 && row < m_queue.Count() ? m_queue.At(row).Source : QString();
        m_report.FileProgress(NameOf(row, source), view.Percent, view.Converted);
        return;
    }
    // A terminal needs no more than a few redraws a second.
    if (m_lastShownMs >= 0 && now - m_lastShownMs < 200)
        return;
    m_lastShownMs = now;
    const TRunEstimate::TView estimate = m_estimate.Estimate(double(now) / 1000.0);
    m_report.Progress(estimate.Percent, m_ended, m_queue.Count(), estimate.SecondsLeft);
}

void TTerminalRun::FileFinished(int row, const QString &source, TFileOutcome outcome, const TFileReport &report)
{
    ++m_ended;
    m_estimate.FileFinished(row, outcome == TFileOutcome::Converted);
    // The file written is named; chapter files are counted instead.
    const bool oneFile = report.ChapterFiles == 0 && report.Chapters == 0 && !report.PartKept;
    const bool written = outcome == TFileOutcome::Converted || outcome == TFileOutcome::Incomplete;
    // A program is told of the part a stop kept as of any file left behind;
    // a person reads of it in the reason.
    const bool partKept = outcome == TFileOutcome::Stopped && report.PartKept && report.Chapters == 0;
    m_report.FileEnded(outcome, NameOf(row, source), ReasonOf(outcome, report, m_texts.Report), report.ChapterFiles,
                       (written && oneFile) || (partKept && m_report.IsJson()) ? report.Output : QString());
}

void TTerminalRun::RunEnded()
{
    // The error that ended a run is told once the run has unwound from it; a
    // program reads the summary as the last event, so it waits for that.
    if (m_report.IsJson() && m_run.Failed())
        return void(QMetaObject::invokeMethod(this, &TTerminalRun::EndReport, Qt::QueuedConnection));
    EndReport();
}

void TTerminalRun::EndReport()
{
    // A run an error ended was stopped by it.
    m_report.Summary(m_clock.isValid() ? m_clock.elapsed() : 0, m_run.WasStopped() || m_run.Failed());
    emit Finished(m_report.ExitStatus());
}

int RunInTerminal(int &argc, char **argv, const TCommandLine &command)
{
    QCoreApplication app(argc, argv);
    const QString programFolder = QCoreApplication::applicationDirPath();
    TSettings settings(ChooseConfigFile(programFolder));
    // Errors go to standard error as the usage errors do, with the program's name.
    const bool json = command.Convert.Progress == TProgressStyle::Json;
    SetErrorDisplay([json](const QString &text) {
        if (json)
            std::fputs((TTerminalReport::EventLine({{"event", "error"}, {"text", text}}) + '\n').constData(), stderr);
        else
            std::fprintf(stderr, "tolvane: %s\n", TerminalSafe(text).toLocal8Bit().constData());
        std::fflush(stderr);
    });

    if (::pipe2(g_signalPipe, O_CLOEXEC) != 0)
        return 1;
    QSocketNotifier signalled(g_signalPipe[0], QSocketNotifier::Read);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    TTerminalRun run(command, programFolder, settings);
    QObject::connect(&signalled, &QSocketNotifier::activated, &run, [&run] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(g_signalPipe[0], &byte, 1);
        run.Stop();
    });
    QObject::connect(&run, &TTerminalRun::Finished, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    QMetaObject::invokeMethod(&run, &TTerminalRun::Start, Qt::QueuedConnection);
    return app.exec();
}
