// Bytes through the PNG decoder, at full size and asked for a reduced size, as they come and
// with every chunk's CRC made right (so that mutations reach the image data rather than stop
// at the checksum): a decode either fails with a message and leaves the image as it was, or
// gives an image that writes back as a PNG (leaving the image untouched) which decodes again
// to the same pixels and alpha.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "image/PxImage.h"

namespace {

std::string Everything(const PxImage& image)
{
    std::string out(reinterpret_cast<const char*>(&image.GetHeader()), sizeof(PxBitmapInfoHeader));
    if (image.IsValid())
        out.append(reinterpret_cast<const char*>(image.GetPixelBlock()), image.GetBlockSize());
    if (image.AlphaIsValid())
        out.append(reinterpret_cast<const char*>(image.AlphaGetPointer()),
                   size_t(image.GetWidth()) * size_t(image.GetHeight()));
    return out;
}

// Colours and the alpha plane: what a PNG of ours has to carry over exactly.
std::string Pixels(const PxImage& image)
{
    std::string out;
    for (int32_t y = 0; y < image.GetHeight(); ++y)
        for (int32_t x = 0; x < image.GetWidth(); ++x) {
            const RGBQuad c = image.GetPixelColorUnchecked(x, y, false);
            out.append({char(c.blue), char(c.green), char(c.red), char(image.AlphaGet(x, y))});
        }
    return out;
}

uint32_t Crc(const uint8_t* p, size_t n)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

std::string Resealed(const uint8_t* data, size_t size)
{
    std::string png(reinterpret_cast<const char*>(data), size);
    uint8_t* p = reinterpret_cast<uint8_t*>(png.data());
    for (size_t at = 8; at + 12 <= size;) {
        const uint64_t length = uint64_t(p[at]) << 24 | p[at + 1] << 16 | p[at + 2] << 8 | p[at + 3];
        if (length > size - at - 12)
            break;
        const uint32_t crc = Crc(p + at + 4, size_t(length) + 4);
        for (int i = 0; i < 4; ++i)
            p[at + 8 + length + i] = uint8_t(crc >> (24 - 8 * i));
        at += 12 + size_t(length);
    }
    return png;
}

void Exercise(const uint8_t* data, size_t size)
{
    PxImage probe;
    const bool known = probe.CheckFormatMemory(data, uint32_t(size), PXIMAGE_FORMAT_PNG);
    fuzz::Check(known || probe.GetLastError()[0] != '\0', "a refused check says why");

    for (bool reduced : {false, true}) {
        PxImage image(2, 2, 24);
        if (reduced)
            image.SetRequestedSize(known ? probe.GetWidth() / 3 : 1, known ? probe.GetHeight() / 3 : 1);
        const std::string before = Everything(image);
        if (!image.DecodeMemory(data, uint32_t(size), PXIMAGE_FORMAT_PNG)) {
            fuzz::Check(image.GetLastError()[0] != '\0', "a failed decode says why");
            fuzz::Check(before == Everything(image), "a failed decode left the image changed");
            continue;
        }
        fuzz::Check(image.IsValid() && image.GetWidth() > 0 && image.GetHeight() > 0, "a decoded image holds pixels");
        fuzz::Check(!known || image.GetWidth() == probe.GetWidth() / image.GetScale(),
                    "the width is the file's over the scale");
        if (uint64_t(uint32_t(image.GetWidth())) * uint32_t(image.GetHeight()) > 1 << 16)
            continue;
        // Interlacing and the zlib level from the data, so every writer road is taken.
        image.SetCodecOption(size ? data[size - 1] & 7 : 0, PXIMAGE_FORMAT_PNG);
        const std::string decoded = Everything(image);
        uint8_t* buffer = nullptr;
        int32_t written = 0;
        fuzz::Check(image.EncodeToMemory(&buffer, &written, PXIMAGE_FORMAT_PNG), "a decoded image encodes",
                    image.GetLastError());
        fuzz::Check(decoded == Everything(image), "encoding changed the image");
        PxImage again;
        const bool ok = again.DecodeMemory(buffer, uint32_t(written), PXIMAGE_FORMAT_PNG);
        PxImage::FreeEncodedBuffer(buffer);
        fuzz::Check(ok, "our own PNG decodes", again.GetLastError());
        fuzz::Check(Pixels(again) == Pixels(image), "the PNG round trip kept the pixels");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Exercise(data, size);
    const std::string sealed = Resealed(data, size);
    if (sealed.compare(0, std::string::npos, reinterpret_cast<const char*>(data), size) != 0)
        Exercise(reinterpret_cast<const uint8_t*>(sealed.data()), sealed.size());
    return 0;
}
