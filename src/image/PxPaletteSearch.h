// The nearest palette entry for many colours at once: the same answer as
// PxImage::GetNearestIndex (the lowest index at the smallest distance among the searched
// entries) from a short list of candidates per cell of the colour cube. Internal.
#pragma once

#include <cstdint>
#include <vector>

#include "image/PxImage.h"

class PxPaletteSearch {
public:
    // Searches the entries the image's own search would: its important ones, else all.
    explicit PxPaletteSearch(const PxImage& image);
    uint8_t Find(RGBQuad colour);

private:
    // 16 levels a channel: cells 16 wide, their lists made when first asked for.
    static constexpr uint32_t kLevels = 16;
    static constexpr uint32_t kCellWidth = 256 / kLevels;
    void BuildCell(uint32_t cell);

    RGBQuad m_entries[256] = {};
    uint32_t m_count = 0;
    std::vector<int32_t> m_cellStart; // -1: not built yet
    std::vector<uint16_t> m_cellLength;
    std::vector<uint8_t> m_candidates;
    PxNearestCache m_last;
};
