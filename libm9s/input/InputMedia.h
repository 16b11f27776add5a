#pragma once
// The source file: its demuxer, the one audio stream that gets converted
// (every other stream is discarded at the demuxer, so video is never even
// read into packets) and that stream's decoder.

#include "libm9s/base/AvHandles.h"

#include <cstdint>
#include <optional>
#include <string>

class InputMedia {
public:
    // Opens and probes the input. False when a stop request cut this short;
    // throws EncoderError when the input cannot be opened. quick: the
    // header alone where it names every audio stream's codec, channels and
    // rate, else a probe of at most a second of the file.
    bool Open(const std::string &path, bool quick = false);
    // Throws when the input has no audio stream, or no audio track number
    // track (counted among the audio streams) when one is asked for.
    void SelectAudio(std::optional<int> track = std::nullopt);
    void OpenDecoder();
    // The next packet of the file into packet; false at its end or on a stop
    // request. As the ffmpeg program does, a read error ends the input, named
    // on the error output, and what was converted so far makes the output.
    bool ReadPacket(AVPacket *packet);

    AVFormatContext *Format() const { return format_.get(); }
    AVStream *Audio() const { return audio_; }
    AVCodecContext *Decoder() const { return decoder_.get(); }

    // Length of the selected audio (or of the whole file when the stream
    // does not say); empty when neither is known.
    std::optional<int64_t> DurationUs() const;
    // The length of the part converted: from startUs on, at most durationUs
    // (-ss, -t); none while the source's length is unknown.
    std::optional<int64_t> PartDurationUs(int64_t startUs, std::optional<int64_t> durationUs) const;
    // The length of the part as the source states it, for telling whether
    // it ended early: PartDurationUs(), but for a PCM WAV file the length
    // its header gives its data, which FFmpeg's reader drops for the bytes
    // there are when the file is cut short.
    std::optional<int64_t> StatedPartDurationUs(int64_t startUs, std::optional<int64_t> durationUs) const;
    // The length was guessed from the first frames' bit rate (an MP3 without
    // an index): it says nothing about where the source should end.
    bool LengthGuessed() const;
    // Where the file's timeline starts (microseconds).
    int64_t StartUs() const;
    // The same in the time base of the selected audio stream.
    int64_t StartTs() const;
    // Where a seek for a part that starts startUs into the input aims, in
    // the audio's time base: a little before it, so the decoder has warmed
    // up by the part's first sample. Empty near the start, where timestamps
    // are coarser than a sample, or beyond any timestamp: then the part is
    // found by decoding from the top.
    std::optional<int64_t> PartSeekTs(int64_t startUs) const;
    // Seeks to land on or before ts, and flushes the decoder; false when
    // the input could not seek.
    bool SeekAudio(int64_t ts);
    // The samples at the front of frame that lie before a part starting
    // startUs into the input (all of them, for a frame wholly before it),
    // counted by the frame's timestamp from the input's start. *next is
    // where the following frame starts, for one that has no timestamp.
    int SamplesBeforePart(const AVFrame &frame, int64_t startUs, int64_t *next) const;
    // The header names every audio stream's codec, channels and rate: a
    // quick Open() of the same file reads nothing more.
    bool HeaderTellsAll() const;
    // The audio's time base is coarser than its samples (Matroska's
    // milliseconds): a timestamp does not tell the sample a frame starts at.
    bool TimestampsCoarse() const;

private:
    std::optional<int64_t> FileSize() const;
    std::optional<int64_t> WavHeaderUs() const;

    std::string path_;
    InputContextPtr format_;
    AVStream *audio_ = nullptr;
    CodecContextPtr decoder_;
};

// A claimed length (microseconds) that can be right for a file of that many
// bytes (unknown for a pipe), else empty: overflowed, negative or zero, or
// longer than any audio codec could fill with those bytes. Short files get
// kMinPlausibleSeconds whatever their size.
constexpr int64_t kMinPlausibleSeconds = 3600;
std::optional<int64_t> PlausibleDurationUs(int64_t us, std::optional<int64_t> fileBytes);
