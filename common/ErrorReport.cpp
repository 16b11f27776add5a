#include "ErrorReport.h"

#include "TolvaneError.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

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

QWidget *ownerWindow()
{
    if (QWidget *active = QApplication::activeModalWidget())
        return active;
    if (QWidget *active = QApplication::activeWindow())
        return active;
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top->objectName() == QLatin1String("frmMain"))
            return top;
    return nullptr;
}

void showErrorBox(const QString &text)
{
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), text, QMessageBox::Ok, ownerWindow());
    box.exec();
}
}

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
    else
        showErrorBox(shown);
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
