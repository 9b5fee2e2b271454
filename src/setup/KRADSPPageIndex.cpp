#include "setup/KRADSPPageIndex.h"

#include <functional>
#include <map>

#include "setup/KRADSPPage.h"
#include "setup/KREDSPPagesAction.h"
#include "setup/KREDSPPagesPicture.h"
#include "setup/KREDSPPagesTime.h"

namespace {

using Factory = std::function<std::unique_ptr<KRADSPPage>()>;

template <class Page>
Factory Make()
{
    return [] { return std::make_unique<Page>(); };
}

std::unique_ptr<KRADSPPage> CreateFrom(const std::map<QString, Factory>& table, const QString& name)
{
    const auto it = table.find(name);
    return it == table.end() ? nullptr : it->second();
}

} // namespace

std::unique_ptr<KRADSPPage> KRADSPPageIndex::createCommonPageFor(const QString& name)
{
    static const std::map<QString, Factory> common = {
        {QStringLiteral("Delete Source File"), Make<KREDSPPageDeleteSourceFile>()},
        {QStringLiteral("Flip"), Make<KREDSPPageFlip>()},
        {QStringLiteral("Hue & Saturation"), Make<KREDSPPageHSB>()},
        {QStringLiteral("Multi-CPU Force"), Make<KREDSPPageMultiCPUForce>()},
        {QStringLiteral("Preserve Source Attributes"), Make<KREDSPPagePreserveAttribs>()},
        {QStringLiteral("Rotate"), Make<KREDSPPageRotate>()},
        {QStringLiteral("[Custom]"), Make<KREDSPPageCustom>()},
        {QStringLiteral("Brightness & Contrast"), Make<KREDSPPageBrightnessContrast>()},
        {QStringLiteral("Sharpen & Blur"), Make<KREDSPPageSharpenBlur>()},
        {QStringLiteral("Watermark"), Make<KREDSPPageWatermark>()},
        {QStringLiteral("Denoiser (High Precision 3D)"), Make<KREDSPPageHQDN3D>()},
        {QStringLiteral("Denoiser (Spatial Denoiser)"), Make<KREDSPPageDenoiserSpatial>()},
        {QStringLiteral("Denoiser (Wavelet)"), Make<KREDSPPageDenoiserWavelet>()},
        {QStringLiteral("Canvas Size"), Make<KREDSPPageCanvasSize>()},
        {QStringLiteral("Scale Percentage"), Make<KREDSPPageScalePercentage>()},
        {QStringLiteral("Pixel Format"), Make<KREDSPPagePixelFormat>()},
        {QStringLiteral("Crop"), Make<KREDSPPageCrop>()},
        {QStringLiteral("Play Sound After Conversion"), Make<KREDSPPagePlaySound>()},
    };
    return CreateFrom(common, name);
}

std::unique_ptr<KRADSPPage> KRADSPPageIndex::createFor(const QString& name)
{
    static const std::map<QString, Factory> named = {
        {QStringLiteral("Aspect Ratio"), Make<KREDSPPageAR>()},
        {QStringLiteral("Audio Channel Count"), Make<KREDSPPageACC>()},
        {QStringLiteral("Audio Mute"), Make<KREDSPPageMute>()},
        {QStringLiteral("Audio Normalize"), Make<KREDSPPageNormalize>()},
        {QStringLiteral("Audio Resample"), Make<KREDSPPageResample>()},
        {QStringLiteral("Deinterlace (yadif)"), Make<KREDSPPageDeinterlace>()},
        {QStringLiteral("Frame Rate"), Make<KREDSPPageFrameRate>()},
        {QStringLiteral("Speed Adjust"), Make<KREDSPPageSpeedAdjust>()},
        {QStringLiteral("Trim"), Make<KREDSPPageTrim>()},
        {QStringLiteral("Scale Absolute"), Make<KREDSPPageScale>()},
        {QStringLiteral("Scale Maximum"), Make<KREDSPPageScaleMax>()},
        {QStringLiteral("Audio Bitrate"), Make<KREDSPPageAudioBitrate>()},
        {QStringLiteral("Reverse"), Make<KREDSPPageReverse>()},
        {QStringLiteral("Loop"), Make<KREDSPPageLoopVideo>()},
        {QStringLiteral("Fade"), Make<KREDSPPageFade>()},
        {QStringLiteral("Stream Selection"), Make<KREDSPPageStreamSelection>()},
        {QStringLiteral("Cut"), Make<KREDSPPageCut>()},
    };
    if (std::unique_ptr<KRADSPPage> page = CreateFrom(named, name))
        return page;
    return createCommonPageFor(name);
}
