#include "libm9s/pipeline/Conversion.h"

#include "libm9s/base/EncoderError.h"
#include "libm9s/base/Messages.h"
#include "libm9s/base/StopControl.h"
#include "libm9s/base/TimeText.h"
#include "libm9s/loudness/LoudnessPass.h"
#include "libm9s/output/OutputCheck.h"
#include "libm9s/pipeline/ConversionSteps.h"

extern "C" {
#include <libavutil/common.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReportInterval = std::chrono::milliseconds(250);
// A lossy decoder may give up to one of its longest blocks less than was
// encoded at the end (Vorbis reports 64-sample frames yet works in blocks of
// up to 2048): that much is no damage.
constexpr int kLongestLossyBlock = 2048;

// Bits of precision the decoded source really has: a lossy codec's floats
// carry no more than 16 bits of the original, a lossless one's as many as
// its samples hold.
int SourceBits(const AVCodecContext &decoder)
{
    if (decoder.bits_per_raw_sample > 0)
        return decoder.bits_per_raw_sample;
    const AVCodecDescriptor *descriptor = avcodec_descriptor_get(decoder.codec_id);
    const bool lossless = descriptor && (descriptor->props & AV_CODEC_PROP_LOSSLESS);
    const auto format = AVSampleFormat(decoder.sample_fmt);
    const bool floating = format == AV_SAMPLE_FMT_FLT || format == AV_SAMPLE_FMT_FLTP || format == AV_SAMPLE_FMT_DBL
                          || format == AV_SAMPLE_FMT_DBLP;
    if (floating && !lossless)
        return 16;
    return av_get_bytes_per_sample(format) * 8;
}

} // namespace

RunEnd Conversion::Run()
{
    // Refuse before doing any work, so the existing file stays untouched.
    if (!options_.overwrite && PathExists(options_.outputPath))
        throw EncoderError("Output file '" + options_.outputPath + "' already exists");

    OpenInput();
    AnnounceDuration();
    EnableLibraryLog();
    OpenOutput();
    try {
        if (opened_)
            Measure();
        if (opened_ && !stopped_ && !RunSegmented()) {
            SeekToStart();
            Transcode();
        }
        // Reaching -t requests a stop too, to let go of the input: that is
        // no stop of the user's.
        stopped_ = stopped_ || (StopControl::Requested() && !limitReached_);
        ReportLoudness();
        Finish();
    } catch (...) {
        // A failure after the first audio (a stream that changes into
        // something unconvertible, a full disk) still leaves what was
        // converted as a valid file; the error is reported all the same.
        output_->FinishPartial();
        throw;
    }
    // A stop has to end promptly, and what it leaves counts as stopped, not
    // done: neither the check nor the source's length concerns it.
    const int64_t writtenUs = av_rescale(output_->SamplesWritten(), AV_TIME_BASE, output_->SampleRate());
    if (stopped_)
        return RunEnd{true, writtenUs};
    if (options_.verify) {
        const bool lossless = options_.format == OutputFormat::Wav || options_.format == OutputFormat::Flac;
        const int frame = std::max(output_->FrameSize(), lossless ? 1 : kLongestLossyBlock);
        const int64_t frameUs = av_rescale(frame, AV_TIME_BASE, output_->SampleRate());
        CheckOutput(file_->WrittenPath(),
                    WrittenAudio{output_->CodecId(), writtenUs, frameUs, !lossless, ThreadsToUse(options_)});
        // -t cuts what was decoded; the limit is reckoned from both ends,
        // to a sample.
        int64_t sourceUs = SourceUs();
        if (limitSamples_)
            sourceUs = std::min(sourceUs, av_rescale(*limitSamples_, AV_TIME_BASE, output_->SampleRate()));
        const int64_t rounding = av_rescale(2, AV_TIME_BASE, output_->SampleRate()) + 1;
        CheckAgainstSource(writtenUs, sourceUs, frameUs + rounding + sourceSlackUs_);
    }
    ReportIfIncomplete(writtenUs, declaredUs_);
    file_->Publish();
    return RunEnd{};
}

void Conversion::OpenInput()
{
    opened_ = input_.Open(options_.inputPath);
    if (!opened_) {
        stopped_ = true; // stopped while opening: the output is an empty, valid file
        return;
    }
    input_.SelectAudio(options_.audioTrack);
    ApplyChapterChoice(input_, options_);
    input_.OpenDecoder();
}

void Conversion::AnnounceDuration()
{
    if (!opened_)
        return;
    const std::optional<int64_t> us = input_.StatedPartDurationUs(options_.startUs, options_.durationUs);
    if (!us)
        return;
    WriteDurationMarker(FormatClock(*us));
    if (!input_.LengthGuessed())
        declaredUs_ = *us;
}

OutputSettings Conversion::ChooseOutputSettings()
{
    OutputSettings settings;
    settings.format = options_.format;
    settings.bitrateKbits = options_.bitrateKbits;

    const AVCodecContext *decoder = opened_ ? input_.Decoder() : nullptr;
    settings.sampleRate = options_.sampleRate;
    if (!settings.sampleRate)
        settings.sampleRate = decoder && decoder->sample_rate > 0 ? decoder->sample_rate : 44100;
    settings.channels = options_.channels;
    if (!settings.channels)
        settings.channels = decoder ? std::clamp(decoder->ch_layout.nb_channels, 1, 2) : 2;

    if (settings.format == OutputFormat::Mp3 && !IsMp3SampleRate(settings.sampleRate)) {
        int nearest = NearestMp3SampleRate(settings.sampleRate);
        WriteLine("MP3 cannot carry " + std::to_string(settings.sampleRate) + " Hz; writing " + std::to_string(nearest)
                  + " Hz instead");
        settings.sampleRate = nearest;
    }
    if (settings.format == OutputFormat::Flac) {
        ReportFitted("Hz", settings.sampleRate, FlacSampleRate(settings.sampleRate));
        settings.sampleRate = FlacSampleRate(settings.sampleRate);
    }
    if (settings.format == OutputFormat::Opus || settings.format == OutputFormat::Ogg) {
        const int fitted = settings.format == OutputFormat::Opus ? OpusSampleRate(settings.sampleRate)
                                                                 : VorbisSampleRate(settings.sampleRate);
        ReportFitted("Hz", settings.sampleRate, fitted);
        settings.sampleRate = fitted;
    }
    settings.deepSamples = decoder && SourceBits(*decoder) > 16;
    if (opened_)
        settings.expectedUs = input_.PartDurationUs(options_.startUs, options_.durationUs).value_or(0);
    return settings;
}

void Conversion::OpenOutput()
{
    const OutputSettings settings = ChooseOutputSettings();
    output_ = std::make_unique<OutputMedia>(settings);
    if (opened_)
        output_->Carry(std::make_unique<OutputExtras>(input_, options_));
    ReportFitted("Hz", settings.sampleRate, output_->SampleRate());
    if (output_->BitrateKbits() && output_->BitrateKbits() != settings.bitrateKbits)
        ReportFitted("kbit/s", settings.bitrateKbits, output_->BitrateKbits(),
                     " at " + std::to_string(output_->SampleRate()) + " Hz with "
                         + std::to_string(output_->Layout().nb_channels) + " channel(s)");
    file_ = std::make_unique<OutputFile>(options_.outputPath, options_.overwrite);
    if (opened_ && file_->IsSameFileAs(options_.inputPath))
        throw EncoderError("Output file '" + options_.outputPath + "' is the input file");
    output_->Attach(file_.get());
    resampler_ = std::make_unique<Resampler>(output_->Layout(), output_->SampleFormat(), output_->SampleRate());

    // Reckoned from both ends, so that pieces cut at the same points add up
    // to the whole, sample for sample.
    if (options_.durationUs) {
        const int rate = output_->SampleRate();
        const int64_t end = av_sat_add64(options_.startUs, *options_.durationUs);
        limitSamples_ = av_rescale(end, rate, AV_TIME_BASE) - av_rescale(options_.startUs, rate, AV_TIME_BASE);
    }
    if (limitSamples_ && *limitSamples_ <= 0)
        limitReached_ = true;
}

void Conversion::ReportFitted(const char *unit, int asked, int used, const std::string &where)
{
    if (asked == used)
        return;
    WriteLine(std::string(FormatDisplayName(options_.format)) + " cannot carry " + std::to_string(asked) + " " + unit
              + where + "; writing " + std::to_string(used) + " " + unit + " instead");
}

void Conversion::SeekToStart()
{
    // Land on or before the start; HandleFrame() trims to the exact sample.
    if (const std::optional<int64_t> ts = input_.PartSeekTs(options_.startUs))
        input_.SeekAudio(*ts);
}

void Conversion::Finish()
{
    // Nothing decodable in the whole input is a failure, and the output
    // stays as it was found; a stop request or a trim that leaves nothing
    // still makes a valid, empty file.
    if (opened_ && !stopped_ && !limitReached_ && framesDecoded_ == 0)
        throw EncoderError("No audio could be decoded from input '" + options_.inputPath + "'",
                           EncoderContract::FailureKind::Unreadable);
    // A source of a sample or two that resampling to a lower rate leaves
    // with less than one still held audio: it gets one sample, silent, as
    // what a fraction of a sample rounds to.
    const bool heldAudio = sourceSamples_ > 0 || sourceUsBefore_ > 0;
    if (!stopped_ && output_->SamplesWritten() == 0 && heldAudio && (!limitSamples_ || *limitSamples_ > 0)) {
        uint8_t **room = output_->Reserve(1);
        av_samples_set_silence(room, 0, 1, output_->Layout().nb_channels, output_->SampleFormat());
        output_->Commit(1);
    }
    // Nor is an output without audio a success: the part asked for (-ss,
    // -t) held none.
    if (!stopped_ && output_->SamplesWritten() == 0)
        throw EncoderError("Nothing to convert: the part of input '" + options_.inputPath
                           + "' asked for holds no audio");
    output_->Finish();
    ReportProgress(true);
}

void Conversion::ReportProgress(bool final)
{
    const Clock::time_point now = Clock::now();
    if (!final && now - lastReport_ < kReportInterval)
        return;
    lastReport_ = now;
    int64_t done = output_->SamplesWritten();
    if (measure_)
        done = SecondPassProgress(measure_->samples, done);
    WriteTimeMarker(FormatSeconds(done, output_->SampleRate()));
}

RunEnd RunConversion(const EncoderOptions &options) { return Conversion(options).Run(); }
