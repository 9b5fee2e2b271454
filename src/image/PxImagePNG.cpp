#include "image/PxImagePNG.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include <png.h>
#include <zlib.h>

static_assert(sizeof(png_color) == 3, "PLTE entries are read as red, green, blue triples");

// What a decode holds while libpng may jump back out of it. Plain data: the caller frees the
// libpng structures and the buffers on every path, the jump included.
struct PxPngReader {
    PxFile* stream;
    png_structp png;
    png_infop info;
    uint8_t* row;
    // Per-column sums of the rows of one output row (reduced reading).
    uint8_t* columns;
    uint32_t width;
    uint32_t height;
    int depth;
    int colorType;
    int passes;
    uint32_t channels;
    uint32_t scale;
    size_t rowBytes;
};

// What an encode decides before libpng is asked, and what it allocates: the palette as
// written and a row buffer, both copies, so the image itself is only ever read.
struct PxPngWriter {
    PxFile* stream;
    png_structp png;
    png_infop info;
    uint8_t* row;
    png_color* palette;
    uint32_t paletteCount;
    int colorType;
    int depth;
    int level;
    // One filter for every row and the deflate strategy that suits what it leaves (PlanFilter).
    int filter;
    int strategy;
    bool interlaced;
    // The index written as 0 (and 0 written as it), so the one tRNS entry names it; -1: none.
    int32_t swap;
    // 24 bits with an alpha plane: pixels of the transparent colour are written with alpha 0.
    bool maskColour;
    int transCount;
    uint8_t trans[256];
    png_color_16 transColour;
    png_color_16 background;
};

namespace {

enum { kFailed, kDone, kSizeOnly };

constexpr int kZlibDefaultLevel = -1;

int Failed(PxImage& image, const char* message)
{
    image.SetLastError(message);
    return kFailed;
}

// libpng's error text goes to the image's last-error text; control goes back to the codec.
void OnError(png_structp png, png_const_charp message)
{
    if (PxImage* image = static_cast<PxImage*>(png_get_error_ptr(png)))
        image->SetLastError(message && *message ? message : "Error in PNG data");
    png_longjmp(png, 1);
}

// Warnings change nothing that is read or written; they stay quiet.
void OnWarning(png_structp, png_const_charp) {}

void ReadData(png_structp png, png_bytep data, size_t length)
{
    PxFile* stream = static_cast<PxFile*>(png_get_io_ptr(png));
    if (stream->Read(data, 1, length) != length)
        png_error(png, "Read Error");
}

void WriteData(png_structp png, png_bytep data, size_t length)
{
    PxFile* stream = static_cast<PxFile*>(png_get_io_ptr(png));
    if (stream->Write(data, 1, length) != length)
        png_error(png, "Write Error");
}

void FlushData(png_structp png)
{
    PxFile* stream = static_cast<PxFile*>(png_get_io_ptr(png));
    if (!stream->Flush())
        png_error(png, "Flush Error");
}

int32_t DpiFromPerMetre(png_uint_32 perMetre)
{
    const double dpi = std::floor(double(perMetre) * 254.0 / 10000.0 + 0.5);
    return dpi > double(INT32_MAX) ? INT32_MAX : int32_t(dpi);
}

// Blocks of a fixed count, so that the compiler makes vector adds of them.
void AddRow(uint32_t* __restrict sums, const uint8_t* __restrict row, size_t n)
{
    size_t i = 0;
    for (; i + 16 <= n; i += 16)
        for (size_t k = 0; k < 16; ++k)
            sums[i + k] += row[i + k];
    for (; i < n; ++i)
        sums[i] += row[i];
}

inline uint8_t Remap(uint8_t index, int32_t swap)
{
    if (swap < 0)
        return index;
    return index == 0 ? uint8_t(swap) : index == uint8_t(swap) ? 0 : index;
}

// What one row filter leaves of a row, as libpng weighs it (the sum of the residuals read as
// signed bytes), and how many residuals are zero. `up` is the row above, zeros for the first.
struct FilterScore {
    uint64_t sum = 0;
    uint64_t zeros = 0;
    void Add(uint8_t residual)
    {
        sum += residual < 128 ? residual : 256 - residual;
        zeros += residual == 0;
    }
};

inline uint8_t Paeth(int a, int b, int c)
{
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Scores of none, sub, up, average and Paeth, in that order, for one row of n bytes.
void ScoreRow(const uint8_t* row, const uint8_t* up, size_t n, size_t bpp, FilterScore* scores)
{
    for (size_t i = 0; i < n; ++i) {
        const int a = i >= bpp ? row[i - bpp] : 0, b = up[i], c = i >= bpp ? up[i - bpp] : 0;
        scores[0].Add(row[i]);
        scores[1].Add(uint8_t(row[i] - a));
        scores[2].Add(uint8_t(row[i] - b));
        scores[3].Add(uint8_t(row[i] - ((a + b) >> 1)));
        scores[4].Add(uint8_t(row[i] - Paeth(a, b, c)));
    }
}

} // namespace

bool PxImagePNG::Fail(const char* message)
{
    SetLastError(message);
    return false;
}

void PxImagePNG::Expand2To4(uint8_t* row, uint32_t width)
{
    if (!row)
        return;
    // From the last pair back: output byte p holds input pixels 4p and up, which are read by then.
    for (uint32_t pair = (width + 1) / 2; pair-- > 0;) {
        const uint32_t first = 2 * pair, second = first + 1;
        const uint8_t a = uint8_t(row[first >> 2] >> (6 - 2 * (first & 3))) & 3;
        const uint8_t b = second < width ? uint8_t(row[second >> 2] >> (6 - 2 * (second & 3))) & 3 : 0;
        row[pair] = uint8_t(a << 4 | b);
    }
}

// ---- decoding ----

bool PxImagePNG::Decode(PxFile* stream)
{
    if (!stream)
        return Fail("null file handler");
    // Transparency is the file's to say, not left over from the image that asked for it.
    m_info.backgroundIndex = -1;
    m_info.backgroundColor = RGBQuad{0, 0, 0, 0};
    m_info.paletteAlpha = false;
    SetLastError("");
    PxPngReader r{};
    r.stream = stream;
    const int outcome = ReadWith(r);
    png_destroy_read_struct(&r.png, &r.info, nullptr);
    free(r.row);
    free(r.columns);
    if (outcome != kFailed)
        return true;
    if (!GetLastError()[0])
        SetLastError("Error reading PNG file");
    return false;
}

int PxImagePNG::ReadWith(PxPngReader& r)
{
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, static_cast<PxImage*>(this), OnError, OnWarning);
    if (!r.png)
        return Failed(*this, "Failed to create PNG structure");
    r.info = png_create_info_struct(r.png);
    if (!r.info)
        return Failed(*this, "Failed to initialize PNG info structure");
    // libpng's errors land here, their text already in the last-error text.
    if (setjmp(png_jmpbuf(r.png)))
        return kFailed;
    return ReadBody(r);
}

int PxImagePNG::ReadBody(PxPngReader& r)
{
    png_set_read_fn(r.png, r.stream, ReadData);
    png_read_info(r.png, r.info);
    png_uint_32 width = 0, height = 0;
    int interlace = 0;
    png_get_IHDR(r.png, r.info, &width, &height, &r.depth, &r.colorType, &interlace, nullptr, nullptr);
    if (GetEscape() == -1) {
        m_head.width = int32_t(width);
        m_head.height = int32_t(height);
        m_info.type = PXIMAGE_FORMAT_PNG;
        return kSizeOnly;
    }
    const int type = r.colorType;
    if (type != PNG_COLOR_TYPE_GRAY && type != PNG_COLOR_TYPE_RGB && type != PNG_COLOR_TYPE_PALETTE &&
        type != PNG_COLOR_TYPE_GRAY_ALPHA && type != PNG_COLOR_TYPE_RGB_ALPHA)
        return Failed(*this, "unknown PNG color type");
    if (width > uint32_t(INT32_MAX) || height > uint32_t(INT32_MAX))
        return Failed(*this, "PXIMAGE_MAX_MEMORY exceeded");
    r.width = width;
    r.height = height;
    const bool colour = (type & PNG_COLOR_MASK_COLOR) != 0;
    const bool alpha = (type & PNG_COLOR_MASK_ALPHA) != 0;
    const uint32_t bpp = colour && type != PNG_COLOR_TYPE_PALETTE ? 24
                         : type == PNG_COLOR_TYPE_GRAY_ALPHA      ? 8
                         : r.depth > 8                            ? 8
                                                                  : uint32_t(r.depth);
    // Only a plain 8-bit file can be reduced row by row as it streams in.
    m_info.scale = 1;
    if (type != PNG_COLOR_TYPE_PALETTE && r.depth == 8 && interlace == PNG_INTERLACE_NONE)
        ComputeScale(int32_t(width), int32_t(height));
    r.scale = m_info.scale > 1 ? uint32_t(m_info.scale) : 1;
    if (!Create(int32_t(width / r.scale), int32_t(height / r.scale), bpp, PXIMAGE_FORMAT_PNG))
        return kFailed;

    // Without a unit the chunk gives only the pixels' aspect (ffmpeg writes 1:1 that way), which
    // is no resolution at all: the default holds then, as without the chunk.
    png_uint_32 xPerMetre = 0, yPerMetre = 0;
    int unit = PNG_RESOLUTION_UNKNOWN;
    if (!png_get_pHYs(r.png, r.info, &xPerMetre, &yPerMetre, &unit) || unit != PNG_RESOLUTION_METER)
        xPerMetre = yPerMetre = 0;
    SetXDpi(DpiFromPerMetre(xPerMetre));
    SetYDpi(DpiFromPerMetre(yPerMetre));

    png_colorp plte = nullptr;
    int entries = 0;
    if (png_get_PLTE(r.png, r.info, &plte, &entries) && plte && entries > 0) {
        SetPaletteRGB(reinterpret_cast<const uint8_t*>(plte), uint32_t(entries));
        SetImportantColorCount(uint32_t(entries));
    } else if (r.depth == 2) {
        for (uint8_t i = 0; i < 4; ++i)
            SetPaletteColor(i, uint8_t(85 * i), uint8_t(85 * i), uint8_t(85 * i), 0);
    } else {
        SetGrayPalette();
    }

    png_bytep transAlpha = nullptr;
    int transCount = 0;
    png_color_16p transColour = nullptr;
    if (png_get_tRNS(r.png, r.info, &transAlpha, &transCount, &transColour) && transCount > 0) {
        // 16-bit samples keep their high byte, as the pixels do.
        const int shift = r.depth == 16 ? 8 : 0;
        const uint32_t top = (1u << r.depth) - 1;
        if (type == PNG_COLOR_TYPE_PALETTE) {
            RGBQuad* palette = GetPalette();
            if (transCount == 1 && transAlpha && transAlpha[0] == 0) {
                // One fully transparent entry: the transparent index, as the encoder writes it.
                SetTransparentIndex(transColour ? transColour->index : 0);
            } else if (transAlpha && palette) {
                // Only as many values as the image has entries; the rest are opaque.
                for (uint32_t i = 0; i < GetNumColors(); ++i)
                    palette[i].alpha = int64_t(i) < transCount ? transAlpha[i] : 255;
                SetPaletteAlphaEnabled(true);
            }
        } else if (transColour && type == PNG_COLOR_TYPE_GRAY) {
            if (transColour->gray <= top)
                SetTransparentIndex(transColour->gray >> shift);
        } else if (transColour && type == PNG_COLOR_TYPE_RGB) {
            if (transColour->red <= top && transColour->green <= top && transColour->blue <= top) {
                SetTransparentColor(RGBQuad{uint8_t(transColour->blue >> shift), uint8_t(transColour->green >> shift),
                                            uint8_t(transColour->red >> shift), 0});
                SetTransparentIndex(0);
            }
        }
    }
    if (alpha && !AlphaCreate())
        return Failed(*this, "can't allocate memory");
    if (r.depth == 16)
        png_set_strip_16(r.png);
    if (colour)
        png_set_bgr(r.png);
    if (GetEscape())
        return Failed(*this, "Cancelled");
    r.passes = png_set_interlace_handling(r.png);
    uint32_t option = GetCodecOption(PXIMAGE_FORMAT_PNG) & ~PXPNG_INTERLACED;
    if (r.passes > 1)
        option |= PXPNG_INTERLACED;
    SetCodecOption(option, PXIMAGE_FORMAT_PNG);
    png_read_update_info(r.png, r.info);
    r.rowBytes = png_get_rowbytes(r.png, r.info);
    r.channels = png_get_channels(r.png, r.info);
    if (!(r.scale > 1 ? ReadReduced(r) : ReadPlain(r)))
        return kFailed;
    png_read_end(r.png, nullptr);
    SetProgress(100);
    return kDone;
}

bool PxImagePNG::ReadPlain(PxPngReader& r)
{
    const uint32_t w = r.width, h = r.height;
    const bool alpha = (r.colorType & PNG_COLOR_MASK_ALPHA) != 0;
    if (alpha) {
        // Zeroed: rows a pass skips still go through the buffer into the image.
        r.row = static_cast<uint8_t*>(calloc(1, r.rowBytes + 8));
        if (!r.row)
            return Fail("can't allocate memory");
    } else if (r.rowBytes > GetRowSize()) {
        return Fail("unsupported PNG layout");
    }
    const uint64_t total = uint64_t(r.passes) * h;
    uint64_t done = 0;
    for (int pass = 0; pass < r.passes; ++pass) {
        for (uint32_t y = 0; y < h; ++y, ++done) {
            if (GetEscape())
                return Fail("Cancelled");
            const int32_t at = int32_t(h - 1 - y);
            uint8_t* out = GetRow(at);
            if (!alpha) {
                // Straight into the image row, which also keeps the pixels of earlier passes.
                png_read_row(r.png, out, nullptr);
            } else {
                uint8_t* a = m_alpha + uint64_t(at) * w;
                uint8_t* row = r.row;
                if (r.channels == 2) {
                    if (pass > 0)
                        for (uint32_t x = 0; x < w; ++x) {
                            row[2 * x] = out[x];
                            row[2 * x + 1] = a[x];
                        }
                    png_read_row(r.png, row, nullptr);
                    for (uint32_t x = 0; x < w; ++x) {
                        out[x] = row[2 * x];
                        a[x] = row[2 * x + 1];
                    }
                } else {
                    if (pass > 0)
                        for (uint32_t x = 0; x < w; ++x) {
                            memcpy(row + 4 * size_t(x), out + 3 * size_t(x), 3);
                            row[4 * size_t(x) + 3] = a[x];
                        }
                    png_read_row(r.png, row, nullptr);
                    for (uint32_t x = 0; x < w; ++x) {
                        memcpy(out + 3 * size_t(x), row + 4 * size_t(x), 3);
                        a[x] = row[4 * size_t(x) + 3];
                    }
                }
            }
            SetProgress(int32_t(done * 100 / total));
        }
    }
    if (r.depth == 2)
        for (int32_t y = 0; y < GetHeight(); ++y)
            Expand2To4(GetRow(y), w);
    return true;
}

// Each output pixel is the mean of its scale x scale block of the file; with alpha, colours are
// weighted by it, so fully transparent pixels lend no colour. One file row at a time goes
// through the buffer and is added into per-column sums (a plain add of bytes, which the
// compiler vectorises); each output row then totals its blocks once. libpng refuses sizes
// above 1,000,000, so a column sum of at most that many bytes fits 32 bits; weighted sums of
// alpha times colour need 64.
bool PxImagePNG::ReadReduced(PxPngReader& r)
{
    const uint32_t s = r.scale, c = r.channels;
    const uint32_t w = uint32_t(GetWidth()), h = uint32_t(GetHeight());
    const bool alpha = (r.colorType & PNG_COLOR_MASK_ALPHA) != 0;
    const uint32_t colours = alpha ? c - 1 : c;
    const size_t used = size_t(w) * s * c;
    r.row = static_cast<uint8_t*>(calloc(1, r.rowBytes + 8));
    r.columns = static_cast<uint8_t*>(malloc(used * (alpha ? sizeof(uint64_t) : sizeof(uint32_t))));
    if (!r.row || !r.columns)
        return Fail("can't allocate memory");
    uint32_t* plain = reinterpret_cast<uint32_t*>(r.columns);
    uint64_t* weighted = reinterpret_cast<uint64_t*>(r.columns);
    const uint64_t block = uint64_t(s) * s;
    for (uint32_t k = 0; k < h; ++k) {
        if (GetEscape())
            return Fail("Cancelled");
        for (uint32_t j = 0; j < s; ++j) {
            png_read_row(r.png, r.row, nullptr);
            const uint8_t* p = r.row;
            if (!alpha) {
                if (j == 0)
                    memset(plain, 0, used * sizeof(uint32_t));
                AddRow(plain, p, used);
            } else {
                if (j == 0)
                    memset(weighted, 0, used * sizeof(uint64_t));
                for (size_t i = 0; i < used; i += c) {
                    const uint32_t a = p[i + colours];
                    for (uint32_t ch = 0; ch < colours; ++ch)
                        weighted[i + ch] += uint32_t(p[i + ch]) * a;
                    weighted[i + colours] += a;
                }
            }
        }
        const int32_t at = int32_t(h - 1 - k);
        uint8_t* out = GetRow(at);
        uint8_t* a = alpha ? m_alpha + uint64_t(at) * w : nullptr;
        uint64_t total[4];
        for (uint32_t x = 0; x < w; ++x, out += colours) {
            const size_t first = size_t(x) * s * c;
            for (uint32_t ch = 0; ch < c; ++ch) {
                total[ch] = 0;
                for (size_t i = first + ch; i < first + size_t(s) * c; i += c)
                    total[ch] += alpha ? weighted[i] : plain[i];
            }
            if (!alpha) {
                for (uint32_t ch = 0; ch < colours; ++ch)
                    out[ch] = uint8_t(total[ch] / block);
                continue;
            }
            const uint64_t weight = total[colours];
            for (uint32_t ch = 0; ch < colours; ++ch)
                out[ch] = weight ? uint8_t(total[ch] / weight) : 0;
            a[x] = uint8_t(weight / block);
        }
        SetProgress(int32_t(uint64_t(k) * 100 / h));
    }
    return true;
}

// ---- encoding ----

bool PxImagePNG::Encode(PxFile* stream)
{
    if (EncodeSafeCheck(stream))
        return false;
    PxPngWriter w{};
    w.stream = stream;
    const bool ok = PlanWrite(w) && WriteWith(w);
    png_destroy_write_struct(&w.png, &w.info);
    free(w.row);
    free(w.palette);
    return ok;
}

uint32_t PxImagePNG::HighestIndexWritten(int32_t swap) const
{
    uint32_t highest = 0;
    for (int32_t y = 0; y < GetHeight(); ++y)
        for (int32_t x = 0; x < GetWidth(); ++x) {
            const uint32_t v = Remap(GetPixelIndexUnchecked(x, y), swap);
            highest = v > highest ? v : highest;
        }
    return highest;
}

bool PxImagePNG::PlanWrite(PxPngWriter& w)
{
    const uint32_t bpp = GetBpp(), colours = GetNumColors();
    const bool alpha = AlphaIsValid();
    // Only the 8-bit identity palette is grey as a PNG sees it: a 1- or 4-bit palette 0, 1, ...
    // written as grey samples would come back as other levels. Palette alpha needs a palette
    // to go with it; grey samples would lose it.
    const bool grey = colours && bpp == 8 && IsGrayScale() && !IsPaletteAlphaEnabled();
    w.colorType = bpp == 24 ? PNG_COLOR_TYPE_RGB : grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_PALETTE;
    if (alpha) {
        // PNG has no palette with an alpha plane beside it.
        if (w.colorType == PNG_COLOR_TYPE_PALETTE)
            return Fail("Error saving PNG file");
        w.colorType |= PNG_COLOR_MASK_ALPHA;
    }
    w.depth = alpha || bpp == 24 ? 8 : int(bpp);
    const uint32_t option = GetCodecOption(PXIMAGE_FORMAT_PNG);
    w.interlaced = (option & PXPNG_INTERLACED) != 0;
    switch (option & PXPNG_LEVEL_MASK) {
    case 2:
        w.level = 0;
        break;
    case 4:
        w.level = 1;
        break;
    case 6:
        w.level = 9;
        break;
    default:
        w.level = kZlibDefaultLevel;
        break;
    }
    w.swap = -1;
    const int32_t t = GetTransparentIndex();
    w.background = png_color_16{0, 255, 255, 255, 0};
    if (t >= 0) {
        const RGBQuad c = GetTransparentColor();
        w.background.red = c.red;
        w.background.green = c.green;
        w.background.blue = c.blue;
    }
    const uint32_t width = uint32_t(GetWidth());
    if (w.colorType == PNG_COLOR_TYPE_PALETTE) {
        const bool indexed = t >= 0 && uint32_t(t) < colours;
        if (indexed && t != 0)
            w.swap = t;
        uint32_t count = GetImportantColorCount();
        if (!count || count > colours)
            count = colours;
        // Every index a pixel uses has to be in the palette written, or the file is broken.
        if (count < colours) {
            const uint32_t highest = HighestIndexWritten(w.swap);
            count = highest + 1 > count ? highest + 1 : count;
        }
        w.palette = static_cast<png_color*>(malloc(sizeof(png_color) * count));
        if (!w.palette)
            return Fail("can't allocate memory");
        const bool paletteAlpha = IsPaletteAlphaEnabled();
        for (uint32_t i = 0; i < count; ++i) {
            const RGBQuad c = GetPaletteColor(Remap(uint8_t(i), w.swap));
            w.palette[i] = png_color{c.red, c.green, c.blue};
            w.trans[i] = c.alpha;
        }
        w.paletteCount = count;
        w.transCount = paletteAlpha ? int(count) : 0;
        if (indexed) {
            w.trans[0] = 0;
            w.transCount = w.transCount ? w.transCount : 1;
        }
        if (w.swap >= 0) {
            w.row = static_cast<uint8_t*>(malloc(GetRowSize()));
            if (!w.row)
                return Fail("can't allocate memory");
        }
    } else if (t >= 0 && !alpha) {
        const RGBQuad c = GetTransparentColor();
        if (w.colorType == PNG_COLOR_TYPE_GRAY && t < 256) {
            w.transColour.gray = uint16_t(t);
            w.transCount = 1;
        } else if (w.colorType == PNG_COLOR_TYPE_RGB) {
            w.transColour.red = c.red;
            w.transColour.green = c.green;
            w.transColour.blue = c.blue;
            w.transCount = 1;
        }
    }
    w.maskColour = alpha && bpp == 24 && t >= 0;
    if (alpha) {
        w.row = static_cast<uint8_t*>(malloc(size_t(width) * (bpp == 24 ? 4 : 2)));
        if (!w.row)
            return Fail("can't allocate memory");
    }
    return PlanFilter(w);
}

// libpng's own choice tries all five filters on every row and keeps the one whose residuals
// look smallest. On pictures of flat colour (contact sheets, logos, screenshots) that search
// costs more than the deflate after it and buys little; on photographs it mostly settles on
// one or two filters anyway. So the rows of a sample across the picture are weighed once,
// and the filter that wins there is used for every row. Where that filter leaves few zeros
// the picture is photographic: deflate finds next to no repeated strings in its residuals,
// and run-length matching (zlib's strategy made for filtered image data) compresses them as
// well in a fraction of the time. Level 9 asks for the smallest file, and keeps libpng's
// string search for filtered rows there. Flat pictures repeat whole strings (rows, glyphs),
// which zlib's plain search finds and the one for filtered rows passes over.
bool PxImagePNG::PlanFilter(PxPngWriter& w)
{
    w.filter = -1;
    w.strategy = -1;
    const uint32_t width = uint32_t(GetWidth()), height = uint32_t(GetHeight());
    // Palette and sub-byte pixels are written unfiltered, as libpng does by default; level 0
    // stores the bytes as they are, so filtering them only costs time.
    if (w.colorType == PNG_COLOR_TYPE_PALETTE || w.depth != 8 || w.level == 0) {
        w.filter = PNG_FILTER_NONE;
        return true;
    }
    if (height < 2)
        return true;
    const size_t bpp = w.colorType == PNG_COLOR_TYPE_RGB_ALPHA    ? 4
                       : w.colorType == PNG_COLOR_TYPE_RGB        ? 3
                       : w.colorType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                  : 1;
    const size_t n = size_t(width) * bpp;
    uint8_t* above = static_cast<uint8_t*>(malloc(n));
    if (!above)
        return Fail("can't allocate memory");
    constexpr uint32_t kSampleRows = 48;
    const uint32_t samples = std::min(height - 1, kSampleRows);
    FilterScore scores[5];
    for (uint32_t k = 0; k < samples; ++k) {
        // Rows counted from the top of the picture, each weighed against the one above it.
        const uint32_t y = 1 + uint32_t(uint64_t(k) * (height - 1) / samples);
        memcpy(above, RowToWrite(w, int32_t(height - y)), n);
        ScoreRow(RowToWrite(w, int32_t(height - 1 - y)), above, n, bpp, scores);
    }
    free(above);
    static const int kFilters[5] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH};
    int best = 0;
    for (int f = 1; f < 5; ++f)
        if (scores[f].sum < scores[best].sum)
            best = f;
    w.filter = kFilters[best];
    const uint64_t weighed = uint64_t(samples) * n;
    const bool photographic = scores[best].zeros * 2 < weighed;
    if (!photographic)
        w.strategy = Z_DEFAULT_STRATEGY;
    else if (w.level != 9)
        w.strategy = Z_RLE;
    return true;
}

bool PxImagePNG::WriteWith(PxPngWriter& w)
{
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, static_cast<PxImage*>(this), OnError, OnWarning);
    if (!w.png)
        return Fail("Failed to create PNG structure");
    w.info = png_create_info_struct(w.png);
    if (!w.info)
        return Fail("Failed to initialize PNG info structure");
    if (setjmp(png_jmpbuf(w.png)))
        return Fail("Error saving PNG file");
    WriteBody(w);
    return true;
}

void PxImagePNG::WriteBody(PxPngWriter& w)
{
    const uint32_t width = uint32_t(GetWidth()), height = uint32_t(GetHeight());
    png_set_write_fn(w.png, w.stream, WriteData, FlushData);
    if (w.level != kZlibDefaultLevel)
        png_set_compression_level(w.png, w.level);
    if (w.filter >= 0)
        png_set_filter(w.png, PNG_FILTER_TYPE_BASE, w.filter);
    if (w.strategy >= 0)
        png_set_compression_strategy(w.png, w.strategy);
    png_set_IHDR(w.png, w.info, width, height, w.depth, w.colorType,
                 w.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_bKGD(w.png, w.info, &w.background);
    const PxBitmapInfoHeader& head = GetHeader();
    png_set_pHYs(w.png, w.info, png_uint_32(head.xPelsPerMeter > 0 ? head.xPelsPerMeter : 0),
                 png_uint_32(head.yPelsPerMeter > 0 ? head.yPelsPerMeter : 0), PNG_RESOLUTION_METER);
    const bool palette = w.colorType == PNG_COLOR_TYPE_PALETTE;
    if (palette)
        png_set_PLTE(w.png, w.info, w.palette, int(w.paletteCount));
    if (w.transCount)
        png_set_tRNS(w.png, w.info, palette ? w.trans : nullptr, w.transCount, palette ? nullptr : &w.transColour);
    png_write_info(w.png, w.info);
    if (w.colorType == PNG_COLOR_TYPE_RGB)
        png_set_bgr(w.png);
    const int passes = png_set_interlace_handling(w.png);
    for (int pass = 0; pass < passes; ++pass)
        for (uint32_t y = 0; y < height; ++y)
            png_write_row(w.png, RowToWrite(w, int32_t(height - 1 - y)));
    png_write_end(w.png, nullptr);
    // A stream that buffers reports a full device only here.
    FlushData(w.png);
}

// The image's own row where libpng can take it as it is (libpng copies it before any change);
// otherwise a copy in the writer's buffer.
const uint8_t* PxImagePNG::RowToWrite(PxPngWriter& w, int32_t y)
{
    const uint8_t* in = GetRow(y);
    if (!w.row)
        return in;
    const uint32_t width = uint32_t(GetWidth());
    uint8_t* out = w.row;
    if (w.colorType == PNG_COLOR_TYPE_RGB_ALPHA) {
        const uint8_t* a = m_alpha + uint64_t(y) * width;
        const RGBQuad key = GetTransparentColor();
        for (uint32_t x = 0; x < width; ++x, in += 3, out += 4) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            const bool keyed = w.maskColour && in[0] == key.blue && in[1] == key.green && in[2] == key.red;
            out[3] = keyed ? 0 : a[x];
        }
    } else if (w.colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        const uint8_t* a = m_alpha + uint64_t(y) * width;
        for (uint32_t x = 0; x < width; ++x) {
            out[2 * x] = in[x];
            out[2 * x + 1] = a[x];
        }
    } else if (GetBpp() == 8) {
        for (uint32_t x = 0; x < width; ++x)
            out[x] = Remap(in[x], w.swap);
    } else if (GetBpp() == 4) {
        for (uint32_t i = 0; i < (width + 1) / 2; ++i)
            out[i] = uint8_t(Remap(in[i] >> 4, w.swap) << 4 | Remap(in[i] & 15, w.swap));
    } else {
        // 1 bit: the only swap there is exchanges 0 and 1.
        for (uint32_t i = 0; i < (width + 7) / 8; ++i)
            out[i] = uint8_t(~in[i]);
    }
    return w.row;
}
