#include "libm9s/base/Messages.h"

#include "libm9s/EncoderContract.h"
#include "libm9s/base/EncoderError.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <mutex>
#include <unistd.h>

namespace {

constexpr int kMaxLibraryLines = 20;

std::atomic<bool> libraryLogEnabled{false};
std::mutex libraryLogMutex;
std::string pendingLibraryLine;
int libraryLinesWritten = 0;
int libraryPrintPrefix = 1;

void WriteAll(std::string_view text)
{
    const char *data = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return; // a closed pipe or a full disk: nobody to tell
        }
        data += n;
        left -= size_t(n);
    }
}

void LibraryLog(void *avcl, int level, const char *fmt, va_list vl)
{
    if (level > AV_LOG_ERROR || !libraryLogEnabled.load())
        return;
    char line[1024];
    std::lock_guard lock(libraryLogMutex);
    av_log_format_line2(avcl, level, fmt, vl, line, sizeof line, &libraryPrintPrefix);
    pendingLibraryLine += line;
    if (pendingLibraryLine.size() > 4096)
        pendingLibraryLine.resize(4096);
    size_t end = pendingLibraryLine.find('\n');
    while (end != std::string::npos) {
        std::string whole = pendingLibraryLine.substr(0, end);
        pendingLibraryLine.erase(0, end + 1);
        if (libraryLinesWritten < kMaxLibraryLines)
            WriteLine(whole);
        else if (libraryLinesWritten == kMaxLibraryLines)
            WriteLine("(further decoder messages suppressed)");
        ++libraryLinesWritten;
        end = pendingLibraryLine.find('\n');
    }
}

} // namespace

std::string AvErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

const char *OutputFailureKind(int systemError)
{
    switch (systemError) {
    case EACCES:
    case EPERM:
    case EROFS:
        return EncoderContract::FailureKind::Access;
    case ENOSPC:
    case EDQUOT:
        return EncoderContract::FailureKind::DiskFull;
    default:
        return EncoderContract::FailureKind::Other;
    }
}

void WriteLine(std::string_view text)
{
    std::string line(text);
    line += '\n';
    WriteAll(line);
}

void WriteDurationMarker(const std::string &clock)
{
    WriteAll(EncoderContract::DurationOpen + clock + EncoderContract::DurationClose + EncoderContract::LineEnd);
}

void WriteTimeMarker(const std::string &seconds)
{
    WriteAll(EncoderContract::TimeOpen + seconds + EncoderContract::TimeClose + EncoderContract::ReportEnd);
}

void WriteFailure(const char *kind, std::string_view text)
{
    // One write, so the kind and its detail arrive together.
    std::string lines = EncoderContract::FailureOpen + std::string(kind) + EncoderContract::FailureClose;
    lines += EncoderContract::LineEnd;
    lines += text;
    lines += EncoderContract::LineEnd;
    WriteAll(lines);
}

void WriteIncompleteMarker(const std::string &read, const std::string &declared)
{
    WriteAll(EncoderContract::IncompleteOpen + read + "/" + declared + EncoderContract::IncompleteClose
             + EncoderContract::LineEnd);
}

void WriteStoppedMarker(const std::string &seconds)
{
    WriteAll(EncoderContract::StoppedOpen + seconds + EncoderContract::StoppedClose + EncoderContract::LineEnd);
}

void InstallLibraryLog() { av_log_set_callback(LibraryLog); }

void EnableLibraryLog() { libraryLogEnabled.store(true); }

LibraryLogPause::LibraryLogPause() : wasEnabled_(libraryLogEnabled.exchange(false)) {}

LibraryLogPause::~LibraryLogPause() { libraryLogEnabled.store(wasEnabled_); }
