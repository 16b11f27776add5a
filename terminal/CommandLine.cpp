#include "terminal/CommandLine.h"

#include "common/TolvaneError.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <optional>

namespace {
const QStringList Formats{QStringLiteral("wav"),  QStringLiteral("mp3"), QStringLiteral("flac"), QStringLiteral("m4a"),
                          QStringLiteral("opus"), QStringLiteral("ogg"), QStringLiteral("copy")};
const QStringList Loudnesses{QStringLiteral("off"), QStringLiteral("-23"), QStringLiteral("-16"), QStringLiteral("-14"),
                             QStringLiteral("replaygain")};
const QStringList Policies{QStringLiteral("skip"), QStringLiteral("overwrite"), QStringLiteral("rename")};
const QStringList ProgressStyles{QStringLiteral("text"), QStringLiteral("json")};
// The extensions that say a format by themselves, each its format's name.
const QStringList FormatExtensions{QStringLiteral("mp3"), QStringLiteral("flac"), QStringLiteral("wav"),
                                   QStringLiteral("m4a"), QStringLiteral("opus"), QStringLiteral("ogg")};

// One option of the terminal run: its names, the name of its value (empty
// for a switch) and its line in --help.
struct TOptionEntry
{
    QStringList names;
    QString valueName;
    QString help;
};

const QList<TOptionEntry> &ConvertOptionEntries()
{
    static const QList<TOptionEntry> entries{
        {{"f", "format"}, "FORMAT", "wav, mp3, flac, m4a, opus, ogg or copy (the original audio)"},
        {{"b", "bitrate"}, "KBITS", "bit rate in kbit/s (mp3, m4a, opus, ogg)"},
        {{"r", "rate"}, "HZ", "sample rate in Hz"},
        {{"c", "channels"}, "N", "1 (mono) or 2 (stereo)"},
        {{"o", "output"}, "DIR", "output folder"},
        {{"output-file"}, "PATH", "the one input's output, exactly this file; its extension says the format"},
        {{"j", "jobs"}, "N", "files converted at once"},
        {{"track"}, "N", "the audio track to take, counted from 1"},
        {{"language"}, "CODE", "take the first audio track in this language (ISO 639 code or name)"},
        {{"existing"}, "WHAT", "an output that exists: skip (the default), overwrite or rename"},
        {{"keep-folders"}, "", "files found in a folder keep their subfolders under the output folder"},
        {{"no-keep-folders"}, "", "every output goes into the output folder itself"},
        {{"skip-up-to-date"}, "", "skip a file whose output exists and is newer than it"},
        {{"loudness"}, "WHAT", "off, -23, -16 or -14 (LUFS), or replaygain (tags only)"},
        {{"split-chapters"}, "", "one output file per chapter"},
        {{"no-split-chapters"}, "", "one output file per source, chapters or not"},
        {{"q", "quiet"}, "", "print only failures and the summary"},
        {{"progress"}, "STYLE", "text (the default) or json: one JSON object per line on standard error"},
    };
    return entries;
}

QList<QCommandLineOption> Options()
{
    QList<QCommandLineOption> options;
    options << QCommandLineOption(QStringLiteral("convert"), QStringLiteral("convert without a window, then exit"));
    for (const TOptionEntry &entry : ConvertOptionEntries())
        options << QCommandLineOption(entry.names, entry.help, entry.valueName);
    options << QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("show this help"));
    options << QCommandLineOption(QStringLiteral("version"), QStringLiteral("show the version"));
    return options;
}

[[noreturn]] void Refuse(const QString &line) { throw TolvaneError(line); }

int NumberIn(const QCommandLineParser &parser, const QString &name, int lowest, int highest)
{
    const QString text = parser.value(name);
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < lowest || value > highest)
        Refuse(QStringLiteral("--%1 takes a whole number from %2 to %3, not '%4'")
                   .arg(name)
                   .arg(lowest)
                   .arg(highest)
                   .arg(text));
    return value;
}

QString OneOf(const QCommandLineParser &parser, const QString &name, const QStringList &allowed)
{
    const QString text = parser.value(name).toLower();
    if (!allowed.contains(text))
        Refuse(QStringLiteral("--%1 takes %2, not '%3'")
                   .arg(name, allowed.join(QStringLiteral(", ")), parser.value(name)));
    return text;
}

// --NAME or --no-NAME; neither leaves the setting to config.ini, both are refused.
std::optional<bool> Switch(const QCommandLineParser &parser, const QString &name)
{
    const QString negated = QStringLiteral("no-") + name;
    const bool on = parser.isSet(name);
    const bool off = parser.isSet(negated);
    if (on && off)
        Refuse(QStringLiteral("--%1 and --%2 cannot be used together").arg(name, negated));
    if (on || off)
        return on;
    return std::nullopt;
}

TConvertOptions ReadConvertOptions(const QCommandLineParser &parser, const QString &workingFolder)
{
    TConvertOptions options;
    if (parser.isSet(QStringLiteral("format")))
        options.Format = OneOf(parser, QStringLiteral("format"), Formats);
    if (parser.isSet(QStringLiteral("bitrate")))
        options.Bitrate = NumberIn(parser, QStringLiteral("bitrate"), 8, 512);
    if (parser.isSet(QStringLiteral("rate")))
        options.SampleRate = NumberIn(parser, QStringLiteral("rate"), 6000, 768000);
    if (parser.isSet(QStringLiteral("channels")))
        options.Channels = NumberIn(parser, QStringLiteral("channels"), 1, 2);
    if (parser.isSet(QStringLiteral("output")))
        options.OutputFolder =
            QDir::cleanPath(QDir(workingFolder).absoluteFilePath(parser.value(QStringLiteral("output"))));
    if (parser.isSet(QStringLiteral("jobs")))
        options.Jobs = NumberIn(parser, QStringLiteral("jobs"), 1, 64);
    if (parser.isSet(QStringLiteral("track")) && parser.isSet(QStringLiteral("language")))
        Refuse(QStringLiteral("--track and --language cannot be used together"));
    if (parser.isSet(QStringLiteral("track")))
        options.AudioTrack = NumberIn(parser, QStringLiteral("track"), 1, 1000) - 1;
    if (parser.isSet(QStringLiteral("language")))
        options.Language = parser.value(QStringLiteral("language"));
    if (parser.isSet(QStringLiteral("existing")))
        options.Existing = TExistingPolicy(Policies.indexOf(OneOf(parser, QStringLiteral("existing"), Policies)));
    if (parser.isSet(QStringLiteral("loudness")))
        options.Loudness = OneOf(parser, QStringLiteral("loudness"), Loudnesses);
    // config.ini may have turned either on: the command line can say no.
    options.KeepFolders = Switch(parser, QStringLiteral("keep-folders"));
    options.SplitChapters = Switch(parser, QStringLiteral("split-chapters"));
    options.SkipUpToDate = parser.isSet(QStringLiteral("skip-up-to-date"));
    options.Quiet = parser.isSet(QStringLiteral("quiet"));
    if (parser.isSet(QStringLiteral("progress")))
        options.Progress =
            TProgressStyle(ProgressStyles.indexOf(OneOf(parser, QStringLiteral("progress"), ProgressStyles)));
    if (parser.isSet(QStringLiteral("output-file")))
        options.OutputFile =
            QDir::cleanPath(QDir(workingFolder).absoluteFilePath(parser.value(QStringLiteral("output-file"))));
    return options;
}

// An exact output is one file's, and its name is the whole of it: it takes
// no output folder, no kept subfolders and no chapter names. Its extension
// says the format unless -f does, and then the two must agree, for the
// extension is what tells the encoder the container.
void CheckOutputFile(TConvertOptions &options, const QStringList &paths)
{
    if (!options.OutputFile)
        return;
    if (paths.size() != 1)
        Refuse(QStringLiteral("--output-file takes exactly one input file, not %1").arg(paths.size()));
    if (options.OutputFolder)
        Refuse(QStringLiteral("--output-file and --output cannot be used together"));
    if (options.KeepFolders.value_or(false))
        Refuse(QStringLiteral("--output-file and --keep-folders cannot be used together"));
    if (options.SplitChapters.value_or(false))
        Refuse(QStringLiteral("--output-file and --split-chapters cannot be used together"));
    const QString extension = QFileInfo(*options.OutputFile).suffix().toLower();
    const QString known = QStringLiteral(".") + FormatExtensions.join(QStringLiteral(", ."));
    if (!options.Format && !FormatExtensions.contains(extension))
        Refuse(QStringLiteral("--output-file needs an extension that says the format (%1), or --format: '%2'")
                   .arg(known, *options.OutputFile));
    if (options.Format && *options.Format != QLatin1String("copy") && *options.Format != extension)
        Refuse(QStringLiteral("--format %1 needs --output-file to end in .%1, not '%2'")
                   .arg(*options.Format, *options.OutputFile));
    options.Format = options.Format.value_or(extension);
    options.KeepFolders = false;
    options.SplitChapters = false;
}

// An option of the terminal run given without --convert.
QString ConvertOptionGiven(const QCommandLineParser &parser)
{
    for (const TOptionEntry &entry : ConvertOptionEntries())
        if (parser.isSet(entry.names.last()))
            return entry.names.last();
    return {};
}

// The first argument before "--" that names no option, so the message can
// show it as the user typed it; empty when there is none.
QString UnknownOption(const QStringList &arguments, const QList<QCommandLineOption> &options)
{
    const auto find = [&options](const QString &name) -> const QCommandLineOption * {
        for (const QCommandLineOption &option : options)
            if (option.names().contains(name))
                return &option;
        return nullptr;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("--"))
            break;
        if (argument.size() < 2 || !argument.startsWith(QLatin1Char('-')))
            continue;
        const bool isLong = argument.startsWith(QLatin1String("--"));
        const QString name = isLong ? argument.mid(2).section(QLatin1Char('='), 0, 0) : argument.mid(1, 1);
        const QCommandLineOption *option = find(name);
        if (!option)
            return argument;
        // A value in the next argument is not an option, whatever it starts with.
        const bool valueAttached = isLong ? argument.contains(QLatin1Char('=')) : argument.size() > 2;
        if (!option->valueName().isEmpty() && !valueAttached)
            ++i;
    }
    return {};
}

QStringList AbsolutePaths(const QStringList &arguments, const QString &workingFolder)
{
    QStringList paths;
    for (const QString &argument : arguments) {
        if (argument.isEmpty())
            continue;
        const QUrl url(argument);
        const QString path =
            url.isLocalFile() && argument.startsWith(QLatin1String("file:")) ? url.toLocalFile() : argument;
        paths << QDir::cleanPath(QDir(workingFolder).absoluteFilePath(path));
    }
    return paths;
}
}

TCommandLine ParseCommandLine(const QStringList &arguments, const QString &workingFolder)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QList<QCommandLineOption> options = Options();
    parser.addOptions(options);
    if (const QString unknown = UnknownOption(arguments, options); !unknown.isEmpty())
        Refuse(QStringLiteral("unknown option '%1' (a file whose name begins with '-' is given as ./%1)").arg(unknown));
    // The parser expects the program's name first.
    if (!parser.parse(QStringList{QStringLiteral("tolvane")} + arguments))
        Refuse(parser.errorText());

    TCommandLine command;
    command.Paths = AbsolutePaths(parser.positionalArguments(), workingFolder);
    if (parser.isSet(QStringLiteral("help"))) {
        command.Mode = TLaunchMode::Help;
    } else if (parser.isSet(QStringLiteral("version"))) {
        command.Mode = TLaunchMode::Version;
    } else if (parser.isSet(QStringLiteral("convert"))) {
        command.Mode = TLaunchMode::Convert;
        command.Convert = ReadConvertOptions(parser, workingFolder);
        if (command.Paths.isEmpty())
            Refuse(QStringLiteral("--convert needs at least one file or folder"));
        CheckOutputFile(command.Convert, command.Paths);
    } else if (const QString option = ConvertOptionGiven(parser); !option.isEmpty()) {
        Refuse(QStringLiteral("--%1 is an option of --convert").arg(option));
    }
    return command;
}

QString UsageText()
{
    QString text = QStringLiteral("Usage: tolvane [FILE-OR-FOLDER...]\n"
                                  "       tolvane --convert [OPTION...] FILE-OR-FOLDER...\n\n"
                                  "Without --convert the window opens with the files and folders queued.\n"
                                  "With --convert they are converted without a window; the settings not given\n"
                                  "come from config.ini, which the command line never changes.\n"
                                  "A folder is searched with its subfolders. \"--\" ends the options.\n\n"
                                  "Options of --convert:\n");
    for (const TOptionEntry &entry : ConvertOptionEntries()) {
        QString names;
        for (const QString &name : entry.names)
            names += (names.isEmpty() ? QString() : QStringLiteral(", ")) + (name.size() == 1 ? "-" : "--") + name;
        if (entry.names.size() == 1)
            names.prepend(QStringLiteral("    "));
        if (!entry.valueName.isEmpty())
            names += QLatin1Char(' ') + entry.valueName;
        text += QStringLiteral("  %1%2\n").arg(names, -26).arg(entry.help);
    }
    text += QStringLiteral("\n  -h, --help                show this help\n"
                           "      --version             show the version\n\n"
                           "Exit status: 0 when every file was converted, 1 when any failed, 2 for bad usage.\n");
    return text;
}

QString VersionText() { return QStringLiteral("tolvane " TOLVANE_VERSION "\n"); }

QString UsageErrorText(const QString &reason)
{
    return QStringLiteral("tolvane: %1\nTry 'tolvane --help' for more information.\n").arg(reason);
}
