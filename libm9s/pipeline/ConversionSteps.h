#pragma once
// The steps of one conversion, shared by Conversion.cpp (setting up and
// finishing), ConversionThreads.cpp (the reading thread and the hand-over),
// ConversionAudio.cpp (trimming, resampling and writing the samples) and
// ConversionLoudness.cpp (measuring first, then levelling or tagging).

#include "libm9s/base/AvHandles.h"
#include "libm9s/base/Options.h"
#include "libm9s/filter/Leveller.h"
#include "libm9s/filter/Resampler.h"
#include "libm9s/input/InputMedia.h"
#include "libm9s/loudness/Loudness.h"
#include "libm9s/loudness/LoudnessPass.h"
#include "libm9s/output/OutputFile.h"
#include "libm9s/output/OutputMedia.h"
#include "libm9s/pipeline/FrameQueue.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class Conversion {
public:
    explicit Conversion(EncoderOptions options) : options_(std::move(options)) {}
    RunEnd Run();

private:
    void OpenInput();
    void AnnounceDuration();
    OutputSettings ChooseOutputSettings();
    void OpenOutput();
    void ReportFitted(const char *unit, int asked, int used, const std::string &where = {});
    bool RunSegmented();
    void SeekToStart();
    void Measure();
    bool MakeUp(MeasureFormat format);
    void PlanLeveller();
    void ReportLoudness();
    void Transcode();
    void TranscodeOnOneThread();
    void ReadAndDecode(FrameQueue &queue);
    void HandleFrame(AVFrame &frame);
    int SamplesToSkip(const AVFrame &frame);
    void ConvertSamples(const uint8_t *const *planes, int samples);
    void DrainResampler();
    int LevelConverted(int capacity, const uint8_t *const *in, int samples);
    void FlushLeveller();
    uint8_t **ReserveConverted(int samples);
    void CommitConverted(int samples);
    bool ConvertedEnough() const;
    void WriteLimited(const uint8_t *const *planes, int samples);
    void Finish();
    void ReportProgress(bool final);

    EncoderOptions options_; // a copy: -chapter N turns into a start and a length
    InputMedia input_;
    bool opened_ = false;
    bool stopped_ = false;
    bool limitReached_ = false;
    std::optional<int64_t> limitSamples_;
    std::optional<int64_t> declaredUs_; // how long the source says the part converted lasts
    int64_t framesDecoded_ = 0;
    // The source's audio the output is made of, for the output check:
    // counted as it is decoded, at each rate it comes in, after the trim;
    // where segments make the output, as the packets add up (the timeline
    // they were cut on), with that much more slack.
    void CountSource(int samples, int rate);
    int64_t SourceUs() const;
    int64_t sourceUsBefore_ = 0; // at rates the source had before
    int64_t sourceSamples_ = 0;
    int sourceRate_ = 0;
    std::optional<int64_t> segmentedSourceUs_;
    int64_t sourceSlackUs_ = 0;
    int64_t nextInputSample_ = 0;

    std::unique_ptr<OutputMedia> output_;
    std::unique_ptr<OutputFile> file_;
    std::unique_ptr<Resampler> resampler_;
    std::vector<const uint8_t *> planes_;

    // -loudness and -replaygain: what the measuring pass found, and the
    // gain (and limiter) between the resampler and the output.
    std::optional<LoudnessMeasure> measure_;
    bool measuredAll_ = false;
    LevelPlan plan_;
    double ceilingDb_ = 0; // where the limiter aims: -truepeak, lower for a lossy encoder's overs
    std::unique_ptr<Leveller> leveller_;

    // With a real encoder (all but WAV) the encoding alone keeps the
    // converting thread busy, so the reading thread resamples too and hands
    // over audio in the output's format through this queue. With WAV it
    // hands over decoded frames.
    FrameQueue *resampledQueue_ = nullptr;
    FramePtr resampled_;     // reading thread: the frame being filled
    bool abandoned_ = false; // reading thread: the converting one wants no more
    std::chrono::steady_clock::time_point lastReport_ = std::chrono::steady_clock::now();
};
