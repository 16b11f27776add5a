#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

// A throw-away program folder for tests: config.ini and the data folders
// live here instead of beside the test executable.
class TestProgramFolder
{
public:
    TestProgramFolder() { QDir(m_dir.path()).mkpath(QStringLiteral("language")); }

    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }
    QString configFile() const { return file(QStringLiteral("config.ini")); }

    void writeConfig(const QByteArray &content) const { write(QStringLiteral("config.ini"), content); }

    void write(const QString &name, const QByteArray &content) const
    {
        const QString target = file(name);
        QDir().mkpath(QFileInfo(target).absolutePath());
        QFile out(target);
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        out.write(content);
    }

    QByteArray read(const QString &name) const
    {
        QFile in(file(name));
        in.open(QIODevice::ReadOnly);
        return in.readAll();
    }

    // Copies the shipped language files and skins into the folder, from the
    // built program folder, where the skins are written from their template.
    void installData() const
    {
        const QString source = QStringLiteral(TOLVANE_PROGRAM_DIR);
        for (const QString &sub : {QStringLiteral("language"), QStringLiteral("skins")}) {
            QDir(m_dir.path()).mkpath(sub);
            const QDir from(source + QLatin1Char('/') + sub);
            for (const QString &name : from.entryList(QDir::Files))
                QFile::copy(from.filePath(name), file(sub + QLatin1Char('/') + name));
        }
    }

private:
    QTemporaryDir m_dir;
};
