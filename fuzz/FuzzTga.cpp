// TGA bytes through the TGA decoder.
#include "fuzz/FuzzImageDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::CheckImageDecode(data, size, PXIMAGE_FORMAT_TGA);
    return 0;
}
