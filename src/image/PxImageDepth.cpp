// Raising the bits per pixel.
#include <cstring>

#include "image/PxImage.h"

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
        // Only the entries this image has: reading 256 from a smaller palette runs off its end.
        temporary.SetPalette(GetPalette(), m_head.clrUsed);
        for (int32_t y = 0; y < h; ++y) {
            if (GetEscape())
                return false;
            for (int32_t x = 0; x < w; ++x)
                temporary.SetPixelIndexUnchecked(x, y, GetPixelIndexUnchecked(x, y));
        }
    }
    return HandOver(temporary, nullptr);
}
