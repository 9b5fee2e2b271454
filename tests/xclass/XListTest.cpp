#include "xclass/XList.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "xclass/XBuffer.h"

namespace {

std::vector<std::wstring> Texts(const XStrList& list)
{
    std::vector<std::wstring> out;
    for (int64_t i = 0; i < list.Count(); ++i)
        out.emplace_back(list.Get(i) ? std::wstring(list.Get(i)->View()) : L"<null>");
    return out;
}

using W = std::vector<std::wstring>;

XStrList Make(std::initializer_list<const wchar_t*> items)
{
    XStrList list;
    for (const wchar_t* s : items)
        list.Add(s);
    return list;
}

// Copies data into a heap block of exactly size bytes, so that the sanitizer build sees any
// read past its end.
struct ExactBlock {
    explicit ExactBlock(const void* data, size_t size) : p(malloc(size ? size : 1)) { memcpy(p, data, size); }
    ~ExactBlock() { free(p); }
    void* p;
};

} // namespace

TEST(XList, InlineThenHeapGrowthSteps)
{
    XList list;
    for (uint64_t i = 0; i < 16; ++i)
        list.Add(i);
    EXPECT_EQ(list.Items, list.FirstArray);
    EXPECT_EQ(list.NumAlloced, 16);
    list.Add(uint64_t{16});
    EXPECT_NE(list.Items, list.FirstArray);
    EXPECT_EQ(list.NumAlloced, 48);
    for (uint64_t i = 17; i < 49; ++i)
        list.Add(i);
    EXPECT_EQ(list.NumAlloced, 112);
    for (int64_t i = 0; i < list.Count(); ++i)
        ASSERT_EQ(list.Get(i), static_cast<uint64_t>(i));

    list.Clear();
    EXPECT_EQ(list.Items, nullptr);
    EXPECT_EQ(list.NumAlloced, 0);
    list.Add(uint64_t{7});
    EXPECT_EQ(list.NumAlloced, 32);
    EXPECT_EQ(list.Get(0), 7u);
    EXPECT_EQ(list.Get(1), 0u); // out of range
}

TEST(XList, ReserveNeverStallsGrowth)
{
    XList exact;
    exact.Reserve(16); // already the capacity: a zero step must not be left behind
    for (uint64_t i = 0; i < 100; ++i)
        ASSERT_GE(exact.Add(i), 0);
    EXPECT_EQ(exact.Count(), 100);

    XList bigger;
    bigger.Reserve(100);
    EXPECT_EQ(bigger.NumAlloced, 100);
    for (uint64_t i = 0; i < 300; ++i)
        bigger.Add(i);
    EXPECT_EQ(bigger.Get(299), 299u);
}

TEST(XList, InsertRemoveFind)
{
    XList list;
    list.Add(uint64_t{1});
    list.Add(uint64_t{2});
    list.InsertAt(-1, uint64_t{3});
    list.InsertAt(list.Count() + 5, uint64_t{4});
    list.InsertAt(0, uint64_t{0});
    list.InsertAt(2, uint64_t{9});
    std::vector<uint64_t> got(list.Items, list.Items + list.Count());
    EXPECT_EQ(got, (std::vector<uint64_t>{0, 1, 9, 2, 3, 4}));

    int64_t index = -1;
    EXPECT_TRUE(list.Find(uint64_t{2}, &index));
    EXPECT_EQ(index, 3);
    EXPECT_FALSE(list.Find(uint64_t{42}));

    list.RemoveAt(-1);
    list.RemoveAt(6);
    EXPECT_EQ(list.Count(), 6);
    list.RemoveAt(0);
    list.Add(uint64_t{9});
    EXPECT_EQ(list.RemoveAll(9), 2);
    got.assign(list.Items, list.Items + list.Count());
    EXPECT_EQ(got, (std::vector<uint64_t>{1, 2, 3, 4}));

    int a = 0, b = 0;
    XList ptrs;
    ptrs.Add(&a);
    ptrs.Add(&b);
    EXPECT_EQ(ptrs.GetPtr<int>(1), &b);
    EXPECT_TRUE(ptrs.Find(&b, &index));
    EXPECT_EQ(index, 1);
}

TEST(XList, CopyAndAssign)
{
    XList small;
    for (uint64_t i = 0; i < 5; ++i)
        small.Add(i);
    XList copy(small);
    EXPECT_EQ(copy.Items, copy.FirstArray);
    EXPECT_EQ(copy.Count(), 5);
    EXPECT_EQ(copy.Get(4), 4u);

    XList big;
    for (uint64_t i = 0; i < 20; ++i)
        big.Add(i);
    XList bigCopy(big);
    EXPECT_EQ(bigCopy.NumAlloced, 52);
    EXPECT_EQ(bigCopy.Get(19), 19u);

    XList assigned;
    assigned.Assign(small);
    EXPECT_NE(assigned.Items, assigned.FirstArray);
    EXPECT_EQ(assigned.NumAlloced, 37);
    assigned.Assign(XList());
    EXPECT_EQ(assigned.Items, nullptr);
    EXPECT_EQ(assigned.Count(), 0);
    assigned.Add(uint64_t{1});
    EXPECT_EQ(assigned.Count(), 1);

    big = big; // self-assignment keeps the slots
    EXPECT_EQ(big.Count(), 20);
    EXPECT_EQ(big.Get(19), 19u);

    XList moved(std::move(small));
    EXPECT_EQ(moved.Count(), 5);
    EXPECT_EQ(moved.Items, moved.FirstArray);
    EXPECT_EQ(moved.Get(3), 3u);
    EXPECT_EQ(small.Count(), 0);
}

TEST(XList, SortOrdersLargeAndDegenerateInputs)
{
    const auto less = [](uint64_t a, uint64_t b, void*) { return a < b; };
    std::mt19937_64 rng(7);
    for (int shape = 0; shape < 4; ++shape) {
        XList list;
        const uint64_t n = 200000;
        for (uint64_t i = 0; i < n; ++i) {
            switch (shape) {
            case 0:
                list.Add(rng() % 1000);
                break; // many duplicates
            case 1:
                list.Add(i);
                break; // already sorted
            case 2:
                list.Add(n - i);
                break; // reversed
            default:
                list.Add(uint64_t{5});
                break; // all equal
            }
        }
        list.Sort(less);
        for (int64_t i = 1; i < list.Count(); ++i)
            ASSERT_LE(list[i - 1], list[i]) << "shape " << shape << " at " << i;
    }

    XList part;
    for (uint64_t v : {9, 8, 7, 6, 5, 4})
        part.Add(v);
    part.Sort(less, nullptr, 1, 3);
    std::vector<uint64_t> got(part.Items, part.Items + part.Count());
    EXPECT_EQ(got, (std::vector<uint64_t>{9, 6, 7, 8, 5, 4}));
    part.Sort(less, nullptr, 2, 6); // last beyond the list: nothing happens
    got.assign(part.Items, part.Items + part.Count());
    EXPECT_EQ(got, (std::vector<uint64_t>{9, 6, 7, 8, 5, 4}));
}

TEST(XStrList, OwnershipThroughCopiesAndSelfAssignment)
{
    XStrList list;
    for (int i = 0; i < 40; ++i)
        list.Add(XStr::FromLong(i), static_cast<uint64_t>(100 + i));

    XStrList copy(list);
    ASSERT_EQ(copy.Count(), 40);
    EXPECT_NE(copy.Get(0), list.Get(0)); // its own strings
    EXPECT_EQ(copy[39].View(), L"39");
    EXPECT_EQ(copy[39].UserData, 139u);

    list.Assign(list);
    list = list;
    ASSERT_EQ(list.Count(), 40);
    EXPECT_EQ(list[0].View(), L"0");

    list.Append(list); // appending to itself doubles each string once
    ASSERT_EQ(list.Count(), 80);
    EXPECT_EQ(list[79].View(), L"39");
    EXPECT_EQ(list[79].UserData, 139u);

    XStrList assigned = Make({L"x"});
    assigned = copy;
    EXPECT_EQ(assigned.Count(), 40);
    XStrList moved(std::move(assigned));
    EXPECT_EQ(moved.Count(), 40);
    EXPECT_EQ(assigned.Count(), 0);
    moved = Make({L"a", L"b"});
    EXPECT_EQ(Texts(moved), (W{L"a", L"b"}));

    // A string with an embedded zero character is copied whole.
    XStr withZero(std::wstring_view(L"a\0b", 3));
    XStrList z;
    z.Add(withZero);
    XStrList zc(z);
    EXPECT_EQ(zc[0].View(), std::wstring_view(L"a\0b", 3));
}

TEST(XStrList, FindRemoveFreeCompact)
{
    XStrList list = Make({L"b", L"a", L"B", L"c", L"b"});
    int64_t index = -1;
    EXPECT_TRUE(list.Find(L"B", false, &index));
    EXPECT_EQ(index, 2);
    EXPECT_TRUE(list.Find(L"B", true, &index));
    EXPECT_EQ(index, 0);
    EXPECT_FALSE(list.Find(L"d"));

    XStrList other = Make({L"B", L"d"});
    list.Append(other, false, true);
    EXPECT_EQ(Texts(list), (W{L"b", L"a", L"B", L"c", L"b", L"d"}));

    list.Remove(L"b");
    EXPECT_EQ(Texts(list), (W{L"a", L"B", L"c", L"d"}));
    list.Free(1);
    EXPECT_EQ(list.Get(1), nullptr);
    EXPECT_EQ(list.Count(), 4);
    list.Compact();
    EXPECT_EQ(Texts(list), (W{L"a", L"c", L"d"}));
    list.RemoveAt(5);
    list.RemoveAt(0);
    list.InsertAt(-1, L"z");
    list.InsertAt(0, L"y");
    EXPECT_EQ(Texts(list), (W{L"y", L"c", L"d", L"z"}));

    list.Clear();
    EXPECT_EQ(list.Items, nullptr);
    list.Add(L"q");
    EXPECT_EQ(list.NumAlloced, 32);
}

TEST(XStrList, SortAndJoin)
{
    XStrList list = Make({L"x10", L"x9", L"X1"});
    list.SortNatural();
    EXPECT_EQ(Texts(list), (W{L"X1", L"x9", L"x10"}));

    XStrList plain = Make({L"b", L"C", L"a"});
    plain.Sort(false);
    EXPECT_EQ(Texts(plain), (W{L"C", L"a", L"b"}));
    plain.Sort(true);
    EXPECT_EQ(Texts(plain), (W{L"a", L"b", L"C"}));

    EXPECT_EQ(plain.Join(L", ").View(), L"a, b, C");
    EXPECT_EQ(plain.Join(nullptr).View(), L"");
    EXPECT_EQ(XStrList().Join(L",").View(), L"");
}

TEST(XStrList, SplitAndSplitLines)
{
    XStrList list(L"a,,b", L",");
    EXPECT_EQ(Texts(list), (W{L"a", L"", L"b"}));
    list.Split(L"a,", L",");
    EXPECT_EQ(Texts(list), (W{L"a", L""}));
    list.Split(L",a", L",");
    EXPECT_EQ(Texts(list), (W{L"", L"a"}));
    list.Split(L"a::b::", L"::");
    EXPECT_EQ(Texts(list), (W{L"a", L"b", L""}));
    list.Split(L"", L",");
    EXPECT_EQ(list.Count(), 0);
    list.Split(L"abc", L"");
    EXPECT_EQ(list.Count(), 0);
    list.Split(nullptr, L",");
    EXPECT_EQ(list.Count(), 0);
    list.Split(L"abc", nullptr);
    EXPECT_EQ(list.Count(), 0);

    list.SplitLines(L"a\r\n\r\nb");
    EXPECT_EQ(Texts(list), (W{L"a", L"", L"b"}));
    list.SplitLines(L"a\nb");
    EXPECT_EQ(Texts(list), (W{L"a\nb"}));
    list.SplitLines(L"a\rb\r");
    EXPECT_EQ(Texts(list), (W{L"a", L"b"}));
    list.SplitLines(L"\r");
    EXPECT_EQ(Texts(list), (W{L""}));
    list.SplitLines(L"");
    EXPECT_EQ(list.Count(), 0);
}

// Every reader clears the list before it reads: text that lives in the list must have been
// copied first. Long texts live on the heap, so reading them after the clear shows (and the
// sanitizer build stops at it).
TEST(XStrList, ReadersTakeTheirTextFromTheListItself)
{
    const std::wstring middle(300, L'm');
    const std::wstring fields = L"first," + middle + L",last";
    const W expected{L"first", middle, L"last"};

    XStrList list;
    list.Add(fields.c_str());
    list.Split(list[0].p, L",");
    EXPECT_EQ(Texts(list), expected);

    list = Make({fields.c_str()});
    list.Split(list[0], L",");
    EXPECT_EQ(Texts(list), expected);

    const std::wstring separator(200, L';');
    list = Make({(L"a" + separator + L"b").c_str(), separator.c_str()});
    list.Split(list[0].p, list[1].p);
    EXPECT_EQ(Texts(list), (W{L"a", L"b"}));

    const std::wstring lines = L"one\r\n" + middle + L"\rthree";
    list = Make({lines.c_str()});
    list.SplitLines(list[0]);
    EXPECT_EQ(Texts(list), (W{L"one", middle, L"three"}));
    list = Make({lines.c_str()});
    list.SplitLines(list[0].p);
    EXPECT_EQ(Texts(list), (W{L"one", middle, L"three"}));

    const std::wstring command = L"-i \"" + middle + L" x\" -y";
    list = Make({command.c_str()});
    list.ParseArgs(list[0]);
    EXPECT_EQ(Texts(list), (W{L"-i", middle + L" x", L"-y"}));
    list = Make({command.c_str()});
    list.ParseArgs(list[0].p);
    EXPECT_EQ(Texts(list), (W{L"-i", middle + L" x", L"-y"}));

    const std::wstring program = L"/usr/bin/" + middle;
    list = Make({program.c_str(), command.c_str()});
    list.SetCommandLine(list[0].p, list[1].p);
    EXPECT_EQ(Texts(list), (W{program, L"-i", middle + L" x", L"-y"}));

    list = Make({fields.c_str()});
    list.FromMultiString(list[0].p, fields.size() * sizeof(wchar_t), 0, L',');
    EXPECT_EQ(Texts(list), expected);

    XHashedStrList hashed;
    hashed.Add(fields.c_str());
    hashed.Split(hashed[0].p, L",");
    EXPECT_EQ(Texts(hashed.Strings), expected);
    EXPECT_TRUE(hashed.Find(middle.c_str()));
}

TEST(XStrList, ParseArgsTokens)
{
    XStrList list;
    list.ParseArgs(L"a \"b c\" d\\\"e");
    EXPECT_EQ(Texts(list), (W{L"a", L"b c", L"d\"e"}));
    list.ParseArgs(L"x \"\" y");
    EXPECT_EQ(Texts(list), (W{L"x", L"", L"y"}));
    list.ParseArgs(L"  ");
    EXPECT_EQ(list.Count(), 0);
    list.ParseArgs(L"a\tb  c");
    EXPECT_EQ(Texts(list), (W{L"a\tb", L"c"}));
    list.ParseArgs(L"ab\\");
    EXPECT_EQ(Texts(list), (W{L"ab"}));
    list.ParseArgs(L"\"open quote");
    EXPECT_EQ(Texts(list), (W{L"open quote"}));
    list.ParseArgs(static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(list.Count(), 0);

    list.SetCommandLine(L"/usr/bin/ffmpeg", L"-i \"in put.mp4\" -y");
    EXPECT_EQ(Texts(list), (W{L"/usr/bin/ffmpeg", L"-i", L"in put.mp4", L"-y"}));
}

TEST(XStrList, CommandLineRoundTripsEveryArgument)
{
    const W args = {
        L"C:\\path\\file.mp4",
        L"ends\\",
        L"\\",
        L"\\\\\"",
        L"say \"hi\"",
        L"",
        L"plain_name-1.0+x/y",
        L"$(touch /tmp/x)",
        L"`id`",
        L"tab\there",
        L"new\nline",
        L"cr\rhere",
        L"*?[]",
        L"'single'",
        L"  spaced  ",
        L"\xDCFF bad byte",
        L"\"",
        L"-",
    };
    XStrList list;
    for (const auto& a : args)
        list.Add(a.c_str());
    XStrList back;
    back.ParseArgs(list.ToCommandLine());
    EXPECT_EQ(Texts(back), args);

    XStrList empty;
    back.ParseArgs(empty.ToCommandLine());
    EXPECT_EQ(back.Count(), 0);

    // Random texts over the characters that matter to quoting.
    std::mt19937 rng(3);
    const std::wstring alphabet = L"ab \"\\\t\n$`'=-";
    for (int round = 0; round < 200; ++round) {
        XStrList in;
        const int n = 1 + static_cast<int>(rng() % 5);
        for (int k = 0; k < n; ++k) {
            std::wstring s;
            const int len = static_cast<int>(rng() % 8);
            for (int c = 0; c < len; ++c)
                s += alphabet[rng() % alphabet.size()];
            in.Add(s.c_str());
        }
        XStrList out;
        out.ParseArgs(in.ToCommandLine());
        ASSERT_EQ(Texts(out), Texts(in)) << "round " << round;
    }
}

TEST(XStrList, MultiStringUnitsAndBytes)
{
    XStrList list = Make({L"x", L""});
    XBuffer buf;
    list.ToMultiString(buf, 0);
    const std::wstring expected(L"x\0[Empty]\0\0", 11);
    ASSERT_EQ(buf.Size, expected.size() * 4);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(buf.Data), expected.size()), expected);

    XStrList back;
    back.FromMultiString(buf.Data, buf.Size, 0);
    EXPECT_EQ(Texts(back), (W{L"x", L""}));

    XStrList latin = Make({L"caf\u00e9", L"b"});
    latin.ToMultiString(buf, 2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buf.Data), buf.Size), std::string("caf\xe9\0b\0\0", 8));
    back.FromMultiString(buf.Data, buf.Size, 2);
    EXPECT_EQ(Texts(back), (W{L"caf\u00e9", L"b"}));

    XStrList().ToMultiString(buf, 0);
    EXPECT_EQ(buf.Size, 8u);
    back.FromMultiString(buf.Data, buf.Size, 0);
    EXPECT_EQ(back.Count(), 0);
    buf.Free();
}

TEST(XStrList, FromMultiStringStaysInsideTheBlock)
{
    XStrList list;
    // No terminator at all, with and without a separator.
    const char raw[] = {'a', 'b', ',', 'c'};
    {
        ExactBlock block(raw, sizeof raw);
        list.FromMultiString(block.p, sizeof raw, 2);
        EXPECT_EQ(Texts(list), (W{L"ab,c"}));
        list.FromMultiString(block.p, sizeof raw, 2, ',');
        EXPECT_EQ(Texts(list), (W{L"ab", L"c"}));
        list.FromMultiString(block.p, 2, 2, ',');
        EXPECT_EQ(Texts(list), (W{L"ab"}));
    }
    // Units with an odd byte length: the partial unit is ignored.
    const uint32_t units[] = {L'h', L'i', L';', L'y'};
    {
        ExactBlock block(units, sizeof units);
        list.FromMultiString(block.p, sizeof units, 0);
        EXPECT_EQ(Texts(list), (W{L"hi;y"}));
        list.FromMultiString(block.p, sizeof units - 1, 0, ';');
        EXPECT_EQ(Texts(list), (W{L"hi"}));
        list.FromMultiString(block.p, 3, 0);
        EXPECT_EQ(list.Count(), 0);
    }
    {
        char shifted[1 + sizeof units];
        memcpy(shifted + 1, units, sizeof units);
        ExactBlock block(shifted, sizeof shifted);
        list.FromMultiString(static_cast<const char*>(block.p) + 1, sizeof units, 0, ';'); // unaligned
        EXPECT_EQ(Texts(list), (W{L"hi", L"y"}));
    }
    // Empty strings: reading stops, unless they are skipped.
    const char fields[] = {'a', '\n', '\n', 'b', '\n'};
    ExactBlock block(fields, sizeof fields);
    list.FromMultiString(block.p, sizeof fields, 2, '\n');
    EXPECT_EQ(Texts(list), (W{L"a"}));
    list.FromMultiString(block.p, sizeof fields, 2, '\n', true);
    EXPECT_EQ(Texts(list), (W{L"a", L"b"}));
    list.FromMultiString(nullptr, 10, 0);
    EXPECT_EQ(list.Count(), 0);
}

TEST(XHashedStrList, FindRemoveCompactKeepHashesParallel)
{
    EXPECT_EQ(XHashedStrList::Hash(L""), 0u);
    EXPECT_EQ(XHashedStrList::Hash(L"A"), 0x02ECE044u);
    EXPECT_EQ(XHashedStrList::Hash(L"ab"), 0xB1088DACu);
    EXPECT_EQ(XHashedStrList::Hash(L"aB"), XHashedStrList::Hash(L"AB"));

    XHashedStrList list;
    for (int i = 0; i < 100; ++i)
        list.Add(XStr::FromFormat(L"Name%d", i));
    int64_t index = -1;
    EXPECT_TRUE(list.Find(L"Name42", false, &index));
    EXPECT_EQ(index, 42);
    EXPECT_FALSE(list.Find(L"name42", false));
    EXPECT_TRUE(list.Find(L"name42", true, &index));
    EXPECT_EQ(index, 42);

    list.Remove(L"name5", true);
    EXPECT_EQ(list.Count(), 99);
    EXPECT_EQ(list.Hashes.Count(), 99);
    EXPECT_TRUE(list.Find(L"Name6", false, &index));
    EXPECT_EQ(index, 5);

    list.Free(0);
    list.Free(10);
    list.Compact();
    EXPECT_EQ(list.Count(), 97);
    EXPECT_EQ(list.Hashes.Count(), 97);
    for (int64_t i = 0; i < list.Count(); ++i)
        ASSERT_EQ(list.Hashes[i], XHashedStrList::Hash(list[i].p));
    EXPECT_FALSE(list.Find(L"Name0"));

    list.InsertAt(0, L"first");
    list.RemoveAt(1);
    EXPECT_TRUE(list.Find(L"FIRST", true, &index));
    EXPECT_EQ(index, 0);

    XHashedStrList copy(list);
    copy = copy;
    copy.Sort();
    EXPECT_TRUE(copy.Find(L"first", false, &index));
    EXPECT_EQ(copy[index].View(), L"first");
    copy.Append(list, false, false);
    EXPECT_EQ(copy.Count(), list.Count());

    copy.Split(L"b,a", L",");
    EXPECT_TRUE(copy.Find(L"a", false, &index));
    EXPECT_EQ(index, 1);
    copy.Strings.Add(L"unhashed");
    EXPECT_FALSE(copy.Find(L"a")); // lists out of step: no answer rather than a wrong one
    copy.Rehash();
    EXPECT_TRUE(copy.Find(L"unhashed"));
    copy.Clear();
    EXPECT_EQ(copy.Hashes.Count(), 0);
}
