// Commands for Base64, number formatting, random numbers and the process environment.
#include "tools/common/ToolCommand.h"

#include "xclass/XBase64.h"
#include "xclass/XEnvironment.h"
#include "xclass/XFormat.h"
#include "xclass/XRandom.h"
#include "xclass/XTempFile.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void WriteLine(XStr text)
{
    std::string out = text.ToUTF8String();
    out += '\n';
    ToolWrite(out);
}

bool ParseInt(const char* text, long long& value)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    value = strtoll(text, &end, 10);
    return end && *end == 0;
}

// Standard input to standard output as one Base64 text. The output buffer is exactly the
// size the encoder asks for, terminator included, so an overrun shows under the sanitizers.
int Base64(int argc, char** argv)
{
    unsigned flags = 0;
    for (int i = 1; i < argc; ++i) {
        long long value = 0;
        if (strcmp(argv[i], "--flags") == 0 && i + 1 < argc && ParseInt(argv[i + 1], value) && value >= 0) {
            flags = static_cast<unsigned>(value);
            ++i;
        } else {
            return ToolFail(argv[0], std::string("unknown argument ") + argv[i]);
        }
    }
    const std::string data = ToolReadStdin();
    int size = XBase64EncodeSize(data.size(), flags);
    if (size == 0)
        return ToolFail(argv[0], "input too large");
    std::vector<char> out(static_cast<size_t>(size));
    if (!XBase64Encode(data.data(), data.size(), out.data(), &size, flags, true))
        return ToolFail(argv[0], "encoding failed");
    if (out[static_cast<size_t>(size)] != 0)
        return ToolFail(argv[0], "text not terminated");
    ToolWrite(std::string(out.data(), static_cast<size_t>(size)) + "\n");
    return 0;
}

int Unbase64(int, char** argv)
{
    const std::string text = ToolReadStdin();
    if (text.size() > 0x7ffffff0u)
        return ToolFail(argv[0], "input too large");
    int length = 0;
    XBase64Decode(text.data(), static_cast<int>(text.size()), nullptr, &length);
    std::vector<char> out(static_cast<size_t>(length) + 1);
    int capacity = length;
    if (!XBase64Decode(text.data(), static_cast<int>(text.size()), out.data(), &capacity))
        return ToolFail(argv[0], "decoding failed");
    ToolWrite(std::string(out.data(), static_cast<size_t>(capacity)));
    return 0;
}

int AppData(int, char**)
{
    XSetAppDataFolder(L"MarvoniVideo");
    WriteLine(XGetAppDataFolder());
    return 0;
}

int FormatSize(int argc, char** argv)
{
    long long bytes = 0;
    if (argc < 2 || !ParseInt(argv[1], bytes))
        return ToolFail(argv[0], "usage: format-size N [--kb]");
    const bool forceKB = argc > 2 && strcmp(argv[2], "--kb") == 0;
    WriteLine(XFormatFileSize(bytes, forceKB));
    return 0;
}

int FormatDuration(int argc, char** argv)
{
    long long ms = 0;
    long long style = 0;
    if (argc < 3 || !ParseInt(argv[1], ms) || !ParseInt(argv[2], style) || style < 0)
        return ToolFail(argv[0], "usage: format-duration MS STYLE");
    WriteLine(XFormatDuration(ms, static_cast<unsigned>(style)));
    return 0;
}

int Random(int argc, char** argv)
{
    long long seed = 0;
    long long count = 0;
    if (argc < 3 || !ParseInt(argv[1], seed) || !ParseInt(argv[2], count) || count < 0)
        return ToolFail(argv[0], "usage: random SEED COUNT");
    XRandom random(static_cast<uint32_t>(seed));
    std::string out;
    for (long long i = 0; i < count; ++i) {
        out += std::to_string(random.Next(0));
        out += '\n';
        if (out.size() > 65536) {
            ToolWrite(out);
            out.clear();
        }
    }
    ToolWrite(out);
    return 0;
}

int FindProgram(int argc, char** argv)
{
    if (argc < 2)
        return ToolFail(argv[0], "usage: find-program NAME");
    WriteLine(XFindProgramFile(XStr::FromUTF8(argv[1])));
    return 0;
}

int Resources(int, char**)
{
    WriteLine(XGetResourcesFolder());
    return 0;
}

int ArgumentText(int, char**)
{
    WriteLine(XGetArgumentText());
    return 0;
}

int TempFolder(int, char**)
{
    WriteLine(XGetTempFolder());
    return 0;
}

const ToolCommand base64Command("base64", "[--flags N]  (stdin to stdout)", Base64);
const ToolCommand unbase64Command("unbase64", "(stdin to stdout)", Unbase64);
const ToolCommand appDataCommand("appdata", "(application-data folder of MarvoniVideo)", AppData);
const ToolCommand formatSizeCommand("format-size", "N [--kb]", FormatSize);
const ToolCommand formatDurationCommand("format-duration", "MS STYLE", FormatDuration);
const ToolCommand randomCommand("random", "SEED COUNT", Random);
const ToolCommand findProgramCommand("find-program", "NAME", FindProgram);
const ToolCommand resourcesCommand("resources", "(the resources folder)", Resources);
const ToolCommand argumentTextCommand("argument-text", "[ARGS...]  (the command line after the program)", ArgumentText);
const ToolCommand tempFolderCommand("temp-folder", "(the temporary folder)", TempFolder);

} // namespace
