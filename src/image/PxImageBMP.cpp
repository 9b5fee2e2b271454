#include "image/PxImageBMP.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

uint32_t Le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t Le16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

void PutLe32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// Moves the stream on by a count that may not fit a 32-bit seek.
void Skip(PxFile* stream, int64_t bytes)
{
    while (bytes > 0) {
        const int32_t step = bytes > INT32_MAX ? INT32_MAX : int32_t(bytes);
        if (!stream->Seek(step, 1))
            return;
        bytes -= step;
    }
}

// Reads up to size bytes; what the stream does not hold stays as it was (zero in a new image).
uint64_t ReadUpTo(PxFile* stream, uint8_t* destination, uint64_t size)
{
    uint64_t done = 0;
    while (done < size) {
        const size_t chunk = size - done > (1u << 30) ? (1u << 30) : size_t(size - done);
        const size_t n = stream->Read(destination + done, 1, chunk);
        done += n;
        if (n < chunk)
            break;
    }
    return done;
}

int32_t DpiFromPelsPerMeter(int32_t pels)
{
    const double dpi = std::floor(double(pels) * 254.0 / 10000.0 + 0.5);
    return dpi > double(INT32_MAX) ? INT32_MAX : dpi < 0 ? 0 : int32_t(dpi);
}

uint64_t PlainImageSize(uint32_t bits, int32_t width, int32_t height)
{
    const uint64_t w = uint64_t(width < 0 ? -int64_t(width) : int64_t(width));
    const uint64_t h = uint64_t(height < 0 ? -int64_t(height) : int64_t(height));
    return (uint64_t(bits) * w + 31) / 32 * 4 * h;
}

// One channel of a bit-field pixel, scaled to 0 to 255.
class MaskChannel {
public:
    explicit MaskChannel(uint32_t mask) : m_mask(mask)
    {
        if (!mask)
            return;
        while (!((mask >> m_shift) & 1))
            ++m_shift;
        m_max = mask >> m_shift;
    }
    uint8_t operator()(uint32_t pixel) const
    {
        return m_max ? uint8_t(uint64_t((pixel & m_mask) >> m_shift) * 255 / m_max) : 0;
    }

private:
    uint32_t m_mask;
    uint32_t m_shift = 0;
    uint32_t m_max = 0;
};

} // namespace

bool PxImageBMP::ReadBitmapInfo(PxFile* stream, PxBitmapInfoHeader* header, uint32_t masks[4])
{
    if (!stream || !header)
        return false;
    uint8_t raw[40];
    if (stream->Read(raw, 1, 40) != 40)
        return false;
    PxBitmapInfoHeader& h = *header;
    h.size = Le32(raw);
    h.width = int32_t(Le32(raw + 4));
    h.height = int32_t(Le32(raw + 8));
    h.planes = Le16(raw + 12);
    h.bitCount = Le16(raw + 14);
    h.compression = Le32(raw + 16);
    h.sizeImage = Le32(raw + 20);
    h.xPelsPerMeter = int32_t(Le32(raw + 24));
    h.yPelsPerMeter = int32_t(Le32(raw + 28));
    h.clrUsed = Le32(raw + 32);
    h.clrImportant = Le32(raw + 36);
    switch (h.size) {
    case 12:
        // The OS/2 core header: 16-bit width, height, planes and bits; only 12 bytes were its own.
        h.width = Le16(raw + 4);
        h.height = Le16(raw + 6);
        h.planes = Le16(raw + 8);
        h.bitCount = Le16(raw + 10);
        h.compression = h.sizeImage = 0;
        h.xPelsPerMeter = h.yPelsPerMeter = 0;
        h.clrUsed = h.clrImportant = 0;
        stream->Seek(-28, 1);
        break;
    case 40:
        break;
    case 64:
        Skip(stream, 24);
        break;
    case 108:
    case 124: {
        uint8_t m[16];
        if (stream->Read(m, 1, 16) != 16)
            return false;
        if (masks)
            for (int i = 0; i < 4; ++i)
                masks[i] = Le32(m + 4 * i);
        Skip(stream, int64_t(h.size) - 56);
        break;
    }
    default: {
        if (h.size < 41)
            return false;
        const __int128 needed = (__int128(h.bitCount) * h.width + 31) / 32 * 4 * __int128(h.height);
        if (__int128(h.sizeImage) < needed || h.planes != 1 || h.clrUsed != 0)
            return false;
        if (h.compression == 0)
            Skip(stream, int64_t(h.size) - 40);
        break;
    }
    }
    if (h.sizeImage == 0) {
        const uint64_t size = PlainImageSize(h.bitCount, h.width, h.height);
        h.sizeImage = size > UINT32_MAX ? UINT32_MAX : uint32_t(size);
    }
    if (h.clrUsed == 0 && h.bitCount <= 8)
        h.clrUsed = 1u << h.bitCount;
    return true;
}

bool PxImageBMP::Fail(const char* message)
{
    if (message && *message)
        SetLastError(message);
    return false;
}

bool PxImageBMP::Decode(PxFile* stream)
{
    if (!stream)
        return false;
    const int64_t start = stream->Tell();
    uint8_t fileHeader[14];
    if (stream->Read(fileHeader, 1, 14) != 14)
        return Fail("Not a BMP");
    int64_t pixelOffset = 0;
    if (Le16(fileHeader) == 19778) {
        pixelOffset = Le32(fileHeader + 10);
    } else {
        // A bare information header without the file header in front of it.
        stream->Seek(int32_t(start), 0);
    }
    PxBitmapInfoHeader bih{};
    uint32_t masks[4] = {0, 0, 0, 0};
    if (!ReadBitmapInfo(stream, &bih, masks))
        return Fail("Error reading BMP info");
    if (bih.height == INT_MIN || bih.width <= 0 || bih.height == 0)
        return Fail("PxImage::Create : width and height must be greater than zero");
    const bool topDown = bih.height < 0;
    const int32_t height = topDown ? -bih.height : bih.height;

    if (GetEscape() == -1) {
        m_head.width = bih.width;
        m_head.height = height;
        m_info.type = PXIMAGE_FORMAT_BMP;
        SetLastError("output dimensions returned");
        return true;
    }
    // A depth no layout reads would give a blank picture as large as the header likes.
    if (bih.bitCount != 1 && bih.bitCount != 4 && bih.bitCount != 8 && bih.bitCount != 16 && bih.bitCount != 24 &&
        bih.bitCount != 32)
        return Fail("unsupported bit depth");
    if (!Create(bih.width, height, bih.bitCount, PXIMAGE_FORMAT_BMP))
        return false;
    SetXDpi(DpiFromPelsPerMeter(bih.xPelsPerMeter));
    SetYDpi(DpiFromPelsPerMeter(bih.yPelsPerMeter));
    if (GetEscape())
        return Fail("Cancelled");

    if (RGBQuad* palette = GetPalette()) {
        const bool core = bih.size == 12;
        const uint32_t entrySize = core ? 3 : 4;
        const uint64_t entries = bih.clrUsed ? bih.clrUsed : (bih.bitCount < 32 ? 1ull << bih.bitCount : 0);
        uint8_t entry[4];
        // Entries past the image's palette are read and dropped; a count larger than the data
        // ends where the data does.
        for (uint64_t i = 0; i < entries; ++i) {
            if (stream->Read(entry, 1, entrySize) != entrySize)
                break;
            if (i < GetNumColors())
                palette[i] = RGBQuad{entry[0], entry[1], entry[2], 0};
        }
    }
    if (GetEscape())
        return Fail("Cancelled");

    if (bih.compression == 3 && masks[0] == 0) {
        uint8_t m[12];
        if (stream->Read(m, 1, 12) == 12) {
            masks[0] = Le32(m);
            masks[1] = Le32(m + 4);
            masks[2] = Le32(m + 8);
        }
    }
    bool havePixels = true;
    if (pixelOffset != 0) {
        const int64_t target = start + pixelOffset;
        havePixels = target >= 0 && target <= INT32_MAX && stream->Seek(int32_t(target), 0);
    }
    uint8_t* bits = GetBits();
    const uint64_t ownSize = m_head.sizeImage;
    const uint64_t fileSize = bih.sizeImage < ownSize ? bih.sizeImage : ownSize;
    const bool noMasks = masks[0] == 0 && masks[1] == 0 && masks[2] == 0;
    switch (bih.bitCount) {
    case 1:
    case 4:
    case 8:
        switch (bih.compression) {
        case 0:
            if (havePixels)
                ReadUpTo(stream, bits, fileSize);
            break;
        case 1:
            if (havePixels)
                DecodeRle8(stream);
            break;
        case 2:
            if (havePixels)
                DecodeRle4(stream);
            break;
        default:
            return Fail("compression type not supported");
        }
        break;
    case 16: {
        if (noMasks) {
            masks[0] = 0x7C00;
            masks[1] = 0x03E0;
            masks[2] = 0x001F;
        }
        const uint64_t stride = (uint64_t(uint32_t(bih.width)) + 1) / 2 * 4;
        const uint64_t packed = stride * uint32_t(height);
        const uint64_t got = havePixels ? ReadUpTo(stream, bits, packed <= ownSize ? packed : ownSize) : 0;
        // Rows the file did not reach stay zero: only the rows read are widened.
        UnpackRows16(int32_t((got + stride - 1) / stride), masks[0], masks[1], masks[2]);
        break;
    }
    case 24:
        if (bih.compression != 0)
            return Fail("unknown compression");
        if (havePixels)
            ReadUpTo(stream, bits, fileSize);
        break;
    case 32: {
        if (bih.compression != 0 && bih.compression != 3)
            return Fail("unknown compression");
        if (noMasks) {
            masks[0] = 0xFF0000;
            masks[1] = 0xFF00;
            masks[2] = 0xFF;
        }
        // Row by row through one row buffer: no second copy of the whole picture.
        const uint32_t width = uint32_t(bih.width);
        std::vector<uint8_t> row(size_t(width) * 4);
        uint8_t* alpha = nullptr;
        // Bit fields (the V4 and V5 headers) may give the alpha its own mask.
        const uint32_t alphaMask = bih.compression == 3 ? masks[3] : 0;
        const MaskChannel alphaChannel(alphaMask);
        if (bih.compression == 0 || alphaMask) {
            if (!AlphaCreate())
                return Fail("can't allocate memory");
            alpha = AlphaGetPointer();
        }
        uint8_t any = 0;
        for (int32_t y = 0; y < height; ++y) {
            const uint64_t got = havePixels ? ReadUpTo(stream, row.data(), row.size()) : 0;
            if (got < row.size())
                memset(row.data() + got, 0, row.size() - size_t(got));
            if (alpha) {
                uint8_t* a = alpha + uint64_t(y) * width;
                for (uint32_t x = 0; x < width; ++x) {
                    a[x] = alphaMask ? alphaChannel(Le32(&row[4 * size_t(x)])) : row[4 * size_t(x) + 3];
                    any |= a[x];
                }
            }
            UnpackRows32(row.data(), y, 1, masks[0], masks[1], masks[2]);
            if (got < row.size()) {
                // The file ends here: the rest of the rows stay zero, and so does their alpha.
                if (alpha && y + 1 < height)
                    memset(alpha + uint64_t(y + 1) * width, 0, uint64_t(height - y - 1) * width);
                break;
            }
        }
        // A file that leaves the alpha 0 everywhere means no alpha at all: opaque.
        if (alpha && !any)
            AlphaInvert();
        break;
    }
    }
    if (topDown)
        FlipRows(false, true);
    return true;
}

// Run positions are byte offsets into the pixel rows; a run reaching past their end is read
// and dropped, so no count in the file can write outside the block.
void PxImageBMP::DecodeRle8(PxFile* stream)
{
    uint8_t* bits = GetBits();
    const uint64_t end = m_head.sizeImage, rowSize = GetRowSize();
    uint64_t row = 0, column = 0;
    const auto put = [&](uint8_t value) {
        const uint64_t at = row * rowSize + column;
        if (row < uint64_t(uint32_t(m_head.height)) && at < end)
            bits[at] = value;
        ++column;
    };
    for (;;) {
        const int32_t count = stream->GetC();
        if (count < 0)
            return;
        if (count > 0) {
            const int32_t value = stream->GetC();
            if (value < 0)
                return;
            for (int32_t i = 0; i < count; ++i)
                put(uint8_t(value));
            continue;
        }
        const int32_t escape = stream->GetC();
        if (escape < 0 || escape == 1)
            return;
        if (escape == 0) {
            column = 0;
            ++row;
        } else if (escape == 2) {
            const int32_t dx = stream->GetC(), dy = stream->GetC();
            if (dx < 0 || dy < 0)
                return;
            column += uint32_t(dx);
            row += uint32_t(dy);
        } else {
            uint8_t run[256];
            const size_t n = stream->Read(run, 1, size_t(escape));
            for (size_t i = 0; i < n; ++i)
                put(run[i]);
            if (n < size_t(escape))
                return;
            if (escape & 1)
                stream->GetC();
        }
    }
}

void PxImageBMP::DecodeRle4(PxFile* stream)
{
    uint8_t* bits = GetBits();
    const uint64_t end = m_head.sizeImage, rowSize = GetRowSize();
    uint64_t row = 0, column = 0;
    bool high = true;
    const auto put = [&](uint8_t nibble) {
        const uint64_t at = row * rowSize + column;
        const bool inside = row < uint64_t(uint32_t(m_head.height)) && at < end;
        if (high) {
            if (inside)
                bits[at] = uint8_t(nibble << 4);
            high = false;
        } else {
            if (inside)
                bits[at] = uint8_t((bits[at] & 0xF0) | (nibble & 15));
            high = true;
            ++column;
        }
    };
    for (;;) {
        const int32_t count = stream->GetC();
        if (count < 0)
            return;
        if (count > 0) {
            const int32_t value = stream->GetC();
            if (value < 0)
                return;
            for (int32_t j = 0; j < count; ++j)
                put(uint8_t((j & 1) ? value & 15 : value >> 4));
            continue;
        }
        const int32_t escape = stream->GetC();
        if (escape < 0 || escape == 1)
            return;
        if (escape == 0) {
            column = 0;
            ++row;
            high = true;
        } else if (escape == 2) {
            const int32_t dx = stream->GetC(), dy = stream->GetC();
            if (dx < 0 || dy < 0)
                return;
            column += uint32_t(dx / 2);
            row += uint32_t(dy);
        } else {
            int32_t byte = 0;
            for (int32_t j = 0; j < escape; ++j) {
                if (!(j & 1)) {
                    byte = stream->GetC();
                    if (byte < 0)
                        return;
                }
                put(uint8_t((j & 1) ? byte & 15 : byte >> 4));
            }
            if ((escape + 1) & 2)
                stream->GetC();
        }
    }
}

bool PxImageBMP::WriteAll(PxFile* stream, const void* data, size_t size)
{
    if (size == 0)
        return true;
    if (stream->Write(data, 1, size) == size)
        return true;
    SetLastError("BMP write error");
    return false;
}

bool PxImageBMP::Encode(PxFile* stream)
{
    if (EncodeSafeCheck(stream))
        return false;
    PxBitmapInfoHeader header = m_head;
    header.size = sizeof(PxBitmapInfoHeader);
    header.planes = 1;
    header.compression = 0;
    uint8_t fileHeader[14] = {'B', 'M'};
    if (GetNumColors() || !AlphaIsValid()) {
        // The block already is header, palette and rows; its own header copy is not touched
        // (it may belong to the image being encoded): a fresh one is written in its place.
        const uint32_t paletteBytes = GetPaletteSize();
        PutLe32(fileHeader + 2, GetBlockSize() + 14);
        PutLe32(fileHeader + 10, 14 + 40 + paletteBytes);
        return WriteAll(stream, fileHeader, 14) && WriteAll(stream, &header, sizeof header) &&
               WriteAll(stream, GetPixelBlock() + sizeof header, GetBlockSize() - sizeof header);
    }
    // 24 bits with an alpha plane: a 32-bit file, the alpha as every pixel's fourth byte.
    const uint32_t width = uint32_t(GetWidth()), height = uint32_t(GetHeight());
    header.bitCount = 32;
    header.sizeImage = width * 4 * height;
    header.clrUsed = 0;
    PutLe32(fileHeader + 2, 40 + header.sizeImage + 14);
    PutLe32(fileHeader + 10, 54);
    if (!WriteAll(stream, fileHeader, 14) || !WriteAll(stream, &header, sizeof header))
        return false;
    std::vector<uint8_t> row(size_t(width) * 4);
    const uint8_t* alpha = AlphaGetPointer();
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* in = GetRow(int32_t(y));
        const uint8_t* a = alpha + uint64_t(y) * width;
        for (uint32_t x = 0; x < width; ++x) {
            row[4 * x] = in[3 * x];
            row[4 * x + 1] = in[3 * x + 1];
            row[4 * x + 2] = in[3 * x + 2];
            row[4 * x + 3] = a[x];
        }
        if (!WriteAll(stream, row.data(), row.size()))
            return false;
    }
    return true;
}
