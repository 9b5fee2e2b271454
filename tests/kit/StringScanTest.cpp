#include "kit/StringScan.h"
#include "kit/ListPattern.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QObject>
#include <QStringList>

#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

TEST(StringScanTest, IntegerAfterMarker)
{
    EXPECT_EQ(scanIntAfter(QStringLiteral("-ar 44100 -ac 2"), QStringLiteral("-ar ")), 44100);
    EXPECT_EQ(scanIntAfter(QStringLiteral("gain=-12:x"), QStringLiteral("gain=")), -12);
    EXPECT_EQ(scanIntAfter(QStringLiteral("v=12-3"), QStringLiteral("v=")), 12);
    EXPECT_EQ(scanIntAfter(QStringLiteral("v=7a"), QStringLiteral("v=")), 7);
    EXPECT_EQ(scanIntAfter(QStringLiteral("v= 7"), QStringLiteral("v=")), 0); // a blank stops the run
    EXPECT_EQ(scanIntAfter(QStringLiteral("v=x"), QStringLiteral("v=")), 0);
    EXPECT_EQ(scanIntAfter(QStringLiteral("v=--5"), QStringLiteral("v=")), 0);
    EXPECT_EQ(scanIntAfter(QStringLiteral("v=5"), QStringLiteral("w=")), 0);
    EXPECT_EQ(scanIntAfter(QStringLiteral("5"), QString()), 0);
    EXPECT_EQ(scanIntAfter(QStringLiteral("V=5 v=6"), QStringLiteral("v=")), 6); // case-sensitive
    EXPECT_EQ(scanIntAfter(QStringLiteral("a=1 a=2"), QStringLiteral("a=")), 1); // first occurrence
}

TEST(StringScanTest, IntegerBeyondTheRangeGivesTheNearestLimit)
{
    EXPECT_EQ(scanIntAfter(QStringLiteral("v=2147483647"), QStringLiteral("v=")), INT_MAX);
    EXPECT_EQ(scanIntAfter(QStringLiteral("v=2147483648"), QStringLiteral("v=")), INT_MAX);
    EXPECT_EQ(scanIntAfter(QStringLiteral("v=-2147483648"), QStringLiteral("v=")), INT_MIN);
    EXPECT_EQ(scanIntAfter(QStringLiteral("v=-99999999999999999999999999"), QStringLiteral("v=")), INT_MIN);
    EXPECT_EQ(scanIntAfter(QStringLiteral("v=99999999999999999999999999"), QStringLiteral("v=")), INT_MAX);
}

TEST(StringScanTest, RealAfterMarker)
{
    EXPECT_DOUBLE_EQ(scanFloatAfter(QStringLiteral("t=-1.5:"), QStringLiteral("t=")), -1.5);
    EXPECT_DOUBLE_EQ(scanFloatAfter(QStringLiteral("t=1.5.2"), QStringLiteral("t=")), 1.5);
    EXPECT_DOUBLE_EQ(scanFloatAfter(QStringLiteral("t=-"), QStringLiteral("t=")), 0.0);
    EXPECT_DOUBLE_EQ(scanFloatAfter(QStringLiteral("t=.25"), QStringLiteral("t=")), 0.25);
    EXPECT_DOUBLE_EQ(scanFloatAfter(QStringLiteral("t=3e5"), QStringLiteral("t=")), 3.0); // no exponent
    EXPECT_DOUBLE_EQ(scanFloatAfter(QStringLiteral("t=3"), QStringLiteral("x=")), 0.0);
    const QString huge = QStringLiteral("t=") + QString(400, QLatin1Char('9'));
    EXPECT_TRUE(std::isinf(scanFloatAfter(huge, QStringLiteral("t="))));
    const QString tiny = QStringLiteral("t=0.") + QString(400, QLatin1Char('0')) + QStringLiteral("1");
    EXPECT_EQ(scanFloatAfter(tiny, QStringLiteral("t=")), 0.0);
}

// The effect pages read their stored arguments whatever the user's locale: the decimal mark
// of argument text is always the full stop.
TEST(StringScanTest, RealsReadTheSameUnderACommaLocale)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        FAIL() << "the locale de_DE.UTF-8 is missing: scripts/setup.sh generates it";
    const QLocale savedQt;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5"); // the comma locale is really in force

    const double rate = scanFloatAfter(QStringLiteral("atempo=1.25,volume=2"), QStringLiteral("atempo="));
    const double comma = scanFloatAfter(QStringLiteral("x=1,5"), QStringLiteral("x="));
    const int whole = scanIntAfter(QStringLiteral("-b:v 2500k"), QStringLiteral("-b:v "));

    std::setlocale(LC_NUMERIC, saved.c_str());
    QLocale::setDefault(savedQt);
    EXPECT_DOUBLE_EQ(rate, 1.25);
    EXPECT_DOUBLE_EQ(comma, 1.0);
    EXPECT_EQ(whole, 2500);
}

TEST(StringScanTest, StringAfterMarker)
{
    EXPECT_EQ(scanStringAfter(QStringLiteral("a=b c"), QStringLiteral("a=")), QStringLiteral("b c"));
    EXPECT_FALSE(scanStringAfter(QStringLiteral("a=b"), QStringLiteral("x=")).has_value());
    EXPECT_FALSE(scanStringAfter(QStringLiteral("a=b"), QString()).has_value());
    EXPECT_EQ(scanStringAfter(QStringLiteral("a="), QStringLiteral("a=")), QString());

    EXPECT_EQ(scanStringAfter(QStringLiteral("x [a] y"), QStringLiteral("["), QStringLiteral("]")),
              QStringLiteral("a"));
    EXPECT_EQ(scanStringAfter(QStringLiteral("x [a y"), QStringLiteral("["), QStringLiteral("]")),
              QStringLiteral("a y"));
    EXPECT_EQ(scanStringAfter(QStringLiteral("x [a] y"), QStringLiteral("["), QString()), QStringLiteral("a] y"));
    // The end marker is looked for only after the first marker.
    EXPECT_EQ(scanStringAfter(QStringLiteral("] [a] y"), QStringLiteral("["), QStringLiteral("]")),
              QStringLiteral("a"));
    EXPECT_FALSE(scanStringAfter(QStringLiteral("x"), QStringLiteral("["), QStringLiteral("]")).has_value());
}

TEST(StringScanTest, SplitByLines)
{
    EXPECT_EQ(splitByLines(QStringLiteral("a\r\r\nb\n")), (QStringList{"a", "b", ""}));
    EXPECT_EQ(splitByLines(QString()), QStringList{QString()});
    EXPECT_EQ(splitByLines(QStringLiteral("\n\n")), (QStringList{"", "", ""}));
    EXPECT_EQ(splitByLines(QStringLiteral(" a \r x\r")), (QStringList{" a \r x"}));
}

TEST(ListPatternTest, MatchAndFind)
{
    const QStringList list{"-i", "in", "-c:v", "copy", "-y"};
    EXPECT_TRUE(matchPattern(list, QStringList{"-c:v", "copy"}, 2));
    EXPECT_FALSE(matchPattern(list, QStringList{"-c:v", "copy"}, 1));
    EXPECT_FALSE(matchPattern(list, QStringList{"-y", "x"}, 4)); // would run past the end
    EXPECT_TRUE(matchPattern(list, QStringList{}, 5));
    EXPECT_FALSE(matchPattern(list, QStringList{}, 6));
    EXPECT_FALSE(matchPattern(list, QStringList{}, -1));

    EXPECT_EQ(indexOfPattern(list, QStringList{"copy", "-y"}), 3); // at the very end
    EXPECT_EQ(indexOfPattern(list, list), 0);                      // the whole list
    EXPECT_EQ(indexOfPattern(list, QStringList{"copy", "-i"}), kKitNotFound);
    EXPECT_EQ(indexOfPattern(QStringList{"a"}, QStringList{"a", "b"}), kKitNotFound);

    const QString* next = itemFollowingPattern(list, QStringList{"-c:v"});
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(*next, QStringLiteral("copy"));
    EXPECT_EQ(itemFollowingPattern(list, QStringList{"-y"}), nullptr);

    EXPECT_TRUE(startsWithPattern(list, QStringList{"-i", "in"}));
    EXPECT_TRUE(endsWithPattern(list, QStringList{"copy", "-y"}));
    EXPECT_FALSE(endsWithPattern(QStringList{"a"}, QStringList{"z", "a"}));
}

TEST(ListPatternTest, PartialMatchCountsAgreeingItems)
{
    const QList<int> list{1, 2, 3, 4};
    EXPECT_EQ(partialMatch(list, QList<int>{1, 2, 9}), 2u);
    EXPECT_EQ(partialMatch(list, QList<int>{1, 2, 3, 4, 5, 6}), 4u); // at most the list's length
    EXPECT_EQ(partialMatch(list, QList<int>{3, 4, 5}, 2), 2u);
    EXPECT_EQ(partialMatch(list, QList<int>{1}, 4), 0u);
    EXPECT_EQ(partialMatch(list, QList<int>{1}, -3), 0u);
}

TEST(ListPatternTest, OddEvenAndFirstOfClass)
{
    const QList<int> list{0, 1, 2, 3, 4};
    EXPECT_EQ(evenItems(list), (QList<int>{0, 2, 4}));
    EXPECT_EQ(oddItems(list), (QList<int>{1, 3}));
    EXPECT_TRUE(oddItems(QList<int>{}).isEmpty());

    QObject plain;
    class Special : public QObject {};
    class MoreSpecial : public Special {};
    MoreSpecial derived;
    const QList<QObject*> objects{&plain, &derived};
    EXPECT_EQ(firstItemOfClass<Special>(objects), &derived);
    EXPECT_EQ(firstItemOfClass<QObject>(objects), &plain);
    EXPECT_EQ(firstItemOfClass<Special>(QList<QObject*>{&plain}), nullptr);
}

} // namespace
