// Hand-made PNG files: chunks with their CRC and scanlines of exactly the samples a test names;
// and the chunks of a file walked, found and re-sealed after a test changed them. (zlib comes
// with the image library, which is built on it.)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

inline uint32_t PngCrc(const std::string& bytes, size_t from, size_t count)
{
    return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + from), uInt(count)));
}

inline std::string Be32(uint32_t v)
{
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

inline uint32_t GetBe32(const std::string& s, size_t at)
{
    return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 | uint32_t(uint8_t(s[at + 2])) << 8 |
           uint8_t(s[at + 3]);
}

inline std::string PngChunk(const std::string& type, const std::string& data)
{
    std::string c = Be32(uint32_t(data.size())) + type + data;
    return c + Be32(PngCrc(c, 4, c.size() - 4));
}

inline std::string PngHeader(uint32_t width, uint32_t height, int depth, int colorType, int interlace = 0)
{
    return PngChunk("IHDR",
                    Be32(width) + Be32(height) + std::string{char(depth), char(colorType), 0, 0, char(interlace)});
}

// Scanlines (filter 0) of one-sample pixels at depth 1, 2, 4 or 8, values top row first; with
// interlace the seven Adam7 passes one after the other.
inline std::string PngScanlines(const std::vector<uint8_t>& values, uint32_t width, uint32_t height, int depth,
                                bool interlace)
{
    static const uint32_t start[7][2] = {{0, 0}, {4, 0}, {0, 4}, {2, 0}, {0, 2}, {1, 0}, {0, 1}};
    static const uint32_t step[7][2] = {{8, 8}, {8, 8}, {4, 8}, {4, 4}, {2, 4}, {2, 2}, {1, 2}};
    std::string out;
    for (int pass = 0; pass < (interlace ? 7 : 1); ++pass) {
        const uint32_t x0 = interlace ? start[pass][0] : 0, y0 = interlace ? start[pass][1] : 0;
        const uint32_t dx = interlace ? step[pass][0] : 1, dy = interlace ? step[pass][1] : 1;
        if (x0 >= width)
            continue;
        for (uint32_t y = y0; y < height; y += dy) {
            out += '\0';
            uint32_t bits = 0, used = 0;
            for (uint32_t x = x0; x < width; x += dx) {
                bits = bits << depth | values[size_t(y) * width + x];
                used += uint32_t(depth);
                if (used == 8) {
                    out += char(bits);
                    bits = used = 0;
                }
            }
            if (used)
                out += char(bits << (8 - used));
        }
    }
    return out;
}

inline std::string Deflated(const std::string& raw)
{
    std::string out(compressBound(uLong(raw.size())), '\0');
    uLongf size = uLongf(out.size());
    compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
             uLong(raw.size()));
    return out.substr(0, size);
}

inline std::string HandPng(uint32_t width, uint32_t height, int depth, int colorType, const std::string& scanlines,
                           const std::string& chunksBeforeData = std::string(), int interlace = 0)
{
    return std::string("\x89PNG\r\n\x1a\n", 8) + PngHeader(width, height, depth, colorType, interlace) +
           chunksBeforeData + PngChunk("IDAT", Deflated(scanlines)) + PngChunk("IEND", "");
}

// Where the chunk of that type starts (its length field), or npos.
inline size_t FindPngChunk(const std::string& png, const std::string& type)
{
    for (size_t at = 8; at + 8 <= png.size();) {
        if (png.compare(at + 4, 4, type) == 0)
            return at;
        at += 12 + size_t(GetBe32(png, at));
    }
    return std::string::npos;
}

// Every chunk's CRC made right again, as far as the lengths lead through the file.
inline std::string ResealPng(std::string png)
{
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint64_t length = GetBe32(png, at);
        if (at + 12 + length > png.size())
            break;
        const std::string crc = Be32(PngCrc(png, at + 4, size_t(length) + 4));
        png.replace(at + 8 + size_t(length), 4, crc);
        at += 12 + size_t(length);
    }
    return png;
}

// A width x height RGB file of one colour, its rows deflated one by one as they are made: big
// pictures without big memory.
inline std::string FlatRgbPng(uint32_t width, uint32_t height, uint8_t red, uint8_t green, uint8_t blue)
{
    std::string row(1, '\0');
    for (uint32_t x = 0; x < width; ++x)
        row += std::string{char(red), char(green), char(blue)};
    z_stream z{};
    deflateInit(&z, 1);
    std::string data;
    unsigned char out[1 << 16];
    for (uint32_t y = 0; y < height; ++y) {
        z.next_in = reinterpret_cast<Bytef*>(row.data());
        z.avail_in = uInt(row.size());
        do {
            z.next_out = out;
            z.avail_out = sizeof out;
            deflate(&z, y + 1 == height ? Z_FINISH : Z_NO_FLUSH);
            data.append(reinterpret_cast<char*>(out), sizeof out - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return std::string("\x89PNG\r\n\x1a\n", 8) + PngHeader(width, height, 8, 2) + PngChunk("IDAT", data) +
           PngChunk("IEND", "");
}
