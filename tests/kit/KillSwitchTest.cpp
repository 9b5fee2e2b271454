#include "kit/KillSwitch.h"
#include "kit/WeakRef.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

struct Target {
    int id;
};

std::shared_ptr<Target> Make(int id)
{
    return std::make_shared<Target>(Target{id});
}

TEST(WeakRefTest, BoxReadsNullOnceTheObjectIsGone)
{
    auto target = Make(1);
    auto box = WeakRef<Target>::withObject(target);
    EXPECT_EQ(box->object(), target);
    target.reset();
    EXPECT_EQ(box->object(), nullptr);
    auto other = Make(2);
    box->setObject(other);
    EXPECT_EQ(box->object()->id, 2);
}

TEST(WeakRefTest, ArrayKeepsDeadBoxesUntilSanitized)
{
    WeakRefArray<Target> array;
    auto a = Make(1);
    auto b = Make(2);
    array.addObject(a);
    array.addObject(b);
    a.reset();
    b.reset();
    EXPECT_TRUE(array.allObjects().empty());
    EXPECT_EQ(array.count(), 2u);

    // A nil search matches the first dead box.
    EXPECT_EQ(array.findObject(nullptr), 0);
    array.sanitize();
    EXPECT_EQ(array.count(), 0u);
}

TEST(WeakRefTest, SanitizeWithoutDeadBoxesKeepsTheVerySameBoxes)
{
    WeakRefArray<Target> array;
    auto a = Make(1);
    auto b = Make(2);
    array.addObject(a);
    array.addObject(b);
    const auto before = array.boxes();
    array.sanitize();
    ASSERT_EQ(array.boxes().size(), 2u);
    EXPECT_EQ(array.boxes()[0], before[0]);
    EXPECT_EQ(array.boxes()[1], before[1]);
}

TEST(WeakRefTest, RemoveObjectTakesTheFirstOfDuplicatesOrPrunesTheDead)
{
    WeakRefArray<Target> array;
    auto a = Make(1);
    auto b = Make(2);
    auto gone = Make(3);
    array.addObject(a);
    array.addObject(gone);
    array.addObject(b);
    array.addObject(a);
    gone.reset();

    array.removeObject(a);
    ASSERT_EQ(array.count(), 3u); // only the first box of a went; the dead box stays
    EXPECT_EQ(array.findObject(a), 2);
    EXPECT_TRUE(array.containsObject(b));

    auto stranger = Make(4);
    array.removeObject(stranger); // not there: prunes the dead box, no live one goes
    EXPECT_EQ(array.count(), 2u);
    const auto alive = array.allObjects();
    ASSERT_EQ(alive.size(), 2u);
    EXPECT_EQ(alive[0], b);
    EXPECT_EQ(alive[1], a);
    EXPECT_EQ(array.findObject(stranger), kKitNotFound);
}

TEST(WeakRefTest, IdentityNotEquality)
{
    WeakRefArray<Target> array;
    auto a = Make(7);
    auto twin = Make(7);
    array.addObject(a);
    EXPECT_FALSE(array.containsObject(twin));
}

TEST(KillSwitchTest, HolderRaisesItsSwitchWhileWorkStillHoldsIt)
{
    KillSwitchRef held;
    {
        KillSwitchHolder holder;
        held = holder.killSwitch();
        EXPECT_FALSE(held->die());
    }
    ASSERT_TRUE(held);
    EXPECT_TRUE(held->die());
}

TEST(KillSwitchTest, BackgroundLoadStopsWhenItsHolderIsReplaced)
{
    auto holder = std::make_unique<KillSwitchHolder>();
    std::atomic<bool> started{false};
    std::atomic<int> steps{0};
    std::thread worker([ks = holder->killSwitch(), &started, &steps] {
        started = true;
        while (!ks->die()) {
            ++steps;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    while (!started)
        std::this_thread::yield();
    holder = std::make_unique<KillSwitchHolder>(); // a new load replaces the old one
    worker.join();                                 // would hang if the old switch stayed down
    EXPECT_FALSE(holder->killSwitch()->die());
}

// The owner's side of the contract: only the current switch's result is taken, once.
TEST(KillSwitchTest, StaleResultsAreIgnoredAndTheCurrentOneIsTakenOnce)
{
    std::unique_ptr<KillSwitchHolder> current = std::make_unique<KillSwitchHolder>();
    const KillSwitchRef first = current->killSwitch();
    current = std::make_unique<KillSwitchHolder>();
    const KillSwitchRef second = current->killSwitch();

    int accepted = 0;
    auto deliver = [&](const KillSwitchRef& cookie) {
        if (current && current->isCurrent(cookie)) {
            current.reset();
            ++accepted;
        }
    };
    deliver(first);
    EXPECT_EQ(accepted, 0);
    EXPECT_TRUE(first->die());
    deliver(second);
    EXPECT_EQ(accepted, 1);
    EXPECT_EQ(current, nullptr);
    EXPECT_TRUE(second->die()); // the finished load's holder is gone
    deliver(second);
    EXPECT_EQ(accepted, 1);
}

} // namespace
