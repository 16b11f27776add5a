// A console child for the runner tests. Each argument is one step, done in order:
//   out:TEXT      write TEXT to standard output in one write
//   err:TEXT      write TEXT to standard error in one write
//   sleep:MS      sleep MS milliseconds
//   drained:FD    wait until the parent has read everything written to FD
//                 (1 or 2), so that the next write comes in a read of its own
//   bulk:N        write N lines "line <i>\n" (i from 0) to standard output
//   pid           write "pid <id>\n" to standard output
//   cwd           write the working folder and "\n" to standard output
//   quit          read standard input until a line "quit", write "bye\n", end
//   heard         read standard input until a line "quit", then go on
//   touch:PATH    create the file PATH
//   ignore        read and ignore standard input, never end by itself
//   stdin:MS      collect standard input until it stays silent for MS ms,
//                 then write what came as hex digits and "\n"
//   exit:CODE     end with CODE
// TEXT understands \r, \n, \t, \\ and \xHH.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {
std::string unescape(const char *text)
{
    std::string bytes;
    for (const char *p = text; *p; ++p) {
        if (*p != '\\' || !p[1]) {
            bytes += *p;
            continue;
        }
        ++p;
        switch (*p) {
        case 'r':
            bytes += '\r';
            break;
        case 'n':
            bytes += '\n';
            break;
        case 't':
            bytes += '\t';
            break;
        case 'x': {
            const char hex[3] = {p[1], p[1] ? p[2] : '\0', '\0'};
            bytes += static_cast<char>(std::strtol(hex, nullptr, 16));
            p += 2;
            break;
        }
        default:
            bytes += *p;
            break;
        }
    }
    return bytes;
}

void writeAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            std::exit(3);
        done += static_cast<size_t>(n);
    }
}

bool readLine(std::string &line)
{
    line.clear();
    char c;
    for (;;) {
        const ssize_t n = ::read(0, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return !line.empty();
        if (c == '\n')
            return true;
        line += c;
    }
}

std::string collectStdin(int quietMs)
{
    std::string bytes;
    pollfd in{0, POLLIN, 0};
    while (::poll(&in, 1, quietMs) > 0) {
        char buffer[256];
        const ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n <= 0)
            break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

void sleepMs(long ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
}

// The bytes still in the pipe behind fd, whichever end fd is.
void waitUntilDrained(int fd)
{
    int pending = 0;
    while (::ioctl(fd, FIONREAD, &pending) == 0 && pending > 0)
        sleepMs(1);
}

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        const auto value = [&](size_t prefix) { return argv[i] + prefix; };
        if (step.rfind("out:", 0) == 0) {
            writeAll(1, unescape(value(4)));
        } else if (step.rfind("err:", 0) == 0) {
            writeAll(2, unescape(value(4)));
        } else if (step.rfind("sleep:", 0) == 0) {
            sleepMs(std::atol(value(6)));
        } else if (step.rfind("drained:", 0) == 0) {
            waitUntilDrained(std::atoi(value(8)));
        } else if (step.rfind("bulk:", 0) == 0) {
            const long count = std::atol(value(5));
            std::string text;
            for (long n = 0; n < count; ++n)
                text += "line " + std::to_string(n) + "\n";
            writeAll(1, text);
        } else if (step == "pid") {
            writeAll(1, "pid " + std::to_string(::getpid()) + "\n");
        } else if (step == "cwd") {
            char folder[4096];
            writeAll(1, std::string(::getcwd(folder, sizeof folder) ? folder : "?") + "\n");
        } else if (step == "quit") {
            std::string line;
            while (readLine(line)) {
                if (line == "quit" || line == "quit\r") {
                    writeAll(1, "bye\n");
                    return 0;
                }
            }
            return 0;
        } else if (step == "heard") {
            std::string line;
            while (readLine(line) && line != "quit" && line != "quit\r") {
            }
        } else if (step.rfind("touch:", 0) == 0) {
            std::fclose(std::fopen(value(6), "w"));
        } else if (step == "ignore") {
            char buffer[256];
            while (::read(0, buffer, sizeof buffer) > 0) {
            }
            for (;;)
                sleepMs(1000);
        } else if (step.rfind("stdin:", 0) == 0) {
            static const char digits[] = "0123456789abcdef";
            std::string hex;
            for (unsigned char c : collectStdin(std::atoi(value(6)))) {
                hex += digits[c >> 4];
                hex += digits[c & 15];
            }
            writeAll(1, hex + "\n");
        } else if (step.rfind("exit:", 0) == 0) {
            return std::atoi(value(5));
        } else {
            std::fprintf(stderr, "consolehelper: unknown step %s\n", argv[i]);
            return 2;
        }
    }
    return 0;
}
