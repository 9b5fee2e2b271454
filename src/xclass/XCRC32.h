// CRC-32 of ISO-HDLC / IEEE 802.3 (the zlib and PNG checksum): reflected polynomial
// 0xEDB88320, initial value and final XOR 0xFFFFFFFF. Used to tell byte blocks apart
// cheaply, for example album-art pictures in tag containers.
#pragma once

#include <cstddef>
#include <cstdint>

// The checksum of size bytes; empty data gives 0. To checksum data in pieces, pass the
// result of the previous piece as crc.
uint32_t XCRC32(const void* data, size_t size, uint32_t crc = 0);
