#include <gtest/gtest.h>

#include "common/QtTestPrint.h"

#include <random>

#include "common/ToolRun.h"
#include "job/QKConversionSpec.h"

inline void PrintTo(const QKDSPSpec& spec, std::ostream* os)
{
    *os << "[" << spec.name.toStdString() << " | " << spec.args.toStdString() << "]";
}

namespace {

QKDSPChain Chain(std::initializer_list<std::pair<const char*, const char*>> effects)
{
    QKDSPChain chain;
    for (const auto& [name, args] : effects)
        chain.append(QKDSPSpec(QString::fromUtf8(name), QString::fromUtf8(args)));
    return chain;
}

TEST(EffectChainString, WriterNumbersTheEffectsAndStoresQuotesAsMarks)
{
    EXPECT_EQ(QKConversionSpec::mergeDSPString({}), QString());
    const QKDSPChain chain = Chain({{"Crop", "-cropw=\"100\" -croph=\"50\""}, {"Reverse", ""}});
    EXPECT_EQ(QKConversionSpec::mergeDSPString(chain),
              QStringLiteral("-dspeffect1=\"Crop=-cropw={qt}100{qt} -croph={qt}50{qt}\" -dspeffect2=\"Reverse=\""));
    EXPECT_EQ(QKConversionSpec::splitDSPString(QKConversionSpec::mergeDSPString(chain)), chain);
}

TEST(EffectChainString, ReaderStopsAtTheFirstMissingNumber)
{
    const QKDSPChain chain =
        QKConversionSpec::splitDSPString(QStringLiteral("-dspeffect1=\"Flip=-h\" -dspeffect3=\"Rotate=-r=90\""));
    EXPECT_EQ(chain, Chain({{"Flip", "-h"}}));

    // A value without "=" is an effect without arguments; the order of the elements does not matter.
    EXPECT_EQ(QKConversionSpec::splitDSPString(QStringLiteral("-DSPEFFECT2=Loop -dspeffect1 \"Audio Mute\"")),
              Chain({{"Audio Mute", ""}, {"Loop", ""}}));
    EXPECT_TRUE(QKConversionSpec::splitDSPString(QStringLiteral("-dspeffect2=\"Loop=\"")).isEmpty());
    EXPECT_TRUE(QKConversionSpec::splitDSPString(QString()).isEmpty());

    QKDSPChain appended = Chain({{"Fade", "x"}});
    QKConversionSpec::splitDSPString(QStringLiteral("-dspeffect1=\"Trim=\""), appended);
    EXPECT_EQ(appended, Chain({{"Fade", "x"}, {"Trim", ""}}));
}

TEST(EffectChainString, OldStringsReadAsBefore)
{
    // Written before literal "{qt}" had its own escape: every "{qt}" is a double quote.
    EXPECT_EQ(
        QKConversionSpec::splitDSPString(QStringLiteral("-dspeffect1=\"[Custom]=-vf={qt}hflip{qt} -x={qt}{qt}\"")),
        Chain({{"[Custom]", "-vf=\"hflip\" -x=\"\""}}));
}

TEST(EffectChainString, HostileArgumentsRoundTrip)
{
    const QKDSPChain chain = Chain({
        {"[Custom]", "-vf=\"drawtext=text='a \\\"b\\\"'\" -title=\"x=y\""},
        {"Watermark", "-text=\"{qt}\" -raw={qt} -mixed=\"{\"qt}\" {{qt}}"},
        {"Fade", "  leading and trailing blanks  "},
        {"Trim", "a\\b\\\\c\\"},
        {"Speed Adjust", "==="},
        {"Canvas Size", "\"\""},
        {"Crop", ""},
    });
    const QString text = QKConversionSpec::mergeDSPString(chain);
    EXPECT_EQ(QKConversionSpec::splitDSPString(text), chain) << text.toStdString();
    EXPECT_EQ(QKConversionSpec::mergeDSPString(QKConversionSpec::splitDSPString(text)), text);
}

TEST(EffectChainString, RandomArgumentsRoundTrip)
{
    std::mt19937 random(77u);
    const QString alphabet = QStringLiteral("ab =\"\\{}qt-_,'\u00e9\U0001F600");
    for (int round = 0; round < 2000; ++round) {
        QKDSPChain chain;
        const int effects = 1 + static_cast<int>(random() % 3);
        for (int e = 0; e < effects; ++e) {
            QString args;
            const int length = static_cast<int>(random() % 24);
            for (int i = 0; i < length; ++i) {
                const int pick = static_cast<int>(random() % 16);
                args += pick == 15 ? QStringLiteral("{qt}") : QString(alphabet[pick]);
            }
            chain.append(QKDSPSpec(QStringLiteral("Effect %1").arg(e), args));
        }
        const QString text = QKConversionSpec::mergeDSPString(chain);
        ASSERT_EQ(QKConversionSpec::splitDSPString(text), chain) << text.toStdString();
    }
}

TEST(EffectChainString, CombiningRenumbersTheSecondChain)
{
    const QString a = QKConversionSpec::mergeDSPString(Chain({{"Flip", "-h"}}));
    const QString b = QKConversionSpec::mergeDSPString(Chain({{"Rotate", "-r=\"90\""}}));
    EXPECT_EQ(QKConversionSpec::combineDSPString(a, b),
              QStringLiteral("-dspeffect1=\"Flip=-h\" -dspeffect2=\"Rotate=-r={qt}90{qt}\""));
    EXPECT_EQ(QKConversionSpec::combineDSPString(QString(), b), b);
    EXPECT_EQ(QKConversionSpec::combineDSPString(a, QString()), a);
    EXPECT_EQ(QKDSPList::stringToDSPs(QKDSPList::dspsToString(Chain({{"Loop", "-n=2"}}))), Chain({{"Loop", "-n=2"}}));
}

TEST(ConversionSpec, CoreArgumentsJoinEncoderArgumentsAndChain)
{
    QKConversionSpec spec;
    spec.setDspString(QStringLiteral("-dspeffect1=\"Flip=\""));
    EXPECT_EQ(spec.coreConverterArgs(), QStringLiteral("-dspeffect1=\"Flip=\""));
    spec.EncoderArgsV2.strArgs = QStringLiteral("-c:v libx264");
    EXPECT_EQ(spec.coreConverterArgs(), QStringLiteral("-c:v libx264 -dspeffect1=\"Flip=\""));
    spec.dspEffects.clear();
    EXPECT_EQ(spec.coreConverterArgs(), QStringLiteral("-c:v libx264 "));

    QKEncoderArgs args;
    EXPECT_TRUE(args.strArgs.isEmpty());
    EXPECT_FALSE(args.customFormatExt.has_value());
    args.frontendData = QVariantMap{{QStringLiteral("k"), 1}};
    QKEncoderArgs copy;
    copy.copyFrom(args);
    args.frontendData->insert(QStringLiteral("k"), 2);
    EXPECT_EQ(copy.frontendData->value(QStringLiteral("k")).toInt(), 1);
}

TEST(ConversionSpec, EffectSpecSerialForm)
{
    const QKDSPSpec spec(QStringLiteral("Crop"), QStringLiteral("-x=1"));
    EXPECT_EQ(QKDSPSpec::initWithData(spec.data()), spec);
    EXPECT_FALSE(QKDSPSpec::initWithData(QVariantList{QStringLiteral("only")}).has_value());
    EXPECT_FALSE(QKDSPSpec::initWithData(QStringLiteral("text")).has_value());
    EXPECT_EQ(QKDSPSpec::initWithData(QStringList{QStringLiteral("a"), QStringLiteral("b")}),
              QKDSPSpec(QStringLiteral("a"), QStringLiteral("b")));
}

TEST(EngineTool, ChainRoundTripGivesBackHandWrittenChains)
{
    const std::vector<std::string> chains = {
        "",
        "-dspeffect1=\"Reverse=\"",
        "-dspeffect1=\"Crop=-cropw={qt}100{qt} -croph={qt}50{qt}\" -dspeffect2=\"Reverse=\"",
        "-dspeffect1=\"[Custom]=-vf={qt}drawtext=text='a b'{qt}\" -dspeffect2=\"Audio Mute=\" "
        "-dspeffect3=\"Fade=-fadein={qt}1.5{qt}\"",
        "-dspeffect1=\"Watermark=-text={\\\"qt} and {qt}\" -dspeffect2=\"Trim=a\\\\b\"",
        "-dspeffect1=\"Multi-CPU Force=-marvoni_thread_count={qt}4{qt}\"",
        "-dspeffect1=\"Speed Adjust=x=1 y = 2\"",
    };
    for (const std::string& chain : chains) {
        const ToolRunResult run = RunTestTool(TestToolPath("engine-tool"), {"chain-roundtrip"}, chain);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, chain);
    }
    EXPECT_NE(RunTestTool(TestToolPath("engine-tool"), {"chain-roundtrip", "extra"}).status, 0);
}

} // namespace
