#include "conversion/OutputFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

const char PlaceholderContent[] = "temp\r\n";

namespace {
constexpr qsizetype PlaceholderSize = sizeof(PlaceholderContent) - 1;
}

void RaiseWriteError(int code, const QString &path)
{
    throw TFileWriteError(code, QFileInfo(QFileInfo(path).absolutePath()).isDir());
}

QString WithoutTrailingSlashes(const QString &folder)
{
    qsizetype end = folder.size();
    while (end > 0 && folder.at(end - 1) == QLatin1Char('/'))
        --end;
    return folder.left(end);
}

bool IsOutputFolderSet(const QString &folder) { return !WithoutTrailingSlashes(folder).isEmpty(); }

void ForceOutputFolder(const QString &folder)
{
    const QString bare = WithoutTrailingSlashes(folder);
    if (bare.isEmpty() || QFileInfo(bare).isDir())
        return;
    QDir().mkpath(bare);
}

QString FileWriteErrorText(int code, bool folderExists)
{
    switch (code) {
    case ENOENT:
        return folderExists ? QStringLiteral("File not found") : QStringLiteral("Invalid filename");
    case ENOTDIR:
        return QStringLiteral("Invalid filename");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("Too many open files");
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return QStringLiteral("File access denied");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("Disk full");
    default:
        return QStringLiteral("I/O error %1").arg(code);
    }
}

void WritePlaceholder(const QString &path)
{
    // Plain POSIX calls, so that the error of each step is the system's own.
    const QByteArray name = QFile::encodeName(path);
    // Created here (rather than emptied) tells whether a failed write may
    // take the file away again: an empty file of the output's name would
    // only raise the file-exists question at the next run.
    bool created = true;
    int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }
    if (fd < 0)
        RaiseWriteError(errno, path);
    const auto fail = [&](int code) {
        if (created)
            ::unlink(name.constData());
        RaiseWriteError(code, path);
    };
    qsizetype written = 0;
    while (written < PlaceholderSize) {
        const ssize_t n = ::write(fd, PlaceholderContent + written, PlaceholderSize - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int code = n < 0 ? errno : ENOSPC;
            ::close(fd);
            fail(code);
        }
        written += n;
    }
    if (::close(fd) != 0 && errno != EINTR)
        fail(errno);
}

bool IsBarePlaceholder(const QString &path)
{
    QFile file(path);
    if (file.size() != PlaceholderSize || !file.open(QIODevice::ReadOnly))
        return false;
    return file.readAll() == QByteArray(PlaceholderContent, PlaceholderSize);
}

bool RemoveBarePlaceholder(const QString &path) { return IsBarePlaceholder(path) && QFile::remove(path); }
