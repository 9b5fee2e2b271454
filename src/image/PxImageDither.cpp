// Reducing an image to black and white through its grey levels: six error-diffusion methods
// and four ordered ones.
#include <algorithm>
#include <vector>

#include "image/PxImage.h"

namespace {

struct Spread {
    int8_t dx;
    int8_t dy;
    int16_t weight;
};

struct Diffusion {
    int32_t divisor;
    std::vector<Spread> spreads;
};

const Diffusion& DiffusionOf(uint32_t method)
{
    static const Diffusion floyd{16, {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}}};
    static const Diffusion burkes{32, {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2}}};
    static const Diffusion stucki{42,
                                  {{1, 0, 8},
                                   {2, 0, 4},
                                   {-2, 1, 2},
                                   {-1, 1, 4},
                                   {0, 1, 8},
                                   {1, 1, 4},
                                   {2, 1, 2},
                                   {-2, 2, 1},
                                   {-1, 2, 2},
                                   {0, 2, 4},
                                   {1, 2, 2},
                                   {2, 2, 1}}};
    static const Diffusion jarvis{48,
                                  {{1, 0, 7},
                                   {2, 0, 5},
                                   {-2, 1, 3},
                                   {-1, 1, 5},
                                   {0, 1, 7},
                                   {1, 1, 5},
                                   {2, 1, 3},
                                   {-2, 2, 1},
                                   {-1, 2, 3},
                                   {0, 2, 5},
                                   {1, 2, 3},
                                   {2, 2, 1}}};
    static const Diffusion sierra{32,
                                  {{1, 0, 5},
                                   {2, 0, 3},
                                   {-2, 1, 2},
                                   {-1, 1, 4},
                                   {0, 1, 5},
                                   {1, 1, 4},
                                   {2, 1, 2},
                                   {-1, 2, 2},
                                   {0, 2, 3},
                                   {1, 2, 2}}};
    static const Diffusion stevenson{200,
                                     {{2, 0, 32},
                                      {-3, 1, 12},
                                      {-1, 1, 26},
                                      {1, 1, 30},
                                      {3, 1, 16},
                                      {-2, 2, 12},
                                      {0, 2, 26},
                                      {2, 2, 12},
                                      {-3, 3, 5},
                                      {-1, 3, 12},
                                      {1, 3, 12},
                                      {3, 3, 5}}};
    switch (method) {
    case 2:
        return burkes;
    case 3:
        return stucki;
    case 4:
        return jarvis;
    case 5:
        return sierra;
    case 6:
        return stevenson;
    default:
        return floyd;
    }
}

const uint8_t kBayer4[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

const uint8_t kBayer8[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},    {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},   {63, 31, 55, 23, 61, 29, 53, 21},
};

const uint8_t kThreshold16[16][16] = {
    {1, 235, 59, 219, 15, 231, 55, 215, 2, 232, 56, 216, 12, 228, 52, 212},
    {129, 65, 187, 123, 143, 79, 183, 119, 130, 66, 184, 120, 140, 76, 180, 116},
    {33, 193, 17, 251, 47, 207, 31, 247, 34, 194, 18, 248, 44, 204, 28, 244},
    {161, 97, 145, 81, 175, 111, 159, 95, 162, 98, 146, 82, 172, 108, 156, 92},
    {9, 225, 49, 209, 5, 239, 63, 223, 10, 226, 50, 210, 6, 236, 60, 220},
    {137, 73, 177, 113, 133, 69, 191, 127, 138, 74, 178, 114, 134, 70, 188, 124},
    {41, 201, 25, 241, 37, 197, 21, 255, 42, 202, 26, 242, 38, 198, 22, 252},
    {169, 105, 153, 89, 165, 101, 149, 85, 170, 106, 154, 90, 166, 102, 150, 86},
    {3, 233, 57, 217, 13, 229, 53, 213, 0, 234, 58, 218, 14, 230, 54, 214},
    {131, 67, 185, 121, 141, 77, 181, 117, 128, 64, 186, 122, 142, 78, 182, 118},
    {35, 195, 19, 249, 45, 205, 29, 245, 32, 192, 16, 250, 46, 206, 30, 246},
    {163, 99, 147, 83, 173, 109, 157, 93, 160, 96, 144, 80, 174, 110, 158, 94},
    {11, 227, 51, 211, 7, 237, 61, 221, 8, 224, 48, 208, 4, 238, 62, 222},
    {139, 75, 179, 115, 135, 71, 189, 125, 136, 72, 176, 112, 132, 68, 190, 126},
    {43, 203, 27, 243, 39, 199, 23, 253, 40, 200, 24, 240, 36, 196, 20, 254},
    {171, 107, 155, 91, 167, 103, 151, 87, 168, 104, 152, 88, 164, 100, 148, 84},
};

// The 4 x 4 ordered table built bit by bit from the column and row of each entry.
void ComputedBayer4(uint8_t table[16])
{
    for (uint32_t i = 0; i < 16; ++i) {
        uint32_t x = i / 4, y = i % 4, d = 0;
        for (int step = 0; step < 4; ++step) {
            d = ((d * 2 + ((x & 1) ^ (y & 1))) * 2) + (y & 1);
            x >>= 1;
            y >>= 1;
        }
        table[i] = uint8_t(d);
    }
}

bool Ordered(uint32_t method, uint32_t v, int32_t x, int32_t y, const uint8_t computed[16])
{
    switch (method) {
    case 1: {
        const uint32_t level = ((v * 526352) >> 23) % 16;
        return v == 255 || kBayer4[y % 4][x % 4] < level;
    }
    case 7:
        return computed[x % 4 + 4 * (y % 4)] < v;
    case 8:
        return (v & 0xFC) != 0 && (v >> 2) >= kBayer8[x % 8][y % 8];
    default:
        return kThreshold16[x % 16][y % 16] < v;
    }
}

} // namespace

// The grey levels are worked on in a ring of four row buffers (the deepest spread reaches three
// rows down), not in the image, so that a failure or a cancel leaves the image as it was.
bool PxImage::DitherTo1Bit(uint32_t method)
{
    if (!m_block)
        return false;
    if (m_head.bitCount == 1)
        return true;
    if (method > 9)
        method = 0;
    const int32_t w = m_head.width, h = m_head.height;
    PxImage target(0);
    if (!MakeTemporary(target, w, h, 1, m_info.type))
        return false;
    if (m_selection)
        target.SelectionCopy(*this);
    if (m_alpha)
        target.AlphaCopy(*this);
    uint8_t levels[256] = {};
    const RGBQuad* palette = GetPalette();
    for (uint32_t i = 0; palette && i < m_head.clrUsed; ++i)
        levels[i] = PxGrayLevel(palette[i].blue, palette[i].green, palette[i].red);
    std::vector<uint8_t> ring[4];
    for (std::vector<uint8_t>& row : ring)
        row.resize(size_t(w));
    const auto load = [&](int32_t y) {
        std::vector<uint8_t>& row = ring[y & 3];
        const uint8_t* in = GetRow(y);
        for (int32_t x = 0; x < w; ++x)
            row[size_t(x)] =
                palette ? levels[GetPixelIndexUnchecked(x, y)] : PxGrayLevel(in[3 * x], in[3 * x + 1], in[3 * x + 2]);
    };
    const bool diffusing = method == 0 || (method >= 2 && method <= 6);
    const Diffusion& diffusion = DiffusionOf(method);
    uint8_t computed[16];
    ComputedBayer4(computed);
    int32_t loaded = -1;
    for (int32_t y = 0; y < h; ++y) {
        SetProgress(int32_t(int64_t(y) * 100 / h));
        if (GetEscape()) {
            SetLastError("Cancelled");
            return false;
        }
        const int32_t reach = diffusing ? std::min(y + 3, h - 1) : y;
        while (loaded < reach)
            load(++loaded);
        std::vector<uint8_t>& row = ring[y & 3];
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t v = row[size_t(x)];
            if (!diffusing) {
                target.SetPixelIndexUnchecked(x, y, Ordered(method, v, x, y, computed) ? 1 : 0);
                continue;
            }
            const bool white = v >= 129;
            target.SetPixelIndexUnchecked(x, y, white ? 1 : 0);
            const int32_t e = white ? int32_t(v) - 255 : int32_t(v);
            for (const Spread& s : diffusion.spreads) {
                const int32_t nx = x + s.dx, ny = y + s.dy;
                if (nx < 0 || nx >= w || ny >= h)
                    continue;
                uint8_t& n = ring[ny & 3][size_t(nx)];
                const int32_t sum = int32_t(n) + s.weight * e / diffusion.divisor;
                n = uint8_t(sum < 0 ? 0 : sum > 255 ? 255 : sum);
            }
        }
    }
    target.SetPaletteColor(0, uint8_t(0), uint8_t(0), uint8_t(0), uint8_t(0));
    target.SetPaletteColor(1, uint8_t(255), uint8_t(255), uint8_t(255), uint8_t(0));
    return HandOver(target, nullptr);
}
