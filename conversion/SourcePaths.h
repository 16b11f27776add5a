#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <memory>

class QTemporaryDir;

// A file name is bytes; QString holds text. Names written by an old camera or
// a Windows share may hold bytes that are no UTF-8 (a lone 0xE9 for "é"),
// which Qt turns into U+FFFD and can no longer open. These helpers keep the
// bytes the file system holds and give Qt a path it can use.

// The bytes of path on disk. A path that lost bytes to U+FFFD on its way here
// (a file dialog, the command line) is looked up again, name by name, among
// the entries of its folders; the first entry that reads the same is taken.
// A path that matches nothing stays as Qt would write it.
QByteArray NativePathOf(const QString &path);

// path as a person reads it: UTF-8 where it is, every other byte as the
// Latin-1 letter it most likely meant.
QString ReadablePath(const QByteArray &native);

// True for a regular file, or a link to one; never for folders or devices.
bool IsRegularFile(const QByteArray &native);

// True for a folder, or a link to one.
bool IsFolder(const QByteArray &native);

// The same file whatever way it was named: the real path with links and
// "..", "//" resolved; the bytes as they are when the file is missing.
QByteArray SameFileKey(const QByteArray &native);

// The names in folder (no "." or ".."), as the bytes the file system holds;
// empty when it cannot be read.
QList<QByteArray> FolderEntries(const QByteArray &folder);

// Paths Qt (and a child process started with Qt) can open. A native path
// that is no valid UTF-8 gets a symbolic link with a readable name in a
// private temporary folder; the folder goes, with its links, when this object does.
class TSourceLinks
{
public:
    TSourceLinks();
    ~TSourceLinks();

    // The path to use for native: itself when Qt can hold it, else the link.
    QString SourceFor(const QByteArray &native);
    // The readable path of the file a link stands for; empty for any other path.
    QString ShownPathOf(const QString &source) const;

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    QHash<QByteArray, QString> m_links; // native path -> link
    QHash<QString, QString> m_shown;    // link -> readable native path
};
