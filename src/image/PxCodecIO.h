// Little helpers the small codecs share: little-endian fields, whole writes, and how many
// bytes a stream still holds (so that a header's sizes can be weighed before anything is
// allocated for them).
#pragma once

#include <cstdint>

#include <cstring>

#include "image/PxImage.h"

namespace pxio {

inline uint16_t Le16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

inline uint32_t Le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void PutLe16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void PutLe32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

inline bool WriteAll(PxFile* stream, const void* data, size_t size)
{
    return size == 0 || stream->Write(data, 1, size) == size;
}

// Bytes between the position and the end; as good as unlimited when the stream cannot say.
inline int64_t Remaining(PxFile* stream)
{
    const int32_t size = stream->Size(), at = stream->Tell();
    if (size < 0 || at < 0)
        return INT64_MAX;
    return size > at ? int64_t(size) - at : 0;
}

// A plain copy of the pixels and palette of an image that may be a ghost (copying a ghost
// with CopyFrom would give another ghost); the alpha plane too with withAlpha.
inline bool CopyPixels(const PxImage& from, PxImage& to, bool withAlpha = false)
{
    if (!from.IsValid() || !to.Create(from.GetWidth(), from.GetHeight(), from.GetBpp(), from.GetType()))
        return false;
    const size_t head = sizeof(PxBitmapInfoHeader);
    memcpy(to.GetPixelBlock() + head, from.GetPixelBlock() + head, from.GetBlockSize() - head);
    if (withAlpha && from.AlphaIsValid() && !to.AlphaCopy(from))
        return false;
    return true;
}

} // namespace pxio
