#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "common/TestFiles.h"
#include "xclass/PlaySoundWrapper.h"

namespace {
void MakeFile(const std::string& path, const std::string& text, bool executable)
{
    std::ofstream(path) << text;
    std::filesystem::permissions(path, executable
                                           ? std::filesystem::perms::owner_all
                                           : std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> ListOf(const XStrList& list)
{
    std::vector<std::string> out;
    for (const XStr& s : list)
        out.push_back(s.ToUTF8String());
    return out;
}

// Puts a folder first on PATH for the life of the object.
class PathPrefix {
public:
    explicit PathPrefix(const std::string& folder)
    {
        const char* old = getenv("PATH");
        m_old = old ? old : "";
        setenv("PATH", folder.c_str(), 1);
    }
    ~PathPrefix() { setenv("PATH", m_old.c_str(), 1); }

private:
    std::string m_old;
};
} // namespace

TEST(PlaySound, PlayerChoiceFollowsTheOrderOfPreference)
{
    TestTempDir a, b;
    MakeFile(a.path() + "/ffplay", "", true);
    MakeFile(a.path() + "/paplay", "", false); // not executable: not a player
    MakeFile(b.path() + "/pw-play", "", true);
    const std::string path = a.path() + ":" + b.path();

    XStrList args;
    ASSERT_TRUE(XSoundPlayerCommand(L"/x/done.wav", args, path.c_str()));
    EXPECT_EQ(ListOf(args), (std::vector<std::string>{b.path() + "/pw-play", "/x/done.wav"}));

    ASSERT_TRUE(XSoundPlayerCommand(L"/x/done.wav", args, a.path().c_str()));
    EXPECT_EQ(ListOf(args), (std::vector<std::string>{a.path() + "/ffplay", "-nodisp", "-autoexit", "-loglevel",
                                                      "quiet", "/x/done.wav"}));

    TestTempDir empty;
    EXPECT_FALSE(XSoundPlayerCommand(L"/x/done.wav", args, empty.path().c_str()));
}

TEST(PlaySound, FileNameReachesThePlayerAsOneArgument)
{
    TestTempDir dir;
    const std::string record = dir.path() + "/record";
    MakeFile(dir.path() + "/aplay", "#!/bin/sh\nprintf '%s|' \"$@\" > '" + record + "'\n", true);
    PathPrefix path(dir.path());

    const std::string sound = dir.path() + "/it's a \"sound\" $(x) & `y`.wav";
    const XStr soundName = XStr::FromUTF8(sound);
    EXPECT_FALSE(PlaySound(soundName, nullptr, 0)); // no SND_FILENAME: nothing
    EXPECT_FALSE(std::filesystem::exists(record));

    ASSERT_TRUE(PlaySound(soundName, nullptr, SND_FILENAME)); // returns when the player ended
    EXPECT_EQ(ReadFile(record), sound + "|");

    std::filesystem::remove(record);
    ASSERT_TRUE(PlaySound(soundName, nullptr, SND_FILENAME | SND_ASYNC));
    for (int i = 0; i < 60000 && ReadFile(record).empty(); ++i)
        usleep(5000);
    EXPECT_EQ(ReadFile(record), sound + "|");
}
