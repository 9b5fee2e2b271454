// Any bytes through the image header reader: it names a kind only with a size, and never
// reads outside what it is given (the sanitizers tell).
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "media/imageInfo_t.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const imageInfo_t info(data, size);
    fuzz::Check(info.name || (!info.kind && !info.width && !info.height && !info.bitsPerPixel),
                "a failed read leaves the record empty");
    fuzz::Check(!info.kind || info.name, "a kind comes with a name");
    return 0;
}
