#include "image/PxImageICO.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "image/PxCodecIO.h"
#include "image/PxImagePNG.h"

using pxio::Le16;
using pxio::Le32;

namespace {

// Bitmap entries are icons: no side can reach past this.
constexpr uint32_t kMaxBitmapSide = 256;

// Bit 7 - (x mod 8) of the mask row's byte x / 8: 1 where the pixel does not show.
bool IsMasked(const uint8_t* mask, uint32_t maskRow, int32_t x, int32_t y)
{
    return (mask[size_t(y) * maskRow + uint32_t(x) / 8] >> (7 - x % 8)) & 1;
}

} // namespace

bool PxImageICO::Fail(const char* message)
{
    SetLastError(message);
    return false;
}

bool PxImageICO::Decode(PxFile* stream)
{
    if (!stream)
        return Fail("null file handler");
    const int32_t start = stream->Tell();
    uint8_t h[6];
    if (stream->Read(h, 1, 6) != 6 || Le16(h) != 0 || (Le16(h + 2) != 1 && Le16(h + 2) != 2))
        return Fail("Not an ICO");
    const uint32_t count = Le16(h + 4);
    // The directory must be there whole before any entry of it is believed.
    if (count == 0 || uint64_t(pxio::Remaining(stream)) < uint64_t(count) * 16)
        return Fail("ICO directory is empty or cut short");
    const int32_t index = GetFrame();
    if (index < 0 || uint32_t(index) >= count) {
        m_info.frameCount = int32_t(count);
        return Fail("ICO frame index out of range");
    }
    std::vector<uint8_t> directory(size_t(count) * 16);
    if (stream->Read(directory.data(), 1, directory.size()) != directory.size())
        return Fail("ICO directory is cut short");
    const uint8_t* entry = directory.data() + size_t(index) * 16;
    const uint32_t offset = Le32(entry + 12);
    if (offset > uint32_t(INT32_MAX) - uint32_t(start) || !stream->Seek(start + int32_t(offset), 0) ||
        pxio::Remaining(stream) < 8)
        return Fail("ICO entry lies outside the file");
    // A PNG entry is told by its signature; the directory's sizes of 0 only hint at it.
    uint8_t signature[8];
    if (stream->Read(signature, 1, 8) != 8)
        return Fail("ICO entry lies outside the file");
    stream->Seek(start + int32_t(offset), 0);
    if (memcmp(signature, "\x89PNG\r\n\x1a\n", 8) == 0) {
        PxImagePNG png;
        png.CopySettingsFrom(*this);
        png.SetFrame(0);
        if (!png.Decode(stream))
            return Fail(png.GetLastError());
        if (!Transfer(png, true))
            return false;
        m_info.type = PXIMAGE_FORMAT_ICO;
        m_info.frameIndex = index;
        m_info.frameCount = int32_t(count);
        return true;
    }
    uint8_t info[40];
    if (stream->Read(info, 1, 40) != 40 || Le32(info) < 40)
        return Fail("ICO entry has a bad bitmap header");
    const int32_t width = int32_t(Le32(info + 4));
    const int32_t doubled = int32_t(Le32(info + 8));
    const uint32_t bits = Le16(info + 14), colours = Le32(info + 32);
    // The information header's height counts the colour rows and the mask rows.
    const int32_t height = doubled / 2;
    if (width < 1 || height < 1 || uint32_t(width) > kMaxBitmapSide || uint32_t(height) > kMaxBitmapSide)
        return Fail("ICO entry has a bad size");
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return Fail("ICO entry has an unsupported depth");
    if (Le32(info + 16) != 0)
        return Fail("ICO entry is compressed");
    if (bits <= 8 && colours > 256)
        return Fail("ICO entry has a bad palette size");
    if (GetEscape() == -1) {
        m_head.width = width;
        m_head.height = height;
        m_info.type = PXIMAGE_FORMAT_ICO;
        m_info.frameCount = int32_t(count);
        SetLastError("output dimensions returned");
        return true;
    }
    if (Le32(info) > 40)
        stream->Seek(int32_t(Le32(info) > 1024 ? 1024 : Le32(info)) - 40, 1);
    if (!Create(width, height, bits, PXIMAGE_FORMAT_ICO))
        return false;
    if (bits <= 8) {
        const uint32_t entries = colours ? colours : GetNumColors();
        RGBQuad* palette = GetPalette();
        for (uint32_t i = 0; i < entries; ++i) {
            uint8_t c[4];
            if (stream->Read(c, 1, 4) != 4)
                return Fail("ICO entry is cut short");
            if (i < GetNumColors())
                palette[i] = RGBQuad{c[0], c[1], c[2], 0};
        }
    }
    if (bits == 32) {
        if (!AlphaCreate())
            return Fail("can't allocate memory");
        std::vector<uint8_t> row(size_t(width) * 4);
        for (int32_t y = 0; y < height; ++y) {
            if (stream->Read(row.data(), 1, row.size()) != row.size())
                return Fail("ICO entry is cut short");
            uint8_t* out = GetRow(y);
            uint8_t* alpha = AlphaGetPointer(0, y);
            for (int32_t x = 0; x < width; ++x) {
                memcpy(out + 3 * x, &row[4 * size_t(x)], 3);
                alpha[x] = row[4 * size_t(x) + 3];
            }
        }
    } else if (stream->Read(GetBits(), 1, GetHeader().sizeImage) != GetHeader().sizeImage) {
        return Fail("ICO entry is cut short");
    }
    const uint32_t maskRow = (uint32_t(width) + 31) / 32 * 4;
    std::vector<uint8_t> mask(size_t(maskRow) * uint32_t(height));
    // Entries written without their mask are still whole pictures.
    if (stream->Read(mask.data(), 1, mask.size()) == mask.size())
        ApplyMask(mask.data(), maskRow);
    m_info.frameIndex = index;
    m_info.frameCount = int32_t(count);
    return true;
}

void PxImageICO::ApplyMask(const uint8_t* mask, uint32_t maskRow)
{
    const int32_t width = GetWidth(), height = GetHeight();
    const size_t size = size_t(maskRow) * uint32_t(height);
    bool allSet = true;
    for (size_t i = 0; i < size && allSet; ++i)
        allSet = mask[i] == 255;
    if (allSet) {
        // Nothing is drawn but through the XOR bits: the inverse colours show.
        SetTransparentIndex(0);
        Negative();
        return;
    }
    const auto masked = [&](int32_t x, int32_t y) { return IsMasked(mask, maskRow, x, y); };
    const bool hadAlpha = AlphaIsValid();
    if (!AlphaCreate())
        return;
    bool any = false;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            if (masked(x, y)) {
                AlphaSet(x, y, 0);
                any = true;
            }
    if (!any && !hadAlpha)
        RemoveAlpha();
    if (GetBpp() > 8 || !any)
        return;
    // A palette picture with an alpha plane beside it can be written in few formats: the mask
    // becomes a transparent index where one can be had, at a higher depth when every index of
    // this one is in use (as in a cursor, whose black is under its mask and beside it too).
    while (!TransparentIndexFromMask(mask, maskRow)) {
        const uint32_t bpp = GetBpp();
        if (!IncreaseBitDepth(bpp == 1 ? 4 : bpp == 4 ? 8 : 24) || bpp == 8)
            return;
    }
}

bool PxImageICO::TransparentIndexFromMask(const uint8_t* mask, uint32_t maskRow)
{
    const int32_t width = GetWidth(), height = GetHeight();
    const auto masked = [&](int32_t x, int32_t y) { return IsMasked(mask, maskRow, x, y); };
    // One index under the mask that no pixel outside it uses: it is the transparent one.
    bool first = true, oneIndex = true;
    uint8_t firstIndex = 0;
    bool used[256] = {false}, usedOutside[256] = {false};
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t index = GetPixelIndexUnchecked(x, y);
            used[index] = true;
            if (!masked(x, y)) {
                usedOutside[index] = true;
                continue;
            }
            if (first) {
                first = false;
                firstIndex = index;
            } else if (index != firstIndex) {
                oneIndex = false;
            }
        }
    bool found = false;
    if (oneIndex && !usedOutside[firstIndex]) {
        SetTransparentColor(GetPaletteColor(firstIndex));
        SetTransparentIndex(firstIndex);
        RemoveAlpha();
        found = true;
    }
    // An index no pixel uses becomes the transparent one, so that masked pixels alone take it.
    for (int32_t i = int32_t(GetNumColors()) - 1; i >= 0; --i) {
        if (used[i])
            continue;
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                if (masked(x, y))
                    SetPixelIndexUnchecked(x, y, uint8_t(i));
        SetTransparentIndex(i);
        RemoveAlpha();
        return true;
    }
    return found;
}

bool PxImageICO::MakeEntry(const PxImage& image, uint8_t entry[16], std::vector<uint8_t>& body, std::string& error)
{
    const uint32_t width = uint32_t(image.GetWidth()), height = uint32_t(image.GetHeight());
    const uint32_t bpp = image.GetBpp();
    if (bpp <= 8 && !image.GetPalette()) {
        error = "ICO images at 8 bits or fewer need a palette";
        return false;
    }
    memset(entry, 0, 16);
    body.clear();
    if (width > 255 || height > 255) {
        // Too large for the directory's size bytes: a PNG entry, written from a copy.
        PxImage copy(0);
        if (!pxio::CopyPixels(image, copy, true)) {
            error = "can't allocate memory";
            return false;
        }
        copy.SetTransparentIndex(image.GetTransparentIndex());
        copy.SetTransparentColor(image.GetTransparentColor());
        uint8_t* buffer = nullptr;
        int32_t size = 0;
        if (!copy.EncodeToMemory(&buffer, &size, PXIMAGE_FORMAT_PNG)) {
            error = copy.GetLastError();
            return false;
        }
        body.assign(buffer, buffer + size);
        PxImage::FreeEncodedBuffer(buffer);
        pxio::PutLe16(entry + 4, 1);
        pxio::PutLe16(entry + 6, bpp == 24 && image.AlphaIsValid() ? 32 : bpp);
        pxio::PutLe32(entry + 8, uint32_t(body.size()));
        return true;
    }
    const bool alpha32 = bpp == 24 && image.AlphaIsValid();
    const uint32_t bits = alpha32 ? 32 : bpp;
    const uint32_t maskRow = (width + 31) / 32 * 4;
    const uint32_t maskSize = maskRow * height;
    const uint32_t dataSize = alpha32 ? width * height * 4 : image.GetHeader().sizeImage;
    const uint32_t entries = image.GetNumColors();
    entry[0] = uint8_t(width);
    entry[1] = uint8_t(height);
    entry[2] = uint8_t(entries);
    pxio::PutLe16(entry + 6, bits);
    pxio::PutLe32(entry + 8, maskSize + dataSize + 4 * entries + 40);

    uint8_t info[40] = {0};
    pxio::PutLe32(info, 40);
    pxio::PutLe32(info + 4, width);
    pxio::PutLe32(info + 8, height * 2);
    pxio::PutLe16(info + 12, 1);
    pxio::PutLe16(info + 14, bits);
    pxio::PutLe32(info + 20, dataSize);
    body.insert(body.end(), info, info + 40);
    // The transparent entry goes out black, so that the XOR bits under the mask change nothing;
    // the image's own palette stays as it is.
    const int32_t transparent = image.GetTransparentIndex();
    for (uint32_t i = 0; i < entries; ++i) {
        RGBQuad c = image.GetPalette()[i];
        if (int32_t(i) == transparent)
            c = RGBQuad{0, 0, 0, 0};
        body.insert(body.end(), {c.blue, c.green, c.red, 0});
    }
    if (alpha32) {
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t* row = image.GetRow(int32_t(y));
            const uint8_t* a = image.AlphaGetPointer(0, int32_t(y));
            for (uint32_t x = 0; x < width; ++x)
                body.insert(body.end(), {row[3 * x], row[3 * x + 1], row[3 * x + 2], a[x]});
        }
    } else {
        body.insert(body.end(), image.GetBits(), image.GetBits() + dataSize);
    }
    const bool paletteAlpha = image.AlphaPaletteIsValid();
    const bool hasTransparent = transparent >= 0;
    const RGBQuad tc = image.GetTransparentColor();
    std::vector<uint8_t> mask(maskSize, 0);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            bool clear = image.AlphaIsValid() && image.AlphaGetUnchecked(int32_t(x), int32_t(y)) == 0;
            if (!clear && paletteAlpha)
                clear = image.GetPixelColorUnchecked(int32_t(x), int32_t(y), true).alpha == 0;
            if (!clear && hasTransparent) {
                const RGBQuad c = image.GetPixelColorUnchecked(int32_t(x), int32_t(y), false);
                clear = c.red == tc.red && c.green == tc.green && c.blue == tc.blue;
            }
            if (clear)
                mask[y * maskRow + x / 8] |= uint8_t(0x80 >> (x % 8));
        }
    body.insert(body.end(), mask.begin(), mask.end());
    return true;
}

bool PxImageICO::Encode(PxFile* stream, bool append, int32_t pageCount)
{
    if (EncodeSafeCheck(stream))
        return false;
    if (pageCount < 0 || pageCount > 65535)
        return Fail("an ICO file holds at most 65535 images");
    if (append && pageCount > m_pieceCount)
        return true;
    const bool headerOnly = !append && pageCount != 0;
    uint8_t entry[16];
    std::vector<uint8_t> body;
    std::string error;
    // The image is made into an entry before anything is written, so that an image that cannot
    // be one leaves no piece of a file behind.
    if (!headerOnly && !MakeEntry(*this, entry, body, error))
        return Fail(error.c_str());
    if (!append) {
        m_pieceCount = std::max(pageCount, 1);
        m_nextBodyOffset = uint32_t(6 + 16 * m_pieceCount);
        uint8_t header[6] = {0, 0, 1, 0, 0, 0};
        pxio::PutLe16(header + 4, uint32_t(m_pieceCount));
        if (!pxio::WriteAll(stream, header, sizeof header))
            return Fail("Error writing ICO file header");
        if (headerOnly)
            return true;
    }
    if (!append || pageCount == m_pieceCount) {
        if (uint64_t(m_nextBodyOffset) + body.size() > UINT32_MAX)
            return Fail("ICO file too large");
        pxio::PutLe32(entry + 12, m_nextBodyOffset);
        m_nextBodyOffset += uint32_t(body.size());
        if (!pxio::WriteAll(stream, entry, sizeof entry))
            return Fail("Error saving ICO image header");
        if (append)
            return true;
    }
    if (!pxio::WriteAll(stream, body.data(), body.size()))
        return Fail("Error saving ICO body");
    return true;
}

bool PxImageICO::EncodeFrames(PxFile* stream, PxImage** images, int32_t count)
{
    if (!stream)
        return Fail("invalid file pointer");
    if (!images || count <= 0)
        return Fail("multipage ICO, no images!");
    if (count > 65535)
        return Fail("an ICO file holds at most 65535 images");
    std::vector<std::vector<uint8_t>> bodies(static_cast<size_t>(count));
    std::vector<uint8_t> directory(6 + 16 * size_t(count), 0);
    pxio::PutLe16(directory.data() + 2, 1);
    pxio::PutLe16(directory.data() + 4, uint32_t(count));
    uint64_t offset = directory.size();
    for (int32_t k = 0; k < count; ++k) {
        if (!images[k])
            return Fail("Bad image pointer");
        if (!images[k]->IsValid())
            return Fail("Empty image");
        std::string error;
        uint8_t* entry = directory.data() + 6 + 16 * size_t(k);
        if (!MakeEntry(*images[k], entry, bodies[size_t(k)], error))
            return Fail(error.c_str());
        if (offset > UINT32_MAX)
            return Fail("ICO file too large");
        pxio::PutLe32(entry + 12, uint32_t(offset));
        offset += bodies[size_t(k)].size();
    }
    if (!pxio::WriteAll(stream, directory.data(), directory.size()))
        return Fail("Error writing ICO file header");
    for (const auto& body : bodies)
        if (!pxio::WriteAll(stream, body.data(), body.size()))
            return Fail("Error saving ICO body");
    return true;
}
