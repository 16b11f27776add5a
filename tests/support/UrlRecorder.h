#pragma once

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

// Takes the place of the desktop's handlers for the given URL schemes while it
// lives and records every address the program asks to open.
// A test that uses it ends with #include "support/moc_UrlRecorder.cpp" (the class needs moc).
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;

    explicit UrlRecorder(const QStringList &schemes = {"http", "https", "mailto", "file"}) : m_schemes(schemes)
    {
        for (const QString &scheme : m_schemes)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~UrlRecorder() override
    {
        for (const QString &scheme : m_schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }

    // While refusing, the addresses go on to the platform, which opens none
    // under the offscreen platform the tests run on: a desktop without a
    // browser, mail program or file manager.
    void setRefusing(bool refusing)
    {
        for (const QString &scheme : m_schemes)
            if (refusing)
                QDesktopServices::unsetUrlHandler(scheme);
            else
                QDesktopServices::setUrlHandler(scheme, this, "open");
    }

public slots:
    void open(const QUrl &url) { opened.append(url); }

private:
    QStringList m_schemes;
};
