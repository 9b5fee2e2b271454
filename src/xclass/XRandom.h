// XRandom: the library's random number source, a 32-bit Mersenne Twister (MT19937 with its
// standard 32-bit seeding and tempering) that can instead hand out the bytes of a file of
// random data. Every draw holds the instance's lock, so one instance can be shared by the
// conversion threads.
#pragma once

#include "xclass/XBuffer.h"
#include "xclass/XFile.h"

#include <cstdint>
#include <mutex>

class XRandom {
public:
    // Seeded from the local time and the processor time; every instance but XGlobalRandom
    // also mixes in a draw from XGlobalRandom, so instances made in the same second differ.
    XRandom();
    explicit XRandom(uint32_t seed);
    // Hands out the file's bytes, four at a time, from a random offset, wrapping to its
    // start; falls back to the generator for good once the file cannot serve.
    explicit XRandom(const wchar_t* randomDataFile);
    ~XRandom();

    XRandom(const XRandom&) = delete;
    XRandom& operator=(const XRandom&) = delete;

    // Re-initialises the generator state only.
    void Seed(uint32_t seed);
    // range 0: a full 32-bit number; otherwise 0 .. range - 1.
    uint32_t Next(uint32_t range);

    // Recursive: refilling the global instance from a file draws from the global instance.
    std::recursive_mutex Lock;
    uint32_t State[624];
    int Index;
    XFile SourceFile;
    XBuffer SourceBuffer; // Size: block length; Used: read position in the block

    // Only for XGlobalRandom: the clock seed without the draw from the global instance.
    struct GlobalInstanceTag {};
    explicit XRandom(GlobalInstanceTag);

private:
    static uint32_t ClockSeed();
    uint32_t NextGenerated();
    void Refill();
    void CloseSource();
};

// Built before other static objects and seeded from the clock.
extern XRandom XGlobalRandom;
