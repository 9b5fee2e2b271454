// Image bytes through format detection and the BMP decoder: a decode either fails with a
// message and leaves the image as it was, or gives an image that writes back as a BMP which
// decodes again to the same pixels.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "image/PxImage.h"

namespace {

std::string Pixels(const PxImage& image)
{
    std::string out;
    for (int32_t y = 0; y < image.GetHeight(); ++y)
        for (int32_t x = 0; x < image.GetWidth(); ++x) {
            const RGBQuad c = image.GetPixelColorUnchecked(x, y, true);
            out.append({char(c.blue), char(c.green), char(c.red), char(c.alpha)});
        }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PxImage probe;
    const bool known = probe.CheckFormatMemory(data, uint32_t(size), 0);
    fuzz::Check(known || probe.GetLastError()[0] != '\0', "a refused check says why");

    PxImage image(2, 2, 24);
    const std::string before(reinterpret_cast<const char*>(image.GetPixelBlock()), image.GetBlockSize());
    if (!image.DecodeMemory(data, uint32_t(size), 0)) {
        fuzz::Check(image.GetLastError()[0] != '\0', "a failed decode says why");
        fuzz::Check(image.IsValid() && before == std::string(reinterpret_cast<const char*>(image.GetPixelBlock()),
                                                             image.GetBlockSize()),
                    "a failed decode left the image changed");
        return 0;
    }
    fuzz::Check(image.IsValid() && image.GetWidth() > 0 && image.GetHeight() > 0, "a decoded image holds pixels");
    // Large pictures are fine but slow to compare; the round trip is checked on small ones.
    if (uint64_t(uint32_t(image.GetWidth())) * uint32_t(image.GetHeight()) > 1 << 16)
        return 0;
    uint8_t* buffer = nullptr;
    int32_t written = 0;
    fuzz::Check(image.EncodeToMemory(&buffer, &written, PXIMAGE_FORMAT_BMP), "a decoded image encodes",
                image.GetLastError());
    PxImage again;
    const bool ok = again.DecodeMemory(buffer, uint32_t(written), PXIMAGE_FORMAT_BMP);
    PxImage::FreeEncodedBuffer(buffer);
    fuzz::Check(ok, "our own BMP decodes", again.GetLastError());
    fuzz::Check(again.GetBpp() == image.GetBpp() && Pixels(again) == Pixels(image),
                "the BMP round trip kept the pixels");
    return 0;
}
