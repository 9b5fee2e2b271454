// WebP through libwebp's simple interface (format id 21): whole files in memory both ways.
#pragma once

#include "image/PxImage.h"

class PxImageWebP : public PxImage {
public:
    PxImageWebP() : PxImage(PXIMAGE_FORMAT_WEBP) {}

    bool Decode(PxFile* stream);
    bool Encode(PxFile* stream);
};
