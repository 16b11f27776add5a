#pragma once
// The source's tags, for the output: gathered from the file and its audio
// stream, then fitted to what the output's tagging can hold.

extern "C" {
#include <libavutil/dict.h>
}

#include <string>
#include <utility>
#include <vector>

// Tags as key and value, in the order they are written.
using TagList = std::vector<std::pair<std::string, std::string>>;

// Title, artist, album artist, album, date, genre, comment, description,
// track, disc, composer, copyright and language. Looks in the file's tags
// first, then in the audio stream's (the language the other way round);
// "author" (RealMedia, ASF) stands in for a missing artist, "year" for a
// missing date. Adds the tags found to *out (which the caller frees).
void CopyTags(const AVDictionary *fileTags, const AVDictionary *streamTags, AVDictionary **out);

// The audio stream's own title and language, for containers that tag each
// stream apart from the file.
void CopyStreamTags(const AVDictionary *streamTags, AVDictionary **out);

// One chapter of the source as a file of its own: its title (when it has
// one), track number/total, and the source's title as the album.
void SetChapterTags(AVDictionary **tags, const std::string &chapterTitle, int number, int total);

// Fits the tags to a muxer's tagging (FFmpeg's muxer name): a tag its format
// cannot hold is left out rather than written where it would be read back as
// another one, and stream tags go only where the container keeps them apart.
void FitTags(const char *muxer, AVDictionary **fileTags, AVDictionary **streamTags);

// Text as UTF-8 must be: each byte that is no part of a valid sequence
// becomes U+FFFD, as the program shows an undecodable file name. Vorbis
// comments must be UTF-8, and FFmpeg's MP3 and MP4 writers drop a tag
// that is not.
std::string RepairUtf8(const std::string &text);
// RepairUtf8() on every value of tags.
void RepairTags(AVDictionary **tags);
