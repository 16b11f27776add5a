#pragma once
// What an output carries over from its source besides the audio: tags,
// cover and chapters, each placed as the output's container keeps them.

#include "libm9s/base/AvHandles.h"
#include "libm9s/base/Options.h"
#include "libm9s/metadata/Chapters.h"
#include "libm9s/metadata/Cover.h"

#include <memory>
#include <optional>
#include <vector>

class InputMedia;

// -chapter N: the input's chapters, read, and the options' start and length
// set to chapter N's (see SelectChapter).
void ApplyChapterChoice(const InputMedia &input, EncoderOptions &options);

class OutputExtras {
public:
    // From an opened input with its audio stream chosen; options as
    // ApplyChapterChoice() left them.
    OutputExtras(const InputMedia &input, const EncoderOptions &options);

    // Before the muxer's header: tags, chapters and the cover's place.
    void Prepare(AVFormatContext *muxer, AVStream *audio);
    // After the header: the cover, where it is written as a packet.
    void WriteAfterHeader(AVFormatContext *muxer) const;

private:
    std::unique_ptr<AVDictionary, DictionaryDeleter> fileTags_;
    std::unique_ptr<AVDictionary, DictionaryDeleter> streamTags_;
    std::optional<CoverArt> cover_;
    std::unique_ptr<CoverPlacement> placement_;
    std::vector<Chapter> chapters_;
};
