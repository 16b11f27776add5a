#pragma once
// The source's title, artist, album and comment, for the output's tags.

extern "C" {
#include <libavutil/dict.h>
}

// Looks in the file's tags first, then in the audio stream's; "author"
// (RealMedia, ASF) stands in for a missing artist. Adds the tags found to
// *out (which the caller frees).
void CopyTags(const AVDictionary *fileTags, const AVDictionary *streamTags, AVDictionary **out);
