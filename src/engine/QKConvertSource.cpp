#include "engine/QKConvertSource.h"

#include "media/QKMediaFileInfo.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XFileName.h"

namespace {

uint64_t ProbeLengthOf(const QUrl& url)
{
    const XStr path = XPathFromFileURL(url);
    if (path.IsEmpty())
        return 0;
    const QKMediaFileInfoRef info = QKMediaFileInfo::readFromFile(path);
    return info ? info->lengthMS() : 0;
}

} // namespace

QKConvertSourceRef QKConvertSource::withURL(const QUrl& url)
{
    auto source = std::make_shared<QKConvertSource>();
    source->m_urlPerceived = url;
    source->m_urlForConversion = url;
    return source;
}

QUrl QKConvertSource::grabURL(const QVariant& item)
{
    if (item.metaType() == QMetaType::fromType<QKConvertSourceRef>()) {
        const QKConvertSourceRef source = item.value<QKConvertSourceRef>();
        return source ? source->urlPerceived() : QUrl();
    }
    if (item.metaType() == QMetaType::fromType<QUrl>())
        return item.toUrl();
    if (item.metaType() == QMetaType::fromType<QString>()) {
        const QString text = item.toString();
        if (text.startsWith(QLatin1Char('/')))
            return XFileURL(XStrFromQString(text));
        const QUrl url(text, QUrl::StrictMode);
        if (url.isValid() && !url.isRelative())
            return url;
    }
    return QUrl();
}

QList<QUrl> QKConvertSource::grabURLs(const QVariantList& items)
{
    QList<QUrl> urls;
    for (const QVariant& item : items) {
        const QUrl url = grabURL(item);
        if (!url.isEmpty())
            urls.append(url);
    }
    return urls;
}

QList<QKConvertSourceRef> QKConvertSource::transformURLs(const QVariantList& items)
{
    QList<QKConvertSourceRef> sources;
    for (const QVariant& item : items) {
        if (item.metaType() == QMetaType::fromType<QKConvertSourceRef>()) {
            if (QKConvertSourceRef source = item.value<QKConvertSourceRef>())
                sources.append(source);
            continue;
        }
        const QUrl url = grabURL(item);
        if (!url.isEmpty())
            sources.append(withURL(url));
    }
    return sources;
}

QString QKConvertSource::strPerceivedFilename() const
{
    if (m_perceivedName)
        return *m_perceivedName;
    const XStr path = XPathFromFileURL(m_urlPerceived);
    if (!path.IsEmpty()) {
        XFileName name(path);
        name.RemoveTrailingSlash();
        return XStrToQString(name.GetFileName());
    }
    return m_urlPerceived.adjusted(QUrl::StripTrailingSlash).fileName();
}

XStr QKConvertSource::pathForConversion() const
{
    return XPathFromFileURL(m_urlForConversion);
}

uint64_t QKConvertSource::probeLength() const
{
    return ProbeLengthOf(m_urlForConversion);
}

std::shared_ptr<QKConvertSourceTemp> QKConvertSourceTemp::withURL(const QUrl& url, const QString& options)
{
    auto source = std::make_shared<QKConvertSourceTemp>();
    if (!source->m_temp.Create(nullptr, nullptr))
        return nullptr;
    source->m_urlPerceived = url;
    source->m_urlForConversion = XFileURL(source->m_temp);
    source->m_inputOptions = options;
    return source;
}

QKConvertSourceConcat::QKConvertSourceConcat()
{
    m_specialActionDesc = QStringLiteral("concatenating");
}

void QKConvertSourceConcat::setConcatURLs(const QList<QUrl>& urls)
{
    m_concatURLs = urls;
    const QUrl first = urls.isEmpty() ? QUrl() : urls.first();
    m_urlForConversion = first;
    m_urlPerceived = first;
}

uint64_t QKConvertSourceConcat::probeLength() const
{
    uint64_t total = 0;
    for (const QUrl& url : m_concatURLs)
        total += ProbeLengthOf(url);
    return total;
}
