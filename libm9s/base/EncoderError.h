#pragma once
// A failure that ends the conversion; its text is the one line the encoder
// prints before it exits with status 1, its kind the word the program turns
// into a reason in the user's language.

#include "libm9s/EncoderContract.h"

#include <cstdint>
#include <stdexcept>
#include <string>

class EncoderError : public std::runtime_error {
public:
    explicit EncoderError(const std::string &text, const char *kind = EncoderContract::FailureKind::Other)
        : std::runtime_error(text), kind_(kind)
    {
    }
    // One of EncoderContract::FailureKind.
    const char *Kind() const { return kind_; }

private:
    const char *kind_;
};

// How a run that did not fail ended: with all it was asked for, or
// stopped (the stop text, SIGTERM, SIGINT, its parent's death) with a valid
// file of convertedUs microseconds, never the whole.
struct RunEnd {
    bool stopped = false;
    int64_t convertedUs = 0;
};

// A bad command line: same handling, kept apart so tests can tell them apart.
class OptionError : public EncoderError {
public:
    using EncoderError::EncoderError;
};

// FFmpeg's text for an AVERROR code.
std::string AvErrorText(int code);

// The kind of a failed write or open of the output for a system error
// number: not allowed, no space left, or anything else.
const char *OutputFailureKind(int systemError);
