#include "engine/KRAProcess.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include "engine/QKDebugLog.h"
#include "engine/clFFMPEG.h"
#include "media/QKImageHelpers.h"
#include "xclass/XBuffer.h"
#include "xclass/XFile.h"

bool KRAProcess::convertWithArg(const KRAProcessArgRef& arg)
{
    clFFMPEG runner;
    openDebugLog(runner.DebugLog);
    const bool success = runner.run(arg);
    runner.DebugLog.Close();
    return success;
}

bool KRAProcess::convertImageToPNG(const XStr& imagePath, const XStr& pngPath)
{
    // The bytes are read here rather than by Qt, which could not open every name a file may
    // have (bytes that are not UTF-8).
    XBuffer bytes{};
    if (!XFileReadAll(imagePath, bytes))
        return false;
    QByteArray data(reinterpret_cast<const char*>(bytes.Data), static_cast<qsizetype>(bytes.Used));
    bytes.Free();
    QBuffer buffer(&data);
    if (!buffer.open(QIODevice::ReadOnly))
        return false;
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    const QByteArray png = QKImage::exportPNG(image);
    if (png.isEmpty())
        return false;
    return XFileWriteDirect(pngPath, png.constData(), static_cast<size_t>(png.size()));
}
