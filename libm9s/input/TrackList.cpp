#include "libm9s/input/TrackList.h"

#include "libm9s/base/EncoderError.h"
#include "libm9s/base/Messages.h"
#include "libm9s/input/InputMedia.h"
#include "libm9s/metadata/Tags.h"

#include <cinttypes>
#include <cstdio>
#include <vector>

namespace {

// Tabs and line breaks in a tag would break the line apart; the list is UTF-8.
std::string Field(const char *text)
{
    std::string out = RepairUtf8(text ? text : "");
    for (char &c : out)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return out;
}

std::string Tag(const AVDictionary *tags, const char *key)
{
    const AVDictionaryEntry *e = av_dict_get(tags, key, nullptr, 0);
    return Field(e ? e->value : nullptr);
}

std::string Number(int value) { return value > 0 ? std::to_string(value) : std::string(); }

std::string Seconds(std::optional<int64_t> us)
{
    if (!us)
        return {};
    char text[32];
    std::snprintf(text, sizeof text, "%" PRId64 ".%03" PRId64, *us / 1000000, (*us % 1000000) / 1000);
    return text;
}

AudioTrack DescribeTrack(const InputMedia &input, const AVStream *stream)
{
    const AVCodecParameters *par = stream->codecpar;
    AudioTrack track;
    track.codec = par->codec_id == AV_CODEC_ID_NONE ? std::string() : avcodec_get_name(par->codec_id);
    track.channels = par->ch_layout.nb_channels;
    track.sampleRate = par->sample_rate;
    // A header that gives only the count (Matroska) means the usual layout.
    AVChannelLayout described{};
    if (par->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&described, par->ch_layout.nb_channels);
    else
        av_channel_layout_copy(&described, &par->ch_layout);
    char layout[64] = {};
    if (described.nb_channels > 0 && described.order != AV_CHANNEL_ORDER_UNSPEC
        && av_channel_layout_describe(&described, layout, sizeof layout) > 0)
        track.layout = Field(layout);
    av_channel_layout_uninit(&described);
    track.language = Tag(stream->metadata, "language");
    if (track.language == "und")
        track.language.clear();
    track.title = Tag(stream->metadata, "title");
    track.isDefault = (stream->disposition & AV_DISPOSITION_DEFAULT) != 0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        track.durationUs =
            PlausibleDurationUs(av_rescale_q(stream->duration, stream->time_base, AV_TIME_BASE_Q), std::nullopt);
    if (!track.durationUs && input.Format()->duration != AV_NOPTS_VALUE)
        track.durationUs = PlausibleDurationUs(input.Format()->duration, std::nullopt);
    return track;
}

} // namespace

std::string TrackLine(int index, const AudioTrack &track)
{
    std::string line = std::to_string(index);
    for (const std::string &field :
         {track.codec, Number(track.channels), Number(track.sampleRate), track.language, track.title,
          std::string(track.isDefault ? "1" : "0"), Seconds(track.durationUs), track.layout})
        line += '\t' + Field(field.c_str());
    return line;
}

std::string ChapterLine(int number, const Chapter &chapter)
{
    const std::optional<int64_t> end = chapter.endUs == kOpenEnd ? std::nullopt : std::optional<int64_t>(chapter.endUs);
    return std::string(kChapterLineStart) + '\t' + std::to_string(number) + '\t' + Seconds(chapter.startUs) + '\t'
           + Seconds(end) + '\t' + Field(chapter.title.c_str());
}

namespace {

void OpenForList(InputMedia &input, const std::string &path)
{
    if (!input.Open(path, true))
        throw EncoderError("Stopped while reading input '" + path + "'");
}

std::vector<AudioTrack> ListTracks(const InputMedia &input)
{
    std::vector<AudioTrack> tracks;
    const AVFormatContext *format = input.Format();
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            tracks.push_back(DescribeTrack(input, format->streams[i]));
    return tracks;
}

} // namespace

void PrintAudioTracks(const std::string &path)
{
    InputMedia input;
    OpenForList(input, path);
    const std::vector<AudioTrack> tracks = ListTracks(input);
    std::string text = std::string(kTrackListHeader) + "\n";
    for (size_t i = 0; i < tracks.size(); ++i)
        text += TrackLine(int(i), tracks[i]) + "\n";
    std::vector<std::string> notes;
    const std::vector<Chapter> chapters = ReadChapters(input.Format(), input.StartUs(), input.DurationUs(), &notes);
    for (const std::string &note : notes)
        WriteLine(note);
    for (size_t i = 0; i < chapters.size(); ++i)
        text += ChapterLine(int(i) + 1, chapters[i]) + "\n";
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}
