// The image library's hot roads: decoding large BMPs from memory, and encoding a large BMP
// into memory against the same write into a buffer sized beforehand.
//   build/bench/image_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

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

} // namespace

BENCHMARK(BM_DecodeBmp24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBmp32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeToMemory100MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodePresized100MB)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
