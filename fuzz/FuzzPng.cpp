// Bytes through the PNG decoder, at full size and asked for a reduced size: a decode either
// fails with a message and leaves the image as it was, or gives an image that writes back as a
// PNG (leaving the image untouched) which decodes again to the same pixels and alpha.
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
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
    return 0;
}
