// Growable block of bytes: file contents, tool output, multi-strings, tag data, HTTP bodies.
//
// XBuffer is deliberately a plain record without a destructor: owners keep it zero-filled
// (the member initialisers do that) and release Data with free(), or call Free().
#pragma once

#include <cstddef>
#include <cstdint>

struct XBuffer {
    uint8_t* Data = nullptr;
    uint64_t Size = 0;      // usable length in bytes
    uint64_t Allocated = 0; // bytes really allocated (>= Size; 0 when Data is null)
    uint64_t Used = 0;      // fill level kept by the owner, never above Size
    uint64_t Mark = 0;      // a second position kept by the owner, never above Size

    // Makes room for size bytes. A new block is taken only when the current one is too
    // small (or allowShrink asks for a smaller one); the reserve is added only then.
    // Returns true when Data is not null afterwards.
    bool SetSize(uint64_t size, bool keepContents = true, bool zeroFill = false, uint64_t reserve = 0,
                 bool allowShrink = false);
    // Replaces the contents with size bytes of data (nothing copied when data is null),
    // followed by extra bytes, zeroed when zeroExtra. Used = size.
    bool Assign(const void* data, uint64_t size, uint64_t extra = 0, bool zeroExtra = true);
    // Writes size bytes at pos (-1: at Size), growing as needed. Bytes between the old end
    // and pos, and the reserve behind the written bytes, are zero-filled.
    bool WriteAt(int64_t pos, const void* data, uint64_t size, uint64_t reserve = 0);
    bool Copy(const XBuffer& other);
    bool IsEqual(const XBuffer& other) const;
    // Releases the block and returns to the empty state.
    void Free();
};

// A block whose data pointer is aligned; the raw malloc'd pointer is Block.
struct XAlignedBuffer {
    uint8_t* Data = nullptr;
    void* Block = nullptr;
    uint64_t Size = 0;

    bool SetSize(uint64_t size, uint64_t alignment, bool zeroFill = false);
    void Free();
};
