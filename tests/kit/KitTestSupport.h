// Shared pieces of the kit tests: a fresh temporary folder per test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

class KitTempDir {
public:
    KitTempDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/kit-test-XXXXXX";
        if (char* made = mkdtemp(pattern.data()))
            m_path = made;
    }
    ~KitTempDir()
    {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    KitTempDir(const KitTempDir&) = delete;
    KitTempDir& operator=(const KitTempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};
