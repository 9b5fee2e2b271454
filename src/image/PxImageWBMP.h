// The wireless bitmap (type 0: one bit a pixel, multi-byte integer header), format id 9, and
// the SKA format (an 8-bit palette picture behind a 9-byte header), format id 18.
#pragma once

#include "image/PxImage.h"

class PxImageWBMP : public PxImage {
public:
    PxImageWBMP() : PxImage(PXIMAGE_FORMAT_WBMP) {}

    bool Decode(PxFile* stream);
    // Never changes the image it writes.
    bool Encode(PxFile* stream);
    // A multi-byte integer; false when the file ends before its last byte or it does not fit
    // 31 bits.
    static bool ReadOctet(PxFile* stream, uint32_t* value);
    static bool WriteOctet(PxFile* stream, uint32_t value);

private:
    bool Fail(const char* message);
};

class PxImageSKA : public PxImage {
public:
    PxImageSKA() : PxImage(PXIMAGE_FORMAT_SKA) {}

    bool Decode(PxFile* stream);
    // Never changes the image it writes: a 1- or 4-bit image is raised to 8 bits in a copy.
    bool Encode(PxFile* stream);

private:
    bool Fail(const char* message);
};
