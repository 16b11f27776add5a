#pragma once
// One run of the encoder: open the input, announce its duration, convert
// the chosen audio stream into the output while reporting progress, and
// close a valid file, also when a stop request cuts the run short.

#include "libm9s/base/EncoderError.h"
#include "libm9s/base/Options.h"

// Returns when the file was converted or the run was stopped on request,
// saying which; throws EncoderError on any failure.
RunEnd RunConversion(const EncoderOptions &options);
