#pragma once
// The encoder's command line: the options the program's builder emits,
// each as its own argument, plus -t, -ss, -map, -acodec copy, -threads,
// -verify, -chapter, -nocover, -loudness, -truepeak, -replaygain and -probe.

#include "libm9s/EncoderContract.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Copy is never the format of an encoding: -acodec copy asks for it (copy below).
using OutputFormat = EncoderContract::Format;

struct EncoderOptions {
    std::string inputPath;
    std::string outputPath;
    bool overwrite = false;
    OutputFormat format = OutputFormat::Mp3;
    int bitrateKbits = 128;
    int sampleRate = 0;                 // 0: keep the input's rate
    int channels = 0;                   // 0: the input's channels, at most two
    int64_t startUs = 0;                // -ss
    std::optional<int64_t> durationUs;  // -t
    bool copy = false;                  // -acodec copy: the audio packets as they are
    std::optional<int> audioTrack;      // -map 0:a:N, counted among the audio streams
    std::string probePath;              // -probe FILE: list the audio tracks, convert nothing
    int threads = 0;                    // -threads N; 0: one per core
    bool verify = false;                // -verify: read the output back before reporting success
    std::optional<int> chapter;         // -chapter N, counted from 1: that chapter only
    bool cover = true;                  // -nocover: no picture in the output
    std::optional<double> loudnessLufs; // -loudness: integrated loudness to bring the audio to
    double truePeakDb = -1.0;           // -truepeak: the ceiling the limiter keeps true peaks under
    bool replayGain = false;            // -replaygain: tags telling players the gain, audio unchanged
};

// The values -loudness and -truepeak take.
constexpr double kMinLoudnessLufs = -70.0;
constexpr double kMaxLoudnessLufs = -5.0;
constexpr double kMinTruePeakDb = -9.0;
constexpr double kMaxTruePeakDb = 0.0;

// Throws OptionError with a one-line text naming the offending argument.
EncoderOptions ParseOptions(const std::vector<std::string> &args);

// The threads a conversion may use: -threads N, else one per core, and
// never more than the cores. With one, reading, decoding and encoding all
// take turns on the calling thread.
int ThreadsToUse(const EncoderOptions &options);

// The -f name of a format ("wav", "mp3", "flac", "m4a", "opus", "ogg").
const char *FormatName(OutputFormat format);
// Its name in messages ("MP3", "Ogg Vorbis", ...).
const char *FormatDisplayName(OutputFormat format);

// The rates an MP3 stream can carry.
bool IsMp3SampleRate(int rate);
// The MP3 rate nearest to rate (6000 gives 8000, 96000 gives 48000).
int NearestMp3SampleRate(int rate);
// The rate an Opus stream gets for the chosen one: 48000 from 44100 up
// (Opus is a 48 kHz codec and keeps everything a 44.1 kHz file holds), else
// the nearest rate libopus supports below it, at least 8000.
int OpusSampleRate(int rate);
// libvorbis sets up for 8000 to 48000 Hz only; rates outside get the nearest end.
int VorbisSampleRate(int rate);
// FFmpeg's FLAC encoder writes a rate into each frame header: any rate below
// 65535 Hz, else one in tens of Hz below 655350. Others get the nearest of those.
int FlacSampleRate(int rate);
