#include "xclass/XBuffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

bool XBuffer::SetSize(uint64_t size, bool keepContents, bool zeroFill, uint64_t reserve, bool allowShrink)
{
    const bool newBlock = Allocated == 0 || Allocated < size || (allowShrink && size < Allocated);
    if (newBlock) {
        const uint64_t n = size + reserve;
        auto* block = static_cast<uint8_t*>(malloc(std::max<uint64_t>(n, 1)));
        if (block && keepContents && Data)
            memcpy(block, Data, std::min(n, Size));
        free(Data);
        if (!block) {
            Data = nullptr;
            Size = Allocated = Used = Mark = 0;
            return false;
        }
        Data = block;
        Size = n;
        Allocated = std::max<uint64_t>(n, 1);
    } else {
        Size = size;
    }
    if (zeroFill && Size)
        memset(Data, 0, Size);
    Used = std::min(Used, Size);
    Mark = std::min(Mark, Size);
    return Data != nullptr;
}

bool XBuffer::Assign(const void* data, uint64_t size, uint64_t extra, bool zeroExtra)
{
    if (!SetSize(size + extra, false))
        return false;
    if (data && size)
        memcpy(Data, data, size);
    if (zeroExtra && extra)
        memset(Data + size, 0, extra);
    Used = size;
    return true;
}

bool XBuffer::WriteAt(int64_t pos, const void* data, uint64_t size, uint64_t reserve)
{
    const uint64_t at = pos < 0 ? Size : static_cast<uint64_t>(pos);
    const uint64_t oldSize = Data ? Size : 0;
    if (!SetSize(at + size + reserve, true))
        return false;
    // Never leave garbage in the gap between the old end and the write position,
    // nor in the reserve behind the written bytes: these buffers reach files and sockets.
    if (at > oldSize)
        memset(Data + oldSize, 0, at - oldSize);
    if (data && size)
        memcpy(Data + at, data, size);
    const uint64_t end = std::max(at + size, oldSize);
    if (Size > end)
        memset(Data + end, 0, Size - end);
    return true;
}

bool XBuffer::Copy(const XBuffer& other)
{
    if (&other == this)
        return Data != nullptr;
    if (!SetSize(other.Size, false))
        return false;
    if (other.Size)
        memcpy(Data, other.Data, other.Size);
    Used = other.Size;
    return true;
}

bool XBuffer::IsEqual(const XBuffer& other) const
{
    if (Size != other.Size)
        return false;
    return Size == 0 || memcmp(Data, other.Data, Size) == 0;
}

void XBuffer::Free()
{
    free(Data);
    *this = XBuffer{};
}

bool XAlignedBuffer::SetSize(uint64_t size, uint64_t alignment, bool zeroFill)
{
    if (Size != 0 && Size >= size) {
        Size = size;
    } else {
        free(Block);
        if (alignment == 0)
            alignment = 1;
        Block = malloc(alignment + std::max<uint64_t>(size, 1));
        if (!Block) {
            Data = nullptr;
            Size = 0;
            return false;
        }
        const auto raw = reinterpret_cast<uintptr_t>(Block);
        Data = reinterpret_cast<uint8_t*>((raw + alignment - 1) / alignment * alignment);
        Size = size;
    }
    if (zeroFill && size)
        memset(Data, 0, size);
    return Data != nullptr;
}

void XAlignedBuffer::Free()
{
    free(Block);
    *this = XAlignedBuffer{};
}
