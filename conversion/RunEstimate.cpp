#include "conversion/RunEstimate.h"

#include "conversion/EncoderOutput.h"

#include <algorithm>
#include <cmath>

void TRunEstimate::Start(int files)
{
    m_files = std::max(files, 0);
    m_seen.clear();
}

void TRunEstimate::FileStarted(int row) { m_seen[row] = TFile{}; }

void TRunEstimate::FileProgress(int row, qint64 duration, qint64 converted)
{
    TFile &file = m_seen[row];
    file.Duration = std::max<qint64>(duration, 0);
    file.Converted = std::max(file.Converted, converted);
}

void TRunEstimate::FileFinished(int row, bool converted)
{
    TFile &file = m_seen[row];
    file.Finished = true;
    if (converted)
        file.Converted = std::max(file.Converted, file.Duration);
}

TRunEstimate::TView TRunEstimate::Estimate(double elapsedSeconds) const
{
    double done = 0;
    double known = 0;
    int measured = 0;
    for (const auto &[row, file] : m_seen) {
        done += double(file.Converted);
        if (file.Duration > 0) {
            known += double(file.Duration);
            ++measured;
        }
    }
    if (measured == 0)
        return {};
    const double average = known / measured;

    double left = double(std::max<qsizetype>(m_files - qsizetype(m_seen.size()), 0)) * average;
    for (const auto &[row, file] : m_seen)
        if (!file.Finished)
            left += std::max(0.0, double(file.Duration > 0 ? file.Duration : average) - double(file.Converted));

    TView view;
    const double total = done + left;
    view.Percent = total > 0 ? int(std::floor(100.0 * done / total)) : 100;
    // A run with a file still to go is never at 100 %, however near it is.
    const bool open =
        qsizetype(m_seen.size()) < m_files
        || std::any_of(m_seen.begin(), m_seen.end(), [](const auto &seen) { return !seen.second.Finished; });
    if (open)
        view.Percent = std::min(view.Percent, 99);
    if (done > 0 && elapsedSeconds > 0)
        view.SecondsLeft = qint64(std::llround(left / (done / elapsedSeconds)));
    return view;
}

namespace {
QString Filled(const QString &format, std::initializer_list<qint64> numbers)
{
    QStringList arguments;
    for (qint64 number : numbers)
        arguments << QString::number(number);
    return FormatText(format, arguments);
}

QString HoursAndMinutes(qint64 minutes, const TSpanTexts &texts)
{
    return minutes % 60 ? Filled(texts.HoursMinutes, {minutes / 60, minutes % 60})
                        : Filled(texts.Hours, {minutes / 60});
}
}

QString SpanText(qint64 seconds, const TSpanTexts &texts)
{
    seconds = std::max<qint64>(seconds, 0);
    if (seconds < 60)
        return Filled(texts.Seconds, {seconds});
    if (seconds < 3600)
        return seconds % 60 ? Filled(texts.MinutesSeconds, {seconds / 60, seconds % 60})
                            : Filled(texts.Minutes, {seconds / 60});
    return HoursAndMinutes(seconds / 60, texts);
}

QString RoughSpanText(qint64 seconds, const TSpanTexts &texts)
{
    seconds = std::max<qint64>(seconds, 0);
    if (seconds < 55)
        return Filled(texts.Seconds, {std::max<qint64>(5, (seconds + 4) / 5 * 5)});
    const qint64 minutes = std::max<qint64>(1, (seconds + 30) / 60);
    if (minutes < 60)
        return Filled(texts.Minutes, {minutes});
    return HoursAndMinutes(minutes, texts);
}
