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
#include <type_traits>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// Runs over the target's rows (false when cancelled), writing each pixel's colour: bytes at 24
// bits, the nearest entry (with a one-colour cache a row) in palettes.
template <class ColourAt>
bool EachTargetPixel(PxImage& source, PxImage& target, ColourAt colourAt)
{
    const int32_t nw = target.GetWidth(), nh = target.GetHeight();
    for (int32_t y = 0; y < nh; ++y) {
        if (Cancelled(source, y, nh))
            return false;
        PxNearestCache cache;
        for (int32_t x = 0; x < nw; ++x) {
            const RGBQuad c = colourAt(x, y);
            if (target.IsIndexed())
                target.SetPixelIndexUnchecked(x, y, target.GetNearestIndex(c, cache));
            else
                target.SetPixelColorUnchecked(x, y, c);
        }
    }
    return true;
}

bool ResampleBSpline(PxImage& source, PxImage& target, float xScale, float yScale)
{
    const int32_t w = source.GetWidth(), h = source.GetHeight();
    return EachTargetPixel(source, target, [&](int32_t x, int32_t y) {
        const float fy = float(y) * yScale - 0.5f;
        const float iyf = std::floor(fy), dy = fy - iyf;
        const int32_t iy = int32_t(iyf);
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
        return RGBQuad{ClampTruncate(sb), ClampTruncate(sg), ClampTruncate(sr), 0};
    });
}

bool ResampleBilinear(PxImage& source, PxImage& target, float xScale, float yScale)
{
    const int32_t w = source.GetWidth(), h = source.GetHeight();
    return EachTargetPixel(source, target, [&](int32_t x, int32_t y) {
        const float fy = float(y) * yScale;
        const int32_t y0 = std::min(int32_t(fy), h - 1), y1 = std::min(y0 + 1, h - 1);
        const float v = fy - float(y0);
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
        return RGBQuad{mix(&RGBQuad::blue), mix(&RGBQuad::green), mix(&RGBQuad::red), 0};
    });
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

// What every resize starts with: an image of the same size is only copied (into the
// destination, when there is one; sameSize says so), otherwise the target is made at the new
// size and depth with this image's palette. False when the target cannot be made.
bool PxImage::StartResize(int32_t newWidth, int32_t newHeight, uint32_t bpp, PxImage& target, PxImage* destination,
                          bool& sameSize)
{
    sameSize = newWidth == m_head.width && newHeight == m_head.height;
    if (sameSize) {
        if (destination)
            destination->CopyFrom(*this, true, true, true);
        return true;
    }
    return MakeLike(target, newWidth, newHeight, bpp);
}

bool PxImage::Resample(int32_t newWidth, int32_t newHeight, int32_t mode, PxImage* destination)
{
    if (!m_block || newWidth <= 0 || newHeight <= 0)
        return false;
    const int32_t w = m_head.width, h = m_head.height;
    PxImage target(0);
    bool sameSize;
    if (!StartResize(newWidth, newHeight, m_head.bitCount, target, destination, sameSize) || sameSize)
        return sameSize;
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
    method = Normalise(method);
    PxImage target(0);
    bool sameSize;
    if (!StartResize(newWidth, newHeight, m_head.bitCount, target, destination, sameSize) || sameSize)
        return sameSize;
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
                        uint64_t(w) * 16 * uint64_t(taps + 1) <= kTableLimit;
    std::vector<int32_t> colFirstTable;
    std::vector<uint8_t> colInsideTable;
    std::vector<int32_t> colFractionTable;
    std::vector<float> colWeightsTable;
    std::vector<AreaSpan> colSpansTable;
    std::vector<double> colSumsTable;
    // With wrap, repeat and mirror every pixel a kernel reaches outside is some pixel inside:
    // the columns and rows it stands for are looked up, and the edges take the table road too.
    const bool remap = overflow == OverflowWrap || overflow == OverflowRepeat || overflow == OverflowMirror;
    const auto mapColumn = [&](int32_t c) {
        int32_t y0 = 0;
        ApplyOverflow(c, y0, overflow);
        return c;
    };
    const auto mapRow = [&](int32_t r) {
        int32_t x0 = 0;
        ApplyOverflow(x0, r, overflow);
        return r;
    };
    std::vector<int32_t> colIndexTable;
    if (tables) {
        std::vector<int32_t>& colFirst = colFirstTable;
        std::vector<uint8_t>& colInside = colInsideTable;
        std::vector<int32_t>& colFraction = colFractionTable;
        std::vector<float>& colWeights = colWeightsTable;
        std::vector<AreaSpan>& colSpans = colSpansTable;
        std::vector<double>& colSums = colSumsTable;
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
            if (remap && !colInside[x]) {
                if (colIndexTable.empty())
                    colIndexTable.assign(size_t(nw) * size_t(taps), 0);
                for (int32_t k = 0; k < taps; ++k)
                    colIndexTable[size_t(x) * size_t(taps) + size_t(k)] = mapColumn(first + k);
            }
        }
    }

    const uint32_t stride = m_info.rowSize;
    const uint8_t* const bits = GetBits();
    // Per worker: the weighted sums of one target row's source rows, column by column.
    struct Scratch {
        std::vector<PxFloat4> sums;
        std::vector<double> areaSums;
        // Source rows as vectors, a ring of as many as a target row reads.
        std::vector<PxFloat4> rows;
        std::vector<int32_t> rowOf;

        const PxFloat4* SourceRow(int32_t row, const uint8_t* bits, uint32_t stride, const uint8_t* alpha, int32_t w)
        {
            const size_t slot = size_t(row) % rowOf.size();
            PxFloat4* out = rows.data() + slot * size_t(w);
            if (rowOf[slot] == row)
                return out;
            rowOf[slot] = row;
            const uint8_t* in = bits + uint64_t(row) * stride;
            const uint8_t* a = alpha ? alpha + uint64_t(row) * uint32_t(w) : nullptr;
            for (int32_t k = 0; k < w; ++k, in += 3)
                out[k] = PxFloat4{float(in[0]), float(in[1]), float(in[2]), a ? float(a[k]) : 0.0f};
            return out;
        }
    };
    const auto tableRow = [&](int32_t y, Scratch& scratch) {
        // Byte stores may alias anything: the tables are read through locals, so that the
        // loops below do not fetch them again after every byte they write.
        const int32_t* const colFirst = colFirstTable.data();
        const uint8_t* const colInside = colInsideTable.data();
        const int32_t* const colFraction = colFractionTable.data();
        const float* const colWeights = colWeightsTable.data();
        const AreaSpan* const colSpans = colSpansTable.data();
        const double* const colSums = colSumsTable.data();
        const int32_t* const colIndex = colIndexTable.data();
        const uint8_t* const alphaPlane = m_alpha;
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
                    outAlpha[x] = alphaPlane[uint64_t(iy) * uint32_t(w) + uint32_t(colFirst[x])];
            }
            return;
        }
        const float fy = std::floor(sy);
        const int32_t firstRow = int32_t(fy) - Before(method);
        const bool rowInside = firstRow >= 0 && firstRow + taps - 1 < h;
        if (!rowInside && (method == InterpBilinear || !remap)) {
            for (int32_t x = 0; x < newWidth; ++x)
                fallBack(x);
            return;
        }
        if (method == InterpBilinear) {
            const int32_t b = Fraction256(sy, fy);
            const uint8_t* r0 = bits + uint64_t(firstRow) * stride;
            const uint8_t* r1 = r0 + stride;
            const uint8_t* a0 = alphaPlane ? alphaPlane + uint64_t(firstRow) * uint32_t(w) : nullptr;
            const uint8_t* a1 = a0 ? a0 + uint32_t(w) : nullptr;
#ifdef __SSE2__
            const __m128i zero = _mm_setzero_si128();
#endif
            for (uint32_t x = 0; x < nw; ++x) {
                if (!colInside[x]) {
                    fallBack(int32_t(x));
                    continue;
                }
                const Bilinear256 blend(colFraction[x], b);
                const size_t i = 3 * size_t(colFirst[x]);
#ifdef __SSE2__
                if (!outAlpha) {
                    // Left and right pixel side by side as 16-bit pairs (blue, blue, green, green, red,
                    // red), each pair weighed in one multiply-add: the same integer sums as below.
                    // The right pixel is read from 2 bytes on, so no load passes the row's last byte.
                    const auto pairs = [&](const uint8_t* p) {
                        uint32_t left, right;
                        memcpy(&left, p, 4);
                        memcpy(&right, p + 2, 4);
                        return _mm_unpacklo_epi8(
                            _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(left)), _mm_cvtsi32_si128(int(right >> 8))), zero);
                    };
                    const __m128i upper = _mm_set1_epi32(int(blend.w00 | blend.w10 << 16));
                    const __m128i lower = _mm_set1_epi32(int(blend.w01 | blend.w11 << 16));
                    const __m128i sum = _mm_srli_epi32(
                        _mm_add_epi32(_mm_madd_epi16(pairs(r0 + i), upper), _mm_madd_epi16(pairs(r1 + i), lower)), 8);
                    const __m128i narrow = _mm_packs_epi32(sum, sum);
                    const uint32_t bytes = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(narrow, narrow)));
                    // Four bytes where the next pixel overwrites the fourth; three at the row's end.
                    if (x + 1 < nw)
                        memcpy(out + 3 * size_t(x), &bytes, 4);
                    else
                        memcpy(out + 3 * size_t(x), &bytes, 3);
                    continue;
                }
#endif
                out[3 * x] = blend(r0[i], r0[i + 3], r1[i], r1[i + 3]);
                out[3 * x + 1] = blend(r0[i + 1], r0[i + 4], r1[i + 1], r1[i + 4]);
                out[3 * x + 2] = blend(r0[i + 2], r0[i + 5], r1[i + 2], r1[i + 5]);
                if (outAlpha) {
                    const size_t k = size_t(colFirst[x]);
                    outAlpha[x] = blend(a0[k], a0[k + 1], a1[k], a1[k + 1]);
                }
            }
            return;
        }
        float wy[12];
        for (int32_t k = 0; k < taps; ++k)
            wy[k] = Kernel(method, float(firstRow + k) - sy);
        // Each source column's rows first, for the whole row at once, blue, green, red and alpha
        // in the four lanes of one vector: each lane takes the point sampler's steps. The source
        // rows as vectors are kept for the next target rows, which mostly read the same ones.
        PxFloat4* cs = scratch.sums.data();
        std::fill(cs, cs + w, PxFloat4{0, 0, 0, 0});
        for (int32_t j = 0; j < taps; ++j) {
            const int32_t row = rowInside ? firstRow + j : mapRow(firstRow + j);
            const PxFloat4* in = scratch.SourceRow(row, bits, stride, alphaPlane, w);
            const PxFloat4 wj = {wy[j], wy[j], wy[j], wy[j]};
            for (int32_t k = 0; k < w; ++k)
                cs[k] += wj * in[k];
        }
        const auto store = [&](uint32_t x, PxFloat4 sum) {
            const PxFloat4 zero = {0, 0, 0, 0}, top = {255, 255, 255, 255};
            sum = sum > top ? top : sum;
            sum = sum > zero ? sum : zero;
            const PxInt4 bytes = __builtin_convertvector(sum, PxInt4);
            out[3 * x] = uint8_t(bytes[0]);
            out[3 * x + 1] = uint8_t(bytes[1]);
            out[3 * x + 2] = uint8_t(bytes[2]);
            if (outAlpha)
                outAlpha[x] = uint8_t(bytes[3]);
        };
        for (uint32_t x = 0; x < nw; ++x) {
            const float* wx = &colWeights[size_t(x) * size_t(taps)];
            if (!colInside[x]) {
                if (!remap) {
                    fallBack(int32_t(x));
                    continue;
                }
                const int32_t* index = colIndex + size_t(x) * size_t(taps);
                PxFloat4 sum = {0, 0, 0, 0};
                for (int32_t k = 0; k < taps; ++k)
                    sum += PxFloat4{wx[k], wx[k], wx[k], wx[k]} * cs[index[k]];
                store(x, sum);
                continue;
            }
            const PxFloat4* p = cs + colFirst[x];
            PxFloat4 sum = {0, 0, 0, 0};
            if (taps == 4) {
                for (int32_t k = 0; k < 4; ++k)
                    sum += PxFloat4{wx[k], wx[k], wx[k], wx[k]} * p[k];
            } else {
                for (int32_t k = 0; k < taps; ++k)
                    sum += PxFloat4{wx[k], wx[k], wx[k], wx[k]} * p[k];
            }
            store(x, sum);
        }
    };
    if (tables)
        makeRowFunction = [&]() {
            auto scratch = std::make_shared<Scratch>();
            if (enlarging) {
                scratch->sums.resize(size_t(w));
                scratch->rows.resize(size_t(w) * size_t(taps));
                scratch->rowOf.assign(size_t(taps), -1);
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

namespace {

// acc[i] += rows[0][i] + ... + rows[k - 1][i]: the loop where the fast shrink spends its time,
// which the compiler leaves scalar at the optimisation level we build with. With SSE2, 16-bit
// sums take sixteen bytes a step, and several rows a pass halve the sums' loads and stores.
// With `assign` the sums start from these rows rather than from what acc held.
template <typename Sum, bool assign = false>
void AddRows(Sum* acc, const uint8_t* const* rows, int k, size_t n)
{
    size_t i = 0;
#ifdef __SSE2__
    if constexpr (sizeof(Sum) == 2) {
        const __m128i zero = _mm_setzero_si128();
        for (; i + 16 <= n; i += 16) {
            __m128i* a = reinterpret_cast<__m128i*>(acc + i);
            __m128i lo = assign ? zero : _mm_loadu_si128(a), hi = assign ? zero : _mm_loadu_si128(a + 1);
            for (int j = 0; j < k; ++j) {
                const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[j] + i));
                lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(b, zero));
                hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(b, zero));
            }
            _mm_storeu_si128(a, lo);
            _mm_storeu_si128(a + 1, hi);
        }
    }
#endif
    for (; i < n; ++i) {
        Sum sum = assign ? Sum(0) : acc[i];
        for (int j = 0; j < k; ++j)
            sum = Sum(sum + rows[j][i]);
        acc[i] = sum;
    }
}

#ifdef __SSE2__
// Two target pixels at a time in eight 16-bit lanes, from target column t while both gather
// fewer than 258 source pixels (sums of at most 65535): each lane's sum / count is the high
// half of sum x (2^16 / count), which falls short by at most one, then put right against the
// remainder. Returns the first column not written. Apart from the shrink's other locals, so
// that its own stay in registers.
__attribute__((noinline)) uint32_t GatherPairs(const uint16_t* sums, const uint32_t* colStart, uint32_t t, uint32_t end,
                                               uint32_t nw, uint32_t bandRows, const uint16_t* reciprocal16,
                                               uint8_t* out)
{
    const __m128i one = _mm_set1_epi16(1);
    for (; t + 1 < end; t += 2) {
        const uint32_t from = colStart[t], mid = colStart[t + 1], to = colStart[t + 2];
        const uint32_t c0 = bandRows * (mid - from), c1 = bandRows * (to - mid);
        if (c0 > 257 || c1 > 257)
            break;
        __m128i left = _mm_setzero_si128(), right = _mm_setzero_si128();
        for (const uint16_t* in = sums + 3 * size_t(from), *stop = sums + 3 * size_t(mid); in < stop; in += 3)
            left = _mm_add_epi16(left, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in)));
        for (const uint16_t* in = sums + 3 * size_t(mid), *stop = sums + 3 * size_t(to); in < stop; in += 3)
            right = _mm_add_epi16(right, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in)));
        const __m128i sum = _mm_unpacklo_epi64(left, right);
        const __m128i counts = _mm_unpacklo_epi64(_mm_set1_epi16(short(c0)), _mm_set1_epi16(short(c1)));
        const __m128i scale =
            _mm_unpacklo_epi64(_mm_set1_epi16(short(reciprocal16[c0])), _mm_set1_epi16(short(reciprocal16[c1])));
        __m128i q = _mm_mulhi_epu16(sum, scale);
        const __m128i rest = _mm_sub_epi16(sum, _mm_mullo_epi16(q, counts));
        // rest >= count adds one (the compare gives -1 there).
        q = _mm_sub_epi16(q, _mm_cmpgt_epi16(rest, _mm_sub_epi16(counts, one)));
        const __m128i bytes = _mm_packus_epi16(q, q);
        uint8_t* at = out + 3 * size_t(t);
        // Blue, green, red of the first pixel in bytes 0 to 2, of the second in 4 to 6; the
        // fourth byte of each store is overwritten by the pixel after it.
        const uint64_t both = uint64_t(_mm_cvtsi128_si64(bytes));
        const uint32_t first = uint32_t(both), second = uint32_t(both >> 32);
        memcpy(at, &first, 4);
        if (t + 2 < nw)
            memcpy(at + 3, &second, 4);
        else
            memcpy(at + 3, &second, 3);
    }
    return t;
}
#endif

} // namespace

// Each target column takes the source columns up to the one where the running sum of the new
// width first exceeds the old; each target row the source rows up to the one where the running
// sum of the new height reaches the old. The rows of a band are added column by column first
// (32-bit sums, a byte at a time, flushed into 64-bit ones long before they could overflow), and
// the columns of each target pixel gathered after; a target pixel may gather every pixel of the
// largest image the library allows. Wide images go in stripes of whole target columns.
bool PxImage::QIShrink(int32_t newWidth, int32_t newHeight, PxImage* destination, bool changeTo24Bits)
{
    if (!m_block || newWidth < 1 || newHeight < 1)
        return false;
    const int32_t w = m_head.width, h = m_head.height;
    if (newWidth > w || newHeight > h) {
        SetLastError("QIShrink can't enlarge image");
        return false;
    }
    const bool palette = m_head.clrUsed != 0;
    PxImage target(0);
    bool sameSize;
    if (!StartResize(newWidth, newHeight, changeTo24Bits ? 24 : m_head.bitCount, target, destination, sameSize) ||
        sameSize)
        return sameSize;
    if (m_alpha && !target.AlphaCreate()) {
        SetLastError("QIShrink can't allocate memory");
        return false;
    }
    const bool withAlpha = m_alpha != nullptr;
    const uint32_t nw = uint32_t(newWidth);
    const size_t channels = withAlpha ? 4 : 3;
    // Source columns per stripe, and rows per flush of the 32-bit sums (255 x rows < 2^32).
    constexpr uint32_t kStripe = 1u << 20;
    constexpr uint32_t kFlushRows = 16000000;
    const uint32_t stripe = std::min<uint32_t>(uint32_t(w), kStripe);
    std::vector<uint32_t> colStart, rowSums, alphaSums;
    std::vector<uint16_t> narrowSums, narrowAlpha;
    std::vector<uint64_t> sums;
    std::vector<uint8_t> colours;
    try {
        colStart.resize(size_t(nw) + 1);
        rowSums.resize(3 * size_t(stripe));
        alphaSums.resize(withAlpha ? size_t(stripe) : 0);
        narrowSums.resize(3 * size_t(stripe) + 1); // + 1: the last pixel's sums are read four at a time
        narrowAlpha.resize(withAlpha ? size_t(stripe) : 0);
        sums.resize(channels * (size_t(stripe) + 1));
        if (palette)
            colours.resize(3 * size_t(stripe));
    } catch (const std::bad_alloc&) {
        SetLastError("QIShrink can't allocate memory");
        return false;
    }
    int64_t running = 0;
    uint32_t col = 0;
    for (int32_t x = 0; x < w; ++x) {
        running += newWidth;
        if (running > w && col + 1 < nw) {
            colStart[++col] = uint32_t(x) + 1;
            running -= w;
        }
    }
    colStart[nw] = uint32_t(w);
    const auto columnOf = [&](uint32_t x) {
        return uint32_t(std::upper_bound(colStart.begin(), colStart.end(), x) - colStart.begin()) - 1;
    };

    // sum / count, by a multiplication with the rounded-up reciprocal of the count, which is
    // exact for sums and counts below 2^32; a division otherwise. The counts take few values.
    uint64_t lastCount = 0;
    unsigned __int128 reciprocal = 0;
    const auto divide = [&](uint64_t sum, uint64_t count) {
        if (sum >> 32 || count >> 32)
            return uint8_t(sum / count);
        if (count != lastCount) {
            lastCount = count;
            reciprocal = (~(unsigned __int128)0 >> 64) / count + 1;
        }
        return uint8_t(uint64_t((sum * reciprocal) >> 64));
    };
    // Adds the rows of a band to the sums of each source column of a stripe, then those into the
    // 64-bit sums of the target columns; false when cancelled.
    bool addedBand = true;
    const auto AddBand = [&](auto& columnSums, auto& alphaColumnSums, int32_t bandStart, int32_t bandEnd, uint32_t s0,
                             uint32_t span, uint32_t t0, uint32_t t1) {
        using Sum = typename std::decay_t<decltype(columnSums)>::value_type;
        const size_t bytes = 3 * size_t(span), pixels = span;
        const auto flush = [&]() {
            for (uint32_t t = t0; t < t1; ++t) {
                uint64_t* total = &sums[channels * (t - t0)];
                const uint32_t from = std::max(colStart[t], s0), to = std::min(colStart[t + 1], s0 + span);
                uint64_t b = 0, g = 0, r = 0, a = 0;
                for (uint32_t i = from; i < to; ++i) {
                    const Sum* in = &columnSums[3 * size_t(i - s0)];
                    b += in[0];
                    g += in[1];
                    r += in[2];
                    if (withAlpha)
                        a += alphaColumnSums[i - s0];
                }
                total[0] += b;
                total[1] += g;
                total[2] += r;
                if (withAlpha)
                    total[3] += a;
            }
            std::fill(columnSums.begin(), columnSums.begin() + ptrdiff_t(bytes), 0);
            if (withAlpha)
                std::fill(alphaColumnSums.begin(), alphaColumnSums.begin() + ptrdiff_t(pixels), 0);
        };
        // The column sums start at zero (as made, and as every flush leaves them).
        uint32_t pending = 0;
        for (int32_t row = bandStart; row < bandEnd; ++row) {
            if (Cancelled(*this, row, h)) {
                addedBand = false;
                return;
            }
            const uint8_t* in = GetRow(row) + 3 * size_t(s0);
            if (palette) {
                for (uint32_t x = 0; x < span; ++x) {
                    const RGBQuad c = GetPaletteColor(GetPixelIndexUnchecked(int32_t(s0 + x), row));
                    colours[3 * size_t(x)] = c.blue;
                    colours[3 * size_t(x) + 1] = c.green;
                    colours[3 * size_t(x) + 2] = c.red;
                }
                in = colours.data();
            }
            AddRows(columnSums.data(), &in, 1, bytes);
            if (withAlpha) {
                const uint8_t* a = m_alpha + uint64_t(row) * uint32_t(w) + s0;
                AddRows(alphaColumnSums.data(), &a, 1, pixels);
            }
            if (++pending == kFlushRows) {
                flush();
                pending = 0;
            }
        }
        flush();
    };
    int32_t y = 0;
    int64_t rowRunning = 0;
    // The band of source rows of the next target row: [start, y).
    const auto nextBand = [&]() {
        const int32_t bandStart = y;
        while (y < h) {
            ++y;
            rowRunning += newHeight;
            if (rowRunning >= h) {
                rowRunning -= h;
                break;
            }
        }
        return bandStart;
    };

    // The common case, a 24-bit picture whose target rows take at most 257 source rows and whose
    // rows fit one stripe: each band goes into 16-bit column sums and its target row is gathered
    // and divided straight away. A target pixel of fewer than 258 source pixels is gathered in
    // 16-bit lanes (255 x 257 < 2^16), larger ones in 32-bit lanes. Counts below 4096 divide by
    // multiplying with the reciprocal in floats: (sum + 0.5) / count lies at least 0.5 / count
    // from any whole number, more than the floats' error of at most 256 x 2^-23, so truncating
    // gives sum / count exactly.
    if (!palette && !withAlpha && !target.IsIndexed() && uint32_t(w) <= stripe &&
        (int64_t(h) + newHeight - 1) / newHeight <= 257) {
        constexpr uint32_t kPiece = 256;
#ifdef __SSE2__
        const __m128i zero = _mm_setzero_si128();
        const __m128 half = _mm_set1_ps(0.5f);
        uint16_t reciprocal16[258] = {};
        for (uint32_t c = 1; c < 258; ++c)
            reciprocal16[c] = uint16_t(std::min<uint32_t>(65535, 65536 / c));
#endif
        for (int32_t targetRow = 0; targetRow < newHeight; ++targetRow) {
            const int32_t bandStart = nextBand();
            const uint32_t bandRows = uint32_t(y - bandStart);
            for (int32_t row = bandStart; row < y; ++row)
                if (Cancelled(*this, row, h))
                    return false;
            uint8_t* out = target.GetRow(targetRow);
            uint32_t lastCount = 0;
            uint64_t inverse = 0;
#ifdef __SSE2__
            __m128 reciprocal = _mm_setzero_ps();
#endif
            // A piece of target columns at a time, its band summed and gathered at once, so that
            // the sums are still in the nearest cache when they are gathered.
            for (uint32_t t = 0; t < nw;) {
                const uint32_t pieceEnd = std::min(nw, t + kPiece);
                const size_t b0 = 3 * size_t(colStart[t]), pieceBytes = 3 * size_t(colStart[pieceEnd]) - b0;
                const uint8_t* rows[4];
                int pending = 0;
                bool first = true;
                for (int32_t row = bandStart; row < y; ++row) {
                    rows[pending++] = GetRow(row) + b0;
                    if (pending == 4 || row + 1 == y) {
                        if (first)
                            AddRows<uint16_t, true>(narrowSums.data() + b0, rows, pending, pieceBytes);
                        else
                            AddRows(narrowSums.data() + b0, rows, pending, pieceBytes);
                        first = false;
                        pending = 0;
                    }
                }
#ifdef __SSE2__
                t = GatherPairs(narrowSums.data(), colStart.data(), t, pieceEnd, nw, bandRows, reciprocal16, out);
#endif
                for (; t < pieceEnd; ++t) {
                    const uint32_t from = colStart[t], width = colStart[t + 1] - from;
                    const uint16_t* in = &narrowSums[3 * size_t(from)];
                    const uint32_t count = bandRows * width;
#ifdef __SSE2__
                    // Four 16-bit sums a load: blue, green, red, and the next pixel's blue (or the
                    // padding), which is never used.
                    __m128i lanes;
                    if (count <= 257) {
                        lanes = _mm_setzero_si128();
                        for (uint32_t i = 0; i < width; ++i, in += 3)
                            lanes = _mm_add_epi16(lanes, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in)));
                        lanes = _mm_unpacklo_epi16(lanes, zero);
                    } else {
                        lanes = _mm_setzero_si128();
                        for (uint32_t i = 0; i < width; ++i, in += 3)
                            lanes = _mm_add_epi32(
                                lanes, _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in)), zero));
                    }
                    if (count < 4096) {
                        if (count != lastCount) {
                            lastCount = count;
                            reciprocal = _mm_set1_ps(1.0f / float(count));
                        }
                        const __m128i q =
                            _mm_cvttps_epi32(_mm_mul_ps(_mm_add_ps(_mm_cvtepi32_ps(lanes), half), reciprocal));
                        const __m128i narrow = _mm_packs_epi32(q, q);
                        const uint32_t bytes = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(narrow, narrow)));
                        // Four bytes where the next pixel overwrites the fourth; three at the row's end.
                        if (t + 1 < nw)
                            memcpy(out + 3 * size_t(t), &bytes, 4);
                        else
                            memcpy(out + 3 * size_t(t), &bytes, 3);
                        continue;
                    }
                    const uint32_t b = uint32_t(_mm_cvtsi128_si32(lanes));
                    const uint32_t g = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(lanes, 4)));
                    const uint32_t r = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(lanes, 8)));
                    out[3 * t] = divide(b, count);
                    out[3 * t + 1] = divide(g, count);
                    out[3 * t + 2] = divide(r, count);
                    (void)inverse;
#else
                    uint32_t b = 0, g = 0, r = 0;
                    for (uint32_t i = 0; i < width; ++i, in += 3) {
                        b += in[0];
                        g += in[1];
                        r += in[2];
                    }
                    if (count >= 4104) {
                        out[3 * t] = divide(b, count);
                        out[3 * t + 1] = divide(g, count);
                        out[3 * t + 2] = divide(r, count);
                        continue;
                    }
                    if (count != lastCount) {
                        lastCount = count;
                        inverse = (uint64_t(1) << 32) / count + 1;
                    }
                    out[3 * t] = uint8_t((b * inverse) >> 32);
                    out[3 * t + 1] = uint8_t((g * inverse) >> 32);
                    out[3 * t + 2] = uint8_t((r * inverse) >> 32);
#endif
                }
            }
        }
        return HandOver(target, destination);
    }

    for (int32_t targetRow = 0; targetRow < newHeight; ++targetRow) {
        const int32_t bandStart = nextBand();
        const int32_t bandEnd = y;
        const uint64_t bandRows = uint64_t(bandEnd - bandStart);
        PxNearestCache cache;
        uint8_t* out = target.GetRow(targetRow);
        // The sums of a target column that runs on into the next stripe, in slot 0.
        bool carried = false;
        for (uint32_t s0 = 0; s0 < uint32_t(w); s0 += stripe) {
            const uint32_t s1 = std::min<uint32_t>(s0 + stripe, uint32_t(w)), span = s1 - s0;
            const uint32_t t0 = columnOf(s0), t1 = columnOf(s1 - 1) + 1;
            if (carried)
                std::fill(sums.begin() + ptrdiff_t(channels), sums.end(), 0);
            else
                std::fill(sums.begin(), sums.end(), 0);
            // A band of at most 257 rows fits 16-bit sums (255 x 257 = 65535): half the memory
            // to walk for each row added.
            if (bandRows <= 257)
                AddBand(narrowSums, narrowAlpha, bandStart, bandEnd, s0, span, t0, t1);
            else
                AddBand(rowSums, alphaSums, bandStart, bandEnd, s0, span, t0, t1);
            if (!addedBand)
                return false;
            for (uint32_t t = t0; t < t1; ++t) {
                const uint64_t* sum = &sums[channels * (t - t0)];
                if (colStart[t + 1] > s1) {
                    // Runs on into the next stripe: its sums move to slot 0.
                    std::copy(sum, sum + channels, sums.begin());
                    carried = true;
                    break;
                }
                carried = false;
                const RGBQuad c{divide(sum[0], bandRows * (colStart[t + 1] - colStart[t])),
                                divide(sum[1], bandRows * (colStart[t + 1] - colStart[t])),
                                divide(sum[2], bandRows * (colStart[t + 1] - colStart[t])),
                                withAlpha ? divide(sum[3], bandRows * (colStart[t + 1] - colStart[t])) : uint8_t(255)};
                if (target.IsIndexed()) {
                    target.SetPixelIndexUnchecked(int32_t(t), targetRow, target.GetNearestIndex(c, cache));
                } else {
                    out[3 * t] = c.blue;
                    out[3 * t + 1] = c.green;
                    out[3 * t + 2] = c.red;
                }
                if (withAlpha)
                    target.m_alpha[uint64_t(targetRow) * nw + t] = c.alpha;
            }
        }
    }
    return HandOver(target, destination);
}
