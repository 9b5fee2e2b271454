// ICO bytes through the ICO decoder.
#include "fuzz/FuzzImageDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::CheckImageDecode(data, size, PXIMAGE_FORMAT_ICO);
    return 0;
}
