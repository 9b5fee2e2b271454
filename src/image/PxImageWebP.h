// WebP through libwebp's simple interface (format id 21): whole files in memory both ways.
// The size the file declares is weighed against the pixel-block bound before libwebp
// allocates for the picture: a header of a few bytes can ask for 16383 x 16383 pixels, and
// the simple interface would allocate them.
#pragma once

#include "image/PxImage.h"

class PxImageWebP : public PxImage {
public:
    PxImageWebP() : PxImage(PXIMAGE_FORMAT_WEBP) {}

    bool Decode(PxFile* stream);
    bool Encode(PxFile* stream);
};
