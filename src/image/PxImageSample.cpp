// Sampling between pixel centres: what a point outside the image reads, the interpolation
// kernels, the colour at a fractional point and the coverage-weighted average over an area.
// Everything here only reads the image, so the resampler's workers call it side by side.
#include <cmath>

#include "image/PxImage.h"
#include "image/PxSampling.h"

using namespace pxsampling;

float PxPointF::Distance(float px, float py) const
{
    const float dx = x - px, dy = y - py;
    return std::sqrt(dx * dx + dy * dy);
}

PxRectF PxRectF::Intersect(const PxRectF& other) const
{
    PxRectF r(std::fmax(left, other.left), std::fmax(top, other.top), std::fmin(right, other.right),
              std::fmin(bottom, other.bottom));
    if (!(r.right >= r.left) || !(r.bottom >= r.top))
        return PxRectF();
    return r;
}

// ---- kernels ----

namespace {

inline float Cube(float u)
{
    return u > 0 ? u * u * u : 0.0f;
}

inline float Sinc(float t)
{
    if (t == 0)
        return 1.0f;
    const float a = kPi * t;
    return std::sin(a) / a;
}

// The Bessel function of the first kind of order one, by the classic rational
// approximations (single-precision accuracy): a ratio of polynomials below 8, the
// asymptotic form above.
float BesselJ1(float x)
{
    const double ax = std::fabs(double(x));
    if (ax < 8.0) {
        const double y = double(x) * x;
        const double p =
            double(x) *
            (72362614232.0 +
             y * (-7895059235.0 + y * (242396853.1 + y * (-2972611.439 + y * (15704.48260 + y * (-30.16036606))))));
        const double q =
            144725228442.0 + y * (2300535178.0 + y * (18583304.74 + y * (99447.43394 + y * (376.9991397 + y))));
        return float(p / q);
    }
    const double z = 8.0 / ax, y = z * z, xx = ax - 2.356194491;
    const double p1 = 1.0 + y * (0.183105e-2 + y * (-0.3516396496e-4 + y * (0.2457520174e-5 + y * (-0.240337019e-6))));
    const double q1 =
        0.04687499995 + y * (-0.2002690873e-3 + y * (0.8449199096e-5 + y * (-0.88228987e-6 + y * 0.105787412e-6)));
    const double r = std::sqrt(0.636619772 / ax) * (std::cos(xx) * p1 - z * std::sin(xx) * q1);
    return float(x < 0 ? -r : r);
}

} // namespace

float PxImage::KernelBSpline(float t)
{
    if (t > 2)
        return 0;
    return (Cube(t + 2) - 4 * Cube(t + 1) + 6 * Cube(t) - 4 * Cube(t - 1)) / 6.0f;
}

float PxImage::KernelCubic(float t, float a)
{
    const float f = std::fabs(t);
    if (f < 1)
        return (a + 2) * f * f * f - (a + 3) * f * f + 1;
    if (f < 2)
        return a * f * f * f - 5 * a * f * f + 8 * a * f - 4 * a;
    return 0;
}

float PxImage::KernelLanczosSinc(float t, float window)
{
    if (!(std::fabs(t) <= window))
        return 0;
    if (t == 0)
        return 1;
    return Sinc(t) * Sinc(t / window);
}

float PxImage::KernelBox(float t)
{
    return t >= -0.5f && t < 0.5f ? 1.0f : 0.0f;
}

float PxImage::KernelHermite(float t)
{
    const float f = std::fabs(t);
    return f < 1 ? (2 * f - 3) * f * f + 1 : 0.0f;
}

float PxImage::KernelHermiteDamped(float t)
{
    const float f = std::fabs(t);
    return f < 1 ? (2 * f - 3) * 0.92f * f * f + 1 : 0.0f;
}

float PxImage::KernelSinc(float t)
{
    return Sinc(t);
}

float PxImage::KernelBlackman(float t)
{
    return 0.42f + 0.5f * std::cos(kPi * t) + 0.08f * std::cos(2 * kPi * t);
}

float PxImage::KernelBessel(float t)
{
    if (t == 0)
        return 0.7853982f;
    return BesselJ1(kPi * t) / (2 * t);
}

float PxImage::KernelGaussian(float t)
{
    return std::exp(-2 * t * t) * 0.7978846f;
}

float PxImage::KernelQuadratic(float t)
{
    const float f = std::fabs(t);
    if (f < 0.5f)
        return 0.75f - f * f;
    if (f < 1.5f)
        return 0.5f * (f - 1.5f) * (f - 1.5f);
    return 0;
}

float PxImage::KernelMitchell(float t)
{
    const float f = std::fabs(t);
    if (f < 1)
        return (7.0f / 6.0f) * f * f * f - 2 * f * f + 8.0f / 9.0f;
    if (f < 2)
        return -(7.0f / 18.0f) * f * f * f + 2 * f * f - (10.0f / 3.0f) * f + 16.0f / 9.0f;
    return 0;
}

float PxImage::KernelCatmullRom(float t)
{
    const float f = std::fabs(t);
    if (f < 1)
        return (3 * f * f * f - 5 * f * f + 2) / 2;
    if (f < 2)
        return (-f * f * f + 5 * f * f - 8 * f + 4) / 2;
    return 0;
}

float PxImage::KernelHannSinc(float t)
{
    if (!(std::fabs(t) <= 1))
        return 0;
    return Sinc(t) * (0.5f + 0.5f * std::cos(kPi * t));
}

float PxImage::KernelParabolic(float t)
{
    return std::fabs(t) <= 1 ? 1 - t * t : 0.0f;
}

float PxImage::Kernel(InterpolationMethod method, float t)
{
    switch (method) {
    case InterpCubicBSpline:
        return KernelBSpline(t);
    case InterpCubicSharp:
        return KernelCubic(t, -1.0f);
    case InterpCubicKeys:
        return KernelCubic(t, -0.5f);
    case InterpLanczos6:
        return KernelLanczosSinc(t, 6.0f);
    case InterpBox:
        return KernelBox(t);
    case InterpHermite:
        return KernelHermite(t);
    case InterpHermiteDamped:
        return KernelHermiteDamped(t);
    case InterpSinc:
        return KernelSinc(t);
    case InterpBlackman:
        return KernelBlackman(t);
    case InterpBessel:
        return KernelBessel(t);
    case InterpGaussian:
        return KernelGaussian(t);
    case InterpQuadratic:
        return KernelQuadratic(t);
    case InterpMitchell:
        return KernelMitchell(t);
    case InterpCatmullRom:
        return KernelCatmullRom(t);
    case InterpHannSinc:
        return KernelHannSinc(t);
    case InterpParabolic:
        return KernelParabolic(t);
    default: {
        const float f = std::fabs(t);
        return f < 1 ? 1 - f : 0.0f;
    }
    }
}

// ---- overflow ----

namespace {

inline int32_t Wrap(int32_t c, int32_t size)
{
    int32_t r = c % size;
    return r < 0 ? r + size : r;
}

inline int32_t Mirror(int32_t c, int32_t size)
{
    if (c < 0)
        return -(c % size);
    if (c >= size)
        return size - (c % size) - 1;
    return c;
}

inline float Wrap(float c, float size)
{
    const float r = std::fmod(c, size);
    return r < 0 ? r + size : r;
}

inline float Mirror(float c, float size)
{
    if (c < 0)
        return -std::fmod(c, size);
    if (c >= size)
        return size - (std::fmod(c, size) + 1);
    return c;
}

inline RGBQuad DefaultColour(const RGBQuad* replacement)
{
    return replacement ? *replacement : RGBQuad{255, 255, 255, 0};
}

inline bool IsWrapping(PxImage::OverflowMethod method)
{
    return method == PxImage::OverflowWrap || method == PxImage::OverflowRepeat || method == PxImage::OverflowMirror;
}

// Each coordinate on its own: wrap, repeat (clamp) or mirror into 0 .. size - 1.
template <class T>
void Overflow(T& x, T& y, T w, T h, PxImage::OverflowMethod method)
{
    switch (method) {
    case PxImage::OverflowWrap:
        x = Wrap(x, w);
        y = Wrap(y, h);
        break;
    case PxImage::OverflowRepeat:
        x = x < 0 ? 0 : x > w - 1 ? w - 1 : x;
        y = y < 0 ? 0 : y > h - 1 ? h - 1 : y;
        break;
    case PxImage::OverflowMirror:
        x = Mirror(x, w);
        y = Mirror(y, h);
        break;
    default:
        break;
    }
}

} // namespace

void PxImage::ApplyOverflow(int32_t& x, int32_t& y, OverflowMethod method) const
{
    if (m_block && m_head.width > 0 && m_head.height > 0 && !IsInsideImage(x, y))
        Overflow(x, y, m_head.width, m_head.height, method);
}

void PxImage::ApplyOverflow(float& x, float& y, OverflowMethod method) const
{
    const float w = float(m_head.width), h = float(m_head.height);
    if (!m_block || !(w > 0) || !(h > 0) || !std::isfinite(x) || !std::isfinite(y))
        return;
    if (!(x >= 0 && x < w && y >= 0 && y < h))
        Overflow(x, y, w, h, method);
}

// ---- sampling ----

// Inside, alpha comes from the plane, or is opaque without one (a 24-bit pixel has no alpha of
// its own); outside, what the overflow method says.
RGBQuad PxImage::SampleWithOverflow(int32_t x, int32_t y, OverflowMethod method, const RGBQuad* replacement) const
{
    if (!m_block)
        return DefaultColour(replacement);
    if (IsInsideImage(x, y))
        return GetPixelColorUnchecked(x, y, true);
    RGBQuad colour = DefaultColour(replacement);
    switch (method) {
    case OverflowWrap:
    case OverflowRepeat:
    case OverflowMirror:
        ApplyOverflow(x, y, method);
        return IsInsideImage(x, y) ? GetPixelColorUnchecked(x, y, true) : colour;
    case OverflowTransparent:
        if (m_alpha) {
            colour.alpha = 0;
            return colour;
        }
        [[fallthrough]];
    case OverflowBackground:
        if (m_info.backgroundIndex >= 0)
            return m_head.bitCount == 24 ? m_info.backgroundColor : GetPaletteColor(uint8_t(m_info.backgroundIndex));
        return colour;
    default:
        return colour;
    }
}

RGBQuad PxImage::SampleInterpolated(float x, float y, InterpolationMethod method, OverflowMethod overflow,
                                    const RGBQuad* replacement) const
{
    if (!m_block)
        return DefaultColour(replacement);
    if (!std::isfinite(x) || !std::isfinite(y))
        return IsWrapping(overflow) ? DefaultColour(replacement)
                                    : SampleWithOverflow(-999, -999, overflow, replacement);
    method = Normalise(method);
    if (method == InterpNearest)
        return SampleWithOverflow(NearestPixel(x), NearestPixel(y), overflow, replacement);

    const int32_t w = m_head.width, h = m_head.height;
    float fx = std::floor(x), fy = std::floor(y);
    bool far;
    if (method == InterpBilinear)
        far = fx < -1 || fy < -1 || fx >= float(w) || fy >= float(h);
    else if (method == InterpLanczos6)
        far = fx < -6 || fy < -6 || fx - 5 >= float(w) || fy - 5 >= float(h);
    else
        far = fx < -2 || fy < -2 || fx > float(w) || fy > float(h);
    if (far) {
        if (overflow == OverflowColor || overflow == OverflowBackground || overflow == OverflowTransparent)
            return SampleWithOverflow(-999, -999, overflow, replacement);
        ApplyOverflow(x, y, overflow);
        x = Limit(x);
        y = Limit(y);
        fx = std::floor(x);
        fy = std::floor(y);
    }
    const int32_t ix = int32_t(fx), iy = int32_t(fy);
    const bool palette = m_head.clrUsed != 0;

    if (method == InterpBilinear) {
        if (!palette && ix >= 0 && ix + 1 < w && iy >= 0 && iy + 1 < h) {
            const Bilinear256 blend(Fraction256(x, fx), Fraction256(y, fy));
            const uint8_t* r0 = GetBits() + uint64_t(iy) * m_info.rowSize + 3 * uint64_t(ix);
            const uint8_t* r1 = r0 + m_info.rowSize;
            RGBQuad c;
            c.blue = blend(r0[0], r0[3], r1[0], r1[3]);
            c.green = blend(r0[1], r0[4], r1[1], r1[4]);
            c.red = blend(r0[2], r0[5], r1[2], r1[5]);
            if (m_alpha) {
                const uint8_t* a0 = m_alpha + uint64_t(iy) * uint32_t(w) + uint32_t(ix);
                const uint8_t* a1 = a0 + uint32_t(w);
                c.alpha = blend(a0[0], a0[1], a1[0], a1[1]);
            } else {
                c.alpha = 255;
            }
            return c;
        }
        const float u = x - fx, v = y - fy;
        const RGBQuad c00 = SampleWithOverflow(ix, iy, overflow, replacement);
        const RGBQuad c10 = SampleWithOverflow(ix + 1, iy, overflow, replacement);
        const RGBQuad c01 = SampleWithOverflow(ix, iy + 1, overflow, replacement);
        const RGBQuad c11 = SampleWithOverflow(ix + 1, iy + 1, overflow, replacement);
        const float w00 = (1 - u) * (1 - v), w10 = u * (1 - v), w01 = (1 - u) * v, w11 = u * v;
        const auto blend = [&](uint8_t RGBQuad::*channel) {
            return ClampTruncate(w00 * float(c00.*channel) + w10 * float(c10.*channel) + w01 * float(c01.*channel) +
                                 w11 * float(c11.*channel));
        };
        return RGBQuad{blend(&RGBQuad::blue), blend(&RGBQuad::green), blend(&RGBQuad::red), blend(&RGBQuad::alpha)};
    }

    // Kernels: column by column, each column's rows first; the resampler sums in this order too.
    const int32_t taps = Taps(method), x0 = ix - Before(method), y0 = iy - Before(method);
    float wx[12], wy[12];
    for (int32_t k = 0; k < taps; ++k) {
        wx[k] = Kernel(method, float(x0 + k) - x);
        wy[k] = Kernel(method, float(y0 + k) - y);
    }
    // The sum over the taps of one reading of pixels (column k, row j of the window).
    const auto sum = [&](auto pixel) {
        float sb = 0, sg = 0, sr = 0, sa = 0;
        for (int32_t k = 0; k < taps; ++k) {
            float cb = 0, cg = 0, cr = 0, ca = 0;
            for (int32_t j = 0; j < taps; ++j) {
                const RGBQuad p = pixel(k, j);
                cb += wy[j] * float(p.blue);
                cg += wy[j] * float(p.green);
                cr += wy[j] * float(p.red);
                ca += wy[j] * float(p.alpha);
            }
            sb += wx[k] * cb;
            sg += wx[k] * cg;
            sr += wx[k] * cr;
            sa += wx[k] * ca;
        }
        return RGBQuad{ClampTruncate(sb), ClampTruncate(sg), ClampTruncate(sr), ClampTruncate(sa)};
    };
    if (!palette && x0 >= 0 && x0 + taps - 1 < w && y0 >= 0 && y0 + taps - 1 < h) {
        const uint32_t stride = m_info.rowSize;
        const uint8_t* base = GetBits() + uint64_t(y0) * stride + 3 * uint64_t(x0);
        const uint8_t* alphaBase = m_alpha ? m_alpha + uint64_t(y0) * uint32_t(w) + uint32_t(x0) : nullptr;
        RGBQuad c = sum([&](int32_t k, int32_t j) {
            const uint8_t* p = base + uint64_t(j) * stride + 3 * uint32_t(k);
            return RGBQuad{p[0], p[1], p[2],
                           alphaBase ? alphaBase[uint64_t(j) * uint32_t(w) + uint32_t(k)] : uint8_t(0)};
        });
        if (!alphaBase)
            c.alpha = 255;
        return c;
    }
    return sum([&](int32_t k, int32_t j) { return SampleWithOverflow(x0 + k, y0 + j, overflow, replacement); });
}

void PxImage::AccumulateWeighted(RGBQuad colour, float weight, double& red, double& green, double& blue, double& alpha)
{
    const double a = colour.alpha;
    alpha += a * weight;
    red += colour.red * double(weight) * a / 255;
    green += colour.green * double(weight) * a / 255;
    blue += colour.blue * double(weight) * a / 255;
}

RGBQuad PxImage::SampleArea(float xCentre, float yCentre, float width, float height, InterpolationMethod method,
                            OverflowMethod overflow, const RGBQuad* replacement) const
{
    if (!m_block)
        return DefaultColour(replacement);
    if (!std::isfinite(xCentre) || !std::isfinite(yCentre) || !std::isfinite(width) || !std::isfinite(height))
        return IsWrapping(overflow) ? DefaultColour(replacement)
                                    : SampleWithOverflow(-999, -999, overflow, replacement);
    if (width <= 1 && height <= 1)
        return SampleInterpolated(xCentre, yCentre, method, overflow, replacement);
    const AreaSpan sx = MakeAreaSpan(xCentre, width, m_head.width);
    const AreaSpan sy = MakeAreaSpan(yCentre, height, m_head.height);
    const float area = (sx.high - sx.low) * (sy.high - sy.low);

    if (width > 1 && height > 1 && !m_head.clrUsed && !m_alpha && sx.first >= 0 && sx.last < m_head.width &&
        sy.first >= 0 && sy.last < m_head.height && sx.first <= sx.last && sy.first <= sy.last) {
        // Every weight on opaque pixels of the image: the alpha weighting cancels out, and the
        // sums run column by column as the resampler's rows do.
        double ky = 0;
        for (int32_t j = sy.first; j <= sy.last; ++j)
            ky += sy.Weight(j);
        double kx = 0, sb = 0, sg = 0, sr = 0;
        for (int32_t i = sx.first; i <= sx.last; ++i) {
            double cb = 0, cg = 0, cr = 0;
            for (int32_t j = sy.first; j <= sy.last; ++j) {
                const uint8_t* p = GetBits() + uint64_t(j) * m_info.rowSize + 3 * uint64_t(i);
                const double wj = sy.Weight(j);
                cb += wj * p[0];
                cg += wj * p[1];
                cr += wj * p[2];
            }
            const double wi = sx.Weight(i);
            kx += wi;
            sb += wi * cb;
            sg += wi * cg;
            sr += wi * cr;
        }
        const double k = kx * ky;
        return RGBQuad{ClampRound(sb / k), ClampRound(sg / k), ClampRound(sr / k), ClampRound(255 * k / area)};
    }

    double red = 0, green = 0, blue = 0, alpha = 0;
    if (width > 1 && height > 1) {
        for (int32_t j = sy.first; j <= sy.last; ++j)
            for (int32_t i = sx.first; i <= sx.last; ++i)
                AccumulateWeighted(SampleWithOverflow(i, j, overflow, replacement), sx.Weight(i) * sy.Weight(j), red,
                                   green, blue, alpha);
    } else {
        const PxRectF whole(sx.low, sy.low, sx.high, sy.high);
        for (int32_t j = sy.first; j <= sy.last; ++j)
            for (int32_t i = sx.first; i <= sx.last; ++i) {
                const PxRectF part =
                    PxRectF(float(i) - 0.5f, float(j) - 0.5f, float(i) + 0.5f, float(j) + 0.5f).Intersect(whole);
                const float weight = part.Area();
                if (!(weight > 0))
                    continue;
                const PxPointF centre = part.Centre();
                AccumulateWeighted(SampleInterpolated(centre.x, centre.y, method, overflow, replacement), weight, red,
                                   green, blue, alpha);
            }
    }
    if (alpha > 0) {
        const double scale = alpha / 255;
        red /= scale;
        green /= scale;
        blue /= scale;
    }
    return RGBQuad{ClampRound(blue), ClampRound(green), ClampRound(red), ClampRound(area > 0 ? alpha / area : 0.0)};
}
