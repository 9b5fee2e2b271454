// Decoding and encoding by format id: a short-lived object of the format's class does the
// work on a stream, and its result or its message comes back to the caller's image.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "image/PxImage.h"
#include "image/PxImageBMP.h"
#include "image/PxImageGIF.h"
#include "image/PxImageICO.h"
#include "image/PxImageJPG.h"
#include "image/PxImagePCX.h"
#include "image/PxImagePNG.h"
#include "image/PxImageTGA.h"
#include "image/PxImageWBMP.h"
#include "image/PxImageWebP.h"

// The one place that knows which format classes exist; the rest of the library sees only
// format ids.
class PxImageDispatch {
public:
    // A fresh format object for the id, or null where no codec is built for it.
    static std::unique_ptr<PxImage> Make(uint32_t id)
    {
        switch (id) {
        case PXIMAGE_FORMAT_BMP:
            return std::make_unique<PxImageBMP>();
        case PXIMAGE_FORMAT_JPG:
            return std::make_unique<PxImageJPG>();
        case PXIMAGE_FORMAT_WEBP:
            return std::make_unique<PxImageWebP>();
        case PXIMAGE_FORMAT_PNG:
            return std::make_unique<PxImagePNG>();
        case PXIMAGE_FORMAT_GIF:
            return std::make_unique<PxImageGIF>();
        case PXIMAGE_FORMAT_ICO:
            return std::make_unique<PxImageICO>();
        case PXIMAGE_FORMAT_TGA:
            return std::make_unique<PxImageTGA>();
        case PXIMAGE_FORMAT_PCX:
            return std::make_unique<PxImagePCX>();
        case PXIMAGE_FORMAT_WBMP:
            return std::make_unique<PxImageWBMP>();
        case PXIMAGE_FORMAT_SKA:
            return std::make_unique<PxImageSKA>();
        default:
            return nullptr;
        }
    }

    static bool DecodeWith(PxImage& format, uint32_t id, PxFile* stream)
    {
        switch (id) {
        case PXIMAGE_FORMAT_BMP:
            return static_cast<PxImageBMP&>(format).Decode(stream);
        case PXIMAGE_FORMAT_JPG:
            return static_cast<PxImageJPG&>(format).Decode(stream);
        case PXIMAGE_FORMAT_WEBP:
            return static_cast<PxImageWebP&>(format).Decode(stream);
        case PXIMAGE_FORMAT_PNG:
            return static_cast<PxImagePNG&>(format).Decode(stream);
        case PXIMAGE_FORMAT_GIF:
            return static_cast<PxImageGIF&>(format).Decode(stream);
        case PXIMAGE_FORMAT_ICO:
            return static_cast<PxImageICO&>(format).Decode(stream);
        case PXIMAGE_FORMAT_TGA:
            return static_cast<PxImageTGA&>(format).Decode(stream);
        case PXIMAGE_FORMAT_PCX:
            return static_cast<PxImagePCX&>(format).Decode(stream);
        case PXIMAGE_FORMAT_WBMP:
            return static_cast<PxImageWBMP&>(format).Decode(stream);
        case PXIMAGE_FORMAT_SKA:
            return static_cast<PxImageSKA&>(format).Decode(stream);
        default:
            return false;
        }
    }

    static bool EncodeWith(PxImage& format, uint32_t id, PxFile* stream)
    {
        switch (id) {
        case PXIMAGE_FORMAT_BMP:
            return static_cast<PxImageBMP&>(format).Encode(stream);
        case PXIMAGE_FORMAT_JPG:
            return static_cast<PxImageJPG&>(format).Encode(stream);
        case PXIMAGE_FORMAT_WEBP:
            return static_cast<PxImageWebP&>(format).Encode(stream);
        case PXIMAGE_FORMAT_PNG:
            return static_cast<PxImagePNG&>(format).Encode(stream);
        case PXIMAGE_FORMAT_GIF:
            return static_cast<PxImageGIF&>(format).Encode(stream);
        case PXIMAGE_FORMAT_ICO:
            return static_cast<PxImageICO&>(format).Encode(stream);
        case PXIMAGE_FORMAT_TGA:
            return static_cast<PxImageTGA&>(format).Encode(stream);
        case PXIMAGE_FORMAT_PCX:
            return static_cast<PxImagePCX&>(format).Encode(stream);
        case PXIMAGE_FORMAT_WBMP:
            return static_cast<PxImageWBMP&>(format).Encode(stream);
        case PXIMAGE_FORMAT_SKA:
            return static_cast<PxImageSKA&>(format).Encode(stream);
        default:
            return false;
        }
    }

    static void Follow(PxImage& format, PxImage* owner) { format.FollowControlsOf(owner); }
};

namespace {

// The order in which detection tries the decoders.
const uint32_t kDecodeOrder[] = {
    PXIMAGE_FORMAT_BMP, PXIMAGE_FORMAT_JPG, PXIMAGE_FORMAT_ICO,  PXIMAGE_FORMAT_GIF, PXIMAGE_FORMAT_PNG,
    PXIMAGE_FORMAT_TGA, PXIMAGE_FORMAT_PCX, PXIMAGE_FORMAT_WBMP, PXIMAGE_FORMAT_SKA, PXIMAGE_FORMAT_WEBP,
};

} // namespace

bool PxImage::Encode(PxFile* stream, uint32_t id)
{
    std::unique_ptr<PxImage> format = PxImageDispatch::Make(id);
    if (!format) {
        SetLastError("Encode: Unknown format");
        return false;
    }
    // A ghost: it encodes this image's pixels and settings without copying or owning them.
    format->MakeGhostOf(this);
    PxImageDispatch::Follow(*format, this);
    bool ok = PxImageDispatch::EncodeWith(*format, id, stream);
    if (!ok)
        SetLastError(format->GetLastError());
    // A buffered stream takes the bytes before the disk refuses them: only a flush tells.
    if (ok && (!stream->Flush() || stream->Error() != 0)) {
        SetLastError("write error");
        ok = false;
    }
    return ok;
}

bool PxImage::Save(const char* path, uint32_t id)
{
    if (!path)
        return false;
    FILE* stream = fopen(path, "wb");
    if (!stream) {
        SetLastError("can't open the file for writing");
        return false;
    }
    bool ok;
    {
        PxIOFile file(stream);
        ok = Encode(&file, id);
        ok = file.Flush() && ok;
    }
    if (fclose(stream) != 0 && ok) {
        SetLastError("can't write the file");
        ok = false;
    }
    return ok;
}

bool PxImage::EncodeToStdio(FILE* stream, uint32_t id)
{
    PxIOFile file(stream);
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    return Encode(&file, id);
}

bool PxImage::StartMemoryEncode(uint8_t** buffer, int32_t* size, PxMemFile& memory)
{
    if (!buffer || !size) {
        SetLastError("null file handler");
        return false;
    }
    if (*buffer) {
        SetLastError("the buffer must be empty");
        return false;
    }
    if (!memory.Open()) {
        SetLastError("can't allocate memory");
        return false;
    }
    return true;
}

bool PxImage::EncodeToMemory(uint8_t** buffer, int32_t* size, uint32_t id)
{
    PxMemFile memory;
    if (!StartMemoryEncode(buffer, size, memory))
        return false;
    // A BMP is the block as it stands: room for all of it at once, so that a large encode
    // does not grow step by step.
    if (m_block && id == PXIMAGE_FORMAT_BMP)
        memory.Alloc(int64_t(GetBlockSize()) + 14 + (m_alpha ? int64_t(PixelCount()) : 0));
    if (!Encode(&memory, id))
        return false;
    *size = memory.Size();
    *buffer = memory.GetBuffer(true);
    return true;
}

void PxImage::FreeEncodedBuffer(uint8_t* buffer)
{
    free(buffer);
}

bool PxImage::EncodeFrames(PxFile* stream, PxImage** images, int32_t count, uint32_t id)
{
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    if (id != PXIMAGE_FORMAT_ICO && id != PXIMAGE_FORMAT_GIF) {
        SetLastError("Multipage Encode, Unsupported operation for this format");
        return false;
    }
    if (!images || count <= 0) {
        SetLastError("null image!!!");
        return false;
    }
    bool ok;
    if (id == PXIMAGE_FORMAT_ICO) {
        PxImageICO format;
        format.MakeGhostOf(this);
        PxImageDispatch::Follow(format, this);
        ok = format.EncodeFrames(stream, images, count);
        if (!ok)
            SetLastError(format.GetLastError());
    } else {
        PxImageGIF format;
        format.MakeGhostOf(this);
        PxImageDispatch::Follow(format, this);
        ok = format.EncodeFrames(stream, images, count, false, false);
        if (!ok)
            SetLastError(format.GetLastError());
    }
    if (ok && (!stream->Flush() || stream->Error() != 0)) {
        SetLastError("write error");
        ok = false;
    }
    return ok;
}

bool PxImage::EncodeFramesStdio(FILE* stream, PxImage** images, int32_t count, uint32_t id)
{
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    PxIOFile file(stream);
    return EncodeFrames(&file, images, count, id);
}

bool PxImage::EncodeToRGBA(PxFile* stream, bool flip)
{
    if (EncodeSafeCheck(stream))
        return false;
    const int32_t w = GetWidth(), h = GetHeight();
    uint8_t* row = static_cast<uint8_t*>(malloc(size_t(uint32_t(w)) * 4));
    if (!row) {
        SetLastError("can't allocate memory");
        return false;
    }
    bool ok = true;
    for (int32_t i = 0; i < h && ok; ++i) {
        const int32_t y = flip ? h - 1 - i : i;
        for (int32_t x = 0; x < w; ++x) {
            const RGBQuad c = GetPixelColorUnchecked(x, y, true);
            uint8_t* p = row + 4 * size_t(x);
            p[0] = c.red;
            p[1] = c.green;
            p[2] = c.blue;
            p[3] = c.alpha;
        }
        ok = stream->Write(row, 4, size_t(w)) == size_t(w);
    }
    free(row);
    if (!ok)
        SetLastError("write error");
    return ok;
}

bool PxImage::EncodeToRGBAMemory(uint8_t** buffer, int32_t* size, bool flip)
{
    PxMemFile memory;
    if (!StartMemoryEncode(buffer, size, memory))
        return false;
    if (!EncodeToRGBA(&memory, flip))
        return false;
    *size = memory.Size();
    *buffer = memory.GetBuffer(true);
    return true;
}

bool PxImage::Decode(PxFile* stream, uint32_t id)
{
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    const int32_t start = stream->Tell();
    for (const uint32_t tryId : kDecodeOrder) {
        if (id != 0 && id != tryId)
            continue;
        std::unique_ptr<PxImage> format = PxImageDispatch::Make(tryId);
        if (!format)
            continue;
        if (!format->IsValid())
            format->CopySettingsFrom(*this);
        // The format object answers to this image's cancel, and reports its progress here.
        PxImageDispatch::Follow(*format, this);
        const bool ok = PxImageDispatch::DecodeWith(*format, tryId, stream);
        PxImageDispatch::Follow(*format, nullptr);
        if (ok) {
            // An icon or animation read one image at a time still tells how many it holds.
            const int32_t frames = format->GetFrameCount();
            if (!Transfer(*format, true))
                return false;
            if (!m_frames && (tryId == PXIMAGE_FORMAT_ICO || tryId == PXIMAGE_FORMAT_GIF))
                m_info.frameCount = frames;
            return true;
        }
        if (tryId == PXIMAGE_FORMAT_ICO || tryId == PXIMAGE_FORMAT_GIF)
            m_info.frameCount = m_frames ? m_info.frameCount : format->GetFrameCount();
        SetLastError(format->GetLastError());
        stream->Seek(start, 0);
        if (id != 0)
            return false;
    }
    SetLastError("Decode: Unknown or wrong format");
    return false;
}

bool PxImage::Load(const char* path, uint32_t id)
{
    if (!path)
        return false;
    bool ok = false;
    char saved[sizeof m_info.lastError] = "";
    if (GetTypeIndexFromId(id)) {
        FILE* stream = fopen(path, "rb");
        if (!stream) {
            SetLastError("can't open the file");
            return false;
        }
        ok = DecodeStdio(stream, id);
        fclose(stream);
        if (ok)
            return true;
        memcpy(saved, m_info.lastError, sizeof saved);
    }
    FILE* stream = fopen(path, "rb");
    if (!stream) {
        SetLastError("can't open the file");
        return false;
    }
    ok = DecodeStdio(stream, 0);
    fclose(stream);
    if (!ok && id != 0 && saved[0])
        SetLastError(saved);
    return ok;
}

bool PxImage::DecodeStdio(FILE* stream, uint32_t id)
{
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    PxIOFile file(stream);
    return Decode(&file, id);
}

bool PxImage::DecodeMemory(const uint8_t* data, uint32_t size, uint32_t id)
{
    if (!data || size == 0 || size > uint32_t(INT32_MAX)) {
        SetLastError("invalid or empty buffer");
        return false;
    }
    // The stream reads the caller's bytes in place and never writes to them.
    PxMemFile memory(const_cast<uint8_t*>(data), int32_t(size));
    return Decode(&memory, id);
}

bool PxImage::CheckFormat(PxFile* stream, uint32_t id)
{
    m_info.type = 0;
    SetEscape(-1);
    const bool ok = Decode(stream, id);
    return ok && m_info.type != 0 && (id == 0 || id == m_info.type);
}

bool PxImage::CheckFormatMemory(const uint8_t* data, uint32_t size, uint32_t id)
{
    if (!data || size == 0 || size > uint32_t(INT32_MAX)) {
        SetLastError("invalid or empty buffer");
        return false;
    }
    PxMemFile memory(const_cast<uint8_t*>(data), int32_t(size));
    return CheckFormat(&memory, id);
}

bool PxImage::ExtractJpegThumbnail(const char* sourcePath, const char* destinationPath, uint32_t id)
{
    if (id != PXIMAGE_FORMAT_JPG || !sourcePath || !destinationPath)
        return false;
    PxImageJPG reader;
    const bool ok = reader.ExtractThumbnail(sourcePath, destinationPath);
    if (!ok)
        SetLastError(reader.GetLastError());
    return ok;
}

uint32_t PxImage::GetTypeFromExtension(const char* extension)
{
    if (!extension)
        return 0;
    char e[8] = {0};
    const size_t n = strlen(extension);
    if (n == 0 || n >= sizeof e)
        return 0;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(extension[i]);
        e[i] = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    static const struct {
        const char* extension;
        uint32_t id;
    } table[] = {
        {"bmp", 1}, {"jpg", 3}, {"jpe", 3}, {"jfi", 3}, {"gif", 2},  {"png", 4},  {"ico", 5},
        {"cur", 5}, {"tga", 7}, {"pcx", 8}, {"wbm", 9}, {"wmf", 10}, {"emf", 10}, {"ska", 18},
    };
    for (const auto& entry : table)
        if (strcmp(e, entry.extension) == 0)
            return entry.id;
    return 0;
}
