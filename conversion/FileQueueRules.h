#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Rules of the file queue that need no window: which paths the queue takes,
// the open-file dialog's filter, and the folder search behind batch add.

// The video types the queue accepts, as one fixed text.
extern const QString AcceptedExtensionList;

// The extension of a path's file-name part (the text after the last "/"):
// from its last "." on, dot included; empty when the name has no ".".
QString FileNameExtension(const QString &path);

// A path is accepted when its extension is one of the entries of
// AcceptedExtensionList as a whole, compared without regard to case: ".mp",
// ".a" or a bare "." are no video types.
bool IsAcceptedVideoPath(const QString &path);

// Folders that hold no files of the user's but the kernel's views of itself
// (/proc, /sys, /dev, /run and below), where a search never goes. Removable
// drives mounted below /run/media are real folders.
bool IsPseudoFileSystemPath(const QString &path);

// The open-file dialog's title where no language file gives one.
inline const char *const OpenDialogEnglishTitle = "Open Video Files";

// The open-file dialog's nine filter entries: the language key of each
// description and the English description a missing key falls back to.
struct TOpenDialogFilterName
{
    const char *key;
    const char *english;
};
const QList<TOpenDialogFilterName> &OpenDialogFilterNames();

// The open-file dialog's nine filter entries in Qt's syntax, described by
// descriptions (in the order of OpenDialogFilterNames; English where one is
// missing). Every entry but the first shows its patterns after the
// description, and each ends in a hidden pattern group that matches the
// extensions whatever their case (hide it with HideNameFilterDetails).
QStringList OpenDialogNameFilters(const QStringList &descriptions = {});

// Matches a file name against a pattern with "*" and "?" without regard to
// case. "*.*" matches every name, with or without a dot.
bool MatchesNamePattern(const QString &name, const QString &pattern);

// The folder search of batch add. Lists folder's entries in name order and,
// depth first, searches every plain subfolder (real directories, no links,
// names not starting with ".", no pseudo file systems) when includeSubfolders
// is set, whatever the extension; every other entry that matches
// "*." + extension ("*" when extension is empty) goes to addEntry as
// folder + "/" + name. After each entry keepGoing is asked; when it returns
// false the whole search stops and Run returns false. A missing or unreadable
// folder, or one in a pseudo file system, yields nothing.
struct TFolderSearch
{
    std::function<void(const QString &path)> addEntry;
    std::function<bool()> keepGoing;

    bool Run(const QString &folder, bool includeSubfolders, const QString &extension) const;

private:
    bool Search(const QString &folder, bool includeSubfolders, const QString &pattern) const;
};
