// GIF bytes through the GIF decoder: the first frame, a later one, and all frames kept; each
// decode either fails leaving the image as it was or gives frames whose pixels can all be read.
#include "fuzz/FuzzImageDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::CheckImageDecode(data, size, PXIMAGE_FORMAT_GIF);
    PxImage image;
    image.SetFrame(2);
    image.DecodeMemory(data, uint32_t(size), PXIMAGE_FORMAT_GIF);
    PxImage all;
    all.SetRetrieveAllFrames(true);
    // A picture put together from tiles keeps no frames; an animation keeps them all.
    if (all.DecodeMemory(data, uint32_t(size), PXIMAGE_FORMAT_GIF) && all.GetFrameImage(0)) {
        for (int32_t i = 0; i < all.GetFrameCount(); ++i) {
            const PxImage* frame = all.GetFrameImage(i);
            fuzz::Check(frame && frame->IsValid(), "every kept frame holds pixels");
            volatile uint32_t sum = 0;
            for (int32_t y = 0; y < frame->GetHeight(); y += 1 + frame->GetHeight() / 16)
                for (int32_t x = 0; x < frame->GetWidth(); x += 1 + frame->GetWidth() / 16)
                    sum = sum + PxPack(frame->GetPixelColor(x, y));
        }
    }
    return 0;
}
