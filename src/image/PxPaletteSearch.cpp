#include "image/PxPaletteSearch.h"

#include <algorithm>

namespace {

inline int32_t Square(int32_t v)
{
    return v * v;
}

// From a value to the nearest point of [low, high], and to the farthest.
inline int32_t NearGap(int32_t v, int32_t low, int32_t high)
{
    return v < low ? low - v : v > high ? v - high : 0;
}

inline int32_t FarGap(int32_t v, int32_t low, int32_t high)
{
    return std::max(v - low, high - v);
}

} // namespace

PxPaletteSearch::PxPaletteSearch(const PxImage& image)
{
    const RGBQuad* palette = image.GetPalette();
    if (!palette)
        return;
    m_count = image.GetNumColors();
    if (image.GetImportantColorCount() && image.GetImportantColorCount() < m_count)
        m_count = image.GetImportantColorCount();
    std::copy(palette, palette + m_count, m_entries);
    m_cellStart.assign(kLevels * kLevels * kLevels, -1);
    m_cellLength.assign(kLevels * kLevels * kLevels, 0);
}

// An entry can be the nearest to some colour of the cell only when its distance to the cell
// is no more than the smallest distance within which some entry reaches the whole cell.
// Ties are kept, and the list keeps index order, so the lowest index still wins.
void PxPaletteSearch::BuildCell(uint32_t cell)
{
    const int32_t lowB = int32_t(cell % kLevels * kCellWidth), lowG = int32_t(cell / kLevels % kLevels * kCellWidth),
                  lowR = int32_t(cell / (kLevels * kLevels) * kCellWidth);
    const int32_t span = int32_t(kCellWidth) - 1;
    int32_t bound = INT32_MAX;
    for (uint32_t i = 0; i < m_count; ++i) {
        const RGBQuad& e = m_entries[i];
        bound = std::min(bound, Square(FarGap(e.blue, lowB, lowB + span)) + Square(FarGap(e.green, lowG, lowG + span)) +
                                    Square(FarGap(e.red, lowR, lowR + span)));
    }
    m_cellStart[cell] = int32_t(m_candidates.size());
    for (uint32_t i = 0; i < m_count; ++i) {
        const RGBQuad& e = m_entries[i];
        const int32_t near = Square(NearGap(e.blue, lowB, lowB + span)) + Square(NearGap(e.green, lowG, lowG + span)) +
                             Square(NearGap(e.red, lowR, lowR + span));
        if (near <= bound)
            m_candidates.push_back(uint8_t(i));
    }
    m_cellLength[cell] = uint16_t(m_candidates.size() - size_t(m_cellStart[cell]));
}

uint8_t PxPaletteSearch::Find(RGBQuad c)
{
    if (!m_count)
        return 0;
    const uint32_t packed = PxPack(c) & 0xFFFFFF;
    if (m_last.valid && m_last.colour == packed)
        return m_last.index;
    const uint32_t cell = c.blue / kCellWidth + kLevels * (c.green / kCellWidth + kLevels * (c.red / kCellWidth));
    if (m_cellStart[cell] < 0)
        BuildCell(cell);
    const uint8_t* list = m_candidates.data() + m_cellStart[cell];
    const uint32_t n = m_cellLength[cell];
    int32_t best = INT32_MAX;
    uint8_t found = 0;
    for (uint32_t k = 0; k < n; ++k) {
        const RGBQuad& e = m_entries[list[k]];
        const int32_t d =
            Square(int32_t(e.blue) - c.blue) + Square(int32_t(e.green) - c.green) + Square(int32_t(e.red) - c.red);
        if (d < best) {
            best = d;
            found = list[k];
            if (d == 0)
                break;
        }
    }
    m_last.colour = packed;
    m_last.index = found;
    m_last.valid = true;
    return found;
}
