#include "media/QKImageHelpers.h"

#include <QBuffer>
#include <QPainter>

namespace QKImage {

QImage newRepWithSize(const QSize& pixels)
{
    if (pixels.width() <= 0 || pixels.height() <= 0)
        return QImage();
    QImage image(pixels, QImage::Format_ARGB32);
    if (image.isNull())
        return QImage();
    image.fill(Qt::transparent);
    return image;
}

QImage imageWithSizeInPixels(const QSize& pixels)
{
    return newRepWithSize(pixels);
}

bool hasAlpha(const QImage& image)
{
    return !image.isNull() && image.hasAlphaChannel();
}

QSize sizeInPixels(const QImage& image)
{
    return image.isNull() ? QSize() : image.size();
}

QImage exportBitmapRep(const QImage& image, const QSize& pixels)
{
    if (image.isNull())
        return QImage();
    QImage target = newRepWithSize(pixels);
    if (target.isNull())
        return QImage();
    QPainter painter;
    if (!painter.begin(&target))
        return QImage();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(QPoint(0, 0), pixels), image);
    painter.end();
    return target;
}

QImage resizeImageTo(const QImage& image, const QSize& pixels)
{
    return exportBitmapRep(image, pixels);
}

QByteArray exportType(const QImage& image, const char* format, int quality)
{
    if (image.isNull())
        return QByteArray();
    QByteArray data;
    QBuffer buffer(&data);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, format, quality))
        return QByteArray();
    return data;
}

QByteArray exportBMP(const QImage& image)
{
    return exportType(image, "BMP");
}

QByteArray exportPNG(const QImage& image)
{
    return exportType(image, "PNG");
}

QByteArray exportJPEGWithQuality(const QImage& image, float quality)
{
    const float q = quality < 0 ? 0 : quality > 1 ? 1 : quality;
    return exportType(image, "JPEG", int(q * 100 + 0.5f));
}

QByteArray exportJPEG(const QImage& image)
{
    return exportJPEGWithQuality(image, 0.8f);
}

} // namespace QKImage
