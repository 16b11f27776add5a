#include "conversion/ConversionRun.h"

#include "console/ConsoleIO.h"
#include "conversion/AudioTracks.h"
#include "conversion/KeptOriginal.h"
#include "conversion/OutputFiles.h"
#include "conversion/OutputNames.h"
#include "encoder/libm9s/EncoderContract.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>

// One file goes through these steps, top to bottom:
//   ConvertRow      takes the row and its source
//   ResolveTarget   the output name, after the file-exists question
//   (TKeptOriginal) an existing file is moved aside, not emptied
//   WritePlaceholder the target exists from the moment its name is chosen
//   StartEncoder    libm9s with the owner's options of this moment
//   WaitForEncoder  the event loop runs until the encoder ended
//   FinishFile      keeps the new file or brings the old one back

namespace {
// Keeps a flag set while a scope runs, however it is left.
class TFlagGuard
{
public:
    explicit TFlagGuard(bool &flag) : m_flag(flag) { m_flag = true; }
    ~TFlagGuard() { m_flag = false; }
    TFlagGuard(const TFlagGuard &) = delete;
    TFlagGuard &operator=(const TFlagGuard &) = delete;

private:
    bool &m_flag;
};

bool IsProgressReport(const QString &line)
{
    return line.contains(QLatin1String(EncoderContract::DurationOpen))
           || line.contains(QLatin1String(EncoderContract::TimeOpen));
}
}

TConversionRun::TConversionRun(IConversionOwner &owner, QObject *parent) : QObject(parent), m_owner(owner)
{
    FOverwriteChoice = ocAsk;
    ConsoleIO = new TConsoleIO(this);
    ConsoleIO->setObjectName(QStringLiteral("ConsoleIO"));
    ConsoleIO->TerminateCommand = QByteArray(EncoderContract::StopCommand);
    ConsoleIO->SplitMode = TSplitMode::smSplitchar;
    ConsoleIO->SplitChar = EncoderContract::LineEnd;
    ConsoleIO->WaitTimeout = 1000;
    ConsoleIO->EnableKill = true;
    ConsoleIO->StopProcessOnFree = true;
    connect(ConsoleIO, &TConsoleIO::OnReceiveOutput, this, &TConversionRun::ReceiveOutput);
    connect(ConsoleIO, &TConsoleIO::OnReceiveError, this, &TConversionRun::ReceiveError);
    connect(ConsoleIO, &TConsoleIO::OnProcessStatusChange, this,
            [this](TConsoleIO *, bool running) { emit EncoderRunningChanged(running); });
}

TConversionRun::~TConversionRun() = default;

bool TConversionRun::IsEncoderRunning() const { return ConsoleIO && ConsoleIO->IsRunning(); }

bool TConversionRun::Run(QString folder)
{
    if (m_runActive || !ConsoleIO)
        return false;
    m_closing = false;
    const TFlagGuard active(m_runActive);
    FContinue = true;
    m_failedSources.clear();
    m_writtenThisRun.clear();
    ForceOutputFolder(folder);
    // What a crashed run of another program left here goes back first.
    RecoverKeptOriginals(folder);

    const int count = m_owner.RowCount();
    for (int row = 0; row < count; ++row) {
        if (Interrupted())
            return false;
        if (row >= m_owner.RowCount())
            break; // rows removed while the controls were enabled
        folder = WithTrailingSlash(folder);
        if (!ConvertRow(row, folder))
            return false;
    }
    // A stop during the last file ends the run like one during any other:
    // without the end report.
    if (!FContinue)
        return false;
    FContinue = true;
    emit RunFinished(folder, m_failedSources);
    return true;
}

bool TConversionRun::ConvertRow(int row, const QString &folder)
{
    m_file = TRunningFile{};
    m_file.Row = row;
    m_file.Source = m_owner.SourceOfRow(row);
    emit FileStarted(row, m_file.Source);

    const bool named = ResolveTarget(folder);
    // The question is modal and runs its own event loop: a close or stop
    // that came meanwhile must not start another file.
    if (Interrupted())
        return false;
    if (!named) {
        emit FileFinished(row, m_file.Source, TFileOutcome::Skipped, QString());
        return true;
    }

    TKeptOriginal original(m_file.Target);
    WritePlaceholder(m_file.Target);
    m_writtenThisRun.insert(m_file.Target);
    StartEncoder(original);
    WaitForEncoder();
    const TFileOutcome outcome = FinishFile(original);
    if (m_closing || !ConsoleIO)
        return false;
    emit FileFinished(row, m_file.Source, outcome, m_file.LastErrorLine);
    return true;
}

bool TConversionRun::ResolveTarget(const QString &folder)
{
    const TOutputOptions options = m_owner.CurrentOptions();
    const TOutputPlan plan = PlanOutput(options.Extension, m_owner.AudioTrackOfRow(m_file.Row),
                                        options.PreferredLanguage,
                                        [this] { return ProbeAudioTracks(m_owner.EncoderFolder(), m_file.Source); });
    m_file.AudioTrack = plan.AudioTrack;
    const QString path = OutputFilePath(folder, m_file.Source, plan.Extension);
    m_file.Target = ResolveTargetFile(path);
    return !m_file.Target.isEmpty();
}

void TConversionRun::StartEncoder(TKeptOriginal &original)
{
    // A missing source leaves the input out: the encoder fails on its own.
    const QString inputFile = QFileInfo::exists(m_file.Source) ? m_file.Source : QString();
    const TEncoderCommand command = BuildEncoderCommand(inputFile, m_file.Target);
    try {
        ConsoleIO->StartProcess(command.Program, command.Arguments, QString(), false);
    } catch (...) {
        if (!original.IsHeld())
            RemoveBarePlaceholder(m_file.Target);
        throw; // a kept original goes back as it leaves scope
    }
}

void TConversionRun::WaitForEncoder()
{
    // Sleeps until the next event: the encoder's output, its end or the
    // user; nothing is polled.
    while (ConsoleIO && ConsoleIO->IsRunning())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

TFileOutcome TConversionRun::FinishFile(TKeptOriginal &original)
{
    const bool stopped = Interrupted() || !ConsoleIO;
    const bool failed = !stopped && ConsoleIO->LastExitCode() != EncoderContract::ExitDone;
    const bool neverWritten = SettleTarget(original, stopped, failed);
    // A stopped file is not a failure.
    if (stopped)
        return TFileOutcome::Stopped;
    if (neverWritten || failed) {
        m_failedSources.append(m_file.Source);
        return TFileOutcome::Failed;
    }
    return TFileOutcome::Converted;
}

bool TConversionRun::SettleTarget(TKeptOriginal &original, bool stopped, bool failed)
{
    const QString &target = m_file.Target;
    // A target still holding only the placeholder was never written: an
    // encoder that failed, or one killed by a stop before its first bytes.
    // Whatever the encoder did write stays as it left it, unless it only
    // stands in the way of the file it was to replace.
    if (!original.IsHeld())
        return RemoveBarePlaceholder(target);
    const QFileInfo info(target);
    const bool holdsAudio = info.exists() && !IsBarePlaceholder(target);
    const TEncoderEnd end = stopped ? TEncoderEnd::Stopped : failed ? TEncoderEnd::Failed : TEncoderEnd::Succeeded;
    if (ReplacementWins(end, holdsAudio)) {
        original.Discard();
    } else {
        original.Restore();
        m_writtenThisRun.remove(target); // the user's file again, not the run's
    }
    return !holdsAudio;
}

void TConversionRun::StopConversion()
{
    FContinue = false;
    if (ConsoleIO)
        ConsoleIO->StopProcess();
}

void TConversionRun::Close()
{
    if (!m_runActive)
        return;
    // The waiting run sees this and ends without another file or report.
    m_closing = true;
    FContinue = false;
    if (ConsoleIO && ConsoleIO->IsRunning()) {
        ConsoleIO->StopProcess();
        // Released: nothing of this run may reach the owner any more. The
        // object itself goes once control is back in the event loop, since
        // the close may have been reached from inside one of its own events.
        ConsoleIO->disconnect(this);
        ConsoleIO->deleteLater();
        ConsoleIO = nullptr;
    }
}

TEncoderCommand TConversionRun::BuildEncoderCommand(const QString &Source, const QString &Target)
{
    const TOutputOptions options = m_owner.CurrentOptions();
    return ::BuildEncoderCommand(FFMpeg, m_owner.EncoderFolder(), Source, Target, options.Extension, options.Bitrate,
                                 options.SampleRate, options.Channels, m_file.AudioTrack);
}

QString TConversionRun::ResolveTargetFile(const QString &Path)
{
    return ::ResolveTargetFile(
        Path, FOverwriteChoice, [this, &Path] { return m_owner.AskFileExists(Path); }, m_writtenThisRun);
}

TProgressView TConversionRun::ParseEncoderOutput(const QString &Text)
{
    // Values read before a bad one are kept, as the display of this chunk is dropped.
    TProgressState state{m_file.FDuration, m_file.FMaxTime};
    TProgressView view;
    try {
        view = ReadProgressChunk(Text, state);
    } catch (...) {
        m_file.FDuration = state.Duration;
        m_file.FMaxTime = state.MaxTime;
        throw;
    }
    m_file.FDuration = state.Duration;
    m_file.FMaxTime = state.MaxTime;
    return view;
}

void TConversionRun::ReceiveOutput(TConsoleIO *, const QByteArray &Cmd)
{
    // After a stop nothing more of this file is reported.
    if (!FContinue)
        return;
    emit FileProgress(m_file.Row, ParseEncoderOutput(QString::fromUtf8(Cmd)));
}

void TConversionRun::ReceiveError(TConsoleIO *, const QByteArray &Cmd)
{
    if (!FContinue)
        return;
    const QString text = QString::fromUtf8(Cmd);
    // libm9s says why it failed in its last line on standard error; one
    // chunk may carry several lines.
    static const QRegularExpression lineEnds(QStringLiteral("[\\r\\n]"));
    for (const QString &piece : text.split(lineEnds, Qt::SkipEmptyParts)) {
        const QString line = piece.trimmed();
        if (!line.isEmpty() && !IsProgressReport(line))
            m_file.LastErrorLine = line;
    }
    emit FileProgress(m_file.Row, ParseEncoderOutput(text));
}
