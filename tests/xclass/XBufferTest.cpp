#include "xclass/XBuffer.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(XBuffer, SizingRules)
{
    XBuffer b;
    EXPECT_TRUE(b.SetSize(0));
    EXPECT_NE(b.Data, nullptr);
    EXPECT_EQ(b.Size, 0u);
    EXPECT_EQ(b.Allocated, 1u);
    b.Free();

    EXPECT_TRUE(b.SetSize(100, true, false, 50));
    EXPECT_EQ(b.Size, 150u);
    EXPECT_EQ(b.Allocated, 150u);
    uint8_t* block = b.Data;
    b.SetSize(120);
    EXPECT_EQ(b.Data, block);
    EXPECT_EQ(b.Size, 120u);
    b.Used = 80;
    b.SetSize(50, true, false, 0, true);
    EXPECT_EQ(b.Allocated, 50u);
    EXPECT_EQ(b.Used, 50u);
    b.Free();
    EXPECT_EQ(b.Data, nullptr);
}

TEST(XBuffer, KeepsContentsOnlyWhenAsked)
{
    XBuffer b;
    b.Assign("hello", 5);
    b.SetSize(1000, true);
    EXPECT_EQ(memcmp(b.Data, "hello", 5), 0);
    b.SetSize(5000, true, true);
    EXPECT_EQ(b.Data[0], 0);
    b.Free();
}

TEST(XBuffer, WriteAtZeroFillsGapsAndReserve)
{
    XBuffer b;
    b.Assign("ab", 2);
    b.WriteAt(10, "xy", 2, 20);
    ASSERT_EQ(b.Size, 32u);
    EXPECT_EQ(memcmp(b.Data, "ab", 2), 0);
    for (int i = 2; i < 10; i++)
        EXPECT_EQ(b.Data[i], 0) << i;
    EXPECT_EQ(memcmp(b.Data + 10, "xy", 2), 0);
    for (int i = 12; i < 32; i++)
        EXPECT_EQ(b.Data[i], 0) << i;
    b.WriteAt(-1, "!", 1);
    EXPECT_EQ(b.Size, 33u);
    EXPECT_EQ(b.Data[32], '!');
    b.Free();
}

TEST(XBuffer, CopyAndEquality)
{
    XBuffer a, b;
    EXPECT_TRUE(a.IsEqual(b));
    a.Assign("data", 4);
    b.Copy(a);
    EXPECT_TRUE(a.IsEqual(b));
    EXPECT_EQ(b.Used, 4u);
    b.Data[0] = 'D';
    EXPECT_FALSE(a.IsEqual(b));
    a.Free();
    b.Free();

    XAlignedBuffer aligned;
    EXPECT_TRUE(aligned.SetSize(100, 64, true));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(aligned.Data) % 64, 0u);
    EXPECT_EQ(aligned.Data[99], 0);
    aligned.Free();
}
