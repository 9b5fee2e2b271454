#include "kit/QKNamedImages.h"

#include "platform/XStrQString.h"
#include "xclass/XEnvironment.h"

#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

namespace {

QMutex& Lock()
{
    static QMutex lock;
    return lock;
}

// Name to image; a null image records a name that was looked for and not found.
QHash<QString, QImage>& Cache()
{
    static QHash<QString, QImage> cache;
    return cache;
}

QImage Load(const QString& name)
{
    if (name.isEmpty() || name.split(QLatin1Char('/')).contains(QStringLiteral("..")))
        return {};
    const QString folder = XStrToQString(XGetResourcesFolder());
    for (const char* suffix : {"", ".png", ".jpg", ".svg"}) {
        const QString path = folder + name + QLatin1String(suffix);
        if (!QFileInfo(path).isFile())
            continue;
        QImageReader reader(path);
        const QImage image = reader.read();
        if (!image.isNull())
            return image;
    }
    return {};
}

} // namespace

QImage QKNamedImages::imageNamed(const QString& name)
{
    {
        QMutexLocker locker(&Lock());
        const auto it = Cache().constFind(name);
        if (it != Cache().constEnd())
            return it.value();
    }
    const QImage image = Load(name);
    QMutexLocker locker(&Lock());
    // Another thread may have registered or loaded it meanwhile: the first one stays.
    return Cache().insert(name, Cache().value(name, image)).value();
}

void QKNamedImages::registerImage(const QString& name, const QImage& image)
{
    QMutexLocker locker(&Lock());
    if (image.isNull())
        Cache().remove(name);
    else
        Cache().insert(name, image);
}
