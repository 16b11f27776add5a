#pragma once
// Text frames of an ID3v2 tag read straight from the file: FFmpeg's reader
// keeps only the first of a frame's values ("Alice" of "Alice", "Bob"),
// while ID3v2.4 lets every text frame hold several.

extern "C" {
#include <libavutil/dict.h>
}

#include <cstdint>
#include <string>
#include <vector>

// The values of each text frame of the ID3v2 tag (2.3 or 2.4) that begins
// tag, by frame id, in UTF-8 whatever their encoding; empty when it holds
// none or is not one.
struct Id3TextFrame {
    std::string id;
    std::vector<std::string> values;
};
std::vector<Id3TextFrame> ReadId3TextFrames(const std::vector<uint8_t> &tag);

// For an MP3 file at path: every carried tag whose frame holds more than one
// value is set to all of them, joined by ";" as FFmpeg joins repeated Vorbis
// comments, so a tag reads the same from any source.
void AddId3Values(const std::string &path, AVDictionary **tags);
