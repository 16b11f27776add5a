#include "common/ErrorReport.h"

#include "common/TolvaneError.h"

#include <QDebug>

namespace {
ErrorReporter &installedReporter()
{
    static ErrorReporter reporter;
    return reporter;
}

QString &applicationTitle()
{
    static QString title;
    return title;
}

ErrorReporter &installedDisplay()
{
    static ErrorReporter display;
    return display;
}
}

void SetErrorDisplay(ErrorReporter display) { installedDisplay() = std::move(display); }

ErrorReporter SetErrorReporter(ErrorReporter reporter)
{
    ErrorReporter previous = std::move(installedReporter());
    installedReporter() = std::move(reporter);
    return previous;
}

QString WithFullStop(const QString &text)
{
    // A text that already ends a sentence, in any of the program's
    // languages, gets no second mark ("。." looks like a typo).
    static const QString sentenceEnds = QStringLiteral(".!?\u3002\uFF01\uFF1F");
    if (!text.isEmpty() && sentenceEnds.contains(text.back()))
        return text;
    return text + QLatin1Char('.');
}

void ReportError(const QString &text)
{
    const QString shown = WithFullStop(text);
    if (installedReporter())
        installedReporter()(shown);
    else if (installedDisplay())
        installedDisplay()(shown);
    else
        qCritical().noquote() << shown; // no window side: the console runner or a tool
}

void ReportCurrentException()
{
    try {
        throw;
    } catch (const TolvaneError &e) {
        ReportError(e.text());
    } catch (const std::exception &e) {
        ReportError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ReportError(QStringLiteral("Unknown error"));
    }
}

QString ApplicationTitle() { return applicationTitle(); }

void SetApplicationTitle(const QString &title) { applicationTitle() = title; }
