#include "conversion/MediaProbe.h"

#include "console/ConsoleIO.h"
#include "conversion/AudioTracks.h"
#include "conversion/CommandLineBuilder.h"
#include "libm9s/EncoderContract.h"

#include <QDir>

#include <algorithm>

TMediaProbe::TMediaProbe(const QString &encoderFolder, QObject *parent)
    : QObject(parent), m_program(QDir(encoderFolder).filePath(TFFMpeg::ExecutableName()))
{
    m_io = new TConsoleIO(this);
    m_io->setObjectName(QStringLiteral("ProbeIO"));
    // A probe only reads: it is ended at once, not asked to stop.
    m_io->TerminateCommand.clear();
    m_io->EnableKill = true;
    m_io->StopProcessOnFree = true;
    m_io->SplitMode = TSplitMode::smNone;
    connect(m_io, &TConsoleIO::OnReceiveOutput, this,
            [this](TConsoleIO *, const QByteArray &text) { m_output += text; });
    connect(m_io, &TConsoleIO::OnProcessStatusChange, this, &TMediaProbe::ProcessStatusChanged);
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, m_io, &TConsoleIO::StopProcess);
}

TMediaProbe::~TMediaProbe()
{
    // Nothing is reported to a queue that may be gone already.
    m_io->disconnect(this);
}

void TMediaProbe::Request(const QString &source)
{
    if (m_known.contains(source) || source == m_current
        || std::find(m_waiting.begin(), m_waiting.end(), source) != m_waiting.end())
        return;
    m_waiting.push_back(source);
    if (m_current.isNull())
        // Later, so a folder search that adds thousands is not held up.
        QMetaObject::invokeMethod(this, &TMediaProbe::StartNext, Qt::QueuedConnection);
}

void TMediaProbe::Hurry(const QString &source)
{
    const auto waiting = std::find(m_waiting.begin(), m_waiting.end(), source);
    if (waiting == m_waiting.end())
        return Request(source);
    m_waiting.erase(waiting);
    m_waiting.push_front(source);
}

void TMediaProbe::StartNext()
{
    while (m_current.isNull() && !m_waiting.empty()) {
        m_current = m_waiting.front();
        m_waiting.pop_front();
        m_output.clear();
        try {
            m_io->StartProcess(m_program, {QLatin1String(EncoderContract::ProbeOption), m_current}, QString(), false);
            m_timeout.start(TimeoutMs);
        } catch (...) {
            // No encoder to ask: the file has no tracks we know of.
            Finish(MediaFactsOf({}));
        }
    }
}

void TMediaProbe::ProcessStatusChanged(TConsoleIO *, bool running)
{
    if (running || m_current.isNull())
        return;
    m_timeout.stop();
    const bool listed = m_io->LastExitCode() == 0;
    const QString listing = listed ? QString::fromUtf8(m_output) : QString();
    TMediaFacts facts = MediaFactsOf(ParseTrackList(listing), ParseChapterList(listing));
    facts.Readable = listed;
    Finish(facts);
    QMetaObject::invokeMethod(this, &TMediaProbe::StartNext, Qt::QueuedConnection);
}

void TMediaProbe::Finish(const TMediaFacts &facts)
{
    const QString source = std::exchange(m_current, QString());
    m_known.insert(source, facts);
    emit Probed(source, facts);
}
