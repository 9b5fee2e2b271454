// JPEG bytes through the JPEG decoder (with its EXIF reader) and through format detection.
#include "fuzz/FuzzImageDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::CheckImageDecode(data, size, PXIMAGE_FORMAT_JPG);
    PxImage probe;
    probe.CheckFormatMemory(data, uint32_t(size), 0);
    return 0;
}
