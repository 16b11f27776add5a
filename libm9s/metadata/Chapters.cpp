#include "libm9s/metadata/Chapters.h"

#include "libm9s/base/EncoderError.h"
#include "libm9s/metadata/Tags.h"

extern "C" {
#include <libavutil/common.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Chapters are kept in milliseconds: what ID3, MP4 and Vorbis comments hold.
constexpr AVRational kChapterBase{1, 1000};

bool KeepsNativeChapters(const char *muxer)
{
    for (const char *name : {"mp3", "ipod", "mp4", "mov", "matroska"})
        if (std::strcmp(muxer, name) == 0)
            return true;
    return false;
}

bool KeepsVorbisChapters(const char *muxer)
{
    // FFmpeg's FLAC and Ogg Vorbis writers leave chapters out, and its Opus
    // writer rounds their times to whole seconds: written by hand instead.
    for (const char *name : {"flac", "ogg", "opus"})
        if (std::strcmp(muxer, name) == 0)
            return true;
    return false;
}

void AddNative(AVFormatContext *muxer, const std::vector<Chapter> &chapters)
{
    for (size_t i = 0; i < chapters.size(); ++i) {
        auto *chapter = static_cast<AVChapter *>(av_mallocz(sizeof(AVChapter)));
        if (!chapter)
            throw std::bad_alloc();
        chapter->id = int64_t(i) + 1;
        chapter->time_base = kChapterBase;
        chapter->start = av_rescale_q(chapters[i].startUs, AV_TIME_BASE_Q, kChapterBase);
        chapter->end = av_rescale_q(chapters[i].endUs, AV_TIME_BASE_Q, kChapterBase);
        if (!chapters[i].title.empty())
            av_dict_set(&chapter->metadata, "title", chapters[i].title.c_str(), 0);
        // The context frees its chapters with itself, but not one it could not take.
        int count = int(muxer->nb_chapters);
        if (av_dynarray_add_nofree(&muxer->chapters, &count, chapter) < 0) {
            av_dict_free(&chapter->metadata);
            av_free(chapter);
            throw std::bad_alloc();
        }
        muxer->nb_chapters = unsigned(count);
    }
}

void AddVorbis(AVFormatContext *muxer, const std::vector<Chapter> &chapters)
{
    for (size_t i = 0; i < chapters.size() && i < size_t(kMaxChapters); ++i) {
        char key[32];
        std::snprintf(key, sizeof key, "CHAPTER%03zu", i + 1);
        av_dict_set(&muxer->metadata, key, VorbisChapterTime(chapters[i].startUs).c_str(), 0);
        if (!chapters[i].title.empty())
            av_dict_set(&muxer->metadata, (std::string(key) + "NAME").c_str(), chapters[i].title.c_str(), 0);
    }
}

} // namespace

std::vector<Chapter> ReadChapters(const AVFormatContext *input, int64_t fileStartUs, std::optional<int64_t> durationUs,
                                  std::vector<std::string> *notes)
{
    // ID3 chapters count from the first sample heard, while FFmpeg's
    // timeline for a LAME file starts after the encoder delay it skips
    // (1105 samples): taking that start off would cut every edge early.
    const int64_t originUs = std::strcmp(input->iformat->name, "mp3") == 0 ? 0 : fileStartUs;
    std::vector<Chapter> chapters;
    for (unsigned i = 0; i < input->nb_chapters; ++i) {
        const AVChapter *c = input->chapters[i];
        if (c->time_base.num <= 0 || c->time_base.den <= 0)
            continue;
        Chapter chapter;
        chapter.startUs =
            std::max<int64_t>(0, av_sat_sub64(av_rescale_q(c->start, c->time_base, AV_TIME_BASE_Q), originUs));
        chapter.endUs =
            c->end > c->start ? av_sat_sub64(av_rescale_q(c->end, c->time_base, AV_TIME_BASE_Q), originUs) : 0;
        if (const AVDictionaryEntry *title = av_dict_get(c->metadata, "title", nullptr, 0))
            chapter.title = RepairUtf8(title->value);
        chapters.push_back(chapter);
    }
    std::stable_sort(chapters.begin(), chapters.end(),
                     [](const Chapter &a, const Chapter &b) { return a.startUs < b.startUs; });
    // Each chapter runs to the next one's start, whatever end it names, so
    // that overlapping or gapped chapters still cut the file into pieces
    // that add up to the whole.
    for (size_t i = 0; i + 1 < chapters.size(); ++i)
        chapters[i].endUs = chapters[i + 1].startUs;
    if (!chapters.empty()) {
        Chapter &last = chapters.back();
        if (last.endUs <= last.startUs)
            last.endUs = kOpenEnd;
        if (durationUs && (last.endUs == kOpenEnd || last.endUs > *durationUs))
            last.endUs = std::max(*durationUs, last.startUs);
    }
    std::vector<Chapter> kept;
    for (size_t i = 0; i < chapters.size(); ++i) {
        if (chapters[i].endUs - chapters[i].startUs >= kShortestChapterUs) {
            kept.push_back(chapters[i]);
            continue;
        }
        if (notes)
            notes->push_back("Chapter " + std::to_string(i + 1) + " of the source (at "
                             + VorbisChapterTime(chapters[i].startUs) + ") has no length; left out");
    }
    if (kept.size() > size_t(kMaxChapters)) {
        if (notes)
            notes->push_back("The source has " + std::to_string(kept.size()) + " chapters; only the first "
                             + std::to_string(kMaxChapters) + " are kept");
        kept.resize(size_t(kMaxChapters));
        // The last one kept takes the rest, as -chapter makes it.
        kept.back().endUs = chapters.back().endUs;
    }
    return kept;
}

std::vector<Chapter> ChaptersWithin(const std::vector<Chapter> &chapters, int64_t startUs,
                                    std::optional<int64_t> durationUs)
{
    const int64_t endUs = durationUs ? av_sat_add64(startUs, *durationUs) : kOpenEnd;
    std::vector<Chapter> within;
    for (Chapter c : chapters) {
        const int64_t from = std::max(c.startUs, startUs);
        const int64_t to = std::min(c.endUs, endUs);
        if (to <= from)
            continue;
        c.startUs = from - startUs;
        c.endUs = to == kOpenEnd ? kOpenEnd : to - startUs;
        within.push_back(c);
    }
    return within;
}

void SelectChapter(const std::vector<Chapter> &chapters, EncoderOptions &options)
{
    if (!options.chapter)
        return;
    const int number = *options.chapter;
    if (number < 1 || size_t(number) > chapters.size())
        throw EncoderError("Input '" + options.inputPath + "' has no chapter " + std::to_string(number) + " (it has "
                           + std::to_string(chapters.size()) + ", counted from 1)");
    const Chapter &chapter = chapters[size_t(number) - 1];
    const int64_t start = av_sat_add64(chapter.startUs, options.startUs);
    // The last chapter takes what follows it too (an encoder's padding, a
    // list that ends early), so that the pieces add up to the whole.
    int64_t end = size_t(number) == chapters.size() ? kOpenEnd : chapter.endUs;
    if (options.durationUs)
        end = std::min(end, av_sat_add64(start, *options.durationUs));
    options.startUs = start;
    options.durationUs = end == kOpenEnd ? std::nullopt : std::optional<int64_t>(std::max<int64_t>(0, end - start));
}

void AddChapters(AVFormatContext *muxer, const std::vector<Chapter> &chapters)
{
    std::vector<Chapter> closed = chapters;
    // An open end is known only once the file is written; the muxers want a number.
    if (!closed.empty() && closed.back().endUs == kOpenEnd)
        closed.back().endUs = closed.back().startUs;
    const char *name = muxer->oformat->name;
    if (KeepsNativeChapters(name))
        AddNative(muxer, closed);
    else if (KeepsVorbisChapters(name))
        AddVorbis(muxer, closed);
}

std::string VorbisChapterTime(int64_t us)
{
    const int64_t ms = std::max<int64_t>(0, us) / 1000;
    char text[48];
    std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64 ":%02" PRId64 ".%03" PRId64, ms / 3600000,
                  ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    return text;
}
