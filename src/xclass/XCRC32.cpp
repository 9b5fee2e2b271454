#include "xclass/XCRC32.h"

namespace {

struct CrcTable {
    uint32_t t[256];
    constexpr CrcTable() : t()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
    }
};

constexpr CrcTable kTable;

} // namespace

uint32_t XCRC32(const void* data, size_t size, uint32_t crc)
{
    if (!data || size == 0)
        return crc;
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t c = crc ^ 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        c = kTable.t[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}
