// Whole files for tests, read and written as bytes; the private temporary folder of a test,
// and a fixture with one of its own.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

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

// Leaves a Unix socket file at path, with nobody listening: a name that is neither a regular file
// nor a folder. A socket that cannot be made fails the test.
inline void MakeTestSocket(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path) << path;
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    close(fd);
    ASSERT_EQ(bound, 0) << path;
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
// out of it. Tests take rights away from folders inside it; those are given back first.
inline void RemoveTestTree(const std::string& dir)
{
    if (dir.empty())
        return;
    std::error_code ignored;
    chmod(dir.c_str(), 0700);
    for (auto it = std::filesystem::recursive_directory_iterator(
             dir, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        struct stat st;
        if (lstat(it->path().c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            chmod(it->path().c_str(), (st.st_mode & 07777) | S_IRWXU);
    }
    std::filesystem::remove_all(dir, ignored);
}

// A fresh private folder (mode 0700) for the lifetime of the object, under $TMPDIR (else /tmp)
// or under the parent folder given; the path has no trailing "/".
class TestTempDir {
public:
    explicit TestTempDir(const std::string& parent = std::string())
    {
        std::string base = parent;
        if (base.empty()) {
            const char* tmp = std::getenv("TMPDIR");
            base = tmp && *tmp ? tmp : "/tmp";
        }
        while (base.size() > 1 && base.back() == '/')
            base.pop_back();
        std::string pattern = base + "/marvoni-test-XXXXXX";
        if (mkdtemp(pattern.data()))
            m_path = pattern;
        EXPECT_FALSE(m_path.empty()) << "no temporary folder under " << base;
    }
    ~TestTempDir() { RemoveTestTree(m_path); }
    TestTempDir(const TestTempDir&) = delete;
    TestTempDir& operator=(const TestTempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    XStr wfile(const std::string& name) const { return XStr::FromUTF8(file(name)); }

private:
    std::string m_path;
};

// Each test gets a fresh folder, removed with everything in it afterwards.
class TempFolderTest : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override
    {
        m_temp = std::make_unique<TestTempDir>();
        dir = m_temp->path();
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override { m_temp.reset(); }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    XStr WPath(const std::string& name) const { return XStr::FromUTF8(Path(name)); }

private:
    std::unique_ptr<TestTempDir> m_temp;
};
