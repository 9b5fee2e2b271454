// Palette entries and single pixels at every depth the image holds (1, 4, 8, 24 bits).
#include <cstring>

#include "image/PxImage.h"

namespace {

// The standard 8-bit palette, red:green:blue.
const uint32_t kStandard8[256] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xc0c0c0, 0xc0dcc0, 0xa6caf0, 0xfff0d4,
    0xffe2b1, 0xffd48e, 0xffc66b, 0xffb848, 0xffaa25, 0xffaa00, 0xdc9200, 0xb97a00, 0x966200, 0x734a00, 0x503200,
    0xffe3d4, 0xffc7b1, 0xffab8e, 0xff8f6b, 0xff7348, 0xff5725, 0xff5500, 0xdc4900, 0xb93d00, 0x963100, 0x732500,
    0x501900, 0xffd4d4, 0xffb1b1, 0xff8e8e, 0xff6b6b, 0xff4848, 0xff2525, 0xfe0000, 0xdc0000, 0xb90000, 0x960000,
    0x730000, 0x500000, 0xffd4e3, 0xffb1c7, 0xff8eab, 0xff6b8f, 0xff4873, 0xff2557, 0xff0055, 0xdc0049, 0xb9003d,
    0x960031, 0x730025, 0x500019, 0xffd4f0, 0xffb1e2, 0xff8ed4, 0xff6bc6, 0xff48b8, 0xff25aa, 0xff00aa, 0xdc0092,
    0xb9007a, 0x960062, 0x73004a, 0x500032, 0xffd4ff, 0xffb1ff, 0xff8eff, 0xff6bff, 0xff48ff, 0xff25ff, 0xfe00fe,
    0xdc00dc, 0xb900b9, 0x960096, 0x730073, 0x500050, 0xf0d4ff, 0xe2b1ff, 0xd48eff, 0xc66bff, 0xb848ff, 0xaa25ff,
    0xaa00ff, 0x9200dc, 0x7a00b9, 0x620096, 0x4a0073, 0x320050, 0xe3d4ff, 0xc7b1ff, 0xab8eff, 0x8f6bff, 0x7348ff,
    0x5725ff, 0x5500ff, 0x4900dc, 0x3d00b9, 0x310096, 0x250073, 0x190050, 0xd4d4ff, 0xb1b1ff, 0x8e8eff, 0x6b6bff,
    0x4848ff, 0x2525ff, 0x0000fe, 0x0000dc, 0x0000b9, 0x000096, 0x000073, 0x000050, 0xd4e3ff, 0xb1c7ff, 0x8eabff,
    0x6b8fff, 0x4873ff, 0x2557ff, 0x0055ff, 0x0049dc, 0x003db9, 0x003196, 0x002573, 0x001950, 0xd4f0ff, 0xb1e2ff,
    0x8ed4ff, 0x6bc6ff, 0x48b8ff, 0x25aaff, 0x00aaff, 0x0092dc, 0x007ab9, 0x006296, 0x004a73, 0x003250, 0xd4ffff,
    0xb1ffff, 0x8effff, 0x6bffff, 0x48ffff, 0x25ffff, 0x00fefe, 0x00dcdc, 0x00b9b9, 0x009696, 0x007373, 0x005050,
    0xd4fff0, 0xb1ffe2, 0x8effd4, 0x6bffc6, 0x48ffb8, 0x25ffaa, 0x00ffaa, 0x00dc92, 0x00b97a, 0x009662, 0x00734a,
    0x005032, 0xd4ffe3, 0xb1ffc7, 0x8effab, 0x6bff8f, 0x48ff73, 0x25ff57, 0x00ff55, 0x00dc49, 0x00b93d, 0x009631,
    0x007325, 0x005019, 0xd4ffd4, 0xb1ffb1, 0x8eff8e, 0x6bff6b, 0x48ff48, 0x25ff25, 0x00fe00, 0x00dc00, 0x00b900,
    0x009600, 0x007300, 0x005000, 0xe3ffd4, 0xc7ffb1, 0xabff8e, 0x8fff6b, 0x73ff48, 0x57ff25, 0x55ff00, 0x49dc00,
    0x3db900, 0x319600, 0x257300, 0x195000, 0xf0ffd4, 0xe2ffb1, 0xd4ff8e, 0xc6ff6b, 0xb8ff48, 0xaaff25, 0xaaff00,
    0x92dc00, 0x7ab900, 0x629600, 0x4a7300, 0x325000, 0xffffd4, 0xffffb1, 0xffff8e, 0xffff6b, 0xffff48, 0xffff25,
    0xfefe00, 0xdcdc00, 0xb9b900, 0x969600, 0x737300, 0x505000, 0xf2f2f2, 0xe6e6e6, 0xdadada, 0xcecece, 0xc2c2c2,
    0xb6b6b6, 0xaaaaaa, 0x9e9e9e, 0x929292, 0x868686, 0x7a7a7a, 0x6e6e6e, 0x626262, 0x565656, 0x4a4a4a, 0x3e3e3e,
    0x323232, 0x262626, 0x1a1a1a, 0x0e0e0e, 0xfffbf0, 0xa0a0a4, 0x808080, 0xff0000, 0x00ff00, 0xffff00, 0x0000ff,
    0xff00ff, 0x00ffff, 0xffffff,
};

const uint32_t kStandard4[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xc0c0c0,
    0x808080, 0xff0000, 0x00ff00, 0xffff00, 0x0000ff, 0xff00ff, 0x00ffff, 0xffffff,
};

inline uint32_t Distance(const RGBQuad& a, const RGBQuad& b)
{
    const int db = int(a.blue) - b.blue, dg = int(a.green) - b.green, dr = int(a.red) - b.red;
    return uint32_t(db * db + dg * dg + dr * dr);
}

} // namespace

RGBQuad PxImage::RGBQuadFromColorRef(ColorRef c)
{
    return RGBQuad{uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), 0};
}

ColorRef PxImage::ColorRefFromRGBQuad(RGBQuad c)
{
    return ColorRef(c.red) | ColorRef(c.green) << 8 | ColorRef(c.blue) << 16;
}

// ---- palette ----

uint32_t PxImage::GetPaletteSize() const
{
    return m_head.clrUsed * 4;
}

RGBQuad* PxImage::GetPalette() const
{
    if (!m_block || !m_head.clrUsed)
        return nullptr;
    return reinterpret_cast<RGBQuad*>(m_block + sizeof(PxBitmapInfoHeader));
}

RGBQuad PxImage::GetPaletteColor(uint8_t index) const
{
    const RGBQuad* palette = GetPalette();
    if (!palette || index >= m_head.clrUsed)
        return RGBQuad{0, 0, 0, 0};
    RGBQuad c = palette[index];
    if (!m_info.paletteAlpha)
        c.alpha = 255;
    return c;
}

bool PxImage::GetPaletteColor(uint8_t index, uint8_t* red, uint8_t* green, uint8_t* blue) const
{
    const RGBQuad* palette = GetPalette();
    if (!palette || index >= m_head.clrUsed)
        return false;
    if (red)
        *red = palette[index].red;
    if (green)
        *green = palette[index].green;
    if (blue)
        *blue = palette[index].blue;
    return true;
}

void PxImage::SetPaletteColor(uint8_t index, uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha)
{
    RGBQuad* palette = GetPalette();
    if (!palette || index >= m_head.clrUsed)
        return;
    palette[index] = RGBQuad{blue, green, red, alpha};
}

void PxImage::SetPaletteColor(uint8_t index, RGBQuad colour)
{
    SetPaletteColor(index, colour.red, colour.green, colour.blue, colour.alpha);
}

void PxImage::SetPaletteColor(uint8_t index, ColorRef colour)
{
    SetPaletteColor(index, uint8_t(colour), uint8_t(colour >> 8), uint8_t(colour >> 16), 0);
}

void PxImage::SetPalette(const RGBQuad* entries, uint32_t count)
{
    RGBQuad* palette = GetPalette();
    if (!palette || !entries)
        return;
    const uint32_t n = count < m_head.clrUsed ? count : m_head.clrUsed;
    memmove(palette, entries, n * sizeof(RGBQuad));
}

void PxImage::SetPaletteRGB(const uint8_t* triples, uint32_t count)
{
    RGBQuad* palette = GetPalette();
    if (!palette || !triples)
        return;
    const uint32_t n = count < m_head.clrUsed ? count : m_head.clrUsed;
    for (uint32_t i = 0; i < n; ++i) {
        palette[i].red = triples[3 * i];
        palette[i].green = triples[3 * i + 1];
        palette[i].blue = triples[3 * i + 2];
    }
}

void PxImage::SetPalette(uint32_t count, const uint8_t* red, const uint8_t* green, const uint8_t* blue)
{
    RGBQuad* palette = GetPalette();
    if (!palette || !red)
        return;
    if (!green)
        green = red;
    if (!blue)
        blue = green;
    const uint32_t n = count < m_head.clrUsed ? count : m_head.clrUsed;
    for (uint32_t i = 0; i < n; ++i) {
        palette[i].red = red[i];
        palette[i].green = green[i];
        palette[i].blue = blue[i];
    }
}

void PxImage::SetGrayPalette()
{
    RGBQuad* palette = GetPalette();
    if (!palette)
        return;
    const uint32_t n = m_head.clrUsed;
    const uint32_t step = n > 1 ? 255 / (n - 1) : 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t v = uint8_t(step * i);
        palette[i].blue = palette[i].green = palette[i].red = v;
    }
}

void PxImage::SetStandardPalette()
{
    RGBQuad* palette = GetPalette();
    if (!palette)
        return;
    const uint32_t* table = nullptr;
    uint32_t n = 0;
    static const uint32_t standard1[2] = {0x000000, 0xffffff};
    switch (m_head.bitCount) {
    case 1:
        table = standard1;
        n = 2;
        break;
    case 4:
        table = kStandard4;
        n = 16;
        break;
    case 8:
        table = kStandard8;
        n = 256;
        break;
    default:
        return;
    }
    for (uint32_t i = 0; i < n && i < m_head.clrUsed; ++i)
        palette[i] = RGBQuad{uint8_t(table[i]), uint8_t(table[i] >> 8), uint8_t(table[i] >> 16), 0};
}

bool PxImage::IsGrayScale() const
{
    const RGBQuad* palette = GetPalette();
    if (!palette)
        return false;
    for (uint32_t i = 0; i < m_head.clrUsed; ++i)
        if (palette[i].blue != i || palette[i].green != i || palette[i].red != i)
            return false;
    return true;
}

bool PxImage::IsSamePalette(const PxImage& other, bool checkAlpha) const
{
    const uint32_t n = m_head.clrUsed;
    if (!n || !other.m_head.clrUsed || n != other.m_head.clrUsed || !GetPalette() || !other.GetPalette())
        return false;
    for (uint32_t i = 0; i < n; ++i) {
        const RGBQuad a = GetPaletteColor(uint8_t(i)), b = other.GetPaletteColor(uint8_t(i));
        if (a.blue != b.blue || a.green != b.green || a.red != b.red)
            return false;
        if (checkAlpha && a.alpha != b.alpha)
            return false;
    }
    return true;
}

void PxImage::BlendPalette(ColorRef colour, int32_t percent)
{
    RGBQuad* palette = GetPalette();
    if (!palette)
        return;
    if (percent > 100)
        percent = 100;
    if (percent < 0)
        percent = 0;
    const RGBQuad c = RGBQuadFromColorRef(colour);
    for (uint32_t i = 0; i < m_head.clrUsed; ++i) {
        palette[i].blue = uint8_t((percent * c.blue + palette[i].blue * (100 - percent)) / 100);
        palette[i].green = uint8_t((percent * c.green + palette[i].green * (100 - percent)) / 100);
        palette[i].red = uint8_t((percent * c.red + palette[i].red * (100 - percent)) / 100);
    }
}

void PxImage::SwapIndex(uint8_t a, uint8_t b)
{
    if (!GetPalette())
        return;
    const RGBQuad ca = GetPaletteColor(a), cb = GetPaletteColor(b);
    SetPaletteColor(a, cb);
    SetPaletteColor(b, ca);
    for (int32_t y = 0; y < m_head.height; ++y)
        for (int32_t x = 0; x < m_head.width; ++x) {
            const uint8_t v = GetPixelIndexUnchecked(x, y);
            if (v == a)
                SetPixelIndexUnchecked(x, y, b);
            else if (v == b)
                SetPixelIndexUnchecked(x, y, a);
        }
}

void PxImage::SwapRedBlue()
{
    if (!m_block)
        return;
    if (RGBQuad* palette = GetPalette()) {
        for (uint32_t i = 0; i < m_head.clrUsed; ++i) {
            const uint8_t t = palette[i].blue;
            palette[i].blue = palette[i].red;
            palette[i].red = t;
        }
        return;
    }
    if (m_head.bitCount != 24)
        return;
    for (int32_t y = 0; y < m_head.height; ++y)
        SwapRedBlueInBuffer(GetRow(y), m_info.rowSize);
}

void PxImage::SwapRedBlueInBuffer(uint8_t* buffer, uint32_t length) const
{
    if (!buffer || m_head.clrUsed)
        return;
    uint64_t n = length;
    if (n > m_info.rowSize)
        n = m_info.rowSize;
    if (n > 3 * uint64_t(uint32_t(m_head.width)))
        n = 3 * uint64_t(uint32_t(m_head.width));
    for (uint64_t i = 0; i + 2 < n; i += 3) {
        const uint8_t t = buffer[i];
        buffer[i] = buffer[i + 2];
        buffer[i + 2] = t;
    }
}

void PxImage::SetImportantColorCount(uint32_t count)
{
    if (count < 1 || count > 256)
        count = 0;
    switch (m_head.bitCount) {
    case 1:
        m_head.clrImportant = count >= 2 ? 2 : count;
        break;
    case 4:
        m_head.clrImportant = count >= 16 ? 16 : count;
        break;
    case 8:
        m_head.clrImportant = count;
        break;
    default:
        return;
    }
}

uint8_t PxImage::GetNearestIndex(RGBQuad c) const
{
    const RGBQuad* palette = GetPalette();
    if (!palette)
        return 0;
    uint32_t n = m_head.clrUsed;
    if (m_head.clrImportant && m_head.clrImportant < n)
        n = m_head.clrImportant;
    uint32_t best = 200000;
    uint8_t found = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t d = Distance(palette[i], c);
        if (d == 0)
            return uint8_t(i);
        if (d < best) {
            best = d;
            found = uint8_t(i);
        }
    }
    return found;
}

uint8_t PxImage::GetNearestIndex(RGBQuad c, PxNearestCache& cache) const
{
    const uint32_t packed = PxPack(c);
    if (cache.valid && cache.colour == packed)
        return cache.index;
    cache.index = GetNearestIndex(c);
    cache.colour = packed;
    cache.valid = true;
    return cache.index;
}

// ---- pixels ----

uint8_t PxImage::GetPixelIndexUnchecked(int32_t x, int32_t y) const
{
    const uint8_t* row = GetBits() + uint64_t(y) * m_info.rowSize;
    switch (m_head.bitCount) {
    case 8:
        return row[x];
    case 4:
        return (x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4;
    case 1:
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
    default:
        return 0;
    }
}

uint8_t PxImage::GetPixelIndex(int32_t x, int32_t y) const
{
    if (!m_block || !m_head.clrUsed)
        return 0;
    if (!IsInsideImage(x, y)) {
        if (m_info.backgroundIndex >= 0)
            return uint8_t(m_info.backgroundIndex);
        return *GetBits();
    }
    return GetPixelIndexUnchecked(x, y);
}

void PxImage::SetPixelIndexUnchecked(int32_t x, int32_t y, uint8_t index)
{
    uint8_t* row = GetBits() + uint64_t(y) * m_info.rowSize;
    switch (m_head.bitCount) {
    case 8:
        row[x] = index;
        break;
    case 4: {
        uint8_t& b = row[x >> 1];
        b = (x & 1) ? uint8_t((b & 0xF0) | (index & 15)) : uint8_t((b & 0x0F) | (index & 15) << 4);
        break;
    }
    case 1: {
        const uint8_t bit = uint8_t(0x80 >> (x & 7));
        uint8_t& b = row[x >> 3];
        b = (index & 1) ? (b | bit) : (b & uint8_t(~bit));
        break;
    }
    default:
        break;
    }
}

void PxImage::SetPixelIndex(int32_t x, int32_t y, uint8_t index)
{
    if (!m_block || !m_head.clrUsed || !IsInsideImage(x, y))
        return;
    SetPixelIndexUnchecked(x, y, index);
}

RGBQuad PxImage::GetPixelColorUnchecked(int32_t x, int32_t y, bool withAlpha) const
{
    RGBQuad c;
    if (m_head.clrUsed) {
        c = GetPaletteColor(GetPixelIndexUnchecked(x, y));
    } else {
        const uint8_t* p = GetBits() + uint64_t(y) * m_info.rowSize + 3 * uint64_t(x);
        c = RGBQuad{p[0], p[1], p[2], 255};
    }
    if (withAlpha && m_alpha)
        c.alpha = m_alpha[uint64_t(y) * uint32_t(m_head.width) + uint32_t(x)];
    return c;
}

RGBQuad PxImage::GetPixelColor(int32_t x, int32_t y, bool withAlpha) const
{
    if (!m_block || !IsInsideImage(x, y)) {
        if (m_info.backgroundIndex >= 0 && m_head.bitCount < 24) {
            if (uint32_t(m_info.backgroundIndex) >= m_head.clrUsed)
                return RGBQuad{0, 0, 0, 0};
            return GetPaletteColor(uint8_t(m_info.backgroundIndex));
        }
        if (m_info.backgroundIndex < 0 && m_block)
            return GetPixelColorUnchecked(0, 0, true);
        return m_info.backgroundColor;
    }
    RGBQuad c = GetPixelColorUnchecked(x, y, false);
    if (!m_head.clrUsed)
        c.alpha = m_info.backgroundColor.alpha;
    if (withAlpha && m_alpha)
        c.alpha = m_alpha[uint64_t(y) * uint32_t(m_head.width) + uint32_t(x)];
    return c;
}

uint8_t PxImage::GetPixelGray(int32_t x, int32_t y) const
{
    const RGBQuad c = GetPixelColor(x, y, true);
    return uint8_t((117 * c.blue + 601 * c.green + 306 * c.red) >> 10);
}

void PxImage::SetPixelColorUnchecked(int32_t x, int32_t y, RGBQuad c, bool setAlpha)
{
    if (m_head.clrUsed) {
        SetPixelIndexUnchecked(x, y, GetNearestIndex(c));
    } else {
        uint8_t* p = GetBits() + uint64_t(y) * m_info.rowSize + 3 * uint64_t(x);
        p[0] = c.blue;
        p[1] = c.green;
        p[2] = c.red;
    }
    if (setAlpha)
        AlphaSet(x, y, c.alpha);
}

void PxImage::SetPixelColor(int32_t x, int32_t y, RGBQuad c, bool setAlpha)
{
    if (!m_block || !IsInsideImage(x, y))
        return;
    SetPixelColorUnchecked(x, y, c, setAlpha);
}

void PxImage::SetPixelColor(int32_t x, int32_t y, ColorRef colour)
{
    SetPixelColor(x, y, RGBQuadFromColorRef(colour), false);
}

void PxImage::SetPixelColor(int32_t x, int32_t y, RGBQuad c, PxNearestCache& cache, bool setAlpha)
{
    if (!m_block || !IsInsideImage(x, y))
        return;
    if (m_head.clrUsed) {
        SetPixelIndexUnchecked(x, y, GetNearestIndex(c, cache));
        if (setAlpha)
            AlphaSet(x, y, c.alpha);
        return;
    }
    SetPixelColorUnchecked(x, y, c, setAlpha);
}

void PxImage::BlendPixelColor(int32_t x, int32_t y, RGBQuad c, float blend, bool setAlpha)
{
    if (!m_block || !IsInsideImage(x, y))
        return;
    float f = blend * 256.0f;
    if (!(f > 0))
        f = 0;
    if (f > 256)
        f = 256;
    const int a0 = int(f), a1 = 256 - a0;
    const RGBQuad old = GetPixelColorUnchecked(x, y);
    RGBQuad out = c;
    out.blue = uint8_t((c.blue * a0 + old.blue * a1) >> 8);
    out.green = uint8_t((c.green * a0 + old.green * a1) >> 8);
    out.red = uint8_t((c.red * a0 + old.red * a1) >> 8);
    if (m_head.clrUsed) {
        SetPixelIndexUnchecked(x, y, GetNearestIndex(out));
        return;
    }
    SetPixelColorUnchecked(x, y, out, setAlpha);
}

uint8_t* PxImage::GetPixelPointer(int32_t x, int32_t y) const
{
    if (!m_block || m_head.clrUsed)
        return nullptr;
    return GetBits() + uint64_t(y) * m_info.rowSize + 3 * uint64_t(x);
}

bool PxImage::IsTransparent(int32_t x, int32_t y) const
{
    if (!m_block)
        return false;
    if (m_info.backgroundIndex >= 0) {
        if (m_head.clrUsed) {
            if (GetPixelIndex(x, y) == m_info.backgroundIndex)
                return true;
        } else if (PxPack(GetPixelColor(x, y, false)) == PxPack(m_info.backgroundColor)) {
            return true;
        }
    }
    return m_alpha && AlphaGet(x, y) == 0;
}

bool PxImage::GetTransparentMask(PxImage* destination)
{
    if (!m_block)
        return false;
    PxImage mask(0);
    if (!mask.Create(m_head.width, m_head.height, 1, m_info.type)) {
        SetLastError(mask.GetLastError());
        return false;
    }
    mask.SetStandardPalette();
    mask.Clear(0);
    for (int32_t y = 0; y < m_head.height; ++y)
        for (int32_t x = 0; x < m_head.width; ++x)
            if (IsTransparent(x, y))
                mask.SetPixelIndexUnchecked(x, y, 1);
    return HandOver(mask, destination);
}
