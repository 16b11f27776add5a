#include "conversion/TemporaryOutput.h"

#include "common/IniFile.h"
#include "conversion/OutputFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
const QString Prefix = QStringLiteral(".tolvane-");
constexpr int TagLength = 6;
constexpr int CreateAttempts = 100;
const QString FolderSection = QStringLiteral("temporaryFolders");

QString RandomTag()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString tag;
    for (int i = 0; i < TagLength; ++i)
        tag += QLatin1Char(letters[QRandomGenerator::global()->bounded(int(sizeof(letters) - 1))]);
    return tag;
}

// The extension of the file-name part of path, without the ".".
QString ExtensionOf(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1);
}

bool ProcessRuns(qint64 pid) { return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM); }

// fsync of a file or a folder by path; the errno of the step that failed, or 0.
int SyncPath(const QString &path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int code = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return code;
}

QString FolderKey(int index) { return QStringLiteral("folder%1").arg(index + 1); }
}

QString TemporaryName(qint64 pid, const QString &tag, const QString &extension)
{
    QString name = Prefix + QString::number(pid) + QLatin1Char('-') + tag;
    return extension.isEmpty() ? name : name + QLatin1Char('.') + extension;
}

qint64 ProcessOfTemporary(const QString &name)
{
    // The extension is one of the program's formats or copy containers:
    // short, lower-case letters and digits.
    static const QRegularExpression shape(
        QStringLiteral("^\\.tolvane-([1-9][0-9]{0,9})-[a-z0-9]{%1}(\\.[a-z0-9]{1,8})?$").arg(TagLength));
    const QRegularExpressionMatch match = shape.match(name);
    return match.hasMatch() ? match.captured(1).toLongLong() : 0;
}

QString CreateTemporaryBeside(const QString &target)
{
    const QString folder = QFileInfo(target).absolutePath() + QLatin1Char('/');
    for (int attempt = 0; attempt < CreateAttempts; ++attempt) {
        const QString path = folder + TemporaryName(::getpid(), RandomTag(), ExtensionOf(target));
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST)
            RaiseWriteError(errno, path);
    }
    RaiseWriteError(EEXIST, target);
}

bool HoldsOutput(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.size() > 0 && !IsBarePlaceholder(path);
}

void CommitTemporary(const QString &temporary, const QString &target)
{
    if (const int code = SyncPath(temporary, O_RDONLY))
        RaiseWriteError(code, temporary);
    if (::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(target).constData()) != 0)
        RaiseWriteError(errno, target);
    // The rename itself is on disk only once the folder is.
    if (const int code = SyncPath(QFileInfo(target).absolutePath(), O_RDONLY | O_DIRECTORY))
        RaiseWriteError(code, target);
}

QStringList RemoveDeadTemporaries(const QString &folder)
{
    QStringList removed;
    if (folder.isEmpty())
        return removed;
    const QDir dir(folder);
    const QStringList hidden =
        dir.entryList({Prefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString &name : hidden) {
        const qint64 pid = ProcessOfTemporary(name);
        if (pid == 0 || ProcessRuns(pid))
            continue;
        if (::unlink(QFile::encodeName(dir.filePath(name)).constData()) == 0)
            removed << name;
    }
    return removed;
}

QStringList TemporaryFolders(const QString &iniFile)
{
    QStringList folders;
    const TIniFile ini(iniFile);
    for (int i = 0; i < RememberedFolders; ++i) {
        const QString folder = ini.ReadString(FolderSection, FolderKey(i), QString());
        if (!folder.isEmpty())
            folders << folder;
    }
    return folders;
}

void RememberTemporaryFolder(const QString &iniFile, const QString &folder)
{
    const QString absolute = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    QStringList folders = TemporaryFolders(iniFile);
    if (folders.value(0) == absolute)
        return; // the usual case: nothing to write
    folders.removeAll(absolute);
    folders.prepend(absolute);
    const TIniFile ini(iniFile);
    try {
        // The list never shrinks, so no key is left holding an old name.
        for (int i = 0; i < std::min<int>(RememberedFolders, int(folders.size())); ++i)
            ini.WriteString(FolderSection, FolderKey(i), folders[i]);
    } catch (const TolvaneError &) {
        // Only the clean-up after a crash needs the list; the file goes on.
    }
}

void CleanTemporaryFolders(const QString &iniFile)
{
    for (const QString &folder : TemporaryFolders(iniFile))
        RemoveDeadTemporaries(folder);
}
