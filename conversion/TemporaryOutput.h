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
// the file still runs, so start-up can remove what a dead one left, and a
// journal in the user's cache folder, written before each file is made,
// tells which files those are.

// The hidden name made by process pid with the random part tag.
QString TemporaryName(qint64 pid, const QString &tag, const QString &extension);

// The process id inside a name TemporaryName made; 0 for any other name.
qint64 ProcessOfTemporary(const QString &name);

// Creates a new, empty hidden file beside target with target's extension and
// returns its path. Raises TFileWriteError when it cannot. The file is
// written into the journal before it is made, with placeholder when target
// is a placeholder of this run's, so that both can go should the program not
// live to remove them.
QString CreateTemporaryBeside(const QString &target, const QString &placeholder = QString());

// Whether path holds something the encoder wrote: neither missing, empty
// nor the bare placeholder.
bool HoldsOutput(const QString &path);

// Puts temporary in target's place: flushes it to disk, renames it over
// target and flushes the folder, so that after a power loss the name holds
// either the old file or the whole new one. Raises TFileWriteError when a
// step fails; temporary then stays for the caller to remove.
void CommitTemporary(const QString &temporary, const QString &target);

// The journal of hidden files: $XDG_CACHE_HOME/Tolvane/temporary-files (by
// default ~/.cache/Tolvane/), a line per file, written before the file is
// made: "<process id> TAB <hidden file> TAB <placeholder or nothing>".
QString TemporaryJournal();

// Removes the hidden files the journal names whose program no longer runs,
// each only while it is still what that program made: a regular file of the
// user's own, whose name is exactly the hidden name of that process. A bare
// placeholder written down with one goes too. Nothing the journal does not
// name is ever touched, so a file moved away with its folder in the middle
// of a run is not found again. Returns the paths removed.
QStringList RemoveAbandonedTemporaries();
