#include "xclass/XEnvironment.h"

#include "xclass/XFile.h"
#include "xclass/XFileName.h"
#include "xclass/XList.h"
#include "xclass/XListElementValue.h"
#include "xclass/XTempFile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::mutex& AppNameMutex()
{
    static std::mutex mutex;
    return mutex;
}

XStr& AppName()
{
    static XStr name;
    return name;
}

XStr WithTrailingSlash(XStr path)
{
    if (path.IsEmpty() || path.p[path.Length() - 1] != L'/')
        path += L"/";
    return path;
}

// $HOME, else the home folder of the password database; empty when neither is known.
XStr HomeFolder()
{
    const std::string home = XGetEnv("HOME");
    if (!home.empty())
        return XStr::FromUTF8(home);
    std::vector<char> buffer(16384);
    struct passwd pw {};
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        found->pw_dir[0])
        return XStr::FromUTF8(found->pw_dir);
    return XStr();
}

// "~" alone or followed by "/" becomes the home folder (HOME read under the environment lock).
XStr ExpandHome(const XStr& path)
{
    if (path.IsEmpty() || path.p[0] != L'~' || (path.Length() > 1 && path.p[1] != L'/'))
        return path;
    XStr home = HomeFolder();
    if (home.IsEmpty())
        return path;
    if (path.Length() == 1)
        return home;
    XFileName joined(home);
    joined.AppendPath(path.MidToEnd(3));
    return joined;
}

// One value of user-dirs.dirs: "$HOME/x", "/abs/x" (quoted, shell escapes) or nothing.
bool ParseUserDirValue(const std::string& raw, const XStr& home, XStr& out)
{
    std::string value;
    size_t i = 0;
    while (i < raw.size() && (raw[i] == ' ' || raw[i] == '\t'))
        ++i;
    if (i < raw.size() && raw[i] == '"') {
        for (++i; i < raw.size() && raw[i] != '"'; ++i) {
            if (raw[i] == '\\' && i + 1 < raw.size())
                ++i;
            value += raw[i];
        }
    } else {
        value = raw.substr(i);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
            value.pop_back();
    }
    if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/')) {
        if (home.IsEmpty())
            return false;
        XFileName path(home);
        const std::string rest = value.substr(5);
        size_t skip = 0;
        while (skip < rest.size() && rest[skip] == '/')
            ++skip;
        if (skip < rest.size())
            path.AppendPath(XStr::FromUTF8(rest.substr(skip)));
        out = path;
    } else if (!value.empty() && value[0] == '/') {
        out = XStr::FromUTF8(value);
    } else {
        return false;
    }
    while (out.Length() > 1 && out.p[out.Length() - 1] == L'/')
        out.SetLength(out.Length() - 1);
    return true;
}

// /proc files report a size of 0, so they are read until the end rather than by size.
std::vector<std::string> ReadCmdline()
{
    std::string bytes;
    const int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char chunk[4096];
        for (;;) {
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            bytes.append(chunk, static_cast<size_t>(n));
        }
        close(fd);
    }
    std::vector<std::string> args;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\0', start);
        if (end == std::string::npos)
            end = bytes.size();
        args.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return args;
}

} // namespace

std::mutex& XEnvironmentMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::string XGetEnv(const char* name, bool* isSet)
{
    std::lock_guard<std::mutex> lock(XEnvironmentMutex());
    const char* value = name ? getenv(name) : nullptr;
    if (isSet)
        *isSet = value != nullptr;
    return value ? std::string(value) : std::string();
}

bool XSetEnv(const char* name, const char* value, bool overwrite)
{
    if (!name || !value)
        return false;
    std::lock_guard<std::mutex> lock(XEnvironmentMutex());
    return setenv(name, value, overwrite ? 1 : 0) == 0;
}

bool XUnsetEnv(const char* name)
{
    if (!name)
        return false;
    std::lock_guard<std::mutex> lock(XEnvironmentMutex());
    return unsetenv(name) == 0;
}

void XSetAppDataFolder(const wchar_t* name)
{
    std::lock_guard<std::mutex> lock(AppNameMutex());
    AppName() = name ? name : L"";
}

XStr XGetAppDataBase()
{
    const std::string overrideBase = XGetEnv("_APPDATA_OVERRIDE");
    if (!overrideBase.empty())
        return WithTrailingSlash(XStr::FromUTF8(overrideBase));
    return XGetXdgDataHome();
}

XStr XGetXdgDataHome()
{
    // A relative value is to be ignored, as the base-directory rules say.
    const std::string dataHome = XGetEnv("XDG_DATA_HOME");
    if (!dataHome.empty() && dataHome[0] == '/')
        return WithTrailingSlash(XStr::FromUTF8(dataHome));
    XStr home = HomeFolder();
    if (home.IsEmpty()) // no home at all: keep the data with the process's temporary files
        return XGetTempFolder();
    XFileName base(home);
    base.AppendPath(L".local/share");
    return WithTrailingSlash(base);
}

XStr XGetOldAppDataFolder()
{
    XStr name;
    {
        std::lock_guard<std::mutex> lock(AppNameMutex());
        name = AppName();
    }
    const XStr home = HomeFolder();
    if (home.IsEmpty() || name.IsEmpty())
        return XStr();
    XFileName folder(home);
    folder.AppendPath(L"Library");
    folder.AppendPath(name);
    return WithTrailingSlash(folder);
}

XStr XGetAppDataFolder()
{
    XStr name;
    {
        std::lock_guard<std::mutex> lock(AppNameMutex());
        name = AppName();
    }
    XFileName folder(XGetAppDataBase());
    if (name.IsEmpty())
        return folder;
    folder.AppendPath(name);
    return WithTrailingSlash(folder);
}

XStr XGetAppDataPath(const wchar_t* name)
{
    XFileName path(XGetAppDataFolder());
    if (name)
        path.AppendPath(name);
    return path;
}

XStr XGetXdgUserFolder(const char* key, const wchar_t* fallbackName)
{
    const XStr home = HomeFolder();
    XFileName config;
    const std::string configHome = XGetEnv("XDG_CONFIG_HOME");
    if (!configHome.empty() && configHome[0] == '/') {
        config = XStr::FromUTF8(configHome);
    } else if (!home.IsEmpty()) {
        config = home;
        config.AppendPath(L".config");
    }
    if (!config.IsEmpty() && key) {
        config.AppendPath(L"user-dirs.dirs");
        XBuffer data;
        if (XFileReadAll(config, data) && data.Used) {
            const std::string text(reinterpret_cast<const char*>(data.Data), data.Used);
            const std::string wanted = std::string("XDG_") + key + "_DIR=";
            size_t start = 0;
            XStr found;
            bool haveFound = false;
            while (start < text.size()) {
                size_t end = text.find('\n', start);
                if (end == std::string::npos)
                    end = text.size();
                std::string line = text.substr(start, end - start);
                start = end + 1;
                size_t i = 0;
                while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
                    ++i;
                if (line.compare(i, wanted.size(), wanted) != 0)
                    continue;
                XStr value;
                if (ParseUserDirValue(line.substr(i + wanted.size()), home, value)) {
                    found = value; // the last definition wins, as in a shell
                    haveFound = true;
                }
            }
            data.Free();
            if (haveFound)
                return found;
        }
        data.Free();
    }
    if (home.IsEmpty())
        return XStr();
    XFileName path(home);
    if (fallbackName && fallbackName[0])
        path.AppendPath(fallbackName);
    return path;
}

XStr XGetSpecialFolder(unsigned kind, const wchar_t* fallback)
{
    XStr folder;
    switch (kind) {
    case XSPECIAL_TEMP:
        folder = XGetTempFolder();
        break;
    case XSPECIAL_HOME:
        folder = L"~";
        break;
    case XSPECIAL_MUSIC:
        folder = XGetXdgUserFolder("MUSIC", L"Music");
        break;
    case XSPECIAL_MOVIES:
        folder = XGetXdgUserFolder("VIDEOS", L"Videos");
        break;
    case XSPECIAL_PICTURES:
        folder = XGetXdgUserFolder("PICTURES", L"Pictures");
        break;
    case XSPECIAL_LIBRARY:
        folder = XGetXdgDataHome(); // where this system keeps the user's application data
        if (folder.Length() > 1)
            folder = folder.Left(folder.Length() - 1);
        break;
    default:
        break;
    }
    if (folder.IsEmpty() && fallback)
        folder = fallback;
    return ExpandHome(folder);
}

XStr XGetExecutablePath()
{
    std::vector<char> buffer(1024);
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return XStr();
        if (static_cast<size_t>(n) < buffer.size()) {
            std::string path(buffer.data(), static_cast<size_t>(n));
            // A program replaced on disk while it runs (a rebuild) is reported with this
            // suffix; its folder is still the right one to look in.
            static const std::string deleted = " (deleted)";
            if (path.size() > deleted.size() &&
                path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0 &&
                access(path.c_str(), F_OK) != 0)
                path.resize(path.size() - deleted.size());
            return XStr::FromUTF8(path);
        }
        buffer.resize(buffer.size() * 2);
    }
}

XStr XGetExecutableFolder()
{
    XFileName folder = XFileName(XGetExecutablePath()).GetFolder();
    while (folder.EndsWith(L"/./")) {
        folder.SetLength(folder.Length() - 1);
        folder = folder.GetFolder();
    }
    return folder;
}

XStr XGetResourcesFolder()
{
    XFileName exeFolder(XGetExecutableFolder());
    exeFolder.RemoveTrailingSlash();
    XFileName installed = exeFolder.GetFolder();
    installed.AppendPath(L"share/marvoni-video/");
    if (XIsFolder(installed))
        return installed;
#ifdef MARVONI_SOURCE_RESOURCES
    const XStr source = WithTrailingSlash(XStr::FromUTF8(MARVONI_SOURCE_RESOURCES));
    if (XIsFolder(source))
        return source;
#endif
    return installed;
}

XStr XFindProgramFile(const XStr& name)
{
    XFileName candidate(XGetExecutableFolder());
    candidate.AppendPath(name);
    if (XFileExists(candidate))
        return candidate;
    XFileName resources(XGetResourcesFolder());
    if (XIsFolder(resources)) {
        resources.AppendPath(name);
#ifdef MARVONI_GENERATED_RESOURCES
        // In the build tree, files written at build time sit apart from the source tree's.
        if (!XFileExists(resources)) {
            XFileName generated(XStr::FromUTF8(MARVONI_GENERATED_RESOURCES));
            generated.AppendPath(name);
            if (XFileExists(generated))
                return generated;
        }
#endif
        return resources;
    }
    return candidate;
}

bool XGetProcessArgumentList(XStrList& out)
{
    out.Clear();
    const std::vector<std::string> args = ReadCmdline();
    for (const std::string& arg : args)
        out.Add(XStr::FromUTF8(arg), 0);
    return !args.empty();
}

XStr XGetProcessArguments()
{
    XStrList list;
    XGetProcessArgumentList(list);
    return list.ToCommandLine();
}

XStr XGetArgumentText()
{
    const XStr text = XGetProcessArguments();
    if (text.IsEmpty())
        return text;
    const int pos = text.p[0] == L'"' ? text.FindChar(L'"', 2) : text.FindChar(L' ', 2);
    if (pos == 0)
        return text;
    XStr rest = text.MidToEnd(pos + 1);
    rest.TrimLeft();
    rest.TrimRight();
    return rest;
}

bool XGetProcessElementValues(XListElementValue& out)
{
    XStrList args;
    XGetProcessArgumentList(args);
    if (args.Count() > 0)
        args.RemoveAt(0);
    out.FromArgs(args);
    return out.Count() > 0;
}

XStr XQuoteArgumentEscaped(const wchar_t* text)
{
    XStr out(L"\"");
    for (const wchar_t* c = text ? text : L""; *c; ++c) {
        if (*c == L'\\')
            out += L"\\\\";
        else if (*c == L'"')
            out += L"\\\"";
        else
            out.CatChar(*c);
    }
    out.CatChar(L'"');
    return out;
}
