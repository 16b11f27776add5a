#pragma once
// The writing end of a copy: the source's packets, as they are, into the
// container that fits their codec, with the source's tags, cover and
// chapters. Nothing reaches the output file before the first packet: until
// then each packet is tried on the same muxer writing into memory, so one
// that no muxer takes leaves the output as it was.

#include "libm9s/base/AvHandles.h"
#include "libm9s/base/Options.h"
#include "libm9s/metadata/Tags.h"

#include <cstdint>
#include <memory>
#include <string>

class InputMedia;
class MemorySink;
class OutputExtras;
class OutputFile;

class CopyWriter {
public:
    CopyWriter(const InputMedia &input, const EncoderOptions &options, std::string muxer);
    ~CopyWriter();
    CopyWriter(const CopyWriter &) = delete;
    CopyWriter &operator=(const CopyWriter &) = delete;

    // Throws EncoderError (kind cannotkeep) when the container cannot keep
    // the codec; the output is not touched.
    void RefuseWhatCannotBeKept() const;
    // Sets up the muxer with the source's extras, and tags more.
    void Prepare(const TagList &tags);
    // The muxer writes into file, from the first packet on.
    void Attach(OutputFile *file);
    // A packet of the chosen audio, its timestamps counted from the part's
    // start; one the muxer refuses is skipped and counted.
    void Write(AVPacket &packet);
    // Writes the trailer; there must be a packet in.
    void Finish();
    // After a failure: closes what was started; never throws.
    void FinishPartial() noexcept;
    // Reads the file back and compares its length with what was written.
    void Check() const;

    int64_t Packets() const { return packets_; }
    int64_t Skipped() const { return skipped_; }
    // From the start of the first packet written to the end of the last.
    int64_t SpanUs() const { return firstUs_ == INT64_MAX ? 0 : endUs_ - firstUs_; }
    int64_t EndUs() const { return endUs_; }
    int64_t ReachedMs() const { return reachedMs_; }

private:
    OutputContextPtr MakeCopyMuxer(AVStream **stream) const;
    bool Accepted(const AVPacket &packet);
    void Start();

    const InputMedia &input_;
    const EncoderOptions &options_;
    const std::string muxerName_;
    std::unique_ptr<OutputExtras> extras_;
    OutputFile *file_ = nullptr;
    OutputContextPtr muxer_;
    AVStream *out_ = nullptr;
    // Until the first packet is in: the same muxer writing into memory.
    std::unique_ptr<MemorySink> trialSink_;
    OutputContextPtr trial_;
    bool started_ = false;
    int64_t lastDts_ = INT64_MIN;
    int64_t reachedMs_ = 0; // end of the last packet written
    int64_t packets_ = 0;
    int64_t skipped_ = 0;         // packets no muxer would take
    int64_t firstUs_ = INT64_MAX; // start of the first packet written
    int64_t endUs_ = 0;           // end of the last one
    int64_t longestUs_ = 0;       // the longest packet written
};
