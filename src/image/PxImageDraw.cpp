// Lines of single pixels and filled rectangles.
#include <cstring>
#include <vector>

#include "image/PxImage.h"

namespace {

// Integer Bresenham. The step on the minor axis after i steps on the major one is
// (den / 2 + i * add) / den, so only the steps whose major coordinate lies inside the image
// are walked: a line from far outside costs nothing.
template <typename Plot>
void Bresenham(int32_t startX, int32_t endX, int32_t startY, int32_t endY, int32_t width, int32_t height, Plot plot)
{
    const int64_t dx = endX >= startX ? int64_t(endX) - startX : int64_t(startX) - endX;
    const int64_t dy = endY >= startY ? int64_t(endY) - startY : int64_t(startY) - endY;
    const int64_t sx = endX >= startX ? 1 : -1, sy = endY >= startY ? 1 : -1;
    const bool xMajor = dx >= dy;
    const int64_t den = xMajor ? dx : dy, add = xMajor ? dy : dx;
    const int64_t majorStart = xMajor ? startX : startY, majorStep = xMajor ? sx : sy;
    const int64_t minorStart = xMajor ? startY : startX, minorStep = xMajor ? sy : sx;
    const int64_t majorSize = xMajor ? width : height;
    // The steps i in [first, last] whose major coordinate majorStart + majorStep * i is in range.
    int64_t first, last;
    if (majorStep > 0) {
        first = -majorStart;
        last = majorSize - 1 - majorStart;
    } else {
        first = majorStart - (majorSize - 1);
        last = majorStart;
    }
    if (first < 0)
        first = 0;
    if (last > den)
        last = den;
    for (int64_t i = first; i <= last; ++i) {
        const int64_t steps =
            den ? int64_t((static_cast<unsigned __int128>(den / 2) + static_cast<unsigned __int128>(i) * add) / den)
                : 0;
        const int64_t major = majorStart + majorStep * i, minor = minorStart + minorStep * steps;
        if (minor < INT32_MIN || minor > INT32_MAX)
            continue;
        if (xMajor)
            plot(int32_t(major), int32_t(minor));
        else
            plot(int32_t(minor), int32_t(major));
    }
}

int32_t Clamp(int32_t v, int32_t low, int32_t high)
{
    return v < low ? low : v > high ? high : v;
}

} // namespace

void PxImage::DrawLine(int32_t startX, int32_t endX, int32_t startY, int32_t endY, ColorRef colour)
{
    if (!m_block)
        return;
    const RGBQuad c = RGBQuadFromColorRef(colour);
    Bresenham(startX, endX, startY, endY, m_head.width, m_head.height,
              [&](int32_t x, int32_t y) { SetPixelColor(x, y, c, false); });
}

void PxImage::DrawLine(int32_t startX, int32_t endX, int32_t startY, int32_t endY, RGBQuad colour, bool setAlpha)
{
    if (!m_block)
        return;
    Bresenham(startX, endX, startY, endY, m_head.width, m_head.height,
              [&](int32_t x, int32_t y) { SetPixelColor(x, y, colour, setAlpha); });
}

bool PxImage::FillRect(const PxRect& rect, RGBQuad colour, bool setAlpha)
{
    return FillRect(rect.left, rect.top, rect.right, rect.bottom, colour, setAlpha);
}

bool PxImage::FillRect(int32_t left, int32_t top, int32_t right, int32_t bottom, RGBQuad colour, bool setAlpha)
{
    if (!m_block)
        return false;
    const int32_t w = m_head.width, h = m_head.height;
    left = Clamp(left, 0, w);
    right = Clamp(right, 0, w);
    top = Clamp(top, 0, h);
    bottom = Clamp(bottom, 0, h);
    if (left == right || top == bottom)
        return true;
    const int32_t x0 = left < right ? left : right, x1 = left < right ? right : left;
    const int32_t firstRow = h - (top > bottom ? top : bottom), endRow = h - (top < bottom ? top : bottom);
    const int32_t rows = endRow - firstRow;
    const uint8_t index = GetNearestIndex(colour);
    std::vector<uint8_t> segment;
    if (m_head.bitCount == 24) {
        segment.resize(size_t(x1 - x0) * 3);
        for (int32_t i = 0; i < x1 - x0; ++i) {
            segment[3 * size_t(i)] = colour.blue;
            segment[3 * size_t(i) + 1] = colour.green;
            segment[3 * size_t(i) + 2] = colour.red;
        }
    }
    for (int32_t y = firstRow; y < endRow; ++y) {
        uint8_t* row = GetRow(y);
        switch (m_head.bitCount) {
        case 1:
        case 4:
            for (int32_t x = x0; x < x1; ++x)
                SetPixelIndexUnchecked(x, y, index);
            break;
        case 8:
            memset(row + x0, index, size_t(x1 - x0));
            break;
        case 24:
            memcpy(row + 3 * size_t(x0), segment.data(), segment.size());
            break;
        default:
            break;
        }
        SetProgress(int32_t(int64_t(y - firstRow) * 100 / rows));
    }
    if (setAlpha) {
        if (!AlphaCreate())
            return false;
        for (int32_t y = firstRow; y < endRow; ++y)
            memset(m_alpha + uint64_t(y) * uint32_t(w) + uint32_t(x0), colour.alpha, size_t(x1 - x0));
    }
    return true;
}
