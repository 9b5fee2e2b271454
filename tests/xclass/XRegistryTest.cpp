#include "xclass/XRegistry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/TestFiles.h"
#include "common/TestStore.h"
#include "common/ToolRun.h"
#include "xclass/XBuffer.h"
#include "xclass/XEnvironment.h"
#include "xclass/XJSON.h"
#include "xclass/XList.h"
#include "xclass/XProxySettings.h"
#include "xclass/XRegistryTransaction.h"

extern char** environ;

namespace {

std::string ReadAll(const std::string& path)
{
    return ReadTestFile(path, "<missing>");
}

void WriteRaw(const std::string& path, const std::string& data)
{
    WriteTestFile(path, data, 0600);
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> Entries(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d)
        return names;
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(d);
    return names;
}

int RunTool(const std::vector<std::string>& args)
{
    const std::string tool = std::string(MARVONI_TEST_TOOLS_DIR) + "/xclass-tool";
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(tool.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// xclass-tool on the test's store. The time limit only keeps a hang from stalling the suite.
ToolRunResult Tool(const std::vector<std::string>& args)
{
    return RunTestTool(TestToolPath("xclass-tool"), args, std::string(), 300000);
}

// The key the tool files its values under.
const wchar_t* const kToolKey = L"Software\\Brantok\\MarvoniVideo";

// The id of a process that has ended.
pid_t DeadProcess()
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return pid;
}

// Every test gets a store of its own in a fresh folder, with the defaults "HKCU" and
// "Software\Test".
class XRegistryTest : public ::testing::Test {
protected:
    std::string dir;
    std::string store;
    std::unique_ptr<TestStoreScope> scope;

    void SetUp() override
    {
        // A key of its own rather than the program's.
        scope = std::make_unique<TestStoreScope>(TestStoreScope::Key::Keep);
        dir = scope->dir().path();
        ASSERT_FALSE(dir.empty());
        store = scope->path();
        XRegistry::SetDefaultKey(L"HKCU", L"Software\\Test");
        XRegistry::DropCache();
    }
    void TearDown() override { scope.reset(); }
    std::unique_ptr<XJSON::AnyType> StoreTree() const
    {
        const std::string text = ReadAll(store);
        return std::unique_ptr<XJSON::AnyType>(XJSON::ParseUTF8(text.data(), text.size()));
    }
    int DamagedCopies() const
    {
        int n = 0;
        for (const std::string& e : Entries(dir))
            if (e.rfind("XRegistry.damaged-", 0) == 0)
                n++;
        return n;
    }
};

} // namespace

TEST_F(XRegistryTest, MissingStoreReadsEmptyAndIsCreatedPrivate)
{
    bool notFound = false;
    EXPECT_EQ(XRegistry::GetDWORD(L"Count", nullptr, nullptr, &notFound), 0u);
    EXPECT_TRUE(notFound);
    ASSERT_TRUE(Exists(store));
    EXPECT_TRUE(Exists(store + ".lock"));
    EXPECT_EQ(ReadAll(store), "");
    struct stat st;
    ASSERT_EQ(stat(store.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(XRegistryTest, LayoutAndCaseInsensitiveNames)
{
    ASSERT_TRUE(XRegistry::SetDWORD(5, L"Count"));
    EXPECT_EQ(ReadAll(store), "{\n    \"HKCU\":{\n        \"Software\":{\n            \"Test\":{\n"
                              "                \"Count\":5\n            }\n        }\n    }\n}");
    EXPECT_EQ(XRegistry::GetDWORD(L"COUNT"), 5u);
    struct stat st;
    ASSERT_EQ(stat(store.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A string over a number keeps its place; the number getter then misses.
    ASSERT_TRUE(XRegistry::SetDWORD(1, L"Other"));
    ASSERT_TRUE(XRegistry::SetString(L"five", L"count"));
    XStrList names;
    ASSERT_TRUE(XRegistry::EnumValues(nullptr, nullptr, &names));
    ASSERT_EQ(names.Count(), 2);
    EXPECT_TRUE(names[0] == XStr(L"Count"));
    bool notFound = false;
    EXPECT_EQ(XRegistry::GetDWORD(L"Count", nullptr, nullptr, &notFound), 0u);
    EXPECT_TRUE(notFound);
    EXPECT_TRUE(XRegistry::GetString(L"Count") == XStr(L"five"));
}

TEST_F(XRegistryTest, KeyPathsAndRoots)
{
    ASSERT_TRUE(XRegistry::SetDWORD(1, L"v", L"HKCU", L"Software\\Test"));
    EXPECT_EQ(XRegistry::GetDWORD(L"v", L"HKCU", L"Software\\Test\\"), 1u);
    EXPECT_EQ(XRegistry::GetDWORD(L"v", L"HKCU", L"\\Software\\Test"), 1u);
    EXPECT_EQ(XRegistry::GetDWORD(L"v", L"hkcu", L"software\\TEST"), 1u);
    bool notFound = false;
    XRegistry::GetDWORD(L"v", L"HKCU", L"Software\\\\Test", &notFound);
    EXPECT_TRUE(notFound);
    ASSERT_TRUE(XRegistry::SetDWORD(2, L"v", L"HKCU", L"Software\\\\Test"));
    XStrList keys;
    ASSERT_TRUE(XRegistry::EnumKeys(L"HKCU", L"Software", &keys));
    ASSERT_EQ(keys.Count(), 2);
    EXPECT_TRUE(keys[1] == XStr(L""));

    XRegistry::SetDefaultKey(nullptr, L"K");
    ASSERT_TRUE(XRegistry::SetDWORD(3, L"u"));
    auto tree = StoreTree();
    ASSERT_TRUE(tree);
    EXPECT_EQ(tree->AsObject()->Get(L"UNSPEC")->AsObject()->Get(L"K")->AsObject()->Get(L"u")->AsNumber()->Value, 3);

    keys.Add(L"stale");
    EXPECT_FALSE(XRegistry::EnumKeys(L"HKCU", L"No\\Such", &keys));
    EXPECT_EQ(keys.Count(), 0);
    EXPECT_FALSE(XRegistry::KeyExists(L"HKCU", L"No"));
    EXPECT_TRUE(XRegistry::KeyExists(L"HKCU", L"Software"));
}

TEST_F(XRegistryTest, DefaultRootIsCopied)
{
    wchar_t root[] = L"ROOTA";
    XRegistry::SetDefaultKey(root, L"K");
    root[4] = L'B';
    ASSERT_TRUE(XRegistry::SetDWORD(1, L"v"));
    EXPECT_EQ(XRegistry::GetDWORD(L"v", L"ROOTA", L"K"), 1u);
    EXPECT_TRUE(XRegistry::GetDefaultRoot() == XStr(L"ROOTA"));
}

TEST_F(XRegistryTest, ValueKinds)
{
    const uint8_t bytes[] = {1, 2, 3};
    ASSERT_TRUE(XRegistry::SetBinary(L"bin", bytes, 3));
    EXPECT_TRUE(XRegistry::GetString(L"bin") == XStr(L"AQID"));
    EXPECT_EQ(XRegistry::GetBinarySize(L"bin"), 3u);
    uint8_t out[3] = {};
    EXPECT_TRUE(XRegistry::GetBinaryExact(L"bin", out, 3));
    EXPECT_EQ(memcmp(out, bytes, 3), 0);
    uint8_t wrong[4] = {9, 9, 9, 9};
    EXPECT_FALSE(XRegistry::GetBinaryExact(L"bin", wrong, 4));
    EXPECT_EQ(wrong[0], 9);
    XBuffer buffer;
    EXPECT_TRUE(XRegistry::GetBinary(L"bin", &buffer));
    EXPECT_EQ(buffer.Used, 3u);
    EXPECT_EQ(buffer.Size, 3u);
    buffer.Free();
    bool notFound = false;
    EXPECT_EQ(XRegistry::GetBinarySize(L"nothing", nullptr, nullptr, &notFound), 0u);
    EXPECT_TRUE(notFound);

    XStrList list;
    list.Add(L"a");
    list.Add(L"\u00e9\"b");
    ASSERT_TRUE(XRegistry::SetStringList(&list, L"list"));
    XStrList back;
    ASSERT_TRUE(XRegistry::GetStringList(&back, L"list"));
    ASSERT_EQ(back.Count(), 2);
    EXPECT_TRUE(back[1] == XStr(L"\u00e9\"b"));
    EXPECT_FALSE(XRegistry::GetStringList(&back, L"bin"));
    EXPECT_EQ(back.Count(), 2); // untouched

    ASSERT_TRUE(XRegistry::SetInt64(INT64_MIN, L"big"));
    EXPECT_EQ(XRegistry::GetInt64(L"big"), INT64_MIN);
    ASSERT_TRUE(XRegistry::SetInt64(INT64_MAX, L"big"));
    EXPECT_EQ(XRegistry::GetInt64(L"big"), INT64_MAX);
    ASSERT_TRUE(XRegistry::SetInt(-1, L"neg"));
    EXPECT_EQ(XRegistry::GetDWORD(L"neg"), 4294967295u);
    EXPECT_EQ(XRegistry::GetInt(L"neg"), -1);
    ASSERT_TRUE(XRegistry::SetDWORD(4294967295u, L"max"));
    EXPECT_EQ(XRegistry::GetDWORD(L"max"), 4294967295u);
    EXPECT_EQ(XRegistry::GetInt(L"max"), INT32_MAX); // saturated, not wrapped
    ASSERT_TRUE(XRegistry::SetInt64(10000000000LL, L"tooBig"));
    EXPECT_EQ(XRegistry::GetDWORD(L"tooBig"), 4294967295u);

    EXPECT_TRUE(XRegistry::ValueExists(L"LIST"));
    ASSERT_TRUE(XRegistry::DeleteValue(L"list"));
    EXPECT_FALSE(XRegistry::ValueExists(L"list"));
    ASSERT_TRUE(XRegistry::DeleteValue(L"list")); // nothing to delete is no failure

    ASSERT_TRUE(XRegistry::SetDWORD(1, L"x", L"HKCU", L"Software\\Test\\Sub\\Deep"));
    ASSERT_TRUE(XRegistry::DeleteKey(L"HKCU", L"Software\\Test", L"SUB"));
    EXPECT_FALSE(XRegistry::KeyExists(L"HKCU", L"Software\\Test\\Sub"));
    EXPECT_TRUE(XRegistry::ValueExists(L"max"));
}

TEST_F(XRegistryTest, DamagedStoreIsKeptAsideBeforeTheNextWrite)
{
    const std::string damaged = "{\"HKCU\": {\"Software\": {\"Test\": {\"Old\": \"v\"";
    WriteRaw(store, damaged);
    bool notFound = false;
    XRegistry::GetString(L"Old", nullptr, nullptr, &notFound);
    EXPECT_TRUE(notFound);         // reads as empty
    EXPECT_EQ(DamagedCopies(), 0); // reading alone changes nothing
    EXPECT_EQ(ReadAll(store), damaged);

    ASSERT_TRUE(XRegistry::SetDWORD(1, L"New"));
    ASSERT_EQ(DamagedCopies(), 1);
    for (const std::string& e : Entries(dir)) {
        if (e.rfind("XRegistry.damaged-", 0) == 0) {
            EXPECT_EQ(ReadAll(dir + "/" + e), damaged);
        }
    }
    EXPECT_EQ(XRegistry::GetDWORD(L"New"), 1u);
    ASSERT_TRUE(XRegistry::SetDWORD(2, L"New"));
    EXPECT_EQ(DamagedCopies(), 1); // the store is sound again

    // A store that parses but is no object tree is kept as well before it is replaced.
    WriteRaw(store, "[1, 2]");
    ASSERT_TRUE(XRegistry::SetDWORD(3, L"New"));
    EXPECT_EQ(DamagedCopies(), 2);
    EXPECT_EQ(XRegistry::GetDWORD(L"New"), 3u);

    // A bad byte.
    WriteRaw(store, std::string("{\"HKCU\":\x01}"));
    ASSERT_TRUE(XRegistry::SetDWORD(4, L"New"));
    EXPECT_EQ(DamagedCopies(), 3);

    // Blank text is an empty store, nothing to keep.
    WriteRaw(store, " \n");
    ASSERT_TRUE(XRegistry::SetDWORD(5, L"New"));
    EXPECT_EQ(DamagedCopies(), 3);
}

TEST_F(XRegistryTest, UnreadableStoreIsNeverWrittenOver)
{
    // A folder where the file should be: it opens but cannot be read.
    ASSERT_EQ(mkdir(store.c_str(), 0700), 0);
    WriteRaw(store + "/keep", "precious");
    EXPECT_FALSE(XRegistry::SetDWORD(1, L"v"));
    XRegistryTransaction t;
    t.SetDWORD(1, L"v");
    EXPECT_FALSE(t.Commit());
    EXPECT_EQ(ReadAll(store + "/keep"), "precious");
    bool notFound = false;
    XRegistry::GetDWORD(L"v", nullptr, nullptr, &notFound);
    EXPECT_TRUE(notFound);
}

TEST_F(XRegistryTest, StoresThatAreNoRegularFileAreNeverReadNorWritten)
{
    // Each kind of file in the store's place, made afresh; then what must still be there.
    struct Kind {
        const char* name;
        std::function<void()> make;
        std::function<bool(const struct stat&)> stillThere;
    };
    const Kind kinds[] = {
        {"fifo", [&] { ASSERT_EQ(mkfifo(store.c_str(), 0600), 0); },
         [](const struct stat& st) { return S_ISFIFO(st.st_mode); }},
        {"link to /dev/zero", [&] { ASSERT_EQ(symlink("/dev/zero", store.c_str()), 0); },
         [](const struct stat& st) { return S_ISLNK(st.st_mode); }},
        {"link to /dev/null", [&] { ASSERT_EQ(symlink("/dev/null", store.c_str()), 0); },
         [](const struct stat& st) { return S_ISLNK(st.st_mode); }},
        {"socket", [&] { MakeTestSocket(store); }, [](const struct stat& st) { return S_ISSOCK(st.st_mode); }},
        // Beyond any real store (and sparse, so it costs no disk).
        {"huge file",
         [&] {
             const int fd = open(store.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
             ASSERT_GE(fd, 0);
             ASSERT_EQ(pwrite(fd, "{", 1, 0), 1);
             ASSERT_EQ(ftruncate(fd, (off_t{256} << 20) + 1), 0);
             close(fd);
         },
         [](const struct stat& st) { return S_ISREG(st.st_mode) && st.st_size == (off_t{256} << 20) + 1; }},
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        unlink(store.c_str());
        XRegistry::DropCache();
        kind.make();
        if (HasFatalFailure())
            return;
        // Another process, as the reproduction ran it: refused at once, no hang, no abort.
        const ToolRunResult get = Tool({"reg", "get", "last"});
        EXPECT_FALSE(get.timedOut);
        EXPECT_EQ(get.status, 1) << get.err;
        const ToolRunResult set = Tool({"reg", "set", "last", "x"});
        EXPECT_FALSE(set.timedOut);
        EXPECT_EQ(set.status, 1) << set.err;
        // And this one.
        bool notFound = false;
        XRegistry::GetDWORD(L"v", nullptr, nullptr, &notFound);
        EXPECT_TRUE(notFound);
        EXPECT_FALSE(XRegistry::SetDWORD(1, L"v"));
        XRegistryTransaction t;
        t.SetDWORD(1, L"v");
        EXPECT_FALSE(t.Commit());
        struct stat st;
        ASSERT_EQ(lstat(store.c_str(), &st), 0);
        EXPECT_TRUE(kind.stillThere(st));
        EXPECT_EQ(DamagedCopies(), 0);
        for (const std::string& e : Entries(dir))
            EXPECT_EQ(e.find(".rewrite.tmp"), std::string::npos) << e;
    }
}

TEST_F(XRegistryTest, TemporariesOfKilledSavesAreRemovedAtTheFirstLoad)
{
    WriteRaw(store, "{\"HKCU\":{\"Software\":{\"Test\":{\"v\":7}}}}");
    const std::string dead = std::to_string(DeadProcess());
    const std::string left[] = {"XRegistry.p" + dead + ".rewrite.tmp", "XRegistry.p" + dead + ".4.rewrite.tmp"};
    for (const std::string& name : left)
        WriteRaw(dir + "/" + name, "{\"a copy\":1}");
    // A save of this process in progress, and the temporary of another file.
    const std::string live = "XRegistry.p" + std::to_string(getpid()) + ".9.rewrite.tmp";
    WriteRaw(dir + "/" + live, "in progress");
    const std::string other = "profile.json.p" + dead + ".rewrite.tmp";
    WriteRaw(dir + "/" + other, "not the store's");

    EXPECT_EQ(XRegistry::GetDWORD(L"v"), 7u);
    for (const std::string& name : left)
        EXPECT_FALSE(Exists(dir + "/" + name)) << name;
    EXPECT_EQ(ReadAll(dir + "/" + live), "in progress");
    EXPECT_EQ(ReadAll(dir + "/" + other), "not the store's");

    // Another process's first load, a writer's, does the same.
    const std::string later = "XRegistry.p" + dead + ".1.rewrite.tmp";
    WriteRaw(dir + "/" + later, "{\"a copy\":2}");
    const ToolRunResult set = Tool({"reg", "set", "last", "x"});
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_FALSE(Exists(dir + "/" + later));
    EXPECT_EQ(ReadAll(dir + "/" + live), "in progress");
}

TEST_F(XRegistryTest, ByteOrderMarkIsAcceptedAndTrailingTextIsDamage)
{
    const std::string bom = "\xEF\xBB\xBF";
    const std::string tree = "{\"HKCU\":{\"Software\":{\"Test\":{\"Old\":\"kept\"}}}}";
    for (const std::string& text : {bom + tree, bom + " \n" + tree + "\n", tree + " \r\n\t"}) {
        WriteRaw(store, text);
        XRegistry::DropCache();
        EXPECT_TRUE(XRegistry::GetString(L"Old") == XStr(L"kept")) << text;
        ASSERT_TRUE(XRegistry::SetDWORD(1, L"New"));
        EXPECT_TRUE(XRegistry::GetString(L"Old") == XStr(L"kept")) << text;
        EXPECT_EQ(ReadAll(store).compare(0, 1, "{"), 0); // written back without the mark
    }
    EXPECT_EQ(DamagedCopies(), 0);

    // Damage behind a mark, and text after the tree, however little: read as empty and kept
    // aside whole before the next write.
    const std::string damaged[] = {
        bom + "{\"HKCU\":",
        bom + bom + tree,
        bom,
        tree + "x",
        tree + "}",
        tree + "{}",
        tree + "\n{\"HKCU\":{}}",
        tree + std::string(1, '\0'),
        tree + "\n" + bom,
        tree + "\x7f",
    };
    int copies = 0;
    for (const std::string& text : damaged) {
        SCOPED_TRACE(text);
        WriteRaw(store, text);
        XRegistry::DropCache();
        bool notFound = false;
        XRegistry::GetString(L"Old", nullptr, nullptr, &notFound);
        if (text == bom) {
            // A mark alone is an empty store, nothing to keep.
            EXPECT_TRUE(notFound);
            ASSERT_TRUE(XRegistry::SetDWORD(2, L"New"));
            EXPECT_EQ(DamagedCopies(), copies);
            continue;
        }
        EXPECT_TRUE(notFound);
        EXPECT_EQ(ReadAll(store), text); // reading changes nothing
        ASSERT_TRUE(XRegistry::SetDWORD(2, L"New"));
        ASSERT_EQ(DamagedCopies(), ++copies);
        bool found = false;
        for (const std::string& e : Entries(dir))
            found = found || (e.rfind("XRegistry.damaged-", 0) == 0 && ReadAll(dir + "/" + e) == text);
        EXPECT_TRUE(found);
        EXPECT_EQ(XRegistry::GetDWORD(L"New"), 2u);
    }
}

TEST_F(XRegistryTest, LinkedStoreIsSavedThroughToItsTarget)
{
    const std::string elsewhere = dir + "/elsewhere";
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
    const std::string target = elsewhere + "/settings.json";
    WriteRaw(target, "{\"HKCU\":{\"Software\":{\"Test\":{\"Old\":\"kept\"}}}}");
    // A chain of links, one of them relative.
    ASSERT_EQ(symlink("elsewhere/settings.json", (dir + "/middle").c_str()), 0);
    ASSERT_EQ(symlink((dir + "/middle").c_str(), store.c_str()), 0);

    EXPECT_TRUE(XRegistry::GetString(L"Old") == XStr(L"kept"));
    ASSERT_TRUE(XRegistry::SetDWORD(5, L"New"));
    XRegistryTransaction t;
    t.SetDWORD(6, L"Other");
    ASSERT_TRUE(t.Commit());
    ASSERT_EQ(RunTool({"reg", "set", "last", "x"}), 0);
    for (const std::string& link : {store, dir + "/middle"}) {
        struct stat st;
        ASSERT_EQ(lstat(link.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << link;
    }
    XRegistry::DropCache();
    EXPECT_TRUE(XRegistry::GetString(L"Old") == XStr(L"kept"));
    EXPECT_EQ(XRegistry::GetDWORD(L"New"), 5u);
    EXPECT_EQ(XRegistry::GetDWORD(L"Other"), 6u);
    EXPECT_TRUE(XRegistry::GetString(L"last", L"HKCU", kToolKey) == XStr(L"x"));
    const std::string text = ReadAll(target);
    EXPECT_NE(text.find("\"New\":5"), std::string::npos);
    for (const std::string& folder : {dir, elsewhere})
        for (const std::string& e : Entries(folder))
            EXPECT_EQ(e.find(".rewrite.tmp"), std::string::npos) << e;

    // A damaged target is kept aside as it was, not as the link.
    WriteRaw(target, "{\"cut");
    XRegistry::DropCache();
    ASSERT_TRUE(XRegistry::SetDWORD(7, L"New"));
    int kept = 0;
    for (const std::string& e : Entries(elsewhere))
        if (e.rfind("settings.json.damaged-", 0) == 0) {
            kept++;
            EXPECT_EQ(ReadAll(elsewhere + "/" + e), "{\"cut");
        }
    EXPECT_EQ(kept, 1);
    struct stat st;
    ASSERT_EQ(lstat(store.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(XRegistry::GetDWORD(L"New"), 7u);

    // A link to a file not made yet: the file is made where it points.
    ASSERT_EQ(unlink(store.c_str()), 0);
    ASSERT_EQ(symlink((elsewhere + "/new.json").c_str(), store.c_str()), 0);
    XRegistry::DropCache();
    ASSERT_TRUE(XRegistry::SetDWORD(8, L"Fresh"));
    ASSERT_EQ(lstat(store.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(ReadAll(elsewhere + "/new.json").find("\"Fresh\":8"), std::string::npos);
}

TEST_F(XRegistryTest, StoreIsReadWhereItsLockCannotBeMade)
{
    const std::string tree = "{\"HKCU\":{\"Software\":{\"Test\":{\"Old\":\"kept\"}}}}";
    WriteRaw(store, tree);
    const std::string lock = store + ".lock";
    // The lock's name taken by a folder, or by a link into a folder that does not exist.
    const std::function<void()> blockers[] = {
        [&] { ASSERT_EQ(mkdir(lock.c_str(), 0700), 0); },
        [&] { ASSERT_EQ(symlink((dir + "/missing/lock").c_str(), lock.c_str()), 0); },
    };
    for (const auto& block : blockers) {
        RemoveTestTree(lock);
        unlink(lock.c_str());
        block();
        XRegistry::DropCache();
        EXPECT_TRUE(XRegistry::GetString(L"Old") == XStr(L"kept"));
        const ToolRunResult get = Tool({"reg", "get", "Old", "Software\\Test"});
        EXPECT_EQ(get.status, 0) << get.err;
        EXPECT_EQ(get.out, "kept\n");
        // Writing still needs the lock.
        EXPECT_FALSE(XRegistry::SetDWORD(1, L"New"));
        EXPECT_EQ(ReadAll(store), tree);
    }

    // A data folder that may not be written, where permissions hold (not for root).
    RemoveTestTree(lock);
    unlink(lock.c_str());
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(dir.c_str(), 0500), 0);
        XRegistry::DropCache();
        EXPECT_TRUE(XRegistry::GetString(L"Old") == XStr(L"kept"));
        EXPECT_FALSE(XRegistry::SetDWORD(1, L"New"));
        ASSERT_EQ(chmod(dir.c_str(), 0700), 0);
        EXPECT_EQ(ReadAll(store), tree);
    }
}

TEST_F(XRegistryTest, NamesThatAreNoUTF8ComeBackAsTheSameBytes)
{
    const std::string odd[] = {
        "\xed\xa0\xbd\xed\xb8\x80.mp4",
        "\xed\xa0\xbd\x88",
        "\xed\xb8\x80\xed\xa0\xbd",
        "\xed\xa0\xbd\\ude00",
        "a\xff"
        "b\xc3",
        "\xf0\x9f\x98\x80",
        "\xc0\x80",
        "\\ud83d\\ude00",
    };
    // Through another process, as the reproduction ran it.
    for (const std::string& name : odd) {
        ASSERT_EQ(Tool({"reg", "set", "last", name}).status, 0);
        const ToolRunResult get = Tool({"reg", "get", "last"});
        EXPECT_EQ(get.status, 0);
        EXPECT_EQ(get.out, name + "\n");
    }
    // Through this one: every string of one and two bytes, and the patterns, in one list.
    std::vector<std::string> names(std::begin(odd), std::end(odd));
    for (int a = 0; a < 256; a++) {
        names.push_back(std::string(1, static_cast<char>(a)));
        for (int b = 0; b < 256; b++)
            names.push_back({static_cast<char>(a), static_cast<char>(b)});
    }
    XStrList list;
    for (const std::string& n : names)
        list.Add(XStr::FromUTF8Bytes(n.data(), n.size()));
    ASSERT_TRUE(XRegistry::SetStringList(&list, L"names"));
    XRegistry::DropCache();
    XStrList back;
    ASSERT_TRUE(XRegistry::GetStringList(&back, L"names"));
    ASSERT_EQ(back.Count(), static_cast<int64_t>(names.size()));
    for (size_t i = 0; i < names.size(); i++)
        ASSERT_EQ(back[static_cast<int64_t>(i)].ToUTF8String(), names[i]) << i;
    for (const std::string& name : odd) {
        const XStr value = XStr::FromUTF8Bytes(name.data(), name.size());
        ASSERT_TRUE(XRegistry::SetString(value.p, value.p));
        EXPECT_EQ(XRegistry::GetString(value.p).ToUTF8String(), name);
    }
}

TEST_F(XRegistryTest, SettersReportFailures)
{
    XRegistry::SetLocation(XStr::FromUTF8(dir + "/missing/XRegistry").p, true);
    EXPECT_FALSE(XRegistry::SetDWORD(1, L"v"));
    EXPECT_FALSE(XRegistry::SetString(L"t", L"v"));
    EXPECT_FALSE(XRegistry::DeleteValue(L"v"));
    XRegistryTransaction t;
    t.SetDWORD(1, L"v");
    EXPECT_FALSE(t.Commit());
    EXPECT_EQ(t.PendingCount(), 0);
    EXPECT_EQ(XRegistry::GetDWORD(L"v"), 0u);
}

TEST_F(XRegistryTest, CacheSeesChangesWithinTheSameSecond)
{
    ASSERT_TRUE(XRegistry::SetString(L"one", L"A", L"HKCU", L"Software\\Brantok\\MarvoniVideo"));
    EXPECT_TRUE(XRegistry::GetString(L"A", L"HKCU", L"Software\\Brantok\\MarvoniVideo") == XStr(L"one"));
    // Another process writes right away.
    ASSERT_EQ(RunTool({"reg", "set", "A", "two"}), 0);
    EXPECT_TRUE(XRegistry::GetString(L"A", L"HKCU", L"Software\\Brantok\\MarvoniVideo") == XStr(L"two"));

    // An edit in place with the same size and the same whole-second time still counts.
    struct stat before;
    ASSERT_EQ(stat(store.c_str(), &before), 0);
    std::string text = ReadAll(store);
    const size_t at = text.find("\"two\"");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 5, "\"six\"");
    const int fd = open(store.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    struct timespec times[2] = {before.st_atim, before.st_mtim};
    times[1].tv_nsec = (before.st_mtim.tv_nsec + 1) % 1000000000;
    ASSERT_EQ(futimens(fd, times), 0);
    close(fd);
    EXPECT_TRUE(XRegistry::GetString(L"A", L"HKCU", L"Software\\Brantok\\MarvoniVideo") == XStr(L"six"));
}

TEST_F(XRegistryTest, ThreadsAndProcessesDoNotLoseWrites)
{
    // Writers in other processes at the same time (forked before any thread starts).
    std::vector<pid_t> children;
    for (int p = 0; p < 3; p++) {
        const pid_t pid = fork();
        if (pid == 0) {
            int failures = 0;
            for (int i = 0; i < 15; i++) {
                const XStr name = XStr::FromFormat(L"P%d_%d", p, i);
                failures += XRegistry::SetDWORD(static_cast<uint32_t>(i), name.p) ? 0 : 1;
            }
            _exit(failures ? 1 : 0);
        }
        children.push_back(pid);
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; t++)
        threads.emplace_back([t] {
            for (int i = 0; i < 15; i++) {
                const XStr name = XStr::FromFormat(L"T%d_%d", t, i);
                EXPECT_TRUE(XRegistry::SetDWORD(static_cast<uint32_t>(i), name.p));
                XRegistry::GetDWORD(name.p); // readers mixed in
            }
        });
    for (auto& t : threads)
        t.join();
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    XStrList names;
    ASSERT_TRUE(XRegistry::EnumValues(nullptr, nullptr, &names));
    EXPECT_EQ(names.Count(), 6 * 15 + 3 * 15);
    for (const std::string& e : Entries(dir))
        EXPECT_EQ(e.find(".rewrite.tmp"), std::string::npos) << e;
}

TEST_F(XRegistryTest, ProxySettings)
{
    XProxySettings empty = XGetProxySettings();
    EXPECT_EQ(empty.UseProxy, 0);
    EXPECT_EQ(empty.Port, 0);
    EXPECT_TRUE(empty.Server.IsEmpty());

    ASSERT_TRUE(XRegistry::SetDWORD(1, L"CD-Proxy"));
    ASSERT_TRUE(XRegistry::SetString(L"proxy.local", L"CD-CDDBProxyServer"));
    ASSERT_TRUE(XRegistry::SetString(L"  8080x", L"CD-CDDBProxyPort"));
    ASSERT_TRUE(XRegistry::SetString(L"me", L"CD-CDDBProxyUser"));
    ASSERT_TRUE(XRegistry::SetString(L"secret", L"CD-CDDBProxyPass"));
    XProxySettings s;
    XReadProxyValues(s);
    EXPECT_EQ(s.UseProxy, 1);
    EXPECT_TRUE(s.Server == XStr(L"proxy.local"));
    EXPECT_EQ(s.Port, 8080);
    EXPECT_TRUE(s.User == XStr(L"me"));
    EXPECT_TRUE(s.Password == XStr(L"secret"));
    EXPECT_EQ(XProxyPortFromText(L" -12"), -12);
    EXPECT_EQ(XProxyPortFromText(L"+"), 0);
    EXPECT_EQ(XProxyPortFromText(L"99999999999999"), INT32_MAX);
}

// ---- Transactions ----

TEST_F(XRegistryTest, TransactionAppliesInOrderWithOneWrite)
{
    ASSERT_TRUE(XRegistry::SetString(L"stored", L"Name"));
    const XRegistryFileStamp before = XRegistryFileStamp::Of(XStr::FromUTF8(store).p);
    {
        XRegistryTransaction t;
        t.SetString(L"queued", L"Name");
        t.SetDWORD(7, L"Gone");
        t.DeleteValue(L"Gone");
        EXPECT_TRUE(t.GetString(L"Name") == XStr(L"queued"));
        EXPECT_TRUE(XRegistry::GetString(L"Name") == XStr(L"stored"));
        EXPECT_FALSE(t.ValueExists(L"Gone"));
        EXPECT_TRUE(XRegistryFileStamp::Of(XStr::FromUTF8(store).p) == before); // reads write nothing
        ASSERT_TRUE(t.Commit());
        EXPECT_EQ(t.PendingCount(), 0);
        const XRegistryFileStamp after = XRegistryFileStamp::Of(XStr::FromUTF8(store).p);
        EXPECT_FALSE(after == before);
        EXPECT_TRUE(t.Commit()); // empty: nothing happens
        EXPECT_TRUE(XRegistryFileStamp::Of(XStr::FromUTF8(store).p) == after);
    }
    EXPECT_TRUE(XRegistry::GetString(L"Name") == XStr(L"queued"));
    EXPECT_FALSE(XRegistry::ValueExists(L"Gone"));
}

TEST_F(XRegistryTest, TransactionDroppedOrEmptyChangesNothing)
{
    {
        XRegistryTransaction empty;
        EXPECT_TRUE(empty.Commit());
    }
    EXPECT_FALSE(Exists(store));
    EXPECT_FALSE(Exists(store + ".lock"));

    ASSERT_TRUE(XRegistry::SetDWORD(1, L"v"));
    const std::string text = ReadAll(store);
    const XRegistryFileStamp before = XRegistryFileStamp::Of(XStr::FromUTF8(store).p);
    {
        XRegistryTransaction t;
        for (int i = 0; i < 10; i++)
            t.SetDWORD(static_cast<uint32_t>(i), XStr::FromFormat(L"v%d", i).p);
    }
    EXPECT_TRUE(XRegistryFileStamp::Of(XStr::FromUTF8(store).p) == before);
    EXPECT_EQ(ReadAll(store), text);
}

TEST_F(XRegistryTest, TransactionCopiesAndDeletesKeys)
{
    ASSERT_TRUE(XRegistry::SetDWORD(1, L"a", L"HKCU", L"Profiles\\One"));
    ASSERT_TRUE(XRegistry::SetString(L"x", L"b", L"HKCU", L"Profiles\\One\\Inner"));
    ASSERT_TRUE(XRegistry::SetDWORD(9, L"old", L"HKCU", L"Profiles\\Two"));
    {
        XRegistryTransaction t;
        t.CopyKey(L"HKCU", L"profiles\\one", L"Profiles\\TWO");
        t.CopyKey(L"HKCU", L"Profiles\\One", L"Copies\\Three");
        t.SetDWORD(2, L"a", L"HKCU", L"Profiles\\One"); // after the copies: copies keep 1
        EXPECT_EQ(t.GetDWORD(L"a", L"HKCU", L"Copies\\Three"), 1u);
        ASSERT_TRUE(t.Commit());
    }
    EXPECT_EQ(XRegistry::GetDWORD(L"a", L"HKCU", L"Profiles\\One"), 2u);
    EXPECT_EQ(XRegistry::GetDWORD(L"a", L"HKCU", L"Profiles\\Two"), 1u);
    EXPECT_FALSE(XRegistry::ValueExists(L"old", L"HKCU", L"Profiles\\Two"));
    EXPECT_TRUE(XRegistry::GetString(L"b", L"HKCU", L"Copies\\Three\\Inner") == XStr(L"x"));
    XStrList keys;
    ASSERT_TRUE(XRegistry::EnumKeys(L"HKCU", L"Profiles", &keys));
    EXPECT_EQ(keys.Count(), 2); // replaced in place, not added

    // Copying a key that does not exist changes nothing at all.
    const std::string text = ReadAll(store);
    {
        XRegistryTransaction t;
        t.CopyKey(L"HKCU", L"Profiles\\Missing", L"Profiles\\One");
        t.CopyKey(L"HKCU", L"Nowhere\\At\\All", L"Elsewhere");
        ASSERT_TRUE(t.Commit());
    }
    EXPECT_EQ(ReadAll(store), text);

    {
        XRegistryTransaction t;
        t.DeleteKey(L"HKCU", L"Profiles", L"two");
        EXPECT_FALSE(t.KeyExists(L"HKCU", L"Profiles\\Two"));
        EXPECT_TRUE(XRegistry::KeyExists(L"HKCU", L"Profiles\\Two"));
        ASSERT_TRUE(t.Commit());
    }
    EXPECT_FALSE(XRegistry::KeyExists(L"HKCU", L"Profiles\\Two"));
}

TEST_F(XRegistryTest, TransactionResolvesDefaultsWhenQueued)
{
    XRegistryTransaction t;
    t.SetDWORD(1, L"v");
    XRegistry::SetDefaultKey(L"OTHER", L"Elsewhere");
    uint8_t bytes[] = {0xff, 0};
    t.SetBinary(L"bin", bytes, 2);
    XStrList list;
    list.Add(L"one");
    t.SetStringList(&list, L"list", L"HKCU", L"Software\\Test");
    XStrList back;
    EXPECT_TRUE(t.GetStringList(&back, L"list", L"HKCU", L"Software\\Test"));
    ASSERT_TRUE(t.Commit());
    EXPECT_EQ(XRegistry::GetDWORD(L"v", L"HKCU", L"Software\\Test"), 1u);
    uint8_t out[2] = {};
    EXPECT_TRUE(XRegistry::GetBinaryExact(L"bin", out, 2, L"OTHER", L"Elsewhere"));
    EXPECT_EQ(out[0], 0xff);
    EXPECT_TRUE(XRegistry::ValueExists(L"list", L"HKCU", L"Software\\Test"));
}

TEST_F(XRegistryTest, FailedSaveLeavesNoTemporaryBehind)
{
    XRegistry reg(false);
    ASSERT_TRUE(reg.Load(true));
    reg.SetValue(nullptr, nullptr, L"v", new XJSON::Number(1));
    // The store turns into a folder before the save: the rename over it fails.
    ASSERT_EQ(unlink(store.c_str()), 0);
    ASSERT_EQ(mkdir(store.c_str(), 0700), 0);
    WriteRaw(store + "/keep", "precious");
    EXPECT_FALSE(reg.Release());
    EXPECT_EQ(ReadAll(store + "/keep"), "precious");
    for (const std::string& e : Entries(dir))
        EXPECT_EQ(e.find(".rewrite.tmp"), std::string::npos) << e;
}
