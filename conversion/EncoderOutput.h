#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Reading the encoder's progress reports. The encoder writes the source's
// duration between "ffmpeg_release_duration=" and "=ffmpeg_release_duration"
// (h:m:s.fraction) and the seconds converted so far between
// "ffmpeg_release_time=" and "=ffmpeg_release_time"; several reports may
// share one chunk of output.

// The text between the last complete Open...Close pair of text; empty when
// there is none. Taking the last pair makes a chunk with several reports
// yield the newest one and passes over a pair cut off at the end.
QString ExtractMarked(const QString &text, const QString &open, const QString &close);

// The pieces of text between separators, with every empty piece dropped.
QStringList SplitText(const QString &text, const QString &separator);

// "h:m:s.fraction" in whole seconds; 0 for any other shape ("00:03:25" or
// "1:2.0"). Raises "'%s' is not a valid integer value" when a piece is not a
// whole decimal number. The fraction is checked but not used.
qint64 ClockToSeconds(const QString &text);

// Seconds as "hh:mm:ss", each part at least two digits (360000 gives 100:00:00).
QString SecondsToClock(qint64 seconds);

// A decimal text with "." as point, whatever the user's locale, rounded to the
// nearest whole number with halves to the even neighbour. Raises
// "'%s' is not a valid floating point value" otherwise.
qint64 RoundedSeconds(const QString &text);

// Rounds halves to the even neighbour (2.5 gives 2, 3.5 gives 4).
qint64 RoundHalfEven(double value);

// The trimming applied to marked values: blanks and control characters off both ends.
QString TrimControls(const QString &text);

// What the progress display keeps between two chunks of one file.
struct TProgressState
{
    qint64 Duration = 0; // seconds, from the last duration marker
    qint64 MaxTime = 0;  // highest time marker seen, in seconds
};

// What one chunk makes the display show.
struct TProgressView
{
    int Percent = 0;      // 0 to 99: a file in progress never shows 100
    QString EndClock;     // the duration as "hh:mm:ss" (00:00:01 when unknown)
    QString LeftClock;    // what is left of the file as "hh:mm:ss"; EndClock while the duration is unknown
    qint64 Duration = 0;  // seconds; 0 while the encoder has reported none
    qint64 Converted = 0; // the highest time seen, in seconds
    // The encoder converts but never said how long the source is: no share
    // of it can be shown.
    bool Unmeasured() const { return Duration <= 0 && Converted > 0; }
};

// Folds one chunk into state and returns the display for it. A bad value
// raises after the values read before it have been stored in state.
TProgressView ReadProgressChunk(const QString &text, TProgressState &state);

// Delphi-style formatting of a text with text arguments only: "%s",
// "%0:s", "%-8s", "%.3s" and "%%". Any other placeholder, or one without an
// argument, raises "Format '%s' invalid or incompatible with argument".
QString FormatText(const QString &format, const QStringList &arguments);

// text when the status line can be made from it, otherwise fallback. A
// language file's msgStatusRun is checked once when it is loaded: a text
// FormatText refuses would otherwise raise at every progress chunk.
QString UsableStatusRunText(const QString &text, const QString &fallback);
// text when FormatText takes it with `arguments` numbers, else fallback.
QString UsableFormatText(const QString &text, const QString &fallback, int arguments);

// The status line: msgStatusRun filled with "row/count", then " [-Left]" (the
// time left of the file, counting down) and the source's full path. row counts from 1.
QString ProgressStatusText(const QString &msgStatusRun, int row, int count, const QString &leftClock,
                           const QString &source);
