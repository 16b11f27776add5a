#include "StopControl.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<bool> stopRequested{false};
std::atomic<bool> finished{false};
std::atomic<int> signalCount{0};
// Guarded, so that a thread is never poked after it has been replaced (and
// then perhaps joined).
std::mutex readingThreadMutex;
pthread_t readingThread;

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the flags are set from signal handlers");

void OnStopSignal(int)
{
    stopRequested.store(true);
    // Someone insisting: give up on a clean end, as the ffmpeg program does.
    if (signalCount.fetch_add(1) >= 3)
        _exit(255);
}

void OnNudge(int)
{
    // Only there to interrupt a blocking system call of the reading thread.
}

void InstallHandler(int signal, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked read must return EINTR
    sigaction(signal, &action, nullptr);
}

// Reads standard input until end of file; once a stop is requested (from
// here or by a signal) it keeps poking the reading thread with SIGUSR1,
// so that a read blocked on a slow or stalled input returns and the
// interrupt callback gets its turn.
void WatchInput()
{
    StopLineScanner scanner;
    bool inputOpen = true;
    char buffer[256];
    while (!finished.load()) {
        if (stopRequested.load()) {
            {
                std::lock_guard lock(readingThreadMutex);
                if (!finished.load())
                    pthread_kill(readingThread, SIGUSR1);
            }
            usleep(100 * 1000);
            continue;
        }
        if (!inputOpen) {
            usleep(50 * 1000);
            continue;
        }
        pollfd fd{STDIN_FILENO, POLLIN, 0};
        int ready = poll(&fd, 1, 50);
        if (ready < 0) {
            if (errno != EINTR)
                inputOpen = false;
            continue;
        }
        if (ready == 0)
            continue;
        if (fd.revents & POLLNVAL) {
            inputOpen = false;
            continue;
        }
        ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            inputOpen = false;  // end of file is not a stop
            continue;
        }
        if (scanner.Feed(buffer, size_t(n)))
            stopRequested.store(true);
    }
}

} // namespace

namespace StopControl {

void Install()
{
    SetReadingThread(pthread_self());
    std::signal(SIGPIPE, SIG_IGN);
    InstallHandler(SIGUSR1, OnNudge);
    InstallHandler(SIGTERM, OnStopSignal);
    InstallHandler(SIGINT, OnStopSignal);

    // The watcher takes no process signals, so they reach a thread of the
    // conversion and interrupt whatever it waits for.
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    std::thread(WatchInput).detach();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

bool Requested()
{
    return stopRequested.load();
}

void Request()
{
    stopRequested.store(true);
}

void SetReadingThread(pthread_t thread)
{
    std::lock_guard lock(readingThreadMutex);
    readingThread = thread;
}

void Finished()
{
    finished.store(true);
}

int InterruptCallback(void *)
{
    return stopRequested.load() ? 1 : 0;
}

} // namespace StopControl

bool StopLineScanner::Feed(const char *data, size_t size)
{
    bool stop = false;
    for (size_t i = 0; i < size; ++i) {
        if (atLineStart_ && data[i] == 'q')
            stop = true;
        atLineStart_ = data[i] == '\n';
    }
    return stop;
}
