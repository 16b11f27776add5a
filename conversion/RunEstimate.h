#pragma once

#include <QString>
#include <QtGlobal>

#include <map>

// How far a whole run is and how long the rest will take, from what the
// encoders report: each file's duration and the time converted so far. A file
// not started yet counts with the length its probe found, else with the
// average of the lengths known; the rest goes at the speed of the run so far
// (every encoder together), counted without the time the run stood still:
// while a question waits and no other file is at work. An encoder that goes
// on beside the question keeps the clock going, or the work it does would
// count without its time and the rest would look quick.
// The share shown never goes back.
class TRunEstimate
{
public:
    struct TView
    {
        int Percent = 0;         // of the whole run; 100 only when nothing is left
        qint64 SecondsLeft = -1; // -1 until there is a speed and a duration to go by
    };

    // A run of files rows begins.
    void Start(int files);
    // The probed length of a row's file; 0 when unknown.
    void FileLength(int row, qint64 seconds);
    void FileStarted(int row);
    void FileProgress(int row, qint64 duration, qint64 converted);
    // converted: the file went through and counts as wholly done; otherwise
    // (failed, skipped, stopped) only what was converted of it counts.
    void FileFinished(int row, bool converted);

    // A question about row waits from and until these moments of the run's
    // clock; row -1: the whole run waits, whatever else is started.
    void Pause(double atSeconds, int row = -1);
    void Resume(double atSeconds);

    TView Estimate(double elapsedSeconds);

private:
    struct TFile
    {
        qint64 Duration = 0; // 0 while unknown
        qint64 Converted = 0;
        bool Finished = false;
    };
    int m_files = 0;
    std::map<int, TFile> m_seen;    // by row: files that started
    std::map<int, qint64> m_probed; // by row: lengths known before the start
    // Moves the working clock on to atSeconds: the time since the last
    // call counts unless the run stood still.
    void Tick(double atSeconds);
    bool StandsStill() const;

    double m_workingSeconds = 0; // of the run's clock, up to m_clockAt
    double m_clockAt = 0;
    bool m_waiting = false; // a question waits
    int m_waitingRow = -1;  // ... about this row; -1: the run waits as a whole
    int m_shownPercent = 0;
};

// The texts a span of time is written with, each with "%s" for its numbers.
struct TSpanTexts
{
    QString Seconds = QStringLiteral("%s s");               // 45 s
    QString Minutes = QStringLiteral("%s min");             // 3 min
    QString MinutesSeconds = QStringLiteral("%s min %s s"); // 4 min 12 s
    QString Hours = QStringLiteral("%s h");                 // 2 h
    QString HoursMinutes = QStringLiteral("%s h %s min");   // 1 h 5 min
};

// A span for people: exact to the second below an hour, to the minute above.
QString SpanText(qint64 seconds, const TSpanTexts &texts);
// A guess at a span: to five seconds below a minute, whole minutes below an
// hour, hours and minutes above; never "0 s".
QString RoughSpanText(qint64 seconds, const TSpanTexts &texts);
// The time a run took: to a tenth of a second below ten seconds ("0.8 s"),
// whole seconds below a minute ("17 s"), then as SpanText; never "0 s".
QString ElapsedText(qint64 ms, const TSpanTexts &texts);
