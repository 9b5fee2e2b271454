#include "image/PxImage.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

constexpr const char* kCreateSizeError = "PxImage::Create : width and height must be greater than zero";

uint32_t NormaliseDepth(uint32_t bpp)
{
    if (bpp < 2)
        return 1;
    if (bpp < 5)
        return 4;
    if (bpp < 9)
        return 8;
    return 24;
}

uint64_t RowSizeFor(int32_t width, uint32_t bits)
{
    return (uint64_t(uint32_t(width)) * bits + 31) / 32 * 4;
}

// Asked once: the answer reads a file of the kernel's, and every image starts with it.
int32_t HardwareThreads()
{
    static const int32_t count = [] {
        const unsigned n = std::thread::hardware_concurrency();
        return n ? int32_t(n) : 1;
    }();
    return count;
}

int32_t PelsPerMeter(int32_t dpi)
{
    const double pels = std::floor(double(dpi) * 10000.0 / 254.0 + 0.5);
    return pels > double(INT32_MAX) ? INT32_MAX : int32_t(pels);
}

} // namespace

int CompareLuminance(const void* a, const void* b)
{
    const uint8_t* p = static_cast<const uint8_t*>(a);
    const uint8_t* q = static_cast<const uint8_t*>(b);
    const int la = (117 * p[0] + 601 * p[1] + 306 * p[2]) >> 10;
    const int lb = (117 * q[0] + 601 * q[1] + 306 * q[2]) >> 10;
    return la - lb;
}

// ---- construction ----

PxImage::PxImage(uint32_t type)
{
    Init(type);
}

PxImage::PxImage(int32_t width, int32_t height, uint32_t bpp, uint32_t type)
{
    Init(type);
    Create(width, height, bpp, type);
}

PxImage::PxImage(const PxImage& source, bool copyPixels, bool copySelection, bool copyAlpha)
{
    Init(source.GetType());
    CopyFrom(source, copyPixels, copySelection, copyAlpha);
}

PxImage::PxImage(const char* path, uint32_t type)
{
    Init(type);
    Load(path, type);
}

PxImage::PxImage(FILE* stream, uint32_t type)
{
    Init(type);
    DecodeStdio(stream, type);
}

PxImage::PxImage(PxFile* stream, uint32_t type)
{
    Init(type);
    Decode(stream, type);
}

PxImage::PxImage(const uint8_t* data, uint32_t size, uint32_t type)
{
    Init(type);
    DecodeMemory(data, size, type);
}

PxImage::PxImage(const PxImage& other)
{
    Init(other.GetType());
    CopyFrom(other, true, true, true);
}

PxImage& PxImage::operator=(const PxImage& other)
{
    if (this != &other)
        CopyFrom(other, true, true, true);
    return *this;
}

PxImage::~PxImage()
{
    FreeFrames();
    FreeImageData();
}

// ---- storage ----

void PxImage::ClearMembers()
{
    m_block = nullptr;
    m_head = PxBitmapInfoHeader{};
    m_info = PxSettings{};
    m_selection = nullptr;
    m_alpha = nullptr;
    m_layers = nullptr;
    m_frames = nullptr;
    m_ghost = nullptr;
    m_progress = 0;
    m_escape = 0;
}

void PxImage::Init(uint32_t type)
{
    // What this image owned goes first; a ghost owned nothing.
    FreeFrames();
    FreeImageData();
    ClearMembers();
    m_info.type = type;
    m_info.quality = 90.0f;
    m_info.alphaMax = 255;
    m_info.backgroundIndex = -1;
    m_info.enabled = true;
    m_info.jpegScale = 1;
    m_info.littleEndianHost = true;
    m_info.threadCount = HardwareThreads();
    SetXDpi(96);
    SetYDpi(96);
    ResetSelectionBox();
}

void PxImage::ResetSelectionBox()
{
    m_info.selectionBox.left = m_head.width;
    m_info.selectionBox.right = 0;
    m_info.selectionBox.bottom = m_head.height;
    m_info.selectionBox.top = 0;
}

uint8_t* PxImage::GetBits() const
{
    return m_block ? m_block + sizeof(PxBitmapInfoHeader) + 4 * uint64_t(m_head.clrUsed) : nullptr;
}

uint64_t PxImage::PixelBytesFor(int32_t width, int32_t height, uint32_t bpp)
{
    if (width <= 0 || height <= 0)
        return 0;
    return RowSizeFor(width, NormaliseDepth(bpp)) * uint64_t(height);
}

bool PxImage::FitsMemory(int32_t width, int32_t height, uint32_t bpp)
{
    // Both the asked depth and the padded rows that are really allocated stay under the bound.
    const double asked = double(bpp > 64 ? 64 : bpp) * double(width) * double(height) / 8.0;
    return asked <= double(PXIMAGE_MAX_MEMORY) && PixelBytesFor(width, height, bpp) <= uint64_t(PXIMAGE_MAX_MEMORY);
}

uint8_t* PxImage::Create(int32_t width, int32_t height, uint32_t bpp, uint32_t type)
{
    if (!FreeImageData())
        return nullptr;
    if (width <= 0 || height <= 0) {
        SetLastError(kCreateSizeError);
        return nullptr;
    }
    const uint32_t bits = NormaliseDepth(bpp);
    if (!FitsMemory(width, height, bpp)) {
        SetLastError("PXIMAGE_MAX_MEMORY exceeded");
        return nullptr;
    }
    const uint64_t rowSize = RowSizeFor(width, bits);
    const uint64_t imageSize = rowSize * uint64_t(height);
    const uint32_t colours = bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
    // Zero-filled, so that nothing a short read or an unsupported depth leaves behind is
    // memory of someone else's.
    uint8_t* block = static_cast<uint8_t*>(calloc(1, sizeof(PxBitmapInfoHeader) + 4 * colours + imageSize));
    if (!block) {
        SetLastError("PxImage::Create can't allocate memory");
        return nullptr;
    }
    m_info.type = type;
    m_info.rowSize = uint32_t(rowSize);
    m_head.size = sizeof(PxBitmapInfoHeader);
    m_head.width = width;
    m_head.height = height;
    m_head.planes = 1;
    m_head.bitCount = uint16_t(bits);
    m_head.compression = 0;
    m_head.sizeImage = uint32_t(imageSize);
    m_head.clrUsed = colours;
    // A count left from an earlier palette must not reach past this one.
    m_head.clrImportant = 0;
    m_block = block;
    memcpy(m_block, &m_head, sizeof m_head);
    return m_block;
}

bool PxImage::FreeImageData()
{
    if (m_ghost)
        return false;
    if (m_layers) {
        for (int32_t i = 0; i < m_info.layerCount; ++i)
            delete m_layers[i];
        free(m_layers);
        m_layers = nullptr;
    }
    m_info.layerCount = 0;
    free(m_selection);
    m_selection = nullptr;
    free(m_alpha);
    m_alpha = nullptr;
    free(m_block);
    m_block = nullptr;
    return true;
}

bool PxImage::FreeFrames()
{
    if (m_ghost)
        return false;
    if (m_frames) {
        for (int32_t i = 0; i < m_info.frameCount; ++i)
            delete m_frames[i];
        free(m_frames);
        m_frames = nullptr;
    }
    m_info.frameCount = 0;
    return true;
}

void PxImage::CopyControlsFrom(const PxImage& other)
{
    m_progress = other.GetProgress();
    m_escape = other.GetEscape();
}

void PxImage::CopyFrom(const PxImage& source, bool copyPixels, bool copySelection, bool copyAlpha)
{
    if (&source == this)
        return;
    if (source.m_ghost) {
        FreeFrames();
        FreeImageData();
        m_head = source.m_head;
        m_info = source.m_info;
        CopyControlsFrom(source);
        m_block = source.m_block;
        m_selection = source.m_selection;
        m_alpha = source.m_alpha;
        m_layers = source.m_layers;
        m_frames = source.m_frames;
        m_ghost = const_cast<PxImage*>(&source);
        return;
    }
    if (!FreeImageData())
        return;
    // The frames this image holds stay its own; the count says so.
    const int32_t ownFrames = m_info.frameCount;
    m_info = source.m_info;
    m_info.frameCount = m_frames ? ownFrames : 0;
    m_info.layerCount = 0;
    m_head = source.m_head;
    CopyControlsFrom(source);
    if (!source.m_block)
        return;
    if (!Create(source.GetWidth(), source.GetHeight(), source.GetBpp(), source.GetType()))
        return;
    m_head.clrImportant = source.m_head.clrImportant;
    if (copyPixels)
        memcpy(m_block, source.m_block, GetBlockSize());
    else
        SetPalette(source.GetPalette(), 256);
    memcpy(m_block, &m_head, sizeof m_head);
    const size_t plane = size_t(PixelCount());
    if (copySelection && source.m_selection) {
        m_selection = static_cast<uint8_t*>(malloc(plane));
        if (m_selection)
            memcpy(m_selection, source.m_selection, plane);
    }
    if (copyAlpha && source.m_alpha) {
        m_alpha = static_cast<uint8_t*>(malloc(plane));
        if (m_alpha)
            memcpy(m_alpha, source.m_alpha, plane);
    }
}

bool PxImage::Transfer(PxImage& source, bool transferFrames)
{
    if (&source == this)
        return true;
    if (source.m_ghost) {
        // Its storage belongs to another image: taking it over would free it twice.
        SetLastError("PxImage::Transfer : the source shares another image's storage");
        return false;
    }
    if (!FreeImageData())
        return false;
    const int32_t ownFrames = m_info.frameCount;
    const int32_t sourceFrames = source.m_info.frameCount;
    m_head = source.m_head;
    m_info = source.m_info;
    m_block = source.m_block;
    m_selection = source.m_selection;
    m_alpha = source.m_alpha;
    m_layers = source.m_layers;
    PxImage** sourceFrameArray = source.m_frames;
    source.m_block = nullptr;
    source.m_selection = nullptr;
    source.m_alpha = nullptr;
    source.m_layers = nullptr;
    source.m_head = PxBitmapInfoHeader{};
    source.m_info = PxSettings{};
    if (transferFrames) {
        FreeFrames();
        m_frames = sourceFrameArray;
        m_info.frameCount = sourceFrameArray ? sourceFrames : 0;
        source.m_frames = nullptr;
    } else {
        // Each side keeps the frames it holds, and its count says so.
        m_info.frameCount = m_frames ? ownFrames : 0;
        source.m_info.frameCount = sourceFrameArray ? sourceFrames : 0;
    }
    return true;
}

void PxImage::MakeGhostOf(const PxImage* source)
{
    if (!source)
        return;
    FreeFrames();
    FreeImageData();
    m_head = source->m_head;
    m_info = source->m_info;
    CopyControlsFrom(*source);
    m_block = source->m_block;
    m_selection = source->m_selection;
    m_alpha = source->m_alpha;
    m_layers = source->m_layers;
    m_frames = source->m_frames;
    m_ghost = const_cast<PxImage*>(source);
}

void PxImage::CopySettingsFrom(const PxImage& other)
{
    if (m_block || &other == this)
        return;
    m_info = other.m_info;
    // Counts describe what this image holds, not what the other one does.
    m_info.frameCount = 0;
    m_info.layerCount = 0;
    if (m_frames && !m_ghost)
        FreeFrames();
    CopyControlsFrom(other);
}

bool PxImage::HandOver(PxImage& temporary, PxImage* destination)
{
    PxImage& target = destination ? *destination : *this;
    if (!target.Transfer(temporary, destination != nullptr)) {
        if (destination)
            SetLastError(destination->GetLastError());
        return false;
    }
    return true;
}

bool PxImage::MakeTemporary(PxImage& temporary, int32_t width, int32_t height, uint32_t bpp, uint32_t type)
{
    temporary.CopySettingsFrom(*this);
    // The temporary works for this image: it answers to this image's cancel, not its own.
    temporary.m_escape = 0;
    if (!temporary.Create(width, height, bpp, type)) {
        SetLastError(temporary.GetLastError());
        return false;
    }
    temporary.m_head.xPelsPerMeter = m_head.xPelsPerMeter;
    temporary.m_head.yPelsPerMeter = m_head.yPelsPerMeter;
    memcpy(temporary.m_block, &temporary.m_head, sizeof temporary.m_head);
    return true;
}

bool PxImage::MakeLike(PxImage& temporary, int32_t width, int32_t height, uint32_t bpp, const char* alphaFor)
{
    if (!MakeTemporary(temporary, width, height, bpp, m_info.type))
        return false;
    temporary.SetPalette(GetPalette(), 256);
    temporary.m_head.clrImportant = m_head.clrImportant;
    if (alphaFor && m_alpha && !temporary.AlphaCreate()) {
        SetLastError((std::string("PxImage::") + alphaFor + " can't allocate memory").c_str());
        return false;
    }
    return true;
}

uint32_t PxImage::GetBlockSize() const
{
    return m_head.sizeImage + uint32_t(sizeof(PxBitmapInfoHeader)) + 4 * m_head.clrUsed;
}

uint8_t* PxImage::GetRow(int32_t row) const
{
    if (!m_block)
        return nullptr;
    if (row == 0)
        return GetBits();
    if (row < 0 || row >= m_head.height)
        return nullptr;
    return GetBits() + uint64_t(row) * m_info.rowSize;
}

bool PxImage::IsInsideImage(int32_t x, int32_t y) const
{
    return x >= 0 && y >= 0 && x < m_head.width && y < m_head.height;
}

void PxImage::Clear(uint8_t level)
{
    if (!m_block)
        return;
    uint8_t fill = level;
    if (m_head.bitCount == 1)
        fill = level ? 255 : 0;
    else if (m_head.bitCount == 4)
        fill = uint8_t((level & 15) * 17);
    memset(GetBits(), fill, m_head.sizeImage);
}

namespace {

struct MaskShape {
    uint32_t mask;
    uint32_t shift;
    uint32_t width;
};

MaskShape ShapeOf(uint32_t mask)
{
    MaskShape s{mask, 0, 0};
    if (!mask)
        return s;
    while (!(mask & (1u << s.shift)))
        ++s.shift;
    while (s.shift + s.width < 32 && (mask & (1u << (s.shift + s.width))))
        ++s.width;
    return s;
}

inline uint8_t Channel(uint32_t pixel, const MaskShape& s)
{
    if (!s.width)
        return 0;
    const uint32_t v = (pixel & s.mask) >> s.shift;
    return uint8_t(s.width < 9 ? v << (8 - s.width) : v >> (s.width - 8));
}

} // namespace

// Channels are scaled by the width of each mask's run of ones, so any mask the file names is
// read without shifting by a negative or oversized amount; 5-5-5, 5-6-5 and 8-8-8 come out
// exactly as their published layouts say.
bool PxImage::UnpackBitfields(const uint8_t* source, uint32_t redMask, uint32_t greenMask, uint32_t blueMask, int bits)
{
    if (!m_block || m_head.bitCount != 24 || (bits != 16 && bits != 32))
        return false;
    if (bits == 32)
        return source && UnpackRows32(source, 0, m_head.height, redMask, greenMask, blueMask);
    return UnpackRows16(m_head.height, redMask, greenMask, blueMask);
}

bool PxImage::UnpackRows16(int32_t rows, uint32_t redMask, uint32_t greenMask, uint32_t blueMask)
{
    if (!m_block || m_head.bitCount != 24 || rows < 0 || rows > m_head.height)
        return false;
    const MaskShape r = ShapeOf(redMask), g = ShapeOf(greenMask), b = ShapeOf(blueMask);
    const uint32_t width = uint32_t(m_head.width);
    uint8_t* bits24 = GetBits();
    // In place, from the last pixel back: a wider output pixel never lands on input not yet read.
    const uint64_t sourceStride = (uint64_t(width) + 1) / 2 * 4;
    for (uint32_t y = uint32_t(rows); y-- > 0;) {
        const uint8_t* in = bits24 + y * sourceStride;
        uint8_t* out = bits24 + uint64_t(y) * m_info.rowSize;
        for (uint32_t x = width; x-- > 0;) {
            const uint32_t w = uint32_t(in[2 * x]) | uint32_t(in[2 * x + 1]) << 8;
            const uint8_t blue = Channel(w, b), green = Channel(w, g), red = Channel(w, r);
            out[3 * x] = blue;
            out[3 * x + 1] = green;
            out[3 * x + 2] = red;
        }
    }
    return true;
}

bool PxImage::UnpackRows32(const uint8_t* source, int32_t firstRow, int32_t rows, uint32_t redMask, uint32_t greenMask,
                           uint32_t blueMask)
{
    if (!m_block || m_head.bitCount != 24 || !source || firstRow < 0 || rows < 0 ||
        int64_t(firstRow) + rows > m_head.height)
        return false;
    const MaskShape r = ShapeOf(redMask), g = ShapeOf(greenMask), b = ShapeOf(blueMask);
    const uint32_t width = uint32_t(m_head.width);
    const bool plain = redMask == 0xFF0000 && greenMask == 0xFF00 && blueMask == 0xFF;
    for (int32_t i = 0; i < rows; ++i) {
        const uint8_t* in = source + uint64_t(i) * width * 4;
        uint8_t* out = GetBits() + uint64_t(firstRow + i) * m_info.rowSize;
        if (plain) {
            for (uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
                out[0] = in[0];
                out[1] = in[1];
                out[2] = in[2];
            }
            continue;
        }
        for (uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
            const uint32_t p = uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
            out[0] = Channel(p, b);
            out[1] = Channel(p, g);
            out[2] = Channel(p, r);
        }
    }
    return true;
}

bool PxImage::CreateFromRows(const uint8_t* const* rows, int32_t width, int32_t height, uint32_t bpp,
                             uint32_t bytesPerLine, bool flip)
{
    if (!rows || !(bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24 || bpp == 32))
        return false;
    if (!Create(width, height, bpp, 0))
        return false;
    if (bpp < 24)
        SetGrayPalette();
    if (bpp == 32 && !AlphaCreate())
        return false;
    const uint32_t copy = bytesPerLine < m_info.rowSize ? bytesPerLine : m_info.rowSize;
    for (int32_t i = 0; i < height; ++i) {
        const uint8_t* in = rows[i];
        if (!in)
            continue;
        const int32_t y = flip ? height - 1 - i : i;
        uint8_t* out = GetRow(y);
        if (bpp == 32) {
            for (int32_t x = 0; x < width; ++x, in += 4, out += 3) {
                out[0] = in[0];
                out[1] = in[1];
                out[2] = in[2];
                m_alpha[uint64_t(y) * uint32_t(width) + uint32_t(x)] = in[3];
            }
        } else {
            memcpy(out, in, copy);
        }
    }
    return true;
}

bool PxImage::CreateFromArray(const uint8_t* data, int32_t width, int32_t height, uint32_t bpp, uint32_t bytesPerLine,
                              bool flip)
{
    if (!data || height <= 0)
        return false;
    const uint8_t** rows = static_cast<const uint8_t**>(malloc(sizeof(uint8_t*) * size_t(height)));
    if (!rows)
        return false;
    for (int32_t i = 0; i < height; ++i)
        rows[i] = data + uint64_t(i) * bytesPerLine;
    const bool ok = CreateFromRows(rows, width, height, bpp, bytesPerLine, flip);
    free(rows);
    return ok;
}

void PxImage::SetRequestedSize(int32_t width, int32_t height)
{
    m_info.scale = 1;
    m_info.requestedWidth = width;
    m_info.requestedHeight = height;
}

void PxImage::ComputeScale(int32_t width, int32_t height)
{
    m_info.scale = 1;
    const int32_t rw = m_info.requestedWidth, rh = m_info.requestedHeight;
    if (rw <= 0 || rh <= 0 || width <= 0 || height <= 0 || width / 2 < rw)
        return;
    for (int32_t g = 2; g < INT32_MAX; ++g) {
        const int32_t w = width / g, h = height / g;
        if (h < rh)
            return;
        if (w == rw && h == rh) {
            m_info.scale = g;
            return;
        }
        if (int64_t(w) >= 2 * int64_t(rw) && int64_t(h) >= 2 * int64_t(rh) && width % g == 0 && height % g == 0)
            m_info.scale = g;
        if (width / (g + 1) < rw)
            return;
    }
}

// ---- memory dump ----

uint64_t PxImage::GetDumpSize() const
{
    uint64_t n = sizeof(PxBitmapInfoHeader) + sizeof(PxSettings) + (m_block ? GetBlockSize() : 0) + 3;
    if (m_alpha)
        n += PixelCount();
    if (m_selection)
        n += PixelCount();
    if (m_frames)
        for (int32_t i = 0; i < m_info.frameCount; ++i)
            n += m_frames[i]->GetDumpSize() + 1;
    return n;
}

uint64_t PxImage::Dump(uint8_t* buffer) const
{
    if (!buffer || !m_block)
        return 0;
    uint8_t* p = buffer;
    memcpy(p, &m_head, sizeof m_head);
    p += sizeof m_head;
    memcpy(p, &m_info, sizeof m_info);
    p += sizeof m_info;
    memcpy(p, m_block, GetBlockSize());
    memcpy(p, &m_head, sizeof m_head);
    p += GetBlockSize();
    const uint64_t plane = PixelCount();
    *p++ = m_alpha ? 1 : 0;
    if (m_alpha) {
        memcpy(p, m_alpha, plane);
        p += plane;
    }
    *p++ = m_selection ? 1 : 0;
    if (m_selection) {
        memcpy(p, m_selection, plane);
        p += plane;
    }
    *p++ = m_frames ? 1 : 0;
    if (m_frames)
        for (int32_t i = 0; i < m_info.frameCount; ++i)
            p += m_frames[i]->Dump(p);
    return GetDumpSize();
}

uint64_t PxImage::UnDump(const uint8_t* buffer, uint64_t size)
{
    if (!buffer || !FreeImageData() || !FreeFrames())
        return 0;
    const uint64_t fixed = sizeof(PxBitmapInfoHeader) + sizeof(PxSettings);
    if (size < fixed)
        return 0;
    PxBitmapInfoHeader head;
    PxSettings info;
    memcpy(&head, buffer, sizeof head);
    memcpy(&info, buffer + sizeof head, sizeof info);
    const uint64_t p0 = fixed;
    PxImage probe;
    if (!probe.Create(head.width, head.height, head.bitCount, info.type))
        return 0;
    if (size < p0 + probe.GetBlockSize() + 3)
        return 0;
    const int32_t frames = info.frameCount;
    m_info = info;
    m_info.frameCount = 0;
    m_info.layerCount = 0;
    if (!Create(head.width, head.height, head.bitCount, info.type))
        return 0;
    m_head.xPelsPerMeter = head.xPelsPerMeter;
    m_head.yPelsPerMeter = head.yPelsPerMeter;
    m_head.clrImportant = head.clrImportant;
    uint64_t p = p0;
    memcpy(GetBits() - 4 * uint64_t(m_head.clrUsed), buffer + p + sizeof head, GetBlockSize() - sizeof head);
    memcpy(m_block, &m_head, sizeof m_head);
    p += GetBlockSize();
    const uint64_t plane = PixelCount();
    for (int which = 0; which < 2; ++which) {
        if (p >= size)
            return 0;
        if (buffer[p++]) {
            if (size - p < plane)
                return 0;
            uint8_t* copy = static_cast<uint8_t*>(malloc(plane));
            if (copy)
                memcpy(copy, buffer + p, plane);
            (which == 0 ? m_alpha : m_selection) = copy;
            p += plane;
        }
    }
    if (p >= size)
        return 0;
    if (buffer[p++] && frames > 0) {
        m_frames = static_cast<PxImage**>(calloc(size_t(frames), sizeof(PxImage*)));
        if (!m_frames)
            return 0;
        for (int32_t i = 0; i < frames; ++i) {
            PxImage* frame = new PxImage(0);
            const uint64_t used = frame->UnDump(buffer + p, size - p);
            if (!used) {
                delete frame;
                break;
            }
            m_frames[m_info.frameCount++] = frame;
            p += used;
        }
    }
    return p;
}

// ---- accessors ----

bool PxImage::EncodeSafeCheck(PxFile* stream)
{
    if (!stream) {
        SetLastError("null file handler");
        return true;
    }
    if (!m_block) {
        SetLastError("null image!!!");
        return true;
    }
    return false;
}

uint32_t PxImage::GetColorType() const
{
    if (m_alpha)
        return 4;
    return m_head.bitCount <= 8 ? 1 : 2;
}

void PxImage::SetXDpi(int32_t dpi)
{
    if (dpi < 1)
        dpi = 96;
    m_info.xDpi = dpi;
    m_head.xPelsPerMeter = PelsPerMeter(dpi);
    if (m_block && !m_ghost)
        reinterpret_cast<PxBitmapInfoHeader*>(m_block)->xPelsPerMeter = m_head.xPelsPerMeter;
}

void PxImage::SetYDpi(int32_t dpi)
{
    if (dpi < 1)
        dpi = 96;
    m_info.yDpi = dpi;
    m_head.yPelsPerMeter = PelsPerMeter(dpi);
    if (m_block && !m_ghost)
        reinterpret_cast<PxBitmapInfoHeader*>(m_block)->yPelsPerMeter = m_head.yPelsPerMeter;
}

void PxImage::SetTransparentIndex(int32_t index)
{
    m_info.backgroundIndex = int64_t(index) < int64_t(m_head.clrUsed) ? index : 0;
}

RGBQuad PxImage::GetTransparentColor() const
{
    if (m_head.bitCount < 24 && m_info.backgroundIndex >= 0)
        return GetPaletteColor(uint8_t(m_info.backgroundIndex));
    return m_info.backgroundColor;
}

void PxImage::SetTransparentColor(RGBQuad colour)
{
    m_info.backgroundColor = RGBQuad{colour.blue, colour.green, colour.red, 0};
}

uint8_t PxImage::GetQuality() const
{
    const float q = m_info.quality + 0.5f;
    if (!(q > 0))
        return 0;
    return q >= 255 ? 255 : uint8_t(q);
}

int32_t PxImage::GetProgress() const
{
    return m_progress.load(std::memory_order_relaxed);
}

void PxImage::SetProgress(int32_t progress)
{
    m_progress.store(progress, std::memory_order_relaxed);
    if (m_controlOwner)
        m_controlOwner->SetProgress(progress);
}

int32_t PxImage::GetEscape() const
{
    if (m_controlOwner)
        return m_controlOwner->GetEscape();
    return m_escape.load(std::memory_order_relaxed);
}

void PxImage::SetEscape(int32_t escape)
{
    m_escape.store(escape, std::memory_order_relaxed);
}

void PxImage::GetOffset(int32_t* x, int32_t* y) const
{
    if (x)
        *x = m_info.xOffset;
    if (y)
        *y = m_info.yOffset;
}

void PxImage::SetOffset(int32_t x, int32_t y)
{
    m_info.xOffset = x;
    m_info.yOffset = y;
}

PxImage* PxImage::GetFrameImage(int32_t index) const
{
    if (!m_frames || m_info.frameCount <= 0 || index >= m_info.frameCount)
        return nullptr;
    if (index < 0)
        index = m_info.frameCount - 1;
    return m_frames[index];
}

bool PxImage::SetFrames(PxImage** frames, int32_t count)
{
    if (!FreeFrames())
        return false;
    if (!frames || count <= 0)
        return true;
    m_frames = static_cast<PxImage**>(malloc(sizeof(PxImage*) * size_t(count)));
    if (!m_frames)
        return false;
    memcpy(m_frames, frames, sizeof(PxImage*) * size_t(count));
    m_info.frameCount = count;
    return true;
}

void PxImage::SetFlags(uint32_t flags, bool lockReserved)
{
    m_info.flags = lockReserved ? (flags & 0xFFFF) : flags;
}

uint32_t PxImage::GetTypeIndexFromId(uint32_t id)
{
    switch (id) {
    case 1:
        return 1;
    case 2:
        return 2;
    case 3:
        return 3;
    case 4:
        return 4;
    case 5:
        return 5;
    case 7:
        return 6;
    case 8:
        return 7;
    case 9:
        return 8;
    case 10:
        return 9;
    case 18:
        return 10;
    default:
        return 0;
    }
}

uint32_t PxImage::GetTypeIdFromIndex(uint32_t index)
{
    static const uint32_t ids[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 18};
    return index >= 1 && index <= 10 ? ids[index] : 0;
}

uint32_t PxImage::GetCodecOption(uint32_t format) const
{
    uint32_t index = GetTypeIndexFromId(format);
    if (!index)
        index = GetTypeIndexFromId(m_info.type);
    return m_info.codecOptions[index];
}

bool PxImage::SetCodecOption(uint32_t value, uint32_t format)
{
    uint32_t index = GetTypeIndexFromId(format);
    if (!index)
        index = GetTypeIndexFromId(m_info.type);
    m_info.codecOptions[index] = value;
    return true;
}

bool PxImage::SetType(uint32_t id)
{
    if (GetTypeIndexFromId(id)) {
        m_info.type = id;
        return true;
    }
    m_info.type = 0;
    return false;
}

void PxImage::SetLastError(const char* text)
{
    if (!text) {
        m_info.lastError[0] = '\0';
        return;
    }
    if (text == m_info.lastError)
        return;
    strncpy(m_info.lastError, text, sizeof m_info.lastError - 1);
    m_info.lastError[sizeof m_info.lastError - 1] = '\0';
}

uint16_t PxImage::Swap16(uint16_t v) const
{
    return m_info.littleEndianHost ? v : uint16_t(v >> 8 | v << 8);
}

uint32_t PxImage::Swap32(uint32_t v) const
{
    return m_info.littleEndianHost ? v : __builtin_bswap32(v);
}

void PxImage::SwapHeader(PxBitmapInfoHeader& h) const
{
    h.size = Swap32(h.size);
    h.width = int32_t(Swap32(uint32_t(h.width)));
    h.height = int32_t(Swap32(uint32_t(h.height)));
    h.planes = Swap16(h.planes);
    h.bitCount = Swap16(h.bitCount);
    h.compression = Swap32(h.compression);
    h.sizeImage = Swap32(h.sizeImage);
    h.xPelsPerMeter = int32_t(Swap32(uint32_t(h.xPelsPerMeter)));
    h.yPelsPerMeter = int32_t(Swap32(uint32_t(h.yPelsPerMeter)));
    h.clrUsed = Swap32(h.clrUsed);
    h.clrImportant = Swap32(h.clrImportant);
}

int32_t PxImage::DetectThreadCount()
{
    m_info.threadCount = HardwareThreads();
    return m_info.threadCount;
}
