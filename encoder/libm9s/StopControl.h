#pragma once
// The stop request: "quit" (any line beginning with q) on standard input,
// SIGTERM or SIGINT. A request only sets a flag; the conversion notices it,
// flushes what it has and closes a valid file. End of file on standard input
// is not a request.

#include <cstddef>

namespace StopControl {

// Installs the signal handlers (SIGPIPE ignored) and starts the thread that
// watches standard input. Call once, from the thread that converts.
void Install();

bool Requested();
void Request();

// The conversion is done: no more nudges at the converting thread.
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
