#include "libm9s/metadata/Tags.h"

#include <cstdint>
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

// The length of the valid UTF-8 sequence at text[at], 0 for none: no
// overlong forms, surrogates or code points past U+10FFFF.
size_t ValidSequence(const std::string &text, size_t at)
{
    const auto byte = [&](size_t i) { return i < text.size() ? uint8_t(text[i]) : uint8_t(0); };
    const uint8_t lead = byte(at);
    const auto continues = [&](size_t i, uint8_t low = 0x80, uint8_t high = 0xBF) {
        return byte(i) >= low && byte(i) <= high;
    };
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return continues(at + 1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const uint8_t low = lead == 0xE0 ? 0xA0 : 0x80;
        const uint8_t high = lead == 0xED ? 0x9F : 0xBF;
        return continues(at + 1, low, high) && continues(at + 2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const uint8_t low = lead == 0xF0 ? 0x90 : 0x80;
        const uint8_t high = lead == 0xF4 ? 0x8F : 0xBF;
        return continues(at + 1, low, high) && continues(at + 2) && continues(at + 3) ? 4 : 0;
    }
    return 0;
}

} // namespace

std::string RepairUtf8(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const size_t length = ValidSequence(text, at);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++at;
            continue;
        }
        out.append(text, at, length);
        at += length;
    }
    return out;
}

void RepairTags(AVDictionary **tags)
{
    AVDictionary *repaired = nullptr;
    const AVDictionaryEntry *e = nullptr;
    while ((e = av_dict_get(*tags, "", e, AV_DICT_IGNORE_SUFFIX)))
        av_dict_set(&repaired, e->key, RepairUtf8(e->value).c_str(), AV_DICT_MULTIKEY);
    av_dict_free(tags);
    *tags = repaired;
}

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
