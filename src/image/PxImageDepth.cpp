// Raising and lowering the bits per pixel, and the grey conversion.
#include <cstring>
#include <vector>

#include "image/PxImage.h"
#include "image/PxPaletteSearch.h"

// A cancel (the escape flag, read before each row) leaves the image as it was and answers
// false: half a picture at the new depth is of no use to anyone.
bool PxImage::IncreaseBitDepth(int32_t bpp)
{
    if (!m_block || (bpp != 4 && bpp != 8 && bpp != 24))
        return false;
    if (uint32_t(bpp) == m_head.bitCount)
        return true;
    if (uint32_t(bpp) < m_head.bitCount)
        return false;
    const int32_t w = m_head.width, h = m_head.height;
    PxImage temporary(0);
    if (!MakeTemporary(temporary, w, h, uint32_t(bpp), m_info.type))
        return false;
    if (m_selection)
        temporary.SelectionCopy(*this);
    if (m_alpha)
        temporary.AlphaCopy(*this);
    if (bpp == 24) {
        if (m_info.backgroundIndex >= 0)
            temporary.m_info.backgroundColor = uint32_t(m_info.backgroundIndex) < m_head.clrUsed
                                                   ? GetPaletteColor(uint8_t(m_info.backgroundIndex))
                                                   : RGBQuad{0, 0, 0, 0};
        bool paletteAlpha = false;
        RGBQuad colours[256];
        for (uint32_t i = 0; i < 256; ++i) {
            colours[i] = GetPaletteColor(uint8_t(i));
            if (i < m_head.clrUsed && colours[i].alpha)
                paletteAlpha = true;
        }
        if (paletteAlpha && !m_alpha && !temporary.AlphaCreate()) {
            SetLastError("PxImage::IncreaseBitDepth can't allocate memory");
            return false;
        }
        uint8_t* alpha = temporary.m_alpha;
        for (int32_t y = 0; y < h; ++y) {
            if (GetEscape())
                return false;
            uint8_t* out = temporary.GetRow(y);
            uint8_t* alphaRow = alpha ? alpha + uint64_t(y) * uint32_t(w) : nullptr;
            for (int32_t x = 0; x < w; ++x, out += 3) {
                const RGBQuad& c = colours[GetPixelIndexUnchecked(x, y)];
                out[0] = c.blue;
                out[1] = c.green;
                out[2] = c.red;
                // The plane, when the image has one, already holds the alpha that wins.
                if (alphaRow && !m_alpha)
                    alphaRow[x] = c.alpha;
            }
        }
    } else {
        // Only the entries this image has: a 1- or 4-bit palette is shorter than the new one.
        temporary.SetPalette(GetPalette(), GetNumColors());
        for (int32_t y = 0; y < h; ++y) {
            if (GetEscape())
                return false;
            for (int32_t x = 0; x < w; ++x)
                temporary.SetPixelIndexUnchecked(x, y, GetPixelIndexUnchecked(x, y));
        }
    }
    return HandOver(temporary, nullptr);
}

namespace {

inline uint8_t AddClamped(uint8_t v, int32_t delta)
{
    const int32_t s = int32_t(v) + delta;
    return uint8_t(s < 0 ? 0 : s > 255 ? 255 : s);
}

} // namespace

// The error of each pixel goes to its right neighbour (7/16) and to the three below it in the
// next row (2/16, 4/16, 1/16). The changed colours are kept in two row buffers rather than
// written into this image, so that a cancel leaves it as it was; a palette image's buffered
// colours go through its own palette, as writing them into it would.
bool PxImage::DecreaseBpp(uint32_t bpp, bool errorDiffusion, const RGBQuad* palette, uint32_t count)
{
    if (!m_block)
        return false;
    if (m_head.bitCount < bpp) {
        SetLastError("DecreaseBpp: target BPP greater than source BPP");
        return false;
    }
    if (m_head.bitCount == bpp && (count == 0 || (m_head.clrImportant != 0 && m_head.clrImportant < count)))
        return true;
    if (bpp != 1 && bpp != 4 && bpp != 8)
        return false;
    const int32_t w = m_head.width, h = m_head.height;
    PxImage target(0);
    if (!MakeTemporary(target, w, h, bpp, m_info.type))
        return false;
    if (count)
        target.SetImportantColorCount(count);
    if (m_selection)
        target.SelectionCopy(*this);
    if (m_alpha)
        target.AlphaCopy(*this);
    if (palette)
        target.SetPalette(palette, count ? count : 1u << bpp);
    else
        target.SetStandardPalette();

    PxPaletteSearch search(target);
    PxPaletteSearch sourceSearch(*this);
    const RGBQuad* targetPalette = target.GetPalette();
    const RGBQuad* sourcePalette = GetPalette();
    std::vector<RGBQuad> rows[2];
    const auto load = [&](std::vector<RGBQuad>& row, int32_t y) {
        for (int32_t x = 0; x < w; ++x)
            row[size_t(x)] = GetPixelColorUnchecked(x, y, false);
    };
    if (errorDiffusion) {
        rows[0].resize(size_t(w));
        rows[1].resize(size_t(w));
        load(rows[0], 0);
    }
    const auto spread = [&](RGBQuad& c, const int32_t* e, int32_t weight) {
        c.red = AddClamped(c.red, weight * e[0] / 16);
        c.green = AddClamped(c.green, weight * e[1] / 16);
        c.blue = AddClamped(c.blue, weight * e[2] / 16);
        if (sourcePalette)
            c = sourcePalette[sourceSearch.Find(c)];
    };
    for (int32_t y = 0; y < h; ++y) {
        SetProgress(int32_t(int64_t(y) * 100 / h));
        if (GetEscape()) {
            SetLastError("Cancelled");
            return false;
        }
        if (!errorDiffusion) {
            const uint8_t* in = GetRow(y);
            for (int32_t x = 0; x < w; ++x) {
                const RGBQuad c = sourcePalette ? GetPixelColorUnchecked(x, y, false)
                                                : RGBQuad{in[3 * x], in[3 * x + 1], in[3 * x + 2], 255};
                target.SetPixelIndexUnchecked(x, y, search.Find(c));
            }
            continue;
        }
        std::vector<RGBQuad>& current = rows[y & 1];
        std::vector<RGBQuad>& below = rows[(y + 1) & 1];
        const bool last = y + 1 >= h;
        if (!last)
            load(below, y + 1);
        for (int32_t x = 0; x < w; ++x) {
            const RGBQuad c = current[size_t(x)];
            const uint8_t index = search.Find(c);
            target.SetPixelIndexUnchecked(x, y, index);
            const RGBQuad stored = targetPalette[index];
            const int32_t e[3] = {int32_t(c.red) - stored.red, int32_t(c.green) - stored.green,
                                  int32_t(c.blue) - stored.blue};
            if (x + 1 < w)
                spread(current[size_t(x) + 1], e, 7);
            if (last)
                continue;
            if (x > 0)
                spread(below[size_t(x) - 1], e, 2);
            spread(below[size_t(x)], e, 4);
            if (x + 1 < w)
                spread(below[size_t(x) + 1], e, 1);
        }
    }
    return HandOver(target, nullptr);
}

bool PxImage::ConvertToGray()
{
    if (!m_block)
        return false;
    const int32_t w = m_head.width, h = m_head.height;
    PxImage target(0);
    if (m_head.bitCount > 8) {
        if (!MakeTemporary(target, w, h, 8, m_info.type))
            return false;
        target.SetGrayPalette();
        if (m_info.backgroundIndex >= 0) {
            const RGBQuad b = m_info.backgroundColor;
            target.m_info.backgroundIndex = PxGrayLevel(b.blue, b.green, b.red);
        }
        if (m_selection)
            target.SelectionCopy(*this);
        if (m_alpha)
            target.AlphaCopy(*this);
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* in = GetRow(y);
            uint8_t* out = target.GetRow(y);
            for (int32_t x = 0; x < w; ++x, in += 3)
                out[x] = PxGrayLevel(in[0], in[1], in[2]);
        }
        return HandOver(target, nullptr);
    }
    uint8_t levels[256] = {};
    const RGBQuad* palette = GetPalette();
    for (uint32_t i = 0; palette && i < m_head.clrUsed; ++i)
        levels[i] = PxGrayLevel(palette[i].blue, palette[i].green, palette[i].red);
    const int32_t background =
        m_info.backgroundIndex >= 0
            ? (uint32_t(m_info.backgroundIndex) < m_head.clrUsed ? levels[m_info.backgroundIndex] : 0)
            : -1;
    if (m_head.bitCount == 8) {
        uint8_t* bits = GetBits();
        for (uint64_t i = 0; i < m_head.sizeImage; ++i)
            bits[i] = levels[bits[i]];
        SetGrayPalette();
        m_info.backgroundIndex = background;
        return true;
    }
    if (!MakeTemporary(target, w, h, 8, m_info.type))
        return false;
    target.SetGrayPalette();
    target.m_info.backgroundIndex = background;
    if (m_selection)
        target.SelectionCopy(*this);
    if (m_alpha)
        target.AlphaCopy(*this);
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* out = target.GetRow(y);
        for (int32_t x = 0; x < w; ++x)
            out[x] = levels[GetPixelIndexUnchecked(x, y)];
    }
    return HandOver(target, nullptr);
}
