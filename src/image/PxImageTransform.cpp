// Flips and mirrors.
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
    if (!MakeTemporary(mirrored, w, h, m_head.bitCount, m_info.type))
        return false;
    mirrored.SetPalette(GetPalette(), 256);
    mirrored.m_head.clrImportant = m_head.clrImportant;
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
