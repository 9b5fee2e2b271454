// One audio format description in the published WAVEFORMATEX layout (little-endian), extended
// to WAVEFORMATEXTENSIBLE where the format tag says so, with its description text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class XWaveFormat {
public:
    XWaveFormat() = default;
    // From a structure of the given size: above 17 bytes with its extra bytes (cbSize becomes
    // 0 when the size cannot hold them); 14 and 16 bytes are the older PCM layouts.
    XWaveFormat(const void* data, size_t size);

    bool IsEmpty() const { return m_bytes.empty(); }
    const uint8_t* Data() const { return m_bytes.data(); }
    size_t Size() const { return m_bytes.size(); }

    uint16_t FormatTag() const { return Get16(0); }
    uint16_t Channels() const { return Get16(2); }
    uint32_t SamplesPerSec() const { return Get32(4); }
    uint32_t AvgBytesPerSec() const { return Get32(8); }
    uint16_t BlockAlign() const { return Get16(12); }
    uint16_t BitsPerSample() const { return Get16(14); }
    uint16_t CbSize() const { return Get16(16); }
    bool IsExtensible() const { return FormatTag() == 0xFFFE && CbSize() >= 22 && m_bytes.size() >= 40; }
    uint16_t ValidBitsPerSample() const { return IsExtensible() ? Get16(18) : 0; }
    uint32_t ChannelMask() const { return IsExtensible() ? Get32(20) : 0; }
    // The format tag, or for an extensible format the tag its sub-format GUID stands for.
    uint16_t EffectiveFormatTag() const;

    void SetChannels(uint16_t channels);
    void SetSamplesPerSec(uint32_t rate);
    void SetBitsPerSample(uint16_t bits);
    // Only an extensible format holds these; on another they change nothing.
    void SetValidBitsPerSample(uint16_t bits);
    void SetChannelMask(uint32_t mask);

    uint64_t MillisecondsToBytes(uint64_t ms) const;
    uint64_t BytesToMilliseconds(uint64_t bytes) const;

    std::string Description() const;

private:
    uint16_t Get16(size_t at) const
    {
        return at + 2 <= m_bytes.size() ? uint16_t(m_bytes[at] | m_bytes[at + 1] << 8) : 0;
    }
    uint32_t Get32(size_t at) const
    {
        return at + 4 <= m_bytes.size() ? uint32_t(m_bytes[at]) | uint32_t(m_bytes[at + 1]) << 8 |
                                              uint32_t(m_bytes[at + 2]) << 16 | uint32_t(m_bytes[at + 3]) << 24
                                        : 0;
    }
    void Put16(size_t at, uint16_t v);
    void Put32(size_t at, uint32_t v);
    // Keeps block align and the average rate in step with channels, bits and rate.
    void Recompute();

    std::vector<uint8_t> m_bytes;
};
