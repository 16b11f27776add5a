#pragma once

#include <QString>

#include <functional>

// Where config.ini lives. A program folder the user may write to keeps it
// beside the program, so a copy carried on a USB stick keeps its settings.
// An installed program folder (for example /usr/lib/tolvane) is not writable
// by its users; their settings then live in $XDG_CONFIG_HOME/Tolvane/
// (default ~/.config/Tolvane/), started from the program folder's config.ini
// when one ships there.

// Whether the current user may create files in folder. Tests install their own
// answer, as root may write to every folder whatever its permissions say.
using FolderWritableCheck = std::function<bool(const QString &folder)>;
FolderWritableCheck SetFolderWritableCheck(FolderWritableCheck check);
bool IsFolderWritable(const QString &folder);

// $XDG_CONFIG_HOME/Tolvane/ (default ~/.config/Tolvane/), ending in "/".
QString UserConfigFolder();

// The config.ini every read and write of this run goes to; appFolder with or
// without its "/". Called once at start: when the user's copy is chosen and does not exist
// yet, its folder is made and the shipped config.ini copied into it.
QString ChooseConfigFile(const QString &appFolder);
