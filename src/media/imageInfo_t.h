// Identifies an image file by its signature and reads its pixel size and bit depth from the
// header alone, without decoding: JPEG, PNG, GIF, BMP, WebP and TIFF. Reads a few hundred
// bytes, seeks past everything else, and gives an all-zero record for anything it cannot
// read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "xclass/XStr.h"

namespace imageInfoDetail {
class fileIn;
}

struct imageInfo_t {
    const char* name = nullptr; // "JPEG", "PNG", "GIF", "BMP", "WebP", "TIFF"
    int32_t kind = 0;           // JPEG 1, PNG 2, GIF 3, BMP 4, WebP 5; 0 for TIFF and for none
    int32_t width = 0;
    int32_t height = 0;
    int32_t bitsPerPixel = 0;

    // The file is opened for reading under a shared lock.
    explicit imageInfo_t(const XStr& path);
    imageInfo_t(const uint8_t* data, size_t size);

    // Worked out while parsing; not part of what callers rely on.
    bool hasAlpha() const { return m_alpha; }

private:
    void take(imageInfoDetail::fileIn& in);
    bool m_alpha = false;
};
