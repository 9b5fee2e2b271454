// The alpha plane (one byte a pixel, rows bottom-up like the pixels, no padding) and the
// alpha bytes of the palette.
#include <cstdlib>
#include <cstring>

#include "image/PxImage.h"

bool PxImage::AlphaCreate()
{
    if (m_alpha)
        return true;
    if (!m_block)
        return false;
    const size_t n = size_t(PixelCount());
    m_alpha = static_cast<uint8_t*>(malloc(n ? n : 1));
    if (!m_alpha)
        return false;
    memset(m_alpha, 255, n);
    return true;
}

void PxImage::RemoveAlpha()
{
    if (m_ghost)
        return;
    free(m_alpha);
    m_alpha = nullptr;
}

void PxImage::AlphaClear()
{
    if (m_alpha)
        memset(m_alpha, 0, size_t(PixelCount()));
}

void PxImage::AlphaSet(uint8_t level)
{
    if (m_alpha)
        memset(m_alpha, level, size_t(PixelCount()));
}

void PxImage::AlphaSet(int32_t x, int32_t y, uint8_t level)
{
    if (m_alpha && IsInsideImage(x, y))
        m_alpha[uint64_t(y) * uint32_t(m_head.width) + uint32_t(x)] = level;
}

uint8_t PxImage::AlphaGet(int32_t x, int32_t y) const
{
    if (!m_alpha || !IsInsideImage(x, y))
        return 0;
    return m_alpha[uint64_t(y) * uint32_t(m_head.width) + uint32_t(x)];
}

uint8_t PxImage::AlphaGetUnchecked(int32_t x, int32_t y) const
{
    return m_alpha[uint64_t(y) * uint32_t(m_head.width) + uint32_t(x)];
}

uint8_t* PxImage::AlphaGetPointer(int32_t x, int32_t y) const
{
    if (!m_alpha || !IsInsideImage(x, y))
        return nullptr;
    return m_alpha + uint64_t(y) * uint32_t(m_head.width) + uint32_t(x);
}

void PxImage::AlphaInvert()
{
    if (!m_alpha)
        return;
    const uint64_t n = PixelCount();
    for (uint64_t i = 0; i < n; ++i)
        m_alpha[i] = uint8_t(255 - m_alpha[i]);
}

bool PxImage::AlphaCopy(const PxImage& source)
{
    if (!source.m_alpha || source.GetWidth() != GetWidth() || source.GetHeight() != GetHeight())
        return false;
    if (&source == this)
        return true;
    if (!AlphaCreate())
        return false;
    memcpy(m_alpha, source.m_alpha, size_t(PixelCount()));
    m_info.alphaMax = source.m_info.alphaMax;
    return true;
}

bool PxImage::AlphaSetFromGray(const PxImage& source)
{
    if (source.GetBpp() != 8 || !source.IsGrayScale() || source.GetWidth() != GetWidth() ||
        source.GetHeight() != GetHeight())
        return false;
    if (!source.m_block || !AlphaCreate())
        return false;
    const uint32_t w = uint32_t(m_head.width);
    for (int32_t y = 0; y < m_head.height; ++y)
        memcpy(m_alpha + uint64_t(y) * w, source.GetRow(y), w);
    return true;
}

bool PxImage::AlphaFlip()
{
    if (!m_alpha)
        return false;
    const uint32_t w = uint32_t(m_head.width);
    uint8_t* buffer = static_cast<uint8_t*>(malloc(w ? w : 1));
    if (!buffer)
        return false;
    for (int32_t k = 0; k < m_head.height / 2; ++k) {
        uint8_t* a = m_alpha + uint64_t(k) * w;
        uint8_t* b = m_alpha + uint64_t(m_head.height - 1 - k) * w;
        memcpy(buffer, a, w);
        memcpy(a, b, w);
        memcpy(b, buffer, w);
    }
    free(buffer);
    return true;
}

bool PxImage::AlphaMirror()
{
    if (!m_alpha)
        return false;
    const uint64_t n = PixelCount();
    uint8_t* mirrored = static_cast<uint8_t*>(malloc(n ? n : 1));
    if (!mirrored)
        return false;
    const uint32_t w = uint32_t(m_head.width);
    for (int32_t y = 0; y < m_head.height; ++y) {
        const uint8_t* in = m_alpha + uint64_t(y) * w;
        uint8_t* out = mirrored + uint64_t(y) * w;
        for (uint32_t x = 0; x < w; ++x)
            out[x] = in[w - 1 - x];
    }
    if (!m_ghost)
        free(m_alpha);
    m_alpha = mirrored;
    return true;
}

bool PxImage::AlphaSplit(PxImage* destination)
{
    if (!destination || !m_alpha)
        return false;
    PxImage plane(0);
    if (!plane.Create(m_head.width, m_head.height, 8, 0)) {
        SetLastError(plane.GetLastError());
        return false;
    }
    const uint32_t w = uint32_t(m_head.width);
    for (int32_t y = 0; y < m_head.height; ++y)
        memcpy(plane.GetRow(y), m_alpha + uint64_t(y) * w, w);
    plane.SetGrayPalette();
    return HandOver(plane, destination);
}

bool PxImage::AlphaPaletteSplit(PxImage* destination)
{
    bool any = false;
    for (uint32_t i = 0; i < m_head.clrUsed && !any; ++i)
        any = GetPaletteColor(uint8_t(i)).alpha >= 1;
    if (!any || !destination)
        return false;
    PxImage plane(0);
    if (!plane.Create(m_head.width, m_head.height, 8, 0)) {
        SetLastError(plane.GetLastError());
        return false;
    }
    for (int32_t y = 0; y < m_head.height; ++y) {
        uint8_t* out = plane.GetRow(y);
        for (int32_t x = 0; x < m_head.width; ++x)
            out[x] = GetPixelColorUnchecked(x, y, true).alpha;
    }
    plane.SetGrayPalette();
    return HandOver(plane, destination);
}

bool PxImage::AlphaFromTransparency()
{
    if (!m_block || m_info.backgroundIndex < 0)
        return false;
    if (!AlphaCreate())
        return false;
    for (int32_t y = 0; y < m_head.height; ++y)
        for (int32_t x = 0; x < m_head.width; ++x)
            if (IsTransparent(x, y))
                m_alpha[uint64_t(y) * uint32_t(m_head.width) + uint32_t(x)] = 0;
    return true;
}

void PxImage::AlphaStrip()
{
    const bool paletteAlpha = AlphaPaletteIsValid();
    const bool plane = m_alpha != nullptr;
    if ((!paletteAlpha && !plane) || !m_block)
        return;
    const RGBQuad bg = m_info.backgroundColor;
    const auto blend = [&](int32_t x, int32_t y) {
        const RGBQuad c = GetPixelColorUnchecked(x, y, true);
        int w = m_info.alphaMax;
        if (plane)
            w = m_info.alphaMax * m_alpha[uint64_t(y) * uint32_t(m_head.width) + uint32_t(x)] / 255;
        if (m_head.clrUsed && paletteAlpha)
            w = w * c.alpha / 255;
        return RGBQuad{uint8_t((w * c.blue + bg.blue * (256 - w)) >> 8),
                       uint8_t((w * c.green + bg.green * (256 - w)) >> 8),
                       uint8_t((w * c.red + bg.red * (256 - w)) >> 8), c.alpha};
    };
    if (m_head.bitCount == 24) {
        for (int32_t y = 0; y < m_head.height; ++y)
            for (int32_t x = 0; x < m_head.width; ++x)
                SetPixelColorUnchecked(x, y, blend(x, y), false);
        RemoveAlpha();
        return;
    }
    PxImage flat(0);
    if (!MakeTemporary(flat, m_head.width, m_head.height, 24, 0))
        return;
    for (int32_t y = 0; y < m_head.height; ++y)
        for (int32_t x = 0; x < m_head.width; ++x)
            flat.SetPixelColorUnchecked(x, y, blend(x, y), false);
    // The picture changes depth; frames held stay with the image.
    Transfer(flat, false);
}

void PxImage::AlphaPaletteClear()
{
    for (uint32_t i = 0; i < m_head.clrUsed; ++i) {
        RGBQuad c = GetPaletteColor(uint8_t(i));
        c.alpha = 0;
        SetPaletteColor(uint8_t(i), c);
    }
}

bool PxImage::AlphaPaletteIsValid() const
{
    for (uint32_t i = 0; i < m_head.clrUsed; ++i)
        if (GetPaletteColor(uint8_t(i)).alpha != 0)
            return true;
    return false;
}
