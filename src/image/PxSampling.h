// What the point sampler and the resampler share, so that the resampler's row loops compute
// exactly what the point sampler would for the same point: tap counts, coordinate limits,
// the bilinear fixed-point weights and the spans of an averaged area. Internal to the library.
#pragma once

#include <cmath>
#include <cstdint>

#include "image/PxImage.h"

namespace pxsampling {

constexpr float kPi = 3.1415927f;

// Far beyond any image, yet well inside int32 with room for a kernel's reach.
constexpr float kCoordinateLimit = 1073741824.0f;

inline float Limit(float v)
{
    return v < -kCoordinateLimit ? -kCoordinateLimit : v > kCoordinateLimit ? kCoordinateLimit : v;
}

inline PxImage::InterpolationMethod Normalise(PxImage::InterpolationMethod method)
{
    return method >= PxImage::InterpNearest && method <= PxImage::InterpParabolic ? method : PxImage::InterpBilinear;
}

// Pixels per axis that a method reads; the first is floor(point) - Before.
inline int32_t Taps(PxImage::InterpolationMethod method)
{
    return method == PxImage::InterpBilinear ? 2 : method == PxImage::InterpLanczos6 ? 12 : 4;
}

inline int32_t Before(PxImage::InterpolationMethod method)
{
    return method == PxImage::InterpBilinear ? 0 : method == PxImage::InterpLanczos6 ? 5 : 1;
}

// The pixel nearest to a coordinate: (v + 0.5) truncated toward zero.
inline int32_t NearestPixel(float v)
{
    return int32_t(Limit(v + 0.5f));
}

// A coordinate worked out in floats, truncated toward zero; one that is not a number reads as
// the pixel at -1, outside every image.
inline int32_t TruncatePixel(float v)
{
    return v == v ? int32_t(Limit(v)) : -1;
}

inline int32_t FloorPixel(float v)
{
    return v == v ? int32_t(std::floor(Limit(v))) : -1;
}

// Copies the pixel at (sx, sy) of the source to (x, y) of a target of the same depth and
// palette: the index read with bounds (the background index outside, when there is one), or
// the colour, the background colour outside.
inline void CopyPixelWithBounds(const PxImage& source, int32_t sx, int32_t sy, PxImage& target, int32_t x, int32_t y)
{
    if (source.IsIndexed())
        target.SetPixelIndexUnchecked(x, y, source.GetPixelIndex(sx, sy));
    else
        target.SetPixelColorUnchecked(x, y,
                                      source.IsInsideImage(sx, sy) ? source.GetPixelColorUnchecked(sx, sy, false)
                                                                   : source.GetSettings().backgroundColor);
}

// The 256ths of a pixel (in 256ths) past floor(v), for the bilinear fixed-point weights.
inline int32_t Fraction256(float v, float floorOfV)
{
    return int32_t((v - floorOfV) * 256);
}

// The fixed-point bilinear weights of a point a/256 and b/256 past a pixel, and one channel's
// blend of the four pixels around it.
struct Bilinear256 {
    uint32_t w00, w10, w01, w11;
    Bilinear256(int32_t a, int32_t b)
    {
        const uint32_t ua = uint32_t(a), ub = uint32_t(b);
        w11 = (ua * ub) / 256;
        w10 = ua - w11;
        w01 = ub - w11;
        w00 = 256 - ua - ub + w11;
    }
    uint8_t operator()(uint32_t p00, uint32_t p10, uint32_t p01, uint32_t p11) const
    {
        return uint8_t((w00 * p00 + w10 * p10 + w01 * p01 + w11 * p11) >> 8);
    }
};

// Four float lanes (blue, green, red, alpha), each lane summed exactly as one float would be.
typedef float PxFloat4 __attribute__((vector_size(16)));
typedef int32_t PxInt4 __attribute__((vector_size(16)));

// A kernel sum brought to a byte.
inline uint8_t ClampTruncate(float v)
{
    return v > 255 ? 255 : v > 0 ? uint8_t(v) : 0;
}

// An average brought to a byte, rounded half up.
inline uint8_t ClampRound(double v)
{
    const double r = std::floor(v + 0.5);
    return r > 255 ? 255 : r > 0 ? uint8_t(r) : 0;
}

// The pixels an averaged area covers along one axis, from the pixel nearest its low edge to
// the one nearest its high edge (nearest: + 0.5, truncated), and how much of the two end
// pixels it covers. The area is cut to two image sizes around the image first, so that no
// size or centre makes the walk endless or the coordinates overflow. Ends the area does not
// reach (weight 0) are dropped: they add nothing to any sum.
struct AreaSpan {
    float low = 0;
    float high = 0;
    int32_t first = 0;
    int32_t last = -1;
    float firstWeight = 0;
    float lastWeight = 0;

    float Weight(int32_t i) const
    {
        if (i == first)
            return firstWeight;
        if (i == last)
            return lastWeight;
        return 1.0f;
    }
};

inline AreaSpan MakeAreaSpan(float centre, float size, int32_t imageSize)
{
    AreaSpan s;
    const float margin = 2.0f * float(imageSize) + 2.0f;
    const auto cut = [&](float v) {
        return v < -margin ? -margin : v > float(imageSize) + margin ? float(imageSize) + margin : v;
    };
    s.low = cut(centre - size / 2);
    s.high = cut(centre + size / 2);
    s.first = int32_t(s.low + 0.5f);
    s.last = int32_t(s.high + 0.5f);
    if (s.last < s.first)
        return s;
    if (s.first == s.last) {
        s.firstWeight = s.lastWeight = s.high - s.low;
        return s;
    }
    s.firstWeight = (float(s.first) + 0.5f) - s.low;
    s.lastWeight = s.high - (float(s.last) - 0.5f);
    if (!(s.lastWeight > 0) && s.last > s.first) {
        --s.last;
        s.lastWeight = s.last == s.first ? s.firstWeight : 1.0f;
    }
    if (!(s.firstWeight > 0) && s.first < s.last) {
        ++s.first;
        s.firstWeight = s.first == s.last ? s.lastWeight : 1.0f;
    }
    return s;
}

} // namespace pxsampling
