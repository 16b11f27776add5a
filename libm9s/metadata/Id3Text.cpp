#include "libm9s/metadata/Id3Text.h"

#include "libm9s/metadata/Tags.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr size_t kHeaderBytes = 10;
// A tag this large holds pictures, not text worth reading for.
constexpr uint32_t kLargestTag = 64u << 20;

uint32_t BigEndian(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint32_t SyncSafe(const uint8_t *p)
{
    return uint32_t(p[0] & 0x7F) << 21 | uint32_t(p[1] & 0x7F) << 14 | uint32_t(p[2] & 0x7F) << 7 | (p[3] & 0x7F);
}

// Unsynchronisation put a zero byte after every 0xFF.
std::vector<uint8_t> Resynchronised(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> out;
    out.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        out.push_back(data[i]);
        if (data[i] == 0xFF && i + 1 < size && data[i + 1] == 0)
            ++i;
    }
    return out;
}

void PutUtf8(std::string &out, uint32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | c >> 6);
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | c >> 12);
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | c >> 18);
        out += char(0x80 | (c >> 12 & 0x3F));
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

std::string FromUtf16(const uint8_t *p, size_t size, bool bigEndian)
{
    if (size >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
        bigEndian = p[0] == 0xFE;
        p += 2;
        size -= 2;
    }
    std::string out;
    for (size_t i = 0; i + 1 < size; i += 2) {
        uint32_t c = bigEndian ? uint32_t(p[i]) << 8 | p[i + 1] : uint32_t(p[i + 1]) << 8 | p[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < size) {
            const uint32_t low = bigEndian ? uint32_t(p[i + 2]) << 8 | p[i + 3] : uint32_t(p[i + 3]) << 8 | p[i + 2];
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        PutUtf8(out, c >= 0xD800 && c < 0xE000 ? 0xFFFD : c);
    }
    return out;
}

std::vector<std::string> TextValues(const uint8_t *p, size_t size)
{
    std::vector<std::string> values;
    if (size < 1)
        return values;
    const uint8_t encoding = p[0];
    ++p;
    --size;
    const size_t unit = encoding == 1 || encoding == 2 ? 2 : 1;
    size_t start = 0;
    for (size_t i = 0;; i += unit) {
        const bool end = i + unit > size;
        if (!end && !(p[i] == 0 && (unit == 1 || p[i + 1] == 0)))
            continue;
        const uint8_t *text = p + start;
        const size_t length = std::min(i, size) - start;
        std::string value;
        if (encoding == 0)
            for (size_t k = 0; k < length; ++k)
                PutUtf8(value, text[k]);
        else if (unit == 2)
            value = FromUtf16(text, length, encoding == 2);
        else
            value.assign(reinterpret_cast<const char *>(text), length);
        if (!value.empty())
            values.push_back(RepairUtf8(value));
        if (end)
            break;
        start = i + unit;
    }
    return values;
}

// Frames whose values are names and words; numbers, dates and genres
// (which FFmpeg turns from codes into names) stay as FFmpeg reads them.
const char *TagOfFrame(const std::string &id)
{
    static const struct {
        const char *frame;
        const char *tag;
    } kFrames[] = {{"TIT2", "title"}, {"TPE1", "artist"},   {"TPE2", "album_artist"},
                   {"TALB", "album"}, {"TCOM", "composer"}, {"TCOP", "copyright"}};
    for (const auto &f : kFrames)
        if (id == f.frame)
            return f.tag;
    return nullptr;
}

} // namespace

std::vector<Id3TextFrame> ReadId3TextFrames(const std::vector<uint8_t> &tag)
{
    std::vector<Id3TextFrame> frames;
    if (tag.size() < kHeaderBytes || std::memcmp(tag.data(), "ID3", 3) != 0)
        return frames;
    const int version = tag[3];
    const uint8_t flags = tag[5];
    if (version != 3 && version != 4)
        return frames;
    const size_t size = std::min<size_t>(SyncSafe(&tag[6]), tag.size() - kHeaderBytes);
    std::vector<uint8_t> body(tag.begin() + kHeaderBytes, tag.begin() + long(kHeaderBytes + size));
    if (version == 3 && (flags & 0x80))
        body = Resynchronised(body.data(), body.size());
    size_t at = 0;
    if (flags & 0x40) {
        if (body.size() < 4)
            return frames;
        at = version == 3 ? size_t(BigEndian(body.data())) + 4 : size_t(SyncSafe(body.data()));
    }
    while (at + kHeaderBytes <= body.size() && body[at] != 0) {
        const uint8_t *header = &body[at];
        const std::string id(reinterpret_cast<const char *>(header), 4);
        const size_t length = version == 4 ? SyncSafe(header + 4) : BigEndian(header + 4);
        const uint8_t format = header[9];
        at += kHeaderBytes;
        if (length > body.size() - at)
            break;
        const uint8_t *data = &body[at];
        at += length;
        if (id[0] != 'T' || id == "TXXX")
            continue;
        // Compressed or encrypted frames are left to FFmpeg.
        if ((version == 4 && (format & 0x0C)) || (version == 3 && (format & 0xC0)))
            continue;
        size_t skip = (version == 4 && (format & 0x01)) ? 4 : (version == 3 && (format & 0x20)) ? 1 : 0;
        if (skip > length)
            continue;
        std::vector<uint8_t> content(data + skip, data + length);
        if (version == 4 && ((format & 0x02) || (flags & 0x80)))
            content = Resynchronised(content.data(), content.size());
        frames.push_back({id, TextValues(content.data(), content.size())});
    }
    return frames;
}

void AddId3Values(const std::string &path, AVDictionary **tags)
{
    std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        return;
    std::vector<uint8_t> tag(kHeaderBytes);
    if (std::fread(tag.data(), 1, tag.size(), file.get()) != tag.size() || std::memcmp(tag.data(), "ID3", 3) != 0)
        return;
    const uint32_t size = SyncSafe(&tag[6]);
    if (size > kLargestTag)
        return;
    tag.resize(kHeaderBytes + size);
    tag.resize(kHeaderBytes + std::fread(tag.data() + kHeaderBytes, 1, size, file.get()));
    for (const Id3TextFrame &frame : ReadId3TextFrames(tag)) {
        const char *key = TagOfFrame(frame.id);
        if (!key || frame.values.size() < 2)
            continue;
        std::string joined;
        for (const std::string &value : frame.values)
            joined += (joined.empty() ? "" : ";") + value;
        av_dict_set(tags, key, joined.c_str(), 0);
    }
}
