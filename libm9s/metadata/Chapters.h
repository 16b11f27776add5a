#pragma once
// The source's chapters: listed by -probe, chosen one at a time with
// -chapter N, and carried into the output where its container keeps them.

#include "libm9s/EncoderContract.h"
#include "libm9s/base/Options.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Times in microseconds from the start of the file's timeline, as -ss counts.
struct Chapter {
    int64_t startUs = 0;
    int64_t endUs = 0; // kOpenEnd: to the end of the file
    std::string title;
};
inline constexpr int64_t kOpenEnd = INT64_MAX;
// The most chapters anything here handles, from -chapter to the listing:
// what CHAPTERnnn comments can number.
inline constexpr int kMaxChapters = EncoderContract::MaxChapters;
// Chapters are kept in milliseconds: one shorter than that has no length.
inline constexpr int64_t kShortestChapterUs = 1000;

// The input's chapters in time order, at most kMaxChapters. Each ends
// where the next one begins, the last one at its own end (Ogg keeps starts
// only) or at durationUs. A chapter without length is left out; what is
// left out, and why, goes to *notes as lines to show.
std::vector<Chapter> ReadChapters(const AVFormatContext *input, int64_t fileStartUs, std::optional<int64_t> durationUs,
                                  std::vector<std::string> *notes = nullptr);

// The chapters as they fall in an output that starts at startUs of the
// source and lasts durationUs (to the end when empty): cut to it and
// shifted to begin at zero; those left without length are dropped.
std::vector<Chapter> ChaptersWithin(const std::vector<Chapter> &chapters, int64_t startUs,
                                    std::optional<int64_t> durationUs);

// -chapter N turns into the chapter's start and length (the last one runs
// to the end of the file), with -ss and -t counted within it. Throws
// EncoderError when there is no chapter N.
void SelectChapter(const std::vector<Chapter> &chapters, EncoderOptions &options);

// Into the muxer (before its header) as its format keeps them: MP3 (ID3
// CHAP and CTOC), MP4 and Matroska natively; FLAC and Ogg as CHAPTERnnn
// Vorbis comments. Other formats keep none.
void AddChapters(AVFormatContext *muxer, const std::vector<Chapter> &chapters);

// A Vorbis comment's chapter time: "HH:MM:SS.mmm".
std::string VorbisChapterTime(int64_t us);
