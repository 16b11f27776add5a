#pragma once
// Everything the encoder says goes to standard error, unbuffered, each
// message in one write so that progress reports and lines never interleave.
// Messages are whole lines; progress reports end in a carriage return.

#include <string>
#include <string_view>

void WriteLine(std::string_view text);
void WriteDurationMarker(const std::string &clock);
void WriteTimeMarker(const std::string &seconds);
// A failure's last two lines: its kind (EncoderContract::FailureKind) as a
// marker, then the text for people.
void WriteFailure(const char *kind, std::string_view text);
// The source ended before the length it declared: seconds read and declared.
void WriteIncompleteMarker(const std::string &read, const std::string &declared);
// Stopped before the end: the seconds the file holds.
void WriteStoppedMarker(const std::string &seconds);

// FFmpeg's own messages: errors only, as whole lines, and only once the
// duration marker is out (nothing may come before it). A damaged file can
// raise thousands of them, so after a few the rest are dropped.
void InstallLibraryLog();
void EnableLibraryLog();

// Keeps FFmpeg's messages back while it lives: trying settings an encoder
// may refuse is no error to report.
class LibraryLogPause {
public:
    LibraryLogPause();
    ~LibraryLogPause();
    LibraryLogPause(const LibraryLogPause &) = delete;
    LibraryLogPause &operator=(const LibraryLogPause &) = delete;

private:
    bool wasEnabled_;
};
