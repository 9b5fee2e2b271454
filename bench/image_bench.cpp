// The image library's hot roads: decoding large BMPs from memory, encoding a large BMP into
// memory against the same write into a buffer sized beforehand, and the JPEG encoder at
// quality 85 against libjpeg's own cjpeg on the same 12-megapixel picture.
//   build/bench/image_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

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
    for (auto _ : state) {
        pid_t pid;
        if (posix_spawnp(&pid, "cjpeg", nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("cjpeg did not start (libjpeg-turbo-progs)");
            break;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("cjpeg failed");
    }
    unlink(path);
}

} // namespace

BENCHMARK(BM_JpegEncode12MP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CjpegEncode12MP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBmp24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBmp32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeToMemory100MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodePresized100MB)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
