// Images of an exact pixel size, resized and exported as BMP, PNG or JPEG data. Every routine
// reports a failure by a null image or empty data; none stops the program.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

namespace QKImage {

// A new 32-bit image with alpha of that many pixels; null when it cannot be made.
QImage newRepWithSize(const QSize& pixels);
QImage imageWithSizeInPixels(const QSize& pixels);
bool hasAlpha(const QImage& image);
QSize sizeInPixels(const QImage& image);
// A new image of that size with the whole image drawn into it; null when it cannot be made.
QImage exportBitmapRep(const QImage& image, const QSize& pixels);
QImage resizeImageTo(const QImage& image, const QSize& pixels);
// format: "BMP", "PNG", "JPEG"; quality -1 for the format's default. Empty on failure.
QByteArray exportType(const QImage& image, const char* format, int quality = -1);
QByteArray exportBMP(const QImage& image);
QByteArray exportPNG(const QImage& image);
// quality from 0.0 to 1.0
QByteArray exportJPEGWithQuality(const QImage& image, float quality);
QByteArray exportJPEG(const QImage& image);

} // namespace QKImage
