#pragma once
// What the output holds once it is closed, read back from its path, and how
// far the source went against what it declared. A file that ends early (a
// write that went astray, a folder removed while converting, a track the
// container keeps under a codec nobody can read) must not pass for a
// success; a source that ends early is converted as far as it goes and said
// so.

#include <cstdint>
#include <optional>
#include <string>

extern "C" {
#include <libavcodec/codec_id.h>
}

// What was handed to the muxer.
struct WrittenAudio {
    AVCodecID codec = AV_CODEC_ID_NONE;
    int64_t us = 0;          // its length
    int64_t toleranceUs = 0; // one codec frame: padding and priming may differ by that much
    bool decode = false;     // decode it back; else its packets' timestamps tell the length
    int threads = 1;         // for the decoding, where the codec allows
};

// The length that reading path gives, in microseconds: 0 when it cannot be
// opened or its first audio track is not of the codec given.
int64_t ReadBackUs(const std::string &path, AVCodecID codec, bool decode, int threads = 1);

// Throws EncoderError (kind "check") when what path gives back differs from
// what was written by more than the tolerance: "Output check failed: 12:03
// of 45:00 could be read back". For the tests only, the environment
// variable LIBM9S_TEST_CUT_OUTPUT (a fraction such as 0.5) first cuts the
// file to that part of its size, standing in for a write that went astray.
void CheckOutput(const std::string &path, const WrittenAudio &written);

// Throws EncoderError (kind "check") when what was written differs by more
// than toleranceUs from the source's audio it was made of, as decoded (and
// trimmed to the part asked for), not as the source declares its length:
// "Output check failed: 1:15 written of 2:30 decoded from the source".
void CheckAgainstSource(int64_t writtenUs, int64_t sourceUs, int64_t toleranceUs);

// True when a source declared to last declaredUs ended after readUs, more
// than a second and more than 1 % early.
bool EndsEarly(int64_t readUs, int64_t declaredUs);

// Says so on the incomplete-source marker line when it did.
void ReportIfIncomplete(int64_t readUs, std::optional<int64_t> declaredUs);

// A length as people read it: "0:07", "12:03", "1:02:03" (whole seconds).
std::string FormatMinutes(int64_t us);
