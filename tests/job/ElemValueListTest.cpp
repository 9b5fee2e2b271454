#include <gtest/gtest.h>

#include "common/QtTestPrint.h"

#include "job/QKElemValueList.h"

namespace {

TEST(QKElemValueList, ParsesBothFormsAndFindsTheFirstPairIgnoringCase)
{
    const QKElemValueList list(QStringLiteral("-vcodec libx264 -crf=\"23\" -CRF=30 -an -b:v \"2 M\""));
    EXPECT_EQ(list.count(), 5);
    EXPECT_EQ(list.findValue(QStringLiteral("crf")), QStringLiteral("23"));
    EXPECT_EQ(list.findValue(QStringLiteral("AN")), QString());
    EXPECT_TRUE(list.findValue(QStringLiteral("an")).has_value());
    EXPECT_FALSE(list.findValue(QStringLiteral("missing")).has_value());
    EXPECT_EQ(list.findValue(QStringLiteral("missing"), QStringLiteral("d")), QStringLiteral("d"));
    EXPECT_EQ(list.findValue(QStringLiteral("b:v")), QStringLiteral("2 M"));
    EXPECT_TRUE(list.containsElem(QStringLiteral("VCODEC")));
    ASSERT_TRUE(list.valueAtIndex(1).has_value());
    EXPECT_EQ(list.valueAtIndex(1)->element, QStringLiteral("crf"));
    EXPECT_FALSE(list.valueAtIndex(5).has_value());
    EXPECT_FALSE(list.valueAtIndex(-1).has_value());

    QKElemValueList copy = list;
    copy.clearElem(QStringLiteral("crf"));
    EXPECT_EQ(copy.findValue(QStringLiteral("crf")), QStringLiteral("30"));
    EXPECT_EQ(list.findValue(QStringLiteral("crf")), QStringLiteral("23"));
}

TEST(QKElemValueList, TypedGetters)
{
    const QKElemValueList list(QStringLiteral("-n=12abc -letters=abc -neg=\" -7\" -d=2.50 -i=3 -f=3.0 -t=1.001"));
    EXPECT_EQ(list.findIntValue(QStringLiteral("n")), 12);
    EXPECT_EQ(list.findIntValue(QStringLiteral("letters"), 5), 0);
    EXPECT_EQ(list.findIntValue(QStringLiteral("absent"), 5), 5);
    EXPECT_EQ(list.findIntValue(QStringLiteral("neg")), -7);
    EXPECT_DOUBLE_EQ(list.findDoubleValue(QStringLiteral("d")), 2.5);
    EXPECT_DOUBLE_EQ(list.findDoubleValue(QStringLiteral("absent"), 1.25), 1.25);

    const QVariant integer = list.findNumber(QStringLiteral("i"));
    EXPECT_EQ(integer.typeId(), QMetaType::LongLong);
    EXPECT_EQ(integer.toLongLong(), 3);
    const QVariant real = list.findNumber(QStringLiteral("f"));
    EXPECT_EQ(real.typeId(), QMetaType::Double);
    EXPECT_DOUBLE_EQ(real.toDouble(), 3.0);
    EXPECT_FALSE(list.findNumber(QStringLiteral("absent")).isValid());

    // Rounded to the millisecond: 1.001 s is not 1000 ms.
    EXPECT_EQ(list.findMSValue(QStringLiteral("t")), 1001);
}

TEST(QKElemValueList, TypedSettersReadBack)
{
    QKElemValueList list;
    list.addElem(QStringLiteral("flag"));
    list.addElemInt(QStringLiteral("n"), -42);
    list.addElemDouble(QStringLiteral("d"), 2.0, 2);
    list.addElemDouble(QStringLiteral("e"), 1.256, 2);
    list.addElemMs(QStringLiteral("ms"), 1500);
    list.addElemMs(QStringLiteral("ms2"), 61001);
    const QByteArray bytes("\x00\xff\x10 binary", 10);
    list.addElemBin(QStringLiteral("bin"), bytes);
    EXPECT_EQ(list.findValue(QStringLiteral("n")), QStringLiteral("-42"));
    EXPECT_EQ(list.findValue(QStringLiteral("d")), QStringLiteral("2"));
    EXPECT_EQ(list.findValue(QStringLiteral("e")), QStringLiteral("1.26"));
    EXPECT_EQ(list.findValue(QStringLiteral("ms")), QStringLiteral("1.5"));
    EXPECT_EQ(list.findMSValue(QStringLiteral("ms")), 1500);
    EXPECT_EQ(list.findMSValue(QStringLiteral("ms2")), 61001);
    EXPECT_EQ(list.findValue(QStringLiteral("bin")), QString::fromLatin1(bytes.toBase64()));
    EXPECT_EQ(list.findBinValue(QStringLiteral("bin")), bytes);
    EXPECT_FALSE(list.findBinValue(QStringLiteral("absent")).has_value());

    const QKElemValueList back(list.mergeToString());
    EXPECT_EQ(back.mergeToString(), list.mergeToString());
    EXPECT_EQ(back.findBinValue(QStringLiteral("bin")), bytes);
}

TEST(QKElemValueList, CommandFragmentKeepsItsQuotes)
{
    const QString fragment = QStringLiteral("-vf \"scale=640:-2\" -metadata title=\"a b\"");
    const QKElemValueList list = QKElemValueList::withCLIVal(fragment);
    EXPECT_EQ(list.findValue(QStringLiteral("cli_cmd")),
              QStringLiteral("-vf {qt}scale=640:-2{qt} -metadata title={qt}a b{qt}"));
    EXPECT_EQ(list.getCLIVal(), fragment);
    const QKElemValueList back(list.mergeToString());
    EXPECT_EQ(back.getCLIVal(), fragment);
    EXPECT_EQ(QKElemValueList().getCLIVal(), QString());
}

TEST(QKElemValueList, SubsetCompareNamesFoldedAndValuesExactly)
{
    const QKElemValueList big(QStringLiteral("-a=1 -B=2 -c -a=9"));
    EXPECT_TRUE(QKElemValueList().isSubsetOf(&big));
    EXPECT_FALSE(QKElemValueList().isSubsetOf(nullptr));
    EXPECT_TRUE(QKElemValueList(QStringLiteral("-b=2 -A=1")).isSubsetOf(&big));
    EXPECT_TRUE(QKElemValueList(QStringLiteral("-c")).isSubsetOf(&big));
    EXPECT_FALSE(QKElemValueList(QStringLiteral("-a=9")).isSubsetOf(&big)); // first "a" is 1
    EXPECT_FALSE(QKElemValueList(QStringLiteral("-b=2 -d")).isSubsetOf(&big));
}

TEST(QKElemValueList, BothWritingFormsReadBackToTheSamePairs)
{
    QKElemValueList list;
    list.addElem(QStringLiteral("c:v"), QStringLiteral("libx264"));
    list.addElem(QStringLiteral("empty"));
    list.addElem(QStringLiteral("title"), QStringLiteral("two words, and a \"quote\" \\ too"));
    list.addElem(QStringLiteral("eq"), QStringLiteral("a=b,c"));
    EXPECT_EQ(list.mergeToString_alternate(),
              QStringLiteral("-c:v libx264 -empty  -title \"two words, and a \\\"quote\\\" \\\\ too\" -eq a=b,c"));
    for (const QString& text : {list.mergeToString(), list.mergeToString_alternate()}) {
        const QKElemValueList back(text);
        ASSERT_EQ(back.count(), list.count()) << text.toStdString();
        for (int64_t i = 0; i < list.count(); ++i) {
            EXPECT_EQ(back.valueAtIndex(i)->element, list.valueAtIndex(i)->element);
            EXPECT_EQ(back.valueAtIndex(i)->value, list.valueAtIndex(i)->value) << text.toStdString();
        }
    }

    QKElemValueList appended(QStringLiteral("-x=1"));
    appended.addElemsFromString(QStringLiteral("-y=2"));
    appended.addElems(appended);
    EXPECT_EQ(appended.mergeToString(), QStringLiteral("-x=\"1\" -y=\"2\" -x=\"1\" -y=\"2\""));
}

} // namespace
