// Flips and mirrors.
#include <algorithm>
#include <cstring>
#include <vector>

#include "image/PxImage.h"

bool PxImage::FlipRows(bool withSelection, bool withAlpha)
{
    if (!m_block)
        return false;
    const uint32_t rowSize = m_info.rowSize;
    std::vector<uint8_t> buffer(rowSize);
    for (int32_t k = 0; k < m_head.height / 2; ++k) {
        uint8_t* a = GetRow(k);
        uint8_t* b = GetRow(m_head.height - 1 - k);
        memcpy(buffer.data(), a, rowSize);
        memcpy(a, b, rowSize);
        memcpy(b, buffer.data(), rowSize);
    }
    if (withSelection && m_selection)
        SelectionFlip();
    if (withAlpha && m_alpha)
        AlphaFlip();
    return true;
}

bool PxImage::MirrorColumns(bool withSelection, bool withAlpha)
{
    if (!m_block)
        return false;
    const int32_t w = m_head.width, h = m_head.height;
    PxImage mirrored(0);
    if (!MakeLike(mirrored, w, h, m_head.bitCount))
        return false;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* in = GetRow(y);
        uint8_t* out = mirrored.GetRow(y);
        switch (m_head.bitCount) {
        case 24:
            for (int32_t x = 0; x < w; ++x) {
                const uint8_t* p = in + 3 * size_t(w - 1 - x);
                out[3 * size_t(x)] = p[0];
                out[3 * size_t(x) + 1] = p[1];
                out[3 * size_t(x) + 2] = p[2];
            }
            break;
        case 8:
            for (int32_t x = 0; x < w; ++x)
                out[x] = in[w - 1 - x];
            break;
        default:
            for (int32_t x = 0; x < w; ++x)
                mirrored.SetPixelIndexUnchecked(x, y, GetPixelIndexUnchecked(w - 1 - x, y));
            break;
        }
    }
    if (m_selection && mirrored.SelectionCopy(*this) && withSelection)
        mirrored.SelectionMirror();
    if (m_alpha && mirrored.AlphaCopy(*this) && withAlpha)
        mirrored.AlphaMirror();
    return HandOver(mirrored, nullptr);
}

namespace {

// Copies one pixel between images of the same depth: indices for palette images, the three
// colour bytes otherwise.
inline void CopyPixel(const PxImage& from, int32_t fx, int32_t fy, PxImage& to, int32_t tx, int32_t ty)
{
    if (from.GetNumColors()) {
        to.SetPixelIndexUnchecked(tx, ty, from.GetPixelIndexUnchecked(fx, fy));
        return;
    }
    const uint8_t* p = from.GetPixelPointer(fx, fy);
    uint8_t* q = to.GetPixelPointer(tx, ty);
    q[0] = p[0];
    q[1] = p[1];
    q[2] = p[2];
}

} // namespace

// Target (x, y) = source (y, H - 1 - x) for a left turn, source (W - 1 - y, x) for a right one;
// the work goes in 64 x 64 tiles of the target so that both images are walked in small blocks.
bool PxImage::RotateQuarter(bool left, PxImage* destination)
{
    if (!m_block)
        return false;
    const int32_t w = m_head.width, h = m_head.height;
    PxImage turned(0);
    if (!MakeLike(turned, h, w, m_head.bitCount, "RotateQuarter"))
        return false;
    if (m_selection && !turned.SelectionCreate()) {
        SetLastError("PxImage::RotateQuarter can't allocate memory");
        return false;
    }
    const int32_t tw = h, th = w;
    for (int32_t ty0 = 0; ty0 < th; ty0 += 64) {
        if (GetEscape())
            return false;
        for (int32_t tx0 = 0; tx0 < tw; tx0 += 64) {
            const int32_t ty1 = std::min(ty0 + 64, th), tx1 = std::min(tx0 + 64, tw);
            for (int32_t ty = ty0; ty < ty1; ++ty)
                for (int32_t tx = tx0; tx < tx1; ++tx) {
                    const int32_t sx = left ? ty : w - 1 - ty;
                    const int32_t sy = left ? h - 1 - tx : tx;
                    CopyPixel(*this, sx, sy, turned, tx, ty);
                    if (m_alpha)
                        turned.m_alpha[uint64_t(ty) * uint32_t(tw) + uint32_t(tx)] =
                            m_alpha[uint64_t(sy) * uint32_t(w) + uint32_t(sx)];
                    if (m_selection)
                        turned.m_selection[uint64_t(ty) * uint32_t(tw) + uint32_t(tx)] =
                            m_selection[uint64_t(sy) * uint32_t(w) + uint32_t(sx)];
                }
        }
        SetProgress(int32_t(int64_t(ty0) * 100 / th));
    }
    if (m_selection)
        turned.SelectionRebuildBox();
    turned.m_info.xDpi = m_info.yDpi;
    turned.m_info.yDpi = m_info.xDpi;
    turned.m_head.xPelsPerMeter = m_head.yPelsPerMeter;
    turned.m_head.yPelsPerMeter = m_head.xPelsPerMeter;
    return HandOver(turned, destination);
}

bool PxImage::RotateQuarterLeft(PxImage* destination)
{
    return RotateQuarter(true, destination);
}

bool PxImage::RotateQuarterRight(PxImage* destination)
{
    return RotateQuarter(false, destination);
}

bool PxImage::RotateHalf(PxImage* destination)
{
    if (!m_block)
        return false;
    const int32_t w = m_head.width, h = m_head.height;
    PxImage turned(0);
    if (!MakeLike(turned, w, h, m_head.bitCount, "RotateHalf"))
        return false;
    for (int32_t y = 0; y < h; ++y) {
        if (GetEscape())
            return false;
        for (int32_t x = 0; x < w; ++x) {
            CopyPixel(*this, x, y, turned, w - 1 - x, h - 1 - y);
            if (m_alpha)
                turned.m_alpha[uint64_t(h - 1 - y) * uint32_t(w) + uint32_t(w - 1 - x)] =
                    m_alpha[uint64_t(y) * uint32_t(w) + uint32_t(x)];
        }
        SetProgress(int32_t(int64_t(y) * 100 / h));
    }
    return HandOver(turned, destination);
}

bool PxImage::ApplyOrientation(int32_t code)
{
    if (code <= 0)
        code = m_info.exif.orientation;
    bool ok = true;
    switch (code) {
    case 3:
        ok = RotateHalf(nullptr);
        break;
    case 5:
    case 8:
        ok = RotateQuarterLeft(nullptr);
        break;
    case 6:
        ok = RotateQuarterRight(nullptr);
        break;
    default:
        break;
    }
    if (ok)
        m_info.exif.orientation = 1;
    return ok;
}

bool PxImage::Negative()
{
    if (!m_block)
        return false;
    const uint32_t w = uint32_t(m_head.width);
    const PxRect box = m_info.selectionBox;
    const auto selected = [&](int32_t x, int32_t y) { return m_selection[uint64_t(y) * w + uint32_t(x)] != 0; };
    if (m_head.bitCount > 8) {
        if (m_selection) {
            for (int32_t y = box.bottom < 0 ? 0 : box.bottom; y < box.top && y < m_head.height; ++y) {
                uint8_t* row = GetRow(y);
                for (int32_t x = box.left < 0 ? 0 : box.left; x < box.right && x < m_head.width; ++x)
                    if (selected(x, y))
                        for (int k = 0; k < 3; ++k)
                            row[3 * x + k] = uint8_t(~row[3 * x + k]);
            }
        } else {
            uint8_t* bits = GetBits();
            for (uint64_t i = 0; i < m_head.sizeImage; ++i)
                bits[i] = uint8_t(~bits[i]);
        }
        RGBQuad& b = m_info.backgroundColor;
        b = RGBQuad{uint8_t(~b.blue), uint8_t(~b.green), uint8_t(~b.red), b.alpha};
        return true;
    }
    if (!IsGrayScale()) {
        RGBQuad* palette = GetPalette();
        for (uint32_t i = 0; palette && i < m_head.clrUsed; ++i)
            palette[i] = RGBQuad{uint8_t(~palette[i].blue), uint8_t(~palette[i].green), uint8_t(~palette[i].red),
                                 palette[i].alpha};
        return true;
    }
    if (m_selection) {
        const uint8_t top = uint8_t((1u << m_head.bitCount) - 1);
        for (int32_t y = box.bottom < 0 ? 0 : box.bottom; y < box.top && y < m_head.height; ++y)
            for (int32_t x = box.left < 0 ? 0 : box.left; x < box.right && x < m_head.width; ++x)
                if (selected(x, y))
                    SetPixelIndexUnchecked(x, y, uint8_t(top - GetPixelIndexUnchecked(x, y)));
    } else {
        uint8_t* bits = GetBits();
        for (uint64_t i = 0; i < m_head.sizeImage; ++i)
            bits[i] = uint8_t(~bits[i]);
    }
    return true;
}
