// ZSoft PCX: the 128-byte header, byte runs, packed and planar pixel layouts, the 16-colour
// header palette and the 256-colour palette after the data. Format id 8.
#pragma once

#include <vector>

#include "image/PxImage.h"

class PxImagePCX : public PxImage {
public:
    PxImagePCX() : PxImage(PXIMAGE_FORMAT_PCX) {}

    bool Decode(PxFile* stream);
    // Never changes the image it writes.
    bool Encode(PxFile* stream);

    // One packed line of one plane to one index a byte; false for more than one plane.
    static bool UnpackPixels(uint8_t* out, const uint8_t* line, uint32_t bytesPerLine, uint32_t planes, uint32_t bits);
    // Planes of one bit a pixel to one index a byte (8 x bytesPerLine of them).
    static bool PlanesToPixels(uint8_t* out, const uint8_t* line, uint32_t bytesPerLine, uint32_t planes,
                               uint32_t bits);
    // Byte runs of up to 63 equal values.
    static void PackLine(const uint8_t* line, size_t length, std::vector<uint8_t>& out);

private:
    bool Fail(const char* message);
};
