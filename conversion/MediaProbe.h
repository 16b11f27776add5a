#pragma once

#include "conversion/MediaFacts.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>

class TConsoleIO;

// Learns what sources hold by running `libm9s -probe` through a runner of its
// own, one source at a time, in the order asked. Nothing waits for it: each
// answer comes as Probed, and is kept, so a path is probed once.
class TMediaProbe : public QObject
{
    Q_OBJECT
public:
    // encoderFolder holds libm9s.
    explicit TMediaProbe(const QString &encoderFolder, QObject *parent = nullptr);
    ~TMediaProbe() override;

    // A probe that takes longer gives no tracks: a file on a hung drive.
    int TimeoutMs = 15000;

    // What is known of source; Known is false until its probe answered.
    TMediaFacts Facts(const QString &source) const { return m_known.value(source); }
    // Probes source unless it is known or waiting already.
    void Request(const QString &source);
    // Puts source first in line: a run waits for it.
    void Hurry(const QString &source);
    bool IsIdle() const { return m_current.isNull() && m_waiting.empty(); }

signals:
    void Probed(const QString &source, const TMediaFacts &facts);

private:
    void StartNext();
    void Finish(const TMediaFacts &facts);
    void ProcessStatusChanged(TConsoleIO *sender, bool running);

    QString m_program;
    TConsoleIO *m_io = nullptr;
    QTimer m_timeout;
    std::deque<QString> m_waiting;
    QString m_current; // null while nothing is probed
    QByteArray m_output;
    QHash<QString, TMediaFacts> m_known;
};
