// Pixel warps through the selection: the skew and the circular warps. Each works on a copy
// and hands it over when the whole region is done.
#include <cmath>
#include <functional>

#include "image/PxImage.h"
#include "image/PxSampling.h"

using namespace pxsampling;

// The columns and stored rows a warp visits: the selection box, or the whole image.
void PxImage::WarpRegion(int32_t& left, int32_t& bottom, int32_t& right, int32_t& top) const
{
    left = bottom = 0;
    right = m_head.width;
    top = m_head.height;
    if (!m_selection)
        return;
    const PxRect& box = m_info.selectionBox;
    left = std::max(box.left, 0);
    bottom = std::max(box.bottom, 0);
    right = std::min(box.right, m_head.width);
    top = std::min(box.top, m_head.height);
}

bool PxImage::WarpPixels(const std::function<void(int32_t x, int32_t y, PxImage& target)>& warp)
{
    if (!m_block)
        return false;
    PxImage target(*this, true, true, true);
    if (!target.IsValid()) {
        SetLastError(target.GetLastError());
        return false;
    }
    int32_t left, bottom, right, top;
    WarpRegion(left, bottom, right, top);
    for (int32_t y = bottom; y < top; ++y) {
        SetProgress(int32_t(int64_t(y - bottom) * 100 / (top - bottom)));
        if (GetEscape()) {
            SetLastError("Cancelled");
            return false;
        }
        for (int32_t x = left; x < right; ++x)
            if (!m_selection || SelectionGetValueFast(x, y))
                warp(x, y, target);
    }
    return HandOver(target, nullptr);
}

bool PxImage::Skew(float xGain, float yGain, int32_t xPivot, int32_t yPivot, bool interpolate)
{
    return WarpPixels([&](int32_t x, int32_t y, PxImage& target) {
        const float sx = float(x) + float(y - yPivot) * xGain, sy = float(y) + float(x - xPivot) * yGain;
        if (interpolate) {
            target.SetPixelColor(x, y, SampleInterpolated(sx, sy, InterpBilinear, OverflowBackground, nullptr), true);
            return;
        }
        const int32_t ix = TruncatePixel(sx), iy = TruncatePixel(sy);
        CopyPixelWithBounds(*this, ix, iy, target, x, y);
        target.AlphaSet(x, y, AlphaGet(ix, iy));
    });
}

// The angle is that of (xc - x, yc - y), so the point at the new radius along it lies at
// (xc - cos a r, yc - sin a r): with the radius kept (a twirl with no twist) every pixel reads
// itself.
bool PxImage::CircleWarp(int32_t type, int32_t radius, float factor)
{
    if (!m_block)
        return false;
    int32_t left, bottom, right, top;
    WarpRegion(left, bottom, right, top);
    const int32_t xc = m_head.width / 2, yc = m_head.height / 2;
    if (radius == 0) {
        const double dx = double(xc) - left, dy = double(yc) - bottom;
        radius = int32_t(std::sqrt(dx * dx + dy * dy));
    }
    if (factor == 0)
        factor = 1;
    const float fradius = float(radius);
    return WarpPixels([&](int32_t x, int32_t y, PxImage& target) {
        const float dx = float(xc - x), dy = float(yc - y);
        const float r = std::sqrt(dx * dx + dy * dy);
        int32_t sx = -1, sy = -1;
        if (r < fradius) {
            float a = std::atan2(dy, dx);
            float nr;
            if (type == 3) {
                sx = TruncatePixel(std::fabs(a * float(right) / 6.2831852f));
                sy = TruncatePixel(std::fabs(r * float(top) / fradius));
            } else if (type > 3) {
                sx = x + x % 32 - 16;
                sy = y;
            } else {
                if (type == 0)
                    nr = r * r / fradius;
                else if (type == 1)
                    nr = std::sqrt(r * fradius);
                else if (type == 2) {
                    a += r / factor;
                    nr = r;
                } else
                    nr = 1;
                sy = yc - TruncatePixel(std::sin(a) * nr);
                sx = xc - TruncatePixel(std::cos(a) * nr);
            }
        }
        CopyPixelWithBounds(*this, sx, sy, target, x, y);
        target.AlphaSet(x, y, AlphaGet(sx, sy));
    });
}
