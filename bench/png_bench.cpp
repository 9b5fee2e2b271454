// The PNG codec's two heavy roads, each against a yardstick:
// - encoding a 12-megapixel 24-bit picture against ffmpeg's own PNG encoder on the same raw
//   pixels at the same zlib level (ffmpeg -compression_level), with a run of ffmpeg that reads
//   the same pixels and encodes nothing, so its start and its reading can be told apart;
// - loading an 8000x6000 PNG at a requested 800x600 against loading it whole, in time and in
//   peak memory: the bytes held by malloc at the worst moment of the load (counted by this
//   program's own malloc, which hands every call to the C library's), and the resident peak of
//   a fresh child process that loads the file from disk and nothing else.
// Pictures are made by ffmpeg when the program starts, in a temporary folder it removes again.
//   build/bench/png_bench [--benchmark_filter=...]
//   build/bench/png_bench --pairs [ROUNDS]   (each figure and its yardstick in turn, ROUNDS
//                                            times, 7 by default: median, min and max)
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/BenchTime.h"
#include "common/ToolRun.h"
#include "image/PxFile.h"
#include "image/PxImage.h"

// ---- peak heap: every allocation of the process goes through here ----

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
}

namespace {

std::atomic<int64_t> g_heapNow{0};
std::atomic<int64_t> g_heapPeak{0};

void Held(void* p, int64_t sign)
{
    if (!p)
        return;
    const int64_t now =
        g_heapNow.fetch_add(sign * int64_t(malloc_usable_size(p))) + sign * int64_t(malloc_usable_size(p));
    int64_t peak = g_heapPeak.load(std::memory_order_relaxed);
    while (now > peak && !g_heapPeak.compare_exchange_weak(peak, now)) {}
}

} // namespace

extern "C" void* malloc(size_t size)
{
    void* p = __libc_malloc(size);
    Held(p, 1);
    return p;
}

extern "C" void* calloc(size_t count, size_t size)
{
    void* p = __libc_calloc(count, size);
    Held(p, 1);
    return p;
}

extern "C" void* realloc(void* old, size_t size)
{
    Held(old, -1);
    void* p = __libc_realloc(old, size);
    // A failed realloc keeps the old block.
    Held(p ? p : (size ? old : nullptr), 1);
    return p;
}

extern "C" void free(void* p)
{
    Held(p, -1);
    __libc_free(p);
}

namespace {

constexpr int32_t kEncodeWidth = 4000, kEncodeHeight = 3000;
constexpr int32_t kLoadWidth = 8000, kLoadHeight = 6000;

// The pictures, by benchmark argument: 0 a synthetic one (flat colours, gradients, edges and
// text, as a contact sheet has them), 1 one with the smooth shading and the grain of a
// photograph, which deflate finds much harder.
const char* const kSources[] = {
    "testsrc2=size=%dx%d,format=rgb24",
    "mandelbrot=size=4000x3000:maxiter=200,scale=%dx%d,noise=alls=12:allf=t,format=rgb24",
};
constexpr int kPictures = 2;

struct Folder {
    std::string path;
    Folder()
    {
        char name[] = "/tmp/png_bench-XXXXXX";
        if (mkdtemp(name))
            path = name;
    }
    ~Folder()
    {
        if (!path.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    }
};

Folder& Temp()
{
    static Folder folder;
    return folder;
}

bool Ffmpeg(std::vector<std::string> args)
{
    args.insert(args.begin(), {"ffmpeg", "-v", "error", "-nostdin", "-y"});
    ToolRunOptions options;
    options.searchPath = true;
    // Waits without polling, so the child's time is measured as it is.
    options.timeoutMs = -1;
    const ToolRunResult r = RunProcess(args, options);
    if (r.status != 0)
        fprintf(stderr, "ffmpeg failed: %s\n", r.err.c_str());
    return r.status == 0;
}

std::string Lavfi(int picture, int32_t width, int32_t height)
{
    char text[200];
    snprintf(text, sizeof text, kSources[picture], width, height);
    return text;
}

std::string ReadAll(const std::string& path)
{
    std::string data;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return data;
    char chunk[1 << 16];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        data.append(chunk, n);
    fclose(f);
    return data;
}

// The raw top-down RGB pixels ffmpeg encodes, and the same picture as a 24-bit image.
const std::string& RawPath(int picture)
{
    static std::string paths[kPictures];
    std::string& path = paths[picture];
    if (path.empty()) {
        path = Temp().path + "/picture" + std::to_string(picture) + ".rgb";
        if (!Ffmpeg({"-f", "lavfi", "-i", Lavfi(picture, kEncodeWidth, kEncodeHeight), "-frames:v", "1", "-f",
                     "rawvideo", "-pix_fmt", "rgb24", path}))
            abort();
    }
    return path;
}

PxImage& Picture(int picture)
{
    static PxImage images[kPictures];
    PxImage& image = images[picture];
    if (!image.IsValid()) {
        const std::string raw = ReadAll(RawPath(picture));
        if (raw.size() != size_t(kEncodeWidth) * kEncodeHeight * 3)
            abort();
        image.Create(kEncodeWidth, kEncodeHeight, 24);
        for (int32_t y = 0; y < kEncodeHeight; ++y) {
            const uint8_t* in = reinterpret_cast<const uint8_t*>(raw.data()) + size_t(y) * kEncodeWidth * 3;
            uint8_t* out = image.GetRow(kEncodeHeight - 1 - y);
            for (int32_t x = 0; x < kEncodeWidth; ++x, in += 3, out += 3) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
            }
        }
    }
    return image;
}

// zlib level -> the codec option that asks for it (the default option is zlib's default, 6).
uint32_t OptionFor(int level)
{
    return level == 0 ? 2 : level == 1 ? 4 : level == 9 ? 6 : 0;
}

void BM_PngEncode(benchmark::State& state)
{
    const int level = int(state.range(1));
    PxImage& image = Picture(int(state.range(0)));
    image.SetCodecOption(OptionFor(level), PXIMAGE_FORMAT_PNG);
    int64_t bytes = 0;
    for (auto _ : state) {
        uint8_t* buffer = nullptr;
        int32_t size = 0;
        if (!image.EncodeToMemory(&buffer, &size, PXIMAGE_FORMAT_PNG))
            state.SkipWithError(image.GetLastError());
        bytes = size;
        PxImage::FreeEncodedBuffer(buffer);
    }
    state.counters["png_MB"] = double(bytes) / 1e6;
}

void BM_FfmpegPngEncode(benchmark::State& state)
{
    const std::string out = Temp().path + "/ffmpeg.png";
    const std::string size = std::to_string(kEncodeWidth) + "x" + std::to_string(kEncodeHeight);
    const std::string& raw = RawPath(int(state.range(0)));
    for (auto _ : state)
        if (!Ffmpeg({"-f", "rawvideo", "-pix_fmt", "rgb24", "-s", size, "-i", raw, "-frames:v", "1",
                     "-compression_level", std::to_string(state.range(1)), out}))
            state.SkipWithError("ffmpeg failed");
    state.counters["png_MB"] = double(std::filesystem::file_size(out)) / 1e6;
}

// The same ffmpeg run without the encoder: starting, reading the raw pixels, writing nothing.
void BM_FfmpegNoEncode(benchmark::State& state)
{
    const std::string size = std::to_string(kEncodeWidth) + "x" + std::to_string(kEncodeHeight);
    const std::string& raw = RawPath(int(state.range(0)));
    for (auto _ : state)
        if (!Ffmpeg({"-f", "rawvideo", "-pix_fmt", "rgb24", "-s", size, "-i", raw, "-frames:v", "1", "-c:v", "rawvideo",
                     "-f", "null", "-"}))
            state.SkipWithError("ffmpeg failed");
}

const std::string& LargePngPath(int picture)
{
    static std::string paths[kPictures];
    std::string& path = paths[picture];
    if (path.empty()) {
        path = Temp().path + "/large" + std::to_string(picture) + ".png";
        if (!Ffmpeg({"-f", "lavfi", "-i", Lavfi(picture, kLoadWidth, kLoadHeight), "-frames:v", "1", path}))
            abort();
    }
    return path;
}

const std::string& LargePng(int picture)
{
    static std::string bytes[kPictures];
    if (bytes[picture].empty())
        bytes[picture] = ReadAll(LargePngPath(picture));
    return bytes[picture];
}

void Load(benchmark::State& state, bool reduced)
{
    const std::string& file = LargePng(int(state.range(0)));
    int64_t peak = 0;
    int32_t width = 0;
    for (auto _ : state) {
        PxImage image;
        if (reduced)
            image.SetRequestedSize(kLoadWidth / 10, kLoadHeight / 10);
        const int64_t before = g_heapNow.load();
        g_heapPeak.store(before);
        if (!image.DecodeMemory(reinterpret_cast<const uint8_t*>(file.data()), uint32_t(file.size()),
                                PXIMAGE_FORMAT_PNG))
            state.SkipWithError(image.GetLastError());
        peak = g_heapPeak.load() - before;
        width = image.GetWidth();
    }
    state.counters["peak_heap_MB"] = double(peak) / 1e6;
    state.counters["width"] = width;
    state.counters["png_MB"] = double(file.size()) / 1e6;
}

void BM_PngLoadFull(benchmark::State& state)
{
    Load(state, false);
}

void BM_PngLoadReduced(benchmark::State& state)
{
    Load(state, true);
}

// The resident peak of this process's own memory: VmHWM, not getrusage's maxrss, which a
// spawned child inherits from the parent whose memory it started in.
long ResidentPeakKb()
{
    FILE* status = fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kb = -1;
    while (fgets(line, sizeof line, status))
        if (strncmp(line, "VmHWM:", 6) == 0)
            kb = atol(line + 6);
    fclose(status);
    return kb;
}

int LoadChild(const char* mode, const char* path)
{
    PxImage image;
    if (strcmp(mode, "reduced") == 0)
        image.SetRequestedSize(kLoadWidth / 10, kLoadHeight / 10);
    else if (strcmp(mode, "none") == 0)
        return printf("%ld\n", ResidentPeakKb()) < 0;
    if (!image.Load(path, PXIMAGE_FORMAT_PNG)) {
        fprintf(stderr, "%s\n", image.GetLastError());
        return 1;
    }
    printf("%ld\n", ResidentPeakKb());
    return 0;
}

// A child of this program that loads the file from disk (streamed through stdio) and reports
// its resident peak; "none" loads nothing and gives the size of the program itself.
void BM_PngLoadResidentPeak(benchmark::State& state)
{
    const char* const modes[] = {"none", "full", "reduced"};
    const std::string& path = LargePngPath(int(state.range(0)));
    long peakKb = 0;
    for (auto _ : state) {
        ToolRunOptions options;
        options.timeoutMs = -1;
        const ToolRunResult r = RunProcess({"/proc/self/exe", "--load-child", modes[state.range(1)], path}, options);
        if (r.status != 0)
            state.SkipWithError(r.err.c_str());
        peakKb = atol(r.out.c_str());
    }
    state.counters["resident_peak_MB"] = double(peakKb) / 1e3;
}

// ---- interleaved pairs: the figure and its yardstick taking turns, so load hits both ----

struct Spread {
    std::vector<double> values;
    void Add(double v) { values.push_back(v); }
    double Median() const { return bench::Median(values); }
    double Min() const { return *std::min_element(values.begin(), values.end()); }
    double Max() const { return *std::max_element(values.begin(), values.end()); }
};

void Print(const char* what, const Spread& s, const char* unit)
{
    printf("  %-34s median %8.2f  min %8.2f  max %8.2f %s\n", what, s.Median(), s.Min(), s.Max(), unit);
}

double EncodeOnce(PxImage& image, int64_t& bytes)
{
    const auto start = bench::Clock::now();
    uint8_t* buffer = nullptr;
    int32_t size = 0;
    if (!image.EncodeToMemory(&buffer, &size, PXIMAGE_FORMAT_PNG))
        abort();
    const double seconds = bench::Since(start);
    bytes = size;
    PxImage::FreeEncodedBuffer(buffer);
    return seconds;
}

double Timed(const std::vector<std::string>& args)
{
    const auto start = bench::Clock::now();
    if (!Ffmpeg(args))
        abort();
    return bench::Since(start);
}

// Ours against ffmpeg's encoder (its run less the run that encodes nothing), per picture and
// level; then the reduced load against the full one.
int Pairs(int rounds)
{
    const std::string size = std::to_string(kEncodeWidth) + "x" + std::to_string(kEncodeHeight);
    const std::string out = Temp().path + "/ffmpeg.png";
    for (int picture = 0; picture < kPictures; ++picture)
        for (int level : {1, 6, 9}) {
            PxImage& image = Picture(picture);
            image.SetCodecOption(OptionFor(level), PXIMAGE_FORMAT_PNG);
            const std::string& raw = RawPath(picture);
            const std::vector<std::string> encode = {"-f",
                                                     "rawvideo",
                                                     "-pix_fmt",
                                                     "rgb24",
                                                     "-s",
                                                     size,
                                                     "-i",
                                                     raw,
                                                     "-frames:v",
                                                     "1",
                                                     "-compression_level",
                                                     std::to_string(level),
                                                     out};
            const std::vector<std::string> none = {"-f",   "rawvideo", "-pix_fmt", "rgb24",     "-s",
                                                   size,   "-i",       raw,        "-frames:v", "1",
                                                   "-c:v", "rawvideo", "-f",       "null",      "-"};
            Spread ours, theirs, ratio;
            int64_t bytes = 0;
            for (int r = 0; r < rounds; ++r) {
                const double a = EncodeOnce(image, bytes);
                const double b = Timed(encode) - Timed(none);
                ours.Add(a * 1e3);
                theirs.Add(b * 1e3);
                ratio.Add(a / b);
            }
            printf("encode picture %d (%s) level %d: ours %.2f MB, ffmpeg %.2f MB\n", picture,
                   picture ? "photo-like" : "flat", level, double(bytes) / 1e6,
                   double(std::filesystem::file_size(out)) / 1e6);
            Print("ours", ours, "ms");
            Print("ffmpeg's encoder", theirs, "ms");
            Print("ours / ffmpeg's (target <= 1.2)", ratio, "");
            fflush(stdout);
        }
    for (int picture = 0; picture < kPictures; ++picture) {
        const std::string& file = LargePng(picture);
        Spread full, reduced, ratio;
        int32_t width = 0;
        for (int r = 0; r < rounds; ++r) {
            double t[2];
            for (int mode = 0; mode < 2; ++mode) {
                PxImage image;
                if (mode)
                    image.SetRequestedSize(kLoadWidth / 10, kLoadHeight / 10);
                const auto start = bench::Clock::now();
                if (!image.DecodeMemory(reinterpret_cast<const uint8_t*>(file.data()), uint32_t(file.size()),
                                        PXIMAGE_FORMAT_PNG))
                    abort();
                t[mode] = bench::Since(start);
                width = image.GetWidth();
            }
            full.Add(t[0] * 1e3);
            reduced.Add(t[1] * 1e3);
            ratio.Add(t[0] / t[1]);
        }
        printf("load %dx%d picture %d (%s) at %dx%d\n", kLoadWidth, kLoadHeight, picture,
               picture ? "photo-like" : "flat", width, width * kLoadHeight / kLoadWidth);
        Print("full load", full, "ms");
        Print("reduced load", reduced, "ms");
        Print("full / reduced (target >= 2)", ratio, "");
        fflush(stdout);
    }
    return 0;
}

} // namespace

// Arguments: picture, then zlib level (or, for the resident peak: nothing, full, reduced).
BENCHMARK(BM_PngEncode)->ArgsProduct({{0, 1}, {1, 6, 9}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FfmpegPngEncode)->ArgsProduct({{0, 1}, {1, 6, 9}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FfmpegNoEncode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PngLoadFull)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PngLoadReduced)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PngLoadResidentPeak)
    ->ArgsProduct({{0, 1}, {0, 1, 2}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char** argv)
{
    if (argc == 4 && strcmp(argv[1], "--load-child") == 0)
        return LoadChild(argv[2], argv[3]);
    if (argc >= 2 && strcmp(argv[1], "--pairs") == 0)
        return Pairs(argc >= 3 ? atoi(argv[2]) : 7);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
