#include "image/PxImageWebP.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include <webp/decode.h>
#include <webp/encode.h>

namespace {

constexpr int32_t kLargestFile = 67108864;

} // namespace

bool PxImageWebP::Decode(PxFile* stream)
{
    if (!stream)
        return false;
    const int32_t size = stream->Size();
    if (size < 12 || size > kLargestFile)
        return false;
    // The file is read from the stream's very start, wherever decoding began.
    if (!stream->Seek(0, 0))
        return false;
    std::vector<uint8_t> file(static_cast<size_t>(size));
    if (stream->Read(file.data(), 1, 12) != 12 || memcmp(file.data(), "RIFF", 4) != 0 ||
        memcmp(file.data() + 8, "WEBP", 4) != 0)
        return false;
    if (stream->Read(file.data() + 12, 1, size_t(size - 12)) != size_t(size - 12))
        return false;
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(file.data(), file.size(), &features) != VP8_STATUS_OK)
        return false;
    // libwebp allocates the whole picture before it reads a pixel: the size the header gives
    // is weighed first.
    if (!FitsMemory(features.width, features.height, features.has_alpha ? 32 : 24)) {
        SetLastError("PXIMAGE_MAX_MEMORY exceeded");
        return false;
    }
    int width = 0, height = 0;
    uint8_t* pixels = features.has_alpha ? WebPDecodeBGRA(file.data(), file.size(), &width, &height)
                                         : WebPDecodeBGR(file.data(), file.size(), &width, &height);
    if (!pixels)
        return false;
    const uint32_t channels = features.has_alpha ? 4 : 3;
    // libwebp's first row is the top one: flipped into the bottom-up rows.
    const bool ok = CreateFromArray(pixels, width, height, channels * 8, uint32_t(width) * channels, true);
    WebPFree(pixels);
    return ok;
}

bool PxImageWebP::Encode(PxFile* stream)
{
    if (EncodeSafeCheck(stream))
        return false;
    const int32_t width = GetWidth(), height = GetHeight();
    const float quality = GetQualityF() > 100 ? 100.0f : GetQualityF();
    uint8_t* output = nullptr;
    size_t size = 0;
    if (AlphaIsValid() || GetBpp() != 24) {
        std::vector<uint8_t> pixels(size_t(uint32_t(width)) * uint32_t(height) * 4);
        uint8_t* p = pixels.data();
        for (int32_t y = height - 1; y >= 0; --y)
            for (int32_t x = 0; x < width; ++x, p += 4) {
                const RGBQuad c = GetPixelColor(x, y, true);
                p[0] = c.blue;
                p[1] = c.green;
                p[2] = c.red;
                p[3] = c.alpha;
            }
        size = WebPEncodeBGRA(pixels.data(), width, height, width * 4, quality, &output);
    } else {
        // The top row is the last one stored: walked with a negative stride, without a copy.
        const int stride = int(GetRowSize());
        size = WebPEncodeBGR(GetRow(height - 1), width, height, -stride, quality, &output);
    }
    if (size == 0 || !output) {
        WebPFree(output);
        SetLastError("WebP: the picture could not be encoded");
        return false;
    }
    const bool ok = stream->Write(output, size, 1) == 1;
    WebPFree(output);
    if (!ok)
        SetLastError("WebP: write error");
    return ok;
}
