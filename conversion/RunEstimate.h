#pragma once

#include <QString>
#include <QtGlobal>

#include <map>

// How far a whole run is and how long the rest will take, from what the
// encoders report: each file's duration and the time converted so far.
// Files not started yet have no duration until the encoder reads them, so
// they count with the average duration of the files seen so far, and the
// rest goes at the speed of the run so far (every encoder together).
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
    void FileStarted(int row);
    void FileProgress(int row, qint64 duration, qint64 converted);
    // converted: the file went through and counts as wholly done; otherwise
    // (failed, skipped, stopped) only what was converted of it counts.
    void FileFinished(int row, bool converted);

    TView Estimate(double elapsedSeconds) const;

private:
    struct TFile
    {
        qint64 Duration = 0; // 0 while unknown
        qint64 Converted = 0;
        bool Finished = false;
    };
    int m_files = 0;
    std::map<int, TFile> m_seen; // by row: files that started
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
