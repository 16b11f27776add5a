#include "Tags.h"

#include <initializer_list>

namespace {

const char *Find(const AVDictionary *fileTags, const AVDictionary *streamTags, const char *key)
{
    for (const AVDictionary *tags : {fileTags, streamTags}) {
        const AVDictionaryEntry *e = av_dict_get(tags, key, nullptr, 0);
        if (e && e->value && *e->value)
            return e->value;
    }
    return nullptr;
}

} // namespace

void CopyTags(const AVDictionary *fileTags, const AVDictionary *streamTags, AVDictionary **out)
{
    struct Source {
        const char *key;
        const char *fallback;
    };
    for (Source s :
         {Source{"title", nullptr}, Source{"artist", "author"}, Source{"album", nullptr}, Source{"comment", nullptr}}) {
        const char *value = Find(fileTags, streamTags, s.key);
        if (!value && s.fallback)
            value = Find(fileTags, streamTags, s.fallback);
        if (value)
            av_dict_set(out, s.key, value, 0);
    }
}
