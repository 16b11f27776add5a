#include "libm9s/metadata/Extras.h"

#include "libm9s/base/Messages.h"
#include "libm9s/input/InputMedia.h"
#include "libm9s/metadata/Id3Text.h"
#include "libm9s/metadata/Tags.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <cstring>
#include <new>

namespace {

std::vector<Chapter> ChaptersOf(const InputMedia &input, std::vector<std::string> *notes = nullptr)
{
    return ReadChapters(input.Format(), input.StartUs(), input.DurationUs(), notes);
}

} // namespace

void ApplyChapterChoice(const InputMedia &input, EncoderOptions &options)
{
    if (options.chapter)
        SelectChapter(ChaptersOf(input), options);
}

OutputExtras::OutputExtras(const InputMedia &input, const EncoderOptions &options)
{
    AVDictionary *sourceTags = nullptr;
    if (av_dict_copy(&sourceTags, input.Format()->metadata, 0) < 0) {
        av_dict_free(&sourceTags);
        throw std::bad_alloc();
    }
    if (std::strcmp(input.Format()->iformat->name, "mp3") == 0)
        AddId3Values(options.inputPath, &sourceTags);
    AVDictionary *tags = nullptr;
    CopyTags(sourceTags, input.Audio()->metadata, &tags);
    av_dict_free(&sourceTags);
    fileTags_.reset(tags);
    AVDictionary *streamTags = nullptr;
    CopyStreamTags(input.Audio()->metadata, &streamTags);
    streamTags_.reset(streamTags);

    // Said here, not when -chapter is applied: nothing may come before the
    // duration marker.
    std::vector<std::string> notes;
    const std::vector<Chapter> chapters = ChaptersOf(input, &notes);
    for (const std::string &note : notes)
        WriteLine(note);
    if (options.chapter) {
        // One chapter is a file of its own, without chapters inside.
        const Chapter &chosen = chapters.at(size_t(*options.chapter) - 1);
        tags = fileTags_.release();
        SetChapterTags(&tags, chosen.title, *options.chapter, int(chapters.size()));
        fileTags_.reset(tags);
    } else {
        chapters_ = ChaptersWithin(chapters, options.startUs, options.durationUs);
    }
    if (options.cover)
        cover_ = FindCover(input.Format());
    if (cover_ && cover_->data.size() > kMaxCoverBytes) {
        WriteLine("The cover picture (" + std::to_string(cover_->data.size() >> 20) + " MiB) is too large to keep");
        cover_.reset();
    }
    // A picture never costs the audio: one that cannot be read is left out.
    bool readable = true;
    if (cover_) {
        const LibraryLogPause quiet; // the decoder's complaints are said once, below
        readable = DecodeCover(*cover_);
    }
    if (!readable) {
        WriteLine("The cover picture cannot be read; left out");
        cover_.reset();
    }
}

void OutputExtras::Prepare(AVFormatContext *muxer, AVStream *audio)
{
    const char *name = muxer->oformat->name;
    AVDictionary *fileTags = fileTags_.release();
    AVDictionary *streamTags = streamTags_.release();
    FitTags(name, &fileTags, &streamTags);
    RepairTags(&fileTags);
    RepairTags(&streamTags);
    fileTags_.reset(fileTags);
    streamTags_.reset(streamTags);
    if (av_dict_copy(&muxer->metadata, fileTags_.get(), 0) < 0
        || av_dict_copy(&audio->metadata, streamTags_.get(), 0) < 0)
        throw std::bad_alloc();
    // ID3v2.4 holds UTF-8 as it is; earlier versions would need UTF-16.
    if (std::strcmp(name, "mp3") == 0)
        av_opt_set_int(muxer->priv_data, "id3v2_version", 4, 0);
    AddChapters(muxer, chapters_);
    if (cover_)
        placement_ = std::make_unique<CoverPlacement>(muxer, *cover_);
}

void OutputExtras::WriteAfterHeader(AVFormatContext *muxer) const
{
    if (placement_)
        placement_->WritePicture(muxer);
}
