#include "conversion/EncoderOutput.h"

#include "common/TolvaneError.h"
#include "libm9s/EncoderContract.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
const QString DurationOpen = QString::fromLatin1(EncoderContract::DurationOpen);
const QString DurationClose = QString::fromLatin1(EncoderContract::DurationClose);
const QString TimeOpen = QString::fromLatin1(EncoderContract::TimeOpen);
const QString TimeClose = QString::fromLatin1(EncoderContract::TimeClose);

// A whole decimal number as the runtime's integer conversion accepts it: an
// optional sign and digits, within 32 bits.
int WholeNumber(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || text.isEmpty() || text.front().isSpace() || text.back().isSpace())
        throw TolvaneError(ErrorText::NotAnInteger(text));
    return value;
}

QString InvalidFormat(const QString &format)
{
    return QStringLiteral("Format '%1' invalid or incompatible with argument").arg(format);
}

QString ArgumentMissing(const QString &format) { return QStringLiteral("No argument for format '%1'").arg(format); }

// Reads a run of digits at pos; -1 when there is none.
int ReadDigits(const QString &text, qsizetype &pos)
{
    int value = -1;
    while (pos < text.size() && text.at(pos).isDigit() && text.at(pos).unicode() < 128) {
        value = (value < 0 ? 0 : value) * 10 + (text.at(pos).unicode() - '0');
        if (value > 1000000)
            return value;
        ++pos;
    }
    return value;
}
}

QString ExtractMarked(const QString &text, const QString &open, const QString &close)
{
    const qsizetype closeAt = text.lastIndexOf(close);
    if (closeAt < 0)
        return QString();
    // The opening marker must end at or before closeAt, so search from the
    // last position where it can still start.
    const qsizetype latestStart = closeAt - open.size();
    if (latestStart < 0)
        return QString();
    const qsizetype openAt = text.lastIndexOf(open, latestStart);
    if (openAt < 0)
        return QString();
    const qsizetype valueAt = openAt + open.size();
    return text.mid(valueAt, closeAt - valueAt);
}

QStringList SplitText(const QString &text, const QString &separator)
{
    QStringList items;
    if (separator.isEmpty())
        return text.isEmpty() ? items : QStringList{text};
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = text.indexOf(separator, from);
        if (at < 0)
            break;
        if (at > from)
            items.append(text.mid(from, at - from));
        from = at + separator.size();
    }
    if (from < text.size())
        items.append(text.mid(from));
    return items;
}

qint64 ClockToSeconds(const QString &text)
{
    if (text.isEmpty())
        return 0;
    const QStringList parts = SplitText(text, QStringLiteral("."));
    if (parts.size() != 2)
        return 0;
    const QStringList clock = SplitText(parts.at(0), QStringLiteral(":"));
    if (clock.size() != 3)
        return 0;
    const qint64 hours = WholeNumber(clock.at(0));
    const qint64 minutes = WholeNumber(clock.at(1));
    const qint64 seconds = WholeNumber(clock.at(2));
    WholeNumber(parts.at(1)); // a bad fraction fails like a bad clock part
    return hours * 3600 + minutes * 60 + seconds;
}

QString SecondsToClock(qint64 seconds)
{
    const qint64 hours = seconds / 3600;
    const qint64 minutes = (seconds - hours * 3600) / 60;
    const qint64 rest = seconds - hours * 3600 - minutes * 60;
    auto twoDigits = [](qint64 value) {
        return value < 10 ? QStringLiteral("0") + QString::number(value) : QString::number(value);
    };
    return twoDigits(hours) + QLatin1Char(':') + twoDigits(minutes) + QLatin1Char(':') + twoDigits(rest);
}

qint64 RoundHalfEven(double value)
{
    // nearbyint rounds in the default mode, to nearest with ties to even.
    return static_cast<qint64>(std::nearbyint(value));
}

qint64 RoundedSeconds(const QString &text)
{
    // The encoder always writes "." as decimal point, so the user's locale
    // must not decide how the value is read.
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = c.toDouble(text, &ok);
    constexpr double limit = 9.0e18; // well inside 64 bits after rounding
    if (!ok || !std::isfinite(value) || value > limit || value < -limit)
        throw TolvaneError(ErrorText::NotAFloat(text));
    return RoundHalfEven(value);
}

QString TrimControls(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= ' ')
        ++first;
    while (last > first && text.at(last - 1).unicode() <= ' ')
        --last;
    return text.mid(first, last - first);
}

TProgressView ReadProgressChunk(const QString &text, TProgressState &state)
{
    const QString duration = TrimControls(ExtractMarked(text, DurationOpen, DurationClose));
    if (!duration.isEmpty())
        state.Duration = ClockToSeconds(duration);

    qint64 now = state.MaxTime;
    const QString time = TrimControls(ExtractMarked(text, TimeOpen, TimeClose));
    if (!time.isEmpty()) {
        // A lower time than seen before is still shown; only MaxTime keeps the highest.
        now = RoundedSeconds(time);
        if (now > state.MaxTime)
            state.MaxTime = now;
    }

    const qint64 start = 0; // a conversion always begins at the start of the source
    qint64 length = state.Duration - start;
    if (length == 0)
        length = 1;

    TProgressView view;
    view.EndClock = SecondsToClock(start + length);
    // The highest time seen, so the count-down never goes back up.
    view.LeftClock =
        state.Duration > 0 ? SecondsToClock(std::max<qint64>(0, state.Duration - state.MaxTime)) : view.EndClock;
    const qint64 percent = RoundHalfEven(static_cast<double>(now) / static_cast<double>(length) * 100.0);
    // The bar never shows 100 while a file is converted; a negative value
    // (a negative duration or time) would be refused by the bar, so it shows 0.
    view.Percent = static_cast<int>(std::clamp<qint64>(percent, 0, 99));
    view.Duration = state.Duration;
    view.Converted = state.MaxTime;
    return view;
}

QString FormatText(const QString &format, const QStringList &arguments)
{
    QString result;
    qsizetype pos = 0;
    int nextArgument = 0;
    while (pos < format.size()) {
        const QChar c = format.at(pos);
        if (c != QLatin1Char('%')) {
            result += c;
            ++pos;
            continue;
        }
        ++pos;
        if (pos < format.size() && format.at(pos) == QLatin1Char('%')) {
            result += QLatin1Char('%');
            ++pos;
            continue;
        }
        // "%" [index ":"] ["-"] [width] ["." precision] type
        int index = -1;
        bool leftAlign = false;
        int width = ReadDigits(format, pos);
        if (pos < format.size() && format.at(pos) == QLatin1Char(':')) {
            index = width < 0 ? 0 : width;
            width = -1;
            ++pos;
        }
        if (width < 0) {
            if (pos < format.size() && format.at(pos) == QLatin1Char('-')) {
                leftAlign = true;
                ++pos;
            }
            width = ReadDigits(format, pos);
        }
        int precision = -1;
        if (pos < format.size() && format.at(pos) == QLatin1Char('.')) {
            ++pos;
            precision = ReadDigits(format, pos);
            if (precision < 0)
                throw TolvaneError(InvalidFormat(format));
        }
        if (pos >= format.size() || format.at(pos).toLower() != QLatin1Char('s'))
            throw TolvaneError(InvalidFormat(format));
        ++pos;
        if (width > 1000000 || precision > 1000000)
            throw TolvaneError(InvalidFormat(format));
        if (index >= 0)
            nextArgument = index;
        if (nextArgument >= arguments.size())
            throw TolvaneError(ArgumentMissing(format));
        QString value = arguments.at(nextArgument++);
        if (precision >= 0)
            value.truncate(precision);
        if (width > value.size())
            value = leftAlign ? value.leftJustified(width) : value.rightJustified(width);
        result += value;
    }
    return result;
}

QString ProgressStatusText(const QString &msgStatusRun, int row, int count, const QString &leftClock,
                           const QString &source)
{
    const QString position = QStringLiteral("%1/%2").arg(row).arg(count);
    QString status = FormatText(msgStatusRun, {position});
    status += QStringLiteral(" [-%1]").arg(leftClock);
    status += QLatin1Char(' ') + source;
    return status;
}

QString UsableStatusRunText(const QString &text, const QString &fallback)
{
    return UsableFormatText(text, fallback, 1);
}

QString UsableFormatText(const QString &text, const QString &fallback, int arguments)
{
    try {
        FormatText(text, QStringList(arguments, QStringLiteral("1")));
        return text;
    } catch (const TolvaneError &) {
        return fallback;
    }
}
