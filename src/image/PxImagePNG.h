// Portable Network Graphics through libpng: every colour type and depth, Adam7, tRNS
// transparency, and reading at an integer fraction of the size. Format id 4.
#pragma once

#include "image/PxImage.h"

struct PxPngReader;
struct PxPngWriter;

// Codec option bits of the PNG slot. Adam7: set by the decoder when the file has it; the
// encoder writes it.
constexpr uint32_t PXPNG_INTERLACED = 0x1;
// The zlib level: 2 asks for 0, 4 for 1, 6 for 9, anything else for zlib's default.
constexpr uint32_t PXPNG_LEVEL_MASK = 0xE;

class PxImagePNG : public PxImage {
public:
    PxImagePNG() : PxImage(PXIMAGE_FORMAT_PNG) {}

    // With a requested size (SetRequestedSize) a plain 8-bit file that is not palette-based is
    // reduced by an integer factor while it is read: only the reduced picture and a row of the
    // file are held, never the whole picture.
    bool Decode(PxFile* stream);
    // Never changes the image it writes.
    bool Encode(PxFile* stream);
    // Widens a row of 2-bit pixels in place into 4-bit pixels of the same values.
    static void Expand2To4(uint8_t* row, uint32_t width);

private:
    // The parts that run while libpng may jump back: nothing in them has a destructor, and what
    // they allocate lives in the reader or writer record that the caller frees on every path.
    int ReadWith(PxPngReader& r);
    int ReadBody(PxPngReader& r);
    bool ReadPlain(PxPngReader& r);
    bool ReadReduced(PxPngReader& r);
    bool PlanWrite(PxPngWriter& w);
    bool PlanFilter(PxPngWriter& w);
    bool WriteWith(PxPngWriter& w);
    void WriteBody(PxPngWriter& w);
    const uint8_t* RowToWrite(PxPngWriter& w, int32_t y);
    uint32_t HighestIndexWritten(int32_t swap) const;
    bool Fail(const char* message);
};
