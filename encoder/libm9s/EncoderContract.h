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

// Exit statuses. A stop on request ends as a success: the file is valid.
inline constexpr int ExitDone = 0;
inline constexpr int ExitFailed = 1; // the last line on standard error says why

} // namespace EncoderContract
