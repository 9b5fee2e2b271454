// Windows icons and cursors: the icon directory, bitmap entries (information header, palette,
// colour rows and AND mask) and PNG entries. Format id 5.
#pragma once

#include <string>
#include <vector>

#include "image/PxImage.h"

class PxImageICO : public PxImage {
public:
    PxImageICO() : PxImage(PXIMAGE_FORMAT_ICO) {}

    // The entry at the frame index; the frame count is the directory's.
    bool Decode(PxFile* stream);
    // One image as a one-entry icon file. Never changes the image it writes.
    bool Encode(PxFile* stream);
    // Several images as one icon file: the directory, every entry, then every body in order.
    bool EncodeFrames(PxFile* stream, PxImage** images, int32_t count);

private:
    bool Fail(const char* message);
    void ApplyMask(const uint8_t* mask, uint32_t maskRow);
    // The entry's 16 directory bytes (its offset left 0) and its body.
    static bool MakeEntry(const PxImage& image, uint8_t entry[16], std::vector<uint8_t>& body, std::string& error);
};
