#pragma once

#include <QString>
#include <functional>

// The one place where errors reach the user. By default a message box with the
// application title, an error icon and an OK button; tests put a recorder in.
using ErrorReporter = std::function<void(const QString &text)>;

// Installs a reporter and returns the previous one (an empty function restores the box).
ErrorReporter SetErrorReporter(ErrorReporter reporter);

// Shows text (with a full stop added when it does not end in one).
void ReportError(const QString &text);

// Call inside a catch block: reports whatever exception is being handled.
void ReportCurrentException();

// The text as the error box shows it: a full stop is added unless one ends it.
QString WithFullStop(const QString &text);

// Caption of every message box of the program ([App] Title of the language file).
QString ApplicationTitle();
void SetApplicationTitle(const QString &title);
