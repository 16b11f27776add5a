#include "libm9s/base/StopControl.h"

#include "libm9s/EncoderContract.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#ifdef __linux__
#include <sys/prctl.h>
#endif
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

bool InheritedIgnored(int signal)
{
    struct sigaction current{};
    return sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

void InstallHandler(int signal, void (*handler)(int))
{
    struct sigaction action{};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocked read must return EINTR
    sigaction(signal, &action, nullptr);
}

// What has been read of standard input so far.
struct InputState {
    StopLineScanner scanner;
    bool open = true;
};

// One look at standard input, waiting at most timeoutMs for something to
// arrive; sets the stop request when a stop line has come.
void ReadInput(InputState &input, int timeoutMs)
{
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    int ready = poll(&fd, 1, timeoutMs);
    if (ready < 0) {
        if (errno != EINTR)
            input.open = false;
        return;
    }
    if (ready == 0)
        return;
    if (fd.revents & POLLNVAL) {
        input.open = false;
        return;
    }
    char buffer[256];
    ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
        return;
    if (n <= 0) {
        input.open = false; // end of file is not a stop
        return;
    }
    if (input.scanner.Feed(buffer, size_t(n)))
        stopRequested.store(true);
}

// Reads standard input until end of file; once a stop is requested (from
// here or by a signal) it keeps poking the reading thread with SIGUSR1,
// so that a read blocked on a slow or stalled input returns and the
// interrupt callback gets its turn.
void WatchInput(InputState input)
{
    while (!finished.load()) {
        if (stopRequested.load()) {
            {
                std::lock_guard lock(readingThreadMutex);
                if (!finished.load())
                    pthread_kill(readingThread, SIGUSR1);
            }
            usleep(100 * 1000);
        } else if (input.open) {
            ReadInput(input, 50);
        } else {
            usleep(50 * 1000);
        }
    }
}

} // namespace

namespace StopControl {

void Install()
{
    SetReadingThread(pthread_self());
    std::signal(SIGPIPE, SIG_IGN);
    // An output past the file-size limit fails its write with EFBIG and is
    // reported like a full disk, instead of the signal killing us silently.
    std::signal(SIGXFSZ, SIG_IGN);
    InstallHandler(SIGUSR1, OnNudge);
    InstallHandler(SIGTERM, OnStopSignal);
    // A background job of a non-interactive shell inherits SIGINT ignored,
    // and POSIX means it to stay so; every other disposition becomes ours.
    if (!InheritedIgnored(SIGINT))
        InstallHandler(SIGINT, OnStopSignal);
#ifdef __linux__
    // When the program that started us dies without a word (killed or
    // crashed), finish the file as on SIGTERM rather than convert on as an
    // orphan that nobody will ever stop.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif

    // The watcher takes no process signals, so they reach a thread of the
    // conversion and interrupt whatever it waits for.
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGUSR1);
    // A stop text already waiting counts before anything is opened, however
    // late the watcher gets a processor.
    InputState input;
    ReadInput(input, 0);

    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    std::thread(WatchInput, input).detach();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    // The program starts us with SIGTERM and SIGINT blocked, so that a stop
    // sent while the libraries were still loading waits for the handlers
    // instead of killing us; now they stand, and a waiting stop arrives here.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
}

bool Requested() { return stopRequested.load(); }

void Request() { stopRequested.store(true); }

void SetReadingThread(pthread_t thread)
{
    std::lock_guard lock(readingThreadMutex);
    readingThread = thread;
}

void Finished() { finished.store(true); }

int InterruptCallback(void *) { return stopRequested.load() ? 1 : 0; }

} // namespace StopControl

bool StopLineScanner::Feed(const char *data, size_t size)
{
    bool stop = false;
    for (size_t i = 0; i < size; ++i) {
        if (atLineStart_ && data[i] == EncoderContract::StopLineStart)
            stop = true;
        atLineStart_ = data[i] == '\n';
    }
    return stop;
}
