#include "media/XWaveFormat.h"

#include <cstring>

namespace {

// The common tail of the standard media sub-type GUIDs: xxxxxxxx-0000-0010-8000-00AA00389B71.
const uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

} // namespace

XWaveFormat::XWaveFormat(const void* data, size_t size)
{
    if (!data || size < 14)
        return;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (size > 17) {
        const uint16_t extra = uint16_t(p[16] | p[17] << 8);
        const bool fits = size_t(18) + extra <= size;
        m_bytes.assign(p, p + 18 + (fits ? extra : 0));
        if (!fits)
            Put16(16, 0);
        return;
    }
    m_bytes.assign(18, 0);
    memcpy(m_bytes.data(), p, size >= 16 ? 16 : 14);
    if (size < 16) {
        // The oldest layout has no bits-per-sample field: it follows from the block size.
        const uint16_t channels = Channels();
        Put16(14, channels ? uint16_t(BlockAlign() * 8 / channels) : 16);
    }
}

void XWaveFormat::Put16(size_t at, uint16_t v)
{
    if (at + 2 > m_bytes.size())
        m_bytes.resize(at + 2, 0);
    m_bytes[at] = uint8_t(v);
    m_bytes[at + 1] = uint8_t(v >> 8);
}

void XWaveFormat::Put32(size_t at, uint32_t v)
{
    if (at + 4 > m_bytes.size())
        m_bytes.resize(at + 4, 0);
    for (int i = 0; i < 4; ++i)
        m_bytes[at + size_t(i)] = uint8_t(v >> (8 * i));
}

uint16_t XWaveFormat::EffectiveFormatTag() const
{
    if (!IsExtensible())
        return FormatTag();
    const uint8_t* guid = m_bytes.data() + 24;
    if (memcmp(guid + 2, kGuidTail, sizeof kGuidTail) != 0)
        return 0xFFFE;
    const uint16_t tag = uint16_t(guid[0] | guid[1] << 8);
    switch (tag) {
    case 1:
    case 2:
    case 3:
    case 6:
    case 7:
    case 0x50:
        return tag;
    default:
        return 0xFFFE;
    }
}

void XWaveFormat::Recompute()
{
    const uint32_t align = uint32_t(Channels()) * ((BitsPerSample() + 7u) / 8u);
    Put16(12, uint16_t(align));
    Put32(8, uint32_t(uint64_t(align) * SamplesPerSec()));
}

void XWaveFormat::SetChannels(uint16_t channels)
{
    if (m_bytes.empty())
        m_bytes.assign(18, 0);
    Put16(2, channels);
    Recompute();
}

void XWaveFormat::SetSamplesPerSec(uint32_t rate)
{
    if (m_bytes.empty())
        m_bytes.assign(18, 0);
    Put32(4, rate);
    Recompute();
}

void XWaveFormat::SetBitsPerSample(uint16_t bits)
{
    if (m_bytes.empty())
        m_bytes.assign(18, 0);
    Put16(14, bits);
    Recompute();
}

void XWaveFormat::SetValidBitsPerSample(uint16_t bits)
{
    if (IsExtensible())
        Put16(18, bits);
}

void XWaveFormat::SetChannelMask(uint32_t mask)
{
    if (IsExtensible())
        Put32(20, mask);
}

uint64_t XWaveFormat::MillisecondsToBytes(uint64_t ms) const
{
    return uint64_t((unsigned __int128)ms * AvgBytesPerSec() / 1000);
}

uint64_t XWaveFormat::BytesToMilliseconds(uint64_t bytes) const
{
    const uint32_t rate = AvgBytesPerSec();
    return rate ? uint64_t((unsigned __int128)bytes * 1000 / rate) : 0;
}

std::string XWaveFormat::Description() const
{
    std::string d = "Format Tag: " + std::to_string(FormatTag());
    d += "\n  Channels: " + std::to_string(Channels());
    d += "\n  Bits per Sample: " + std::to_string(BitsPerSample());
    d += "\n  Samples Per Second: " + std::to_string(SamplesPerSec());
    d += "\n  Bytes Per Second: " + std::to_string(AvgBytesPerSec());
    d += "\n  Block Align: " + std::to_string(BlockAlign());
    d += "\n  CB Size: " + std::to_string(CbSize());
    if (IsExtensible())
        d += "\n  Extensible Sub-Format: " + std::to_string(EffectiveFormatTag());
    return d;
}
