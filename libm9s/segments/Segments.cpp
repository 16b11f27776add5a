#include "libm9s/segments/Segments.h"

extern "C" {
#include <libavutil/crc.h>
}

#include <algorithm>
#include <cstring>

std::vector<Segment> PlanSegments(int64_t totalSamples, int frameSamples, int threads, int64_t maxSamples,
                                  int64_t minSamples)
{
    const int64_t frames = std::max<int64_t>(1, (totalSamples + frameSamples - 1) / frameSamples);
    const int64_t maxFrames = std::max<int64_t>(1, maxSamples / frameSamples);
    const int64_t minFrames = std::max<int64_t>(1, minSamples / frameSamples);
    int64_t count = std::max<int64_t>(threads, (frames + maxFrames - 1) / maxFrames);
    count = std::clamp<int64_t>(std::min(count, frames / minFrames), 1, frames);

    std::vector<Segment> segments;
    for (int64_t i = 0; i < count; ++i) {
        Segment s;
        s.start = frames * i / count * frameSamples;
        s.end = frames * (i + 1) / count * frameSamples;
        s.last = i + 1 == count;
        segments.push_back(s);
    }
    return segments;
}

namespace {

// Threads take the next segment as they finish one, so they all end within
// one segment of each other; the others idle meanwhile. Quarters of the
// last round's segments (none shorter than minSamples) shorten that wait
// to a quarter, for a few more warm-ups.
std::vector<Segment> TaperLastRound(std::vector<Segment> segments, int frameSamples, int threads, int64_t minSamples)
{
    constexpr int64_t kPieces = 4;
    const size_t round = size_t(std::max(1, threads));
    if (segments.size() <= round)
        return segments;
    const int64_t fs = std::max(1, frameSamples);
    const int64_t start = segments[segments.size() - round].start;
    const int64_t end = segments.back().end;
    const int64_t frames = (end - start) / fs;
    const int64_t count = std::min<int64_t>(int64_t(round) * kPieces, frames * fs / std::max<int64_t>(fs, minSamples));
    if (count <= int64_t(round))
        return segments;
    segments.resize(segments.size() - round);
    for (int64_t i = 0; i < count; ++i)
        segments.push_back(Segment{start + frames * i / count * fs, start + frames * (i + 1) / count * fs, false});
    segments.back().end = end;
    segments.back().last = true;
    return segments;
}

} // namespace

std::vector<Segment> PlanFileSegments(int64_t totalSamples, int frameSamples, int threads, int sampleRate)
{
    // Short enough that the finished segments waiting for their turn stay
    // small, long enough that each one's warm-up (half a second of decoding,
    // a few MP3 frames) costs next to nothing. A file too short for two
    // segments of a second stays whole.
    constexpr int64_t kSegmentsPerThread = 6;
    constexpr int64_t kShortestSeconds = 30;
    constexpr int64_t kLongestSeconds = 60;
    const int64_t rate = std::max(1, sampleRate);
    const int64_t fs = std::max(1, frameSamples);
    const int64_t even = totalSamples / (std::max(1, threads) * kSegmentsPerThread);
    // In whole frames: at least the shortest, at most the longest.
    const int64_t shortest = (kShortestSeconds * rate + fs - 1) / fs * fs;
    const int64_t longest = std::max(fs, kLongestSeconds * rate / fs * fs);
    const int64_t length = std::clamp((even + fs - 1) / fs * fs, std::min(shortest, longest), longest);
    return TaperLastRound(PlanSegments(totalSamples, frameSamples, threads, length, rate), frameSamples, threads, rate);
}

namespace {

constexpr int kStreamInfoBytes = 34;

int Utf8Length(uint8_t first)
{
    if (first < 0x80)
        return 1;
    for (int n = 2; n <= 7; ++n)
        if ((first & (0xFF << (7 - n)) & 0xFF) == ((0xFF << (8 - n)) & 0xFF))
            return n;
    return 0;
}

// The UTF-8-like coding of a frame number (up to 36 bits in the format; a
// fixed-block frame number takes 31) at out; returns its length.
int PutUtf8(uint8_t *out, uint32_t value)
{
    if (value < 0x80) {
        out[0] = uint8_t(value);
        return 1;
    }
    int bytes = 2;
    while (bytes < 6 && value >= (1u << (5 * bytes + 1)))
        ++bytes;
    *out++ = uint8_t((0xFF00 >> bytes) | (value >> (6 * (bytes - 1))));
    for (int i = bytes - 2; i >= 0; --i)
        *out++ = uint8_t(0x80 | ((value >> (6 * i)) & 0x3F));
    return bytes;
}

// FLAC's CRC-16 (x^16 + x^15 + x^2 + 1, starting from 0) as its two bytes
// read in order; FFmpeg's table gives them swapped.
uint16_t Crc16(const uint8_t *data, size_t size)
{
    const uint32_t swapped = av_crc(av_crc_get_table(AV_CRC_16_ANSI), 0, data, size);
    return uint16_t(((swapped & 0xFF) << 8) | ((swapped >> 8) & 0xFF));
}

// a times b modulo the CRC's polynomial, both polynomials over GF(2).
uint16_t MultiplyModulo(uint16_t a, uint16_t b)
{
    uint16_t product = 0;
    for (int bit = 15; bit >= 0; --bit) {
        const bool carry = product & 0x8000;
        product = uint16_t(uint16_t(product << 1) ^ (carry ? 0x8005 : 0));
        if ((b >> bit) & 1)
            product ^= a;
    }
    return product;
}

// x^(8n) modulo the polynomial: how n bytes after a message carry its
// checksum along.
uint16_t AcrossBytes(size_t n)
{
    uint16_t result = 1;
    for (uint16_t power = 0x100; n > 0; n >>= 1, power = MultiplyModulo(power, power))
        if (n & 1)
            result = MultiplyModulo(result, power);
    return result;
}

} // namespace

std::span<uint8_t> RenumberFlacFrame(uint8_t *frame, int size, uint32_t number)
{
    // Sync code and a fixed block size; then block size and rate codes,
    // which decide the optional fields after the frame number.
    if (size < 8 || frame[0] != 0xFF || frame[1] != 0xF8)
        return {};
    const int sizeCode = frame[2] >> 4;
    const int rateCode = frame[2] & 0x0F;
    const int numberBytes = Utf8Length(frame[4]);
    const int extra = (sizeCode == 6 ? 1 : sizeCode == 7 ? 2 : 0) + (rateCode == 12 ? 1 : rateCode > 12 ? 2 : 0);
    const int headerEnd = 4 + numberBytes + extra; // where the header's checksum sits
    if (numberBytes == 0 || headerEnd + 1 + 2 > size)
        return {};

    // The new header, checksum included, ends where the old one did.
    const uint16_t oldHeader = Crc16(frame, size_t(headerEnd + 1));
    // Sync and codes, the number (at most 6 bytes), block size and rate
    // (at most 2 each), checksum.
    uint8_t header[4 + 6 + 2 + 2 + 1];
    std::memcpy(header, frame, 4);
    int length = 4 + PutUtf8(header + 4, number);
    std::memcpy(header + length, frame + 4 + numberBytes, size_t(extra));
    length += extra;
    header[length] = uint8_t(av_crc(av_crc_get_table(AV_CRC_8_ATM), 0, header, size_t(length)));
    ++length;
    uint8_t *start = frame + headerEnd + 1 - length;
    std::memcpy(start, header, size_t(length));
    // The frame's checksum is linear in its bytes: the old one, changed by
    // what the header's change does across the unchanged rest, without a
    // pass over the whole frame.
    const size_t rest = size_t(size - 2 - (headerEnd + 1));
    const uint16_t before = uint16_t((frame[size - 2] << 8) | frame[size - 1]);
    const uint16_t crc = before ^ MultiplyModulo(oldHeader ^ Crc16(start, size_t(length)), AcrossBytes(rest));
    const size_t sealed = size_t(length) + rest;
    start[sealed] = uint8_t(crc >> 8);
    start[sealed + 1] = uint8_t(crc);
    return {start, sealed + 2};
}

std::vector<uint8_t> FlacStreamInfo(const uint8_t *encoderInfo, const FlacTotals &totals)
{
    std::vector<uint8_t> info(encoderInfo, encoderInfo + kStreamInfoBytes);
    auto put24 = [&](int at, uint32_t v) {
        info[at] = uint8_t(v >> 16);
        info[at + 1] = uint8_t(v >> 8);
        info[at + 2] = uint8_t(v);
    };
    put24(4, uint32_t(totals.minFrameBytes));
    put24(7, uint32_t(totals.maxFrameBytes));
    // 36 bits of sample count: the low nibble of byte 13 and bytes 14 to 17.
    const uint64_t samples = uint64_t(totals.samples) & 0xFFFFFFFFFull;
    info[13] = uint8_t((info[13] & 0xF0) | (samples >> 32));
    for (int i = 0; i < 4; ++i)
        info[14 + i] = uint8_t(samples >> (24 - 8 * i));
    std::memcpy(info.data() + 18, totals.md5, sizeof totals.md5);
    return info;
}
