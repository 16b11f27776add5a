#include "libm9s/output/FlacSeekTable.h"

#include <algorithm>

namespace {

constexpr int kBlockHeaderBytes = 4;
constexpr int kUsualPadding = 8192;
constexpr uint8_t kSeekTableType = 3;
constexpr uint8_t kPaddingType = 1;
constexpr uint8_t kLastBlock = 0x80;

void PutBigEndian(std::vector<uint8_t> &out, uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(uint8_t(value >> (8 * i)));
}

void PutBlockHeader(std::vector<uint8_t> &out, uint8_t type, bool last, size_t length)
{
    out.push_back(uint8_t(type | (last ? kLastBlock : 0)));
    PutBigEndian(out, length, 3);
}

} // namespace

int FlacSeekTable::PaddingFor(int64_t expectedSamples, int sampleRate)
{
    // Room for a day's points at most (160 kB): a header that declares a
    // length far beyond the audio must not leave megabytes of padding.
    // Beyond it the points are thinned.
    constexpr int64_t kMostPoints = 24 * 3600 / kSpacingSeconds + 1;
    const int64_t spacing = int64_t(std::max(1, sampleRate)) * kSpacingSeconds;
    const int64_t points = std::min(kMostPoints, std::max<int64_t>(0, expectedSamples) / spacing + 1);
    return int(kUsualPadding + kBlockHeaderBytes + points * kPointBytes);
}

FlacSeekTable::FlacSeekTable(int sampleRate) : spacing_(int64_t(std::max(1, sampleRate)) * kSpacingSeconds) {}

void FlacSeekTable::Add(int64_t bytes, int samples)
{
    if (samples_ >= next_ && samples > 0) {
        points_.push_back(Point{samples_, frameBytes_, samples});
        next_ = (samples_ / spacing_ + 1) * spacing_;
    }
    samples_ += std::max(0, samples);
    frameBytes_ += bytes;
}

std::array<uint8_t, 4> FlacSeekTable::LastPaddingHeader(int padding)
{
    return {uint8_t(kPaddingType | kLastBlock), uint8_t(padding >> 16), uint8_t(padding >> 8), uint8_t(padding)};
}

std::vector<uint8_t> FlacSeekTable::Blocks(size_t room) const
{
    if (room < size_t(kBlockHeaderBytes + kPointBytes) || points_.empty())
        return {};
    size_t count = std::min(points_.size(), (room - kBlockHeaderBytes) / kPointBytes);
    // What is left after the table must hold a padding block's header, or
    // be nothing at all.
    const auto left = [&] { return room - kBlockHeaderBytes - count * kPointBytes; };
    if (left() > 0 && left() < size_t(kBlockHeaderBytes))
        --count;
    if (count == 0)
        return {};

    std::vector<uint8_t> out;
    out.reserve(room);
    PutBlockHeader(out, kSeekTableType, left() == 0, count * kPointBytes);
    for (size_t i = 0; i < count; ++i) {
        const Point &p = points_[i * points_.size() / count];
        PutBigEndian(out, uint64_t(p.sample), 8);
        PutBigEndian(out, uint64_t(p.offset), 8);
        PutBigEndian(out, uint64_t(p.samples), 2);
    }
    if (left() > 0) {
        PutBlockHeader(out, kPaddingType, true, left() - kBlockHeaderBytes);
        out.resize(room, 0);
    }
    return out;
}
