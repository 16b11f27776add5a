#include "conversion/TargetFile.h"

#include <QFile>

#include <sys/stat.h>

TTargetKind TargetKindOf(const QString &path)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return TTargetKind::Missing;
    if (S_ISLNK(info.st_mode))
        return TTargetKind::Link;
    return S_ISREG(info.st_mode) ? TTargetKind::RegularFile : TTargetKind::Other;
}

std::optional<TFileId> FileIdOf(const QString &path)
{
    struct stat info = {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return TFileId{quint64(info.st_dev), quint64(info.st_ino)};
}
