#pragma once
// What reaches an encoder is finite and within [-1, 1]. LAME asserts (and
// aborts the process) on NaN, infinities and values far out of range, and a
// damaged lossy stream or a float file can decode to any of them; ffmpeg's
// own program dies the same way, so the guard sits just before the encoder.

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

#include <cstdint>

// Clips float and double samples in place: NaN and infinities become 0,
// anything else beyond ±1 becomes ±1. Integer formats are left alone (they
// cannot hold anything out of range). planes: one per channel for a planar
// format, else one.
void GuardSamples(uint8_t *const *planes, int channels, int samples, AVSampleFormat format);

// The same for a decoded frame, before it is resampled: a resampler fed NaN
// or huge values spreads them, and its conversion to 16 bits turns them into
// full-scale noise of either sign. Makes the frame writable first when the
// decoder still shares its buffer. Throws std::bad_alloc.
void GuardFrame(AVFrame &frame);
