#include "ToolCommand.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>

#include "QKLocateFFmpeg.h"
#include "XEnvironment.h"
#include "XRegistry.h"

namespace {
struct Entry {
    std::string usage;
    ToolFunction fn;
};
std::map<std::string, Entry>& Commands()
{
    static std::map<std::string, Entry> commands;
    return commands;
}

int Usage()
{
    fprintf(stderr, "usage: naming-tool COMMAND [ARGS...]\n");
    for (const auto& [name, entry] : Commands())
        fprintf(stderr, "  %s %s\n", name.c_str(), entry.usage.c_str());
    return 2;
}
} // namespace

ToolCommand::ToolCommand(const char* name, const char* usage, ToolFunction fn)
{
    Commands()[name] = Entry{usage, fn};
}

void ToolWrite(const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(1, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fprintf(stderr, "naming-tool: write error: %s\n", strerror(errno));
            exit(3);
        }
        done += static_cast<size_t>(n);
    }
}

int ToolFail(const char* name, const std::string& message)
{
    fprintf(stderr, "naming-tool %s: %s\n", name, message.c_str());
    return 1;
}

int main(int argc, char** argv)
{
    // As the program starts: its data folder, and the registry store named by
    // XCLASS_XREGISTRY_LOCATION (read by the store itself) with the program's default key.
    XSetAppDataFolder(L"MarvoniVideo");
    XRegistry::SetDefaultKey(L"HKCU", L"Software\\Brantok\\MarvoniVideo");
    QKLocateFFmpeg::installHooks();

    if (argc < 2)
        return Usage();
    const auto it = Commands().find(argv[1]);
    if (it == Commands().end()) {
        fprintf(stderr, "naming-tool: unknown command '%s'\n", argv[1]);
        return Usage();
    }
    return it->second.fn(argc - 1, argv + 1);
}
