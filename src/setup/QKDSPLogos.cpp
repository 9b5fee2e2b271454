#include "setup/QKDSPLogos.h"

#include <QHash>
#include <QMutex>
#include <QSet>

#include <optional>

#include "kit/QKNamedImages.h"

namespace {

struct LogoCache {
    QMutex mutex;
    QHash<QString, QImage> images;
    QSet<QString> missing;
};

LogoCache& Cache()
{
    static LogoCache cache;
    return cache;
}

// The logo of that name, looked up once; none when it has none.
std::optional<QImage> CachedLogo(const QString& name)
{
    LogoCache& cache = Cache();
    {
        QMutexLocker lock(&cache.mutex);
        if (cache.missing.contains(name))
            return std::nullopt;
        const auto it = cache.images.constFind(name);
        if (it != cache.images.constEnd())
            return *it;
    }
    const QImage image = QKDSPLogos::grab(name);
    QMutexLocker lock(&cache.mutex);
    if (image.isNull()) {
        cache.missing.insert(name);
        return std::nullopt;
    }
    cache.images.insert(name, image);
    return image;
}

} // namespace

QImage QKDSPLogos::grab(const QString& name)
{
    const QImage image = QKNamedImages::imageNamed(QStringLiteral("dsp-logo-") + name);
    if (image.isNull())
        return image;
    return image.scaled(16, 16, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QImage QKDSPLogos::get(const QString& name)
{
    if (const std::optional<QImage> logo = CachedLogo(name))
        return *logo;
    if (name == QLatin1String("Generic"))
        return QImage();
    return CachedLogo(QStringLiteral("Generic")).value_or(QImage());
}
