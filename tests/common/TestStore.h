// A settings store of the test's own: a fresh file in a private temporary folder, named by
// XCLASS_XREGISTRY_LOCATION for the scope's length, with the program's default root and key.
// Both the location and the default key are process-wide: the old ones come back at the end,
// and the store's process cache is dropped on the way in and out so that no test reads
// another's values.
#pragma once

#include <string>

#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "xclass/XRegistry.h"
#include "xclass/XStr.h"

class TestStoreScope {
public:
    enum class Key {
        Program, // the program's default root and key, as it sets them at start-up
        Keep,    // whatever is set now (for tests of the code that sets them)
    };

    // fileName is relative to the scope's folder; a folder in it is made.
    explicit TestStoreScope(Key key = Key::Program, const std::string& fileName = "XRegistry")
        : m_path(m_dir.file(fileName)), m_location("XCLASS_XREGISTRY_LOCATION", m_path),
          m_oldRoot(XRegistry::GetDefaultRoot()), m_oldKey(XRegistry::GetDefaultKeyPath())
    {
        const size_t slash = fileName.rfind('/');
        if (slash != std::string::npos)
            std::filesystem::create_directories(m_dir.file(fileName.substr(0, slash)));
        if (key == Key::Program)
            XRegistry::SetDefaultKey(L"HKCU", L"Software\\Brantok\\MarvoniVideo");
        XRegistry::DropCache();
    }
    ~TestStoreScope()
    {
        XRegistry::SetDefaultKey(m_oldRoot.p, m_oldKey.p);
        XRegistry::DropCache();
    }
    TestStoreScope(const TestStoreScope&) = delete;
    TestStoreScope& operator=(const TestStoreScope&) = delete;

    // The store file.
    const std::string& path() const { return m_path; }
    const TestTempDir& dir() const { return m_dir; }

private:
    TestTempDir m_dir;
    std::string m_path;
    TestEnvScope m_location;
    XStr m_oldRoot;
    XStr m_oldKey;
};
