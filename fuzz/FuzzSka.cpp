// SKA bytes through the SKA decoder.
#include "fuzz/FuzzImageDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::CheckImageDecode(data, size, PXIMAGE_FORMAT_SKA);
    return 0;
}
