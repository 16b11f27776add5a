#pragma once

#include "common/TolvaneError.h"

#include <QString>

// The output folder and the placeholder written into each target before the
// encoder starts, so the target exists from the moment its name is chosen.

// The placeholder's content: "temp" and CR LF, six bytes.
extern const char PlaceholderContent[];

// folder without its trailing "/" characters.
QString WithoutTrailingSlashes(const QString &folder);

// True when folder names a folder at all: neither empty nor only "/" characters.
bool IsOutputFolderSet(const QString &folder);

// Creates folder with every missing parent unless it exists. The outcome is
// not examined: a folder that cannot be made shows up at the first placeholder.
void ForceOutputFolder(const QString &folder);

// The runtime's text for a failed file write with errno code: "File not
// found", "Invalid filename" (a missing folder), "Too many open files",
// "File access denied", "Disk full", otherwise "I/O error <code>".
// folderExists tells ENOENT for a missing folder from one for the file itself.
QString FileWriteErrorText(int code, bool folderExists);

// A file write that failed: FileWriteErrorText for the user, and the code,
// which tells the run what kind of failure to name.
class TFileWriteError : public TolvaneError
{
public:
    TFileWriteError(int code, bool folderExists) : TolvaneError(FileWriteErrorText(code, folderExists)), Code(code) {}
    int Code;
};

// Raises TFileWriteError for code, telling a missing folder of path from a missing file.
[[noreturn]] void RaiseWriteError(int code, const QString &path);

// Creates or empties path and writes the placeholder. Raises
// TFileWriteError when any step fails; a file this call created is
// removed again then, one that existed stays (emptied).
void WritePlaceholder(const QString &path);

// True when path holds exactly the placeholder: the encoder never wrote it.
bool IsBarePlaceholder(const QString &path);

// Deletes path when it holds exactly the placeholder; returns whether it did.
bool RemoveBarePlaceholder(const QString &path);
