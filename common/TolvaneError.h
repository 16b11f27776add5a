#pragma once

#include <QString>
#include <stdexcept>

// Every failure the program reports to the user travels as a TolvaneError
// carrying the text shown in the error box. The application object catches it
// once, shows it and goes on.
class TolvaneError : public std::runtime_error
{
public:
    explicit TolvaneError(const QString &text) : std::runtime_error(text.toStdString()), m_text(text) {}

    const QString &text() const noexcept { return m_text; }

private:
    QString m_text;
};

// The runtime's own error texts, kept in one place so every caller words them alike.
namespace ErrorText {
inline QString UnableToWrite(const QString &path) { return QStringLiteral("Unable to write to %1").arg(path); }
inline QString NotAnInteger(const QString &value)
{
    return QStringLiteral("'%1' is not a valid integer value").arg(value);
}
inline QString NotAFloat(const QString &value)
{
    return QStringLiteral("'%1' is not a valid floating point value").arg(value);
}
inline QString SystemError(int code, const QString &message)
{
    return QStringLiteral("System Error.  Code: %1.\r\n%2").arg(code).arg(message);
}
inline QString AssertionFailure() { return QStringLiteral("Assertion failure"); }
}
