#include "image/PxImageTGA.h"

#include <cstring>
#include <vector>

#include "image/PxCodecIO.h"

using pxio::Le16;

namespace {

struct TgaHeader {
    uint8_t idLength;
    uint8_t mapType;
    uint8_t imageType;
    uint16_t mapFirst;
    uint16_t mapLength;
    uint8_t mapEntryBits;
    uint16_t width;
    uint16_t height;
    uint8_t depth;
    uint8_t descriptor;
};

TgaHeader ParseHeader(const uint8_t* b)
{
    return TgaHeader{b[0], b[1], b[2], Le16(b + 3), Le16(b + 5), b[7], Le16(b + 12), Le16(b + 14), b[16], b[17]};
}

// One stored pixel of 1 to 4 bytes to blue, green, red, alpha.
RGBQuad StoredColour(const uint8_t* p, uint32_t bytes)
{
    switch (bytes) {
    case 1:
        return RGBQuad{p[0], p[0], p[0], 255};
    case 2: {
        // Five bits a channel; the top bit (an attribute bit) says nothing about the colour.
        const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8;
        return RGBQuad{uint8_t((v << 3) & 0xF8), uint8_t((v >> 2) & 0xF8), uint8_t((v >> 7) & 0xF8), 255};
    }
    case 3:
        return RGBQuad{p[0], p[1], p[2], 255};
    default:
        return RGBQuad{p[0], p[1], p[2], p[3]};
    }
}

// The packet being read: run-length packets may go on past the end of a row.
struct RlePacket {
    uint32_t left = 0;
    bool run = false;
    uint8_t value[4] = {0, 0, 0, 0};
};

} // namespace

bool PxImageTGA::Fail(const char* message)
{
    SetLastError(message);
    return false;
}

bool PxImageTGA::Decode(PxFile* stream)
{
    if (!stream)
        return Fail("null file handler");
    uint8_t raw[18];
    if (stream->Read(raw, 1, 18) != 18)
        return Fail("Not a TGA");
    const TgaHeader h = ParseHeader(raw);
    const uint8_t kind = h.imageType & 7;
    const bool rle = h.imageType >= 9;
    if (kind < 1 || kind > 3 || (h.imageType > 3 && h.imageType < 9) || h.imageType > 11)
        return Fail("Unknown TGA image type");
    if (h.width == 0 || h.height == 0 || h.mapLength > 256 ||
        (h.depth != 8 && h.depth != 15 && h.depth != 16 && h.depth != 24 && h.depth != 32))
        return Fail("bad TGA header");
    // A colour-mapped picture indexes its map with bytes; any other index width cannot be shown.
    if (kind == 1 && (h.depth != 8 || h.mapType == 0))
        return Fail("bad TGA header");
    // Colour-map entries take their own width: 15 and 16 bits take two bytes, 32 bits four.
    uint32_t mapEntryBytes = 0;
    if (h.mapType != 0 && h.mapLength != 0) {
        switch (h.mapEntryBits) {
        case 15:
        case 16:
            mapEntryBytes = 2;
            break;
        case 24:
            mapEntryBytes = 3;
            break;
        case 32:
            mapEntryBytes = 4;
            break;
        default:
            return Fail("bad TGA colour map entry size");
        }
    }
    if (GetEscape() == -1) {
        m_head.width = h.width;
        m_head.height = h.height;
        m_info.type = PXIMAGE_FORMAT_TGA;
        SetLastError("output dimensions returned");
        return true;
    }
    const uint32_t pixelBytes = (h.depth + 7) / 8;
    const uint64_t pixels = uint64_t(h.width) * h.height;
    // The least a complete file can hold: plain rows all but the last pixel, or one packet of
    // at most 128 pixels per 128; a declared size the file cannot fill fails before any
    // allocation for it.
    const uint64_t least = uint64_t(h.idLength) + uint64_t(h.mapLength) * mapEntryBytes +
                           (rle ? (pixels + 127) / 128 * (1 + pixelBytes) : (pixels - 1) * pixelBytes + 1);
    if (uint64_t(pxio::Remaining(stream)) < least)
        return Fail("corrupted TGA");
    if (h.idLength)
        stream->Seek(h.idLength, 1);
    const uint32_t bpp = h.depth == 8 ? 8 : 24;
    if (!Create(h.width, h.height, bpp, PXIMAGE_FORMAT_TGA))
        return Fail(*GetLastError() ? GetLastError() : "TGA Create failed");
    if (h.depth == 32 && !AlphaCreate())
        return Fail("TGA Create failed");
    if (GetEscape())
        return Fail("Cancelled");

    if (mapEntryBytes) {
        std::vector<uint8_t> map(size_t(h.mapLength) * mapEntryBytes);
        if (stream->Read(map.data(), 1, map.size()) != map.size())
            return Fail("corrupted TGA");
        for (uint32_t j = 0; j < h.mapLength; ++j) {
            const RGBQuad c = StoredColour(map.data() + j * mapEntryBytes, mapEntryBytes);
            SetPaletteColor(uint8_t(j), c.red, c.green, c.blue, 0);
        }
    }
    if (kind == 3)
        SetGrayPalette();

    const uint32_t width = h.width, height = h.height;
    const bool topDown = (h.descriptor & 0x20) != 0;
    std::vector<uint8_t> line(size_t(width) * pixelBytes);
    RlePacket packet;
    for (uint32_t j = 0; j < height; ++j) {
        if (GetEscape())
            return Fail("Cancelled");
        if (stream->Eof())
            return Fail("corrupted TGA");
        if (!rle) {
            const size_t got = stream->Read(line.data(), 1, line.size());
            if (got < line.size())
                memset(line.data() + got, 0, line.size() - got);
        } else {
            for (uint32_t x = 0; x < width;) {
                if (packet.left == 0) {
                    const int32_t head = stream->GetC();
                    if (head < 0)
                        break;
                    packet.run = (head & 0x80) != 0;
                    packet.left = uint32_t(head & 0x7F) + 1;
                    if (packet.run && stream->Read(packet.value, 1, pixelBytes) != pixelBytes)
                        break;
                }
                uint32_t n = width - x < packet.left ? width - x : packet.left;
                uint8_t* out = line.data() + size_t(x) * pixelBytes;
                if (packet.run) {
                    for (uint32_t i = 0; i < n; ++i)
                        memcpy(out + size_t(i) * pixelBytes, packet.value, pixelBytes);
                } else {
                    const size_t got = stream->Read(out, pixelBytes, n);
                    if (got < n) {
                        packet.left = 0;
                        x += uint32_t(got);
                        break;
                    }
                }
                packet.left -= n;
                x += n;
            }
        }
        const uint32_t row = topDown ? height - 1 - j : j;
        uint8_t* out = GetRow(int32_t(row));
        uint8_t* alpha = AlphaIsValid() ? AlphaGetPointer(0, int32_t(row)) : nullptr;
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* in = line.data() + size_t(x) * pixelBytes;
            if (bpp == 8) {
                out[x] = in[0];
                continue;
            }
            const RGBQuad c = StoredColour(in, pixelBytes);
            out[3 * x] = c.blue;
            out[3 * x + 1] = c.green;
            out[3 * x + 2] = c.red;
            if (alpha)
                alpha[x] = c.alpha;
        }
    }
    if (h.descriptor & 0x10)
        MirrorColumns(false, true);
    return true;
}

bool PxImageTGA::Encode(PxFile* stream)
{
    if (EncodeSafeCheck(stream))
        return false;
    const uint32_t bpp = GetBpp();
    if (bpp < 8)
        return Fail("Bit depth must be 8 or 24");
    const bool alpha = bpp == 24 && AlphaIsValid();
    uint8_t header[18] = {0};
    header[1] = bpp == 8 ? 1 : 0;
    header[2] = bpp == 8 ? 1 : 2;
    pxio::PutLe16(header + 5, bpp == 8 ? 256 : 0);
    header[7] = bpp == 8 ? 24 : 0;
    pxio::PutLe16(header + 12, uint32_t(GetWidth()));
    pxio::PutLe16(header + 14, uint32_t(GetHeight()));
    header[16] = uint8_t(alpha ? 32 : bpp);
    if (GetWidth() > 65535 || GetHeight() > 65535)
        return Fail("TGA images are at most 65535 pixels wide and high");
    if (!pxio::WriteAll(stream, header, sizeof header))
        return Fail("TGA write error");
    if (bpp == 8) {
        uint8_t map[768];
        for (uint32_t i = 0; i < 256; ++i) {
            const RGBQuad c = GetPaletteColor(uint8_t(i));
            map[3 * i] = c.blue;
            map[3 * i + 1] = c.green;
            map[3 * i + 2] = c.red;
        }
        if (!pxio::WriteAll(stream, map, sizeof map))
            return Fail("TGA write error");
    }
    const uint32_t width = uint32_t(GetWidth());
    std::vector<uint8_t> line(size_t(width) * 4);
    for (int32_t y = 0; y < GetHeight(); ++y) {
        const uint8_t* row = GetRow(y);
        size_t size = size_t(width) * (bpp / 8);
        const uint8_t* data = row;
        if (alpha) {
            const uint8_t* a = AlphaGetPointer(0, y);
            for (uint32_t x = 0; x < width; ++x) {
                memcpy(&line[4 * size_t(x)], row + 3 * size_t(x), 3);
                line[4 * size_t(x) + 3] = a[x];
            }
            data = line.data();
            size = line.size();
        }
        if (!pxio::WriteAll(stream, data, size))
            return Fail("TGA write error");
    }
    return true;
}
