// The seam check of benchmarks/long_file.sh: a segmented output against the
// one-thread output and the source (the one-thread WAV at the same rate).
//
//   seam_check_driver SOURCE.wav ONE MANY THREADS
//
// Prints the decoded lengths, both SNRs against the source and, for MP3,
// the worst frame at a join against the 99th percentile of the others.
// Exit status 3 when a target is missed.

#include "EncoderTestKit.h"
#include "libm9s/segments/Segments.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace EncoderTestKit;

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s SOURCE.wav ONE MANY THREADS\n", argv[0]);
        return 2;
    }
    const AudioInfo source = Probe(argv[1], true);
    const AudioInfo one = Probe(argv[2], true);
    const AudioInfo many = Probe(argv[3], true);
    const int threads = std::atoi(argv[4]);
    if (!source.opened || !one.opened || !many.opened || source.channels != many.channels) {
        std::fprintf(stderr, "cannot compare the files\n");
        return 2;
    }
    const bool mp3 = many.codec == "mp3";
    std::vector<int64_t> joins;
    // The cuts as the encoder makes them; a decoded MP3 lags by LAME's delay.
    for (const Segment &s : PlanFileSegments(source.samples, mp3 ? 1152 : 4608, threads, many.sampleRate))
        if (s.start > 0)
            joins.push_back(s.start - (mp3 ? 1105 : 0));
    const SeamReport a = CompareFrames(source.pcm, one.pcm, source.channels, {});
    const SeamReport b = CompareFrames(source.pcm, many.pcm, source.channels, joins);
    const bool sameLength = one.samples == many.samples;
    // Past 90 dB both are transparent (a lossless output differs from the
    // source only where a lossy source's decoder makes noise up anew).
    const bool snrOk = b.snrDb >= std::min(a.snrDb, 90.0) - 0.3;
    const bool seamOk = joins.empty() || b.worstJoin < b.p99Others || b.worstJoin == 0;
    std::printf("decoded length: one thread %lld, %d threads %lld (%s)\n", (long long)one.samples, threads,
                (long long)many.samples, sameLength ? "equal" : "DIFFERENT");
    std::printf("SNR against the source: one thread %.2f dB, %d threads %.2f dB (%s)\n", a.snrDb, threads, b.snrDb,
                !snrOk                               ? "MORE THAN 0.3 dB WORSE"
                : std::min(a.snrDb, b.snrDb) >= 90.0 ? "both past 90 dB: transparent"
                                                     : "within 0.3 dB");
    std::printf("%zu joins: worst join frame %.4g, 99th percentile of the others %.4g (%s)\n", joins.size(),
                b.worstJoin, b.p99Others, seamOk ? "no seam" : "SEAM");
    return sameLength && snrOk && seamOk ? 0 : 3;
}
