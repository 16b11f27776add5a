#pragma once
// Where a conversion's segments lie in the input: whether it can be cut at
// all, where each segment's samples are counted from, and how a seek's
// landing is placed, so that every segment makes what one thread makes.

#include "libm9s/base/Options.h"
#include "libm9s/segments/SegmentJoin.h"

#include <cstdint>
#include <optional>
#include <string>

class InputMedia;
class OutputMedia;

// The segments of a conversion of input into output on ThreadsToUse()
// threads, every one applying gainDb where given; empty where it stays on
// one thread (a format whose encoder carries state from frame to frame, an
// input that cannot be cut, too short a part).
std::optional<SegmentSetup> PlanSegmentedRun(const EncoderOptions &options, InputMedia &input,
                                             const OutputMedia &output, std::optional<int64_t> limitSamples,
                                             std::optional<double> gainDb);

// The part of input that setup.options asks for (-ss, -t, a chapter): where
// its output begins, found as the one-thread run finds it, and where it
// ends (endSamples, output samples; empty: at the input's end). False when
// the start cannot be told.
bool PlaceSegmentPart(const InputMedia &input, SegmentSetup &setup, std::optional<int64_t> endSamples);

// The input sample (from setup's origin) that frame, the first decoded after
// a seek, starts at; empty when unknown.
std::optional<int64_t> PlaceAfterSeek(const SegmentSetup &setup, const AVFrame &frame, AVRational timeBase);

// The input's side of setup for the chosen audio of input (opened from
// path): the track, where samples are counted from and how a seek's landing
// is placed. False when the input cannot be cut (it cannot seek, its
// frames carry no timestamps, its timestamps jump or leave gaps, or its
// packets add up to another length than it states).
bool PlaceSegmentSource(const std::string &path, InputMedia &input, SegmentSetup &setup);
