// Shared pieces of the application-shell tests.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "xclass/XEnvironment.h"
#include "xclass/XRegistry.h"

// A fresh temporary folder, removed with everything in it.
class AppTempDir {
public:
    AppTempDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/app-test-XXXXXX";
        if (char* made = mkdtemp(pattern.data()))
            m_path = made;
    }
    ~AppTempDir()
    {
        std::error_code ignored;
        if (!m_path.empty()) {
            // Tests take rights away from folders; give them back so that they can go.
            for (auto it = std::filesystem::recursive_directory_iterator(
                     m_path, std::filesystem::directory_options::skip_permission_denied, ignored);
                 it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
            std::filesystem::remove_all(m_path, ignored);
        }
    }
    AppTempDir(const AppTempDir&) = delete;
    AppTempDir& operator=(const AppTempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Sets an environment variable for a scope and puts the old value back.
class AppEnvScope {
public:
    AppEnvScope(const char* name, const std::string& value) : m_name(name)
    {
        m_old = XGetEnv(name, &m_had);
        XSetEnv(name, value.c_str(), true);
    }
    ~AppEnvScope()
    {
        if (m_had)
            XSetEnv(m_name.c_str(), m_old.c_str(), true);
        else
            XUnsetEnv(m_name.c_str());
    }
    AppEnvScope(const AppEnvScope&) = delete;
    AppEnvScope& operator=(const AppEnvScope&) = delete;

private:
    std::string m_name;
    std::string m_old;
    bool m_had = false;
};

// A registry store of its own in a temporary folder, with the program's default key.
class AppRegistryScope {
public:
    AppRegistryScope() : m_location("XCLASS_XREGISTRY_LOCATION", m_dir.file("XRegistry"))
    {
        m_oldRoot = XRegistry::GetDefaultRoot();
        m_oldKey = XRegistry::GetDefaultKeyPath();
        XRegistry::SetDefaultKey(L"HKCU", L"Software\\Brantok\\MarvoniVideo");
        XRegistry::DropCache();
    }
    ~AppRegistryScope()
    {
        XRegistry::SetDefaultKey(m_oldRoot.p, m_oldKey.p);
        XRegistry::DropCache();
    }
    AppRegistryScope(const AppRegistryScope&) = delete;
    AppRegistryScope& operator=(const AppRegistryScope&) = delete;

private:
    AppTempDir m_dir;
    AppEnvScope m_location;
    XStr m_oldRoot;
    XStr m_oldKey;
};

// Runs the blocks and events queued so far (those they queue in turn included).
inline void ProcessPendingEvents()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, 0);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}
