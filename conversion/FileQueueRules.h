#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>

// Rules of the file queue that need no window: which paths the queue takes,
// the open-file dialog's filter, and the folder search behind batch add.

// The types a folder search takes, without the dot: video files, then sound files.
const QStringList &VideoExtensions();
const QStringList &SoundExtensions();

// The extension of a path's file-name part (the text after the last "/"):
// from its last "." on, dot included; empty when the name has no ".".
QString FileNameExtension(const QString &path);

// True when a path's extension is one of VideoExtensions or SoundExtensions
// as a whole, compared without regard to case: ".mp", ".a" or a bare "." are
// no such type.
bool IsListedMediaPath(const QString &path);

// What becomes of a path offered to the queue. A file given by itself (picked,
// dropped, named on the command line) that is of no listed type is taken on
// trial: it stays if its probe finds sound. A folder search keeps to the list
// and passes over everything else without a word.
enum class TAddVerdict : quint8 { Take, Check, NotAFile, PassOver };
TAddVerdict AddVerdictOf(const QString &path, bool regularFile, bool fromFolderSearch);

// Why a file was not added, as the message after the add tells it.
enum class TNotAdded : quint8 { NoSound, NotMedia, AlreadyQueued, NotAFile };
struct TNotAddedFile
{
    QString Name;
    TNotAdded Reason;
    quint64 Order = 0; // files are told in this order, the order they were given in
};
// The message's texts: its first line, the words for each reason, and the
// line for the names left out ("%s": how many).
struct TNotAddedTexts
{
    QString Heading;
    QString NoSound;
    QString NotMedia;
    QString AlreadyQueued;
    QString NotAFile;
    QString More;
};
// The heading, then "name: reason" for the first NotAddedShown files (by
// Order) and a line for the rest.
inline constexpr int NotAddedShown = 10;
QString NotAddedText(QList<TNotAddedFile> files, const TNotAddedTexts &texts);

// Folders that hold no files of the user's but the kernel's views of itself
// (/proc, /sys, /dev, /run and below), where a search never goes. Removable
// drives mounted below /run/media are real folders.
bool IsPseudoFileSystemPath(const QString &path);

// The open-file dialog's title where no language file gives one.
inline const char *const OpenDialogEnglishTitle = "Open Video and Sound Files";

// The open-file dialog's filter entries (video and sound files, video files,
// sound files, all files): the language key of each description and the English description a
// missing key falls back to.
struct TOpenDialogFilterName
{
    const char *key;
    const char *english;
};
const QList<TOpenDialogFilterName> &OpenDialogFilterNames();

// The open-file dialog's filter entries in Qt's syntax, described by
// descriptions (in the order of OpenDialogFilterNames; English where one is
// missing). Each ends in a pattern group that matches the extensions
// whatever their case; the lists are long, so hide it with HideNameFilterDetails.
QStringList OpenDialogNameFilters(const QStringList &descriptions = {});

// Matches a file name against a pattern with "*" and "?" without regard to
// case. "*.*" matches every name, with or without a dot.
bool MatchesNamePattern(const QString &name, const QString &pattern);

// The folder search of batch add. Lists folder's entries in name order and,
// depth first, searches every plain subfolder (real directories, no links,
// names not starting with ".", no pseudo file systems) when includeSubfolders
// is set, whatever the extension; every other entry that matches
// "*." + extension ("*" when extension is empty) goes to addEntry as
// folder + "/" + name, in the bytes the file system holds (a name need not
// be UTF-8). After each entry keepGoing is asked; when it returns
// false the whole search stops and Run returns false. A missing or unreadable
// folder, or one in a pseudo file system, yields nothing.
struct TFolderSearch
{
    std::function<void(const QByteArray &path)> addEntry;
    std::function<bool()> keepGoing;
    // An entry whose path is longer than the system takes: it can be neither
    // searched nor converted, and is passed here instead of dropped unseen.
    std::function<void(const QByteArray &path)> tooLong;

    bool Run(const QString &folder, bool includeSubfolders, const QString &extension) const;

private:
    bool Search(const QByteArray &folder, bool includeSubfolders, const QString &pattern) const;
};
