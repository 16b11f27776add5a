#pragma once
// A failure that ends the conversion; its text is the one line the encoder
// prints before it exits with status 1.

#include <stdexcept>
#include <string>

class EncoderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A bad command line: same handling, kept apart so tests can tell them apart.
class OptionError : public EncoderError {
public:
    using EncoderError::EncoderError;
};

// FFmpeg's text for an AVERROR code.
std::string AvErrorText(int code);
