// kit-tool: prints the kit's display texts for the unit settings of the registry store named
// by XCLASS_XREGISTRY_LOCATION, for checks from the shell.
//
//   kit-tool size BYTES | duration MS | rate HZ | channels N | bitrate KBPS | escape TEXT

#include "kit/QKStringTools.h"
#include "xclass/XRegistry.h"
#include "xclass/XStr.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

int Usage()
{
    fprintf(stderr, "usage: kit-tool size BYTES | duration MS | rate HZ | channels N | bitrate KBPS | escape TEXT\n");
    return 2;
}

bool ParseSigned(const char* text, long long low, long long high, long long* out)
{
    if (!text || !*text)
        return false;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high)
        return false;
    *out = value;
    return true;
}

bool ParseUnsigned(const char* text, unsigned long long* out)
{
    if (!text || !*text || *text == '-')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    *out = value;
    return true;
}

int Write(const std::string& text)
{
    const std::string line = text + "\n";
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = write(1, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 3;
        done += static_cast<size_t>(n);
    }
    return 0;
}

int Write(const QString& text)
{
    return Write(text.toStdString());
}

int Bad(const char* command, const char* argument)
{
    fprintf(stderr, "kit-tool %s: not a number in range: '%s'\n", command, argument);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return Usage();
    // As the program does at start-up.
    XRegistry::SetDefaultKey(L"HKCU", L"Software\\Brantok\\MarvoniVideo");

    const std::string command = argv[1];
    const char* argument = argv[2];
    unsigned long long u = 0;
    long long s = 0;
    if (command == "size") {
        if (!ParseUnsigned(argument, &u))
            return Bad(argv[1], argument);
        return Write(QKStringTools::formatFileSize(u));
    }
    if (command == "duration") {
        if (!ParseUnsigned(argument, &u))
            return Bad(argv[1], argument);
        return Write(QKStringTools::formatDuration(u));
    }
    if (command == "rate") {
        if (!ParseSigned(argument, INT_MIN, INT_MAX, &s))
            return Bad(argv[1], argument);
        return Write(QKStringTools::formatSampleRate(static_cast<int>(s)));
    }
    if (command == "channels") {
        if (!ParseSigned(argument, INT_MIN, INT_MAX, &s))
            return Bad(argv[1], argument);
        return Write(QKStringTools::formatChannels(static_cast<int>(s)));
    }
    if (command == "bitrate") {
        if (!ParseSigned(argument, INT_MIN / 1000, INT_MAX / 1000, &s))
            return Bad(argv[1], argument);
        return Write(QKStringTools::formatBitRate(static_cast<int>(s * 1000)));
    }
    if (command == "escape") {
        // Lossless: bytes that are not UTF-8 come back as they were.
        const XStr text = XStr::FromUTF8(std::string(argument));
        return Write(QKStringTools::escapeCommandLineArg(text).ToUTF8String());
    }
    fprintf(stderr, "kit-tool: unknown command '%s'\n", argv[1]);
    return Usage();
}
