// What the image tests share: pictures made by ffmpeg, the pixels ffmpeg itself decodes
// from a file, and a fingerprint of everything an image holds.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "common/MediaTestFiles.h"
#include "image/PxImage.h"

// A one-frame testsrc picture in the pixel format, written by ffmpeg; empty when it fails.
inline std::string MakeFfmpegImage(const std::string& path, const std::string& pixelFormat,
                                   const std::string& size = "67x45")
{
    if (!RunProgramQuietly({"ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                            "testsrc=size=" + size + ":d=1", "-frames:v", "1", "-pix_fmt", pixelFormat, path}))
        return std::string();
    return ReadTestFile(path);
}

// The picture as ffmpeg decodes it, rows top-down, in the given raw format (rgb24, rgba).
inline std::string FfmpegPixels(const std::string& path, const std::string& rawFormat = "rgb24")
{
    ToolRunOptions options;
    options.searchPath = true;
    const ToolRunResult r = RunProcess(
        {"ffmpeg", "-v", "error", "-nostdin", "-i", path, "-f", "rawvideo", "-pix_fmt", rawFormat, "-"}, options);
    return r.status == 0 ? r.out : std::string();
}

// The image's pixels top-down as red, green, blue (and alpha with withAlpha).
inline std::string ImagePixels(const PxImage& image, bool withAlpha = false)
{
    std::string out;
    for (int32_t y = image.GetHeight() - 1; y >= 0; --y)
        for (int32_t x = 0; x < image.GetWidth(); ++x) {
            const RGBQuad c = image.GetPixelColorUnchecked(x, y, true);
            out += char(c.red);
            out += char(c.green);
            out += char(c.blue);
            if (withAlpha)
                out += char(c.alpha);
        }
    return out;
}

// Every byte the image holds and its header: equal fingerprints, unchanged image.
inline std::string ImageFingerprint(const PxImage& image)
{
    std::string f(reinterpret_cast<const char*>(&image.GetHeader()), sizeof(PxBitmapInfoHeader));
    f += std::to_string(image.GetType()) + "/" + std::to_string(image.GetFrameCount()) + "/";
    if (image.IsValid())
        f.append(reinterpret_cast<const char*>(image.GetPixelBlock()), image.GetBlockSize());
    const size_t plane = size_t(image.GetWidth()) * size_t(image.GetHeight());
    if (image.AlphaIsValid())
        f.append("A").append(reinterpret_cast<const char*>(image.AlphaGetPointer()), plane);
    if (image.SelectionIsValid())
        f.append("S").append(reinterpret_cast<const char*>(image.SelectionGetPointer()), plane);
    return f;
}

inline bool DecodeBytes(PxImage& image, const std::string& bytes, uint32_t id = 0)
{
    return image.DecodeMemory(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()), id);
}

inline std::string EncodeBytes(PxImage& image, uint32_t id)
{
    uint8_t* buffer = nullptr;
    int32_t size = 0;
    if (!image.EncodeToMemory(&buffer, &size, id))
        return std::string();
    std::string out(reinterpret_cast<const char*>(buffer), size_t(size));
    PxImage::FreeEncodedBuffer(buffer);
    return out;
}

inline void PutLe32(std::string& s, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + i] = char(v >> (8 * i));
}

inline uint32_t GetLe32(const std::string& s, size_t at)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= uint32_t(uint8_t(s[at + i])) << (8 * i);
    return v;
}

// The 40-byte information header of an icon's bitmap entry: its height counts the colour rows
// and the mask rows together.
inline std::string IconInfoHeader(uint32_t width, uint32_t height, uint16_t bits)
{
    std::string info(40, '\0');
    PutLe32(info, 0, 40);
    PutLe32(info, 4, width);
    PutLe32(info, 8, 2 * height);
    info[12] = 1;
    info[14] = char(bits);
    return info;
}
