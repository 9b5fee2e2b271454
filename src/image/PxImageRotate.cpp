// Turns by any angle, positive clockwise as the picture is seen, and the crop of a turned
// rectangle.
#include <algorithm>
#include <cmath>

#include "image/PxImage.h"
#include "image/PxSampling.h"

using namespace pxsampling;

namespace {

bool IsHalfTurn(float degrees)
{
    return std::fmod(degrees, 180.0f) == 0 && std::fmod(degrees, 360.0f) != 0;
}

struct Bounds {
    float minX = 0, maxX = 0, minY = 0, maxY = 0;
    void Turn(float x, float y, float c, float s, bool first)
    {
        const float tx = x * c - y * s, ty = x * s + y * c;
        if (first) {
            minX = maxX = tx;
            minY = maxY = ty;
            return;
        }
        minX = std::min(minX, tx);
        maxX = std::max(maxX, tx);
        minY = std::min(minY, ty);
        maxY = std::max(maxY, ty);
    }
};

} // namespace

// Each target pixel reads the source pixel that holds the turned-back centre of the target
// pixel, so that a turn by a right angle moves every pixel exactly as the quarter turns do.
bool PxImage::RotateAngle(float degrees, PxImage* destination)
{
    if (!m_block || !std::isfinite(degrees))
        return false;
    if (IsHalfTurn(degrees))
        return RotateHalf(destination);
    const int32_t w = m_head.width, h = m_head.height;
    const float theta = degrees * (-1.5707964f / 90), c = std::cos(theta), s = std::sin(theta);
    Bounds b;
    b.Turn(0, 0, c, s, true);
    b.Turn(float(w), 0, c, s, false);
    b.Turn(0, float(h), c, s, false);
    b.Turn(float(w), float(h), c, s, false);
    const int32_t tw = int32_t(std::floor(b.maxX - b.minX + 0.5f)), th = int32_t(std::floor(b.maxY - b.minY + 0.5f));
    PxImage target(0);
    if (!MakeLike(target, std::max(tw, 1), std::max(th, 1), m_head.bitCount, "RotateAngle"))
        return false;
    if (m_alpha)
        target.AlphaClear();
    for (int32_t g = 0; g < target.GetHeight(); ++g) {
        SetProgress(int32_t(int64_t(g) * 100 / target.GetHeight()));
        if (GetEscape()) {
            SetLastError("Cancelled");
            return false;
        }
        const float y = b.minY + float(g) + 0.5f;
        for (int32_t i = 0; i < target.GetWidth(); ++i) {
            const float x = b.minX + float(i) + 0.5f;
            const int32_t sx = FloorPixel(c * x + s * y), sy = FloorPixel(-s * x + c * y);
            CopyPixelWithBounds(*this, sx, sy, target, i, g);
            if (m_alpha)
                target.m_alpha[uint64_t(g) * uint32_t(target.GetWidth()) + uint32_t(i)] = AlphaGet(sx, sy);
        }
    }
    return HandOver(target, destination);
}

bool PxImage::RotateAngleInterpolated(float degrees, PxImage* destination, InterpolationMethod method,
                                      OverflowMethod overflow, const RGBQuad* replacement, bool optimiseRightAngles,
                                      bool keepSize)
{
    if (!m_block || !std::isfinite(degrees))
        return false;
    if (IsHalfTurn(degrees))
        return RotateHalf(destination);
    const int32_t w = m_head.width, h = m_head.height;
    const float fw = float(w), fh = float(h);
    const float theta = degrees * (-1.5707964f / 90), c = std::cos(theta), s = std::sin(theta);
    Bounds b;
    int32_t tw = w, th = h;
    if (keepSize) {
        b.minX = b.minY = -0.5f;
        b.maxX = fw - 0.5f;
        b.maxY = fh - 0.5f;
    } else {
        b.Turn(-0.5f, -0.5f, c, s, true);
        b.Turn(fw - 0.5f, -0.5f, c, s, false);
        b.Turn(-0.5f, fh - 0.5f, c, s, false);
        b.Turn(fw - 0.5f, fh - 0.5f, c, s, false);
        if (optimiseRightAngles) {
            const PxPointF corner((fw - 0.5f) * c - (fh - 0.5f) * s, (fw - 0.5f) * s + (fh - 0.5f) * c);
            if (corner.Distance(fh - 0.5f, 0.5f - fw) < 0.25f)
                return RotateQuarterRight(destination);
            if (corner.Distance(0.5f - fh, fw - 0.5f) < 0.25f)
                return RotateQuarterLeft(destination);
            if (corner.Distance(0.5f - fw, 0.5f - fh) < 0.25f)
                return RotateHalf(destination);
            if (corner.Distance(fw - 0.5f, fh - 0.5f) < 0.25f) {
                if (destination)
                    destination->CopyFrom(*this, true, true, true);
                return true;
            }
        }
        tw = std::max(int32_t(std::floor(b.maxX - b.minX + 0.5f)), 1);
        th = std::max(int32_t(std::floor(b.maxY - b.minY + 0.5f)), 1);
    }
    PxImage target(0);
    if (!MakeLike(target, tw, th, m_head.bitCount, "RotateAngleInterpolated"))
        return false;
    const RGBQuad outside = replacement ? *replacement : RGBQuad{255, 255, 255, 0};
    const float x0 = (b.maxX + b.minX - float(tw - 1)) / 2 - (keepSize ? fw / 2 : 0);
    const float y0 = (b.maxY + b.minY - float(th - 1)) / 2 - (keepSize ? fh / 2 : 0);
    const float xShift = keepSize ? float(tw) / 2 : 0, yShift = keepSize ? float(th) / 2 : 0;
    for (int32_t j = 0; j < th; ++j) {
        SetProgress(int32_t(int64_t(j) * 100 / th));
        if (GetEscape()) {
            SetLastError("Cancelled");
            return false;
        }
        PxNearestCache cache;
        const float y = y0 + float(j);
        uint8_t* out = target.GetRow(j);
        for (int32_t i = 0; i < tw; ++i) {
            const float x = x0 + float(i);
            const RGBQuad colour =
                SampleInterpolated(x * c + y * s + xShift, -x * s + y * c + yShift, method, overflow, &outside);
            if (m_head.clrUsed) {
                target.SetPixelColor(i, j, colour, cache, m_alpha != nullptr);
                continue;
            }
            out[3 * i] = colour.blue;
            out[3 * i + 1] = colour.green;
            out[3 * i + 2] = colour.red;
            if (m_alpha)
                target.m_alpha[uint64_t(j) * uint32_t(tw) + uint32_t(i)] = colour.alpha;
        }
    }
    return HandOver(target, destination);
}

bool PxImage::CropRotatedRect(int32_t left, int32_t top, int32_t width, int32_t height, float radians,
                              PxImage* destination)
{
    if (!m_block || !std::isfinite(radians))
        return false;
    if (std::fabs(radians) < 0.0002f)
        return Crop(left, top, int32_t(std::min<int64_t>(int64_t(left) + width, INT32_MAX)),
                    int32_t(std::min<int64_t>(int64_t(top) + height, INT32_MAX)), destination);
    const float s = std::sin(radians), c = std::cos(radians);
    const int64_t x0 = int64_t(left) - std::max<int64_t>(0, TruncatePixel(float(height) * s));
    const int64_t x1 = int64_t(left) + TruncatePixel(float(width) * c);
    const int64_t y1 = int64_t(top) + TruncatePixel(float(width) * s + float(height) * c);
    const auto inside = [&](int64_t x, int64_t y) {
        return x >= 0 && y >= 0 && x <= m_head.width && y <= m_head.height;
    };
    if (!inside(x0, top) || !inside(x1, y1))
        return false;
    PxImage box(0);
    box.FollowControlsOf(this);
    if (!Crop(int32_t(x0), top, int32_t(x1), int32_t(y1), &box) ||
        !box.RotateAngle(radians * -57.29577951308232f, nullptr)) {
        if (box.GetLastError()[0])
            SetLastError(box.GetLastError());
        return false;
    }
    const int32_t bw = box.GetWidth(), bh = box.GetHeight();
    const int32_t cl = int32_t((int64_t(bw) - width) / 2), cr = int32_t((int64_t(bw) + width) / 2);
    const int32_t ct = int32_t((int64_t(bh) - height) / 2), cb = int32_t((int64_t(bh) + height) / 2);
    if (!box.Crop(cl, ct, cr, cb, nullptr)) {
        SetLastError(box.GetLastError());
        return false;
    }
    box.FollowControlsOf(nullptr);
    return HandOver(box, destination);
}
