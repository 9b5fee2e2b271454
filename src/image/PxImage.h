// The raster image: a bottom-up device-independent bitmap in memory with its palette, an
// optional alpha plane, an optional selection, optional frames and layers, and the settings
// every decoder and encoder reads. Reports by result and by an English last-error text;
// nothing throws out of it. One image is used by one thread at a time, except that another
// thread may set the escape flag (to cancel) and read the progress.
//
// The pixels live in one block, laid out as a device-independent bitmap in memory: the
// 40-byte information header, the palette, then the rows.
// Every size is worked out in 64 bits and held under one bound on the pixel block
// (PXIMAGE_MAX_MEMORY), because the sizes come from files; a new image is zero-filled, so a
// decoder that stops early never shows old memory.
//
// A decode works on a format object of its own and moves the result over only on success, so
// a failed or cancelled decode leaves the caller's image as it was. An encode works on a ghost
// (an image that shares the caller's storage) and never changes what it encodes: the caller
// may encode one picture in several formats.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>

#include "image/JpegExifInfo.h"
#include "image/PxFile.h"

// Blue, green, red, alpha; packed into 32 bits blue is the low byte.
struct RGBQuad {
    uint8_t blue;
    uint8_t green;
    uint8_t red;
    uint8_t alpha;
};

// 0x00BBGGRR.
using ColorRef = uint32_t;

inline uint32_t PxPack(RGBQuad c)
{
    return uint32_t(c.blue) | uint32_t(c.green) << 8 | uint32_t(c.red) << 16 | uint32_t(c.alpha) << 24;
}
inline RGBQuad PxUnpack(uint32_t v)
{
    return RGBQuad{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

// The published 40-byte bitmap information header.
#pragma pack(push, 1)
struct PxBitmapInfoHeader {
    uint32_t size;
    int32_t width;
    int32_t height;
    uint16_t planes;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t sizeImage;
    int32_t xPelsPerMeter;
    int32_t yPelsPerMeter;
    uint32_t clrUsed;
    uint32_t clrImportant;
};
#pragma pack(pop)
static_assert(sizeof(PxBitmapInfoHeader) == 40);

struct PxRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

struct PxPoint {
    int32_t x;
    int32_t y;
};

// A point and a rectangle in pixel units, for sampling between pixel centres. The unit square
// of pixel (i, j) is (i - 0.5, j - 0.5, i + 0.5, j + 0.5).
struct PxPointF {
    float x = 0;
    float y = 0;
    PxPointF() = default;
    PxPointF(float px, float py) : x(px), y(py) {}
    float Distance(const PxPointF& other) const { return Distance(other.x, other.y); }
    float Distance(float px, float py) const;
};

struct PxRectF {
    float left = 0;
    float top = 0;
    float right = 0;
    float bottom = 0;
    PxRectF() = default;
    PxRectF(float l, float t, float r, float b) : left(l), top(t), right(r), bottom(b) {}
    float Width() const { return right - left; }
    float Height() const { return bottom - top; }
    float Area() const { return Width() * Height(); }
    PxPointF Centre() const { return PxPointF((left + right) / 2, (top + bottom) / 2); }
    // The all-zero rectangle when the two do not meet.
    PxRectF Intersect(const PxRectF& other) const;
};

// The last colour looked up in a palette and the index found for it.
struct PxNearestCache {
    uint32_t colour = 0;
    bool valid = false;
    uint8_t index = 0;
};

// Copied whole between an image and the short-lived format objects that decode and encode
// it. Plain data only: no pointer into any image.
struct PxSettings {
    uint32_t rowSize;
    uint32_t type;
    char lastError[256];
    int32_t backgroundIndex;
    RGBQuad backgroundColor;
    float quality;
    uint8_t jpegScale;
    int32_t frameIndex;
    int32_t frameCount;
    uint32_t frameDelay;
    int32_t xDpi;
    int32_t yDpi;
    PxRect selectionBox;
    uint8_t alphaMax;
    bool paletteAlpha;
    bool enabled;
    int32_t xOffset;
    int32_t yOffset;
    uint32_t codecOptions[11];
    int32_t layerCount;
    uint32_t flags;
    uint8_t disposal;
    bool retrieveAllFrames;
    bool littleEndianHost;
    int32_t requestedWidth;
    int32_t requestedHeight;
    int32_t scale;
    int32_t threadCount;
    JpegExifInfo exif;
};

// Format ids.
enum : uint32_t {
    PXIMAGE_FORMAT_UNKNOWN = 0,
    PXIMAGE_FORMAT_BMP = 1,
    PXIMAGE_FORMAT_GIF = 2,
    PXIMAGE_FORMAT_JPG = 3,
    PXIMAGE_FORMAT_PNG = 4,
    PXIMAGE_FORMAT_ICO = 5,
    PXIMAGE_FORMAT_TGA = 7,
    PXIMAGE_FORMAT_PCX = 8,
    PXIMAGE_FORMAT_WBMP = 9,
    PXIMAGE_FORMAT_WMF = 10,
    PXIMAGE_FORMAT_SKA = 18,
    PXIMAGE_FORMAT_WEBP = 21,
};

// The largest pixel block an image may hold.
constexpr int64_t PXIMAGE_MAX_MEMORY = 268435456;

// The grey level of a colour: (117 blue + 601 green + 306 red) >> 10.
inline uint8_t PxGrayLevel(uint8_t blue, uint8_t green, uint8_t red)
{
    return uint8_t((blue * 117 + green * 601 + red * 306) >> 10);
}

// (117 blue + 601 green + 306 red) >> 10 of a minus the same of b; a and b are BGR triples.
int CompareLuminance(const void* a, const void* b);

class PxImage {
public:
    // How a colour between pixel centres is found. 0 and unknown values mean bilinear.
    enum InterpolationMethod {
        InterpDefault = 0,
        InterpNearest = 1,
        InterpBilinear = 2,
        InterpCubicBSpline = 3,
        InterpCubicSharp = 4,
        InterpCubicKeys = 5,
        InterpLanczos6 = 6,
        InterpBox = 7,
        InterpHermite = 8,
        InterpHermiteDamped = 9,
        InterpSinc = 10,
        InterpBlackman = 11,
        InterpBessel = 12,
        InterpGaussian = 13,
        InterpQuadratic = 14,
        InterpMitchell = 15,
        InterpCatmullRom = 16,
        InterpHannSinc = 17,
        InterpParabolic = 18,
    };
    // What a point outside the image reads.
    enum OverflowMethod {
        OverflowPlain = 0,
        OverflowColor = 1,
        OverflowBackground = 2,
        OverflowTransparent = 3,
        OverflowWrap = 4,
        OverflowRepeat = 5,
        OverflowMirror = 6,
    };

    explicit PxImage(uint32_t type = 0);
    PxImage(int32_t width, int32_t height, uint32_t bpp, uint32_t type = 0);
    PxImage(const PxImage& source, bool copyPixels, bool copySelection = true, bool copyAlpha = true);
    PxImage(const char* path, uint32_t type);
    PxImage(FILE* stream, uint32_t type);
    PxImage(PxFile* stream, uint32_t type);
    PxImage(const uint8_t* data, uint32_t size, uint32_t type);
    PxImage(const PxImage& other);
    PxImage& operator=(const PxImage& other);
    virtual ~PxImage();

    // ---- storage ----
    void Init(uint32_t type = 0);
    uint8_t* Create(int32_t width, int32_t height, uint32_t bpp, uint32_t type = 0);
    // Whether Create would accept the size under PXIMAGE_MAX_MEMORY; a decoder asks before it
    // lets a library allocate anything for the picture. The pixel bytes Create would take.
    static bool FitsMemory(int32_t width, int32_t height, uint32_t bpp);
    static uint64_t PixelBytesFor(int32_t width, int32_t height, uint32_t bpp);
    bool FreeImageData();
    bool FreeFrames();
    void CopyFrom(const PxImage& source, bool copyPixels = true, bool copySelection = true, bool copyAlpha = true);
    bool Transfer(PxImage& source, bool transferFrames = true);
    void MakeGhostOf(const PxImage* source);
    bool IsGhost() const { return m_ghost != nullptr; }
    void CopySettingsFrom(const PxImage& other);
    uint32_t GetBlockSize() const;
    uint8_t* GetRow(int32_t row) const;
    bool IsInsideImage(int32_t x, int32_t y) const;
    void Clear(uint8_t level = 0);
    // Expands masked 16- or 32-bit pixels into the 24-bit rows. At 16 bits the source is the
    // pixel rows themselves; at 32 bits it holds width x height pixels of 4 bytes.
    bool UnpackBitfields(const uint8_t* source, uint32_t redMask, uint32_t greenMask, uint32_t blueMask, int bits);
    bool CreateFromArray(const uint8_t* data, int32_t width, int32_t height, uint32_t bpp, uint32_t bytesPerLine,
                         bool flip);
    bool CreateFromRows(const uint8_t* const* rows, int32_t width, int32_t height, uint32_t bpp, uint32_t bytesPerLine,
                        bool flip);
    uint64_t GetDumpSize() const;
    uint64_t Dump(uint8_t* buffer) const;
    // Reads back what Dump wrote in this same build; the number of bytes taken, 0 on failure.
    uint64_t UnDump(const uint8_t* buffer, uint64_t size);
    void SetRequestedSize(int32_t width, int32_t height);
    void ComputeScale(int32_t width, int32_t height);
    int32_t GetScale() const { return m_info.scale; }

    // ---- accessors ----
    bool IsValid() const { return m_block != nullptr; }
    bool EncodeSafeCheck(PxFile* stream);
    int32_t GetWidth() const { return m_head.width; }
    int32_t GetHeight() const { return m_head.height; }
    uint32_t GetBpp() const { return m_head.bitCount; }
    uint32_t GetRowSize() const { return m_info.rowSize; }
    uint32_t GetNumColors() const { return m_head.clrUsed; }
    uint32_t GetType() const { return m_info.type; }
    uint8_t* GetPixelBlock() const { return m_block; }
    uint8_t* GetBits() const;
    const PxBitmapInfoHeader& GetHeader() const { return m_head; }
    bool IsIndexed() const { return m_head.clrUsed != 0; }
    uint32_t GetColorType() const;
    int32_t GetXDpi() const { return m_info.xDpi; }
    int32_t GetYDpi() const { return m_info.yDpi; }
    void SetXDpi(int32_t dpi);
    void SetYDpi(int32_t dpi);
    int32_t GetTransparentIndex() const { return m_info.backgroundIndex; }
    void SetTransparentIndex(int32_t index);
    bool HasTransparentIndex() const { return m_info.backgroundIndex >= 0; }
    RGBQuad GetTransparentColor() const;
    void SetTransparentColor(RGBQuad colour);
    uint8_t GetQuality() const;
    float GetQualityF() const { return m_info.quality; }
    void SetQuality(int quality) { m_info.quality = float(quality); }
    void SetQualityF(float quality) { m_info.quality = quality > 0 ? quality : 0; }
    uint8_t GetJpegScale() const { return m_info.jpegScale; }
    void SetJpegScale(uint8_t scale) { m_info.jpegScale = scale; }
    // Progress (0 to 100) and escape (non-zero cancels; -1 asks a decoder for the size only).
    // A format object at work follows the image it works for, so a cancel set there from
    // another thread reaches the decoder.
    int32_t GetProgress() const;
    void SetProgress(int32_t progress);
    int32_t GetEscape() const;
    void SetEscape(int32_t escape);
    bool IsEnabled() const { return m_info.enabled; }
    void SetEnabled(bool enabled) { m_info.enabled = enabled; }
    int32_t GetFrameCount() const { return m_info.frameCount; }
    int32_t GetFrame() const { return m_info.frameIndex; }
    void SetFrame(int32_t index) { m_info.frameIndex = index; }
    uint32_t GetFrameDelay() const { return m_info.frameDelay; }
    void SetFrameDelay(uint32_t delay) { m_info.frameDelay = delay; }
    void GetOffset(int32_t* x, int32_t* y) const;
    void SetOffset(int32_t x, int32_t y);
    uint8_t GetDisposalMethod() const { return m_info.disposal; }
    void SetDisposalMethod(uint8_t method) { m_info.disposal = method; }
    bool GetRetrieveAllFrames() const { return m_info.retrieveAllFrames; }
    void SetRetrieveAllFrames(bool all) { m_info.retrieveAllFrames = all; }
    PxImage* GetFrameImage(int32_t index) const;
    // Hands the images over to this one as its frames (taking ownership); false for a ghost.
    bool SetFrames(PxImage** frames, int32_t count);
    uint32_t GetFlags() const { return m_info.flags; }
    void SetFlags(uint32_t flags, bool lockReserved = false);
    uint32_t GetCodecOption(uint32_t format = 0) const;
    bool SetCodecOption(uint32_t value, uint32_t format = 0);
    static uint32_t GetTypeIndexFromId(uint32_t id);
    static uint32_t GetTypeIdFromIndex(uint32_t index);
    static uint32_t GetNumTypes() { return 11; }
    bool SetType(uint32_t id);
    const char* GetLastError() const { return m_info.lastError; }
    void SetLastError(const char* text);
    uint16_t Swap16(uint16_t v) const;
    uint32_t Swap32(uint32_t v) const;
    void SwapHeader(PxBitmapInfoHeader& header) const;
    // The number of workers a resample may run (every image starts with the hardware's count).
    int32_t DetectThreadCount();
    int32_t GetThreadCount() const { return m_info.threadCount; }
    void SetThreadCount(int32_t count) { m_info.threadCount = count > 0 ? count : 1; }
    int32_t GetOrientation() const { return m_info.exif.orientation; }
    const JpegExifInfo& GetExifInfo() const { return m_info.exif; }
    const PxSettings& GetSettings() const { return m_info; }
    static const char* GetVersion() { return "PxImage 7.0.2"; }
    static float GetVersionNumber() { return 7.00002f; }

    // ---- encoding and decoding by format id ----
    bool Encode(PxFile* stream, uint32_t id);
    bool Save(const char* path, uint32_t id);
    bool EncodeToStdio(FILE* stream, uint32_t id);
    bool EncodeToMemory(uint8_t** buffer, int32_t* size, uint32_t id);
    static void FreeEncodedBuffer(uint8_t* buffer);
    bool EncodeFrames(PxFile* stream, PxImage** images, int32_t count, uint32_t id);
    bool EncodeFramesStdio(FILE* stream, PxImage** images, int32_t count, uint32_t id);
    bool EncodeToRGBA(PxFile* stream, bool flip);
    bool EncodeToRGBAMemory(uint8_t** buffer, int32_t* size, bool flip);
    bool Decode(PxFile* stream, uint32_t id);
    bool Load(const char* path, uint32_t id);
    bool DecodeStdio(FILE* stream, uint32_t id);
    bool DecodeMemory(const uint8_t* data, uint32_t size, uint32_t id);
    bool CheckFormat(PxFile* stream, uint32_t id = 0);
    bool CheckFormatMemory(const uint8_t* data, uint32_t size, uint32_t id = 0);
    bool ExtractJpegThumbnail(const char* sourcePath, const char* destinationPath, uint32_t id);
    static uint32_t GetTypeFromExtension(const char* extension);

    // ---- palette ----
    uint32_t GetPaletteSize() const;
    RGBQuad* GetPalette() const;
    RGBQuad GetPaletteColor(uint8_t index) const;
    bool GetPaletteColor(uint8_t index, uint8_t* red, uint8_t* green, uint8_t* blue) const;
    void SetPaletteColor(uint8_t index, uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha = 0);
    void SetPaletteColor(uint8_t index, RGBQuad colour);
    void SetPaletteColor(uint8_t index, ColorRef colour);
    void SetPalette(const RGBQuad* palette, uint32_t count = 256);
    // count red, green, blue byte triples
    void SetPaletteRGB(const uint8_t* triples, uint32_t count);
    void SetPalette(uint32_t count, const uint8_t* red, const uint8_t* green = nullptr, const uint8_t* blue = nullptr);
    void SetGrayPalette();
    void SetStandardPalette();
    bool IsGrayScale() const;
    bool IsSamePalette(const PxImage& other, bool checkAlpha = true) const;
    void BlendPalette(ColorRef colour, int32_t percent);
    void SwapIndex(uint8_t a, uint8_t b);
    void SwapRedBlue();
    void SwapRedBlueInBuffer(uint8_t* buffer, uint32_t length) const;
    uint32_t GetImportantColorCount() const { return m_head.clrImportant; }
    void SetImportantColorCount(uint32_t count);
    uint8_t GetNearestIndex(RGBQuad colour) const;
    uint8_t GetNearestIndex(RGBQuad colour, PxNearestCache& cache) const;
    static RGBQuad RGBQuadFromColorRef(ColorRef colour);
    static ColorRef ColorRefFromRGBQuad(RGBQuad colour);

    // ---- pixels (y counts stored rows: row 0 is the bottom of the picture) ----
    uint8_t GetPixelIndex(int32_t x, int32_t y) const;
    uint8_t GetPixelIndexUnchecked(int32_t x, int32_t y) const;
    void SetPixelIndex(int32_t x, int32_t y, uint8_t index);
    void SetPixelIndexUnchecked(int32_t x, int32_t y, uint8_t index);
    RGBQuad GetPixelColor(int32_t x, int32_t y, bool withAlpha = true) const;
    RGBQuad GetPixelColorUnchecked(int32_t x, int32_t y, bool withAlpha = true) const;
    uint8_t GetPixelGray(int32_t x, int32_t y) const;
    void SetPixelColor(int32_t x, int32_t y, RGBQuad colour, bool setAlpha = false);
    void SetPixelColor(int32_t x, int32_t y, ColorRef colour);
    void SetPixelColor(int32_t x, int32_t y, RGBQuad colour, PxNearestCache& cache, bool setAlpha);
    void SetPixelColorUnchecked(int32_t x, int32_t y, RGBQuad colour, bool setAlpha = false);
    void BlendPixelColor(int32_t x, int32_t y, RGBQuad colour, float blend, bool setAlpha = false);
    uint8_t* GetPixelPointer(int32_t x, int32_t y) const;
    bool IsTransparent(int32_t x, int32_t y) const;
    bool GetTransparentMask(PxImage* destination = nullptr);

    // ---- alpha plane ----
    bool AlphaIsValid() const { return m_alpha != nullptr; }
    bool AlphaCreate();
    void RemoveAlpha();
    void AlphaClear();
    void AlphaSet(uint8_t level);
    void AlphaSet(int32_t x, int32_t y, uint8_t level);
    uint8_t AlphaGet(int32_t x, int32_t y) const;
    uint8_t AlphaGetUnchecked(int32_t x, int32_t y) const;
    uint8_t* AlphaGetPointer(int32_t x = 0, int32_t y = 0) const;
    void AlphaInvert();
    bool AlphaCopy(const PxImage& source);
    bool AlphaSetFromGray(const PxImage& source);
    bool AlphaFlip();
    bool AlphaMirror();
    bool AlphaSplit(PxImage* destination);
    bool AlphaPaletteSplit(PxImage* destination);
    bool AlphaFromTransparency();
    void AlphaStrip();
    uint8_t GetAlphaMax() const { return m_info.alphaMax; }
    void SetAlphaMax(uint8_t max) { m_info.alphaMax = max; }
    bool IsPaletteAlphaEnabled() const { return m_info.paletteAlpha; }
    void SetPaletteAlphaEnabled(bool enabled) { m_info.paletteAlpha = enabled; }
    void AlphaPaletteClear();
    bool AlphaPaletteIsValid() const;

    // ---- drawing ----
    void DrawLine(int32_t startX, int32_t endX, int32_t startY, int32_t endY, ColorRef colour);
    void DrawLine(int32_t startX, int32_t endX, int32_t startY, int32_t endY, RGBQuad colour, bool setAlpha = false);
    // y counts from the top of the picture here.
    bool FillRect(int32_t left, int32_t top, int32_t right, int32_t bottom, RGBQuad colour, bool setAlpha = false);
    bool FillRect(const PxRect& rect, RGBQuad colour, bool setAlpha = false);

    // ---- selection ----
    bool SelectionIsValid() const { return m_selection != nullptr; }
    void SelectionGetBox(PxRect& box) const { box = m_info.selectionBox; }
    bool SelectionFill(uint8_t level);
    bool SelectionCreate();
    bool SelectionDelete();
    bool SelectionIsInside(int32_t x, int32_t y) const;
    bool SelectionIsInsideFast(int32_t x, int32_t y) const;
    bool SelectionAddRect(PxRect rect, uint8_t level = 255);
    bool SelectionAddEllipse(PxRect rect, uint8_t level = 255);
    bool SelectionInvert();
    void SelectionRebuildBox();
    bool SelectionCopy(const PxImage& source);
    bool SelectionAddPolygon(const PxPoint* points, int32_t count, uint8_t level = 255);
    bool SelectionAddColor(RGBQuad colour, uint8_t level = 255);
    bool SelectionAddPixel(int32_t x, int32_t y, uint8_t level = 255);
    bool SelectionToGray(PxImage* destination);
    bool SelectionSet(const PxImage& gray);
    void SelectionSetValue(int32_t x, int32_t y, uint8_t level);
    uint8_t SelectionGetValue(int32_t x, int32_t y) const;
    uint8_t SelectionGetValueFast(int32_t x, int32_t y) const;
    uint8_t* SelectionGetPointer(int32_t x = 0, int32_t y = 0) const;
    bool SelectionFlip();
    bool SelectionMirror();

    // ---- depth and dithering ----
    // The depth changes build the result apart and leave the image as it was when they fail
    // or are cancelled (false).
    bool IncreaseBitDepth(int32_t bpp);
    // To the given palette (count entries, 0: all of the depth's) or the standard one; with
    // errorDiffusion the error of each pixel is spread over its neighbours.
    bool DecreaseBpp(uint32_t bpp, bool errorDiffusion, const RGBQuad* palette = nullptr, uint32_t count = 0);
    // 8 bits on the grey ramp.
    bool ConvertToGray();
    // 1 bit through the grey image: 0 Floyd-Steinberg (and unknown values), 1 ordered 4 x 4,
    // 2 Burkes, 3 Stucki, 4 Jarvis-Judice-Ninke, 5 Sierra, 6 Stevenson-Arce, 7 computed
    // 4 x 4, 8 ordered 8 x 8, 9 a 16 x 16 threshold map.
    bool DitherTo1Bit(uint32_t method = 0);

    // ---- sampling (read-only: any number of threads may sample one image at once) ----
    // Brings a point back into the image for wrap, repeat and mirror; other methods, and an
    // image without pixels, leave it. Coordinates that are not finite stay as they are.
    void ApplyOverflow(int32_t& x, int32_t& y, OverflowMethod method) const;
    void ApplyOverflow(float& x, float& y, OverflowMethod method) const;
    // The pixel, or what the overflow method gives outside (replacement: the colour for
    // outside, null for white with alpha 0).
    RGBQuad SampleWithOverflow(int32_t x, int32_t y, OverflowMethod method, const RGBQuad* replacement) const;
    // The colour at a point between pixel centres. A point that is not a number, or an
    // infinite one, reads as far outside.
    RGBQuad SampleInterpolated(float x, float y, InterpolationMethod method, OverflowMethod overflow,
                               const RGBQuad* replacement) const;
    // The average over the width x height area about the centre, weighted by coverage and
    // alpha; an area is cut to two image sizes around the image.
    RGBQuad SampleArea(float xCentre, float yCentre, float width, float height, InterpolationMethod method,
                       OverflowMethod overflow, const RGBQuad* replacement) const;
    // alpha += A x weight, each colour sum += channel x weight x A / 255. The sums are doubles:
    // an area may hold every pixel of the largest image, and a float sum stops growing long
    // before that.
    static void AccumulateWeighted(RGBQuad colour, float weight, double& red, double& green, double& blue,
                                   double& alpha);
    // The interpolation kernels, of the distance t between sample and point.
    static float KernelBSpline(float t);
    static float KernelCubic(float t, float a);
    static float KernelLanczosSinc(float t, float window);
    static float KernelBox(float t);
    static float KernelHermite(float t);
    static float KernelHermiteDamped(float t);
    static float KernelSinc(float t);
    static float KernelBlackman(float t);
    static float KernelBessel(float t);
    static float KernelGaussian(float t);
    static float KernelQuadratic(float t);
    static float KernelMitchell(float t);
    static float KernelCatmullRom(float t);
    static float KernelHannSinc(float t);
    static float KernelParabolic(float t);
    // The kernel of a four-tap or Lanczos method (bilinear's triangle for the others).
    static float Kernel(InterpolationMethod method, float t);

    // ---- resampling (into the destination, or into this image when there is none) ----
    // mode 1 nearest, 2 cubic B-spline, else the box average when shrinking a 24-bit image
    // and bilinear otherwise.
    bool Resample(int32_t newWidth, int32_t newHeight, int32_t mode = 0, PxImage* destination = nullptr);
    // Any interpolation and overflow, averaging over the covered area when shrinking, the
    // rows spread over up to GetThreadCount() workers; the result does not depend on how
    // many: the workers take rows from one counter and compute each in the point sampler's own
    // float order, so a picture's bytes are the same on any machine. A cancel (the escape flag,
    // from any thread) answers false and changes nothing.
    bool Resample2(int32_t newWidth, int32_t newHeight, InterpolationMethod method = InterpBilinear,
                   OverflowMethod overflow = OverflowRepeat, PxImage* destination = nullptr,
                   bool disableAveraging = false);
    // The fast integer box reduction; never enlarges.
    bool QIShrink(int32_t newWidth, int32_t newHeight, PxImage* destination = nullptr, bool changeTo24Bits = false);

    // ---- crop, expand, thumbnail, warps (y of rectangles counts from the top) ----
    bool Crop(int32_t left, int32_t top, int32_t right, int32_t bottom, PxImage* destination = nullptr);
    bool Crop(const PxRect& rect, PxImage* destination = nullptr);
    // Margins in pixels on each side, filled with the colour (its nearest entry in palettes).
    bool Expand(int32_t left, int32_t top, int32_t right, int32_t bottom, RGBQuad colour,
                PxImage* destination = nullptr);
    bool ExpandCentred(int32_t newWidth, int32_t newHeight, RGBQuad colour, PxImage* destination = nullptr);
    // Shrunk to fit the box, keeping its proportions, and centred on the colour.
    bool Thumbnail(int32_t newWidth, int32_t newHeight, RGBQuad colour, PxImage* destination = nullptr);
    // Over the selection: each pixel (x, y) takes (x + (y - yPivot) xGain, y + (x - xPivot) yGain).
    bool Skew(float xGain, float yGain, int32_t xPivot, int32_t yPivot, bool interpolate);
    // Over the selection, about the centre: 0 and 1 bulge, 2 twirl, 3 polar, above 3 ripple.
    bool CircleWarp(int32_t type, int32_t radius, float factor);

    // ---- turns ----
    bool FlipRows(bool withSelection = true, bool withAlpha = true);
    bool MirrorColumns(bool withSelection = true, bool withAlpha = true);
    // Turns into the destination, or into this image when there is none.
    bool RotateQuarterLeft(PxImage* destination = nullptr);
    bool RotateQuarterRight(PxImage* destination = nullptr);
    bool RotateHalf(PxImage* destination = nullptr);
    // The turn an orientation code asks for (0 or less: the code the JPEG reader stored);
    // the stored code is 1 afterwards.
    bool ApplyOrientation(int32_t code = 0);
    // A turn by any angle, positive clockwise, nearest pixel; the result holds the whole turned picture.
    bool RotateAngle(float degrees, PxImage* destination = nullptr);
    // The same through an interpolation and overflow method; optimiseRightAngles turns right
    // angles exactly, keepSize keeps the size and turns about the centre.
    bool RotateAngleInterpolated(float degrees, PxImage* destination = nullptr,
                                 InterpolationMethod method = InterpBilinear,
                                 OverflowMethod overflow = OverflowBackground, const RGBQuad* replacement = nullptr,
                                 bool optimiseRightAngles = true, bool keepSize = false);
    // The width x height rectangle whose top-left corner is (left, top), turned by radians.
    bool CropRotatedRect(int32_t left, int32_t top, int32_t width, int32_t height, float radians,
                         PxImage* destination = nullptr);
    // The colour negative, through the selection when there is one: above 8 bits the pixels
    // (alpha kept) and the background colour; at 8 bits or fewer the palette, or the indices
    // themselves when the palette is the grey ramp.
    bool Negative();

protected:
    // Hands the temporary result of an operation over to the destination, or to this image
    // when there is none; copies its last-error text here when that fails.
    bool HandOver(PxImage& temporary, PxImage* destination);
    // An empty image that carries this one's settings, created at the given size and depth;
    // false (with its text copied here) when it could not be created.
    bool RotateQuarter(bool left, PxImage* destination);
    // The checks every encode into a caller's buffer starts with, and its empty stream.
    bool StartMemoryEncode(uint8_t** buffer, int32_t* size, PxMemFile& memory);
    bool MakeTemporary(PxImage& temporary, int32_t width, int32_t height, uint32_t bpp, uint32_t type);
    // MakeTemporary at the given depth with this image's palette; with an operation's name, also
    // an alpha channel when this image has one (its failure is reported under that name).
    bool MakeLike(PxImage& temporary, int32_t width, int32_t height, uint32_t bpp, const char* alphaFor = nullptr);
    // The image whose escape and progress this one follows while it works for it.
    void FollowControlsOf(PxImage* owner) { m_controlOwner = owner; }
    uint64_t PixelCount() const { return uint64_t(uint32_t(m_head.width)) * uint32_t(m_head.height); }
    void ResetSelectionBox();
    bool StartResize(int32_t newWidth, int32_t newHeight, uint32_t bpp, PxImage& target, PxImage* destination,
                     bool& sameSize);
    // The columns and stored rows a warp visits: the selection box, or the whole image.
    void WarpRegion(int32_t& left, int32_t& bottom, int32_t& right, int32_t& top) const;
    // Runs warp over the selected pixels of the region on a copy, which then replaces this image.
    bool WarpPixels(const std::function<void(int32_t x, int32_t y, PxImage& target)>& warp);
    // Masked 16-bit pixels of the first stored rows, widened in place.
    bool UnpackRows16(int32_t rows, uint32_t redMask, uint32_t greenMask, uint32_t blueMask);
    // Masked 32-bit pixels of the given stored rows (source holds rows x width x 4 bytes).
    bool UnpackRows32(const uint8_t* source, int32_t firstRow, int32_t rows, uint32_t redMask, uint32_t greenMask,
                      uint32_t blueMask);

    uint8_t* m_block = nullptr;
    PxBitmapInfoHeader m_head{};
    PxSettings m_info{};
    uint8_t* m_selection = nullptr;
    uint8_t* m_alpha = nullptr;
    PxImage** m_layers = nullptr;
    PxImage** m_frames = nullptr;

private:
    friend class PxImageDispatch;
    void CopyControlsFrom(const PxImage& other);
    void ClearMembers();

    PxImage* m_ghost = nullptr;
    PxImage* m_controlOwner = nullptr;
    std::atomic<int32_t> m_progress{0};
    std::atomic<int32_t> m_escape{0};
};
