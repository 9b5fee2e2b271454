#include "batch/KRAFileFilter.h"

#include "media/QKMediaFileInfo.h"
#include "media/QKTag.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"

#include <algorithm>

namespace {

// The leading integer of a text ("30 Days (1 month)" is 30): blanks, a sign, digits; 0 when
// there is none. Kept within 32 bits.
qint64 LeadingDays(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
        negative = text[i++] == QLatin1Char('-');
    qint64 value = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i)
        value = std::min<qint64>(value * 10 + (text[i].unicode() - '0'), 0x7FFFFFFF);
    return negative ? -value : value;
}

} // namespace

bool KRAFileFilter::testJustURL(const QUrl& url) const
{
    if (!m_filters.contains(QStringLiteral("File Types")))
        return true;
    return testJustPath(XStrToQString(XPathFromFileURL(url)));
}

bool KRAFileFilter::testJustPath(const QString& path) const
{
    const auto types = m_filters.find(QStringLiteral("File Types"));
    if (types == m_filters.end())
        return true;
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot + 1 >= name.size())
        return false;
    return !types->contains(name.mid(dot).toUpper());
}

bool KRAFileFilter::testURL(const QUrl& url, const QKMediaFileInfo* info, std::optional<uint64_t> lastModified) const
{
    if (m_filters.isEmpty())
        return true;
    return testPath(XStrToQString(XPathFromFileURL(url)), info, lastModified);
}

bool KRAFileFilter::testPath(const QString& path, const QKMediaFileInfo* info,
                             std::optional<uint64_t> lastModified) const
{
    if (!testJustPath(path))
        return false;
    for (auto it = m_filters.begin(); it != m_filters.end(); ++it) {
        if (it.key() == QLatin1String("File Types") || it->isEmpty())
            continue;
        if (it.key() == QLatin1String("Date")) {
            const qint64 days = LeadingDays(*it->begin());
            const uint64_t day = QKMediaFileInfo::fileTime1Second() * 86400ULL;
            const uint64_t now = QKMediaFileInfo::fileTimeNow();
            // No limit for 0, and none for counts whose period is not smaller than the time
            // since 1601 (negative ones, or about 155,000 days and more): the cut-off would
            // wrap round and leave out every file.
            if (days <= 0 || static_cast<uint64_t>(days) > now / day)
                continue;
            const uint64_t period = static_cast<uint64_t>(days) * day;
            const uint64_t modified = lastModified ? *lastModified : info ? info->lastModified() : 0;
            if (period < now && modified < now - period)
                return false;
            continue;
        }
        if (!info)
            continue;
        const QKTagRef tags = info->IDTags();
        std::optional<QStringList> values = tags ? tags->getTagStrings(it.key()) : std::nullopt;
        if (!values && tags && it.key().toLower() == QLatin1String("album artist"))
            values = tags->getTagStrings(QStringLiteral("artist"));
        // The information fields the filters dialog offers (resolution, frame rate, ...) are
        // media properties, not tags: their values are the ones the dialog listed.
        if (!values)
            if (const std::optional<QString> property = info->getAudioPropsValueOf(it.key()))
                values = property->split(QLatin1Char('\r'), Qt::SkipEmptyParts);
        if (values)
            for (const QString& value : *values)
                if (it->contains(value))
                    return false;
    }
    return true;
}

bool KRAFileFilter::needsInfo() const
{
    for (auto it = m_filters.begin(); it != m_filters.end(); ++it)
        if (it.key() != QLatin1String("File Types") && it.key() != QLatin1String("Date") && !it->isEmpty())
            return true;
    return false;
}

void KRAFileFilter::setFilterMeta(const QString& key, const QSet<QString>& entries)
{
    if (entries.isEmpty())
        m_filters.remove(key);
    else
        m_filters.insert(key, entries);
}

void KRAFileFilter::setFilterMeta(const QString& key, const std::optional<QStringList>& entries)
{
    if (!entries)
        m_filters.remove(key);
    else
        m_filters.insert(key, QSet<QString>(entries->begin(), entries->end()));
}

std::optional<QSet<QString>> KRAFileFilter::filterForMeta(const QString& key) const
{
    const auto it = m_filters.find(key);
    return it == m_filters.end() ? std::nullopt : std::optional<QSet<QString>>(*it);
}

bool KRAFileFilter::active() const
{
    for (const QSet<QString>& set : m_filters)
        if (!set.isEmpty())
            return true;
    return false;
}

bool KRAFileFilter::metaActive() const
{
    for (auto it = m_filters.begin(); it != m_filters.end(); ++it)
        if (it.key() != QLatin1String("File Types") && !it->isEmpty())
            return true;
    return false;
}
