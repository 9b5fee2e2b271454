#include "image/PxImageWBMP.h"

#include <cstring>
#include <vector>

#include "image/PxCodecIO.h"

// ---- WBMP ----

bool PxImageWBMP::Fail(const char* message)
{
    SetLastError(message);
    return false;
}

bool PxImageWBMP::ReadOctet(PxFile* stream, uint32_t* value)
{
    uint64_t v = 0;
    for (;;) {
        const int32_t c = stream->GetC();
        if (c < 0)
            return false;
        v = v << 7 | uint32_t(c & 0x7F);
        // Leading zero groups are allowed; a value past 31 bits is not a size of anything.
        if (v > uint64_t(INT32_MAX))
            return false;
        if (!(c & 0x80))
            break;
    }
    *value = uint32_t(v);
    return true;
}

bool PxImageWBMP::WriteOctet(PxFile* stream, uint32_t value)
{
    uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = uint8_t(value & 0x7F);
        value >>= 7;
    } while (value);
    for (int i = n - 1; i >= 0; --i)
        if (!stream->PutC(uint8_t(groups[i] | (i ? 0x80 : 0))))
            return false;
    return true;
}

bool PxImageWBMP::Decode(PxFile* stream)
{
    if (!stream)
        return Fail("null file handler");
    uint32_t type = 0, width = 0, height = 0;
    bool ok = ReadOctet(stream, &type);
    if (ok) {
        // The fixed header byte and any extension bytes: up to the first without bit 7.
        int32_t c;
        do
            c = stream->GetC();
        while (c >= 0 && (c & 0x80));
        ok = c >= 0 && ReadOctet(stream, &width) && ReadOctet(stream, &height);
    }
    if (!ok)
        return Fail("Not a WBMP");
    if (type != 0)
        return Fail("Unsupported WBMP type");
    if (width < 1 || height < 1)
        return Fail("Corrupted WBMP");
    m_head.width = int32_t(width);
    m_head.height = int32_t(height);
    if (GetEscape() == -1) {
        m_info.type = PXIMAGE_FORMAT_WBMP;
        SetLastError("output dimensions returned");
        return true;
    }
    const uint64_t rowBytes = (uint64_t(width) + 7) / 8;
    // The rows must all be there: a short file would give a picture half made of nothing.
    if (uint64_t(pxio::Remaining(stream)) < rowBytes * height)
        return Fail("Corrupted WBMP");
    m_head.width = m_head.height = 0;
    if (!Create(int32_t(width), int32_t(height), 1, PXIMAGE_FORMAT_WBMP))
        return Fail(*GetLastError() ? GetLastError() : "WBMP Create failed");
    SetGrayPalette();
    for (int32_t row = int32_t(height) - 1; row >= 0; --row) {
        if (GetEscape())
            return Fail("Cancelled");
        if (stream->Read(GetRow(row), 1, size_t(rowBytes)) != rowBytes)
            return Fail("Corrupted WBMP");
    }
    return true;
}

bool PxImageWBMP::Encode(PxFile* stream)
{
    if (EncodeSafeCheck(stream))
        return false;
    if (GetBpp() != 1)
        return Fail("Can't save this image as WBMP");
    if (!stream->PutC(0) || !stream->PutC(0) || !WriteOctet(stream, uint32_t(GetWidth())) ||
        !WriteOctet(stream, uint32_t(GetHeight())))
        return Fail("WBMP write error");
    const size_t rowBytes = (size_t(uint32_t(GetWidth())) + 7) / 8;
    // The row's unused low bits go out as 0, whatever the block holds there.
    std::vector<uint8_t> line(rowBytes);
    const uint32_t spare = uint32_t(rowBytes * 8) - uint32_t(GetWidth());
    for (int32_t row = GetHeight() - 1; row >= 0; --row) {
        memcpy(line.data(), GetRow(row), rowBytes);
        line[rowBytes - 1] &= uint8_t(0xFF << spare);
        if (!pxio::WriteAll(stream, line.data(), rowBytes))
            return Fail("WBMP write error");
    }
    return true;
}

// ---- SKA ----

bool PxImageSKA::Fail(const char* message)
{
    SetLastError(message);
    return false;
}

bool PxImageSKA::Decode(PxFile* stream)
{
    if (!stream)
        return Fail("null file handler");
    uint8_t h[9];
    if (stream->Read(h, 1, 9) != 9)
        return Fail("Not an SKA");
    const uint32_t width = pxio::Le16(h), height = pxio::Le16(h + 2);
    if (pxio::Le32(h + 5) != 0x01000000 || (width & 0x8000) || (height & 0x8000) || h[4] != 3)
        return Fail("Not an SKA");
    if (width == 0 || height == 0)
        return Fail("SKA image is empty");
    if (GetEscape() == -1) {
        m_head.width = int32_t(width);
        m_head.height = int32_t(height);
        m_info.type = PXIMAGE_FORMAT_SKA;
        SetLastError("output dimensions returned");
        return true;
    }
    if (uint64_t(pxio::Remaining(stream)) < 768 + uint64_t(width) * height)
        return Fail("Corrupted SKA");
    if (!Create(int32_t(width), int32_t(height), 8, PXIMAGE_FORMAT_SKA))
        return false;
    uint8_t palette[768];
    if (stream->Read(palette, 1, 768) != 768)
        return Fail("Corrupted SKA");
    SetPaletteRGB(palette, 256);
    // The file's rows go straight to their stored places, top of the picture first.
    for (int32_t row = int32_t(height) - 1; row >= 0; --row) {
        if (GetEscape())
            return Fail("Cancelled");
        if (stream->Read(GetRow(row), 1, width) != width)
            return Fail("Corrupted SKA");
    }
    return true;
}

bool PxImageSKA::Encode(PxFile* stream)
{
    if (EncodeSafeCheck(stream))
        return false;
    if (GetBpp() > 8)
        return Fail("SKA Images must be 8 bit or less");
    if (GetWidth() > 0x7FFF || GetHeight() > 0x7FFF)
        return Fail("SKA images are at most 32767 pixels wide and high");
    const PxImage* source = this;
    PxImage raised(0);
    if (GetBpp() < 8) {
        if (!pxio::CopyPixels(*this, raised) || !raised.IncreaseBitDepth(8))
            return Fail(*raised.GetLastError() ? raised.GetLastError() : "can't allocate memory");
        source = &raised;
    }
    uint8_t h[9 + 768];
    pxio::PutLe16(h, uint32_t(GetWidth()));
    pxio::PutLe16(h + 2, uint32_t(GetHeight()));
    h[4] = 3;
    pxio::PutLe32(h + 5, 0x01000000);
    for (uint32_t i = 0; i < 256; ++i) {
        uint8_t red = 0, green = 0, blue = 0;
        source->GetPaletteColor(uint8_t(i), &red, &green, &blue);
        h[9 + 3 * i] = red;
        h[10 + 3 * i] = green;
        h[11 + 3 * i] = blue;
    }
    if (!pxio::WriteAll(stream, h, sizeof h))
        return Fail("SKA write error");
    for (int32_t row = GetHeight() - 1; row >= 0; --row)
        if (!pxio::WriteAll(stream, source->GetRow(row), size_t(GetWidth())))
            return Fail("SKA write error");
    return true;
}
