#pragma once
// The measuring pass on every thread: the track cut into parts on the
// meter's block grid (PartMeters), each measured by a segment thread of its
// own from its lead-in on, as the segments of a conversion are decoded.

#include "libm9s/base/Options.h"
#include "libm9s/loudness/Loudness.h"
#include "libm9s/loudness/LoudnessPass.h"

#include <optional>

// Empty when the input cannot be cut or -threads asks for one: then one
// thread measures it.
std::optional<MeasuredPass> MeasureInParts(const EncoderOptions &options, MeasureFormat format, MeterKind kind);
