// XFile and XMemFile: dispositions and share locks, text lines from files and pipes,
// moving the tail of a file, memory files and the whole-file helpers.
#include "xclass/XFile.h"
#include "xclass/XFileName.h"

#include <gtest/gtest.h>

#include "common/TestFiles.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

class XFileTest : public TempFolderTest {};

void Write(const std::string& path, const std::string& content)
{
    WriteTestFile(path, content);
}

std::string Read(const std::string& path)
{
    return ReadTestFile(path);
}

std::vector<std::string> Lines(XFile& file, bool utf16 = false, bool utf8 = true)
{
    std::vector<std::string> lines;
    XStr line;
    while (file.ReadLine(line, utf16, utf8))
        lines.push_back(line.ToUTF8String());
    return lines;
}

bool IsCloseOnExec(int fd)
{
    return (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
}

} // namespace

TEST_F(XFileTest, Dispositions)
{
    Write(Path("f"), "content");
    XFile file;
    EXPECT_FALSE(file.Open(WPath("f").p, 2, XFILE_CREATE_NEW));
    EXPECT_EQ(file.Handle, -1);
    EXPECT_FALSE(file.Open(WPath("missing").p, 2, XFILE_TRUNCATE_EXISTING));
    EXPECT_FALSE(file.Open(WPath("missing").p, 1, XFILE_OPEN_EXISTING));

    const mode_t old = umask(022);
    ASSERT_TRUE(file.Open(WPath("new").p, 2, XFILE_OPEN_ALWAYS));
    umask(old);
    EXPECT_TRUE(IsCloseOnExec(file.Handle));
    struct stat st;
    ASSERT_EQ(stat(Path("new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    ASSERT_TRUE(file.Open(WPath("f").p, 2, XFILE_OPEN_ALWAYS));
    EXPECT_EQ(file.GetSize(), 7);
    ASSERT_TRUE(file.OpenCreate(WPath("f").p));
    EXPECT_EQ(file.GetSize(), 0);
    EXPECT_TRUE(file.Write("abc", 3, 0));
    EXPECT_TRUE(file.Write(nullptr, 0, 2));
    EXPECT_FALSE(file.Write(nullptr, 1, 2));
    char buffer[8] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer, 0), 3u);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    bool failed = true;
    EXPECT_EQ(file.Read(buffer, sizeof buffer, 1, &failed), 0u); // from the end: nothing
    EXPECT_FALSE(failed);
    EXPECT_TRUE(file.Seek(1, 0));
    EXPECT_EQ(file.GetPosition(), 1);
    EXPECT_TRUE(file.Truncate(2));
    EXPECT_EQ(file.GetSize(), 2);
    file.Close();
    EXPECT_EQ(file.Read(buffer, 1, 0, &failed), 0u);
    EXPECT_TRUE(failed);
    EXPECT_EQ(file.GetPosition(), -1);
}

TEST_F(XFileTest, ShareLocksAndTruncation)
{
    Write(Path("locked"), "precious");
    XFile holder;
    ASSERT_TRUE(holder.Open(WPath("locked").p, 2, XFILE_OPEN_EXISTING, false, XFILE_SHARE_EXCLUSIVE));

    // A conflicting open fails at once and truncates nothing, whatever its disposition.
    XFile other;
    EXPECT_FALSE(other.Open(WPath("locked").p, 2, XFILE_CREATE_ALWAYS));
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_FALSE(other.Open(WPath("locked").p, 1, XFILE_TRUNCATE_EXISTING));
    EXPECT_EQ(Read(Path("locked")), "precious");
    EXPECT_FALSE(other.OpenRead(WPath("locked").p));
    // Without a lock the open goes through.
    ASSERT_TRUE(other.Open(WPath("locked").p, 1, XFILE_OPEN_EXISTING | XFILE_NO_LOCK));
    other.Close();

    // Another process sees the same: with the wait flag it gets the file once it is free.
    const pid_t pid = fork();
    if (pid == 0) {
        close(holder.Handle); // the lock lives while any descriptor of it is open
        XFile child;
        if (child.Open(WPath("locked").p, 2, XFILE_CREATE_ALWAYS, false, 0))
            _exit(1);
        if (!child.Open(WPath("locked").p, 2, XFILE_CREATE_ALWAYS | XFILE_WAIT_FOR_LOCK, false, 0))
            _exit(2);
        _exit(child.Write("child", 5, 0) ? 0 : 3);
    }
    usleep(100 * 1000);
    EXPECT_EQ(Read(Path("locked")), "precious");
    holder.Close();
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Read(Path("locked")), "child");

    // Shared locks coexist.
    XFile a, b;
    EXPECT_TRUE(a.OpenRead(WPath("locked").p));
    EXPECT_TRUE(b.OpenRead(WPath("locked").p));
}

TEST_F(XFileTest, ReadLines)
{
    Write(Path("lines"), "one\r\ntwo\rthree\nfour");
    XFile file;
    ASSERT_TRUE(file.OpenRead(WPath("lines").p));
    EXPECT_EQ(Lines(file), (std::vector<std::string>{"one", "two", "three", "four"}));

    Write(Path("bom"), "\xEF\xBB\xBFna\xC3\xAFve\n\xEF\xBB\xBFsecond\n");
    ASSERT_TRUE(file.OpenRead(WPath("bom").p));
    EXPECT_EQ(Lines(file), (std::vector<std::string>{"na\xC3\xAFve", "second"}));
    ASSERT_TRUE(file.OpenRead(WPath("bom").p));
    XStr ansi;
    ASSERT_TRUE(file.ReadLine(ansi, false, false));
    EXPECT_EQ(ansi.Length(), 9); // every byte one Windows-1252 character

    Write(Path("cr"), "\r");
    ASSERT_TRUE(file.OpenRead(WPath("cr").p));
    EXPECT_TRUE(Lines(file).empty());
    Write(Path("lf"), "\n");
    ASSERT_TRUE(file.OpenRead(WPath("lf").p));
    EXPECT_EQ(Lines(file), (std::vector<std::string>{""}));
    Write(Path("empty"), "");
    ASSERT_TRUE(file.OpenRead(WPath("empty").p));
    EXPECT_TRUE(Lines(file).empty());

    // A long line, NUL bytes dropped; the position ends right behind each line.
    const std::string longLine(10000, 'x');
    Write(Path("long"), longLine + std::string("\0y\n", 3) + "tail");
    ASSERT_TRUE(file.OpenRead(WPath("long").p));
    XStr line;
    ASSERT_TRUE(file.ReadLine(line, false, true));
    EXPECT_EQ(line.ToUTF8String(), longLine + "y");
    EXPECT_EQ(file.GetPosition(), 10003);
    char rest[8] = {};
    EXPECT_EQ(file.Read(rest, sizeof rest, 2), 4u);
    EXPECT_EQ(std::string(rest, 4), "tail");
}

TEST_F(XFileTest, ReadLinesUTF16)
{
    XFile file;
    ASSERT_TRUE(file.OpenCreate(WPath("u16").p));
    ASSERT_TRUE(file.WriteUTF16BOM());
    ASSERT_TRUE(file.WriteLineUTF16(L"caf\u00e9"));
    ASSERT_TRUE(file.WriteLineUTF16(L"x", false));
    ASSERT_TRUE(file.OpenRead(WPath("u16").p));
    EXPECT_TRUE(file.HasUTF16BOM());
    EXPECT_EQ(file.GetPosition(), 2);
    EXPECT_FALSE(file.HasUTF8BOM());
    EXPECT_EQ(Lines(file, true), (std::vector<std::string>{"caf\xC3\xA9", "x"}));
}

TEST_F(XFileTest, ReadLinesFromPipe)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    XFile reader;
    ASSERT_TRUE(reader.AttachDuplicate(fds[0]));
    close(fds[0]);
    EXPECT_TRUE(IsCloseOnExec(reader.Handle));

    // A line ended by CR alone comes at once, without waiting for what follows.
    ASSERT_EQ(write(fds[1], "a\r\nprogress\r", 12), 12);
    XStr line;
    ASSERT_TRUE(reader.ReadLine(line, false, true));
    EXPECT_EQ(line.ToUTF8String(), "a");
    ASSERT_TRUE(reader.ReadLine(line, false, true));
    EXPECT_EQ(line.ToUTF8String(), "progress");
    // Its LF, arriving later, does not make an empty line; no byte is lost.
    ASSERT_EQ(write(fds[1], "\nb\n\nc", 5), 5);
    close(fds[1]);
    EXPECT_EQ(Lines(reader), (std::vector<std::string>{"b", "", "c"}));
}

TEST_F(XFileTest, ShiftTail)
{
    const std::string data = TestPattern(200000, 5);
    Write(Path("s"), data);
    XFile file;
    ASSERT_TRUE(file.OpenUpdate(WPath("s").p));

    ASSERT_TRUE(file.ShiftTail(1000, 70000, true));
    std::string expected = data.substr(0, 1000) + std::string(70000, '\0') + data.substr(1000);
    EXPECT_EQ(Read(Path("s")), expected);

    ASSERT_TRUE(file.ShiftTail(71000, -70000, false));
    EXPECT_EQ(Read(Path("s")), data);

    // A removal reaching before the start is refused and cuts nothing.
    EXPECT_FALSE(file.ShiftTail(10, -20, false));
    EXPECT_EQ(Read(Path("s")), data);
    // Removing beyond the end only drops what is there.
    ASSERT_TRUE(file.ShiftTail(250000, -60000, false));
    EXPECT_EQ(Read(Path("s")), data.substr(0, 190000));
    EXPECT_TRUE(file.ShiftTail(-1, 5, false));
    EXPECT_TRUE(file.ShiftTail(5, 0, false));
    EXPECT_EQ(file.GetSize(), 190000);
}

TEST_F(XFileTest, ShiftTailWithoutRoomChangesNothing)
{
    const std::string data = TestPattern(300000, 9);
    Write(Path("media"), data);
    const pid_t pid = fork();
    if (pid == 0) {
        struct rlimit rl = {400000, 400000};
        setrlimit(RLIMIT_FSIZE, &rl);
        XFile file;
        if (!file.OpenUpdate(WPath("media").p))
            _exit(1);
        _exit(file.ShiftTail(100, 200000, true) ? 2 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Read(Path("media")), data);
}

TEST_F(XFileTest, MemFile)
{
    XMemFile mem;
    EXPECT_TRUE(mem.Seek(10, 0));
    EXPECT_EQ(mem.Buffer.Used, 10u);
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(mem.Buffer.Data[i], 0);
    EXPECT_TRUE(mem.Write("abc", 3, 1));
    EXPECT_EQ(mem.Position, 13);
    EXPECT_TRUE(mem.Write("XY", 2, 0));
    EXPECT_EQ(mem.Buffer.Used, 13u); // bytes after the written range stay
    char out[16] = {};
    EXPECT_EQ(mem.Read(out, sizeof out, 2), 11u);
    EXPECT_EQ(std::string(out + 8, 3), "abc");
    EXPECT_TRUE(mem.SetSize(4));
    EXPECT_EQ(mem.Buffer.Used, 4u);
    EXPECT_TRUE(mem.SetSize(-5));
    EXPECT_EQ(mem.Buffer.Used, 0u);

    XMemFile lines;
    ASSERT_TRUE(lines.WriteLine("\xEF\xBB\xBFone"));
    ASSERT_TRUE(lines.WriteLine("two", false));
    lines.Position = 0;
    XStr line;
    ASSERT_TRUE(lines.ReadLine(line, false, true));
    EXPECT_EQ(line.p[0], 0xFEFF); // the memory form keeps the mark
    ASSERT_TRUE(lines.ReadLine(line, false, true));
    EXPECT_EQ(line.ToUTF8String(), "two");
    EXPECT_FALSE(lines.ReadLine(line, false, true));

    XMemFile shifted;
    ASSERT_TRUE(shifted.Write("0123456789", 10, 0));
    ASSERT_TRUE(shifted.ShiftTail(4, 2, true));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(shifted.Buffer.Data), shifted.Buffer.Used),
              std::string("0123") + std::string(2, '\0') + "456789");
    ASSERT_TRUE(shifted.ShiftTail(6, -2, false));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(shifted.Buffer.Data), shifted.Buffer.Used), "0123456789");
    EXPECT_FALSE(shifted.ShiftTail(1, -3, false));
    EXPECT_EQ(shifted.Buffer.Used, 10u);
}

TEST_F(XFileTest, WholeFiles)
{
    XBuffer buffer;
    EXPECT_TRUE(XFileReadAll(WPath("missing").p, buffer));
    EXPECT_EQ(buffer.Used, 0u);

    const std::string data = TestPattern(100000, 1);
    ASSERT_TRUE(XFileWriteDirect(WPath("whole").p, data.data(), data.size()));
    ASSERT_TRUE(XFileReadAll(WPath("whole").p, buffer));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.Data), buffer.Used), data);
    buffer.Free();

    XMemFile mem;
    ASSERT_TRUE(XFileReadAll(WPath("whole").p, mem));
    EXPECT_EQ(mem.Buffer.Used, data.size());
    EXPECT_EQ(mem.Position, 0);
    ASSERT_TRUE(mem.SaveToFile(WPath("copy").p));
    EXPECT_EQ(Read(Path("copy")), data);
    XMemFile loaded;
    ASSERT_TRUE(loaded.LoadFromFile(WPath("copy").p));
    EXPECT_EQ(loaded.Buffer.Used, data.size());
    EXPECT_TRUE(loaded.LoadFromFile(WPath("missing").p));
    EXPECT_EQ(loaded.Buffer.Used, 0u);

    char part[4];
    bool failed = true;
    EXPECT_EQ(XFileReadAt(WPath("whole").p, part, 4, 10, 2, &failed), 4u);
    EXPECT_FALSE(failed);
    EXPECT_EQ(std::string(part, 4), data.substr(10, 4));
    EXPECT_EQ(XFileReadAt(WPath("missing").p, part, 4, 0, 0, &failed), 0u);
    EXPECT_TRUE(failed);

    EXPECT_EQ(XFileSize(WPath("whole").p), 100000);
    EXPECT_EQ(XFileSize(WPath("missing").p, &failed), -1);
    EXPECT_TRUE(failed);
    EXPECT_NE(XFileWriteTime(WPath("whole").p), 0u);

    ASSERT_EQ(symlink("target name", Path("link").c_str()), 0);
    EXPECT_EQ(XFileReadLink(WPath("link").p).ToUTF8String(), "target name");
    EXPECT_TRUE(XFileReadLink(WPath("whole").p).IsEmpty());
    EXPECT_EQ(XErrnoText(ENOENT).ToUTF8String(), "No such file or directory (errno:2)");
}

TEST_F(XFileTest, FifosAndDevicesAreNoWholeFiles)
{
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", Path("zero").c_str()), 0);
    const std::string others[] = {Path("fifo"), Path("zero"), "/dev/null", "/dev/zero"};

    // No writer at the other end: opening for reading must not wait for one, and leaves a
    // descriptor that blocks as usual.
    XFile file;
    ASSERT_TRUE(file.OpenRead(WPath("fifo").p));
    EXPECT_EQ(fcntl(file.Handle, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_FALSE(file.IsRegularFile());
    file.Close();
    ASSERT_TRUE(file.Open(WPath("fifo").p, XFILE_READWRITE, XFILE_OPEN_EXISTING));
    EXPECT_EQ(fcntl(file.Handle, F_GETFL) & O_NONBLOCK, 0);
    file.Close();
    ASSERT_TRUE(file.OpenRead(L"/dev/zero"));
    char bytes[4] = {1, 1, 1, 1};
    EXPECT_EQ(file.Read(bytes, 4), 4u);
    EXPECT_EQ(std::string(bytes, 4), std::string(4, '\0'));
    file.Close();
    Write(Path("plain"), "x");
    ASSERT_TRUE(file.OpenRead(WPath("plain").p));
    EXPECT_TRUE(file.IsRegularFile());
    file.Close();

    for (const std::string& path : others) {
        SCOPED_TRACE(path);
        const XStr wide = XStr::FromUTF8(path);
        XBuffer buffer;
        EXPECT_FALSE(XFileReadAll(wide.p, buffer));
        EXPECT_EQ(buffer.Used, 0u);
        XMemFile mem;
        EXPECT_FALSE(XFileReadAll(wide.p, mem));
        EXPECT_FALSE(mem.LoadFromFile(wide.p));
    }

    // With a writer that never writes, a read could wait for ever: refused all the same.
    const int writer = open(Path("fifo").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    XBuffer buffer;
    EXPECT_FALSE(XFileReadAll(WPath("fifo").p, buffer));
    XMemFile mem;
    EXPECT_FALSE(mem.LoadFromFile(WPath("fifo").p));
    close(writer);
}
