// Changes pictures through the image library: resampling, turns, crops, borders, thumbnails,
// mirrors and flips, grey, dithering and depth. Each reads IN (any format it detects) and
// writes OUT in the format its extension names.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/PxImage.h"
#include "tools/common/ToolCommand.h"

namespace {

bool Number(const char* text, long& out)
{
    char* end = nullptr;
    out = strtol(text, &end, 10);
    return end && end != text && *end == '\0';
}

bool Decimal(const char* text, float& out)
{
    char* end = nullptr;
    out = strtof(text, &end);
    return end && end != text && *end == '\0';
}

// RRGGBB in hexadecimal.
bool Colour(const char* text, RGBQuad& out)
{
    char* end = nullptr;
    const unsigned long v = strtoul(text, &end, 16);
    if (strlen(text) != 6 || !end || *end != '\0')
        return false;
    out = RGBQuad{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), 255};
    return true;
}

// The plain arguments and the options (--name value) of a command.
struct Arguments {
    std::vector<const char*> plain;
    std::vector<std::pair<std::string, const char*>> options;
    std::string error;

    Arguments(int argc, char** argv, const std::vector<std::string>& known)
    {
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (a.rfind("--", 0) != 0 || a.size() == 2) {
                plain.push_back(argv[i]);
                continue;
            }
            bool found = false;
            for (const std::string& k : known)
                found = found || k == a;
            if (!found || i + 1 >= argc) {
                error = found ? a + " needs a value" : "unknown option " + a;
                return;
            }
            options.emplace_back(a, argv[++i]);
        }
    }
    const char* Option(const std::string& name) const
    {
        for (const auto& o : options)
            if (o.first == name)
                return o.second;
        return nullptr;
    }
};

uint32_t TypeOf(const char* path)
{
    const char* dot = strrchr(path, '.');
    return dot ? PxImage::GetTypeFromExtension(dot + 1) : 0;
}

// Loads IN, runs the change, saves OUT; the tool's exit status.
template <class Change>
int Run(const char* name, const char* in, const char* out, Change change)
{
    const uint32_t type = TypeOf(out);
    if (!type)
        return ToolFail(name, std::string(out) + ": no image format has this extension");
    PxImage image(0);
    if (!image.Load(in, 0))
        return ToolFail(name, std::string(in) + ": " + image.GetLastError());
    if (!change(image))
        return ToolFail(name, std::string("failed: ") + image.GetLastError());
    if (!image.Save(out, type))
        return ToolFail(name, std::string(out) + ": " + image.GetLastError());
    return 0;
}

int Resample(int argc, char** argv)
{
    const Arguments a(argc, argv, {"--interp", "--threads"});
    long w, h, interp = PxImage::InterpBilinear, threads = 0;
    if (!a.error.empty())
        return ToolFail(argv[0], a.error);
    if (a.plain.size() != 4 || !Number(a.plain[2], w) || !Number(a.plain[3], h) || w < 1 || h < 1)
        return ToolFail(argv[0], "expects IN OUT W H");
    if ((a.Option("--interp") && !Number(a.Option("--interp"), interp)) ||
        (a.Option("--threads") && (!Number(a.Option("--threads"), threads) || threads < 1)))
        return ToolFail(argv[0], "--interp and --threads take numbers");
    return Run(argv[0], a.plain[0], a.plain[1], [&](PxImage& image) {
        if (threads)
            image.SetThreadCount(int32_t(threads));
        return image.Resample2(int32_t(w), int32_t(h), PxImage::InterpolationMethod(interp), PxImage::OverflowRepeat);
    });
}

int Rotate(int argc, char** argv)
{
    if (argc != 4)
        return ToolFail(argv[0], "expects IN OUT left|right|half|DEGREES");
    const std::string how = argv[3];
    float degrees = 0;
    if (how != "left" && how != "right" && how != "half" && !Decimal(argv[3], degrees))
        return ToolFail(argv[0], "the turn is left, right, half or a number of degrees");
    return Run(argv[0], argv[1], argv[2], [&](PxImage& image) {
        if (how == "left")
            return image.RotateQuarterLeft();
        if (how == "right")
            return image.RotateQuarterRight();
        if (how == "half")
            return image.RotateHalf();
        const RGBQuad black{0, 0, 0, 255};
        return image.RotateAngleInterpolated(degrees, nullptr, PxImage::InterpBilinear, PxImage::OverflowColor, &black);
    });
}

// Four numbers after IN OUT, and an optional --color RRGGBB (black when absent).
bool FourAndColour(int argc, char** argv, const char* usage, long (&n)[4], RGBQuad& colour, std::string& error)
{
    const Arguments a(argc, argv, {"--color"});
    colour = RGBQuad{0, 0, 0, 255};
    if (!a.error.empty() || a.plain.size() != 6) {
        error = a.error.empty() ? std::string("expects ") + usage : a.error;
        return false;
    }
    for (int i = 0; i < 4; ++i)
        if (!Number(a.plain[2 + size_t(i)], n[i])) {
            error = std::string("expects ") + usage;
            return false;
        }
    if (a.Option("--color") && !Colour(a.Option("--color"), colour)) {
        error = "--color takes RRGGBB";
        return false;
    }
    return true;
}

int Crop(int argc, char** argv)
{
    long n[4];
    RGBQuad unused;
    std::string error;
    if (!FourAndColour(argc, argv, "IN OUT L T R B", n, unused, error))
        return ToolFail(argv[0], error);
    return Run(argv[0], argv[1], argv[2],
               [&](PxImage& image) { return image.Crop(int32_t(n[0]), int32_t(n[1]), int32_t(n[2]), int32_t(n[3])); });
}

int Expand(int argc, char** argv)
{
    long n[4];
    RGBQuad colour;
    std::string error;
    if (!FourAndColour(argc, argv, "IN OUT L T R B [--color RRGGBB]", n, colour, error))
        return ToolFail(argv[0], error);
    return Run(argv[0], argv[1], argv[2], [&](PxImage& image) {
        return image.Expand(int32_t(n[0]), int32_t(n[1]), int32_t(n[2]), int32_t(n[3]), colour);
    });
}

int Thumb(int argc, char** argv)
{
    const Arguments a(argc, argv, {"--color"});
    long w, h;
    RGBQuad colour{0, 0, 0, 255};
    if (!a.error.empty())
        return ToolFail(argv[0], a.error);
    if (a.plain.size() != 4 || !Number(a.plain[2], w) || !Number(a.plain[3], h))
        return ToolFail(argv[0], "expects IN OUT W H [--color RRGGBB]");
    if (a.Option("--color") && !Colour(a.Option("--color"), colour))
        return ToolFail(argv[0], "--color takes RRGGBB");
    return Run(argv[0], a.plain[0], a.plain[1],
               [&](PxImage& image) { return image.Thumbnail(int32_t(w), int32_t(h), colour); });
}

int Mirror(int argc, char** argv)
{
    if (argc != 3)
        return ToolFail(argv[0], "expects IN OUT");
    return Run(argv[0], argv[1], argv[2], [](PxImage& image) { return image.MirrorColumns(); });
}

int Flip(int argc, char** argv)
{
    if (argc != 3)
        return ToolFail(argv[0], "expects IN OUT");
    return Run(argv[0], argv[1], argv[2], [](PxImage& image) { return image.FlipRows(); });
}

int Gray(int argc, char** argv)
{
    if (argc != 3)
        return ToolFail(argv[0], "expects IN OUT");
    return Run(argv[0], argv[1], argv[2], [](PxImage& image) { return image.ConvertToGray(); });
}

int Dither(int argc, char** argv)
{
    long method;
    if (argc != 4 || !Number(argv[3], method) || method < 0 || method > 9)
        return ToolFail(argv[0], "expects IN OUT METHOD (0 to 9)");
    return Run(argv[0], argv[1], argv[2], [&](PxImage& image) { return image.DitherTo1Bit(uint32_t(method)); });
}

int Depth(int argc, char** argv)
{
    long bpp;
    bool diffuse = false;
    std::vector<const char*> plain;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--diffuse") == 0)
            diffuse = true;
        else
            plain.push_back(argv[i]);
    }
    if (plain.size() != 3 || !Number(plain[2], bpp) || (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24))
        return ToolFail(argv[0], "expects IN OUT BPP (1, 4, 8 or 24) [--diffuse]");
    return Run(argv[0], plain[0], plain[1], [&](PxImage& image) {
        if (uint32_t(bpp) >= image.GetBpp())
            return image.IncreaseBitDepth(int32_t(bpp));
        return image.DecreaseBpp(uint32_t(bpp), diffuse);
    });
}

const ToolCommand kResample("resample", "IN OUT W H [--interp N] [--threads N]", Resample);
const ToolCommand kRotate("rotate", "IN OUT left|right|half|DEGREES", Rotate);
const ToolCommand kCrop("crop", "IN OUT L T R B", Crop);
const ToolCommand kExpand("expand", "IN OUT L T R B [--color RRGGBB]", Expand);
const ToolCommand kThumb("thumb", "IN OUT W H [--color RRGGBB]", Thumb);
const ToolCommand kMirror("mirror", "IN OUT", Mirror);
const ToolCommand kFlip("flip", "IN OUT", Flip);
const ToolCommand kGray("gray", "IN OUT", Gray);
const ToolCommand kDither("dither", "IN OUT METHOD", Dither);
const ToolCommand kDepth("depth", "IN OUT BPP [--diffuse]", Depth);

} // namespace
