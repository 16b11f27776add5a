#pragma once

#include <QSet>
#include <QString>
#include <QtGlobal>

#include <functional>

// The answer to "the output file exists": what the file-exists dialog
// returns and what the main window remembers until the program exits.
// Code 1 is not used.
enum TOverwriteChoice : quint8 {
    ocAsk = 0,           // skip this file; ask again at the next collision
    ocSkipAll = 2,       // skip this and every later collision
    ocOverwriteOnce = 3, // overwrite this file, then ask again
    ocOverwriteAll = 4,  // overwrite this and every later collision
    ocRenameOnce = 5,    // use a free name for this file, then ask again
    ocRenameAll = 6,     // use a free name for this and every later collision
};

// The file-name part of a path: the text after its last "/".
QString FileNamePart(const QString &path);

// folder with a "/" added when it does not end in one.
QString WithTrailingSlash(const QString &folder);

// The output file for source: the file name of source with its extension
// (from the last ".") replaced by "." + ext, or ext appended when the name
// has none, in folder. The source's own folder plays no part.
QString OutputFilePath(const QString &folder, const QString &source, const QString &ext);

// The output file for chapter number (from 1) of total chapters of source,
// in folder: "<source name> - 01 - <chapter title>.<ext>", the number with as
// many digits as total has, at least two, and " - <title>" left out when the
// chapter has none. Characters a file name cannot hold on the common file
// systems (/ \ : * ? " < > | and control characters) become "_", and the
// title, then the source's name, is cut so the name fits in 255 bytes.
QString ChapterOutputFilePath(const QString &folder, const QString &source, const QString &ext, int number, int total,
                              const QString &title);

// path itself when no file of that name exists, otherwise the first free name
// in the row path + "(1)" + extension, applied to the whole previous name:
// clip.mp3, clip.mp3(1).mp3, clip.mp3(1).mp3(1).mp3, ... A name that would
// pass 255 bytes loses characters from the end of the name before its
// extension ("<long name, cut>.mp3(1).mp3").
QString AutoRenameTarget(const QString &path);

// Asks the user what to do with an existing output file and returns the answer.
using TOverwriteQuestion = std::function<quint8()>;

// The path to write for path, or empty when the source is to be skipped.
// Asks only when the file exists and choice is ocAsk; choice keeps what is
// to be remembered (the answers for this file only fall back to ocAsk).
// A path in writtenThisRun is the run's own output from an earlier source of
// the same name: it always gets a free name, without a question.
QString ResolveTargetFile(const QString &path, quint8 &choice, const TOverwriteQuestion &ask,
                          const QSet<QString> &writtenThisRun = {});

// The folder a source's output goes to. A source found by searching a folder
// the user added (root) keeps its place below it when keepFolders is set:
// root/a/b/clip.mp4 goes to outputFolder/a/b/. Everything else, and a source
// that is not below root, goes to outputFolder itself.
QString OutputFolderFor(const QString &outputFolder, const QString &root, const QString &source, bool keepFolders);

// Where the part of target that a stop kept goes: "<name> (<note>).<ext>"
// beside target, on a free name, cut to fit like a chapter's name.
QString StoppedPartPath(const QString &target, const QString &note);

// seconds as a file name holds them everywhere (no ":"): "45s", "7m30s", "1h02m03s".
QString FileNameTime(qint64 seconds);

// True when target exists and was last changed after source: converting
// source again would give the same file, if target is whole (the run checks
// its length).
bool IsOutputUpToDate(const QString &source, const QString &target);
