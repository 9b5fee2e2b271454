#include "xclass/XListElementValue.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;

Pairs PairsOf(const XListElementValue& list)
{
    Pairs out;
    XStr name, value;
    for (int64_t i = 0; list.Get(i, name, value); ++i)
        out.emplace_back(name.View(), value.View());
    return out;
}

Pairs Parsed(const wchar_t* text, int start = 1)
{
    return PairsOf(XListElementValue(text, start));
}

} // namespace

TEST(XListElementValue, ReadsOptionTexts)
{
    EXPECT_EQ(Parsed(L"-vcodec libx264 -crf=23 -an"), (Pairs{{L"vcodec", L"libx264"}, {L"crf", L"23"}, {L"an", L""}}));
    EXPECT_EQ(Parsed(L"-a -b"), (Pairs{{L"a", L""}, {L"b", L""}}));
    EXPECT_EQ(Parsed(L"-a x y -b"), (Pairs{{L"a", L"x"}}));
    EXPECT_EQ(Parsed(L"--preset=slow"), (Pairs{{L"preset", L"slow"}}));
    EXPECT_EQ(Parsed(L"pre-set=1"), (Pairs{{L"set", L"1"}}));
    EXPECT_EQ(Parsed(L"-ss -5"), (Pairs{{L"ss", L""}, {L"5", L""}}));
    EXPECT_EQ(Parsed(L"-b=\"a b\" -c=x=y -d \"\" -e"),
              (Pairs{{L"b", L"a b"}, {L"c", L"x=y"}, {L"d", L""}, {L"e", L""}}));
    EXPECT_EQ(Parsed(L"-="), (Pairs{{L"", L""}}));
    EXPECT_EQ(Parsed(L""), Pairs{});
    EXPECT_EQ(Parsed(nullptr), Pairs{});

    // Older texts, written before values were escaped, read as before.
    EXPECT_EQ(Parsed(L"-path=\"C:\\dir\" -q=\"a\"b\""), (Pairs{{L"path", L"C:dir"}, {L"q", L"ab"}}));
}

TEST(XListElementValue, StartPosition)
{
    EXPECT_EQ(Parsed(L"prog -a=1 -b", 6), (Pairs{{L"a", L"1"}, {L"b", L""}}));
    EXPECT_EQ(Parsed(L"xx-a=1", 0), (Pairs{{L"a", L"1"}}));
    EXPECT_EQ(Parsed(L"-a=1", -3), (Pairs{{L"a", L"1"}}));
    EXPECT_EQ(Parsed(L"-a=1", 4), Pairs{}); // "=1" has no "-"
    EXPECT_EQ(Parsed(L"-a=1", 5), Pairs{}); // beyond the text

    const char* argv[] = {"prog", "-in", "caf\xc3\xa9.mp4", "--y"};
    EXPECT_EQ(PairsOf(XListElementValue(4, argv, 1)), (Pairs{{L"in", L"caf\u00e9.mp4"}, {L"y", L""}}));
    EXPECT_EQ(PairsOf(XListElementValue(4, argv, 4)), Pairs{});
}

TEST(XListElementValue, CommandLineWithAQuotedProgramPath)
{
    EXPECT_EQ(Parsed(L"\"/usr/bin/prog\" -a=1"), (Pairs{{L"a", L"1"}}));
    EXPECT_EQ(Parsed(L"\"/opt/my prog/run-it\" -a x --b=\"c d\""), (Pairs{{L"a", L"x"}, {L"b", L"c d"}}));
    EXPECT_EQ(Parsed(L"\"/usr/bin/prog\""), Pairs{});
    EXPECT_EQ(Parsed(L"\"/usr/bin/prog -a=1"), Pairs{}); // no closing quote: all of it is the program
    // A start position behind the first character is taken as it is.
    EXPECT_EQ(Parsed(L"\"/p\" -a=1 -b", 5), (Pairs{{L"a", L"1"}, {L"b", L""}}));
}

// Parse and FromArgs clear the list first; what they read may be the list's own strings.
TEST(XListElementValue, ReadsTextHeldInTheListItself)
{
    const std::wstring value(300, L'v');
    const std::wstring text = L"-name=\"" + value + L"\" -flag";
    const Pairs expected{{L"name", value}, {L"flag", L""}};

    XListElementValue list;
    list.Add(L"cmd", text.c_str());
    list.Parse(list.Value[0].p);
    EXPECT_EQ(PairsOf(list), expected);

    list.Add(text.c_str(), L"");
    list.Parse(list.Element[2].p, 1);
    EXPECT_EQ(PairsOf(list), expected);

    XListElementValue tokens;
    tokens.Add((L"-" + value).c_str(), L"-x");
    tokens.FromArgs(tokens.Element);
    EXPECT_EQ(PairsOf(tokens), (Pairs{{value, L""}}));
    XListElementValue fromValues;
    fromValues.Add(L"a", (L"-" + value + L"=1").c_str());
    fromValues.Add(L"b", L"-c");
    fromValues.FromArgs(fromValues.Value);
    EXPECT_EQ(PairsOf(fromValues), (Pairs{{value, L"1"}, {L"c", L""}}));
}

TEST(XListElementValue, WritesAndReadsBackEveryValue)
{
    XListElementValue list;
    EXPECT_EQ(list.ToString().View(), L"");
    list.Add(L"a", L"");
    list.Add(L"b", L"x y");
    EXPECT_EQ(list.ToString().View(), L"-a -b=\"x y\"");

    const Pairs pairs = {
        {L"path", L"C:\\dir\\"},   {L"q", L"say \"hi\""}, {L"neg", L"-5"}, {L"eq", L"a=b"},   {L"empty", L""},
        {L"shell", L"$(id) `id`"}, {L"ws", L"\t\n "},     {L"bs", L"\\"},  {L"quote", L"\""}, {L"last", L""},
    };
    XListElementValue in;
    for (const auto& [n, v] : pairs)
        in.Add(n.c_str(), v.c_str());
    EXPECT_EQ(Parsed(in.ToString()), pairs);
    EXPECT_NE(in.ToString().View().find(L"-q=\"say \\\"hi\\\"\""), std::wstring_view::npos);
}

// A name that came from quoted text ("-preset\"slow one\"") keeps its blank through a save: written
// bare it would read back as the name "presetslow" with the value "one", another setting each time.
TEST(XListElementValue, NamesWithBlanksOrQuotesSurviveASave)
{
    XListElementValue read(L"-preset\"slow one\" -crf=20");
    ASSERT_EQ(read.Count(), 2);
    const Pairs once = Parsed(read.ToString());
    EXPECT_EQ(once, (Pairs{{L"presetslow one", L""}, {L"crf", L"20"}}));
    XListElementValue again(read.ToString().p);
    EXPECT_EQ(again.ToString().View(), read.ToString().View());

    XListElementValue odd;
    const Pairs names = {{L"a b", L"1"}, {L"q\"", L""}, {L"back\\slash", L"x y"}, {L"tab\there", L""}};
    for (const auto& [n, v] : names)
        odd.Add(n.c_str(), v.c_str());
    EXPECT_EQ(Parsed(odd.ToString()), names);
}

TEST(XListElementValue, LookupsAndEditing)
{
    XListElementValue list(L"-Size=10 -mode fast -size=20");
    EXPECT_EQ(list.Find(L"size"), 2);
    EXPECT_EQ(list.Find(L"size", true), 0);
    EXPECT_EQ(list.Find(L"none"), -1);
    EXPECT_TRUE(list.Exists(L"MODE", true));
    EXPECT_FALSE(list.Exists(L"MODE"));

    XStr value(L"stale");
    EXPECT_TRUE(list.GetValue(L"mode", value));
    EXPECT_EQ(value.View(), L"fast");
    EXPECT_FALSE(list.GetValue(L"none", value));
    EXPECT_TRUE(value.IsEmpty());

    XStr name(L"stale");
    value = L"stale";
    EXPECT_FALSE(list.Get(3, name, value));
    EXPECT_TRUE(name.IsEmpty());
    EXPECT_TRUE(value.IsEmpty());
    EXPECT_FALSE(list.Get(-1, name, value));

    list.RemoveAt(1);
    list.RemoveAt(7);
    list.InsertAt(0, L"first", L"1");
    EXPECT_EQ(PairsOf(list), (Pairs{{L"first", L"1"}, {L"Size", L"10"}, {L"size", L"20"}}));
    EXPECT_EQ(list.Element.Count(), list.Value.Count());

    list.Add(L"tagged", L"v", 77);
    XListElementValue copy(list);
    EXPECT_EQ(copy.Element[3].UserData, 77u);
    EXPECT_EQ(copy.Value[3].UserData, 77u);
    copy = copy;
    copy.Assign(copy);
    EXPECT_EQ(PairsOf(copy), PairsOf(list));
    XListElementValue other;
    other = list;
    EXPECT_EQ(PairsOf(other), PairsOf(list));
    other.Clear();
    EXPECT_EQ(other.Count(), 0);
}
