#include <gtest/gtest.h>

#include "common/QtTestPrint.h"

#include "job/KRECodecs.h"
#include "job/KREDSPs.h"
#include "job/QKCommonVideoEffects.h"
#include "job/QKDSPDesc.h"
#include "job/QKEncoderDesc.h"
#include "media/QKExternalFFmpeg.h"

namespace {

// Fixes whether an external ffmpeg is in use for one test.
class ExternalFFmpeg {
public:
    explicit ExternalFFmpeg(bool present)
    {
        QKExternalFFmpeg::setProbe([present] { return present; });
    }
    ~ExternalFFmpeg() { QKExternalFFmpeg::setProbe(nullptr); }
};

QStringList EncoderNames(const QList<QKEncoderDescRef>& list)
{
    QStringList names;
    for (const QKEncoderDescRef& desc : list)
        names.append(desc->name());
    return names;
}

// clang-format off
const QStringList kWithoutExternal = {
    "AVI", "Audio Extract (AAC)", "Audio Extract (MP3)", "Audio Extract (WAVE)", "Flash Video", "GIF Animation",
    "MP4 (Apple H264)", "MP4 (Apple H265)", "MP4 (copy, no encoding)", "Matroska (Apple H264)",
    "Matroska (Apple H265)", "Matroska (VP9)", "Matroska (copy, no encoding)", "WMV (Windows Media Video)",
    "WebM (VP8)", "WebM (VP9)", "[Contact Sheet]", "[Custom FFmpeg settings]", "[Multi Encoder]",
    "[Preview Generator]",
};
// clang-format on

// clang-format off
const QStringList kWithExternal = {
    "3GP", "AVI", "AVI (XviD/DivX)", "Audio Extract (AAC)", "Audio Extract (MP3)", "Audio Extract (WAVE)",
    "Flash Video", "GIF Animation", "MOV (Quicktime Movie)", "MP4 (Apple H264)", "MP4 (Apple H265)", "MP4 (H264)",
    "MP4 (H265)", "MP4 (copy, no encoding)", "Matroska (Apple H264)", "Matroska (Apple H265)", "Matroska (H264)",
    "Matroska (H265)", "Matroska (VP9)", "Matroska (copy, no encoding)", "VOB", "WMV (Windows Media Video)",
    "WebM (VP8)", "WebM (VP9)", "[Contact Sheet]", "[Custom FFmpeg settings]", "[Multi Encoder]",
    "[Preview Generator]",
};
// clang-format on

TEST(EncoderCatalogue, TwentyEncodersWithoutAnExternalFFmpeg)
{
    const ExternalFFmpeg none(false);
    EXPECT_EQ(KRECodecs::listEncodersLGPL().size(), 19);
    EXPECT_EQ(KRECodecs::listEncodersGPL().size(), 8);
    EXPECT_EQ(EncoderNames(QKEncoderDesc::listEncoders()), kWithoutExternal);
    EXPECT_EQ(QKEncoderDesc::findEncoder(QStringLiteral("MP4 (H264)")), nullptr);
}

TEST(EncoderCatalogue, TwentyEightEncodersWithOne)
{
    const ExternalFFmpeg present(true);
    EXPECT_EQ(EncoderNames(QKEncoderDesc::listEncoders()), kWithExternal);
    const QKEncoderDescRef vob = QKEncoderDesc::findEncoder(QStringLiteral("VOB"));
    ASSERT_NE(vob, nullptr);
    EXPECT_FALSE(vob->haveSettings);
    EXPECT_TRUE(vob->outputsFiles);
    EXPECT_EQ(vob->formatExtension(), QStringLiteral(".vob"));
}

TEST(EncoderCatalogue, DescriptionsAndLookups)
{
    const ExternalFFmpeg none(false);
    EXPECT_EQ(QKEncoderDesc::findEncoder(QStringLiteral("webm (vp9)")), nullptr);
    EXPECT_EQ(QKEncoderDesc::formatExtensionOf(QStringLiteral("WebM (VP9)")), QStringLiteral(".webm"));
    EXPECT_EQ(QKEncoderDesc::formatExtensionOf(QStringLiteral("[Contact Sheet]")), QString());
    EXPECT_FALSE(QKEncoderDesc::formatExtensionOf(QStringLiteral("nothing")).has_value());

    const QKEncoderDescRef gif = QKEncoderDesc::findEncoder(QStringLiteral("GIF Animation"));
    ASSERT_NE(gif, nullptr);
    EXPECT_FALSE(gif->haveSettings);
    EXPECT_TRUE(QKEncoderDesc::findEncoder(QStringLiteral("AVI"))->haveSettings);

    const QKEncoderDescRef multi = QKEncoderDesc::findEncoder(QStringLiteral("[Multi Encoder]"));
    ASSERT_NE(multi, nullptr);
    EXPECT_TRUE(multi->isMultiEncoder());
    EXPECT_TRUE(multi->isSpecialPurpose && multi->disableConvertToFolder && multi->disableSameFolder);
    EXPECT_FALSE(multi->outputsFiles || multi->haveSettings);
    QStringList dropped = EncoderNames(QKEncoderDesc::listEncoders_dropSpecial());
    QStringList expected = kWithoutExternal;
    expected.removeAll(QStringLiteral("[Multi Encoder]"));
    EXPECT_EQ(dropped, expected);

    const QKEncoderDesc fromPath(XStr(L"/some/where/[Preview Generator].enc"));
    EXPECT_EQ(fromPath.name(), QStringLiteral("[Preview Generator]"));
    EXPECT_EQ(fromPath.path(), QStringLiteral("/some/where/[Preview Generator].enc"));
    EXPECT_TRUE(fromPath.isSpecialPurpose && fromPath.haveSettings);
    EXPECT_FALSE(QKEncoderDesc(XStr(L"/x/MP4 [a].enc")).isSpecialPurpose);

    EXPECT_FALSE(fromPath.instantiate()->kBitrateForArgs(QStringLiteral("-b:v 1M")).isValid());
    EXPECT_EQ(fromPath.instantiate()->estimateOutputSizeFor(QStringLiteral("f"), QString()), 0u);
}

TEST(EncoderCatalogue, SortingNamesAndDescriptionsTogetherIgnoresCase)
{
    QVariantList items{
        QStringLiteral("beta"),
        QVariant::fromValue(QKEncoderDesc::makeVideoCodec(QStringLiteral("Alpha"), QStringLiteral(".a"))),
        QStringLiteral("ALPHA2"), QStringLiteral("Gamma")};
    QKEncoderDesc::sortEncoderNames(items);
    QStringList names;
    for (const QVariant& item : items)
        names.append(QKEncoderDesc::nameOfEnc(item));
    EXPECT_EQ(names, (QStringList{"Alpha", "ALPHA2", "beta", "Gamma"}));
}

TEST(EffectCatalogue, GPLEffectsAreHiddenWithoutAnExternalFFmpeg)
{
    for (const bool present : {false, true}) {
        const ExternalFFmpeg external(present);
        const QList<QKDSPDescRef> list = QKDSPDesc::listDSPs();
        ASSERT_EQ(list.size(), 35);
        int offered = 0;
        QStringList names;
        for (const QKDSPDescRef& desc : list) {
            names.append(desc->name);
            if (!desc->hidden)
                ++offered;
            EXPECT_EQ(desc->hidden, !present && QKCommonVideoEffects::isGPL(desc->name)) << desc->name.toStdString();
        }
        EXPECT_EQ(offered, present ? 35 : 32);
        QStringList sorted = names;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(names, sorted);
        EXPECT_EQ(names.first(), QStringLiteral("Aspect Ratio"));
        EXPECT_EQ(names[1], QStringLiteral("Audio Bitrate"));
        EXPECT_EQ(names.last(), QStringLiteral("[Custom]"));
    }
}

TEST(EffectCatalogue, DescriptionsFromPaths)
{
    const QKDSPDesc hidden(XStr(L"/fx/_Internal.dsp"));
    EXPECT_TRUE(hidden.hidden);
    EXPECT_EQ(hidden.name, QStringLiteral("_Internal"));
    EXPECT_TRUE(QKDSPDesc(XStr(L"/fx/Audio CD - Remove Gaps.dsp")).isAudioCD);
    EXPECT_FALSE(QKDSPDesc(XStr(L"/fx/Audio CD - Remove Gaps.dsp")).allowedOutsideTracklift());
    EXPECT_TRUE(QKDSPDesc(XStr(L"/fx/CD Text")).isAudioCD);
    EXPECT_FALSE(QKDSPDesc(XStr(L"/fx/Conditional Encoding")).allowedInTracklift());
    EXPECT_FALSE(QKDSPDesc(XStr(L"/fx/CDText")).isAudioCD);
    EXPECT_TRUE(QKDSPDesc::makeVideoDSP(QStringLiteral("Crop"), false)->hidden);
}

TEST(EffectChainRules, OnceOnlyAndExclusiveEffects)
{
    const auto can = [](const char* name, std::initializer_list<const char*> chainNames) {
        QKDSPChain chain;
        for (const char* n : chainNames)
            chain.append(QKDSPSpec(QString::fromUtf8(n), QString()));
        return QKDSPDesc::canAddDSP(*KREDSPs::makeVideoDSP(QString::fromUtf8(name)), chain);
    };
    EXPECT_TRUE(can("Trim", {}));
    EXPECT_FALSE(can("Trim", {"Cut"}));
    EXPECT_FALSE(can("Cut", {"Fade", "Trim"}));
    EXPECT_FALSE(can("Trim", {"Trim"}));
    EXPECT_TRUE(can("Fade", {"Fade", "Fade"}));
    for (const char* once : {"Loop", "Audio Mute", "Reverse", "Preserve Source Attributes", "Delete Source File",
                             "Multi-CPU Force", "Play Sound After Conversion"}) {
        EXPECT_TRUE(can(once, {"Crop"})) << once;
        EXPECT_FALSE(can(once, {"Crop", once})) << once;
    }
    EXPECT_TRUE(can("loop", {"Loop"})); // names are exact
    EXPECT_TRUE(KREDSPs::canAddDSP(QStringLiteral("Reverse"), QStringList{QStringLiteral("Loop")}));
}

} // namespace
