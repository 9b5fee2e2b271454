// The image library's hot roads: decoding large BMPs from memory, encoding a large BMP into
// memory against the same write into a buffer sized beforehand, and the JPEG encoder at
// quality 85 against libjpeg's own cjpeg on the same 12-megapixel picture. Resampling
// (4000x3000 to 1000x750 averaging, 640x480 to 2560x1920 bilinear, bicubic and Lanczos) at 1,
// 2, 4 and 8 threads, in output pixels a second, against stb_image_resize on one thread and
// ffmpeg's scaler (a whole ffmpeg run, and the same run with the null filter to subtract);
// the fast shrink; and the nearest-entry search of a reduction to 8 bits, in ns a pixel.
//   build/bench/image_bench [--benchmark_filter=...]
//   build/bench/image_bench --pairs [ROUNDS]   (the shrink and enlargement targets, each
//                                              figure and its yardsticks in turn, 9 rounds)
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb/stb_image_resize.h>

#include "bench/BenchTime.h"
#include "image/PxFile.h"
#include "image/PxImage.h"

namespace {

PxImage Picture(int32_t width, int32_t height, bool alpha)
{
    PxImage image(width, height, 24);
    uint32_t state = 12345;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = image.GetRow(y);
        for (uint32_t i = 0; i < image.GetRowSize(); ++i) {
            state = state * 1103515245 + 12345;
            row[i] = uint8_t(state >> 16);
        }
    }
    if (alpha) {
        image.AlphaCreate();
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                image.AlphaSet(x, y, uint8_t(x + y));
    }
    return image;
}

std::string Encoded(PxImage& image)
{
    uint8_t* buffer = nullptr;
    int32_t size = 0;
    if (!image.EncodeToMemory(&buffer, &size, PXIMAGE_FORMAT_BMP))
        abort();
    std::string out(reinterpret_cast<char*>(buffer), size_t(size));
    PxImage::FreeEncodedBuffer(buffer);
    return out;
}

void DecodeBmp(benchmark::State& state, bool alpha)
{
    PxImage source = Picture(3840, 2400, alpha);
    const std::string file = Encoded(source);
    for (auto _ : state) {
        PxImage image;
        if (!image.DecodeMemory(reinterpret_cast<const uint8_t*>(file.data()), uint32_t(file.size()),
                                PXIMAGE_FORMAT_BMP))
            state.SkipWithError(image.GetLastError());
        benchmark::DoNotOptimize(image.GetPixelBlock());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.size()));
}

void BM_DecodeBmp24(benchmark::State& state)
{
    DecodeBmp(state, false);
}

void BM_DecodeBmp32(benchmark::State& state)
{
    DecodeBmp(state, true);
}

// About 100 MB of BMP.
PxImage& Large()
{
    static PxImage image = Picture(5800, 5760, false);
    return image;
}

void BM_EncodeToMemory100MB(benchmark::State& state)
{
    PxImage& image = Large();
    for (auto _ : state) {
        uint8_t* buffer = nullptr;
        int32_t size = 0;
        if (!image.EncodeToMemory(&buffer, &size, PXIMAGE_FORMAT_BMP))
            state.SkipWithError(image.GetLastError());
        benchmark::DoNotOptimize(buffer);
        PxImage::FreeEncodedBuffer(buffer);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.GetBlockSize() + 14));
}

// The same encode into a memory stream whose buffer was made big enough beforehand.
void BM_EncodePresized100MB(benchmark::State& state)
{
    PxImage& image = Large();
    for (auto _ : state) {
        PxMemFile memory;
        memory.Open();
        memory.Alloc(int64_t(image.GetBlockSize()) + 14);
        if (!image.Encode(&memory, PXIMAGE_FORMAT_BMP))
            state.SkipWithError(image.GetLastError());
        uint8_t* buffer = memory.GetBuffer(true);
        benchmark::DoNotOptimize(buffer);
        free(buffer);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.GetBlockSize() + 14));
}

// 4000 x 3000 of a smooth picture with some detail, as a photograph would be.
PxImage& Photo()
{
    static PxImage image = [] {
        PxImage p(4000, 3000, 24);
        uint32_t state = 1;
        for (int32_t y = 0; y < 3000; ++y) {
            uint8_t* row = p.GetRow(y);
            for (int32_t x = 0; x < 4000; ++x) {
                state = state * 1103515245 + 12345;
                const uint32_t grain = (state >> 16) & 31;
                row[3 * x] = uint8_t(x / 20 + grain);
                row[3 * x + 1] = uint8_t(y / 15 + (grain >> 1));
                row[3 * x + 2] = uint8_t((x + y) / 32 + (grain >> 2));
            }
        }
        return p;
    }();
    return image;
}

void BM_JpegEncode12MP(benchmark::State& state)
{
    PxImage& image = Photo();
    image.SetQuality(85);
    for (auto _ : state) {
        uint8_t* buffer = nullptr;
        int32_t size = 0;
        if (!image.EncodeToMemory(&buffer, &size, PXIMAGE_FORMAT_JPG))
            state.SkipWithError(image.GetLastError());
        benchmark::DoNotOptimize(buffer);
        PxImage::FreeEncodedBuffer(buffer);
    }
}

// Runs the comparison program argv names once per iteration and waits for it.
void RunEachIteration(benchmark::State& state, char* const* argv, const char* missing)
{
    for (auto _ : state) {
        pid_t pid;
        if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError(missing);
            break;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError((std::string(argv[0]) + " failed").c_str());
    }
}

// cjpeg reading the same pixels as a PPM file and writing to /dev/null: a whole program run.
void BM_CjpegEncode12MP(benchmark::State& state)
{
    PxImage& image = Photo();
    char path[] = "/tmp/image-bench-XXXXXX.ppm";
    const int fd = mkstemps(path, 4);
    if (fd < 0) {
        state.SkipWithError("no temporary file");
        return;
    }
    std::string ppm = "P6\n4000 3000\n255\n";
    ppm.reserve(ppm.size() + 36000000);
    for (int32_t y = 2999; y >= 0; --y) {
        const uint8_t* row = image.GetRow(y);
        for (int32_t x = 0; x < 4000; ++x) {
            ppm += char(row[3 * x + 2]);
            ppm += char(row[3 * x + 1]);
            ppm += char(row[3 * x]);
        }
    }
    if (write(fd, ppm.data(), ppm.size()) != ssize_t(ppm.size()))
        state.SkipWithError("short write");
    close(fd);
    char* argv[] = {const_cast<char*>("cjpeg"),
                    const_cast<char*>("-quality"),
                    const_cast<char*>("85"),
                    const_cast<char*>("-outfile"),
                    const_cast<char*>("/dev/null"),
                    path,
                    nullptr};
    RunEachIteration(state, argv, "cjpeg did not start (libjpeg-turbo-progs)");
    unlink(path);
}

// 640 x 480 of the same kind of picture.
PxImage& SmallPhoto()
{
    static PxImage image = [] {
        PxImage p;
        Photo().Resample2(640, 480, PxImage::InterpBilinear, PxImage::OverflowRepeat, &p);
        return p;
    }();
    return image;
}

void CountOutput(benchmark::State& state, int64_t width, int64_t height)
{
    state.counters["out_px"] =
        benchmark::Counter(double(state.iterations()) * double(width * height), benchmark::Counter::kIsRate);
}

// Argument 0: threads; argument 1: interpolation (0 for the averaging shrink).
void BM_Resample2(benchmark::State& state)
{
    const bool shrink = state.range(1) == 0;
    PxImage& source = shrink ? Photo() : SmallPhoto();
    const int32_t w = shrink ? 1000 : 2560, h = shrink ? 750 : 1920;
    source.SetThreadCount(int32_t(state.range(0)));
    const auto method = shrink ? PxImage::InterpBilinear : PxImage::InterpolationMethod(state.range(1));
    for (auto _ : state) {
        PxImage out;
        if (!source.Resample2(w, h, method, PxImage::OverflowRepeat, &out))
            state.SkipWithError(source.GetLastError());
        benchmark::DoNotOptimize(out.GetPixelBlock());
    }
    CountOutput(state, w, h);
}

void BM_QIShrink(benchmark::State& state)
{
    for (auto _ : state) {
        PxImage out;
        if (!Photo().QIShrink(1000, 750, &out))
            state.SkipWithError(Photo().GetLastError());
        benchmark::DoNotOptimize(out.GetPixelBlock());
    }
    CountOutput(state, 1000, 750);
}

// stb_image_resize on one thread: argument 0 is its filter (1 box for the shrink, 2 triangle,
// 4 Catmull-Rom, 5 Mitchell for the enlargements; it has no Lanczos).
void BM_Stb(benchmark::State& state)
{
    const auto filter = stbir_filter(state.range(0));
    const bool shrink = filter == STBIR_FILTER_BOX;
    PxImage& source = shrink ? Photo() : SmallPhoto();
    const int w = shrink ? 1000 : 2560, h = shrink ? 750 : 1920;
    std::vector<unsigned char> out(size_t(w) * size_t(h) * 3);
    for (auto _ : state) {
        if (!stbir_resize_uint8_generic(source.GetBits(), source.GetWidth(), source.GetHeight(),
                                        int(source.GetRowSize()), out.data(), w, h, 0, 3, -1, 0, STBIR_EDGE_CLAMP,
                                        filter, STBIR_COLORSPACE_LINEAR, nullptr))
            state.SkipWithError("stbir failed");
        benchmark::DoNotOptimize(out.data());
    }
    CountOutput(state, w, h);
}

// The pixels as a raw bgr24 file that ffmpeg reads.
std::string RawFile(PxImage& image, const char* name)
{
    const std::string path = std::string("/tmp/image-bench-") + name + ".bgr";
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return std::string();
    for (int32_t y = image.GetHeight() - 1; y >= 0; --y)
        fwrite(image.GetRow(y), 3, size_t(image.GetWidth()), f);
    fclose(f);
    return path;
}

// ffmpeg reading the raw pixels and scaling them with one filter thread; argument 0: 0 area
// shrink, 1 bilinear, 2 bicubic, 3 lanczos, each enlarging; argument 1: 1 for the null filter
// instead (what the run costs without scaling).
void BM_Ffmpeg(benchmark::State& state)
{
    static const char* flags[] = {"area", "bilinear", "bicubic", "lanczos"};
    const bool shrink = state.range(0) == 0;
    PxImage& source = shrink ? Photo() : SmallPhoto();
    const std::string raw = RawFile(source, shrink ? "large" : "small");
    const int w = shrink ? 1000 : 2560, h = shrink ? 750 : 1920;
    const std::string size = std::to_string(source.GetWidth()) + "x" + std::to_string(source.GetHeight());
    const std::string filter =
        state.range(1) ? std::string("null")
                       : "scale=" + std::to_string(w) + ":" + std::to_string(h) + ":flags=" + flags[state.range(0)];
    std::vector<std::string> args = {"ffmpeg",          "-v",    "error", "-nostdin", "-f", "rawvideo",
                                     "-pix_fmt",        "bgr24", "-s",    size,       "-i", raw,
                                     "-filter_threads", "1",     "-vf",   filter,     "-f", "rawvideo",
                                     "-pix_fmt",        "bgr24", "-y",    "/dev/null"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    if (raw.empty())
        state.SkipWithError("the raw picture could not be written");
    else
        RunEachIteration(state, argv.data(), "ffmpeg did not start");
    unlink(raw.c_str());
    CountOutput(state, w, h);
}

// Argument 0: 1 with error diffusion.
void BM_DecreaseBpp8(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        PxImage image(Photo(), true);
        state.ResumeTiming();
        if (!image.DecreaseBpp(8, state.range(0) != 0))
            state.SkipWithError(image.GetLastError());
        benchmark::DoNotOptimize(image.GetPixelBlock());
    }
    // Seconds a pixel, shown with its prefix (n for nanoseconds).
    state.counters["per_px"] = benchmark::Counter(double(state.iterations()) * 12e6,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// ---- interleaved rounds: each figure and its yardsticks in turn, so load hits them alike ----

struct Spread {
    std::vector<double> values;
    void Add(double v) { values.push_back(v); }
    double Median() const { return bench::Median(values); }
    double Min() const { return *std::min_element(values.begin(), values.end()); }
    double Max() const { return *std::max_element(values.begin(), values.end()); }
};

void Print(const char* what, const Spread& s, const char* unit)
{
    printf("  %-40s median %8.2f  min %8.2f  max %8.2f %s\n", what, s.Median(), s.Min(), s.Max(), unit);
}

template <class Work>
double Seconds(Work work)
{
    const auto start = bench::Clock::now();
    work();
    return bench::Since(start);
}

// The fast shrink against the averaging path of Resample2 on one thread, at a whole factor
// and at an uneven one; the one-thread bilinear enlargement against stb's triangle filter and
// against our own cubic (Keys). Times of one call, in ms, and their ratios round by round.
int Pairs(int rounds)
{
    PxImage& photo = Photo();
    photo.SetThreadCount(1);
    const int32_t shrinks[][2] = {{1000, 750}, {1280, 960}};
    for (const auto& size : shrinks) {
        Spread fast, averaging, ratio;
        for (int r = 0; r < rounds; ++r) {
            PxImage a, b;
            const double q = Seconds([&] {
                if (!photo.QIShrink(size[0], size[1], &a))
                    abort();
            });
            const double v = Seconds([&] {
                if (!photo.Resample2(size[0], size[1], PxImage::InterpBilinear, PxImage::OverflowRepeat, &b))
                    abort();
            });
            fast.Add(q * 1e3);
            averaging.Add(v * 1e3);
            ratio.Add(v / q);
        }
        printf("shrink 4000x3000 to %dx%d\n", size[0], size[1]);
        Print("QIShrink", fast, "ms");
        Print("Resample2 averaging, 1 thread", averaging, "ms");
        Print("averaging / QIShrink (target >= 5)", ratio, "");
        fflush(stdout);
    }
    PxImage& small = SmallPhoto();
    small.SetThreadCount(1);
    const int w = 2560, h = 1920;
    std::vector<unsigned char> stbOut(size_t(w) * size_t(h) * 3);
    Spread bilinear, stb, cubic, toStb, toCubic;
    for (int r = 0; r < rounds; ++r) {
        PxImage a, c;
        const double tb = Seconds([&] {
            if (!small.Resample2(w, h, PxImage::InterpBilinear, PxImage::OverflowRepeat, &a))
                abort();
        });
        const double ts = Seconds([&] {
            if (!stbir_resize_uint8_generic(small.GetBits(), small.GetWidth(), small.GetHeight(),
                                            int(small.GetRowSize()), stbOut.data(), w, h, 0, 3, -1, 0, STBIR_EDGE_CLAMP,
                                            STBIR_FILTER_TRIANGLE, STBIR_COLORSPACE_LINEAR, nullptr))
                abort();
        });
        const double tc = Seconds([&] {
            if (!small.Resample2(w, h, PxImage::InterpCubicKeys, PxImage::OverflowRepeat, &c))
                abort();
        });
        bilinear.Add(tb * 1e3);
        stb.Add(ts * 1e3);
        cubic.Add(tc * 1e3);
        toStb.Add(tb / ts);
        toCubic.Add(tb / tc);
    }
    printf("enlarge 640x480 to %dx%d, one thread\n", w, h);
    Print("Resample2 bilinear", bilinear, "ms");
    Print("stb triangle", stb, "ms");
    Print("Resample2 cubic (Keys)", cubic, "ms");
    Print("bilinear / stb (target <= 1.0)", toStb, "");
    Print("bilinear / cubic (target <= 1.0)", toCubic, "");
    return 0;
}

} // namespace

BENCHMARK(BM_Resample2)
    ->ArgsProduct({{1, 2, 4, 8}, {0, PxImage::InterpBilinear, PxImage::InterpCubicKeys, PxImage::InterpLanczos6}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_QIShrink)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stb)
    ->Arg(STBIR_FILTER_BOX)
    ->Arg(STBIR_FILTER_TRIANGLE)
    ->Arg(STBIR_FILTER_CATMULLROM)
    ->Arg(STBIR_FILTER_MITCHELL)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ffmpeg)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecreaseBpp8)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegEncode12MP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CjpegEncode12MP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBmp24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBmp32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeToMemory100MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodePresized100MB)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (argc >= 2 && strcmp(argv[1], "--pairs") == 0)
        return Pairs(argc >= 3 ? atoi(argv[2]) : 9);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
