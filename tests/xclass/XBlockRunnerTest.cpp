#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "xclass/TestLatch.h"
#include "xclass/XBlockRunner.h"
#include "xclass/XEvent.h"
#include "xclass/XMainQueue.h"

namespace {
// Collects the lines a reader thread delivers and tells when the reader has ended (the
// callback's copy, and with it the guard, is destroyed then).
struct LineSink {
    std::mutex Lock;
    std::vector<std::wstring> Lines;
    TestLatch Ended{1};

    std::function<void(XStr&)> Callback()
    {
        auto guard = MakeLatchGuard(Ended);
        return [this, guard](XStr& line) {
            std::lock_guard<std::mutex> hold(Lock);
            Lines.emplace_back(line.View());
        };
    }
};

void WriteAll(int fd, const std::string& data)
{
    ASSERT_EQ(XWriteWithTimeout(fd, data.data(), data.size(), 300000), data.size());
}
} // namespace

TEST(XMainQueue, BlocksRunInOrderOnTheDrainingThreadNeverInsideThePost)
{
    XMainQueue queue;
    queue.Install();
    std::vector<int> order;
    execBlockOnMainThread([&] {
        order.push_back(1);
        execBlockOnMainThread([&] { order.push_back(3); }); // runs on a later drain
    });
    execFunctionOnMainThread([&] { order.push_back(2); });
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(queue.RunPending(), 2u);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(queue.RunPending(), 1u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

    // A block that throws does not keep the next one from running.
    execBlockOnMainThread([] { throw std::runtime_error("block failure"); });
    execBlockOnMainThread([&] { order.push_back(4); });
    EXPECT_EQ(queue.RunPending(), 2u);
    EXPECT_EQ(order.back(), 4);
}

TEST(XMainQueue, BackgroundWorkPostsItsResultBack)
{
    XMainQueue queue;
    queue.Install();
    const auto mainId = std::this_thread::get_id();
    std::vector<int> results;
    int ranInBackgroundOnMain = 0;
    for (int i = 0; i < 40; ++i) {
        auto work = [&, i] {
            const bool onMain = std::this_thread::get_id() == mainId;
            // The result block runs on the draining thread: no lock needed for the vector.
            execBlockOnMainThread([&, i, onMain] {
                EXPECT_EQ(std::this_thread::get_id(), mainId);
                results.push_back(i);
                ranInBackgroundOnMain += onMain ? 1 : 0;
            });
        };
        ASSERT_TRUE(i % 2 ? execFunctionInBackground(work) : execBlockInBackground(work));
    }
    // Every background block posts exactly one result, so nothing is left behind afterwards.
    EXPECT_TRUE(queue.RunUntil([&] { return results.size() == 40; }, 300000));
    EXPECT_EQ(ranInBackgroundOnMain, 0);
}

TEST(XMainQueue, UninstallRestoresTheSharedQueue)
{
    {
        XMainQueue queue;
        queue.Install();
        XMainQueue other;
        other.Install();
        queue.Uninstall(); // not the current one: changes nothing
        execBlockOnMainThread([] {});
        EXPECT_EQ(other.PendingCount(), 1u);
        EXPECT_EQ(queue.PendingCount(), 0u);
    }
    const size_t before = XMainQueue::Shared().PendingCount();
    bool ran = false;
    execBlockOnMainThread([&] { ran = true; });
    EXPECT_EQ(XMainQueue::Shared().PendingCount(), before + 1);
    XMainQueue::Shared().RunPending();
    EXPECT_TRUE(ran);
}

TEST(XBlockRunner, BlockRefCarriesTheBlock)
{
    int calls = 0;
    _blockRef ref([&] { ++calls; });
    ref.exec();
    ref.setBlock([&] { calls += 10; });
    ref.exec();
    EXPECT_EQ(calls, 11);
    ref.setBlock(nullptr);
    ref.exec(); // an empty block does nothing
    EXPECT_FALSE(ref.block());
}

TEST(XBlockRunner, ReadLinesSplitsEveryLineEndAndKeepsEmptyLines)
{
    int p[2];
    ASSERT_TRUE(XMakePipe(p, false));
    LineSink sink;
    ASSERT_TRUE(readLinesThread(p[0], sink.Callback()));
    close(p[0]); // the reader has its own descriptor
    WriteAll(p[1], "first\r\nsecond\n\nlast");
    close(p[1]);
    ASSERT_TRUE(sink.Ended.Wait());
    EXPECT_EQ(sink.Lines, (std::vector<std::wstring>{L"first", L"second", L"", L"last"}));
}

TEST(XBlockRunner, ReadLinesOnProgressStyleOutput)
{
    // ffmpeg rewrites its status line with a lone CR: nothing after it may be lost.
    int p[2];
    ASSERT_TRUE(XMakePipe(p, false));
    LineSink sink;
    ASSERT_TRUE(readLinesThread(p[0], sink.Callback()));
    close(p[0]);
    std::thread writer([&] {
        WriteAll(p[1], "frame=1\r");
        usleep(20000); // the next byte arrives in a later read
        WriteAll(p[1], "frame=2\r\xEF\xBB\xBF"
                       "bom\n");
        WriteAll(p[1], std::string("a\0b\n", 4));
        WriteAll(p[1], "caf\xC3\xA9 \xFF\n");
        close(p[1]);
    });
    ASSERT_TRUE(sink.Ended.Wait());
    writer.join();
    ASSERT_EQ(sink.Lines.size(), 5u);
    EXPECT_EQ(sink.Lines[0], L"frame=1");
    EXPECT_EQ(sink.Lines[1], L"frame=2");
    EXPECT_EQ(sink.Lines[2], L"bom");
    EXPECT_EQ(sink.Lines[3], L"ab");
    EXPECT_EQ(sink.Lines[4], std::wstring(L"caf\u00E9 ") + wchar_t(0xDCFF)); // lossless
}

TEST(XBlockRunner, ALineEndingInCRArrivesBeforeAnythingFollows)
{
    // ffmpeg writes a progress line ending in CR and then nothing until its next update: the
    // line is due at its CR, not when the next byte comes.
    int p[2];
    ASSERT_TRUE(XMakePipe(p, false));
    std::mutex lock;
    std::vector<std::wstring> lines;
    TestLatch first(1), second(1), third(1), ended(1);
    TestLatch* const latches[] = {&first, &second, &third};
    ASSERT_TRUE(readLinesThread(p[0], [&, guard = MakeLatchGuard(ended)](XStr& line) {
        std::lock_guard<std::mutex> hold(lock);
        lines.emplace_back(line.View());
        if (lines.size() <= 3)
            latches[lines.size() - 1]->CountDown();
    }));
    close(p[0]);
    WriteAll(p[1], "frame=1\r");
    ASSERT_TRUE(first.Wait()) << "the line ended by a lone CR was held back";
    // Its LF, arriving later, makes no empty line; a CR after a CR does.
    WriteAll(p[1], "\nframe=2\r");
    ASSERT_TRUE(second.Wait());
    WriteAll(p[1], "\r");
    ASSERT_TRUE(third.Wait());
    WriteAll(p[1], "\r\nlast\n");
    close(p[1]);
    ASSERT_TRUE(ended.Wait());
    std::lock_guard<std::mutex> hold(lock);
    EXPECT_EQ(lines, (std::vector<std::wstring>{L"frame=1", L"frame=2", L"", L"", L"last"}));
}

TEST(XBlockRunner, ThrowingOrEmptyCallbackStillDrainsThePipe)
{
    int p[2];
    ASSERT_TRUE(XMakePipe(p, false));
    std::atomic<int> calls{0};
    TestLatch ended(1);
    auto guard = MakeLatchGuard(ended);
    ASSERT_TRUE(readLinesThread(p[0], [&calls, guard](XStr&) {
        ++calls;
        throw std::runtime_error("callback failure");
    }));
    guard.reset();
    close(p[0]);
    WriteAll(p[1], "1\n2\n3\n");
    close(p[1]);
    ASSERT_TRUE(ended.Wait());
    EXPECT_EQ(calls, 3);

    // Far more than a pipe holds: the write completes only when somebody reads.
    ASSERT_TRUE(XMakePipe(p, false));
    ASSERT_TRUE(readLinesThread(p[0], std::function<void(XStr&)>()));
    close(p[0]);
    const std::string big(4 << 20, 'x');
    WriteAll(p[1], big + "\n");
    close(p[1]);
}

TEST(XBlockRunner, ReaderOnABadDescriptorReportsFailure)
{
    EXPECT_FALSE(readLinesThread(-1, [](XStr&) {}));
    EXPECT_FALSE(readLinesThread(987654, [](XStr&) {}));
    XOutputCollector collector(-1);
    EXPECT_FALSE(collector.IsStarted());
    EXPECT_TRUE(collector.IsFinished());
    EXPECT_EQ(collector.Count(), 0);
}

TEST(XBlockRunner, OutputCollectorKeepsNonEmptyLines)
{
    int p[2];
    ASSERT_TRUE(XMakePipe(p, false));
    XOutputCollector collector(p[0]);
    close(p[0]);
    ASSERT_TRUE(collector.IsStarted());
    WriteAll(p[1], "one\n\n\r\ntwo\rthree");
    close(p[1]);
    for (int i = 0; i < 60000 && !collector.IsFinished(); ++i)
        usleep(5000);
    ASSERT_TRUE(collector.IsFinished());
    const XStrList lines = collector.GetLines();
    ASSERT_EQ(lines.Count(), 3);
    EXPECT_EQ(lines[0], XStr(L"one"));
    EXPECT_EQ(lines[1], XStr(L"two"));
    EXPECT_EQ(lines[2], XStr(L"three"));
}
