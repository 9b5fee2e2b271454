// PCX bytes through the PCX decoder.
#include "fuzz/FuzzImageDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::CheckImageDecode(data, size, PXIMAGE_FORMAT_PCX);
    return 0;
}
