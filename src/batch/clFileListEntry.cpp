#include "batch/clFileListEntry.h"

#include "batch/clFolderListEntry.h"
#include "kit/QKStringTools.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"

#include <QLocale>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// The file's times from statx; an invalid date for a time the file system does not keep.
QDateTime FileTime(const QUrl& url, unsigned int which)
{
    const std::string path = XPathFromFileURL(url).ToUTF8String();
    struct statx st {};
    if (path.empty() || statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &st) != 0)
        return QDateTime();
    const statx_timestamp* time = nullptr;
    if (which == STATX_BTIME) {
        if (!(st.stx_mask & STATX_BTIME))
            return QDateTime();
        time = &st.stx_btime;
    } else {
        time = which == STATX_ATIME ? &st.stx_atime : &st.stx_mtime;
    }
    return QDateTime::fromMSecsSinceEpoch(time->tv_sec * 1000LL + time->tv_nsec / 1000000, Qt::UTC);
}

} // namespace

clFileListEntry::clFileListEntry(const QUrl& url, const QString& formatName,
                                 const std::shared_ptr<clFolderListEntry>& folder, const QKMediaFileInfoRef& info)
    : m_parent(folder)
{
    refreshWithURL(url, formatName, info);
}

clFileListEntry::clFileListEntry(const QUrl& url, const QString& formatName,
                                 const std::shared_ptr<clFolderListEntry>& folder, const QKMediaFileInfoRef& info,
                                 uint64_t size, const QDateTime& lastModified)
    : m_columnsInfo(info ? std::make_shared<QKFileInfoColumns>(info.get()) : nullptr), m_url(url), m_parent(folder),
      m_formatName(formatName), m_size(size), m_lastModified(lastModified), m_info(info)
{
}

void clFileListEntry::refreshWithURL(const QUrl& url, const QString& formatName, const QKMediaFileInfoRef& info)
{
    const std::string path = XPathFromFileURL(url).ToUTF8String();
    struct stat st {};
    const bool known = !path.empty() && stat(path.c_str(), &st) == 0;
    const QKFileInfoColumnsRef columns = info ? std::make_shared<QKFileInfoColumns>(info.get()) : nullptr;
    std::lock_guard<std::mutex> lock(m_lock);
    m_url = url;
    m_size = known ? static_cast<uint64_t>(st.st_size) : 0;
    m_lastModified =
        known ? QDateTime::fromMSecsSinceEpoch(st.st_mtim.tv_sec * 1000LL + st.st_mtim.tv_nsec / 1000000, Qt::UTC)
              : QDateTime();
    m_formatName = formatName;
    m_info = info;
    m_columnsInfo = columns;
}

void clFileListEntry::setChecked(bool checked)
{
    if (m_checked.exchange(checked) == checked)
        return;
    if (const auto folder = parent())
        folder->onFileChecked(checked);
}

QUrl clFileListEntry::url() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_url;
}

QString clFileListEntry::path() const
{
    return XStrToQString(XPathFromFileURL(url()));
}

bool clFileListEntry::existsAsFile() const
{
    struct stat st {};
    return stat(XPathFromFileURL(url()).ToUTF8String().c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

QString clFileListEntry::name() const
{
    const QString full = path();
    return full.mid(full.lastIndexOf(QLatin1Char('/')) + 1);
}

QString clFileListEntry::formatName() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_formatName;
}

uint64_t clFileListEntry::size() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_size;
}

QDateTime clFileListEntry::lastModified() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_lastModified;
}

QKMediaFileInfoRef clFileListEntry::info() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_info;
}

QDateTime clFileListEntry::dateModified() const
{
    return FileTime(url(), STATX_MTIME);
}

QDateTime clFileListEntry::dateCreated() const
{
    return FileTime(url(), STATX_BTIME);
}

QDateTime clFileListEntry::dateAccessed() const
{
    return FileTime(url(), STATX_ATIME);
}

QString clFileListEntry::formatDate(const QDateTime& date)
{
    if (!date.isValid() || date.toMSecsSinceEpoch() == 0)
        return QString();
    return QLocale().toString(date.toLocalTime(), QLocale::ShortFormat);
}

QVariant clFileListEntry::attribByName(const QString& column, bool forSort) const
{
    if (column == QLatin1String("Name"))
        return name();
    if (column == QLatin1String("Folder")) {
        const QString full = path();
        const qsizetype slash = full.lastIndexOf(QLatin1Char('/'));
        return slash <= 0 ? QStringLiteral("/") : full.left(slash);
    }
    if (column == QLatin1String("Size"))
        return forSort ? QVariant::fromValue<qulonglong>(size()) : QVariant(QKStringTools::formatFileSize(size()));
    if (column == QLatin1String("Type"))
        return formatName();
    if (column == QLatin1String("Date Modified"))
        return dateModified();
    if (column == QLatin1String("Date Created"))
        return dateCreated();
    if (column == QLatin1String("Date Accessed"))
        return dateAccessed();
    QKFileInfoColumnsRef columns;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        columns = m_columnsInfo;
    }
    return columns ? columns->getValue(column, forSort) : QVariant();
}

QString clFileListEntry::attribByName(const QString& column) const
{
    const QVariant value = attribByName(column, false);
    if (value.typeId() == QMetaType::QDateTime)
        return formatDate(value.toDateTime());
    return value.toString();
}
