// A registry store of its own for one test: a fresh file in a temporary folder, named by
// XCLASS_XREGISTRY_LOCATION for the test's length.
#pragma once

#include "kit/KitTestSupport.h"

#include "kit/UnitFormat.h"
#include "xclass/XEnvironment.h"
#include "xclass/XRegistry.h"

#include <string>

class KitRegistryScope {
public:
    KitRegistryScope()
    {
        m_savedLocation = XGetEnv("XCLASS_XREGISTRY_LOCATION", &m_hadLocation);
        m_path = m_dir.file("XRegistry");
        XSetEnv("XCLASS_XREGISTRY_LOCATION", m_path.c_str(), true);
    }
    ~KitRegistryScope()
    {
        if (m_hadLocation)
            XSetEnv("XCLASS_XREGISTRY_LOCATION", m_savedLocation.c_str(), true);
        else
            XUnsetEnv("XCLASS_XREGISTRY_LOCATION");
        XRegistry::DropCache();
    }
    KitRegistryScope(const KitRegistryScope&) = delete;
    KitRegistryScope& operator=(const KitRegistryScope&) = delete;

    // Sets one unit setting under the units key.
    static bool Set(const wchar_t* name, uint32_t value) { return XRegistry::SetDWORD(value, name, kUnitsRoot, kUnitsKey); }
    const std::string& path() const { return m_path; }
    const KitTempDir& dir() const { return m_dir; }

private:
    KitTempDir m_dir;
    std::string m_path;
    std::string m_savedLocation;
    bool m_hadLocation = false;
};
