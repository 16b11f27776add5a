#include "libm9s/pipeline/Pipeline.h"

#include "libm9s/base/Messages.h"
#include "libm9s/base/StopControl.h"
#include "libm9s/base/TimeText.h"
#include "libm9s/filter/AudioFilter.h"
#include "libm9s/metadata/Extras.h"
#include "libm9s/output/CopyContainer.h"
#include "libm9s/output/CopyWriter.h"
#include "libm9s/output/OutputCheck.h"
#include "libm9s/output/OutputFile.h"
#include "libm9s/output/OutputMedia.h"
#include "libm9s/pipeline/StageLinks.h"

extern "C" {
#include <libavutil/common.h>
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <utility>

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

Pipeline::Pipeline(EncoderOptions options) : options_(std::move(options)), loudness_(options_) {}

Pipeline::~Pipeline() = default;

RunEnd Pipeline::Run()
{
    // Refuse before doing any work, so the existing file stays untouched.
    if (!options_.overwrite && PathExists(options_.outputPath))
        throw EncoderError("Output file '" + options_.outputPath + "' already exists");
    OpenInput();
    return options_.copy ? Copy() : Convert();
}

void Pipeline::OpenInput()
{
    opened_ = input_.Open(options_.inputPath);
    if (!opened_) {
        stopped_ = true;
        return;
    }
    input_.SelectAudio(options_.audioTrack);
    ApplyChapterChoice(input_, options_);
    if (!options_.copy)
        input_.OpenDecoder();
}

void Pipeline::AnnounceDuration()
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

void Pipeline::OpenFile()
{
    file_ = std::make_unique<OutputFile>(options_.outputPath, options_.overwrite);
    if (opened_ && file_->IsSameFileAs(options_.inputPath))
        throw EncoderError("Output file '" + options_.outputPath + "' is the input file");
}

RunEnd Pipeline::Publish(int64_t writtenUs)
{
    ReportIfIncomplete(writtenUs, declaredUs_);
    file_->Publish();
    return RunEnd{};
}

bool Pipeline::TimeToReport(bool final)
{
    const Clock::time_point now = Clock::now();
    if (!final && now - lastReport_ < kReportInterval)
        return false;
    lastReport_ = now;
    return true;
}

RunEnd Pipeline::Convert()
{
    // Stopped while opening: the output is an empty, valid file.
    AnnounceDuration();
    EnableLibraryLog();
    OpenOutput();
    try {
        if (opened_ && !loudness_.MeasureForConversion(*output_))
            stopped_ = true; // nothing converted yet: an empty file
        if (opened_ && !stopped_ && !RunSegmented())
            Transcode();
        // Reaching -t requests a stop too, to let go of the input: that is
        // no stop of the user's.
        stopped_ = stopped_ || (StopControl::Requested() && !limited_->Full());
        loudness_.Report(filter_ && filter_->Limited());
        FinishConversion();
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
    if (options_.verify)
        CheckConversion(writtenUs);
    return Publish(writtenUs);
}

OutputSettings Pipeline::ChooseOutputSettings()
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

void Pipeline::OpenOutput()
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
    OpenFile();
    output_->Attach(file_.get());

    // Reckoned from both ends, so that pieces cut at the same points add up
    // to the whole, sample for sample.
    std::optional<int64_t> limit;
    if (options_.durationUs) {
        const int rate = output_->SampleRate();
        const int64_t end = av_sat_add64(options_.startUs, *options_.durationUs);
        limit = av_rescale(end, rate, AV_TIME_BASE) - av_rescale(options_.startUs, rate, AV_TIME_BASE);
    }
    limited_ = std::make_unique<LimitedOutput>(*output_, limit);
}

void Pipeline::ReportFitted(const char *unit, int asked, int used, const std::string &where)
{
    if (asked == used)
        return;
    WriteLine(std::string(FormatDisplayName(options_.format)) + " cannot carry " + std::to_string(asked) + " " + unit
              + where + "; writing " + std::to_string(used) + " " + unit + " instead");
}

void Pipeline::FinishConversion()
{
    // Nothing decodable in the whole input is a failure, and the output
    // stays as it was found; a stop request or a trim that leaves nothing
    // still makes a valid, empty file.
    const int64_t framesDecoded = filter_ ? filter_->FramesDecoded() : framesDecoded_;
    if (opened_ && !stopped_ && !limited_->Full() && framesDecoded == 0)
        throw EncoderError("No audio could be decoded from input '" + options_.inputPath + "'",
                           EncoderContract::FailureKind::Unreadable);
    // A source of a sample or two that resampling to a lower rate leaves
    // with less than one still held audio: it gets one sample, silent, as
    // what a fraction of a sample rounds to.
    const bool heldAudio = filter_ && filter_->HeldAudio();
    const std::optional<int64_t> limit = limited_->Limit();
    if (!stopped_ && output_->SamplesWritten() == 0 && heldAudio && (!limit || *limit > 0)) {
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
    ReportConverted(true);
}

void Pipeline::CheckConversion(int64_t writtenUs)
{
    const bool lossless = options_.format == OutputFormat::Wav || options_.format == OutputFormat::Flac;
    const int frame = std::max(output_->FrameSize(), lossless ? 1 : kLongestLossyBlock);
    const int64_t frameUs = av_rescale(frame, AV_TIME_BASE, output_->SampleRate());
    CheckOutput(file_->WrittenPath(),
                WrittenAudio{output_->CodecId(), writtenUs, frameUs, !lossless, ThreadsToUse(options_)});
    // -t cuts what was decoded; the limit is reckoned from both ends, to a
    // sample.
    int64_t sourceUs = segmentedSourceUs_.value_or(filter_ ? filter_->SourceUs() : 0);
    if (const std::optional<int64_t> limit = limited_->Limit())
        sourceUs = std::min(sourceUs, av_rescale(*limit, AV_TIME_BASE, output_->SampleRate()));
    const int64_t rounding = av_rescale(2, AV_TIME_BASE, output_->SampleRate()) + 1;
    CheckAgainstSource(writtenUs, sourceUs, frameUs + rounding + sourceSlackUs_);
}

void Pipeline::ReportConverted(bool final)
{
    if (TimeToReport(final))
        WriteTimeMarker(FormatSeconds(loudness_.Progress(output_->SamplesWritten()), output_->SampleRate()));
}

RunEnd Pipeline::Copy()
{
    // Stopped while opening: without the codec there is no container to
    // write, so the output is left as it was.
    const RunEnd stoppedUntouched{true, 0};
    if (!opened_)
        return stoppedUntouched;
    const AVCodecID codec = input_.Audio()->codecpar->codec_id;
    const CopyContainer container = ChooseCopyContainer(codec, options_.outputPath);
    if (!ExtensionFits(options_.outputPath, container))
        throw EncoderError("Output file '" + options_.outputPath + "' does not fit the " + avcodec_get_name(codec)
                           + " audio of input '" + options_.inputPath + "'; a copy of it needs the extension ."
                           + container.extensions.front());
    writer_ = std::make_unique<CopyWriter>(input_, options_, container.muxer);
    AnnounceDuration();
    writer_->RefuseWhatCannotBeKept();
    EnableLibraryLog();
    if (options_.replayGain
        && !loudness_.MeasureForCopy(container.muxer, container.extensions.front(), codec == AV_CODEC_ID_OPUS))
        return stoppedUntouched; // stopped while measuring: nothing copied
    writer_->Prepare(loudness_.CopyTags());
    OpenFile();
    writer_->Attach(file_.get());
    try {
        CopyPackets();
        FinishCopy();
    } catch (...) {
        writer_->FinishPartial();
        throw;
    }
    if (writer_->Packets() == 0)
        return stoppedUntouched; // stopped before the first packet: nothing was written
    if (writer_->Skipped() > 0)
        WriteLine("Skipped " + std::to_string(writer_->Skipped())
                  + " damaged audio packet(s) that could not be copied");
    if (StopControl::Requested())
        return RunEnd{true, writer_->SpanUs()};
    if (options_.verify)
        writer_->Check();
    return Publish(writer_->EndUs());
}

void Pipeline::FinishCopy()
{
    // Without a single packet there is nothing to put in a container (an
    // MP4 or Matroska file without one is not even readable): the output
    // stays as it was found. After a stop request that is success.
    if (writer_->Packets() == 0) {
        if (StopControl::Requested())
            return;
        if (options_.startUs > 0)
            throw EncoderError("Nothing to copy: input '" + options_.inputPath
                               + "' has no audio after the start offset");
        if (options_.durationUs)
            throw EncoderError("Nothing to copy: the part of input '" + options_.inputPath
                               + "' asked for holds no audio");
        throw EncoderError("No audio could be read from input '" + options_.inputPath + "'",
                           EncoderContract::FailureKind::Unreadable);
    }
    writer_->Finish();
    ReportCopied(true);
}

void Pipeline::ReportCopied(bool final)
{
    if (TimeToReport(final))
        WriteTimeMarker(FormatSeconds(loudness_.ProgressMs(std::max<int64_t>(writer_->ReachedMs(), 0)), 1000));
}

RunEnd RunPipeline(const EncoderOptions &options) { return Pipeline(options).Run(); }
