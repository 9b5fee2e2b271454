// Windows BMP: the file header, an information header, the palette and bottom-up rows
// (plain, RLE8, RLE4 or bit fields). Format id 1.
#pragma once

#include "image/PxImage.h"

class PxImageBMP : public PxImage {
public:
    PxImageBMP() : PxImage(PXIMAGE_FORMAT_BMP) {}

    bool Decode(PxFile* stream);
    // Never changes the image it writes.
    bool Encode(PxFile* stream);
    // Reads an information header of any known size into the 40-byte layout; masks take red,
    // green, blue and alpha where the header holds them.
    static bool ReadBitmapInfo(PxFile* stream, PxBitmapInfoHeader* header, uint32_t masks[4]);

private:
    bool Fail(const char* message);
    void DecodeRle8(PxFile* stream);
    void DecodeRle4(PxFile* stream);
    bool WriteAll(PxFile* stream, const void* data, size_t size);
};
