#pragma once

#include <QString>
#include <QStringList>

// An existing output file the run is about to write over is first moved
// aside under a hidden name in its own folder (a rename, so nothing is
// copied), and only given up once its replacement holds audio. The hidden
// name is "." + name + ".tolvane-keep-" + process id + "-" + six letters:
// the process id tells whether the program that made it still runs, and
// the marker lets start-up find what a crashed run left behind without
// touching any file the program did not make.

// The hidden name for fileName, made by the process pid with the random part tag.
QString KeptName(const QString &fileName, qint64 pid, const QString &tag);

// The original file name inside a hidden name KeptName made, and the id of
// the process that made it; an empty name for any other file name.
QString OriginalNameOfKept(const QString &keptName, qint64 *pid = nullptr);

// How the encoder of one file ended.
enum class TEncoderEnd { Succeeded, Failed, Stopped };

// Whether what the encoder left in the target replaces the original: an
// encoder that ended well or was stopped after it wrote audio. A failed
// encoder's partial file is worth less than the file it was to replace.
bool ReplacementWins(TEncoderEnd end, bool targetHoldsAudio);

class TKeptOriginal
{
public:
    // Moves whatever is at target aside, unless nothing or a folder is
    // there. Raises TolvaneError with FileWriteErrorText when the move fails:
    // a file that cannot be kept is not written over.
    explicit TKeptOriginal(const QString &target);
    // Puts the original back unless Restore or Discard decided already, so
    // that an error on the way never costs the user the file.
    ~TKeptOriginal();
    TKeptOriginal(const TKeptOriginal &) = delete;
    TKeptOriginal &operator=(const TKeptOriginal &) = delete;

    bool IsHeld() const { return !m_kept.isEmpty(); }
    QString KeptPath() const { return m_kept; }

    // The original back under its name, in place of whatever is there now.
    // False when the rename fails; the hidden file then stays for start-up.
    bool Restore();
    // The replacement stays; the original is deleted.
    void Discard();

private:
    QString m_target;
    QString m_kept;
};

// Puts back every file in folder that a program no longer running moved
// aside, when its original name is free or holds only the placeholder (a
// crash before the encoder wrote anything). Returns the names put back.
// A kept file whose name holds a replacement with audio stays as it is.
QStringList RecoverKeptOriginals(const QString &folder);
