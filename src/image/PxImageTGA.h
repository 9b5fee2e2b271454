// Truevision TGA: colour-mapped, true-colour and grey pictures, plain or run-length coded, at
// 8, 15, 16, 24 and 32 bits; written uncompressed. Format id 7.
#pragma once

#include "image/PxImage.h"

class PxImageTGA : public PxImage {
public:
    PxImageTGA() : PxImage(PXIMAGE_FORMAT_TGA) {}

    bool Decode(PxFile* stream);
    // Never changes the image it writes.
    bool Encode(PxFile* stream);

private:
    bool Fail(const char* message);
};
