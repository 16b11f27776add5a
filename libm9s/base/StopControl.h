#pragma once
// The stop request: "quit" (any line beginning with q) on standard input,
// SIGTERM or SIGINT. A request only sets a flag; the conversion notices it,
// flushes what it has and closes a valid file. End of file on standard input
// is not a request.

#include <cstddef>
#include <pthread.h>

namespace StopControl {

// Installs the signal handlers (SIGPIPE and SIGXFSZ ignored; SIGINT left
// alone when it came ignored), starts the thread that watches standard input
// and then unblocks SIGTERM and SIGINT in the calling thread, so a stop the
// program sent while they were blocked is taken now. Call once, from the
// thread that converts.
void Install();

bool Requested();
void Request();

// The thread that may sit in a blocking read of the input: once a stop is
// requested it gets SIGUSR1 every 100 ms until Finished(), so such a read
// returns and the interrupt callback gets its turn. Install() names the
// calling thread; the thread must stay joinable while it is named.
void SetReadingThread(pthread_t thread);

// The conversion is done: no more nudges.
void Finished();

// For AVFormatContext::interrupt_callback: stops opening, probing and reading.
int InterruptCallback(void *);

} // namespace StopControl

// Watches the bytes of standard input for a line that begins with 'q'.
// The request counts as soon as the 'q' arrives; the rest of the line does
// not matter.
class StopLineScanner {
public:
    bool Feed(const char *data, size_t size);

private:
    bool atLineStart_ = true;
};
