#include "tools/common/ToolCommand.h"

#include "xclass/XExitCleanup.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

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
std::vector<void (*)()>& Setups()
{
    static std::vector<void (*)()> setups;
    return setups;
}
std::string g_toolName = "tool";

int Usage()
{
    fprintf(stderr, "usage: %s COMMAND [ARGS...]\n", ToolName());
    for (const auto& [name, entry] : Commands())
        fprintf(stderr, "  %s %s\n", name.c_str(), entry.usage.c_str());
    return 2;
}
} // namespace

ToolCommand::ToolCommand(const char* name, const char* usage, ToolFunction fn)
{
    Commands()[name] = Entry{usage, fn};
}

ToolSetup::ToolSetup(void (*fn)())
{
    Setups().push_back(fn);
}

const char* ToolName()
{
    return g_toolName.c_str();
}

void ToolWrite(const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(1, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fprintf(stderr, "%s: write error: %s\n", ToolName(), strerror(errno));
            exit(3);
        }
        done += static_cast<size_t>(n);
    }
}

std::string ToolReadStdin()
{
    std::string data;
    char chunk[65536];
    for (;;) {
        const ssize_t n = read(0, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        data.append(chunk, static_cast<size_t>(n));
    }
    return data;
}

int ToolFail(const char* name, const std::string& message)
{
    fprintf(stderr, "%s %s: %s\n", ToolName(), name, message.c_str());
    return 1;
}

int main(int argc, char** argv)
{
    // A tool stopped by a signal still takes its ffmpeg and ffprobe children and their
    // temporary files with it.
    XExitCleanup::InstallSignalHandlers();
    if (argc > 0 && argv[0]) {
        const char* slash = strrchr(argv[0], '/');
        g_toolName = slash ? slash + 1 : argv[0];
    }
    if (argc < 2)
        return Usage();
    const auto it = Commands().find(argv[1]);
    if (it == Commands().end()) {
        fprintf(stderr, "%s: unknown command '%s'\n", ToolName(), argv[1]);
        return Usage();
    }
    for (auto setup : Setups())
        setup();
    return it->second.fn(argc - 1, argv + 1);
}

std::string ToolAbsolutePath(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    char* cwd = getcwd(nullptr, 0);
    std::string folder = cwd ? cwd : "/";
    free(cwd);
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder + path;
}
