#pragma once
// The measuring pass before a levelled conversion or a tagged copy: the
// chosen audio, from the -ss point for the -t length, decoded, resampled
// and measured, with nothing written. The second pass opens the input
// anew, so only as much is kept as one conversion step needs.

#include "libm9s/base/Options.h"
#include "libm9s/loudness/Loudness.h"

#include <optional>

class OutputMedia;

struct MeasureFormat {
    const AVChannelLayout *layout = nullptr; // nullptr: the source's own layout and rate
    int sampleRate = 0;
    // Measures what the conversion would write: the audio through a
    // Leveller of this gain and true-peak ceiling (on one thread, without
    // progress markers: the limiter's gain runs from one sample to the next,
    // and the time must not go back)...
    struct Levelling {
        double gainDb = 0;
        std::optional<double> ceilingDb; // none: the gain alone
    };
    std::optional<Levelling> levelled;
    // ...and then through this output's encoder and back through its
    // decoder, as a player hears a lossy file.
    const OutputMedia *codec = nullptr;
};

struct MeasuredPass {
    LoudnessMeasure measure;
    bool stopped = false; // a stop request cut the pass short: measure holds how far it got
};

// Measured in parts side by side on the -threads threads where the input
// allows (a whole file, seekable, of known length), else on one. Progress
// markers of the loudness pass cover the first half of the time scale (the
// conversion reports the other half); a true-peak pass after it reports
// none, so the time never goes back. Throws EncoderError as a conversion
// does.
MeasuredPass MeasureLoudness(const EncoderOptions &options, MeasureFormat format, MeterKind kind = MeterKind::Loudness);

// The input can be opened a second time and gives the same again (a
// regular file, not a pipe); throws EncoderError naming the option if not.
void RequireRereadableInput(const EncoderOptions &options);

// The progress a second pass reports, after a first that measured
// firstSamples: halfway onwards, so the time never goes back.
int64_t SecondPassProgress(int64_t firstSamples, int64_t done);
