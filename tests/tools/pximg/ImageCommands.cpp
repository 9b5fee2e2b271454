// Reads and writes image files through the image library: what a decode found, and
// conversions from one format id to another, through files or through memory.
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/PxImage.h"
#include "tools/common/ToolCommand.h"

namespace {

bool ReadWhole(const char* path, std::string& out)
{
    FILE* f = fopen(path, "rb");
    if (!f)
        return false;
    char chunk[65536];
    size_t n;
    out.clear();
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        out.append(chunk, n);
    const bool ok = !ferror(f);
    fclose(f);
    return ok;
}

bool WriteWhole(const char* path, const uint8_t* data, size_t size)
{
    FILE* f = fopen(path, "wb");
    if (!f)
        return false;
    const bool ok = fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

bool ParseNumber(const char* text, long& out)
{
    char* end = nullptr;
    out = strtol(text, &end, 10);
    return end && end != text && *end == '\0';
}

int Info(int argc, char** argv)
{
    if (argc != 2)
        return ToolFail(argv[0], "expects one file");
    PxImage image(0);
    if (!image.Load(argv[1], 0))
        return ToolFail(argv[0], std::string(argv[1]) + ": " + image.GetLastError());
    char line[200];
    snprintf(line, sizeof line, "%dx%d bpp=%u type=%u frames=%d alpha=%d dpi=%d,%d\n", image.GetWidth(),
             image.GetHeight(), image.GetBpp(), image.GetType(), image.GetFrameCount(), image.AlphaIsValid() ? 1 : 0,
             image.GetXDpi(), image.GetYDpi());
    ToolWrite(line);
    return 0;
}

int Convert(int argc, char** argv)
{
    const char* name = argv[0];
    const char* in = nullptr;
    const char* out = nullptr;
    long type = -1, inType = 0, quality = -1, option = -1, frame = -1;
    bool memory = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        long* target = a == "--in-type"   ? &inType
                       : a == "--quality" ? &quality
                       : a == "--option"  ? &option
                       : a == "--frame"   ? &frame
                                          : nullptr;
        if (target) {
            if (i + 1 >= argc || !ParseNumber(argv[++i], *target))
                return ToolFail(name, a + " needs a number");
        } else if (a == "--mem") {
            memory = true;
        } else if (!in) {
            in = argv[i];
        } else if (!out) {
            out = argv[i];
        } else if (type < 0) {
            if (!ParseNumber(argv[i], type) || type < 0)
                return ToolFail(name, "TYPE must be a format id");
        } else {
            return ToolFail(name, "unexpected argument " + a);
        }
    }
    if (!in || !out || type < 0)
        return ToolFail(name, "expects IN OUT TYPE");
    PxImage image(0);
    if (frame >= 0)
        image.SetFrame(int32_t(frame));
    bool decoded;
    if (memory) {
        std::string bytes;
        if (!ReadWhole(in, bytes))
            return ToolFail(name, std::string(in) + ": cannot be read");
        decoded = image.DecodeMemory(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()),
                                     uint32_t(inType));
    } else {
        decoded = image.Load(in, uint32_t(inType));
    }
    if (!decoded)
        return ToolFail(name, std::string(in) + ": " + image.GetLastError());
    if (quality >= 0)
        image.SetQuality(int(quality));
    if (option >= 0)
        image.SetCodecOption(uint32_t(option), uint32_t(type));
    if (memory) {
        uint8_t* buffer = nullptr;
        int32_t size = 0;
        if (!image.EncodeToMemory(&buffer, &size, uint32_t(type)))
            return ToolFail(name, std::string(out) + ": " + image.GetLastError());
        const bool ok = WriteWhole(out, buffer, size_t(size));
        PxImage::FreeEncodedBuffer(buffer);
        if (!ok)
            return ToolFail(name, std::string(out) + ": cannot be written");
    } else if (!image.Save(out, uint32_t(type))) {
        return ToolFail(name, std::string(out) + ": " + image.GetLastError());
    }
    return 0;
}

const ToolCommand kInfo("info", "FILE", Info);
const ToolCommand kConvert("convert", "IN OUT TYPE [--in-type N] [--quality Q] [--option V] [--frame K] [--mem]",
                           Convert);

} // namespace
