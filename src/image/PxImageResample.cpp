// Changing an image's width and height: the three fixed modes of Resample, Resample2 with any
// interpolation and its rows on several threads, and the integer box reduction QIShrink.
// Each builds the result apart and hands it over only when it is complete.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "image/PxImage.h"
#include "image/PxSampling.h"

using namespace pxsampling;

namespace {

// Tables and scratch rows larger than this fall back to the point-by-point road.
constexpr uint64_t kTableLimit = 256ull << 20;

bool Cancelled(PxImage& image, int32_t row, int32_t rows)
{
    image.SetProgress(int32_t(int64_t(row) * 100 / rows));
    return image.GetEscape() != 0;
}

// ---- Resample's fixed modes ----

bool ResampleNearest(PxImage& source, PxImage& target, float xScale, float yScale)
{
    const int32_t nw = target.GetWidth(), nh = target.GetHeight();
    const bool palette = source.IsIndexed();
    for (int32_t y = 0; y < nh; ++y) {
        if (Cancelled(source, y, nh))
            return false;
        const int32_t sy = std::min(int32_t(float(y) * yScale), source.GetHeight() - 1);
        for (int32_t x = 0; x < nw; ++x) {
            const int32_t sx = std::min(int32_t(float(x) * xScale), source.GetWidth() - 1);
            // Palette images keep the index: the colour is the same, and a palette holding one
            // colour twice keeps the entry the picture used.
            if (palette)
                target.SetPixelIndexUnchecked(x, y, source.GetPixelIndexUnchecked(sx, sy));
            else
                target.SetPixelColorUnchecked(x, y, source.GetPixelColorUnchecked(sx, sy, true));
        }
    }
    return true;
}

// Writes a colour: bytes at 24 bits, the nearest entry (with a one-colour cache) in palettes.
inline void Put(PxImage& target, int32_t x, int32_t y, RGBQuad c, PxNearestCache& cache)
{
    if (target.IsIndexed())
        target.SetPixelIndexUnchecked(x, y, target.GetNearestIndex(c, cache));
    else
        target.SetPixelColorUnchecked(x, y, c);
}

bool ResampleBSpline(PxImage& source, PxImage& target, float xScale, float yScale)
{
    const int32_t w = source.GetWidth(), h = source.GetHeight(), nw = target.GetWidth(), nh = target.GetHeight();
    for (int32_t y = 0; y < nh; ++y) {
        if (Cancelled(source, y, nh))
            return false;
        PxNearestCache cache;
        const float fy = float(y) * yScale - 0.5f;
        const float iyf = std::floor(fy), dy = fy - iyf;
        const int32_t iy = int32_t(iyf);
        for (int32_t x = 0; x < nw; ++x) {
            const float fx = float(x) * xScale - 0.5f;
            const float ixf = std::floor(fx), dx = fx - ixf;
            const int32_t ix = int32_t(ixf);
            float sb = 0, sg = 0, sr = 0;
            for (int32_t m = -1; m <= 2; ++m) {
                const float wy = PxImage::KernelBSpline(float(m) - dy);
                const int32_t row = std::clamp(iy + m, 0, h - 1);
                for (int32_t n = -1; n <= 2; ++n) {
                    const float wxy = PxImage::KernelBSpline(dx - float(n)) * wy;
                    const RGBQuad c = source.GetPixelColorUnchecked(std::clamp(ix + n, 0, w - 1), row, false);
                    sb += wxy * float(c.blue);
                    sg += wxy * float(c.green);
                    sr += wxy * float(c.red);
                }
            }
            Put(target, x, y, RGBQuad{ClampTruncate(sb), ClampTruncate(sg), ClampTruncate(sr), 0}, cache);
        }
    }
    return true;
}

bool ResampleBilinear(PxImage& source, PxImage& target, float xScale, float yScale)
{
    const int32_t w = source.GetWidth(), h = source.GetHeight(), nw = target.GetWidth(), nh = target.GetHeight();
    for (int32_t y = 0; y < nh; ++y) {
        if (Cancelled(source, y, nh))
            return false;
        PxNearestCache cache;
        const float fy = float(y) * yScale;
        const int32_t y0 = std::min(int32_t(fy), h - 1), y1 = std::min(y0 + 1, h - 1);
        const float v = fy - float(y0);
        for (int32_t x = 0; x < nw; ++x) {
            const float fx = float(x) * xScale;
            const int32_t x0 = std::min(int32_t(fx), w - 1), x1 = std::min(x0 + 1, w - 1);
            const float u = fx - float(x0);
            const RGBQuad c00 = source.GetPixelColorUnchecked(x0, y0, false);
            const RGBQuad c01 = source.GetPixelColorUnchecked(x0, y1, false);
            const RGBQuad c10 = source.GetPixelColorUnchecked(x1, y0, false);
            const RGBQuad c11 = source.GetPixelColorUnchecked(x1, y1, false);
            const auto mix = [&](uint8_t RGBQuad::*ch) {
                const float a = float(c00.*ch) + float(int(c01.*ch) - int(c00.*ch)) * v;
                const float b = float(c10.*ch) + float(int(c11.*ch) - int(c10.*ch)) * v;
                return uint8_t(int32_t(a + (b - a) * u) & 0xFF);
            };
            Put(target, x, y, RGBQuad{mix(&RGBQuad::blue), mix(&RGBQuad::green), mix(&RGBQuad::red), 0}, cache);
        }
    }
    return true;
}

// The box average in fixed point (weights in thousandths) for shrinking 24-bit images: each
// source row is added to the target row it lies in, or split between two. Each target pixel is
// its weighted sum over the weights it really got, rounded: the truncated thousandths of the
// splits do not add up to the nominal 1000 x xScale x yScale, and dividing by that would darken
// a uniform picture by one level here and there. Sums are 64-bit, so that no size the image
// allows can overflow them.
bool ResampleBox(PxImage& source, PxImage& target, float xScale, float yScale)
{
    const int32_t w = source.GetWidth(), h = source.GetHeight(), nw = target.GetWidth(), nh = target.GetHeight();
    // Blue, green, red and the weight, per target column (one spare past the last).
    std::vector<int64_t> current(4 * (size_t(nw) + 1), 0), next(4 * (size_t(nw) + 1), 0);
    int32_t row = 0;
    const auto write = [&](int32_t col, const int64_t* acc) {
        if (col >= nw || row >= nh)
            return;
        uint8_t* p = target.GetRow(row) + 3 * size_t(col);
        const int64_t weight = std::max<int64_t>(acc[3], 1);
        for (int c = 0; c < 3; ++c)
            p[c] = uint8_t(std::min<int64_t>((acc[c] + weight / 2) / weight, 255));
    };
    const auto add = [](int64_t* acc, int64_t weight, const uint8_t* in) {
        acc[0] += weight * in[0];
        acc[1] += weight * in[1];
        acc[2] += weight * in[2];
        acc[3] += weight;
    };
    const auto assign = [](int64_t* acc, int64_t weight, const uint8_t* in) {
        acc[0] = weight * in[0];
        acc[1] = weight * in[1];
        acc[2] = weight * in[2];
        acc[3] = weight;
    };
    float vb = yScale - 1;
    for (int32_t j = 0; j < h; ++j) {
        if (Cancelled(source, j, h))
            return false;
        const uint8_t* in = source.GetRow(j);
        float hb = xScale - 1;
        int32_t col = 0;
        if (vb > float(j)) {
            for (int32_t k = 0; k < w; ++k, in += 3) {
                int64_t* acc = &current[4 * size_t(col)];
                if (hb > float(k)) {
                    add(acc, 1000, in);
                    continue;
                }
                const int64_t i = int64_t((float(k) - hb) * 1000);
                add(acc, 1000 - i, in);
                add(acc + 4, i, in);
                col = std::min(col + 1, nw);
                hb += xScale;
            }
            continue;
        }
        const int64_t ac = int64_t((float(j) - vb) * 1000);
        int32_t written = -1;
        for (int32_t k = 0; k < w; ++k, in += 3) {
            int64_t* acc = &current[4 * size_t(col)];
            int64_t* low = &next[4 * size_t(col)];
            if (hb > float(k)) {
                add(acc, 1000 * (1000 - ac) / 1000, in);
                add(low, 1000 * ac / 1000, in);
                continue;
            }
            const int64_t m = int64_t((float(k) - hb) * 1000);
            add(acc, (1000 - m) * (1000 - ac) / 1000, in);
            add(low, (1000 - m) * ac / 1000, in);
            write(col, acc);
            written = col;
            add(acc + 4, m * (1000 - ac) / 1000, in);
            assign(low + 4, m * ac / 1000, in);
            col = std::min(col + 1, nw);
            hb += xScale;
        }
        if (written < col)
            write(col, &current[4 * size_t(col)]);
        // The split row's lower share starts the next target row; the row before it is
        // reused for the one after, its first column cleared (the others are assigned).
        std::swap(current, next);
        std::fill(next.begin(), next.begin() + 4, 0);
        ++row;
        vb += yScale;
    }
    if (row < nh)
        for (int32_t col = 0; col < nw; ++col)
            write(col, &current[4 * size_t(col)]);
    return true;
}

// ---- Resample2's workers ----

// Runs the rows on up to `workers` threads, the caller's included, each thread taking the next
// row from one shared counter. Each thread makes its own row function (with its own scratch
// rows). A thread that cannot be started leaves its rows to the others. False when the image
// was cancelled or a worker ran out of memory.
bool RunRows(PxImage& source, int32_t rows, int32_t workers,
             const std::function<std::function<void(int32_t)>()>& makeRowFunction, bool& outOfMemory)
{
    std::atomic<int32_t> next{0};
    std::atomic<bool> failed{false};
    const auto work = [&]() noexcept {
        try {
            const std::function<void(int32_t)> rowFunction = makeRowFunction();
            for (;;) {
                const int32_t row = next.fetch_add(1, std::memory_order_relaxed);
                if (row >= rows || failed.load(std::memory_order_relaxed) || Cancelled(source, row, rows))
                    break;
                rowFunction(row);
            }
        } catch (...) {
            failed = true;
        }
    };
    std::vector<std::thread> threads;
    try {
        threads.reserve(size_t(std::max(workers - 1, 0)));
        for (int32_t i = 1; i < workers; ++i)
            threads.emplace_back(work);
    } catch (...) {
        // No more threads to be had (or no room to keep one): the ones running and this one
        // share the rows.
    }
    work();
    for (std::thread& t : threads)
        t.join();
    outOfMemory = failed;
    return !failed && !source.GetEscape();
}

} // namespace

bool PxImage::Resample(int32_t newWidth, int32_t newHeight, int32_t mode, PxImage* destination)
{
    if (!m_block || newWidth <= 0 || newHeight <= 0)
        return false;
    const int32_t w = m_head.width, h = m_head.height;
    if (newWidth == w && newHeight == h) {
        if (destination)
            destination->CopyFrom(*this, true, true, true);
        return true;
    }
    PxImage target(0);
    if (!MakeTemporary(target, newWidth, newHeight, m_head.bitCount, m_info.type))
        return false;
    target.SetPalette(GetPalette(), 256);
    target.m_head.clrImportant = m_head.clrImportant;
    const float xScale = float(w) / float(newWidth), yScale = float(h) / float(newHeight);
    bool done;
    if (mode == 1)
        done = ResampleNearest(*this, target, xScale, yScale);
    else if (mode == 2)
        done = ResampleBSpline(*this, target, xScale, yScale);
    else if (newWidth < w && newHeight < h && m_head.bitCount == 24)
        done = ResampleBox(*this, target, xScale, yScale);
    else
        done = ResampleBilinear(*this, target, xScale, yScale);
    if (!done) {
        SetLastError("Cancelled");
        return false;
    }
    if (m_alpha) {
        if (mode == 1) {
            if (!target.AlphaCreate()) {
                SetLastError("PxImage::Resample can't allocate memory");
                return false;
            }
            for (int32_t y = 0; y < newHeight; ++y) {
                const int32_t sy = std::min(int32_t(float(y) * yScale), h - 1);
                for (int32_t x = 0; x < newWidth; ++x)
                    target.m_alpha[uint64_t(y) * uint32_t(newWidth) + uint32_t(x)] =
                        m_alpha[uint64_t(sy) * uint32_t(w) + uint32_t(std::min(int32_t(float(x) * xScale), w - 1))];
            }
        } else {
            // The plane as a grey picture, resampled the same way.
            PxImage plane(0);
            if (!AlphaSplit(&plane))
                return false;
            plane.FollowControlsOf(this);
            if (!plane.Resample(newWidth, newHeight, mode, nullptr) || !target.AlphaSetFromGray(plane)) {
                SetLastError(GetEscape() ? "Cancelled" : "PxImage::Resample can't allocate memory");
                return false;
            }
        }
    }
    return HandOver(target, destination);
}

bool PxImage::Resample2(int32_t newWidth, int32_t newHeight, InterpolationMethod method, OverflowMethod overflow,
                        PxImage* destination, bool disableAveraging)
{
    if (!m_block || newWidth < 1 || newHeight < 1)
        return false;
    const int32_t w = m_head.width, h = m_head.height;
    if (newWidth == w && newHeight == h) {
        if (destination)
            destination->CopyFrom(*this, true, true, true);
        return true;
    }
    method = Normalise(method);
    PxImage target(0);
    if (!MakeTemporary(target, newWidth, newHeight, m_head.bitCount, m_info.type))
        return false;
    target.SetPalette(GetPalette(), 256);
    target.m_head.clrImportant = m_head.clrImportant;
    if (m_alpha && !target.AlphaCreate()) {
        SetLastError("PxImage::Resample2 can't allocate memory");
        return false;
    }
    const float xScale = float(w) / float(newWidth), yScale = float(h) / float(newHeight);
    const bool enlarging = (xScale <= 1 && yScale <= 1) || disableAveraging;
    const bool palette = m_head.clrUsed != 0;
    const auto sourceX = [xScale](int32_t x) { return (float(x) + 0.5f) * xScale - 0.5f; };
    const auto sourceY = [yScale](int32_t y) { return (float(y) + 0.5f) * yScale - 0.5f; };
    const uint32_t nw = uint32_t(newWidth);
    uint8_t* const targetAlpha = target.m_alpha;

    // The rows one colour at a time, each through the point sampler: palettes, alpha planes and
    // whatever the tables below do not cover.
    const auto writeColour = [&](int32_t x, int32_t y, RGBQuad c, PxNearestCache& cache) {
        if (palette) {
            target.SetPixelIndexUnchecked(x, y, target.GetNearestIndex(c, cache));
        } else {
            uint8_t* p = target.GetBits() + uint64_t(y) * target.m_info.rowSize + 3 * uint64_t(x);
            p[0] = c.blue;
            p[1] = c.green;
            p[2] = c.red;
        }
        if (targetAlpha)
            targetAlpha[uint64_t(y) * nw + uint32_t(x)] = c.alpha;
    };
    const auto pointRow = [&](int32_t y) {
        PxNearestCache cache;
        const float sy = sourceY(y);
        for (int32_t x = 0; x < newWidth; ++x) {
            const RGBQuad c = enlarging ? SampleInterpolated(sourceX(x), sy, method, overflow, nullptr)
                                        : SampleArea(sourceX(x), sy, xScale, yScale, method, overflow, nullptr);
            writeColour(x, y, c, cache);
        }
    };
    std::function<std::function<void(int32_t)>()> makeRowFunction = [&]() {
        return std::function<void(int32_t)>(pointRow);
    };

    // Tables of what each target column reads, worked out once; the rows then read pixel bytes
    // straight, in the very order the point sampler sums them, so the result is the same to
    // the bit. Points near the edges still go through the point sampler.
    const int32_t taps = Taps(method);
    const bool averaging = !enlarging && xScale > 1 && yScale > 1 && !m_alpha;
    const bool tables = !palette && (enlarging || averaging) && uint64_t(nw) * uint64_t(taps + 3) * 4 <= kTableLimit &&
                        uint64_t(w) * 24 <= kTableLimit;
    std::vector<int32_t> colFirst;
    std::vector<uint8_t> colInside;
    std::vector<int32_t> colFraction;
    std::vector<float> colWeights;
    std::vector<AreaSpan> colSpans;
    std::vector<double> colSums;
    if (tables) {
        colFirst.resize(nw);
        colInside.resize(nw);
        if (!enlarging) {
            colSpans.resize(nw);
            colSums.resize(nw);
        } else if (method == InterpBilinear) {
            colFraction.resize(nw);
        } else if (method != InterpNearest) {
            colWeights.resize(size_t(nw) * size_t(taps));
        }
        for (uint32_t x = 0; x < nw; ++x) {
            const float sx = sourceX(int32_t(x));
            if (!enlarging) {
                const AreaSpan s = MakeAreaSpan(sx, xScale, w);
                colSpans[x] = s;
                colInside[x] = s.first >= 0 && s.last < w && s.first <= s.last;
                double k = 0;
                for (int32_t i = s.first; i <= s.last; ++i)
                    k += s.Weight(i);
                colSums[x] = k;
                continue;
            }
            if (method == InterpNearest) {
                colFirst[x] = NearestPixel(sx);
                colInside[x] = colFirst[x] >= 0 && colFirst[x] < w;
                continue;
            }
            const float fx = std::floor(sx);
            const int32_t first = int32_t(fx) - Before(method);
            colFirst[x] = first;
            colInside[x] = first >= 0 && first + taps - 1 < w;
            if (method == InterpBilinear) {
                colFraction[x] = Fraction256(sx, fx);
                continue;
            }
            for (int32_t k = 0; k < taps; ++k)
                colWeights[size_t(x) * size_t(taps) + size_t(k)] = Kernel(method, float(first + k) - sx);
        }
    }

    const uint32_t stride = m_info.rowSize;
    const uint8_t* const bits = GetBits();
    // Per worker: the weighted sums of one target row's source rows, column by column.
    struct Scratch {
        std::vector<float> sums;
        std::vector<float> alphaSums;
        std::vector<double> areaSums;
    };
    const auto tableRow = [&](int32_t y, Scratch& scratch) {
        const float sy = sourceY(y);
        uint8_t* out = target.GetBits() + uint64_t(y) * target.m_info.rowSize;
        uint8_t* outAlpha = targetAlpha ? targetAlpha + uint64_t(y) * nw : nullptr;
        const auto fallBack = [&](int32_t x) {
            const RGBQuad c = enlarging ? SampleInterpolated(sourceX(x), sy, method, overflow, nullptr)
                                        : SampleArea(sourceX(x), sy, xScale, yScale, method, overflow, nullptr);
            out[3 * x] = c.blue;
            out[3 * x + 1] = c.green;
            out[3 * x + 2] = c.red;
            if (outAlpha)
                outAlpha[x] = c.alpha;
        };
        if (!enlarging) {
            const AreaSpan s = MakeAreaSpan(sy, yScale, h);
            if (!(s.first >= 0 && s.last < h && s.first <= s.last)) {
                for (int32_t x = 0; x < newWidth; ++x)
                    fallBack(x);
                return;
            }
            double ky = 0;
            for (int32_t j = s.first; j <= s.last; ++j)
                ky += s.Weight(j);
            double* cs = scratch.areaSums.data();
            const size_t n = 3 * size_t(w);
            std::fill(cs, cs + n, 0.0);
            for (int32_t j = s.first; j <= s.last; ++j) {
                const uint8_t* in = bits + uint64_t(j) * stride;
                const double wj = s.Weight(j);
                for (size_t k = 0; k < n; ++k)
                    cs[k] += wj * in[k];
            }
            for (uint32_t x = 0; x < nw; ++x) {
                if (!colInside[x]) {
                    fallBack(int32_t(x));
                    continue;
                }
                const AreaSpan& c = colSpans[x];
                double sb = 0, sg = 0, sr = 0;
                for (int32_t i = c.first; i <= c.last; ++i) {
                    const double wi = c.Weight(i);
                    const double* p = cs + 3 * size_t(i);
                    sb += wi * p[0];
                    sg += wi * p[1];
                    sr += wi * p[2];
                }
                const double k = colSums[x] * ky;
                out[3 * x] = ClampRound(sb / k);
                out[3 * x + 1] = ClampRound(sg / k);
                out[3 * x + 2] = ClampRound(sr / k);
            }
            return;
        }
        if (method == InterpNearest) {
            const int32_t iy = NearestPixel(sy);
            const bool rowInside = iy >= 0 && iy < h;
            for (uint32_t x = 0; x < nw; ++x) {
                if (!rowInside || !colInside[x]) {
                    fallBack(int32_t(x));
                    continue;
                }
                const uint8_t* p = bits + uint64_t(iy) * stride + 3 * uint64_t(colFirst[x]);
                out[3 * x] = p[0];
                out[3 * x + 1] = p[1];
                out[3 * x + 2] = p[2];
                if (outAlpha)
                    outAlpha[x] = m_alpha[uint64_t(iy) * uint32_t(w) + uint32_t(colFirst[x])];
            }
            return;
        }
        const float fy = std::floor(sy);
        const int32_t firstRow = int32_t(fy) - Before(method);
        if (!(firstRow >= 0 && firstRow + taps - 1 < h)) {
            for (int32_t x = 0; x < newWidth; ++x)
                fallBack(x);
            return;
        }
        if (method == InterpBilinear) {
            const int32_t b = Fraction256(sy, fy);
            const uint8_t* r0 = bits + uint64_t(firstRow) * stride;
            const uint8_t* r1 = r0 + stride;
            const uint8_t* a0 = m_alpha ? m_alpha + uint64_t(firstRow) * uint32_t(w) : nullptr;
            const uint8_t* a1 = a0 ? a0 + uint32_t(w) : nullptr;
            for (uint32_t x = 0; x < nw; ++x) {
                if (!colInside[x]) {
                    fallBack(int32_t(x));
                    continue;
                }
                const int32_t a = colFraction[x];
                const size_t i = 3 * size_t(colFirst[x]);
                out[3 * x] = Bilinear256(a, b, r0[i], r0[i + 3], r1[i], r1[i + 3]);
                out[3 * x + 1] = Bilinear256(a, b, r0[i + 1], r0[i + 4], r1[i + 1], r1[i + 4]);
                out[3 * x + 2] = Bilinear256(a, b, r0[i + 2], r0[i + 5], r1[i + 2], r1[i + 5]);
                if (outAlpha) {
                    const size_t k = size_t(colFirst[x]);
                    outAlpha[x] = Bilinear256(a, b, a0[k], a0[k + 1], a1[k], a1[k + 1]);
                }
            }
            return;
        }
        float wy[12];
        for (int32_t k = 0; k < taps; ++k)
            wy[k] = Kernel(method, float(firstRow + k) - sy);
        // Each source column's rows first, for the whole row at once.
        float* cs = scratch.sums.data();
        const size_t n = 3 * size_t(w);
        std::fill(cs, cs + n, 0.0f);
        for (int32_t j = 0; j < taps; ++j) {
            const uint8_t* in = bits + uint64_t(firstRow + j) * stride;
            const float wj = wy[j];
            for (size_t k = 0; k < n; ++k)
                cs[k] += wj * float(in[k]);
        }
        float* ca = m_alpha ? scratch.alphaSums.data() : nullptr;
        if (ca) {
            std::fill(ca, ca + w, 0.0f);
            for (int32_t j = 0; j < taps; ++j) {
                const uint8_t* in = m_alpha + uint64_t(firstRow + j) * uint32_t(w);
                const float wj = wy[j];
                for (int32_t k = 0; k < w; ++k)
                    ca[k] += wj * float(in[k]);
            }
        }
        for (uint32_t x = 0; x < nw; ++x) {
            if (!colInside[x]) {
                fallBack(int32_t(x));
                continue;
            }
            const float* wx = &colWeights[size_t(x) * size_t(taps)];
            const float* p = cs + 3 * size_t(colFirst[x]);
            float sb = 0, sg = 0, sr = 0;
            for (int32_t k = 0; k < taps; ++k, p += 3) {
                sb += wx[k] * p[0];
                sg += wx[k] * p[1];
                sr += wx[k] * p[2];
            }
            out[3 * x] = ClampTruncate(sb);
            out[3 * x + 1] = ClampTruncate(sg);
            out[3 * x + 2] = ClampTruncate(sr);
            if (outAlpha) {
                const float* q = ca + colFirst[x];
                float sa = 0;
                for (int32_t k = 0; k < taps; ++k)
                    sa += wx[k] * q[k];
                outAlpha[x] = ClampTruncate(sa);
            }
        }
    };
    if (tables)
        makeRowFunction = [&]() {
            auto scratch = std::make_shared<Scratch>();
            if (enlarging) {
                scratch->sums.resize(3 * size_t(w));
                scratch->alphaSums.resize(m_alpha ? size_t(w) : 0);
            } else {
                scratch->areaSums.resize(3 * size_t(w));
            }
            return std::function<void(int32_t)>([&tableRow, scratch](int32_t y) { tableRow(y, *scratch); });
        };

    const int32_t workers = std::min(newHeight / 64, std::max(GetThreadCount(), 1));
    bool outOfMemory = false;
    if (!RunRows(*this, newHeight, workers, makeRowFunction, outOfMemory)) {
        SetLastError(outOfMemory ? "PxImage::Resample2 can't allocate memory" : "Cancelled");
        return false;
    }
    if (palette && enlarging && m_alpha)
        for (int32_t y = 0; y < newHeight; ++y) {
            const int32_t sy = std::min(int32_t(float(y) * yScale), h - 1);
            for (int32_t x = 0; x < newWidth; ++x)
                targetAlpha[uint64_t(y) * nw + uint32_t(x)] =
                    m_alpha[uint64_t(sy) * uint32_t(w) + uint32_t(std::min(int32_t(float(x) * xScale), w - 1))];
        }
    return HandOver(target, destination);
}

// Sums are 64-bit: a target pixel may gather every pixel of the largest image the library
// allows. Each target column takes the source columns up to the one where the running sum of
// the new width first exceeds the old; each target row the source rows up to the one where the
// running sum of the new height reaches the old.
bool PxImage::QIShrink(int32_t newWidth, int32_t newHeight, PxImage* destination, bool changeTo24Bits)
{
    if (!m_block || newWidth < 1 || newHeight < 1)
        return false;
    const int32_t w = m_head.width, h = m_head.height;
    if (newWidth > w || newHeight > h) {
        SetLastError("QIShrink can't enlarge image");
        return false;
    }
    if (newWidth == w && newHeight == h) {
        if (destination)
            destination->CopyFrom(*this, true, true, true);
        return true;
    }
    const bool palette = m_head.clrUsed != 0;
    PxImage target(0);
    if (!MakeTemporary(target, newWidth, newHeight, changeTo24Bits ? 24 : m_head.bitCount, m_info.type))
        return false;
    target.SetPalette(GetPalette(), 256);
    target.m_head.clrImportant = m_head.clrImportant;
    if (m_alpha && !target.AlphaCreate()) {
        SetLastError("QIShrink can't allocate memory");
        return false;
    }
    const bool withAlpha = m_alpha != nullptr;
    const size_t channels = withAlpha ? 4 : 3;
    std::vector<uint64_t> sums;
    std::vector<uint32_t> columnOf, columnWidth;
    std::vector<uint8_t> colours;
    try {
        sums.assign(channels * size_t(newWidth), 0);
        columnOf.resize(size_t(w));
        columnWidth.assign(size_t(newWidth), 0);
        if (palette)
            colours.resize(3 * size_t(w));
    } catch (const std::bad_alloc&) {
        SetLastError("QIShrink can't allocate memory");
        return false;
    }
    int64_t running = 0;
    uint32_t col = 0;
    for (int32_t x = 0; x < w; ++x) {
        columnOf[size_t(x)] = col;
        ++columnWidth[col];
        running += newWidth;
        if (running > w) {
            col = std::min<uint32_t>(col + 1, uint32_t(newWidth - 1));
            running -= w;
        }
    }
    int64_t rowRunning = 0;
    uint32_t rowsInBand = 0;
    int32_t targetRow = 0;
    const uint32_t nw = uint32_t(newWidth);
    for (int32_t y = 0; y < h && targetRow < newHeight; ++y) {
        if (Cancelled(*this, y, h)) {
            SetLastError("Cancelled");
            return false;
        }
        const uint8_t* in = GetRow(y);
        if (palette) {
            for (int32_t x = 0; x < w; ++x) {
                const RGBQuad c = GetPaletteColor(GetPixelIndexUnchecked(x, y));
                colours[3 * size_t(x)] = c.blue;
                colours[3 * size_t(x) + 1] = c.green;
                colours[3 * size_t(x) + 2] = c.red;
            }
            in = colours.data();
        }
        const uint8_t* alpha = withAlpha ? m_alpha + uint64_t(y) * uint32_t(w) : nullptr;
        for (int32_t x = 0; x < w; ++x, in += 3) {
            uint64_t* s = &sums[channels * columnOf[size_t(x)]];
            s[0] += in[0];
            s[1] += in[1];
            s[2] += in[2];
            if (alpha)
                s[3] += alpha[x];
        }
        ++rowsInBand;
        rowRunning += newHeight;
        if (rowRunning < h)
            continue;
        rowRunning -= h;
        PxNearestCache cache;
        uint8_t* out = target.GetRow(targetRow);
        for (uint32_t x = 0; x < nw; ++x) {
            uint64_t* s = &sums[channels * x];
            const uint64_t count = uint64_t(rowsInBand) * columnWidth[x];
            const RGBQuad c{uint8_t(s[0] / count), uint8_t(s[1] / count), uint8_t(s[2] / count),
                            uint8_t(withAlpha ? s[3] / count : 255)};
            if (target.IsIndexed()) {
                target.SetPixelIndexUnchecked(int32_t(x), targetRow, target.GetNearestIndex(c, cache));
            } else {
                out[3 * x] = c.blue;
                out[3 * x + 1] = c.green;
                out[3 * x + 2] = c.red;
            }
            if (withAlpha)
                target.m_alpha[uint64_t(targetRow) * nw + x] = c.alpha;
        }
        std::fill(sums.begin(), sums.end(), 0);
        rowsInBand = 0;
        ++targetRow;
    }
    return HandOver(target, destination);
}
