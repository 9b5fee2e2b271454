// GIF87a and GIF89a: frames composed on a canvas by their disposal methods, one frame or all
// of them kept; written as a palette picture, an animation from a frame array, or a 24-bit
// picture cut into palette tiles, with one of three image-data coders. Format id 2.
//
// Frames are composed on a canvas of colours rather than of indices, so that images with
// tables of their own keep their colours. The result is a palette image when every colour on
// the canvas is among the entries of the shown image's table that a picture of the canvas
// depth holds, else 24 bits.
//
// A small file can ask for a large screen and many frames, so before anything is allocated
// the canvas, its saved copy and the kept frames are counted against the pixel-block bound,
// and the pixel work (the area of every frame drawn, plus the screen for each) against a
// budget of its own. Images smaller than the screen without a global table are the tiles of
// one picture (as a 24-bit picture is written) only when together they cover the screen about
// once; otherwise they are an animation, and only the frames up to the one asked for are
// drawn, or all of them when all frames are to be kept. An image whose data gives no pixel is
// no frame.
//
// A 24-bit picture is written as tiles of 17 x 15 pixels: 255 colours and a transparent entry,
// so every tile fits one local table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/PxImage.h"

// The GIF codec option: which coder writes the image data.
enum : uint32_t {
    PXGIF_CODER_LZW = 0,
    // Every pixel a code of its own: large files, read by any decoder.
    PXGIF_CODER_PLAIN = 1,
    // Runs of equal pixels through codes any LZW decoder expands.
    PXGIF_CODER_RLE = 2,
};

class PxImageGIF : public PxImage {
public:
    PxImageGIF() : PxImage(PXIMAGE_FORMAT_GIF) {}

    bool Decode(PxFile* stream);
    // Never changes the image it writes (nor its frames).
    bool Encode(PxFile* stream);
    // An animation: the screen size and global table are frame 0's; with localTables every
    // later frame carries its own table; with localDisposal each frame's own disposal method
    // is written, else this image's.
    bool EncodeFrames(PxFile* stream, PxImage** frames, int32_t count, bool localTables = false,
                      bool localDisposal = false);

    int32_t GetLoops() const { return m_loops; }
    void SetLoops(int32_t loops) { m_loops = loops; }
    const char* GetComment() const { return m_comment.c_str(); }
    void SetComment(const char* text);

    // The bits, packets and pixel cursor of one image being written.
    struct Writer;

private:
    struct Descriptor {
        uint32_t left, top, width, height;
        uint8_t packed;
    };
    bool Fail(const char* message);
    // The images that fit the screen and whose data gives at least one pixel; the stream is
    // left where it was.
    std::vector<Descriptor> CountFrames(PxFile* stream, uint32_t& screenWidth, uint32_t& screenHeight);
    static bool OnScreen(const Descriptor& desc, uint32_t screenWidth, uint32_t screenHeight);
    // Reads one extension after its introducer; false ends the block loop.
    bool ReadExtension(PxFile* stream, int32_t& transparent, uint8_t& transparentByte, uint8_t& disposal,
                       uint32_t& delay);
    // The LZW data of one image into at most pixels indices, rows in file order (only counted
    // when out is null); the number of pixels decoded, or -1 when the initial code size is
    // outside 2 to 9. The stream is left behind the image's data.
    static int64_t DecodeImageData(PxFile* stream, std::vector<uint8_t>* out, uint64_t pixels);
    static void SkipSubBlocks(PxFile* stream);

    bool EncodeTrueColor(PxFile* stream);
    bool WriteImage(Writer& w, const PxImage& image, bool localTable);

    int32_t m_loops = 0;
    std::string m_comment;
};
