#include "Tags.h"

#include <cstring>
#include <initializer_list>

namespace {

const char *Find(const AVDictionary *first, const AVDictionary *second, const char *key)
{
    for (const AVDictionary *tags : {first, second}) {
        const AVDictionaryEntry *e = av_dict_get(tags, key, nullptr, 0);
        if (e && e->value && *e->value)
            return e->value;
    }
    return nullptr;
}

const char *Value(const AVDictionary *tags, const char *key)
{
    const AVDictionaryEntry *e = av_dict_get(tags, key, nullptr, 0);
    return e ? e->value : nullptr;
}

bool IsAny(const char *name, std::initializer_list<const char *> names)
{
    for (const char *n : names)
        if (std::strcmp(name, n) == 0)
            return true;
    return false;
}

} // namespace

void CopyTags(const AVDictionary *fileTags, const AVDictionary *streamTags, AVDictionary **out)
{
    struct Source {
        const char *key;
        const char *fallback;
    };
    for (Source s : {Source{"title", nullptr}, Source{"artist", "author"}, Source{"album_artist", nullptr},
                     Source{"album", nullptr}, Source{"date", "year"}, Source{"genre", nullptr},
                     Source{"comment", nullptr}, Source{"description", nullptr}, Source{"track", nullptr},
                     Source{"disc", nullptr}, Source{"composer", nullptr}, Source{"copyright", nullptr}}) {
        const char *value = Find(fileTags, streamTags, s.key);
        if (!value && s.fallback)
            value = Find(fileTags, streamTags, s.fallback);
        if (value)
            av_dict_set(out, s.key, value, 0);
    }
    // A file tagged "und" says nothing about its language.
    const char *language = Find(streamTags, fileTags, "language");
    if (language && std::strcmp(language, "und") != 0)
        av_dict_set(out, "language", language, 0);
}

void CopyStreamTags(const AVDictionary *streamTags, AVDictionary **out)
{
    for (const char *key : {"title", "language"})
        if (const char *value = Find(streamTags, nullptr, key); value && std::strcmp(value, "und") != 0)
            av_dict_set(out, key, value, 0);
}

void SetChapterTags(AVDictionary **tags, const std::string &chapterTitle, int number, int total)
{
    if (const char *source = Value(*tags, "title"))
        av_dict_set(tags, "album", source, 0);
    if (!chapterTitle.empty())
        av_dict_set(tags, "title", chapterTitle.c_str(), 0);
    av_dict_set(tags, "track", (std::to_string(number) + "/" + std::to_string(total)).c_str(), 0);
}

void FitTags(const char *muxer, AVDictionary **fileTags, AVDictionary **streamTags)
{
    if (IsAny(muxer, {"ipod", "mp4", "mov", "matroska"})) {
        // The language belongs to the track (MP4 keeps it nowhere else).
        if (const char *language = Value(*fileTags, "language"))
            av_dict_set(streamTags, "language", language, AV_DICT_DONT_OVERWRITE);
        av_dict_set(fileTags, "language", nullptr, 0);
        return;
    }
    // The other containers have one set of tags for the file; Ogg would let
    // a stream's title replace the file's.
    av_dict_free(streamTags);
    if (IsAny(muxer, {"flac", "ogg", "opus"})) {
        // Vorbis comments know one DESCRIPTION, which FFmpeg reads as the
        // comment: a description goes there only when there is no comment.
        if (const char *description = Value(*fileTags, "description"))
            av_dict_set(fileTags, "comment", description, AV_DICT_DONT_OVERWRITE);
        av_dict_set(fileTags, "description", nullptr, 0);
    } else if (!IsAny(muxer, {"mp3", "wav"})) {
        av_dict_free(fileTags); // raw AC-3 and E-AC-3 carry no tags
    }
}
