#include "conversion/RunEstimate.h"

#include "conversion/EncoderOutput.h"

#include <algorithm>
#include <cmath>

void TRunEstimate::Start(int files)
{
    m_files = std::max(files, 0);
    m_seen.clear();
    m_probed.clear();
    m_workingSeconds = 0;
    m_clockAt = 0;
    m_waiting = false;
    m_waitingRow = -1;
    m_shownPercent = 0;
}

void TRunEstimate::FileLength(int row, qint64 seconds)
{
    if (seconds > 0)
        m_probed[row] = seconds;
}

bool TRunEstimate::StandsStill() const
{
    if (!m_waiting)
        return false;
    if (m_waitingRow < 0)
        return true;
    return std::none_of(m_seen.begin(), m_seen.end(),
                        [this](const auto &seen) { return seen.first != m_waitingRow && !seen.second.Finished; });
}

void TRunEstimate::Tick(double atSeconds)
{
    if (atSeconds <= m_clockAt)
        return;
    if (!StandsStill())
        m_workingSeconds += atSeconds - m_clockAt;
    m_clockAt = atSeconds;
}

void TRunEstimate::Pause(double atSeconds, int row)
{
    if (m_waiting)
        return;
    Tick(atSeconds);
    m_waiting = true;
    m_waitingRow = row;
}

void TRunEstimate::Resume(double atSeconds)
{
    if (!m_waiting)
        return;
    Tick(atSeconds);
    m_waiting = false;
    m_waitingRow = -1;
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

TRunEstimate::TView TRunEstimate::Estimate(double elapsedSeconds)
{
    Tick(elapsedSeconds);
    double done = 0;
    double known = 0;
    int measured = 0;
    const auto lengthOf = [this](int row, const TFile &file) -> qint64 {
        if (file.Duration > 0)
            return file.Duration;
        const auto probed = m_probed.find(row);
        return probed == m_probed.end() ? 0 : probed->second;
    };
    for (const auto &[row, file] : m_seen)
        done += double(file.Converted);
    for (int row = 0; row < m_files; ++row) {
        const auto seen = m_seen.find(row);
        const qint64 length = seen != m_seen.end() ? lengthOf(row, seen->second) : lengthOf(row, TFile{});
        if (length > 0) {
            known += double(length);
            ++measured;
        }
    }
    if (measured == 0)
        return {m_shownPercent, -1};
    const double average = known / measured;

    double left = 0;
    for (int row = 0; row < m_files; ++row) {
        const auto seen = m_seen.find(row);
        const TFile file = seen != m_seen.end() ? seen->second : TFile{};
        if (file.Finished)
            continue;
        const qint64 length = lengthOf(row, file);
        left += std::max(0.0, (length > 0 ? double(length) : average) - double(file.Converted));
    }

    TView view;
    const double total = done + left;
    view.Percent = total > 0 ? int(std::floor(100.0 * done / total)) : 100;
    // A run with a file still to go is never at 100 %, however near it is.
    const bool open =
        qsizetype(m_seen.size()) < m_files
        || std::any_of(m_seen.begin(), m_seen.end(), [](const auto &seen) { return !seen.second.Finished; });
    if (open)
        view.Percent = std::min(view.Percent, 99);
    // A length learnt late may make the rest look longer: what was shown stays.
    view.Percent = m_shownPercent = std::max(view.Percent, m_shownPercent);
    if (done > 0 && m_workingSeconds > 0)
        view.SecondsLeft = qint64(std::llround(left / (done / m_workingSeconds)));
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

QString ElapsedText(qint64 ms, const TSpanTexts &texts)
{
    // A run of a moment still took some time: at least a tenth.
    const qint64 tenths = std::max<qint64>(1, (ms + 50) / 100);
    if (tenths < 100) {
        const QString number = QString::number(tenths / 10) + QLatin1Char('.') + QString::number(tenths % 10);
        return FormatText(texts.Seconds, {number});
    }
    return SpanText((ms + 500) / 1000, texts);
}
