// Whole files for tests, read and written as bytes, and a fixture with a fresh temporary
// folder of its own.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "xclass/XFileName.h"
#include "xclass/XStr.h"

// The file's bytes; whenMissing when it cannot be opened.
inline std::string ReadTestFile(const std::string& path, const std::string& whenMissing = std::string())
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return whenMissing;
    std::string data;
    char chunk[4096];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0)
        data.append(chunk, static_cast<size_t>(n));
    close(fd);
    return data;
}

// Creates or truncates the file with the bytes; mode (less the umask) applies to a new file.
// A file that cannot be written fails the test.
inline void WriteTestFile(const std::string& path, const std::string& data, mode_t mode = 0666)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    ASSERT_GE(fd, 0) << path;
    const ssize_t written = write(fd, data.data(), data.size());
    close(fd);
    ASSERT_EQ(written, static_cast<ssize_t>(data.size())) << path;
}

// size bytes of a repeatable pseudo-random pattern; another seed gives other bytes.
inline std::string TestPattern(size_t size, unsigned seed)
{
    std::string data(size, '\0');
    for (size_t i = 0; i < size; i++) {
        seed = seed * 1103515245u + 12345u;
        data[i] = static_cast<char>(seed >> 16);
    }
    return data;
}

// Removes a test's folder with everything in it, without a shell and without following links
// out of it (made writable first, in case the test took its write bit away).
inline void RemoveTestTree(const std::string& dir)
{
    if (dir.empty())
        return;
    chmod(dir.c_str(), 0700);
    XDeleteFolderTree(XStr::FromUTF8(dir).p, true, L"*.*", true);
}

// A fresh folder under /tmp for the lifetime of the object.
struct TestTempDir {
    std::string path;
    TestTempDir()
    {
        char tmpl[] = "/tmp/marvoni-test-XXXXXX";
        if (mkdtemp(tmpl))
            path = tmpl;
        EXPECT_FALSE(path.empty()) << "mkdtemp failed";
    }
    ~TestTempDir() { RemoveTestTree(path); }
    TestTempDir(const TestTempDir&) = delete;
    TestTempDir& operator=(const TestTempDir&) = delete;
};

// Each test gets a fresh folder under /tmp, removed with everything in it afterwards.
class TempFolderTest : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override
    {
        char tmpl[] = "/tmp/marvoni-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { RemoveTestTree(dir); }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    XStr WPath(const std::string& name) const { return XStr::FromUTF8(Path(name)); }
};
