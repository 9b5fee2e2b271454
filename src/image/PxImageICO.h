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
    // One image as a one-entry icon file, or one piece of a file that a caller puts together
    // image by image: without append, the directory header for max(pageCount, 1) images (and,
    // when pageCount is 0, this image's entry and body); with append and pageCount equal to the
    // header's count, this image's directory entry; with append and a smaller pageCount, this
    // image's body. The offset of the next body is kept from call to call. Never changes the
    // image it writes.
    bool Encode(PxFile* stream, bool append = false, int32_t pageCount = 0);
    // Several images as one icon file: the directory, every entry, then every body in order.
    bool EncodeFrames(PxFile* stream, PxImage** images, int32_t count);

private:
    uint32_t m_nextBodyOffset = 0;
    int32_t m_pieceCount = 0;

    bool Fail(const char* message);
    // The AND mask becomes the alpha plane; at 8 bits or fewer it becomes a transparent index
    // in its place where one can be had, since few formats write a palette picture with alpha.
    void ApplyMask(const uint8_t* mask, uint32_t maskRow);
    // At 8 bits or fewer: the masked pixels on a transparent index of their own, when one can be
    // had, and the alpha plane dropped. An index counts as free only when no pixel outside the
    // mask uses it: a cursor's black lies under its mask and beside it too, and the black
    // beside it must keep showing.
    bool TransparentIndexFromMask(const uint8_t* mask, uint32_t maskRow);
    // The entry's 16 directory bytes (its offset left 0) and its body.
    static bool MakeEntry(const PxImage& image, uint8_t entry[16], std::vector<uint8_t>& body, std::string& error);
};
