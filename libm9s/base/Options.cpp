#include "libm9s/base/Options.h"

#include "libm9s/EncoderContract.h"
#include "libm9s/base/EncoderError.h"
#include "libm9s/base/TimeText.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <thread>

namespace {

// More segment threads than this gain nothing on any machine we know and
// only multiply the open inputs.
constexpr int kMaxThreads = 256;

constexpr std::array<int, 9> kMp3Rates{8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

int ParseWholeNumber(const std::string &option, const std::string &text, int min, int max)
{
    int value = 0;
    const char *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < min || value > max)
        throw OptionError("Invalid value '" + text + "' for option '" + option + "'");
    return value;
}

// The formats -f can name: every one but a copy.
bool Encodable(const EncoderContract::FormatTraits &traits) { return traits.format != OutputFormat::Copy; }

OutputFormat ParseFormat(const std::string &text)
{
    for (const EncoderContract::FormatTraits &traits : EncoderContract::Formats)
        if (Encodable(traits) && text == traits.name)
            return traits.format;
    throw OptionError("Unknown output format '" + text + "' (wav, mp3, flac, m4a, opus or ogg)");
}

int ParseAudioTrack(const std::string &text)
{
    // Only the first input's audio streams can be meant: "0:a:N".
    const std::string prefix = EncoderContract::AudioTrackPrefix;
    if (text.compare(0, prefix.size(), prefix) != 0)
        throw OptionError("Invalid value '" + text + "' for option '-map' (0:a:N)");
    return ParseWholeNumber("-map", text.substr(prefix.size()), 0, 9999);
}

bool EndsWithNoCase(const std::string &text, const std::string &tail)
{
    if (text.size() < tail.size())
        return false;
    for (size_t i = 0; i < tail.size(); ++i) {
        char c = text[text.size() - tail.size() + i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != tail[i])
            return false;
    }
    return true;
}

double ParseDecibels(const std::string &option, const std::string &text, double min, double max)
{
    double value = 0;
    const char *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !(value >= min && value <= max))
        throw OptionError("Invalid value '" + text + "' for option '" + option + "'");
    return value;
}

int64_t ParseTime(const std::string &option, const std::string &text)
{
    std::optional<int64_t> us = ParseTimeText(text);
    if (!us)
        throw OptionError("Invalid time '" + text + "' for option '" + option + "'");
    return *us;
}

} // namespace

EncoderOptions ParseOptions(const std::vector<std::string> &args)
{
    EncoderOptions options;
    bool haveInput = false;
    bool haveOutput = false;
    bool haveFormat = false;
    bool haveTruePeak = false;

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        auto value = [&]() -> const std::string & {
            if (i + 1 >= args.size())
                throw OptionError("Missing argument for option '" + arg + "'");
            return args[++i];
        };

        if (arg == EncoderContract::InputOption) {
            options.inputPath = value();
            haveInput = true;
        } else if (arg == EncoderContract::OverwriteOption) {
            options.overwrite = true;
        } else if (arg == EncoderContract::FormatOption) {
            options.format = ParseFormat(value());
            haveFormat = true;
        } else if (arg == EncoderContract::NoVideoOption) {
            // Video is never written; nothing to switch off.
        } else if (arg == EncoderContract::BitrateOption) {
            options.bitrateKbits = ParseWholeNumber(arg, value(), 1, 100000);
        } else if (arg == EncoderContract::SampleRateOption) {
            options.sampleRate = ParseWholeNumber(arg, value(), 1000, 768000);
        } else if (arg == EncoderContract::ChannelsOption) {
            options.channels = ParseWholeNumber(arg, value(), 1, 2);
        } else if (arg == "-t") {
            options.durationUs = ParseTime(arg, value());
        } else if (arg == "-ss") {
            options.startUs = ParseTime(arg, value());
        } else if (arg == EncoderContract::MapOption) {
            options.audioTrack = ParseAudioTrack(value());
        } else if (arg == EncoderContract::CodecOption) {
            const std::string &codec = value();
            if (codec != EncoderContract::CopyCodec)
                throw OptionError("Invalid value '" + codec
                                  + "' for option '-acodec' (only copy; -f chooses the encoder)");
            options.copy = true;
        } else if (arg == "-threads") {
            options.threads = ParseWholeNumber(arg, value(), 1, kMaxThreads);
        } else if (arg == EncoderContract::VerifyOption) {
            options.verify = true;
        } else if (arg == "-chapter") {
            options.chapter = ParseWholeNumber(arg, value(), 1, EncoderContract::MaxChapters);
        } else if (arg == "-nocover") {
            options.cover = false;
        } else if (arg == EncoderContract::ProbeOption) {
            options.probePath = value();
        } else if (arg == "-loudness") {
            options.loudnessLufs = ParseDecibels(arg, value(), kMinLoudnessLufs, kMaxLoudnessLufs);
        } else if (arg == "-truepeak") {
            options.truePeakDb = ParseDecibels(arg, value(), kMinTruePeakDb, kMaxTruePeakDb);
            haveTruePeak = true;
        } else if (arg == "-replaygain") {
            options.replayGain = true;
        } else if (!arg.empty() && arg[0] == '-') {
            throw OptionError("Unrecognized option '" + arg + "'");
        } else {
            if (haveOutput)
                throw OptionError("Unexpected argument '" + arg + "' after output file '" + options.outputPath + "'");
            options.outputPath = arg;
            haveOutput = true;
        }
    }

    if (!options.probePath.empty()) {
        if (haveInput || haveOutput)
            throw OptionError("-probe takes a file of its own and no -i or output file");
        return options;
    }
    if (!haveInput || options.inputPath.empty())
        throw OptionError("No input file given (-i)");
    if (!haveOutput || options.outputPath.empty())
        throw OptionError("No output file given");
    if (options.loudnessLufs && options.copy)
        throw OptionError("-loudness changes the audio, which -acodec copy keeps as it is (-replaygain tags a copy)");
    if (options.loudnessLufs && options.replayGain)
        throw OptionError("-loudness and -replaygain exclude each other");
    if (haveTruePeak && !options.loudnessLufs)
        throw OptionError("-truepeak needs -loudness");
    // A copy's container follows the source's codec; -f does not matter.
    if (!haveFormat && !options.copy) {
        bool found = false;
        for (const EncoderContract::FormatTraits &traits : EncoderContract::Formats)
            if (!found && Encodable(traits) && EndsWithNoCase(options.outputPath, std::string(".") + traits.name)) {
                options.format = traits.format;
                found = true;
            }
        if (!found)
            throw OptionError("No output format given (-f wav or -f mp3)");
    }
    return options;
}

const char *FormatName(OutputFormat format) { return EncoderContract::TraitsOf(format).name; }

int ThreadsToUse(const EncoderOptions &options)
{
    // Threads beyond the cores only take turns on them, each with an input,
    // decoder, encoder and finished segments of its own in memory: 256 asked
    // for on a three-minute file once cost 43 s and 2.8 GB.
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    return options.threads > 0 ? std::min(options.threads, cores) : cores;
}

const char *FormatDisplayName(OutputFormat format) { return EncoderContract::TraitsOf(format).display; }

bool IsMp3SampleRate(int rate)
{
    for (int r : kMp3Rates)
        if (r == rate)
            return true;
    return false;
}

int NearestMp3SampleRate(int rate)
{
    int best = kMp3Rates.front();
    for (int r : kMp3Rates)
        if (std::abs(r - rate) < std::abs(best - rate))
            best = r;
    return best;
}

int OpusSampleRate(int rate)
{
    if (rate >= 44100)
        return 48000;
    for (int r : {24000, 16000, 12000, 8000})
        if (r <= rate)
            return r;
    return 8000;
}

int VorbisSampleRate(int rate) { return std::clamp(rate, 8000, 48000); }

int FlacSampleRate(int rate)
{
    constexpr int kLargestInHertz = 65534;
    constexpr int kLargestInTens = 655340;
    if (rate <= kLargestInHertz)
        return rate;
    return std::min((rate + 5) / 10 * 10, kLargestInTens);
}
