#include "xclass/XRandom.h"
#include "common/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A fresh folder removed with its files at the end of the test.
struct TempDir : TestTempDir {
    std::string File(const std::string& name, const std::string& bytes) const
    {
        const std::string path = file(name);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
        return path;
    }
};

XStr Wide(const std::string& utf8)
{
    return XStr::FromUTF8(utf8);
}

} // namespace

TEST(XRandom, MatchesTheMt19937Reference)
{
    XRandom random(5489);
    uint32_t value = 0;
    for (int i = 0; i < 10000; ++i)
        value = random.Next(0);
    EXPECT_EQ(value, 4123659995u);

    // The same stream as the standard library's engine, for another seed as well.
    XRandom seeded(0u);
    std::mt19937 reference(0);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(seeded.Next(0), reference()) << i;
}

TEST(XRandom, SameSeedSameSequenceAndReseed)
{
    XRandom a(12345);
    XRandom b(12345);
    std::vector<uint32_t> first;
    for (int i = 0; i < 1000; ++i) {
        first.push_back(a.Next(0));
        ASSERT_EQ(first.back(), b.Next(0));
    }
    a.Seed(12345);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(a.Next(0), first[static_cast<size_t>(i)]);
}

TEST(XRandom, RangesStayInside)
{
    XRandom random(99);
    std::vector<int> seen(10, 0);
    for (int i = 0; i < 20000; ++i) {
        ASSERT_EQ(random.Next(1), 0u);
        const uint32_t v = random.Next(10);
        ASSERT_LT(v, 10u);
        ++seen[v];
        ASSERT_LT(random.Next(0xffffffffu), 0xffffffffu);
    }
    for (int count : seen)
        EXPECT_GT(count, 1000); // every value turns up
}

TEST(XRandom, RangeMapsTheTopBitsOfTheOutput)
{
    XRandom random(5489);
    std::mt19937 reference(5489);
    for (int i = 0; i < 1000; ++i) {
        const uint64_t r = reference();
        ASSERT_EQ(random.Next(1000), static_cast<uint32_t>((r * 1000) >> 32));
    }
}

TEST(XRandom, ClockSeededInstancesDiffer)
{
    XRandom a;
    XRandom b;
    bool differ = false;
    for (int i = 0; i < 8; ++i)
        differ |= a.Next(0) != b.Next(0);
    EXPECT_TRUE(differ);
    EXPECT_LT(XGlobalRandom.Next(7), 7u);
}

TEST(XRandom, SharedInstanceAcrossThreads)
{
    // Four threads share one instance; together they must draw exactly the values a single
    // thread would, none lost or repeated by a torn state update.
    constexpr int kThreads = 4;
    constexpr int kEach = 20000;
    XRandom shared(777);
    std::vector<std::vector<uint32_t>> drawn(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                drawn[static_cast<size_t>(t)].push_back(shared.Next(0));
        });
    for (auto& th : threads)
        th.join();
    std::vector<uint32_t> all;
    for (const auto& d : drawn)
        all.insert(all.end(), d.begin(), d.end());
    std::vector<uint32_t> expected;
    XRandom single(777);
    for (int i = 0; i < kThreads * kEach; ++i)
        expected.push_back(single.Next(0));
    std::sort(all.begin(), all.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(all, expected);
}

TEST(XRandom, TinyDataFileFallsBackToTheGenerator)
{
    TempDir dir;
    const std::string file = dir.File("tiny.bin", "abc");
    XRandom random(Wide(file));
    ASSERT_TRUE(random.SourceFile.IsOpen());
    random.Next(0);
    EXPECT_FALSE(random.SourceFile.IsOpen());
    EXPECT_LT(random.Next(5), 5u);
}

TEST(XRandom, MissingDataFileUsesTheGenerator)
{
    XRandom random(L"/nonexistent/random.bin");
    EXPECT_FALSE(random.SourceFile.IsOpen());
    EXPECT_LT(random.Next(3), 3u);
}

TEST(XRandom, DataFileBytesWrapFromARandomOffset)
{
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 16; ++i)
        bytes += static_cast<char>(i);
    const std::string file = dir.File("data.bin", bytes);
    XRandom random(Wide(file));
    const uint32_t first = random.Next(0);
    const int k = static_cast<int>(first & 0xff); // the starting offset
    ASSERT_LT(k, 16);
    auto word = [&](int at) {
        uint32_t w = 0;
        for (int i = 3; i >= 0; --i)
            w = (w << 8) | static_cast<uint8_t>(bytes[static_cast<size_t>((at + i) % 16)]);
        return w;
    };
    EXPECT_EQ(first, word(k));
    for (int j = 1; j < 12; ++j)
        ASSERT_EQ(random.Next(0), word(k + 4 * j)) << j;
    EXPECT_TRUE(random.SourceFile.IsOpen());
    // With a range the file's number is scaled into it.
    const uint32_t next = word(k + 4 * 12);
    EXPECT_EQ(random.Next(100), static_cast<uint32_t>((uint64_t(next) * 100) >> 32));
}
