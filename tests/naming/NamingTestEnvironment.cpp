// The naming code reads the program's data folder name, as the program sets it at start-up.
// Every test gets a store of its own (TestStoreScope); none may touch the user's.
#include <gtest/gtest.h>

#include "xclass/XEnvironment.h"

namespace {

class NamingEnvironment : public ::testing::Environment {
public:
    void SetUp() override { XSetAppDataFolder(L"MarvoniVideo"); }
};

[[maybe_unused]] ::testing::Environment* const kNamingEnvironment =
    ::testing::AddGlobalTestEnvironment(new NamingEnvironment);

} // namespace
