// What every image decoder's fuzz target checks: a decode either fails with a message and
// leaves the image as it was, or gives an image whose pixels can all be read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "image/PxImage.h"

namespace fuzz {

inline void CheckImageDecode(const uint8_t* data, size_t size, uint32_t id)
{
    PxImage image(2, 2, 24);
    const std::string before(reinterpret_cast<const char*>(image.GetPixelBlock()), image.GetBlockSize());
    if (!image.DecodeMemory(data, uint32_t(size), id)) {
        Check(image.IsValid() &&
                  before == std::string(reinterpret_cast<const char*>(image.GetPixelBlock()), image.GetBlockSize()),
              "a failed decode left the image changed");
        return;
    }
    Check(image.IsValid() && image.GetWidth() > 0 && image.GetHeight() > 0, "a decoded image holds pixels");
    // Reading pixels all over the picture must stay inside what it holds (the sanitizers tell).
    volatile uint32_t sum = 0;
    for (int32_t y = 0; y < image.GetHeight(); y += 1 + image.GetHeight() / 64)
        for (int32_t x = 0; x < image.GetWidth(); x += 1 + image.GetWidth() / 64)
            sum = sum + PxPack(image.GetPixelColor(x, y));
}

} // namespace fuzz
