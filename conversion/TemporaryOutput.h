#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// An existing output that is to be overwritten is never touched until its
// replacement is complete: the encoder writes a hidden file in the same
// folder, and only a checked result takes the target's name, in one rename.
// A stop, a failure, a kill or a power loss at any moment leaves the old
// file as it was. The hidden name is short whatever the target's length:
// ".tolvane-<process id>-<6 letters>.<extension>". The extension tells the
// encoder the container; the process id tells whether the program that made
// the file still runs, so start-up can remove what a dead one left.

// The hidden name made by process pid with the random part tag.
QString TemporaryName(qint64 pid, const QString &tag, const QString &extension);

// The process id inside a name TemporaryName made; 0 for any other name.
qint64 ProcessOfTemporary(const QString &name);

// Creates a new, empty hidden file beside target with target's extension and
// returns its path. Raises TFileWriteError when it cannot.
QString CreateTemporaryBeside(const QString &target);

// Whether path holds something the encoder wrote: neither missing, empty
// nor the bare placeholder.
bool HoldsOutput(const QString &path);

// Puts temporary in target's place: flushes it to disk, renames it over
// target and flushes the folder, so that after a power loss the name holds
// either the old file or the whole new one. Raises TFileWriteError when a
// step fails; temporary then stays for the caller to remove.
void CommitTemporary(const QString &temporary, const QString &target);

// Removes from folder every hidden file of a program that no longer runs;
// returns the names removed. Nothing else is ever touched.
QStringList RemoveDeadTemporaries(const QString &folder);

// The folders hidden files were made in, most recent first, kept in
// iniFile so that start-up finds them wherever the output folder was then.
inline constexpr int RememberedFolders = 8;
QStringList TemporaryFolders(const QString &iniFile);
// Puts folder first in the list. A settings file that cannot be written
// costs only the clean-up after a crash, never the file being converted.
void RememberTemporaryFolder(const QString &iniFile, const QString &folder);
// RemoveDeadTemporaries in every folder of the list.
void CleanTemporaryFolders(const QString &iniFile);
