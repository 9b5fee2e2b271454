// Sampling between pixels and resampling: the resampler's fast rows give what the point sampler
// gives, any number of threads gives the same bytes, a cancel from another thread changes
// nothing, and points or sizes at the limits are defined.
#include <pthread.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "image/ImageTestUtil.h"
#include "image/PxImage.h"

namespace {

PxImage Noise(int32_t w, int32_t h, uint32_t seed, bool alpha = false)
{
    PxImage image(w, h, 24);
    std::mt19937 random(seed);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            image.SetPixelColor(x, y, RGBQuad{uint8_t(random()), uint8_t(x * 7 + y), uint8_t(random() % 64 + y), 0});
    if (alpha) {
        image.AlphaCreate();
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                image.AlphaSet(x, y, uint8_t(random()));
    }
    return image;
}

PxImage Uniform(int32_t w, int32_t h, uint8_t level)
{
    PxImage image(w, h, 24);
    image.Clear(level);
    return image;
}

bool Same(RGBQuad a, RGBQuad b, bool alpha)
{
    return a.blue == b.blue && a.green == b.green && a.red == b.red && (!alpha || a.alpha == b.alpha);
}

// Resample2's output against the point sampler's answer for every target pixel.
void ExpectPointForPoint(const PxImage& source, int32_t nw, int32_t nh, PxImage::InterpolationMethod method,
                         PxImage::OverflowMethod overflow = PxImage::OverflowRepeat)
{
    SCOPED_TRACE(testing::Message() << nw << "x" << nh << " method " << method << " overflow " << overflow);
    PxImage out;
    PxImage copy(source, true);
    ASSERT_TRUE(copy.Resample2(nw, nh, method, overflow, &out));
    const float xs = float(source.GetWidth()) / float(nw), ys = float(source.GetHeight()) / float(nh);
    const bool shrinking = xs > 1 || ys > 1;
    int differences = 0;
    for (int32_t y = 0; y < nh; ++y)
        for (int32_t x = 0; x < nw; ++x) {
            const float sx = (float(x) + 0.5f) * xs - 0.5f, sy = (float(y) + 0.5f) * ys - 0.5f;
            const RGBQuad want = shrinking ? source.SampleArea(sx, sy, xs, ys, method, overflow, nullptr)
                                           : source.SampleInterpolated(sx, sy, method, overflow, nullptr);
            differences += !Same(out.GetPixelColorUnchecked(x, y, true), want, source.AlphaIsValid());
        }
    EXPECT_EQ(differences, 0);
}

} // namespace

TEST(PxSampling, OverflowAndEdgeCases)
{
    PxImage image = Noise(10, 6, 1);
    const PxImage::OverflowMethod wrap = PxImage::OverflowWrap, mirror = PxImage::OverflowMirror;
    int32_t x = -1, y = 2;
    image.ApplyOverflow(x, y, wrap);
    EXPECT_EQ(x, 9);
    x = -1;
    image.ApplyOverflow(x, y, mirror);
    EXPECT_EQ(x, 1);
    x = 10;
    image.ApplyOverflow(x, y, mirror);
    EXPECT_EQ(x, 9);
    x = 12;
    image.ApplyOverflow(x, y, PxImage::OverflowRepeat);
    EXPECT_EQ(x, 9);
    x = INT32_MIN;
    y = INT32_MAX;
    image.ApplyOverflow(x, y, mirror);
    EXPECT_TRUE(image.IsInsideImage(x, y));

    const RGBQuad outside = image.SampleWithOverflow(-1, 0, PxImage::OverflowColor, nullptr);
    EXPECT_TRUE(Same(outside, RGBQuad{255, 255, 255, 0}, true)) << "white, alpha 0";
    EXPECT_TRUE(Same(image.SampleInterpolated(-0.7f, 0, PxImage::InterpNearest, PxImage::OverflowColor, nullptr),
                     image.GetPixelColorUnchecked(0, 0), false));
    const RGBQuad red{0, 0, 255, 255};
    for (int m = 0; m <= 19; ++m) {
        const auto method = PxImage::InterpolationMethod(m);
        if (method != PxImage::InterpNearest) {
            EXPECT_TRUE(Same(image.SampleInterpolated(-3, 2, method, PxImage::OverflowColor, &red), red, true)) << m;
        }
        // Points that are not numbers, or beyond any image, read as far outside, whatever the method.
        for (int o = 0; o <= 6; ++o) {
            const auto overflow = PxImage::OverflowMethod(o);
            for (float v : {NAN, INFINITY, -INFINITY, 3e38f, -3e38f, 2.2e9f}) {
                image.SampleInterpolated(v, 1, method, overflow, &red);
                image.SampleInterpolated(1, v, method, overflow, &red);
                image.SampleArea(v, 1, 4, 4, method, overflow, &red);
                image.SampleArea(3, 3, v, v, method, overflow, &red);
            }
            EXPECT_TRUE(Same(image.SampleInterpolated(NAN, 1, method, overflow, &red),
                             image.SampleInterpolated(NAN, NAN, method, overflow, &red), true));
        }
    }
    EXPECT_TRUE(
        Same(image.SampleInterpolated(NAN, 0, PxImage::InterpCubicKeys, PxImage::OverflowColor, &red), red, true));
    EXPECT_TRUE(Same(image.SampleInterpolated(5e37f, 0, PxImage::InterpLanczos6, PxImage::OverflowRepeat, nullptr),
                     image.GetPixelColorUnchecked(9, 0), false))
        << "repeat brings a huge coordinate back to the last column";

    // 0 and unknown methods are bilinear; an area of one pixel is a point.
    const float px = 3.3f, py = 2.6f;
    const RGBQuad bilinear = image.SampleInterpolated(px, py, PxImage::InterpBilinear, PxImage::OverflowPlain, nullptr);
    EXPECT_TRUE(Same(image.SampleInterpolated(px, py, PxImage::InterpDefault, PxImage::OverflowPlain, nullptr),
                     bilinear, true));
    EXPECT_TRUE(
        Same(image.SampleInterpolated(px, py, PxImage::InterpolationMethod(19), PxImage::OverflowPlain, nullptr),
             bilinear, true));
    EXPECT_TRUE(
        Same(image.SampleArea(px, py, 1, 1, PxImage::InterpBilinear, PxImage::OverflowPlain, nullptr), bilinear, true));

    // Kernels at their landmarks.
    EXPECT_FLOAT_EQ(PxImage::KernelBSpline(0), 2.0f / 3);
    EXPECT_FLOAT_EQ(PxImage::KernelCatmullRom(1), 0);
    EXPECT_FLOAT_EQ(PxImage::KernelLanczosSinc(0, 6), 1);
    EXPECT_FLOAT_EQ(PxImage::KernelLanczosSinc(6.5f, 6), 0);
    for (float t : {0.5f, 1.7f, 3.5f})
        EXPECT_NEAR(PxImage::KernelBessel(t), std::cyl_bessel_j(1.0, t * M_PI) / (2 * t), 1e-5) << t;

    // Polygon edges from one end of the coordinate range to the other are drawn, not overflowed.
    PxImage poly(16, 16, 24);
    const PxPoint far[] = {{INT32_MIN, INT32_MIN}, {INT32_MAX, 3}, {5, INT32_MAX}, {INT32_MIN + 1, 8}};
    EXPECT_TRUE(poly.SelectionAddPolygon(far, 4));
}

TEST(PxResample2, FastRowsAreThePointSamplersAnswer)
{
    const PxImage plain = Noise(37, 29, 2);
    const PxImage withAlpha = Noise(37, 29, 3, true);
    for (int m = 1; m <= 18; ++m) {
        ExpectPointForPoint(plain, 91, 67, PxImage::InterpolationMethod(m));
        ExpectPointForPoint(withAlpha, 80, 40, PxImage::InterpolationMethod(m));
    }
    for (auto overflow : {PxImage::OverflowWrap, PxImage::OverflowMirror, PxImage::OverflowBackground})
        for (auto method : {PxImage::InterpBilinear, PxImage::InterpCubicKeys, PxImage::InterpLanczos6})
            ExpectPointForPoint(withAlpha, 50, 33, method, overflow);
    // Shrinking averages the covered area, in both directions or in one.
    ExpectPointForPoint(Noise(97, 83, 4), 31, 27, PxImage::InterpBilinear);
    ExpectPointForPoint(Noise(97, 83, 5, true), 31, 27, PxImage::InterpBilinear);
    ExpectPointForPoint(plain, 11, 60, PxImage::InterpCubicKeys);

    // Without averaging a shrink samples points as an enlargement does; its last column lies
    // inside the picture, so the vector rows run to the row's very end.
    for (const PxImage* source : {&plain, &withAlpha})
        for (const auto& size : {std::pair{29, 17}, std::pair{36, 28}, std::pair{60, 20}}) {
            SCOPED_TRACE(testing::Message() << "no averaging " << size.first << "x" << size.second);
            PxImage copy(*source, true), out;
            ASSERT_TRUE(
                copy.Resample2(size.first, size.second, PxImage::InterpBilinear, PxImage::OverflowRepeat, &out, true));
            const float xs = float(source->GetWidth()) / float(size.first);
            const float ys = float(source->GetHeight()) / float(size.second);
            int differences = 0;
            for (int32_t y = 0; y < size.second; ++y)
                for (int32_t x = 0; x < size.first; ++x)
                    differences +=
                        !Same(out.GetPixelColorUnchecked(x, y, true),
                              source->SampleInterpolated((float(x) + 0.5f) * xs - 0.5f, (float(y) + 0.5f) * ys - 0.5f,
                                                         PxImage::InterpBilinear, PxImage::OverflowRepeat, nullptr),
                              source->AlphaIsValid());
            EXPECT_EQ(differences, 0);
        }

    // Palette images go through the nearest entry.
    PxImage palette(20, 10, 8);
    palette.SetGrayPalette();
    for (int32_t x = 0; x < 20; ++x)
        palette.SetPixelIndex(x, 3, uint8_t(x * 12));
    PxImage gray;
    ASSERT_TRUE(palette.Resample2(40, 20, PxImage::InterpBilinear, PxImage::OverflowRepeat, &gray));
    EXPECT_EQ(gray.GetBpp(), 8u);
    EXPECT_EQ(gray.GetPixelIndex(21, 7),
              palette.SampleInterpolated(10.25f, 3.25f, PxImage::InterpBilinear, PxImage::OverflowRepeat, nullptr).red);
}

TEST(PxResample2, AnyThreadCountGivesTheSameBytes)
{
    PxImage source = Noise(300, 200, 6, true);
    for (auto method : {PxImage::InterpBilinear, PxImage::InterpCatmullRom, PxImage::InterpLanczos6}) {
        std::string first;
        for (int32_t threads : {1, 3, 16}) {
            source.SetThreadCount(threads);
            PxImage out;
            ASSERT_TRUE(source.Resample2(700, 520, method, PxImage::OverflowRepeat, &out));
            const std::string f = ImageFingerprint(out);
            if (first.empty())
                first = f;
            EXPECT_TRUE(f == first) << "method " << method << ", " << threads << " threads";
        }
    }
    std::string first;
    for (int32_t threads : {1, 8}) {
        source.SetThreadCount(threads);
        PxImage out;
        ASSERT_TRUE(source.Resample2(130, 129, PxImage::InterpBilinear, PxImage::OverflowRepeat, &out));
        if (first.empty())
            first = ImageFingerprint(out);
        EXPECT_TRUE(ImageFingerprint(out) == first) << "averaging, " << threads << " threads";
    }
}

// A canceller waits for the resample to reach a random row, then sets the escape flag: the
// resample answers false and the image is as it was. A resample that finished first must have
// given the whole result.
TEST(PxResample2, CancelFromAnotherThreadChangesNothing)
{
    PxImage image = Noise(400, 300, 7, true);
    PxImage whole;
    image.SetThreadCount(4);
    ASSERT_TRUE(image.Resample2(2400, 1800, PxImage::InterpLanczos6, PxImage::OverflowRepeat, &whole));
    const std::string before = ImageFingerprint(image);
    std::mt19937 random(8);
    int cancelled = 0;
    // A loaded machine may run the canceller too late now and then: such rounds finish, are
    // checked as whole results, and more rounds follow until enough were cancelled.
    for (int round = 0; round < 200 && cancelled < 8; ++round) {
        image.SetEscape(0);
        image.SetProgress(0);
        const int32_t at = int32_t(random() % 60);
        std::atomic<bool> finished{false};
        std::thread canceller([&] {
            while (image.GetProgress() < at && !finished)
                std::this_thread::yield();
            image.SetEscape(1);
        });
        const bool done = image.Resample2(2400, 1800, PxImage::InterpLanczos6, PxImage::OverflowRepeat, nullptr);
        finished = true;
        canceller.join();
        if (done) {
            EXPECT_TRUE(ImageFingerprint(image) == ImageFingerprint(whole)) << "finished before the cancel";
            image = PxImage(Noise(400, 300, 7, true));
            image.SetThreadCount(4);
            continue;
        }
        ++cancelled;
        EXPECT_STREQ(image.GetLastError(), "Cancelled");
        EXPECT_TRUE(ImageFingerprint(image) == before) << "round " << round << ", cancelled at " << at << "%";
    }
    EXPECT_GE(cancelled, 8);
}

// With every new thread refused (a default stack no machine can give), the caller's own thread
// does all rows: same result, nothing thrown.
TEST(PxResample2, ThreadsThatCannotStartLeaveTheWorkToTheCaller)
{
    PxImage source = Noise(200, 150, 9);
    source.SetThreadCount(1);
    PxImage alone;
    ASSERT_TRUE(source.Resample2(400, 300, PxImage::InterpCubicKeys, PxImage::OverflowRepeat, &alone));
    pthread_attr_t saved, huge;
    ASSERT_EQ(pthread_getattr_default_np(&saved), 0);
    ASSERT_EQ(pthread_attr_init(&huge), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&huge, size_t(1) << 46), 0);
    ASSERT_EQ(pthread_setattr_default_np(&huge), 0);
    std::thread* probe = nullptr;
    bool refused = false;
    try {
        probe = new std::thread([] {});
    } catch (const std::system_error&) {
        refused = true;
    }
    source.SetThreadCount(8);
    PxImage out;
    bool ok = false;
    EXPECT_NO_THROW(ok = source.Resample2(400, 300, PxImage::InterpCubicKeys, PxImage::OverflowRepeat, &out));
    pthread_setattr_default_np(&saved);
    pthread_attr_destroy(&huge);
    pthread_attr_destroy(&saved);
    if (probe) {
        probe->join();
        delete probe;
    }
    if (!refused)
        GTEST_SKIP() << "this thread library starts threads with any default stack";
    EXPECT_TRUE(ok);
    EXPECT_TRUE(ImageFingerprint(out) == ImageFingerprint(alone));
}

TEST(PxResample, FixedModesAndTheFastShrink)
{
    PxImage grid(4, 4, 24);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x)
            grid.SetPixelColor(x, y, RGBQuad{uint8_t(x), uint8_t(y), 0, 0});
    PxImage nearest;
    ASSERT_TRUE(grid.Resample(2, 2, 1, &nearest));
    EXPECT_EQ(nearest.GetPixelColor(1, 0).blue, 2);
    EXPECT_EQ(nearest.GetPixelColor(1, 1).green, 2);
    EXPECT_FALSE(grid.Resample(0, 2, 0, &nearest));

    // The box average of a uniform picture is that picture, at every ratio.
    for (int32_t nw : {1, 3, 7, 29})
        for (int32_t nh : {2, 5, 30}) {
            PxImage box;
            ASSERT_TRUE(Uniform(97, 31, 77).Resample(nw, nh, 0, &box));
            for (int32_t y = 0; y < nh; ++y)
                for (int32_t x = 0; x < nw; ++x)
                    ASSERT_EQ(box.GetPixelColor(x, y).green, 77) << nw << "x" << nh << " at " << x << "," << y;
        }
    PxImage spline, plane = Noise(20, 10, 10, true);
    ASSERT_TRUE(plane.Resample(45, 25, 2, &spline));
    ASSERT_TRUE(spline.AlphaIsValid()) << "the plane is resampled with the pixels";

    // QIShrink: 10 columns to 3 take 4, 3 and 3 of them.
    PxImage ten(10, 1, 24);
    for (int32_t x = 0; x < 10; ++x)
        ten.SetPixelColor(x, 0, RGBQuad{uint8_t(x < 4 ? 10 : x < 7 ? 20 : 30), 0, 0, 0});
    PxImage three;
    ASSERT_TRUE(ten.QIShrink(3, 1, &three));
    EXPECT_EQ(three.GetPixelColor(0, 0).blue, 10);
    EXPECT_EQ(three.GetPixelColor(1, 0).blue, 20);
    EXPECT_EQ(three.GetPixelColor(2, 0).blue, 30);
    EXPECT_FALSE(ten.QIShrink(11, 1, &three));
    EXPECT_STREQ(ten.GetLastError(), "QIShrink can't enlarge image");
}

// QIShrink against the sums written out: columns and rows grouped by the running sums, each
// target pixel the truncated mean of its group, also across the stripes of a very wide image.
TEST(PxResample, FastShrinkIsTheMeanOfEachGroup)
{
    const auto groups = [](int32_t from, int32_t to, bool rows) {
        std::vector<int32_t> of(static_cast<size_t>(from));
        int64_t sum = 0;
        int32_t g = 0;
        for (int32_t i = 0; i < from; ++i) {
            of[size_t(i)] = std::min(g, to - 1);
            sum += to;
            if (rows ? sum >= from : sum > from) {
                ++g;
                sum -= from;
            }
        }
        return of;
    };
    struct Case {
        int32_t w, h, nw, nh;
        bool alpha;
    };
    for (const Case& c : {Case{37, 29, 10, 7, true}, Case{64, 48, 16, 12, false}, Case{2100000, 2, 3, 1, true},
                          Case{300, 600, 299, 1, false}, Case{97, 53, 13, 11, false}, Case{1001, 257, 3, 1, false},
                          Case{5000, 40, 2, 3, false}, Case{1500, 20, 600, 7, false}, Case{400, 30, 5, 2, false},
                          Case{2001, 9, 999, 9, false}, Case{1030, 700, 515, 350, false}}) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " to " << c.nw << "x" << c.nh);
        const PxImage image = Noise(c.w, c.h, 11, c.alpha);
        PxImage small;
        ASSERT_TRUE(PxImage(image, true).QIShrink(c.nw, c.nh, &small));
        const std::vector<int32_t> col = groups(c.w, c.nw, false), row = groups(c.h, c.nh, true);
        std::vector<uint64_t> sums(size_t(c.nw) * size_t(c.nh) * 5);
        for (int32_t y = 0; y < c.h; ++y)
            for (int32_t x = 0; x < c.w; ++x) {
                uint64_t* s = &sums[5 * (size_t(row[size_t(y)]) * size_t(c.nw) + size_t(col[size_t(x)]))];
                const RGBQuad p = image.GetPixelColorUnchecked(x, y, true);
                s[0] += p.blue;
                s[1] += p.green;
                s[2] += p.red;
                s[3] += p.alpha;
                ++s[4];
            }
        int wrong = 0;
        for (int32_t y = 0; y < c.nh; ++y)
            for (int32_t x = 0; x < c.nw; ++x) {
                const uint64_t* s = &sums[5 * (size_t(y) * size_t(c.nw) + size_t(x))];
                const RGBQuad p = small.GetPixelColorUnchecked(x, y, true);
                wrong += p.blue != s[0] / s[4] || p.green != s[1] / s[4] || p.red != s[2] / s[4] ||
                         (c.alpha && p.alpha != s[3] / s[4]);
            }
        EXPECT_EQ(wrong, 0);
    }
}

// A 2 x 8,000,000 picture shrunk to one pixel: 16 million pixels in one sum, beyond what a
// 32-bit sum or a float holds exactly.
TEST(PxResample, SumsHoldTheLargestImages)
{
    // 257 rows of white in a band: the most a 16-bit column sum takes.
    PxImage white = Uniform(600, 257, 255);
    PxImage few;
    ASSERT_TRUE(white.QIShrink(7, 1, &few));
    for (int32_t x = 0; x < 7; ++x)
        EXPECT_EQ(few.GetPixelColor(x, 0).green, 255) << x;

    PxImage tall = Uniform(2, 8000000, 100);
    PxImage one;
    ASSERT_TRUE(tall.QIShrink(1, 1, &one));
    EXPECT_EQ(one.GetPixelColor(0, 0).red, 100);
    ASSERT_TRUE(tall.Resample(1, 1, 0, &one));
    EXPECT_EQ(one.GetPixelColor(0, 0).red, 100);
    ASSERT_TRUE(tall.Resample2(1, 1, PxImage::InterpBilinear, PxImage::OverflowRepeat, &one));
    EXPECT_EQ(one.GetPixelColor(0, 0).red, 100);
    EXPECT_EQ(
        tall.SampleArea(0.5f, 3999999.5f, 2, 8000000, PxImage::InterpBilinear, PxImage::OverflowPlain, nullptr).green,
        100);
}
