#include "image/PxImageGIF.h"

#include <cstring>
#include <functional>
#include <memory>
#include <unordered_map>

#include "image/PxCodecIO.h"

using pxio::Le16;

namespace {

constexpr int kHashSize = 5003;

uint32_t DepthFor(uint32_t entries)
{
    return entries < 3 ? 1 : entries < 17 ? 4 : 8;
}

// The order in which an interlaced image's lines fill the rows.
std::vector<uint32_t> LineOrder(uint32_t height, bool interlaced)
{
    std::vector<uint32_t> order;
    order.reserve(height);
    if (!interlaced) {
        for (uint32_t y = 0; y < height; ++y)
            order.push_back(y);
        return order;
    }
    static const uint32_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (uint32_t y = start[pass]; y < height; y += step[pass])
            order.push_back(y);
    return order;
}

} // namespace

// The bits, packets and pixel cursor of one image being written.
struct PxImageGIF::Writer {
    explicit Writer(PxFile* s) : stream(s) {}

    PxFile* stream;
    bool failed = false;
    // Pixel cursor: from the top row of the picture down.
    const PxImage* image = nullptr;
    int32_t x = 0, row = 0;
    uint64_t left = 0;
    // Bits and packets.
    uint32_t accumulator = 0;
    int bits = 0;
    uint8_t packet[256] = {};
    int fill = 0;
    int packetMax = 254;

    void Put(const void* data, size_t size)
    {
        if (!failed && !pxio::WriteAll(stream, data, size))
            failed = true;
    }
    void Byte(uint8_t b) { Put(&b, 1); }
    void Word(uint32_t v)
    {
        uint8_t b[2];
        pxio::PutLe16(b, v);
        Put(b, 2);
    }
    void Start(const PxImage& source)
    {
        image = &source;
        x = 0;
        row = source.GetHeight() - 1;
        left = uint64_t(uint32_t(source.GetWidth())) * uint32_t(source.GetHeight());
        accumulator = 0;
        bits = 0;
        fill = 0;
    }
    int NextPixel()
    {
        if (left == 0)
            return -1;
        --left;
        const int index = image->GetPixelIndexUnchecked(x, row);
        if (++x == image->GetWidth()) {
            x = 0;
            --row;
        }
        return index;
    }
    void FlushPacket()
    {
        if (fill > 0) {
            Byte(uint8_t(fill));
            Put(packet, size_t(fill));
            fill = 0;
        }
    }
    void PutChar(uint8_t c)
    {
        packet[fill++] = c;
        if (fill >= packetMax)
            FlushPacket();
    }
    void Code(uint32_t code, int width)
    {
        accumulator |= code << bits;
        bits += width;
        while (bits >= 8) {
            PutChar(uint8_t(accumulator));
            accumulator >>= 8;
            bits -= 8;
        }
    }
    void Finish()
    {
        if (bits > 0)
            PutChar(uint8_t(accumulator));
        bits = 0;
        accumulator = 0;
        FlushPacket();
    }
};

namespace {

// LZW with a hashed string table, and the plain coder that sends every pixel as a literal;
// both keep the code width in step with what a decoder's table does.
class LzwCoder {
public:
    LzwCoder(PxImageGIF::Writer& w, int initBits) : m_w(w), m_initBits(initBits)
    {
        m_clear = 1 << (initBits - 1);
        m_end = m_clear + 1;
        m_free = m_clear + 2;
        m_width = initBits;
        m_max = (1 << m_width) - 1;
    }

    void Output(int code)
    {
        m_w.Code(uint32_t(code), m_width);
        if (m_free > m_max || m_clearFlag) {
            if (m_clearFlag) {
                m_width = m_initBits;
                m_max = (1 << m_width) - 1;
                m_clearFlag = false;
            } else {
                ++m_width;
                m_max = m_width == 12 ? 4096 : (1 << m_width) - 1;
            }
        }
        if (code == m_end)
            m_w.Finish();
    }

    void ClearBlock()
    {
        std::fill(m_hash, m_hash + kHashSize, -1);
        m_free = m_clear + 2;
        m_clearFlag = true;
        Output(m_clear);
    }

    void Lzw()
    {
        std::fill(m_hash, m_hash + kHashSize, -1);
        Output(m_clear);
        int prefix = m_w.NextPixel();
        if (prefix < 0) {
            Output(m_end);
            return;
        }
        for (int c; (c = m_w.NextPixel()) >= 0;) {
            const int32_t key = (c << 12) + prefix;
            int slot = (c << 4) ^ prefix;
            bool found = false;
            if (m_hash[slot] == key) {
                found = true;
            } else if (m_hash[slot] >= 0) {
                const int step = slot == 0 ? 1 : kHashSize - slot;
                do {
                    slot -= step;
                    if (slot < 0)
                        slot += kHashSize;
                    if (m_hash[slot] == key) {
                        found = true;
                        break;
                    }
                } while (m_hash[slot] > 0);
            }
            if (found) {
                prefix = m_codes[slot];
                continue;
            }
            Output(prefix);
            prefix = c;
            if (m_free < 4096) {
                m_codes[slot] = uint16_t(m_free++);
                m_hash[slot] = key;
            } else {
                ClearBlock();
            }
        }
        Output(prefix);
        Output(m_end);
    }

    void Plain()
    {
        Output(m_clear);
        for (int c; (c = m_w.NextPixel()) >= 0;) {
            Output(c);
            if (m_free < 4096) {
                ++m_free;
            } else {
                m_free = m_clear + 2;
                m_clearFlag = true;
                Output(m_clear);
            }
        }
        Output(m_end);
    }

private:
    PxImageGIF::Writer& m_w;
    int m_initBits, m_clear, m_end, m_free, m_width, m_max;
    bool m_clearFlag = false;
    int32_t m_hash[kHashSize];
    uint16_t m_codes[kHashSize] = {};
};

// Runs of equal pixels sent as codes whose strings a decoder's table happens to hold: after
// a clear, code base + k - 2 stands for k + 1 copies of the last pixel, so runs are built up
// as triangle numbers, and the table is cleared before it would hold other strings.
class RunCoder {
public:
    RunCoder(PxImageGIF::Writer& w, int initBits) : m_w(w)
    {
        m_w.packetMax = 255;
        m_clear = 1 << (initBits - 1);
        m_end = m_clear + 1;
        m_base = m_end + 1;
        m_bitsInit = initBits;
        m_bumpInit = (1 << (initBits - 1)) - 1;
        m_clearInit = initBits <= 3 ? 9 : m_bumpInit - 1;
        m_maxCodes = 4093 - m_clear;
    }

    void Run()
    {
        Reset();
        Output(m_clear);
        int count = 0, pixel = -1;
        for (;;) {
            const int c = m_w.NextPixel();
            if (count > 0 && c != pixel) {
                m_pixel = pixel;
                Flush(count);
                count = 0;
            }
            if (c < 0)
                break;
            if (pixel == c) {
                ++count;
            } else {
                pixel = c;
                count = 1;
            }
        }
        Output(m_end);
        m_w.Finish();
        m_w.packetMax = 254;
    }

private:
    void Output(int code) { m_w.Code(uint32_t(code), m_bits); }

    void Reset()
    {
        m_bits = m_bitsInit;
        m_bump = m_bumpInit;
        m_clearAt = m_clearInit;
        m_count = 0;
        m_tableMax = 0;
        m_justCleared = true;
    }

    void Plain(int code)
    {
        m_justCleared = false;
        Output(code);
        ++m_count;
        if (m_count >= m_bump) {
            ++m_bits;
            m_bump += 1 << (m_bits - 1);
        }
        if (m_count >= m_clearAt) {
            Output(m_clear);
            Reset();
        }
    }

    static int IntegerSqrt(int x)
    {
        if (x < 2)
            return x;
        int r = 1;
        for (int v = x; v > 3; v >>= 2)
            r <<= 1;
        for (;;) {
            const int next = (r + x / r) / 2;
            if (next == r || next == r + 1)
                return r;
            r = next;
        }
    }

    int Triangle(int count) const
    {
        int cost = 0;
        const int perRep = m_maxCodes * (m_maxCodes + 1) / 2;
        while (count >= perRep) {
            cost += m_maxCodes;
            count -= perRep;
        }
        if (count > 0) {
            int n = IntegerSqrt(count);
            while (n * (n + 1) >= 2 * count)
                --n;
            while (n * (n + 1) < 2 * count)
                ++n;
            cost += n;
        }
        return cost;
    }

    void ResetClearThreshold()
    {
        m_clearAt = m_clearInit;
        if (m_count >= m_clearAt) {
            Output(m_clear);
            Reset();
        }
    }

    void FromClear(int count)
    {
        m_clearAt = m_maxCodes;
        m_tablePixel = m_pixel;
        int n = 1;
        while (count > 0) {
            if (n == 1) {
                m_tableMax = 1;
                Plain(m_pixel);
                --count;
            } else if (count >= n) {
                m_tableMax = n;
                Plain(m_base + n - 2);
                count -= n;
            } else if (count == 1) {
                ++m_tableMax;
                Plain(m_pixel);
                count = 0;
            } else {
                ++m_tableMax;
                Plain(m_base + count - 2);
                count = 0;
            }
            n = m_count == 0 ? 1 : n + 1;
        }
        ResetClearThreshold();
    }

    void ClearOrRepeat(int count)
    {
        if (1 + Triangle(count) < count) {
            Output(m_clear);
            Reset();
            FromClear(count);
        } else {
            for (; count > 0; --count)
                Plain(m_pixel);
        }
    }

    void WithTable(int count)
    {
        int repeats = count / m_tableMax;
        int leftover = count % m_tableMax;
        int extra = leftover ? 1 : 0;
        if (m_count + repeats + extra > m_maxCodes) {
            repeats = m_maxCodes - m_count;
            leftover = count - repeats * m_tableMax;
            extra = 1 + Triangle(leftover);
        }
        if (1 + Triangle(count) < repeats + extra) {
            Output(m_clear);
            Reset();
            FromClear(count);
            return;
        }
        m_clearAt = m_maxCodes;
        for (; repeats > 0; --repeats)
            Plain(m_base + m_tableMax - 2);
        if (leftover) {
            if (m_justCleared)
                FromClear(leftover);
            else if (leftover == 1)
                Plain(m_pixel);
            else
                Plain(m_base + leftover - 2);
        }
        ResetClearThreshold();
    }

    void Flush(int count)
    {
        if (count == 1)
            Plain(m_pixel);
        else if (m_justCleared)
            FromClear(count);
        else if (m_tableMax < 2 || m_tablePixel != m_pixel)
            ClearOrRepeat(count);
        else
            WithTable(count);
    }

    PxImageGIF::Writer& m_w;
    int m_clear, m_end, m_base, m_bitsInit, m_bumpInit, m_clearInit, m_maxCodes;
    int m_bits = 0, m_bump = 0, m_clearAt = 0, m_count = 0, m_tableMax = 0;
    int m_pixel = 0, m_tablePixel = -1;
    bool m_justCleared = true;
};

} // namespace

bool PxImageGIF::Fail(const char* message)
{
    SetLastError(message);
    return false;
}

void PxImageGIF::SetComment(const char* text)
{
    if (text)
        m_comment.assign(text, strnlen(text, 255));
}

// ---- decoding ----

void PxImageGIF::SkipSubBlocks(PxFile* stream)
{
    for (;;) {
        const int32_t size = stream->GetC();
        if (size <= 0)
            return;
        if (!stream->Seek(size, 1))
            return;
    }
}

int64_t PxImageGIF::DecodeImageData(PxFile* stream, std::vector<uint8_t>* out, uint64_t pixels)
{
    if (out) {
        // Grown as the data gives pixels, so that a frame whose data ends early costs what it
        // holds, not what its descriptor claims.
        out->clear();
        out->reserve(size_t(pixels < 65536 ? pixels : 65536));
    }
    const int32_t initial = stream->GetC();
    if (initial < 2 || initial > 9) {
        SkipSubBlocks(stream);
        return -1;
    }
    uint16_t prefix[4096];
    uint8_t suffix[4096];
    uint8_t stack[4096];
    const int clear = 1 << initial, end = clear + 1;
    int codeSize = initial + 1, topSlot = 1 << codeSize, slot = clear + 2;
    for (int i = 0; i < 4096; ++i) {
        prefix[i] = 0;
        suffix[i] = uint8_t(i < clear ? i : 0);
    }
    uint64_t done = 0;
    uint32_t accumulator = 0;
    int bits = 0, blockLeft = 0;
    bool blocksEnded = false;
    // The next code, or -1 when the data ends.
    const auto nextCode = [&]() -> int {
        while (bits < codeSize) {
            if (blocksEnded)
                return -1;
            if (blockLeft == 0) {
                const int32_t size = stream->GetC();
                if (size <= 0) {
                    blocksEnded = true;
                    return -1;
                }
                blockLeft = size;
            }
            const int32_t c = stream->GetC();
            if (c < 0) {
                blocksEnded = true;
                return -1;
            }
            --blockLeft;
            accumulator |= uint32_t(c) << bits;
            bits += 8;
        }
        const int code = int(accumulator & ((1u << codeSize) - 1));
        accumulator >>= codeSize;
        bits -= codeSize;
        return code;
    };
    int old = -1;
    uint8_t first = 0;
    for (;;) {
        const int code = nextCode();
        if (code < 0 || code == end)
            break;
        if (code == clear) {
            codeSize = initial + 1;
            topSlot = 1 << codeSize;
            slot = clear + 2;
            old = -1;
            continue;
        }
        int sp = 0;
        if (old < 0) {
            // The first code after a clear stands for itself; one past the roots means 0.
            const int c = code < clear ? code : 0;
            first = uint8_t(c);
            stack[sp++] = first;
            old = c;
        } else {
            int current = code;
            if (code >= slot) {
                // The string being defined (or, for a code beyond it, damage): the old
                // string and its first byte.
                stack[sp++] = first;
                current = old;
            }
            while (current >= clear + 2 && sp < 4094) {
                stack[sp++] = suffix[current];
                current = prefix[current];
            }
            stack[sp++] = uint8_t(current < clear ? current : 0);
            first = stack[sp - 1];
            if (slot < topSlot) {
                suffix[slot] = first;
                prefix[slot] = uint16_t(old);
                ++slot;
                if (slot >= topSlot && codeSize < 12) {
                    ++codeSize;
                    topSlot <<= 1;
                }
            }
            old = code < slot ? code : slot - 1;
        }
        if (out)
            while (sp > 0 && done < pixels) {
                out->push_back(stack[--sp]);
                ++done;
            }
        else
            done += uint64_t(sp) < pixels - done ? uint64_t(sp) : pixels - done;
        if (done >= pixels)
            break;
    }
    if (!blocksEnded) {
        // The rest of the sub-block the last code came from, then the sub-blocks after it.
        if (blockLeft > 0)
            stream->Seek(blockLeft, 1);
        SkipSubBlocks(stream);
    }
    return int64_t(done);
}

bool PxImageGIF::ReadExtension(PxFile* stream, int32_t& transparent, uint8_t& transparentByte, uint8_t& disposal,
                               uint32_t& delay)
{
    const int32_t label = stream->GetC();
    if (label < 0)
        return false;
    if (label == 0xF9) {
        uint8_t record[5];
        if (stream->GetC() != 4 || stream->Read(record, 1, 4) != 4)
            return false;
        transparent = (record[0] & 1) ? record[3] : -1;
        transparentByte = record[3];
        delay = Le16(record + 1);
        disposal = uint8_t((record[0] >> 2) & 7);
    } else if (label == 0xFE) {
        const int32_t size = stream->GetC();
        if (size < 0)
            return false;
        char text[256];
        const size_t got = stream->Read(text, 1, size_t(size));
        m_comment.assign(text, got);
        if (got < size_t(size))
            return false;
    } else if (label == 0xFF) {
        uint8_t id[11];
        if (stream->GetC() != 11 || stream->Read(id, 1, 11) != 11)
            return false;
        const int32_t size = stream->GetC();
        if (size < 0)
            return false;
        uint8_t data[256];
        if (stream->Read(data, 1, size_t(size)) != size_t(size))
            return false;
        if (size > 2)
            m_loops = Le16(data + 1);
    }
    SkipSubBlocks(stream);
    return true;
}

std::vector<PxImageGIF::Descriptor> PxImageGIF::CountFrames(PxFile* stream, uint32_t& screenWidth,
                                                            uint32_t& screenHeight)
{
    const int32_t start = stream->Tell();
    std::vector<Descriptor> frames;
    for (int32_t c; (c = stream->GetC()) >= 0 && c != 0x3B;) {
        if (c == 0x21) {
            if (stream->GetC() < 0)
                break;
            SkipSubBlocks(stream);
        } else if (c == 0x2C) {
            uint8_t d[9];
            if (stream->Read(d, 1, 9) != 9)
                break;
            const Descriptor desc{Le16(d), Le16(d + 2), Le16(d + 4), Le16(d + 6), d[8]};
            if (screenWidth == 0 && screenHeight == 0) {
                screenWidth = desc.width;
                screenHeight = desc.height;
            }
            if (d[8] & 0x80)
                stream->Seek(3 << ((d[8] & 7) + 1), 1);
            if (!OnScreen(desc, screenWidth, screenHeight)) {
                if (stream->GetC() < 0)
                    break;
                SkipSubBlocks(stream);
                continue;
            }
            // Only as far as the first pixel: a frame whose data ends at once is no frame.
            if (DecodeImageData(stream, nullptr, 1) > 0)
                frames.push_back(desc);
        }
    }
    stream->Seek(start, 0);
    return frames;
}

bool PxImageGIF::OnScreen(const Descriptor& desc, uint32_t screenWidth, uint32_t screenHeight)
{
    return desc.width > 0 && desc.height > 0 && desc.left + desc.width <= screenWidth &&
           desc.top + desc.height <= screenHeight;
}

namespace {

// The canvas holds colours, so that images with tables of their own put together show their
// own colours; a cell without kDrawn holds a background index, read through the table of the
// image shown.
constexpr uint32_t kDrawn = 0x01000000;

// Bytes per screen pixel while an animation is put together: the canvas and its saved copy (4
// each), one frame's indices, and (the last 4) a composed picture of colours with its alpha.
constexpr uint64_t kWorkingBytes = 4 + 4 + 1 + 4;
// What a composed picture takes beside its pixels: the object, its header and palette.
constexpr uint64_t kPictureOverhead = sizeof(PxImage) + sizeof(PxBitmapInfoHeader) + 256 * sizeof(RGBQuad);
// Steps of pixel work one decode may take (filling, copying, drawing and composing), so that a
// small file of many large frames cannot keep it busy for minutes.
constexpr uint64_t kWorkBudget = 16 * uint64_t(PXIMAGE_MAX_MEMORY);

// The canvas as indices of the shown image's table when every drawn colour is among the
// entries a picture of the canvas depth holds (the transparent entry left out, so that no drawn
// pixel turns transparent); else as colours, the transparent background in an alpha plane.
// The bytes it takes are added to committed, and refused past PXIMAGE_MAX_MEMORY, before they
// are allocated. Null, or what went wrong.
// The cells come a row at a time (y from the top), from the canvas or, for the first frame
// alone, straight from its pixels, so that a large screen is not held twice for one frame.
using CanvasRows = std::function<void(uint32_t y, uint32_t* cells)>;

const char* ComposeCanvas(PxImage& target, const CanvasRows& rows, uint32_t screenWidth, uint32_t screenHeight,
                          const RGBQuad* colours, uint32_t canvasBpp, int32_t firstTransparent, uint64_t& committed)
{
    std::vector<uint32_t> cells(screenWidth);
    // An entry past what the picture's palette holds would come out as another colour.
    const uint32_t paletteSize = 1u << canvasBpp;
    const int32_t transparentIndex = firstTransparent < int32_t(paletteSize) ? firstTransparent : -1;
    std::unordered_map<uint32_t, uint8_t> lookup;
    for (uint32_t i = 0; i < paletteSize; ++i)
        if (int32_t(i) != transparentIndex)
            lookup.emplace(PxPack(colours[i]) & 0xFFFFFF, uint8_t(i));
    bool indexed = true;
    uint32_t last = 0xFFFFFFFF;
    for (uint32_t y = 0; y < screenHeight && indexed; ++y) {
        rows(y, cells.data());
        for (uint32_t x = 0; x < screenWidth && indexed; ++x) {
            const uint32_t cell = cells[x];
            if (cell == last)
                continue;
            last = cell;
            indexed = (cell & kDrawn) ? lookup.count(cell & 0xFFFFFF) != 0 : cell < paletteSize;
        }
    }
    const int32_t width = int32_t(screenWidth), height = int32_t(screenHeight);
    const uint32_t bpp = indexed ? canvasBpp : 24;
    committed += kPictureOverhead + PxImage::PixelBytesFor(width, height, bpp) +
                 (indexed ? 0 : uint64_t(screenWidth) * screenHeight);
    if (committed > uint64_t(PXIMAGE_MAX_MEMORY))
        return "PXIMAGE_MAX_MEMORY exceeded";
    if (!target.Create(width, height, bpp, PXIMAGE_FORMAT_GIF))
        return target.GetLastError();
    target.SetPalette(colours, 256);
    bool clear = false;
    last = 0xFFFFFFFF;
    uint8_t lastIndex = 0;
    std::vector<uint8_t> indices(indexed ? screenWidth : 0);
    for (uint32_t y = 0; y < screenHeight; ++y) {
        rows(y, cells.data());
        const uint32_t* line = cells.data();
        uint8_t* out = target.GetRow(int32_t(screenHeight - 1 - y));
        if (!indexed) {
            for (uint32_t x = 0; x < screenWidth; ++x) {
                const uint32_t cell = line[x];
                const RGBQuad c = (cell & kDrawn) ? PxUnpack(cell) : colours[cell & 0xFF];
                out[3 * x] = c.blue;
                out[3 * x + 1] = c.green;
                out[3 * x + 2] = c.red;
                clear = clear || (!(cell & kDrawn) && int32_t(cell) == firstTransparent);
            }
            continue;
        }
        for (uint32_t x = 0; x < screenWidth; ++x) {
            const uint32_t cell = line[x];
            if (cell != last) {
                last = cell;
                lastIndex = (cell & kDrawn) ? lookup[cell & 0xFFFFFF] : uint8_t(cell);
            }
            indices[x] = lastIndex;
        }
        // Packed into the row at the picture's depth, the first pixel in the highest bits.
        if (bpp == 8) {
            memcpy(out, indices.data(), screenWidth);
        } else {
            const uint32_t perByte = 8 / bpp;
            for (uint32_t x = 0; x < screenWidth; x += perByte) {
                uint8_t byte = 0;
                for (uint32_t k = 0; k < perByte; ++k)
                    byte = uint8_t(byte << bpp | (x + k < screenWidth ? indices[x + k] : 0));
                out[x / perByte] = byte;
            }
        }
    }
    if (clear && target.AlphaCreate())
        for (uint32_t y = 0; y < screenHeight; ++y) {
            rows(y, cells.data());
            for (uint32_t x = 0; x < screenWidth; ++x) {
                const uint32_t cell = cells[x];
                if (!(cell & kDrawn) && int32_t(cell) == firstTransparent)
                    target.AlphaSet(int32_t(x), int32_t(screenHeight - 1 - y), 0);
            }
        }
    if (indexed)
        target.SetTransparentIndex(transparentIndex);
    return nullptr;
}

} // namespace

bool PxImageGIF::Decode(PxFile* stream)
{
    if (!stream)
        return Fail("null file handler");
    uint8_t h[13];
    if (stream->Read(h, 1, 13) != 13 || memcmp(h, "GIF8", 4) != 0)
        return Fail("Not a GIF");
    uint32_t screenWidth = Le16(h + 6), screenHeight = Le16(h + 8);
    uint8_t globalTable[768];
    uint32_t globalEntries = 0;
    if (h[10] & 0x80) {
        globalEntries = 2u << (h[10] & 7);
        if (stream->Read(globalTable, 1, 3 * globalEntries) != 3 * globalEntries)
            return Fail("GIF colour table is cut short");
    }
    const std::vector<Descriptor> counted = CountFrames(stream, screenWidth, screenHeight);
    const int32_t count = int32_t(counted.size());
    // A screen of 0 x 0 has taken the first image's size.
    if (GetEscape() == -1) {
        m_head.width = int32_t(screenWidth);
        m_head.height = int32_t(screenHeight);
        m_info.type = PXIMAGE_FORMAT_GIF;
        SetLastError("output dimensions returned");
        return screenWidth > 0 && screenHeight > 0 ? true : Fail("GIF screen is empty");
    }
    const int32_t wanted = GetFrame();
    if (wanted < 0 || wanted >= count) {
        // The caller learns how many frames there are.
        m_info.frameCount = count;
        return Fail(count ? "GIF frame index out of range" : "GIF holds no image");
    }
    const bool keepAll = GetRetrieveAllFrames();
    const uint64_t screenPixels = uint64_t(screenWidth) * screenHeight;
    uint64_t allFramesArea = 0;
    for (const Descriptor& d : counted)
        allFramesArea += uint64_t(d.width) * d.height;
    // Without a global table, images smaller than the screen are the tiles of one picture (as a
    // 24-bit picture is written); tiles that add up to far more than the screen are no tiling
    // but an animation, and only the frames up to the one asked for are drawn.
    const bool tiled = globalEntries == 0 && count > 1 &&
                       (counted[0].width < screenWidth || counted[0].height < screenHeight) &&
                       allFramesArea <= 2 * screenPixels;

    // Everything this decode will hold and do, counted before any of it is allocated.
    const int32_t drawn = tiled || keepAll ? count : wanted + 1;
    uint64_t drawnArea = 0;
    for (int32_t i = 0; i < drawn; ++i)
        drawnArea += uint64_t(counted[size_t(i)].width) * counted[size_t(i)].height;
    uint64_t memory = tiled ? 4 * screenPixels : kWorkingBytes * screenPixels + kPictureOverhead;
    if (keepAll && !tiled)
        memory += (screenPixels + kPictureOverhead) * uint64_t(count);
    if (memory > uint64_t(PXIMAGE_MAX_MEMORY))
        return Fail("PXIMAGE_MAX_MEMORY exceeded");
    const uint64_t work = drawnArea + (tiled ? screenPixels : 3 * screenPixels * uint64_t(drawn));
    if (work > kWorkBudget)
        return Fail("GIF animation too large to compose");
    // The canvas, its copy and the frame's indices; what the composed pictures really take is
    // added as each one is made.
    uint64_t committed = tiled ? 0 : (kWorkingBytes - 4) * screenPixels;

    std::vector<uint32_t> canvas, saved;
    std::vector<uint8_t> pixels;
    uint32_t canvasBpp = 0;
    int32_t transparent = -1, firstTransparent = -1;
    uint8_t transparentByte = 0, disposal = 0, previousDisposal = 0;
    uint32_t delay = 0;
    int32_t index = 0;
    bool found = false;
    std::vector<std::unique_ptr<PxImage>> frames;
    int32_t lastTransparent = -1;
    RGBQuad lastTransparentColour{0, 0, 0, 0};

    for (int32_t c; (c = stream->GetC()) >= 0 && c != 0x3B && index < count;) {
        if (GetEscape() > 0)
            return Fail("Cancelled");
        if (c == 0x21) {
            if (!ReadExtension(stream, transparent, transparentByte, disposal, delay))
                break;
            continue;
        }
        if (c != 0x2C)
            continue;
        uint8_t d[9];
        if (stream->Read(d, 1, 9) != 9)
            break;
        const Descriptor desc{Le16(d), Le16(d + 2), Le16(d + 4), Le16(d + 6), d[8]};
        uint8_t localTable[768];
        uint32_t localEntries = 0;
        if (desc.packed & 0x80) {
            localEntries = 2u << (desc.packed & 7);
            if (stream->Read(localTable, 1, 3 * localEntries) != 3 * localEntries)
                break;
        }
        if (!OnScreen(desc, screenWidth, screenHeight)) {
            // Not on the screen: not a frame.
            if (stream->GetC() < 0)
                break;
            SkipSubBlocks(stream);
            continue;
        }
        const uint8_t* table = localEntries ? localTable : globalTable;
        const uint32_t entries = localEntries ? localEntries : globalEntries;
        const uint32_t bpp = DepthFor(entries);

        // This image alone, its rows in picture order; data that gives no pixel at all was not
        // counted as a frame either.
        const uint64_t framePixels = uint64_t(desc.width) * desc.height;
        const int64_t decoded = DecodeImageData(stream, &pixels, framePixels);
        if (decoded <= 0)
            continue;
        const uint64_t reached = uint64_t(decoded);
        RGBQuad colours[256] = {};
        if (entries) {
            for (uint32_t i = 0; i < 256; ++i)
                colours[i] = i < entries ? RGBQuad{table[3 * i + 2], table[3 * i + 1], table[3 * i], 0}
                                         : RGBQuad{255, 255, 255, 0};
            if (!(transparent >= 0 && entries <= 255))
                for (uint32_t i = entries; i < 256; ++i)
                    colours[i] = RGBQuad{0, 0, 0, 0};
        }
        const std::vector<uint32_t> order = LineOrder(desc.height, (desc.packed & 0x40) != 0);
        // Line i of the data went to row order[i]; pixels past what was decoded stay as they
        // were. Only the lines decoded are visited.
        const auto forEachDecoded = [&](const auto& visit) {
            const uint64_t lines = (reached + desc.width - 1) / desc.width;
            for (uint64_t i = 0; i < lines; ++i) {
                const uint8_t* line = pixels.data() + i * desc.width;
                const uint64_t length = reached - i * desc.width < desc.width ? reached - i * desc.width : desc.width;
                for (uint32_t x = 0; x < length; ++x)
                    visit(x, order[size_t(i)], line[x]);
            }
        };

        if (tiled) {
            if (index == 0 && !Create(int32_t(screenWidth), int32_t(screenHeight), 24, PXIMAGE_FORMAT_GIF))
                return false;
            // As the frame's own palette reads it: indices past its depth are black.
            const uint32_t paletteSize = entries ? 1u << bpp : 0;
            forEachDecoded([&](uint32_t x, uint32_t y, uint8_t value) {
                RGBQuad colour = value < paletteSize ? colours[value] : RGBQuad{0, 0, 0, 0};
                colour.alpha = 255;
                SetPixelColor(int32_t(desc.left + x), int32_t(screenHeight - 1 - (desc.top + y)), colour);
            });
            lastTransparent = transparent;
            if (transparent >= 0) {
                lastTransparentColour = uint32_t(transparent) < paletteSize ? colours[transparent] : RGBQuad{};
                lastTransparentColour.alpha = 255;
            }
            ++index;
            continue;
        }

        if (index == 0 && wanted == 0 && !keepAll) {
            // The first frame alone: composed from its own pixels, without a canvas.
            std::vector<int64_t> lineOfRow(desc.height, -1);
            for (uint32_t i = 0; i < desc.height; ++i)
                lineOfRow[order[i]] = i;
            const CanvasRows rows = [&](uint32_t y, uint32_t* cells) {
                std::fill(cells, cells + screenWidth, uint32_t(transparentByte));
                if (y < desc.top || y >= desc.top + desc.height)
                    return;
                const uint64_t start = uint64_t(lineOfRow[y - desc.top]) * desc.width;
                for (uint64_t x = 0; x < desc.width && start + x < reached; ++x) {
                    const uint8_t value = pixels[size_t(start + x)];
                    if (int32_t(value) != transparent)
                        cells[desc.left + x] = kDrawn | (PxPack(colours[value]) & 0xFFFFFF);
                }
            };
            const char* error =
                ComposeCanvas(*this, rows, screenWidth, screenHeight, colours, bpp, transparent, committed);
            if (error)
                return Fail(error);
            SetFrameDelay(delay);
            SetDisposalMethod(disposal);
            found = true;
            break;
        }
        if (index == 0) {
            canvas.assign(size_t(screenPixels), uint32_t(transparentByte));
            firstTransparent = transparent;
            if (count > 1)
                saved = canvas;
        } else if (previousDisposal == 3) {
            canvas = saved;
        } else if (previousDisposal == 2) {
            // The whole canvas goes back to the background, not only the last image's place.
            std::fill(canvas.begin(), canvas.end(), uint32_t(uint8_t(firstTransparent)));
        }
        if (bpp > canvasBpp)
            canvasBpp = bpp;
        forEachDecoded([&](uint32_t x, uint32_t y, uint8_t value) {
            if (int32_t(value) != transparent)
                canvas[size_t(desc.top + y) * screenWidth + desc.left + x] =
                    kDrawn | (PxPack(colours[value]) & 0xFFFFFF);
        });
        if ((disposal == 0 || disposal == 1) && count > 1)
            saved = canvas;
        previousDisposal = disposal;

        if (index == wanted || keepAll) {
            const auto compose = [&](PxImage& target) {
                const CanvasRows rows = [&](uint32_t y, uint32_t* cells) {
                    memcpy(cells, canvas.data() + size_t(y) * screenWidth, screenWidth * sizeof(uint32_t));
                };
                const char* error = ComposeCanvas(target, rows, screenWidth, screenHeight, colours, canvasBpp,
                                                  firstTransparent, committed);
                if (error)
                    return Fail(error);
                target.SetFrameDelay(delay);
                target.SetDisposalMethod(disposal);
                return true;
            };
            if (index == wanted) {
                if (!compose(*this))
                    return false;
                found = true;
            }
            if (keepAll) {
                std::unique_ptr<PxImage> kept(new PxImage(0));
                if (!compose(*kept))
                    return false;
                kept->SetFrame(index);
                frames.push_back(std::move(kept));
            }
        }
        if (index == wanted && !keepAll)
            break;
        ++index;
    }
    if (tiled) {
        if (index == 0)
            return Fail("GIF holds no image");
        if (lastTransparent >= 0) {
            SetTransparentColor(lastTransparentColour);
            m_info.backgroundIndex = 0;
        }
    } else if (!found) {
        // The blocks ended (or an extension was broken) before the frame asked for.
        return Fail("GIF frame not found");
    }
    const int32_t kept = int32_t(frames.size());
    if (keepAll && !tiled) {
        std::vector<PxImage*> array;
        for (auto& f : frames) {
            f->SetRetrieveAllFrames(false);
            array.push_back(f.release());
        }
        if (!SetFrames(array.data(), int32_t(array.size()))) {
            for (PxImage* f : array)
                delete f;
            return Fail("can't allocate memory");
        }
    }
    m_info.frameCount = keepAll && !tiled ? kept : count;
    m_info.frameIndex = tiled ? count - 1 : wanted;
    return true;
}

// ---- encoding ----

namespace {

void WriteHeader(PxImageGIF::Writer& w, const PxImage& image)
{
    w.Put("GIF89a", 6);
    w.Word(uint32_t(image.GetWidth()));
    w.Word(uint32_t(image.GetHeight()));
    const uint32_t bpp = image.GetBpp();
    const bool palette = image.GetPalette() != nullptr;
    w.Byte(palette ? uint8_t(0x80 | ((bpp - 1) << 4) | (bpp - 1)) : 0x11);
    w.Byte(0);
    w.Byte(0);
    if (palette)
        for (uint32_t i = 0; i < image.GetNumColors(); ++i) {
            const RGBQuad c = image.GetPaletteColor(uint8_t(i));
            w.Put(std::string{char(c.red), char(c.green), char(c.blue)}.data(), 3);
        }
}

void WriteGraphicControl(PxImageGIF::Writer& w, const PxImage& image, uint8_t disposal)
{
    const int32_t transparent = image.GetTransparentIndex();
    w.Put("\x21\xF9\x04", 3);
    w.Byte(uint8_t((transparent != -1 ? 1 : 0) | ((disposal << 2) & 0x1C)));
    w.Word(image.GetFrameDelay());
    w.Byte(transparent >= 0 ? uint8_t(transparent) : 255);
    w.Byte(0);
}

void WriteComment(PxImageGIF::Writer& w, const std::string& comment)
{
    if (comment.empty())
        return;
    w.Put("\x21\xFE", 2);
    const size_t n = comment.size() < 255 ? comment.size() : 255;
    w.Byte(uint8_t(n));
    w.Put(comment.data(), n);
    w.Byte(0);
}

} // namespace

bool PxImageGIF::WriteImage(Writer& w, const PxImage& image, bool localTable)
{
    const uint32_t bpp = image.GetBpp();
    int32_t left = 0, top = 0;
    image.GetOffset(&left, &top);
    w.Byte(0x2C);
    w.Word(uint32_t(left));
    w.Word(uint32_t(top));
    w.Word(uint32_t(image.GetWidth()));
    w.Word(uint32_t(image.GetHeight()));
    if (localTable) {
        w.Byte(uint8_t(0x80 | (bpp - 1)));
        for (uint32_t i = 0; i < image.GetNumColors(); ++i) {
            const RGBQuad c = image.GetPaletteColor(uint8_t(i));
            w.Put(std::string{char(c.red), char(c.green), char(c.blue)}.data(), 3);
        }
    } else {
        w.Byte(0);
    }
    const int codeSize = bpp == 1 ? 2 : int(bpp);
    w.Byte(uint8_t(codeSize));
    w.Start(image);
    switch (GetCodecOption(PXIMAGE_FORMAT_GIF)) {
    case PXGIF_CODER_PLAIN:
        std::make_unique<LzwCoder>(w, codeSize + 1)->Plain();
        break;
    case PXGIF_CODER_RLE:
        RunCoder(w, codeSize + 1).Run();
        break;
    default:
        std::make_unique<LzwCoder>(w, codeSize + 1)->Lzw();
        break;
    }
    w.Byte(0);
    return !w.failed;
}

bool PxImageGIF::Encode(PxFile* stream)
{
    if (EncodeSafeCheck(stream))
        return false;
    if (GetWidth() > 65535 || GetHeight() > 65535)
        return Fail("GIF images are at most 65535 pixels wide and high");
    if (GetBpp() > 8)
        return EncodeTrueColor(stream);
    if (GetFrameCount() > 1 && GetFrameImage(0)) {
        std::vector<PxImage*> frames;
        for (int32_t i = 0; i < GetFrameCount(); ++i)
            frames.push_back(GetFrameImage(i));
        return EncodeFrames(stream, frames.data(), int32_t(frames.size()), false, false);
    }
    Writer w{stream};
    WriteHeader(w, *this);
    WriteGraphicControl(w, *this, GetDisposalMethod());
    WriteComment(w, m_comment);
    const bool ok = WriteImage(w, *this, false);
    w.Byte(0x3B);
    return ok && !w.failed ? true : Fail("Write Error in GIF file");
}

bool PxImageGIF::EncodeTrueColor(PxFile* stream)
{
    Writer w{stream};
    const int32_t width = GetWidth(), height = GetHeight();
    w.Put("GIF89a", 6);
    w.Word(uint32_t(width));
    w.Word(uint32_t(height));
    w.Put("\x11\0\0", 3);
    WriteComment(w, m_comment);
    const bool transparent = GetTransparentIndex() >= 0;
    const RGBQuad transparentColour = GetTransparentColor();
    PxImage tile(0);
    tile.SetCodecOption(GetCodecOption(PXIMAGE_FORMAT_GIF), PXIMAGE_FORMAT_GIF);
    for (int32_t top = 0; top < height; top += 15) {
        for (int32_t left = 0; left < width; left += 17) {
            if (GetEscape())
                return Fail("Cancelled");
            const int32_t tw = width - left < 17 ? width - left : 17;
            const int32_t th = height - top < 15 ? height - top : 15;
            if (tile.GetWidth() != tw || tile.GetHeight() != th) {
                if (!tile.Create(tw, th, 8, 0))
                    return Fail(tile.GetLastError());
            }
            RGBQuad* palette = tile.GetPalette();
            palette[0] = transparent
                             ? RGBQuad{transparentColour.blue, transparentColour.green, transparentColour.red, 0}
                             : RGBQuad{0, 0, 0, 0};
            tile.SetTransparentIndex(transparent ? 0 : -1);
            for (int32_t y = 0; y < th; ++y) {
                // Tile row y (from the tile's bottom) lies under picture row top + th - 1 - y.
                const int32_t row = height - 1 - (top + th - 1 - y);
                for (int32_t x = 0; x < tw; ++x) {
                    const RGBQuad c = GetPixelColorUnchecked(left + x, row, false);
                    const uint32_t entry = uint32_t(1 + 17 * y + x);
                    palette[entry] = RGBQuad{c.blue, c.green, c.red, 0};
                }
            }
            for (int32_t y = 0; y < th; ++y)
                for (int32_t x = 0; x < tw; ++x) {
                    const RGBQuad c = palette[1 + 17 * y + x];
                    uint32_t k = 0;
                    while (palette[k].blue != c.blue || palette[k].green != c.green || palette[k].red != c.red)
                        ++k;
                    tile.SetPixelIndexUnchecked(x, y, uint8_t(k));
                }
            tile.SetOffset(left, top);
            WriteGraphicControl(w, tile, 0);
            if (!WriteImage(w, tile, true))
                return Fail("Write Error in GIF file");
        }
    }
    w.Byte(0x3B);
    return w.failed ? Fail("Write Error in GIF file") : true;
}

bool PxImageGIF::EncodeFrames(PxFile* stream, PxImage** frames, int32_t count, bool localTables, bool localDisposal)
{
    if (!stream)
        return Fail("invalid file pointer");
    if (!frames || count < 1 || !frames[0])
        return Fail("multipage GIF, no images!");
    for (int32_t i = 0; i < count; ++i) {
        if (!frames[i])
            return Fail("Bad image pointer");
        if (!frames[i]->IsValid())
            return Fail("Empty image");
        if (!frames[i]->GetPalette())
            return Fail("PxImageGIF::Encode cannot create animated GIFs with a true color frame. Use DecreaseBpp "
                        "before");
        if (frames[i]->GetWidth() > 65535 || frames[i]->GetHeight() > 65535)
            return Fail("GIF images are at most 65535 pixels wide and high");
    }
    Writer w{stream};
    WriteHeader(w, *frames[0]);
    if (m_loops != 1) {
        w.Put("\x21\xFF\x0BNETSCAPE2.0\x03\x01", 16);
        w.Word(m_loops < 1 ? 0 : uint32_t(m_loops - 1));
        w.Byte(0);
    }
    for (int32_t i = 0; i < count && !w.failed; ++i) {
        if (GetEscape())
            return Fail("Cancelled");
        const PxImage& frame = *frames[i];
        WriteGraphicControl(w, frame, localDisposal ? frame.GetDisposalMethod() : GetDisposalMethod());
        if (i == 0)
            WriteComment(w, m_comment);
        WriteImage(w, frame, i > 0 && localTables);
    }
    w.Byte(0x3B);
    return w.failed ? Fail("Write Error in GIF file") : true;
}
