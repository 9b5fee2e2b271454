#include "xclass/XJSON.h"
#include "common/TestFiles.h"
#include "common/ToolRun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "xclass/XFile.h"

using namespace XJSON;

namespace {

std::unique_ptr<AnyType> P(const wchar_t* text)
{
    return std::unique_ptr<AnyType>(Parse(XStr(text)));
}

std::unique_ptr<AnyType> P8(const std::string& text)
{
    return std::unique_ptr<AnyType>(ParseUTF8(text.data(), text.size()));
}

std::string Text8(const AnyType& v)
{
    std::string s;
    v.ToUTF8(s);
    return s;
}

std::string NumberText(double v)
{
    return Text8(Number(v));
}

} // namespace

TEST(XJSONLayout, ObjectArrayAndEmptyObject)
{
    Object o;
    o.Set(L"a", new Number(1));
    Array* b = o.AddArray(L"b");
    b->Add(new Number(1));
    b->Add(new Number(2));
    o.AddObject(L"c");
    EXPECT_EQ(Text8(o), "{\n    \"a\":1,\n    \"b\":[1, 2],\n    \"c\":{\n    }\n}");
    // The wide text is the same layout.
    EXPECT_EQ(o.ToText().ToUTF8String(), Text8(o));
    EXPECT_EQ(Text8(Array()), "[]");
    EXPECT_EQ(Text8(Object()), "{\n}");
}

TEST(XJSONLayout, ArraysBreakAtTwoHundredOrOnNestedLines)
{
    // 40 items of "1": 40 * (1 + 4) = 200 -> one item per line.
    Array wide;
    for (int i = 0; i < 40; i++)
        wide.Add(new Number(1));
    const std::string text = Text8(wide);
    EXPECT_EQ(text.substr(0, 9), "[\n    1,\n");
    EXPECT_EQ(text.substr(text.size() - 7), "    1\n]");
    // 39 items stay on one line.
    wide.RemoveAt(0);
    EXPECT_EQ(Text8(wide).find('\n'), std::string::npos);

    // An object inside an array forces the multi-line layout, indented by depth.
    Object root;
    Array* list = root.AddArray(L"list");
    list->AddObject()->Set(L"x", new Boolean(true));
    list->Add(new Null);
    EXPECT_EQ(Text8(root), "{\n    \"list\":[\n        {\n            \"x\":true\n        },\n        null\n    ]\n}");

    // A one-line inner array counts with its own length.
    Array outer;
    Array* inner = outer.AddArray();
    inner->Add(new String(L"ab"));
    outer.Add(new Boolean(false));
    EXPECT_EQ(Text8(outer), "[[\"ab\"], false]");
}

TEST(XJSONLayout, Escapes)
{
    const XStr raw(L"q\" b\\ \b\f\n\r\t \x01 / \x7f \u00e9");
    EXPECT_EQ(Quote(raw).ToUTF8String(), "\"q\\\" b\\\\ \\b\\f\\n\\r\\t \\u0001 / \x7f \xc3\xa9\"");
    XStr back;
    ASSERT_TRUE(Unquote(back, Quote(raw)));
    EXPECT_TRUE(back == raw);
    EXPECT_FALSE(Unquote(back, XStr(L"\"")));
    EXPECT_FALSE(Unquote(back, XStr(L"abc")));
    EXPECT_EQ(Indent(XStr(L"a\nb\n"), XStr(L"  ")).ToUTF8String(), "a\n  b\n  ");
}

TEST(XJSONLayout, UnescapeRules)
{
    EXPECT_TRUE(Unescape(XStr(L"\\u41\\u00e9x")) == XStr(L"A\u00e9x")); // up to four digits
    EXPECT_TRUE(Unescape(XStr(L"a\\uZb")) == XStr(L"aZb"));             // no digits: nothing added
    EXPECT_TRUE(Unescape(XStr(L"a\\qb\\/")) == XStr(L"ab/"));           // unknown escape dropped
    EXPECT_TRUE(Unescape(XStr(L"ab\\")) == XStr(L"ab"));                // trailing backslash
    // Each escape is one character: an escaped pair stays two surrogates.
    EXPECT_TRUE(Unescape(XStr(L"\\ud83d\\ude00")) == XStr(L"\xd83d\xde00"));
    EXPECT_TRUE(Unescape(XStr(L"\\uD83D\\uDC88")) == XStr(L"\xd83d\xdc88"));
}

TEST(XJSONLayout, SurrogatesAndRawBytesSurviveAFile)
{
    TestTempDir dir;
    // A name read from the disk with a byte that is not UTF-8 (kept as U+DC00 + byte) and a
    // lone surrogate: both must come back as they were, and the file must stay valid UTF-8.
    const XStr odd = XStr::FromUTF8Bytes("a\xff"
                                         "b",
                                         3);
    Object o;
    o.Set(L"path", new String(odd));
    o.Set(L"lone", new String(L"\xd83d"));
    const std::string text = Text8(o);
    EXPECT_NE(text.find("a\\uDCFFb"), std::string::npos);
    EXPECT_NE(text.find("\\uD83D"), std::string::npos);
    for (unsigned char c : text)
        EXPECT_LT(c, 0x80);

    const XStr file = XStr::FromUTF8(dir.path() + "/odd.json");
    ASSERT_TRUE(WriteFileAtomically(file.p, &o));
    std::unique_ptr<AnyType> back(ReadFile(file.p, 1000));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->AsObject()->Get(L"path")->AsString()->Value.ToUTF8String(), "a\xff"
                                                                                "b");
    EXPECT_TRUE(back->AsObject()->Get(L"lone")->AsString()->Value == L"\xd83d");
}

namespace {

// Byte strings that are no UTF-8 or that hide surrogates, as file names bring them.
const std::string kOddNames[] = {
    "\xed\xa0\xbd\xed\xb8\x80.mp4", // two encoded surrogates that would form U+1F600
    "\xed\xa0\xbd\x88",             // a high surrogate, then a stray byte (U+DC88)
    "\xed\xa0\xbd\\ude00",          // a high surrogate, then the text of an escape
    "\xed\xb8\x80\xed\xa0\xbd",     // the pair the wrong way round
    "\xf0\x9f\x98\x80",             // the real U+1F600
    "a\xff"
    "b\xc3",                // a bad byte, a cut-off sequence
    "\xc0\x80\xe0\x80\x80", // overlong forms of zero
    "\xf4\x90\x80\x80",     // beyond U+10FFFF
    "\\ud83d\\ude00",       // the escapes as plain text
};

// Each name as a string value through the writer and the UTF-8 parser: the bytes that come
// back, in order.
std::vector<std::string> ThroughJSON(const std::vector<std::string>& names)
{
    Array a;
    for (const std::string& n : names)
        a.Add(new String(XStr::FromUTF8Bytes(n.data(), n.size())));
    std::unique_ptr<AnyType> back(P8(Text8(a)));
    std::vector<std::string> out;
    if (!back)
        return out;
    for (int64_t i = 0; i < back->AsArray()->Count(); i++)
        out.push_back(back->AsArray()->Get(i)->AsString()->Value.ToUTF8String());
    return out;
}

} // namespace

TEST(XJSONText, ShortByteStringsComeBackAsTheSameBytes)
{
    std::vector<std::string> names(std::begin(kOddNames), std::end(kOddNames));
    ASSERT_EQ(ThroughJSON(names), names);
    names.clear();
    for (int a = 0; a < 256; a++)
        names.push_back(std::string(1, static_cast<char>(a)));
    for (int a = 0; a < 256; a++)
        for (int b = 0; b < 256; b++)
            names.push_back({static_cast<char>(a), static_cast<char>(b)});
    ASSERT_EQ(ThroughJSON(names), names);
}

// Every string of three bytes, in four parts by the first byte so that each part stays short.
class XJSONThreeBytes : public ::testing::TestWithParam<int> {};

TEST_P(XJSONThreeBytes, ComeBackAsTheSameBytes)
{
    for (int a = GetParam() * 64; a < (GetParam() + 1) * 64; a++) {
        std::vector<std::string> names;
        names.reserve(65536);
        for (int b = 0; b < 256; b++)
            for (int c = 0; c < 256; c++)
                names.push_back({static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)});
        // One assertion per batch: millions of them would cost more than the conversions.
        ASSERT_TRUE(ThroughJSON(names) == names) << "first byte " << a;
    }
}

INSTANTIATE_TEST_SUITE_P(FirstBytes, XJSONThreeBytes, ::testing::Range(0, 4));

TEST(XJSONText, EscapedSurrogatesAreNeverJoined)
{
    // As the writer puts them, and as a hand or another writer would.
    auto v = P8("[\"\\uD83D\\uDE00\", \"\\ud83d\\udc88\", \"\\uD83D\", \"\\uDE00\\uD83D\"]");
    ASSERT_TRUE(v);
    EXPECT_TRUE(v->AsArray()->Get(0)->AsString()->Value == L"\xd83d\xde00");
    EXPECT_TRUE(v->AsArray()->Get(1)->AsString()->Value == L"\xd83d\xdc88");
    EXPECT_TRUE(v->AsArray()->Get(2)->AsString()->Value == L"\xd83d");
    EXPECT_TRUE(v->AsArray()->Get(3)->AsString()->Value == L"\xde00\xd83d");
    const std::unique_ptr<AnyType> wide(Parse(XStr(L"\"\\uD83D\\uDE00\"")));
    ASSERT_TRUE(wide);
    EXPECT_TRUE(wide->AsString()->Value == L"\xd83d\xde00");
    // Member names too.
    auto o = P8("{\"\\uD83D\\uDC88\":1}");
    ASSERT_TRUE(o);
    EXPECT_EQ(std::wstring(o->AsObject()->NameAt(0)), L"\xd83d\xdc88");
}

TEST(XJSONParse, ForgivingEdges)
{
    auto t = P(L"  TRUE rest");
    ASSERT_TRUE(t);
    ASSERT_EQ(t->TypeOf(), typeBoolean);
    EXPECT_TRUE(t->AsBoolean()->Value);
    EXPECT_FALSE(P(L""));
    EXPECT_FALSE(P(L"   \n\t"));
    auto minus = P(L"-x");
    ASSERT_TRUE(minus);
    EXPECT_EQ(minus->TypeOf(), typeNull);
    auto plus = P(L"+12.50");
    ASSERT_TRUE(plus);
    EXPECT_EQ(plus->AsNumber()->Value, 12.5);
    EXPECT_FALSE(P(L"[1, 2"));
    EXPECT_FALSE(P(L"{\"a\" 1}"));
    EXPECT_FALSE(P(L"{12: 1}"));
    EXPECT_FALSE(P(L"[1,]"));
    EXPECT_FALSE(P(L"{\"a\":1,}"));
    EXPECT_FALSE(P(L"\"open"));
    EXPECT_FALSE(P(L"\"open\\\""));
    EXPECT_FALSE(P(L"nul"));
    EXPECT_FALSE(P(L"@"));
    auto dot = P(L"[3.]");
    ASSERT_TRUE(dot);
    EXPECT_EQ(dot->AsArray()->Get(0)->AsNumber()->Value, 3);
    auto words = P(L"[False, NULL, tRuE]");
    ASSERT_TRUE(words);
    EXPECT_EQ(words->AsArray()->Get(1)->TypeOf(), typeNull);
    EXPECT_TRUE(words->AsArray()->Get(2)->AsBoolean()->Value);
}

TEST(XJSONParse, PositionAndDuplicates)
{
    const XStr text(L"  [1, 2] tail");
    int pos = 1;
    std::unique_ptr<AnyType> v(Parse(text, pos));
    ASSERT_TRUE(v);
    EXPECT_EQ(pos, 9); // just behind the closing bracket
    pos = 100;
    EXPECT_FALSE(Parse(text, pos));

    auto o = P(L"{\"k\":1, \"K\":2, \"k\":3}");
    ASSERT_TRUE(o);
    Object* obj = o->AsObject();
    EXPECT_EQ(obj->Count(), 3);
    EXPECT_EQ(obj->Get(L"k")->AsNumber()->Value, 1);
    EXPECT_EQ(obj->Get(L"K")->AsNumber()->Value, 2);
    EXPECT_EQ(obj->GetNoCase(L"K")->AsNumber()->Value, 1);
    EXPECT_EQ(std::wstring(obj->NameAt(2)), L"k");
    EXPECT_EQ(std::wstring(obj->NameAt(3)), L"");
    EXPECT_EQ(obj->ValueAt(-1), &NullValue);
}

TEST(XJSONParse, UTF8ParserAgreesWithWideParser)
{
    const std::string samples[] = {
        "{\"name\":\"D\xc3\xa9j\xc3\xa0 \\\"vu\\\" \\\\ tab\\tend\", \"n\":[1, -2.5, 0.125, true, null]}",
        "[\"bad \xff\xfe bytes\", \"\xe2\x82\xac\", \"\\u20AC\"]",
        "{\"\xc3\xa9\":{\"x\":\"\"}}",
        "[\"cut \xe2\x82\"]",
    };
    for (const std::string& s : samples) {
        auto a = P8(s);
        std::unique_ptr<AnyType> b(Parse(XStr::FromUTF8Bytes(s.data(), s.size())));
        ASSERT_TRUE(a) << s;
        ASSERT_TRUE(b) << s;
        EXPECT_EQ(Text8(*a), Text8(*b)) << s;
    }
}

TEST(XJSONParse, DeepNestingFailsCleanly)
{
    std::string deep(200000, '[');
    EXPECT_FALSE(P8(deep));
    deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_FALSE(P8(deep));
    std::string objects;
    for (int i = 0; i < 50000; i++)
        objects += "{\"a\":";
    EXPECT_FALSE(P8(objects));

    const std::string ok = std::string(MaxDepth, '[') + std::string(MaxDepth, ']');
    EXPECT_TRUE(P8(ok));
    const std::string tooDeep = std::string(MaxDepth + 1, '[') + std::string(MaxDepth + 1, ']');
    EXPECT_FALSE(P8(tooDeep));
}

TEST(XJSONNumbers, IntegersExactBothWays)
{
    const int64_t values[] = {0, -17, INT64_MAX, INT64_MIN, (int64_t{1} << 53) + 1, -((int64_t{1} << 62) + 7)};
    for (int64_t v : values) {
        Number n(v);
        const std::string text = Text8(n);
        EXPECT_EQ(text, std::to_string(v));
        auto back = P8(text);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->AsNumber()->ToInt64(), v);
        EXPECT_EQ(Text8(*back), text);
    }
    EXPECT_EQ(Text8(Number(uint64_t{18446744073709551615ULL})), "18446744073709551616");
    // Trailing zeros of a fraction keep an integer exact.
    EXPECT_EQ(P8("9007199254740993.000")->AsNumber()->ToInt64(), 9007199254740993LL);
}

TEST(XJSONNumbers, LargeAndSpecialValues)
{
    EXPECT_EQ(NumberText(1e20), "100000000000000000000");
    EXPECT_EQ(NumberText(std::ldexp(1.0, 70)), "1180591620717411303424");
    EXPECT_EQ(NumberText(-9223372036854775808.0), "-9223372036854775808");
    EXPECT_EQ(NumberText(9223372036854775808.0), "9223372036854775808");
    const std::string huge = NumberText(1.7976931348623157e308);
    EXPECT_EQ(huge.size(), 309u);
    EXPECT_EQ(P8(huge)->AsNumber()->Value, 1.7976931348623157e308);
    EXPECT_EQ(P8(NumberText(std::ldexp(1.0, 70)))->AsNumber()->Value, std::ldexp(1.0, 70));

    EXPECT_EQ(NumberText(std::nan("")), "null");
    EXPECT_EQ(NumberText(INFINITY), "null");
    EXPECT_EQ(NumberText(-INFINITY), "null");
    Array a;
    a.Add(new Number(std::nan("")));
    a.Add(new Number(1.5));
    auto back = P8(Text8(a));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->AsArray()->Get(0)->TypeOf(), typeNull);

    EXPECT_EQ(NumberText(-0.0), "0");
    EXPECT_EQ(NumberText(0.1), "0.1");
    EXPECT_EQ(NumberText(1e-9), "0");
    EXPECT_EQ(NumberText(2.5), "2.5");
    EXPECT_EQ(NumberText(-0.99999999), "-1");
    EXPECT_EQ(NumberText(123456.00000004), "123456");
}

TEST(XJSONNumbers, FractionsMatchTheLibraryRounding)
{
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> unit(-1, 1);
    for (int i = 0; i < 20000; i++) {
        const double scale = std::pow(10.0, static_cast<int>(rng() % 24) - 9);
        const double v = unit(rng) * scale;
        if (v == std::trunc(v))
            continue;
        EXPECT_EQ(NumberText(v), XStr::FromDouble(v, 7, false).ToUTF8String()) << v;
    }
    // Fractions read back correctly rounded.
    EXPECT_EQ(P8("0.1")->AsNumber()->Value, 0.1);
    EXPECT_EQ(P8("-1234.5678")->AsNumber()->Value, -1234.5678);
    EXPECT_EQ(P8("0.30000000000000004441")->AsNumber()->Value, 0.30000000000000004);
}

// Texts other JSON writers produce: exponents in every form. Each is read alone, in an array
// and as a member, by both parsers.
TEST(XJSONNumbers, ExponentsAreRead)
{
    const std::string zeros(400, '0');
    const struct {
        std::string text;
        double value;
    } cases[] = {
        {"1e3", 1000},
        {"1E3", 1000},
        {"1e+3", 1000},
        {"1E-0", 1},
        {"1.5E-7", 1.5e-7},
        {"2e+300", 2e300},
        {"-2.5e-3", -0.0025},
        {"+4e2", 400},
        {"0e0", 0},
        {"0.0e99999", 0},
        {"12.50e1", 125},
        {"1e-400", 0},
        {"-1e-400", -0.0},
        {"1e400", HUGE_VAL},
        {"-1e400", -HUGE_VAL},
        {"4.9e-324", 4.9e-324},
        {"1e99999999999999999999", HUGE_VAL},
        {"1e-99999999999999999999", 0},
        {"123456789012345678901234567890e-10", 12345678901234567890.123456789},
        {"0." + zeros + "1e400", 0.1},
        {"0." + zeros + "1e-10", 0},
        {"1" + zeros + "e-300", 1e100},
        {"1" + zeros + "e-800", 0},
        {"1" + zeros + "e-700", 1e-300},
    };
    for (const auto& c : cases) {
        for (const std::string& text : {c.text, "[" + c.text + "]", "{\"n\":" + c.text + "}"}) {
            auto v8 = P8(text);
            ASSERT_TRUE(v8) << text;
            const std::unique_ptr<AnyType> wide(Parse(XStr::FromUTF8(text)));
            ASSERT_TRUE(wide) << text;
            for (AnyType* v : {v8.get(), wide.get()}) {
                AnyType* n = v->TypeOf() == typeArray    ? v->AsArray()->Get(0)
                             : v->TypeOf() == typeObject ? v->AsObject()->Get(L"n")
                                                         : v;
                ASSERT_EQ(n->TypeOf(), typeNumber) << text;
                EXPECT_EQ(n->AsNumber()->Value, c.value) << text;
                EXPECT_EQ(std::signbit(n->AsNumber()->Value), std::signbit(c.value)) << text;
            }
        }
    }
    // An integral result is an exact integer, written back without an exponent.
    auto big = P8("9.007199254740993e15");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->AsNumber()->ToInt64(), 9007199254740992LL);
    EXPECT_EQ(Text8(*P8("[1e3, 2E+2, 1.5e1]")), "[1000, 200, 15]");
    EXPECT_EQ(P8(NumberText(2e300))->AsNumber()->Value, 2e300);

    // The same file a foreign writer made reads through the file helper.
    TestTempDir dir;
    const std::string path = dir.path() + "/foreign.json";
    WriteTestFile(path, "{\"duration\": 1.2345e2, \"size\": 5E6}");
    std::unique_ptr<AnyType> file(ReadFile(XStr::FromUTF8(path).p, 1000));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->AsObject()->Get(L"duration")->AsNumber()->Value, 123.45);
    EXPECT_EQ(file->AsObject()->Get(L"size")->AsNumber()->ToInt64(), 5000000);
}

// What JSON forbids stays refused: an exponent without digits, a number without an integer
// part, leading zeros. In an array nothing may be left over; alone, nothing is read.
TEST(XJSONNumbers, MalformedNumbersAreRefused)
{
    for (const char* bad : {"1e",  "1E",  "1e+",  "1e-",  "1E+", "-1e", "1e+-3", "1ee3",  "1e.5",  "01",   "00",
                            "-01", "007", "01.5", "01e3", ".5",  "-.5", "e3",    "1e3.5", "1e3e3", "0x10", "1_000"}) {
        const std::string inArray = std::string("[") + bad + "]";
        EXPECT_FALSE(P8(inArray)) << inArray;
        EXPECT_FALSE(Parse(XStr::FromUTF8(inArray))) << inArray;
        const std::string member = std::string("{\"n\":") + bad + "}";
        EXPECT_FALSE(P8(member)) << member;
    }
    for (const char* bad : {"1e", "1e+", "01", ".5", "-01", "1E-"}) {
        EXPECT_FALSE(P8(bad)) << bad;
        EXPECT_FALSE(Parse(XStr::FromUTF8(bad))) << bad;
    }
    // A zero alone, with a sign, a fraction or an exponent is a number.
    EXPECT_EQ(Text8(*P8("[0, -0, 0.5, 0e1, -0.0E-0]")), "[0, 0, 0.5, 0, 0]");
}

TEST(XJSONNumbers, ConversionsSaturate)
{
    EXPECT_EQ(SaturateToInt64(1e30), INT64_MAX);
    EXPECT_EQ(SaturateToInt64(-1e30), INT64_MIN);
    EXPECT_EQ(SaturateToInt64(std::nan("")), 0);
    EXPECT_EQ(SaturateToInt64(-2.9), -2);
    EXPECT_EQ(Number(1e300).ToInt64(), INT64_MAX);
    EXPECT_EQ(Number(-1e300).ToInt32(), INT32_MIN);
    EXPECT_EQ(Number(5e9).ToInt32(), INT32_MAX);
    EXPECT_EQ(Number(2.5).Round(), 3);
    EXPECT_EQ(Number(-2.5).Round(), -2);
    EXPECT_EQ(Number(INFINITY).Round(), INT64_MAX);
    EXPECT_EQ(Number(INT64_MAX).Round(), INT64_MAX);
    // A caller that assigns Value directly is never overruled by the old integer.
    Number n(int64_t{7});
    n.Value = 7.5;
    EXPECT_EQ(Text8(n), "7.5");
    n.Value = 8;
    EXPECT_EQ(Text8(n), "8");
}

TEST(XJSONValues, ViewsAndObjectEditing)
{
    auto v = P(L"{\"a\":{\"b\":\"text\"}, \"n\":4}");
    ASSERT_TRUE(v);
    Object* o = v->AsObject();
    EXPECT_EQ(o->Get(L"a")->AsObject()->Get(L"b")->AsString()->Value.ToXStr(), XStr(L"text"));
    EXPECT_EQ(o->Get(L"a")->AsObject()->Get(L"missing")->AsObject()->Get(L"x")->AsNumber()->Value, 0);
    EXPECT_EQ(o->Get(L"n")->AsString(), &EmptyString);
    EXPECT_EQ(o->Get(L"n")->AsArray()->Count(), 0);
    EXPECT_EQ(GetEmptyObject(), &EmptyObject);
    EXPECT_EQ(GetNullValue(), &NullValue);

    o->Set(L"x", new Number(1));
    o->Set(L"n", new String(L"four")); // replaced in place
    EXPECT_EQ(std::wstring(o->NameAt(1)), L"n");
    EXPECT_TRUE(o->Get(L"n")->AsString()->Value == L"four");
    o->SetNoCase(L"X", new Number(2));
    EXPECT_EQ(o->Count(), 3);
    EXPECT_EQ(o->Get(L"x")->AsNumber()->Value, 2);
    EXPECT_TRUE(o->HasNoCase(L"A"));
    o->AddObject(L"x");
    o->RemoveNoCase(L"X");
    EXPECT_EQ(o->Count(), 2);
    o->RemoveAt(5);
    o->SetAt(7, new Number(3)); // out of range: dropped, not leaked
    EXPECT_EQ(o->Count(), 2);

    std::unique_ptr<AnyType> copy(v->Clone());
    o->Remove(L"a");
    EXPECT_EQ(copy->AsObject()->Count(), 2);
    EXPECT_EQ(Text8(*copy), "{\n    \"a\":{\n        \"b\":\"text\"\n    },\n    \"n\":\"four\"\n}");

    Array a;
    a.Add(nullptr);
    EXPECT_EQ(a.Get(0)->TypeOf(), typeNull);
    EXPECT_EQ(a.Get(1), &NullValue);
    EXPECT_EQ(a.Get(-1), &NullValue);

    EXPECT_TRUE(IsInteger(XStr(L"-")));
    EXPECT_TRUE(IsInteger(XStr(L"-12")));
    EXPECT_FALSE(IsInteger(XStr(L"")));
    EXPECT_FALSE(IsInteger(XStr(L"1.5")));
    EXPECT_TRUE(NeedsEscape(L'\x1f'));
    EXPECT_FALSE(NeedsEscape(L'/'));
    EXPECT_TRUE(IsSpace(L' '));
    EXPECT_FALSE(IsSpace(0));
}

TEST(XJSONValues, TextSharesAndConverts)
{
    Text a(L"abc");
    Text b = a;
    EXPECT_EQ(a.c_str(), b.c_str());
    b = L"xyz";
    EXPECT_TRUE(a == L"abc");
    XStr s = b;
    EXPECT_TRUE(s == XStr(L"xyz"));
    const XStr withZero(std::wstring_view(L"a\0b", 3));
    Text z(withZero);
    EXPECT_EQ(z.Length(), 3);
    EXPECT_EQ(z.ToXStr().Length(), 3);
    EXPECT_TRUE(Text() == L"");
}

TEST(XJSONFiles, ReadWriteAndLimits)
{
    TestTempDir dir;
    const XStr path = XStr::FromUTF8(dir.path() + "/f.json");
    Object o;
    o.Set(L"k", new String(L"\u00e9t\u00e9"));
    ASSERT_TRUE(WriteFile(path.p, &o));
    std::unique_ptr<AnyType> back(ReadFile(path.p, 1000));
    ASSERT_TRUE(back);
    EXPECT_EQ(Text8(*back), Text8(o));
    const int64_t size = static_cast<int64_t>(Text8(o).size());
    EXPECT_TRUE(std::unique_ptr<AnyType>(ReadFile(path.p, static_cast<unsigned>(size))));
    EXPECT_FALSE(ReadFile(path.p, static_cast<unsigned>(size - 1)));
    EXPECT_FALSE(WriteFile(path.p, nullptr));
    EXPECT_FALSE(WriteFileAtomically(path.p, nullptr));
    EXPECT_FALSE(ReadFile(XStr::FromUTF8(dir.path() + "/missing.json").p, 1000));

    // The atomic write replaces the file whole and leaves no temporary behind.
    Array a;
    a.Add(new Number(1));
    ASSERT_TRUE(WriteFileAtomically(path.p, &a));
    back.reset(ReadFile(path.p, 1000));
    ASSERT_TRUE(back);
    EXPECT_EQ(Text8(*back), "[1]");
    EXPECT_EQ(RunProcess({"/bin/sh", "-c", "test $(ls \"$1\" | wc -l) = 1", "sh", dir.path()}).status, 0);

    // Writing at the current position of an open file.
    XFile f;
    ASSERT_TRUE(f.Open(path.p, XFILE_READWRITE, XFILE_CREATE_ALWAYS));
    ASSERT_TRUE(f.Write("xx", 2));
    ASSERT_TRUE(WriteFile(f, &a));
    f.Close();
    EXPECT_EQ(RunProcess({"/bin/sh", "-c", "test \"$(cat \"$1\")\" = 'xx[1]'", "sh", path.ToUTF8String()}).status, 0);

    // A file that cannot be created is a failure, not a crash.
    EXPECT_FALSE(WriteFile(XStr::FromUTF8(dir.path() + "/no/such/dir.json").p, &a));

    // A FIFO or a device in a file's place is read neither whole nor in part, and never waits.
    const std::string fifo = dir.path() + "/fifo.json";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(ReadFile(XStr::FromUTF8(fifo).p, 1000));
    const int writer = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    EXPECT_FALSE(ReadFile(XStr::FromUTF8(fifo).p, 1000));
    close(writer);
    EXPECT_FALSE(ReadFile(L"/dev/zero", 1000));
}
