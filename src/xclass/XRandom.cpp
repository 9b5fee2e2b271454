#include "xclass/XRandom.h"

#include <algorithm>
#include <cstring>
#include <ctime>

// Built before every other static object of the program, so that a clock-seeded XRandom
// made during static initialisation can already draw from it, and destroyed after them.
XRandom XGlobalRandom __attribute__((init_priority(101))){XRandom::GlobalInstanceTag{}};

namespace {
constexpr int kStateWords = 624;
constexpr uint32_t kBlockSize = 32768;
} // namespace

uint32_t XRandom::ClockSeed()
{
    const time_t now = time(nullptr);
    struct tm t {};
    localtime_r(&now, &t);
    const auto sq = [](int v) { return static_cast<uint32_t>(v) * static_cast<uint32_t>(v); };
    return sq(t.tm_sec) + sq(t.tm_min) + sq(t.tm_hour) + sq(t.tm_year) + sq(t.tm_yday) + static_cast<uint32_t>(clock());
}

XRandom::XRandom(GlobalInstanceTag) : Index(kStateWords)
{
    Seed(ClockSeed());
}

XRandom::XRandom() : Index(kStateWords)
{
    Seed(ClockSeed() + XGlobalRandom.Next(0));
}

XRandom::XRandom(uint32_t seed) : Index(kStateWords)
{
    Seed(seed);
}

XRandom::XRandom(const wchar_t* randomDataFile) : Index(kStateWords)
{
    if (randomDataFile)
        SourceFile.OpenRead(randomDataFile);
    Seed(static_cast<uint32_t>(clock()));
}

XRandom::~XRandom()
{
    SourceBuffer.Free();
    SourceFile.Close();
}

void XRandom::Seed(uint32_t seed)
{
    std::lock_guard<std::recursive_mutex> guard(Lock);
    State[0] = seed;
    for (int i = 1; i < kStateWords; ++i)
        State[i] = 1812433253u * (State[i - 1] ^ (State[i - 1] >> 30)) + static_cast<uint32_t>(i);
    Index = kStateWords;
}

uint32_t XRandom::NextGenerated()
{
    if (Index >= kStateWords) {
        for (int i = 0; i < kStateWords; ++i) {
            const uint32_t y = (State[i] & 0x80000000u) | (State[(i + 1) % kStateWords] & 0x7fffffffu);
            State[i] = State[(i + 397) % kStateWords] ^ (y >> 1) ^ ((y & 1u) ? 0x9908b0dfu : 0u);
        }
        Index = 0;
    }
    uint32_t y = State[Index++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9d2c5680u;
    y ^= (y << 15) & 0xefc60000u;
    y ^= y >> 18;
    return y;
}

void XRandom::CloseSource()
{
    SourceFile.Close();
}

void XRandom::Refill()
{
    if (SourceBuffer.Size == 0) {
        const int64_t n = SourceFile.GetSize();
        if (n < 4) {
            CloseSource();
            return;
        }
        const uint64_t block = std::min<uint64_t>(static_cast<uint64_t>(n), kBlockSize);
        if (!SourceBuffer.SetSize(block, false)) {
            CloseSource();
            return;
        }
        SourceBuffer.Size = block;
        SourceBuffer.Used = block;
        const uint32_t range = static_cast<uint32_t>(std::min<int64_t>(n, UINT32_MAX));
        if (!SourceFile.Seek(XGlobalRandom.Next(range), 0)) {
            CloseSource();
            return;
        }
    }
    if (SourceBuffer.Size - SourceBuffer.Used >= 4)
        return;
    const uint32_t size = static_cast<uint32_t>(SourceBuffer.Size);
    bool failed = false;
    uint32_t got = SourceFile.Read(SourceBuffer.Data, size, 2, &failed);
    if (failed)
        got = 0;
    if (got < size) {
        // The end of the file: go on from its start for the missing bytes.
        failed = false;
        const uint32_t more = SourceFile.Read(SourceBuffer.Data + got, size - got, 0, &failed);
        if (failed || got + more < size) {
            CloseSource();
            return;
        }
    }
    SourceBuffer.Used = 0;
}

uint32_t XRandom::Next(uint32_t range)
{
    std::lock_guard<std::recursive_mutex> guard(Lock);
    if (SourceFile.IsOpen()) {
        Refill();
        if (SourceFile.IsOpen()) {
            uint32_t b = 0;
            memcpy(&b, SourceBuffer.Data + SourceBuffer.Used, 4);
            SourceBuffer.Used = std::min<uint64_t>(SourceBuffer.Used + 4, SourceBuffer.Size);
            return range == 0 ? b : static_cast<uint32_t>((static_cast<uint64_t>(range) * b) >> 32);
        }
    }
    const uint32_t r = NextGenerated();
    if (range == 0)
        return r;
    // r as the top of the mantissa of a number in [1, 2): a uniform double in [0, 1).
    const uint64_t bits = 0x3FF0000000000000ull | (static_cast<uint64_t>(r) << 20);
    double d;
    memcpy(&d, &bits, sizeof d);
    d -= 1.0;
    const uint32_t v = static_cast<uint32_t>(d * range);
    return std::min(v, range - 1);
}
