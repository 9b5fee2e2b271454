// Helpers of the naming tests: private temporary folders, environment variables set for one
// test, a registry store of the test's own, tag sets written inline, and running naming-tool
// with a time limit.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "media/NTag.h"
#include "common/ToolRun.h"
#include "xclass/XEnvironment.h"
#include "xclass/XFileName.h"
#include "xclass/XRegistry.h"
#include "xclass/XStr.h"

inline std::string U8(const XStr& text)
{
    return text.ToUTF8String();
}

inline XStr W(const std::string& text)
{
    return XStr::FromUTF8(text);
}

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it.
class NamingTempDir {
public:
    NamingTempDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/naming-test-XXXXXX";
        if (mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~NamingTempDir()
    {
        if (!m_path.empty()) {
            chmod(m_path.c_str(), 0700);
            XDeleteFolderTree(W(m_path));
        }
    }
    NamingTempDir(const NamingTempDir&) = delete;
    NamingTempDir& operator=(const NamingTempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Sets (or, with a null value, removes) one environment variable until the scope ends.
class EnvScope {
public:
    EnvScope(const char* name, const char* value) : m_name(name)
    {
        m_saved = XGetEnv(name, &m_had);
        if (value)
            XSetEnv(name, value, true);
        else
            XUnsetEnv(name);
    }
    ~EnvScope()
    {
        if (m_had)
            XSetEnv(m_name.c_str(), m_saved.c_str(), true);
        else
            XUnsetEnv(m_name.c_str());
    }
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

private:
    std::string m_name;
    std::string m_saved;
    bool m_had = false;
};

// A registry store file of the test's own, with the program's default root and key.
class RegistryScope {
public:
    RegistryScope() : m_location("XCLASS_XREGISTRY_LOCATION", nullptr)
    {
        XSetEnv("XCLASS_XREGISTRY_LOCATION", m_dir.file("XRegistry").c_str(), true);
        XRegistry::SetDefaultKey(L"HKCU", L"Software\\Brantok\\MarvoniVideo");
        XRegistry::DropCache();
    }
    ~RegistryScope() { XRegistry::DropCache(); }
    std::string storePath() const { return m_dir.file("XRegistry"); }

private:
    NamingTempDir m_dir;
    EnvScope m_location;
};

inline NTag MakeTags(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> elements)
{
    NTag tags;
    for (const auto& [name, value] : elements)
        tags.AddTag(name, value);
    return tags;
}

using NamingToolResult = ToolRunResult;

// Runs naming-tool with the arguments; killed (and timedOut set) after timeoutMs.
inline NamingToolResult RunNamingTool(const std::vector<std::string>& args, int timeoutMs = 20000)
{
    return RunTestTool(TestToolPath("naming-tool"), args, std::string(), timeoutMs);
}
