#pragma once
// libm9s -probe FILE: the audio tracks of a file, one line each, for the
// program to offer and to name a copy's output by, then its chapters. The
// format is part of the contract with the program; see the README ("Track
// list").

#include "libm9s/EncoderContract.h"
#include "libm9s/metadata/Chapters.h"

#include <cstdint>
#include <optional>
#include <string>

struct AudioTrack {
    std::string codec;    // FFmpeg's short codec name, e.g. "aac"
    int channels = 0;     // 0: unknown
    int sampleRate = 0;   // 0: unknown
    std::string layout;   // e.g. "5.1(side)"; empty when unknown
    std::string language; // as tagged, usually ISO 639-2 ("jpn")
    std::string title;
    bool isDefault = false;
    std::optional<int64_t> durationUs;
};

// The first line of every list; the number changes only when a field's
// meaning changes. Fields are only ever added at the end of a line.
inline constexpr char kTrackListHeader[] = "libm9s-tracks 1";

// One line, without the line feed: index, codec, channels, sample rate,
// language, title, default (1 or 0), duration in seconds ("." as point),
// layout, separated by tabs, an empty field where unknown.
std::string TrackLine(int index, const AudioTrack &track);

// A chapter's line: kChapterLineStart, number (from 1, what -chapter takes),
// start and end in seconds, title. A reader of tracks alone skips it, since
// its first field is no number.
inline constexpr const char *kChapterLineStart = EncoderContract::ChapterLineStart;
std::string ChapterLine(int number, const Chapter &chapter);

// Prints the list, tracks then chapters, on standard output.
void PrintAudioTracks(const std::string &path);
