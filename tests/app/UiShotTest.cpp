// Every window ui-shot lists renders to a PNG without a warning; its arguments are checked.
#include "common/TestFiles.h"
#include "common/TestShard.h"
#include "common/ToolRun.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QString>

#include <cstring>
#include <filesystem>
#include <sstream>

namespace {

const std::string& UiShot()
{
    static const std::string path = TestToolPath("ui-shot");
    return path;
}

// Runs ui-shot with its temporary folder in tmp, so that what it leaves behind shows there.
ToolRunResult RunUiShot(const std::vector<std::string>& args, const std::string& tmp)
{
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        if (strncmp(*entry, "TMPDIR=", 7) != 0)
            env.emplace_back(*entry);
    }
    env.push_back("TMPDIR=" + tmp);
    ToolRunOptions options;
    options.env = env;
    std::vector<std::string> all{UiShot()};
    all.insert(all.end(), args.begin(), args.end());
    return RunProcess(all, options);
}

std::vector<std::string> ListedNames()
{
    const ToolRunResult run = RunTestTool(UiShot(), {"--list"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::vector<std::string> names;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        const size_t tab = line.find('\t');
        EXPECT_TRUE(tab > 0 && tab != std::string::npos && tab + 1 < line.size()) << "not NAME TAB TEXT: " << line;
        names.push_back(line.substr(0, tab));
    }
    return names;
}

std::vector<std::string> FolderEntries(const std::string& folder)
{
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        entries.push_back(entry.path().filename().string());
    return entries;
}

// ctest runs this in parts side by side (see TestShard.h): each part renders every N-th window.
TEST(UiShot, EveryListedWindowRendersWithoutAWarning)
{
    const std::vector<std::string> names = ListedNames();
    ASSERT_FALSE(names.empty());
    const TestShard shard = TestShard::current();
    TestTempDir pictures;
    TestTempDir tmp;
    for (size_t index = 0; index < names.size(); ++index) {
        if (!shard.has(index))
            continue;
        const std::string& name = names[index];
        SCOPED_TRACE(name);
        EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-"), std::string::npos);

        const std::string sized = pictures.file(name + "-sized.png");
        ToolRunResult run = RunUiShot({name, sized, "--size", "347x213"}, tmp.path());
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        QImage image(QString::fromStdString(sized));
        ASSERT_FALSE(image.isNull()) << "no PNG at " << sized;
        EXPECT_EQ(image.size(), QSize(347, 213));

        const std::string own = pictures.file(name + ".png");
        run = RunUiShot({name, own}, tmp.path());
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        image = QImage(QString::fromStdString(own));
        ASSERT_FALSE(image.isNull()) << "no PNG at " << own;
        EXPECT_GT(image.width(), 0);
        EXPECT_GT(image.height(), 0);
    }
    // The private folders of the runs are gone with them.
    EXPECT_TRUE(FolderEntries(tmp.path()).empty());
}

// No window gives one Alt+letter to two of the controls it shows: the second could never be
// reached with it. One run builds every window in turn.
TEST(UiShot, NoWindowUsesAMnemonicTwice)
{
    TestTempDir tmp;
    const ToolRunResult run = RunUiShot({"--check-keys"}, tmp.path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.find("Alt+"), std::string::npos) << run.err;
}

TEST(UiShot, UnknownNamesAndBadSizesAreRefused)
{
    TestTempDir pictures;
    const std::string out = pictures.file("out.png");

    ToolRunResult run = RunTestTool(UiShot(), {"no-such-window", out});
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("no-such-window"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(out));

    const std::vector<std::string> names = ListedNames();
    ASSERT_FALSE(names.empty());
    for (const char* size :
         {"0x10", "10x0", "10", "10x", "x10", "-5x5", "10x10x3", "99999x10", "9000x10", "1e3x5", " 10x10", ""}) {
        SCOPED_TRACE(size);
        run = RunTestTool(UiShot(), {names.front(), out, "--size", size});
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("usage"), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    run = RunTestTool(UiShot(), {names.front(), out, "--sizes", "100x100"});
    EXPECT_EQ(run.status, 2);
    run = RunTestTool(UiShot(), {names.front()});
    EXPECT_EQ(run.status, 2);
    EXPECT_FALSE(std::filesystem::exists(out));
}

} // namespace
