#pragma once

#include <QLatin1String>
#include <QObject>
#include <QtGlobal>

// A window's control by object name. A missing one is named in a warning,
// since the test would otherwise stop on a null pointer without saying which.
template <typename T> T *FindControl(const QObject *window, const char *name)
{
    T *found = window->findChild<T *>(QLatin1String(name));
    if (!found)
        qWarning("control %s not found", name);
    return found;
}
