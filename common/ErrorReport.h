#pragma once

#include <QString>
#include <functional>

// The one place where errors reach the user. The window side installs its
// error box as the display (gui/ErrorBox.h); without one the text goes to the
// standard error stream. Tests put a recorder in front of either.
using ErrorReporter = std::function<void(const QString &text)>;

// Installs a reporter and returns the previous one (an empty function restores the display).
ErrorReporter SetErrorReporter(ErrorReporter reporter);

// The display used while no reporter is installed.
void SetErrorDisplay(ErrorReporter display);

// Shows text (with a full stop added when it does not end in one).
void ReportError(const QString &text);

// Call inside a catch block: reports whatever exception is being handled.
void ReportCurrentException();

// The text as the error box shows it: a full stop is added unless one ends it.
QString WithFullStop(const QString &text);

// Caption of every message box of the program ([App] Title of the language file).
QString ApplicationTitle();
void SetApplicationTitle(const QString &title);
