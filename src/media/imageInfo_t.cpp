#include "media/imageInfo_t.h"

#include <cstring>
#include <stdexcept>

#include "xclass/XFile.h"

namespace imageInfoDetail {

// Any short read, failed check or seek out of range ends the parse; the constructors turn it
// into the all-zero record.
struct ParseFailure {};

class streamIn {
public:
    virtual ~streamIn() = default;
    virtual size_t read(void* buffer, size_t n) = 0;
    virtual int64_t skip(int64_t n) = 0;
    virtual bool canSeek() const { return true; }
    virtual void seek(int64_t position) = 0;
    virtual int64_t tell() const = 0;
    virtual int64_t size() const = 0;
};

class fileIn : public streamIn {
public:
    void readExact(void* buffer, size_t n)
    {
        if (read(buffer, n) != n)
            throw ParseFailure{};
    }
    void skipExact(int64_t n)
    {
        if (n < 0 || skip(n) != n)
            throw ParseFailure{};
    }
    uint8_t byte()
    {
        uint8_t b;
        readExact(&b, 1);
        return b;
    }
    uint16_t le16()
    {
        uint8_t b[2];
        readExact(b, 2);
        return uint16_t(b[0] | b[1] << 8);
    }
    uint32_t le32()
    {
        uint8_t b[4];
        readExact(b, 4);
        return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    }
    uint16_t be16()
    {
        uint8_t b[2];
        readExact(b, 2);
        return uint16_t(b[0] << 8 | b[1]);
    }
    uint32_t be32()
    {
        uint8_t b[4];
        readExact(b, 4);
        return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    }
};

class fileInFile : public fileIn {
public:
    explicit fileInFile(XFile& file) : m_file(file), m_size(file.GetSize())
    {
        if (m_size < 0)
            throw ParseFailure{};
    }
    size_t read(void* buffer, size_t n) override
    {
        bool failed = false;
        const uint32_t got = m_file.Read(buffer, uint32_t(n), 2, &failed);
        return failed ? 0 : got;
    }
    int64_t skip(int64_t n) override
    {
        const int64_t here = tell();
        const int64_t step = n < m_size - here ? n : m_size - here;
        if (step <= 0)
            return 0;
        seek(here + step);
        return step;
    }
    void seek(int64_t position) override
    {
        if (position < 0 || position > m_size || !m_file.Seek(position, 0))
            throw ParseFailure{};
    }
    int64_t tell() const override { return m_file.GetPosition(); }
    int64_t size() const override { return m_size; }

private:
    XFile& m_file;
    int64_t m_size;
};

class fileInMemRef : public fileIn {
public:
    fileInMemRef(const uint8_t* data, size_t size) : m_data(data), m_size(data ? size : 0) {}
    size_t read(void* buffer, size_t n) override
    {
        const size_t left = m_size - m_position;
        const size_t k = n < left ? n : left;
        if (k)
            memcpy(buffer, m_data + m_position, k);
        m_position += k;
        return k;
    }
    int64_t skip(int64_t n) override
    {
        if (n <= 0)
            return 0;
        const size_t left = m_size - m_position;
        const size_t k = uint64_t(n) < left ? size_t(n) : left;
        m_position += k;
        return int64_t(k);
    }
    void seek(int64_t position) override
    {
        if (position < 0 || uint64_t(position) > m_size)
            throw ParseFailure{};
        m_position = size_t(position);
    }
    int64_t tell() const override { return int64_t(m_position); }
    int64_t size() const override { return int64_t(m_size); }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_position = 0;
};

struct Parsed {
    const char* name = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t bitsPerPixel = 0;
    bool alpha = false;
};

void ParseBmp(fileIn& in, Parsed& out)
{
    in.skipExact(12);
    const uint32_t headerSize = in.le32();
    if (headerSize < 12)
        throw ParseFailure{};
    if (headerSize < 40) {
        out.width = in.le16();
        out.height = in.le16();
    } else {
        out.width = int32_t(in.le32());
        out.height = int32_t(in.le32());
    }
    in.skipExact(2);
    out.bitsPerPixel = in.le16();
    out.name = "BMP";
}

void ParseGif(fileIn& in, Parsed& out)
{
    in.skipExact(4);
    out.width = in.le16();
    out.height = in.le16();
    if (!out.width || !out.height)
        throw ParseFailure{};
    out.bitsPerPixel = 8;
    const uint8_t packed = in.byte();
    in.skipExact(2);
    if (packed & 0x80)
        in.skipExact(3 * (int64_t(1) << ((packed & 7) + 1)));
    // Extensions before the first image: a graphic control block with its transparency bit
    // set means the picture has see-through pixels.
    while (in.byte() == 0x21) {
        const uint8_t label = in.byte();
        uint8_t size = in.byte();
        if (label == 0xF9 && size == 4) {
            if (in.byte() & 1)
                out.alpha = true;
            in.skipExact(3);
            size = in.byte();
        }
        while (size) {
            in.skipExact(size);
            size = in.byte();
        }
    }
    out.name = "GIF";
}

void ParseWebp(fileIn& in, Parsed& out)
{
    uint8_t b[30] = {'R', 'I'};
    in.readExact(b + 2, 28);
    if (memcmp(b, "RIFF", 4) != 0 || memcmp(b + 8, "WEBP", 4) != 0)
        throw ParseFailure{};
    if (memcmp(b + 12, "VP8X", 4) == 0) {
        out.alpha = (b[20] & 0x10) != 0;
        out.width = int32_t(b[24] | b[25] << 8 | b[26] << 16) + 1;
        out.height = int32_t(b[27] | b[28] << 8 | b[29] << 16) + 1;
        out.bitsPerPixel = out.alpha ? 32 : 24;
    } else if (memcmp(b + 12, "VP8L", 4) == 0) {
        const uint32_t bits = uint32_t(b[21]) | uint32_t(b[22]) << 8 | uint32_t(b[23]) << 16 | uint32_t(b[24]) << 24;
        out.width = int32_t(bits & 0x3FFF) + 1;
        out.height = int32_t((bits >> 14) & 0x3FFF) + 1;
        out.alpha = (b[24] & 0x10) != 0;
        out.bitsPerPixel = out.alpha ? 32 : 24;
    } else if (memcmp(b + 12, "VP8 ", 4) == 0) {
        if (b[23] != 0x9D || b[24] != 0x01 || b[25] != 0x2A)
            throw ParseFailure{};
        out.width = (b[27] * 256 + b[26]) & 0x3FFF;
        out.height = (b[29] * 256 + b[28]) & 0x3FFF;
        if (!out.width || !out.height)
            throw ParseFailure{};
        out.bitsPerPixel = 24;
    } else {
        throw ParseFailure{};
    }
    out.name = "WebP";
}

void ParsePng(fileIn& in, Parsed& out)
{
    uint8_t signature[6];
    in.readExact(signature, 6);
    if (memcmp(signature, "NG\r\n\x1a\n", 6) != 0)
        throw ParseFailure{};
    const uint32_t length = in.be32();
    uint8_t type[4];
    in.readExact(type, 4);
    if (memcmp(type, "IHDR", 4) != 0 || length <= 9)
        throw ParseFailure{};
    const uint32_t width = in.be32(), height = in.be32();
    if (width > INT32_MAX || height > INT32_MAX)
        throw ParseFailure{};
    out.width = int32_t(width);
    out.height = int32_t(height);
    const uint8_t depth = in.byte(), colour = in.byte();
    in.skipExact(int64_t(length) - 6);
    out.alpha = colour == 4 || colour == 6;
    const int channels = colour == 2 ? 3 : colour == 3 ? 1 : colour == 4 ? 2 : colour == 6 ? 4 : 1;
    out.bitsPerPixel = channels * depth;
    // Without an alpha channel, a transparency chunk before the image data still gives one.
    while (!out.alpha) {
        const uint32_t chunk = in.be32();
        in.readExact(type, 4);
        if (memcmp(type, "tRNS", 4) == 0)
            out.alpha = true;
        else if (memcmp(type, "IDAT", 4) == 0)
            break;
        else
            in.skipExact(int64_t(chunk) + 4);
    }
    out.name = "PNG";
}

bool IsStartOfFrame(uint8_t m)
{
    return (m >= 0xC0 && m <= 0xC3) || (m >= 0xC5 && m <= 0xC7) || (m >= 0xC9 && m <= 0xCB) || (m >= 0xCD && m <= 0xCF);
}

void ParseJpeg(fileIn& in, Parsed& out)
{
    for (;;) {
        if (in.byte() != 0xFF)
            throw ParseFailure{};
        const uint8_t marker = in.byte();
        if (IsStartOfFrame(marker)) {
            if (in.be16() <= 5)
                throw ParseFailure{};
            const uint8_t precision = in.byte();
            out.height = in.be16();
            out.width = in.be16();
            if (!out.width || !out.height)
                throw ParseFailure{};
            out.bitsPerPixel = in.byte() * precision;
            out.name = "JPEG";
            return;
        }
        if (marker == 0xC4 || marker == 0xDA || marker == 0xDB || (marker >= 0xE0 && marker <= 0xEF) ||
            marker == 0xFE) {
            const uint16_t length = in.be16();
            if (length < 2)
                throw ParseFailure{};
            in.skipExact(length - 2);
        } else if (marker == 0xDD) {
            in.skipExact(4);
        } else {
            throw ParseFailure{};
        }
    }
}

void ParseTiff(fileIn& in, Parsed& out, bool bigEndian)
{
    const auto u16 = [&] { return bigEndian ? in.be16() : in.le16(); };
    const auto u32 = [&] { return bigEndian ? in.be32() : in.le32(); };
    if (u16() != 42)
        throw ParseFailure{};
    const uint32_t first = u32();
    if (first <= 7)
        throw ParseFailure{};
    in.seek(first);
    const uint16_t entries = u16();
    if (!entries)
        throw ParseFailure{};
    uint32_t orientation = 1, bitsOffset = 0, bitsCount = 0;
    for (uint16_t i = 0; i < entries; ++i) {
        const uint16_t tag = u16(), type = u16();
        const uint32_t count = u32();
        uint32_t value = 0;
        uint16_t shorts[2] = {0, 0};
        if (type == 3 && count <= 2) {
            shorts[0] = u16();
            shorts[1] = u16();
            value = shorts[0];
        } else {
            value = u32();
        }
        const bool single = count == 1 && (type == 3 || type == 4);
        switch (tag) {
        case 256:
            if (single)
                out.width = int32_t(value > INT32_MAX ? 0 : value);
            break;
        case 257:
            if (single)
                out.height = int32_t(value > INT32_MAX ? 0 : value);
            break;
        case 258:
            if (count > 3)
                out.alpha = true;
            if (type == 3 && count < 3) {
                out.bitsPerPixel = shorts[0] + (count > 1 ? shorts[1] : 0);
            } else {
                // Real files have 1 to 5 samples a pixel; a larger count is a damaged one.
                if (count > 16)
                    throw ParseFailure{};
                bitsOffset = value;
                bitsCount = count;
            }
            break;
        case 262:
            if (type == 3 && count == 1 && value == 4)
                out.alpha = true;
            break;
        case 274:
            if (type == 3 && count == 1)
                orientation = value;
            break;
        default:
            break;
        }
    }
    if (bitsCount) {
        in.seek(bitsOffset);
        int32_t sum = 0;
        for (uint32_t i = 0; i < bitsCount; ++i)
            sum += u16();
        out.bitsPerPixel = sum;
    }
    if (orientation >= 5 && orientation <= 8) {
        const int32_t w = out.width;
        out.width = out.height;
        out.height = w;
    }
    out.name = "TIFF";
}

Parsed Parse(fileIn& in)
{
    Parsed out;
    uint8_t start[2];
    in.readExact(start, 2);
    if (start[0] == 'B' && start[1] == 'M')
        ParseBmp(in, out);
    else if (start[0] == 'G' && start[1] == 'I')
        ParseGif(in, out);
    else if (start[0] == 'R' && start[1] == 'I')
        ParseWebp(in, out);
    else if (start[0] == 0x89 && start[1] == 'P')
        ParsePng(in, out);
    else if (start[0] == 0xFF && start[1] == 0xD8)
        ParseJpeg(in, out);
    else if ((start[0] == 'I' && start[1] == 'I') || (start[0] == 'M' && start[1] == 'M'))
        ParseTiff(in, out, start[0] == 'M');
    else
        throw ParseFailure{};
    return out;
}

int32_t KindOf(const char* name)
{
    if (!name)
        return 0;
    static const char* const kinds[] = {"JPEG", "PNG", "GIF", "BMP", "WebP"};
    for (int i = 0; i < 5; ++i)
        if (strcmp(name, kinds[i]) == 0)
            return i + 1;
    return 0;
}

} // namespace imageInfoDetail

using namespace imageInfoDetail;

void imageInfo_t::take(fileIn& in)
{
    try {
        const Parsed p = Parse(in);
        name = p.name;
        kind = KindOf(p.name);
        width = p.width;
        height = p.height;
        bitsPerPixel = p.bitsPerPixel;
        m_alpha = p.alpha;
    } catch (const ParseFailure&) {
    }
}

imageInfo_t::imageInfo_t(const XStr& path)
{
    XFile file;
    if (!file.Open(path.p, XFILE_READ, XFILE_OPEN_EXISTING, false, XFILE_SHARE_READ))
        return;
    try {
        fileInFile in(file);
        take(in);
    } catch (const ParseFailure&) {
    }
}

imageInfo_t::imageInfo_t(const uint8_t* data, size_t size)
{
    fileInMemRef in(data, size);
    take(in);
}
