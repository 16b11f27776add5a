#pragma once
// What the program and libm9s agree on, written once for both sides. Plain
// C++ without Qt, so libm9s can include it as it is; changing a value here
// changes the protocol, and the encoder and the program are shipped together.

namespace EncoderContract {

// Progress on standard error. First, once, the source's duration as a line:
//   ffmpeg_release_duration=<h:m:s.fraction>=ffmpeg_release_duration\n
// then the seconds converted so far ("." as point), each report ending in a
// carriage return so a terminal shows it in place:
//   ffmpeg_release_time=<seconds>=ffmpeg_release_time\r
// Every other message is a whole line.
inline constexpr char DurationOpen[] = "ffmpeg_release_duration=";
inline constexpr char DurationClose[] = "=ffmpeg_release_duration";
inline constexpr char TimeOpen[] = "ffmpeg_release_time=";
inline constexpr char TimeClose[] = "=ffmpeg_release_time";
inline constexpr char LineEnd = '\n';
inline constexpr char ReportEnd = '\r';

// The stop request the program writes to standard input. libm9s stops on any
// line that begins with StopLineStart, and flushes a valid file.
inline constexpr char StopCommand[] = "quit";
inline constexpr char StopLineStart = 'q';
static_assert(StopCommand[0] == StopLineStart);

// Exit statuses. A stop (the stop text, SIGTERM or SIGINT) leaves a valid
// file of what was converted so far, but it is never the whole: it ends with
// a status of its own, after a line that says how far it came, in seconds
// ("." as point), so that nobody takes a part for the finished file:
//   ffmpeg_release_stopped=<seconds converted>=ffmpeg_release_stopped\n
inline constexpr int ExitDone = 0;
inline constexpr int ExitFailed = 1;  // the last line on standard error says why
inline constexpr int ExitStopped = 3; // stopped before the end: a valid part
inline constexpr char StoppedOpen[] = "ffmpeg_release_stopped=";
inline constexpr char StoppedClose[] = "=ffmpeg_release_stopped";

// A source whose audio ends well before the length its container declares
// (more than 1 s and 1 %) is converted as far as it goes and said so once,
// as a line, in seconds ("." as point):
//   ffmpeg_release_incomplete=<seconds read>/<seconds declared>=ffmpeg_release_incomplete\n
inline constexpr char IncompleteOpen[] = "ffmpeg_release_incomplete=";
inline constexpr char IncompleteClose[] = "=ffmpeg_release_incomplete";

// Before its last line, a failing libm9s names the kind of failure, so the
// program can say it in the user's language (the last line stays as the detail):
//   ffmpeg_release_failure=<kind>=ffmpeg_release_failure\n
inline constexpr char FailureOpen[] = "ffmpeg_release_failure=";
inline constexpr char FailureClose[] = "=ffmpeg_release_failure";
namespace FailureKind {
inline constexpr char NoSound[] = "nosound";       // the input holds no audio track (or not the one asked for)
inline constexpr char Unreadable[] = "unreadable"; // missing, damaged or unreadable input
inline constexpr char Access[] = "access";         // not allowed to write the output
inline constexpr char DiskFull[] = "diskfull";     // no space left on the output's device
inline constexpr char CannotKeep[] = "cannotkeep"; // the track cannot be kept as it is in any container
inline constexpr char Check[] = "check";           // the output check read back less than was written
inline constexpr char Other[] = "other";           // anything else; the last line says what
} // namespace FailureKind

// The output formats, in the order the program offers them. Both sides
// read what a format is from this table alone.
enum class Format { Wav, Mp3, Flac, M4a, Opus, Ogg, Copy };

struct FormatTraits {
    Format format;
    const char *name;         // the value of -f, of config.ini's format and the output's extension
    const char *display;      // the name in messages
    bool usesBitrate;         // -ab changes the result
    bool usesRateAndChannels; // -ar and -ac change the result
};

// Copy writes the source's audio as it is, so nothing about it can be chosen;
// it is asked for with -acodec copy, never with -f.
inline constexpr FormatTraits Formats[] = {
    {Format::Wav, "wav", "WAV", false, true},     {Format::Mp3, "mp3", "MP3", true, true},
    {Format::Flac, "flac", "FLAC", false, true},  {Format::M4a, "m4a", "AAC", true, true},
    {Format::Opus, "opus", "Opus", true, true},   {Format::Ogg, "ogg", "Ogg Vorbis", true, true},
    {Format::Copy, "copy", "copy", false, false},
};
inline constexpr Format DefaultFormat = Format::Mp3;

// The traits of format; the default format's for a value outside the enumeration.
constexpr const FormatTraits &TraitsOf(Format format)
{
    for (const FormatTraits &traits : Formats)
        if (traits.format == format)
            return traits;
    return Formats[int(DefaultFormat)];
}
static_assert(TraitsOf(DefaultFormat).format == DefaultFormat);
static_assert(TraitsOf(Format::Copy).format == Format::Copy);

// The option words of a conversion, in the order the program writes them.
inline constexpr char InputOption[] = "-i";
inline constexpr char OverwriteOption[] = "-y";
inline constexpr char FormatOption[] = "-f";
inline constexpr char NoVideoOption[] = "-vn";
inline constexpr char BitrateOption[] = "-ab";
inline constexpr char SampleRateOption[] = "-ar";
inline constexpr char ChannelsOption[] = "-ac";
inline constexpr char CodecOption[] = "-acodec";
inline constexpr char CopyCodec[] = "copy";
inline constexpr char MapOption[] = "-map";
inline constexpr char AudioTrackPrefix[] = "0:a:"; // -map 0:a:N, N counted among the audio streams from 0
// -threads N: the threads one conversion may use (a long file is cut into
// segments encoded side by side).
inline constexpr char ThreadsOption[] = "-threads";
// -probe FILE lists the audio tracks of FILE and converts nothing; the
// source's chapters follow the tracks, each line beginning with
// ChapterLineStart: number (from 1), start and end in seconds, title.
inline constexpr char ProbeOption[] = "-probe";
inline constexpr char ChapterLineStart[] = "chapter";
// -chapter N converts chapter N only (counted from 1) and tags it as a track of its own.
inline constexpr char ChapterOption[] = "-chapter";
// The most chapters of a source that are listed, split or carried over (the
// rest are left out, and a line says so): what CHAPTERnnn comments number.
inline constexpr int MaxChapters = 999;

// The option that makes libm9s read back what it wrote and compare it with
// what it encoded before it reports success.
inline constexpr char VerifyOption[] = "-verify";

} // namespace EncoderContract
