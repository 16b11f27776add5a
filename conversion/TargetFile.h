#pragma once

#include <QHash>
#include <QString>
#include <QtGlobal>

#include <optional>

// What lies at a path an output is to take, looked at without following a
// symbolic link there: a link is a file of its own for the existing-file
// rules, and replacing it replaces the link, never what it points to.
enum class TTargetKind {
    Missing,
    RegularFile,
    Link,
    Other, // a folder, a pipe, a device or a socket: never written to
};
TTargetKind TargetKindOf(const QString &path);

// One file as the system knows it, by whatever path or link it is reached.
struct TFileId
{
    quint64 Device = 0;
    quint64 Inode = 0;
    friend bool operator==(const TFileId &, const TFileId &) = default;
};
inline size_t qHash(const TFileId &id, size_t seed = 0) { return qHashMulti(seed, id.Device, id.Inode); }

// The file path names, links followed; none when nothing is there.
std::optional<TFileId> FileIdOf(const QString &path);
