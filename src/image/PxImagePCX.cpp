#include "image/PxImagePCX.h"

#include <cstring>

#include "image/PxCodecIO.h"

using pxio::Le16;

namespace {

void PutRun(uint8_t value, uint32_t count, std::vector<uint8_t>& out)
{
    if (count > 1 || value >= 192)
        out.push_back(uint8_t(192 + count));
    out.push_back(value);
}

} // namespace

bool PxImagePCX::Fail(const char* message)
{
    SetLastError(message);
    return false;
}

bool PxImagePCX::UnpackPixels(uint8_t* out, const uint8_t* line, uint32_t bytesPerLine, uint32_t planes, uint32_t bits)
{
    if (planes != 1)
        return false;
    for (uint32_t j = 0; j < bytesPerLine; ++j) {
        const uint8_t b = line[j];
        switch (bits) {
        case 1:
            for (int k = 0; k < 8; ++k)
                *out++ = (b >> (7 - k)) & 1;
            break;
        case 2:
            for (int k = 0; k < 4; ++k)
                *out++ = (b >> (6 - 2 * k)) & 3;
            break;
        case 4:
            *out++ = b >> 4;
            *out++ = b & 15;
            break;
        case 8:
            *out++ = b;
            break;
        default:
            return true;
        }
    }
    return true;
}

bool PxImagePCX::PlanesToPixels(uint8_t* out, const uint8_t* line, uint32_t bytesPerLine, uint32_t planes,
                                uint32_t bits)
{
    if (planes > 4 || bits != 1)
        return false;
    memset(out, 0, size_t(bytesPerLine) * 8);
    for (uint32_t p = 0; p < planes; ++p)
        for (uint32_t j = 0; j < bytesPerLine; ++j) {
            const uint8_t b = line[p * bytesPerLine + j];
            for (int k = 0; k < 8; ++k)
                if (b & (0x80 >> k))
                    out[8 * j + uint32_t(k)] |= uint8_t(1u << p);
        }
    return true;
}

void PxImagePCX::PackLine(const uint8_t* line, size_t length, std::vector<uint8_t>& out)
{
    size_t i = 0;
    while (i < length) {
        const uint8_t v = line[i];
        uint32_t run = 1;
        while (i + run < length && line[i + run] == v && run < 63)
            ++run;
        PutRun(v, run, out);
        i += run;
    }
}

bool PxImagePCX::Decode(PxFile* stream)
{
    if (!stream)
        return Fail("null file handler");
    uint8_t h[128];
    if (stream->Read(h, 1, 128) != 128)
        return Fail("Can't read PCX image");
    if (h[0] != 10)
        return Fail("Error: Not a PCX file");
    if (h[2] != 1)
        return Fail("PCX file has unknown encoding scheme");
    const uint32_t bits = h[3], planes = h[65], bytesPerLine = Le16(h + 66);
    const int32_t width = int32_t(Le16(h + 8)) - int32_t(Le16(h + 4)) + 1;
    const int32_t height = int32_t(Le16(h + 10)) - int32_t(Le16(h + 6)) + 1;
    if (width <= 0 || height <= 0)
        return Fail("PCX window is empty");
    if (GetEscape() == -1) {
        m_head.width = width;
        m_head.height = height;
        m_info.type = PXIMAGE_FORMAT_PCX;
        SetLastError("output dimensions returned");
        return true;
    }
    if (planes > 4)
        return Fail("Can't handle image with more than 4 planes");
    if (planes == 0 || (bits != 1 && bits != 2 && bits != 4 && bits != 8))
        return Fail("PCX has an unknown pixel layout");
    // A plane line must hold the whole width: anything shorter would be read past its end.
    if (uint64_t(bytesPerLine) * 8 < uint64_t(uint32_t(width)) * bits)
        return Fail("PCX bytes per line too small for the width");
    const bool trueColour = bits == 8 && planes >= 3;
    // One-bit planes carry the bits of a 16-colour index, however many of them there are.
    const uint32_t depth = trueColour ? 24 : (bits == 1 && planes > 1) ? 4 : bits;
    const uint64_t lineBytes = uint64_t(bytesPerLine) * planes;
    const uint64_t total = lineBytes * uint32_t(height);
    // Each two bytes of the file give at most 63: a size its runs cannot reach fails now.
    if (total > uint64_t(PXIMAGE_MAX_MEMORY) || uint64_t(pxio::Remaining(stream)) * 32 < total)
        return Fail("corrupted PCX");
    if (!Create(width, height, depth, PXIMAGE_FORMAT_PCX))
        return false;
    SetXDpi(Le16(h + 12));
    SetYDpi(Le16(h + 14));
    if (planes == 4 && trueColour && !AlphaCreate())
        return Fail("PxImage::Create can't allocate memory");
    if (GetEscape())
        return Fail("Cancelled");

    std::vector<uint8_t> data(total);
    for (uint64_t at = 0; at < total;) {
        const int32_t c = stream->GetC();
        if (c < 0)
            return Fail("corrupted PCX");
        if (c < 192) {
            data[at++] = uint8_t(c);
            continue;
        }
        const uint32_t count = uint32_t(c) & 63;
        const int32_t value = stream->GetC();
        if (value < 0)
            return Fail("corrupted PCX");
        if (count > total - at)
            return Fail("repeat count spans end of image");
        memset(&data[at], value, count);
        at += count;
    }

    uint8_t map[768] = {0};
    memcpy(map, h + 16, 48);
    if (bits == 8 && planes == 1) {
        if (stream->GetC() != 12)
            return Fail("bad color map signature");
        if (stream->Read(map, 1, 768) != 768)
            return Fail("corrupted PCX");
    } else if (bits == 1 && planes == 1) {
        memset(map, 0, 3);
        memset(map + 3, 255, 3);
    }
    SetPaletteRGB(map, 256);

    std::vector<uint8_t> pixels(size_t(bytesPerLine) * 8 + 8);
    const uint32_t mask = (1u << (depth > 8 ? 8 : depth)) - 1;
    for (int32_t y = 0; y < height; ++y) {
        if (GetEscape())
            return Fail("Cancelled");
        const uint8_t* line = data.data() + uint64_t(y) * lineBytes;
        const int32_t row = height - 1 - y;
        if (trueColour) {
            uint8_t* out = GetRow(row);
            uint8_t* alpha = planes == 4 ? AlphaGetPointer(0, row) : nullptr;
            for (int32_t x = 0; x < width; ++x) {
                out[3 * x + 2] = line[x];
                out[3 * x + 1] = line[bytesPerLine + uint32_t(x)];
                out[3 * x] = line[2 * bytesPerLine + uint32_t(x)];
                if (alpha)
                    alpha[x] = line[3 * bytesPerLine + uint32_t(x)];
            }
            continue;
        }
        if (planes == 1) {
            if (!UnpackPixels(pixels.data(), line, bytesPerLine, planes, bits))
                return Fail("PCX_UnpackPixels: Can't handle packed pixels with more than 1 plane");
        } else if (!PlanesToPixels(pixels.data(), line, bytesPerLine, planes, bits)) {
            return Fail("PCX_PlanesToPixels: more than 4 planes or more than 1 bit per pixel");
        }
        for (int32_t x = 0; x < width; ++x)
            SetPixelIndexUnchecked(x, row, uint8_t(pixels[size_t(x)] & mask));
    }
    return true;
}

bool PxImagePCX::Encode(PxFile* stream)
{
    if (EncodeSafeCheck(stream))
        return false;
    const uint32_t bpp = GetBpp(), width = uint32_t(GetWidth()), height = uint32_t(GetHeight());
    if (width > 65535 || height > 65535)
        return Fail("PCX images are at most 65535 pixels wide and high");
    const bool alpha = bpp == 24 && AlphaIsValid();
    const uint32_t planes = bpp == 24 ? (alpha ? 4 : 3) : bpp == 4 ? 4 : 1;
    const uint32_t bits = bpp >= 8 ? 8 : 1;
    const uint32_t bytesPerLine = bits == 8 ? (width + 1) & ~1u : ((width + 7) / 8 + 1) & ~1u;
    if (bytesPerLine > 65535)
        return Fail("PCX images are at most 65535 pixels wide and high");

    uint8_t h[128] = {0};
    h[0] = 10;
    h[1] = 5;
    h[2] = 1;
    h[3] = uint8_t(bits);
    pxio::PutLe16(h + 8, width - 1);
    pxio::PutLe16(h + 10, height - 1);
    pxio::PutLe16(h + 12, uint32_t(GetXDpi()));
    pxio::PutLe16(h + 14, uint32_t(GetYDpi()));
    if (bpp == 4) {
        for (uint32_t i = 0; i < 16; ++i) {
            const RGBQuad c = GetPaletteColor(uint8_t(i));
            h[16 + 3 * i] = c.red;
            h[17 + 3 * i] = c.green;
            h[18 + 3 * i] = c.blue;
        }
    } else if (bpp == 1) {
        memset(h + 19, 255, 3);
    }
    h[65] = uint8_t(planes);
    pxio::PutLe16(h + 66, bytesPerLine);
    pxio::PutLe16(h + 68, GetNumColors() ? 0 : 1);
    if (!pxio::WriteAll(stream, h, sizeof h))
        return Fail("cannot write PCX header");

    // A one-bit image whose entry 0 is the lighter one is written inverted, so that it shows
    // the same through the black-and-white header palette.
    bool invert = false;
    if (bpp == 1) {
        const RGBQuad c0 = GetPaletteColor(0), c1 = GetPaletteColor(1);
        invert = CompareLuminance(&c0, &c1) >= 1;
    }
    std::vector<uint8_t> out, line(size_t(bytesPerLine) * 4);
    for (int32_t row = int32_t(height) - 1; row >= 0; --row) {
        if (GetEscape())
            return Fail("Cancelled");
        if (bpp == 8) {
            const uint8_t* in = GetRow(row);
            memcpy(line.data(), in, width);
            PackLine(line.data(), width, out);
            if (width & 1)
                out.push_back(0);
        } else if (bpp == 24) {
            const uint8_t* in = GetRow(row);
            const uint8_t* a = alpha ? AlphaGetPointer(0, row) : nullptr;
            for (uint32_t p = 0; p < planes; ++p) {
                for (uint32_t x = 0; x < width; ++x)
                    line[x] = p == 3 ? a[x] : in[3 * x + 2 - p];
                PackLine(line.data(), width, out);
                if (width & 1)
                    out.push_back(0);
            }
        } else {
            for (uint32_t p = 0; p < planes; ++p) {
                memset(line.data(), 0, bytesPerLine);
                for (uint32_t x = 0; x < width; ++x) {
                    uint8_t index = GetPixelIndexUnchecked(int32_t(x), row);
                    if (invert)
                        index = uint8_t(1 - index);
                    if ((index >> p) & 1)
                        line[x / 8] |= uint8_t(0x80 >> (x % 8));
                }
                PackLine(line.data(), bytesPerLine, out);
            }
        }
    }
    if (bpp == 8) {
        out.push_back(12);
        for (uint32_t i = 0; i < 256; ++i) {
            const RGBQuad c = GetPaletteColor(uint8_t(i));
            out.push_back(c.red);
            out.push_back(c.green);
            out.push_back(c.blue);
        }
    }
    if (!pxio::WriteAll(stream, out.data(), out.size()))
        return Fail("PCX write error");
    return true;
}
