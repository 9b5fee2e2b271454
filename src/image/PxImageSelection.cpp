// The selection: one byte a pixel saying how strongly it is selected, with the box of the
// non-zero part (columns left .. right - 1, stored rows bottom .. top - 1).
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/PxImage.h"

namespace {

int32_t Clamp(int64_t v, int32_t low, int32_t high)
{
    return v < low ? low : v > high ? high : int32_t(v);
}

// Toward zero, kept within a range where a later sum cannot overflow.
int64_t Truncate(double v)
{
    if (!(v > -1e15))
        return int64_t(-1e15);
    if (v > 1e15)
        return int64_t(1e15);
    return int64_t(v);
}

} // namespace

bool PxImage::SelectionFill(uint8_t level)
{
    if (!m_selection)
        return false;
    memset(m_selection, level, size_t(PixelCount()));
    if (level)
        m_info.selectionBox = PxRect{0, m_head.height, m_head.width, 0};
    else
        ResetSelectionBox();
    return true;
}

bool PxImage::SelectionCreate()
{
    if (m_ghost)
        return false;
    SelectionDelete();
    const size_t n = size_t(PixelCount());
    m_selection = static_cast<uint8_t*>(calloc(n ? n : 1, 1));
    return m_selection != nullptr;
}

bool PxImage::SelectionDelete()
{
    if (!m_ghost)
        free(m_selection);
    m_selection = nullptr;
    ResetSelectionBox();
    return true;
}

bool PxImage::SelectionIsInside(int32_t x, int32_t y) const
{
    if (!IsInsideImage(x, y))
        return false;
    return !m_selection || m_selection[uint64_t(y) * uint32_t(m_head.width) + uint32_t(x)] != 0;
}

bool PxImage::SelectionIsInsideFast(int32_t x, int32_t y) const
{
    return !m_selection || m_selection[uint64_t(y) * uint32_t(m_head.width) + uint32_t(x)] != 0;
}

bool PxImage::SelectionAddRect(PxRect r, uint8_t level)
{
    if (!m_selection && !SelectionCreate())
        return false;
    const int32_t w = m_head.width, h = m_head.height;
    const int32_t x0 = r.left < r.right ? r.left : r.right, x1 = r.left < r.right ? r.right : r.left;
    const int32_t y0 = r.top < r.bottom ? r.top : r.bottom, y1 = r.top < r.bottom ? r.bottom : r.top;
    PxRect& box = m_info.selectionBox;
    if (y1 >= box.top)
        box.top = Clamp(int64_t(y1) + 1, 0, h);
    if (x0 < box.left)
        box.left = Clamp(x0, 0, w);
    if (x1 >= box.right)
        box.right = Clamp(int64_t(x1) + 1, 0, w);
    if (y0 < box.bottom)
        box.bottom = Clamp(y0, 0, h);
    const int32_t cx0 = Clamp(x0, 0, w), cx1 = Clamp(int64_t(x1) + 1, 0, w);
    const int32_t cy0 = Clamp(y0, 0, h), cy1 = Clamp(int64_t(y1) + 1, 0, h);
    for (int32_t y = cy0; y < cy1 && cx0 < cx1; ++y)
        memset(m_selection + uint64_t(y) * uint32_t(w) + uint32_t(cx0), level, size_t(cx1 - cx0));
    return true;
}

bool PxImage::SelectionAddEllipse(PxRect r, uint8_t level)
{
    const int64_t rx = std::llabs(int64_t(r.right) - r.left) / 2, ry = std::llabs(int64_t(r.top) - r.bottom) / 2;
    if (!rx || !ry)
        return false;
    if (!m_selection && !SelectionCreate())
        return false;
    const int32_t w = m_head.width, h = m_head.height;
    const int64_t xc = (int64_t(r.left) + r.right) / 2, yc = (int64_t(r.top) + r.bottom) / 2;
    PxRect& box = m_info.selectionBox;
    if (yc + ry >= box.top)
        box.top = Clamp(yc + ry + 1, 0, h);
    if (xc - rx < box.left)
        box.left = Clamp(xc - rx, 0, w);
    if (xc + rx >= box.right)
        box.right = Clamp(xc + rx + 1, 0, w);
    if (yc - ry < box.bottom)
        box.bottom = Clamp(yc - ry, 0, h);
    const int32_t xStart = Clamp(xc - rx, 0, w), xEnd = Clamp(xc + rx + 1, 0, w);
    for (int32_t x = xStart; x < xEnd; ++x) {
        const double v = double(x - xc) / double(rx);
        const double half = std::sqrt(std::fmax(0.0, 1.0 - v * v)) * double(ry);
        const int64_t lowLimit = int64_t(double(yc) - half);
        const int64_t highLimit = int64_t(half + double(yc));
        for (int64_t y = std::max<int64_t>(yc - ry, 0); y < yc && y < h; ++y)
            if (lowLimit < y)
                m_selection[uint64_t(y) * uint32_t(w) + uint32_t(x)] = level;
        for (int64_t y = std::max<int64_t>(yc, 0); y <= yc + ry && y < h; ++y)
            if (y < highLimit)
                m_selection[uint64_t(y) * uint32_t(w) + uint32_t(x)] = level;
    }
    return true;
}

bool PxImage::SelectionInvert()
{
    if (!m_selection)
        return false;
    const uint64_t n = PixelCount();
    for (uint64_t i = 0; i < n; ++i)
        m_selection[i] = uint8_t(~m_selection[i]);
    SelectionRebuildBox();
    return true;
}

void PxImage::SelectionRebuildBox()
{
    ResetSelectionBox();
    if (!m_selection)
        return;
    PxRect& box = m_info.selectionBox;
    const uint32_t w = uint32_t(m_head.width);
    for (int32_t y = 0; y < m_head.height; ++y) {
        const uint8_t* row = m_selection + uint64_t(y) * w;
        for (uint32_t x = 0; x < w; ++x) {
            if (!row[x])
                continue;
            if (int32_t(x) < box.left)
                box.left = int32_t(x);
            if (int32_t(x) + 1 > box.right)
                box.right = int32_t(x) + 1;
            if (y < box.bottom)
                box.bottom = y;
            if (y + 1 > box.top)
                box.top = y + 1;
        }
    }
}

bool PxImage::SelectionCopy(const PxImage& source)
{
    if (!source.m_selection || source.GetWidth() != GetWidth() || source.GetHeight() != GetHeight())
        return false;
    if (&source == this)
        return true;
    if (!m_selection) {
        m_selection = static_cast<uint8_t*>(malloc(size_t(PixelCount() ? PixelCount() : 1)));
        if (!m_selection)
            return false;
    }
    memcpy(m_selection, source.m_selection, size_t(PixelCount()));
    m_info.selectionBox = source.m_info.selectionBox;
    return true;
}

bool PxImage::SelectionAddPolygon(const PxPoint* points, int32_t count, uint8_t level)
{
    if (!points || count < 3)
        return false;
    if (!m_selection && !SelectionCreate())
        return false;
    const int32_t w = m_head.width, h = m_head.height;
    const size_t n = size_t(PixelCount());
    std::vector<uint8_t> work(n, 0);
    const auto mark = [&](int64_t x, int64_t y) {
        if (x >= 0 && y >= 0 && x < w && y < h)
            work[size_t(y) * uint32_t(w) + size_t(x)] = 255;
    };
    // Each edge is drawn twice over, once stepping x and once stepping y, so that steep and
    // flat edges both stay closed; only the steps inside the image are walked.
    const auto edge = [&](PxPoint a, PxPoint b) {
        const int64_t ax = a.x, ay = a.y, bx = b.x, by = b.y;
        if (ax != bx) {
            const float slope = float(by - ay) / float(bx - ax);
            const int64_t lo = std::max<int64_t>(std::min(ax, bx), 0), hi = std::min<int64_t>(std::max(ax, bx), w - 1);
            for (int64_t x = lo; x <= hi; ++x)
                mark(x, ay + Truncate(double(float(x - ax) * slope)));
        } else {
            mark(ax, ay);
        }
        if (ay != by) {
            const float inverse = float(bx - ax) / float(by - ay);
            const int64_t lo = std::max<int64_t>(std::min(ay, by), 0), hi = std::min<int64_t>(std::max(ay, by), h - 1);
            for (int64_t y = lo; y <= hi; ++y)
                mark(ax + Truncate(double(float(y - ay) * inverse)), y);
        }
    };
    int64_t minX = INT64_MAX, minY = INT64_MAX, maxX = INT64_MIN, maxY = INT64_MIN;
    int32_t polygonStart = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (points[i].x == -1) {
            polygonStart = i + 1;
            continue;
        }
        minX = std::min<int64_t>(minX, points[i].x);
        maxX = std::max<int64_t>(maxX, points[i].x);
        minY = std::min<int64_t>(minY, points[i].y);
        maxY = std::max<int64_t>(maxY, points[i].y);
        const bool last = i + 1 >= count || points[i + 1].x == -1;
        edge(points[i], last ? points[polygonStart] : points[i + 1]);
    }
    if (minX == INT64_MAX)
        return false;
    const int32_t rx0 = Clamp(minX - 1, 0, w - 1), rx1 = Clamp(maxX + 1, 0, w - 1);
    const int32_t ry0 = Clamp(minY - 1, 0, h - 1), ry1 = Clamp(maxY + 1, 0, h - 1);
    // Flood the outside from the region's border with 1; whatever stays is inside or outline.
    std::vector<PxPoint> stack;
    const auto at = [&](int32_t x, int32_t y) -> uint8_t& { return work[size_t(y) * uint32_t(w) + size_t(x)]; };
    const auto seed = [&](int32_t x, int32_t y) {
        if (at(x, y) == 0)
            stack.push_back(PxPoint{x, y});
    };
    for (int32_t x = rx0; x <= rx1; ++x) {
        seed(x, ry0);
        seed(x, ry1);
    }
    for (int32_t y = ry0; y <= ry1; ++y) {
        seed(rx0, y);
        seed(rx1, y);
    }
    while (!stack.empty()) {
        const PxPoint p = stack.back();
        stack.pop_back();
        if (at(p.x, p.y) != 0)
            continue;
        int32_t left = p.x, right = p.x;
        while (left > rx0 && at(left - 1, p.y) == 0)
            --left;
        while (right < rx1 && at(right + 1, p.y) == 0)
            ++right;
        for (int32_t x = left; x <= right; ++x) {
            at(x, p.y) = 1;
            if (p.y > ry0 && at(x, p.y - 1) == 0)
                stack.push_back(PxPoint{x, p.y - 1});
            if (p.y < ry1 && at(x, p.y + 1) == 0)
                stack.push_back(PxPoint{x, p.y + 1});
        }
    }
    for (int32_t y = ry0; y <= ry1; ++y)
        for (int32_t x = rx0; x <= rx1; ++x)
            if (at(x, y) != 1)
                m_selection[size_t(y) * uint32_t(w) + size_t(x)] = level;
    PxRect& box = m_info.selectionBox;
    box.left = std::min(box.left, rx0);
    box.right = std::max(box.right, rx1 + 1);
    box.bottom = std::min(box.bottom, ry0);
    box.top = std::max(box.top, ry1 + 1);
    return true;
}

bool PxImage::SelectionAddColor(RGBQuad colour, uint8_t level)
{
    if (!m_block)
        return false;
    if (!m_selection && !SelectionCreate())
        return false;
    PxRect& box = m_info.selectionBox;
    for (int32_t y = 0; y < m_head.height; ++y)
        for (int32_t x = 0; x < m_head.width; ++x) {
            const RGBQuad c = GetPixelColorUnchecked(x, y, false);
            if (c.blue != colour.blue || c.green != colour.green || c.red != colour.red)
                continue;
            m_selection[uint64_t(y) * uint32_t(m_head.width) + uint32_t(x)] = level;
            box.left = std::min(box.left, x);
            box.right = std::max(box.right, x + 1);
            box.bottom = std::min(box.bottom, y);
            box.top = std::max(box.top, y + 1);
        }
    return true;
}

bool PxImage::SelectionAddPixel(int32_t x, int32_t y, uint8_t level)
{
    if (!IsInsideImage(x, y))
        return false;
    if (!m_selection && !SelectionCreate())
        return false;
    m_selection[uint64_t(y) * uint32_t(m_head.width) + uint32_t(x)] = level;
    PxRect& box = m_info.selectionBox;
    box.left = std::min(box.left, x);
    box.right = std::max(box.right, x + 1);
    box.bottom = std::min(box.bottom, y);
    box.top = std::max(box.top, y + 1);
    return true;
}

bool PxImage::SelectionToGray(PxImage* destination)
{
    if (!destination || !m_selection)
        return false;
    PxImage gray(0);
    if (!gray.Create(m_head.width, m_head.height, 8, 0)) {
        SetLastError(gray.GetLastError());
        return false;
    }
    const uint32_t w = uint32_t(m_head.width);
    for (int32_t y = 0; y < m_head.height; ++y)
        memcpy(gray.GetRow(y), m_selection + uint64_t(y) * w, w);
    gray.SetGrayPalette();
    return HandOver(gray, destination);
}

bool PxImage::SelectionSet(const PxImage& gray)
{
    if (!gray.IsGrayScale() || gray.GetBpp() != 8 || gray.GetWidth() != GetWidth() || gray.GetHeight() != GetHeight()) {
        SetLastError("PxImage::SelectionSet: wrong width or height, or image is not gray scale");
        return false;
    }
    if (!m_selection && !m_ghost)
        m_selection = static_cast<uint8_t*>(malloc(size_t(PixelCount() ? PixelCount() : 1)));
    if (!gray.m_block || !m_selection) {
        SetLastError("PxImage::SelectionSet: null pointer");
        return false;
    }
    const uint32_t w = uint32_t(m_head.width);
    for (int32_t y = 0; y < m_head.height; ++y)
        memcpy(m_selection + uint64_t(y) * w, gray.GetRow(y), w);
    SelectionRebuildBox();
    return true;
}

void PxImage::SelectionSetValue(int32_t x, int32_t y, uint8_t level)
{
    if (m_selection && IsInsideImage(x, y))
        m_selection[uint64_t(y) * uint32_t(m_head.width) + uint32_t(x)] = level;
}

uint8_t PxImage::SelectionGetValue(int32_t x, int32_t y) const
{
    if (!m_selection || !IsInsideImage(x, y))
        return 0;
    return m_selection[uint64_t(y) * uint32_t(m_head.width) + uint32_t(x)];
}

uint8_t PxImage::SelectionGetValueFast(int32_t x, int32_t y) const
{
    return m_selection[uint64_t(y) * uint32_t(m_head.width) + uint32_t(x)];
}

uint8_t* PxImage::SelectionGetPointer(int32_t x, int32_t y) const
{
    if (!m_selection || !IsInsideImage(x, y))
        return nullptr;
    return m_selection + uint64_t(y) * uint32_t(m_head.width) + uint32_t(x);
}

bool PxImage::SelectionFlip()
{
    if (!m_selection)
        return false;
    const uint32_t w = uint32_t(m_head.width);
    std::vector<uint8_t> buffer(w);
    for (int32_t k = 0; k < m_head.height / 2; ++k) {
        uint8_t* a = m_selection + uint64_t(k) * w;
        uint8_t* b = m_selection + uint64_t(m_head.height - 1 - k) * w;
        memcpy(buffer.data(), a, w);
        memcpy(a, b, w);
        memcpy(b, buffer.data(), w);
    }
    PxRect& box = m_info.selectionBox;
    const int32_t top = box.top, bottom = box.bottom;
    box.top = m_head.height - bottom;
    box.bottom = m_head.height - top;
    return true;
}

bool PxImage::SelectionMirror()
{
    if (!m_selection)
        return false;
    const uint64_t n = PixelCount();
    uint8_t* mirrored = static_cast<uint8_t*>(malloc(size_t(n ? n : 1)));
    if (!mirrored)
        return false;
    const uint32_t w = uint32_t(m_head.width);
    for (int32_t y = 0; y < m_head.height; ++y) {
        const uint8_t* in = m_selection + uint64_t(y) * w;
        uint8_t* out = mirrored + uint64_t(y) * w;
        for (uint32_t x = 0; x < w; ++x)
            out[x] = in[w - 1 - x];
    }
    if (!m_ghost)
        free(m_selection);
    m_selection = mirrored;
    PxRect& box = m_info.selectionBox;
    const int32_t left = box.left, right = box.right;
    box.left = m_head.width - right;
    box.right = m_head.width - left;
    return true;
}
