// Sets (or, with a null value, removes) one environment variable until the scope ends, and
// puts back what was there before. Made with the name only, it leaves the variable as it is
// for the test to change, and still puts the old value back.
#pragma once

#include <string>

#include "xclass/XEnvironment.h"

class TestEnvScope {
public:
    TestEnvScope(const char* name, const char* value) : m_name(name)
    {
        m_saved = XGetEnv(name, &m_had);
        if (value)
            XSetEnv(name, value, true);
        else
            XUnsetEnv(name);
    }
    TestEnvScope(const char* name, const std::string& value) : TestEnvScope(name, value.c_str()) {}
    explicit TestEnvScope(const char* name) : m_name(name) { m_saved = XGetEnv(name, &m_had); }
    ~TestEnvScope()
    {
        if (m_had)
            XSetEnv(m_name.c_str(), m_saved.c_str(), true);
        else
            XUnsetEnv(m_name.c_str());
    }
    TestEnvScope(const TestEnvScope&) = delete;
    TestEnvScope& operator=(const TestEnvScope&) = delete;

private:
    std::string m_name;
    std::string m_saved;
    bool m_had = false;
};
