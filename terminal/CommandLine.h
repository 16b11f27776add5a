#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the program was asked to do by its command line. The window and the
// terminal run read the same arguments by the same rules: options in the GNU
// form, "--" ends them, everything else is a file or folder to queue.

enum class TLaunchMode { Window, Convert, Help, Version };

// What a terminal run does with a target that exists: there is nobody to ask.
enum class TExistingPolicy { Skip, Overwrite, Rename };

// How a terminal run tells its progress on standard error: lines for a
// person, or a JSON object per line for a program that runs it.
enum class TProgressStyle { Text, Json };

// The options of a terminal run. An option not given is left empty: its value
// comes from config.ini, which the command line never writes.
struct TConvertOptions
{
    std::optional<QString> Format; // one of the output formats
    std::optional<int> Bitrate;    // kbit/s
    std::optional<int> SampleRate; // Hz
    std::optional<int> Channels;   // 1 or 2
    std::optional<QString> OutputFolder;
    // The one input's output, exactly this path; its format is set by then,
    // and folders kept and chapter files are off.
    std::optional<QString> OutputFile;
    std::optional<int> Jobs;
    std::optional<int> AudioTrack; // counted from 0, as the encoder counts
    std::optional<QString> Language;
    std::optional<QString> Loudness; // off, replaygain or a target in LUFS
    std::optional<bool> KeepFolders;
    std::optional<bool> SplitChapters;
    TExistingPolicy Existing = TExistingPolicy::Skip;
    bool SkipUpToDate = false;
    bool Quiet = false;
    TProgressStyle Progress = TProgressStyle::Text;
};

struct TCommandLine
{
    TLaunchMode Mode = TLaunchMode::Window;
    QStringList Paths; // absolute, in the order given
    TConvertOptions Convert;
};

// The exit status of a command line that cannot be used.
inline constexpr int UsageExitStatus = 2;

// Reads arguments (without the program's name); relative paths are taken from
// workingFolder and "file:" URLs become paths. Raises TolvaneError with a line
// that names the fault (an unknown option, a bad value, an option of the
// terminal run given to the window).
TCommandLine ParseCommandLine(const QStringList &arguments, const QString &workingFolder);

// The text of --help.
QString UsageText();
// The text of --version.
QString VersionText();

// How a command line that cannot be used is told: the reason and where help is.
QString UsageErrorText(const QString &reason);
