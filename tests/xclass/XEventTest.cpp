#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "common/TestFiles.h"
#include "xclass/XEvent.h"
#include "xclass/XFileName.h"
#include "xclass/clSignal.h"

namespace {
bool IsCloseOnExec(int fd)
{
    return (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
}
bool IsNonBlocking(int fd)
{
    return (fcntl(fd, F_GETFL) & O_NONBLOCK) != 0;
}

void WriteFile(const XStr& path, const char* text)
{
    const int fd = open(path.ToUTF8String().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, text, strlen(text)), static_cast<ssize_t>(strlen(text)));
    close(fd);
}
} // namespace

TEST(XEvent, ManualResetSemantics)
{
    XEvent e;
    ASSERT_TRUE(e.IsOpen());
    EXPECT_TRUE(IsCloseOnExec(e.fd[0]) && IsCloseOnExec(e.fd[1]));
    EXPECT_TRUE(IsNonBlocking(e.fd[0]) && IsNonBlocking(e.fd[1]));

    EXPECT_FALSE(e.IsSet());
    EXPECT_FALSE(e.WaitUntilSet(0));
    e.Set();
    e.Set();
    EXPECT_TRUE(e.WaitUntilSet(0));
    EXPECT_TRUE(e.IsSet()); // waiting does not consume
    e.Clear();
    EXPECT_FALSE(e.IsSet());

    EXPECT_TRUE(e.Toggle());
    EXPECT_TRUE(e.IsSet());
    EXPECT_FALSE(e.Toggle());
    EXPECT_FALSE(e.IsSet());
}

TEST(XEvent, CopiesShareThePipe)
{
    XEvent a;
    XEvent b(a);
    XEvent c;
    c = a;
    ASSERT_TRUE(b.IsOpen() && c.IsOpen());
    EXPECT_NE(a.fd[0], b.fd[0]);
    EXPECT_TRUE(IsCloseOnExec(b.fd[0]) && IsCloseOnExec(c.fd[1]));
    b.Set();
    EXPECT_TRUE(a.IsSet());
    EXPECT_TRUE(c.IsSet());
    a.Close();
    c.Clear();
    EXPECT_FALSE(b.IsSet()); // still alive through the copies
}

TEST(XEvent, WaitForEitherAndCrossThreadSet)
{
    XEvent a, b;
    EXPECT_EQ(a.WaitForEither(b, 0), 0);
    b.Set();
    EXPECT_EQ(a.WaitForEither(b, 0), 2);
    a.Set();
    EXPECT_EQ(a.WaitForEither(b, 0), 1);
    a.Clear();
    b.Clear();

    std::thread setter([&] {
        usleep(20000);
        b.Set();
    });
    EXPECT_EQ(a.WaitForEither(b, -1), 2);
    setter.join();
}

TEST(XEvent, AttachTakesDescriptorsAndMakesThemNonBlocking)
{
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    XEvent e;
    e.Attach(p[0], p[1]);
    EXPECT_TRUE(IsNonBlocking(p[0]) && IsCloseOnExec(p[1]));
    e.Set();
    EXPECT_TRUE(XCanReadNow(p[0]));

    XEvent d;
    ASSERT_TRUE(d.AttachDuplicates(e.fd[0], e.fd[1]));
    EXPECT_TRUE(d.IsSet());
    e.Close(); // d owns its own descriptors
    EXPECT_TRUE(d.IsSet());
}

TEST(XEvent, NamedEventsShareOneFifo)
{
    XEvent first;
    const XStr name = first.CreateUnique(L"xevent-test-");
    ASSERT_FALSE(name.IsEmpty());
    struct stat st;
    ASSERT_EQ(stat(XEvent::GetNamedPath(name).ToUTF8String().c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    XEvent again;
    EXPECT_FALSE(again.CreateNew(name)); // exists already
    XEvent second(name);
    ASSERT_TRUE(second.IsOpen());
    EXPECT_TRUE(second.ExistsBefore);
    first.Set();
    EXPECT_TRUE(second.IsSet());
    second.Clear();
    EXPECT_FALSE(first.IsSet());

    EXPECT_TRUE(XEvent::RemoveNamed(name));
    EXPECT_FALSE(XEvent::RemoveNamed(name));
}

TEST(XEvent, NamedPathThatIsNoFifoIsRefused)
{
    const XStr name = XStr(L"xevent-test-plain-") + XStr(static_cast<int>(getpid()));
    const XStr path = XEvent::GetNamedPath(name);
    WriteFile(path, "x");
    XEvent e(name);
    EXPECT_FALSE(e.IsOpen());
    unlink(path.ToUTF8String().c_str());
}

TEST(XEventDescriptors, ReadAndWriteWithTimeout)
{
    int p[2];
    ASSERT_TRUE(XMakePipe(p, false));
    EXPECT_TRUE(IsCloseOnExec(p[0]) && IsCloseOnExec(p[1]));
    EXPECT_FALSE(XIsInheritable(p[0]));
    EXPECT_EQ(XWaitReadable(p[0], 0), 0);
    EXPECT_EQ(XWriteWithTimeout(p[1], "hello", 5, 1000), 5u);
    EXPECT_FALSE(IsNonBlocking(p[1])); // restored
    EXPECT_EQ(XWaitReadable(p[0], 0), 1);
    close(p[1]);
    char buffer[16] = {};
    // The writer has gone: the bytes so far come back instead of a hang.
    EXPECT_EQ(XReadWithTimeout(p[0], buffer, sizeof buffer, -1), 5u);
    EXPECT_STREQ(buffer, "hello");
    EXPECT_EQ(XWaitReadable(p[0], 0), 0); // bare POLLHUP
    close(p[0]);

    EXPECT_TRUE(XSetInheritable(p[0] = dup(0), true));
    EXPECT_TRUE(XIsInheritable(p[0]));
    EXPECT_TRUE(XSetInheritable(p[0], false));
    EXPECT_FALSE(XIsInheritable(p[0]));
    close(p[0]);
}

TEST(XEventDescriptors, SelectPollsEachDescriptorOnceWithAllItsEvents)
{
    int p[2];
    ASSERT_TRUE(XMakePipe(p, true));
    XSelect s;
    s.AddRead(p[0]);
    s.AddWrite(p[1]);
    s.AddRead(p[1]);
    s.AddError(p[0]);
    EXPECT_EQ(s.Poll(), 1); // only the write end is ready
    EXPECT_TRUE(s.IsWritable(p[1]));
    EXPECT_FALSE(s.IsReadable(p[0]));
    EXPECT_TRUE(s.ReadSet.empty() && s.ErrorSet.empty());

    ASSERT_EQ(write(p[1], "x", 1), 1);
    s.Clear();
    s.AddRead(p[0]);
    s.AddRead(p[1]);
    EXPECT_EQ(s.WaitForever(), 1);
    EXPECT_TRUE(s.IsReadable(p[0]));
    EXPECT_FALSE(s.IsReadable(p[1]));
    close(p[0]);
    close(p[1]);

    struct timeval tv;
    XMsToTimeval(2345, &tv);
    EXPECT_EQ(tv.tv_sec, 2);
    EXPECT_EQ(tv.tv_usec, 345000);
}

TEST(XEventMoveRetry, GivesUpOnTimeoutCancelOrHardError)
{
    TestTempDir dir;
    const XStr a = dir.wfile("a"), b = dir.wfile("b");
    WriteFile(a, "a");
    WriteFile(b, "b");

    errno = 0;
    EXPECT_FALSE(XMoveFileRetry(a, b, false, 30, nullptr));
    EXPECT_EQ(errno, ETIMEDOUT);

    XEvent cancel;
    cancel.Set();
    EXPECT_FALSE(XMoveFileRetry(a, b, false, 60000, &cancel));
    EXPECT_EQ(errno, ECANCELED);

    EXPECT_FALSE(XMoveFileRetry(dir.wfile("c"), dir.wfile("b"), false, 60000, nullptr));
    EXPECT_EQ(errno, ENOENT);

    // The target goes away while the move waits: it then succeeds.
    std::thread remover([&] {
        usleep(50000);
        unlink(b.ToUTF8String().c_str());
    });
    EXPECT_TRUE(XMoveFileRetry(a, b, false, 300000, nullptr));
    remover.join();
    EXPECT_FALSE(XFileExists(a));
    EXPECT_TRUE(XFileExists(b));
}

TEST(clSignal, StateWaitAndWaitFor)
{
    auto a = clSignal::create(), b = clSignal::create(), c = clSignal::create();
    ASSERT_TRUE(a && b && c);
    EXPECT_TRUE(IsCloseOnExec(a->waitHandle()));
    EXPECT_FALSE(a->state());
    EXPECT_FALSE(a->wait(0));
    c->setState(true);
    b->setState(true);
    b->setState(true);
    EXPECT_EQ(clSignal::waitFor({a, b, c}), 1);
    EXPECT_TRUE(b->state()); // not cleared
    b->setState(false);
    EXPECT_FALSE(b->state());
    EXPECT_EQ(clSignal::waitFor({a, b, c}), 2);

    std::thread setter([&] {
        usleep(20000);
        a->setState(true);
    });
    EXPECT_TRUE(a->wait());
    setter.join();

    a->makeWaitHandleInheritable();
    EXPECT_FALSE(IsCloseOnExec(a->waitHandle()));
    a->close();
    EXPECT_FALSE(a->isOpen());
    EXPECT_EQ(a->waitHandle(), -1);
    a->setState(true); // nothing, no crash
    EXPECT_FALSE(a->state());
}

TEST(clSignal, DescriptorAndPipeObjects)
{
    EXPECT_EQ(clFD::withDupOfFD(-1), nullptr);
    EXPECT_EQ(clFD::withDupOfFD(987654), nullptr);

    auto pipe = clPipe::newPipe();
    EXPECT_TRUE(IsCloseOnExec(pipe->fdRead()) && IsCloseOnExec(pipe->fdWrite()));
    EXPECT_FALSE(IsNonBlocking(pipe->fdRead()));
    EXPECT_TRUE(pipe->canWriteNow());
    EXPECT_FALSE(pipe->canReadNow());

    auto readEnd = pipe->detachRead();
    ASSERT_TRUE(readEnd);
    EXPECT_EQ(pipe->fdRead(), -1);
    EXPECT_EQ(pipe->detachRead(), nullptr);
    EXPECT_TRUE(readEnd->closeOnExec());
    readEnd->setNonBlocking(true);
    EXPECT_TRUE(readEnd->nonBlocking());
    readEnd->setCloseOnExec(false);
    EXPECT_FALSE(readEnd->closeOnExec());

    auto copy = readEnd->duplicate();
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->closeOnExec());
    ASSERT_EQ(write(pipe->fdWrite(), "z", 1), 1);
    char ch = 0;
    EXPECT_EQ(read(copy->fd(), &ch, 1), 1);
    EXPECT_EQ(ch, 'z');

    const int raw = copy->detach();
    EXPECT_EQ(copy->fd(), -1);
    close(raw);
}
