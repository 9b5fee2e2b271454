#include "job/QKCommonVideoEffects.h"

#include "media/QKExternalFFmpeg.h"

QStringList QKCommonVideoEffects::listNames()
{
    return {
        QStringLiteral("Delete Source File"),
        QStringLiteral("Flip"),
        QStringLiteral("Hue & Saturation"),
        QStringLiteral("Multi-CPU Force"),
        QStringLiteral("Preserve Source Attributes"),
        QStringLiteral("Rotate"),
        QStringLiteral("[Custom]"),
        QStringLiteral("Brightness & Contrast"),
        QStringLiteral("Sharpen & Blur"),
        QStringLiteral("Watermark"),
        QStringLiteral("Denoiser (High Precision 3D)"),
        QStringLiteral("Denoiser (Spatial Denoiser)"),
        QStringLiteral("Denoiser (Wavelet)"),
        QStringLiteral("Canvas Size"),
        QStringLiteral("Scale Percentage"),
        QStringLiteral("Pixel Format"),
        QStringLiteral("Crop"),
        QStringLiteral("Play Sound After Conversion"),
    };
}

QStringList QKCommonVideoEffects::listNamesGPL()
{
    return {
        QStringLiteral("Denoiser (Wavelet)"),
        QStringLiteral("Denoiser (High Precision 3D)"),
        QStringLiteral("Brightness & Contrast"),
    };
}

bool QKCommonVideoEffects::isGPL(const QString& name)
{
    return listNamesGPL().contains(name);
}

QList<QKDSPDescRef> QKCommonVideoEffects::listHaveGPL(bool haveGPL)
{
    QList<QKDSPDescRef> list;
    for (const QString& name : listNames())
        list.append(QKDSPDesc::makeVideoDSP(name, haveGPL || !isGPL(name)));
    return list;
}

QList<QKDSPDescRef> QKCommonVideoEffects::list()
{
    return listHaveGPL(QKExternalFFmpeg::haveExternalFFmpeg());
}
