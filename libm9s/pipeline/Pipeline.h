#pragma once
// One run of the encoder, whatever it asks: the one place that knows the
// whole chain. It builds the chain the request needs, hands each stage its
// frames and packets, and the stages never call one another.
//
//   convert:  input -> decode -> filter (trim, resample, level) -> encode and write -> check
//   copy:     input -> packet range -> copy writer -> check
//   -loudness, -replaygain: the loudness stage measures first, then the chain runs
//   -threads:  decoding on a thread of its own, or segments on every thread
//
// It returns when the file was made or the run was stopped on request,
// saying which, and throws EncoderError on any failure, after closing what
// was written as a valid file.

#include "libm9s/base/EncoderError.h"
#include "libm9s/base/Options.h"
#include "libm9s/input/InputMedia.h"
#include "libm9s/loudness/LoudnessStage.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class AudioFilter;
class CopyWriter;
class FrameQueue;
class LimitedOutput;
class OutputFile;
class OutputMedia;
struct OutputSettings;

class Pipeline {
public:
    explicit Pipeline(EncoderOptions options);
    ~Pipeline();
    Pipeline(const Pipeline &) = delete;
    Pipeline &operator=(const Pipeline &) = delete;

    RunEnd Run();

private:
    // Pipeline.cpp: what every chain does, from the input to the published file.
    void OpenInput();
    void AnnounceDuration();
    void OpenFile();
    RunEnd Publish(int64_t writtenUs);
    RunEnd Convert();
    OutputSettings ChooseOutputSettings();
    void OpenOutput();
    void ReportFitted(const char *unit, int asked, int used, const std::string &where = {});
    void FinishConversion();
    void CheckConversion(int64_t writtenUs);
    RunEnd Copy();
    void FinishCopy();
    bool TimeToReport(bool final);
    void ReportConverted(bool final);
    void ReportCopied(bool final);

    // PipelineChains.cpp: the chains between the input and the output.
    bool RunSegmented();
    void Transcode();
    void TranscodeOnOneThread();
    void ReadAndDecode(FrameQueue &queue, bool resampled);
    void CopyPackets();

    EncoderOptions options_; // a copy: -chapter N turns into a start and a length
    InputMedia input_;
    bool opened_ = false;
    bool stopped_ = false;
    std::optional<int64_t> declaredUs_; // how long the source says the part converted lasts
    std::unique_ptr<OutputFile> file_;
    LoudnessStage loudness_;

    // A conversion's stages.
    std::unique_ptr<OutputMedia> output_;
    std::unique_ptr<LimitedOutput> limited_;
    std::unique_ptr<AudioFilter> filter_;
    int64_t framesDecoded_ = 0;
    // The source's audio the output is made of, for the output check: as
    // the filter counts it, or where segments make the output, as the
    // packets add up (the timeline they were cut on), with that much more
    // slack.
    std::optional<int64_t> segmentedSourceUs_;
    int64_t sourceSlackUs_ = 0;

    // A copy's.
    std::unique_ptr<CopyWriter> writer_;

    std::chrono::steady_clock::time_point lastReport_ = std::chrono::steady_clock::now();
};

RunEnd RunPipeline(const EncoderOptions &options);
