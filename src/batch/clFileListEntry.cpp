#include "batch/clFileListEntry.h"

#include "batch/clFolderListEntry.h"
#include "kit/QKStringTools.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"

#include <QLocale>

#include <fcntl.h>
#include <sys/stat.h>

#include <array>

namespace {

QDateTime FromStatx(const statx_timestamp& time)
{
    return QDateTime::fromMSecsSinceEpoch(time.tv_sec * 1000LL + time.tv_nsec / 1000000, Qt::UTC);
}

} // namespace

QUrl clAsyncReadFile::url() const
{
    return XFileURL(XStrFromQString(path()));
}

clAsyncReadFileRef clAsyncReadFile::stat(const QString& path)
{
    auto record = std::make_shared<clAsyncReadFile>();
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    record->folder = path.left(slash + 1);
    record->name = path.mid(slash + 1);
    const std::string bytes = XStrFromQString(path).ToUTF8String();
    struct statx st {};
    if (bytes.empty() || statx(AT_FDCWD, bytes.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &st) != 0)
        return record;
    record->size = st.stx_size;
    record->lastModified = FromStatx(st.stx_mtime);
    record->accessed = FromStatx(st.stx_atime);
    if (st.stx_mask & STATX_BTIME)
        record->created = FromStatx(st.stx_btime);
    return record;
}

clFileListEntry::clFileListEntry(const QUrl& url, const QString& formatName,
                                 const std::shared_ptr<clFolderListEntry>& folder, const QKMediaFileInfoRef& info)
    : m_parent(folder)
{
    refreshWithURL(url, formatName, info);
}

clFileListEntry::clFileListEntry(const QUrl& url, const QString& formatName,
                                 const std::shared_ptr<clFolderListEntry>& folder, const QKMediaFileInfoRef& info,
                                 uint64_t size, const QDateTime& lastModified)
    : m_parent(folder)
{
    const QString path = XStrToQString(XPathFromFileURL(url));
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    auto record = std::make_shared<clAsyncReadFile>();
    record->folder = path.left(slash + 1);
    record->name = path.mid(slash + 1);
    record->info = info;
    record->size = size;
    record->lastModified = lastModified;
    store(record, formatName);
}

clFileListEntry::clFileListEntry(const clAsyncReadFileRef& record, const QString& formatName,
                                 const std::weak_ptr<clFolderListEntry>& folder)
    : m_columnsInfo(record->info ? std::make_shared<QKFileInfoColumns>(record->info.get()) : nullptr), m_record(record),
      m_parent(folder), m_formatName(formatName)
{
}

std::mutex& clFileListEntry::lock() const
{
    static std::array<std::mutex, 64> locks;
    return locks[(reinterpret_cast<uintptr_t>(this) >> 6) % locks.size()];
}

void clFileListEntry::store(const clAsyncReadFileRef& record, const QString& formatName)
{
    QKFileInfoColumnsRef columns = record->info ? std::make_shared<QKFileInfoColumns>(record->info.get()) : nullptr;
    clAsyncReadFileRef old;
    QKFileInfoColumnsRef oldColumns;
    std::lock_guard<std::mutex> guard(lock());
    // The old values are released after the lock: their destructors may be long.
    old = std::exchange(m_record, record);
    oldColumns = std::exchange(m_columnsInfo, std::move(columns));
    m_formatName = formatName;
}

void clFileListEntry::refreshWithURL(const QUrl& url, const QString& formatName, const QKMediaFileInfoRef& info)
{
    auto record = std::make_shared<clAsyncReadFile>(*clAsyncReadFile::stat(XStrToQString(XPathFromFileURL(url))));
    record->info = info;
    store(record, formatName);
}

void clFileListEntry::refresh(const clAsyncReadFileRef& record, const QString& formatName)
{
    {
        std::lock_guard<std::mutex> guard(lock());
        if (m_record == record && m_formatName == formatName)
            return; // an unchanged file of a new listing
    }
    store(record, formatName);
}

void clFileListEntry::refreshInfo(const QString& formatName, const QKMediaFileInfoRef& info)
{
    auto record = std::make_shared<clAsyncReadFile>(*this->record());
    record->info = info;
    store(record, formatName);
}

void clFileListEntry::setChecked(bool checked)
{
    if (m_checked.exchange(checked) == checked)
        return;
    if (const auto folder = parent())
        folder->onFileChecked(checked);
}

clAsyncReadFileRef clFileListEntry::record() const
{
    std::lock_guard<std::mutex> guard(lock());
    return m_record;
}

QUrl clFileListEntry::url() const
{
    return record()->url();
}

QString clFileListEntry::path() const
{
    return record()->path();
}

bool clFileListEntry::existsAsFile() const
{
    struct stat st {};
    return stat(XStrFromQString(path()).ToUTF8String().c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

QString clFileListEntry::name() const
{
    return record()->name;
}

QString clFileListEntry::formatName() const
{
    std::lock_guard<std::mutex> guard(lock());
    return m_formatName;
}

uint64_t clFileListEntry::size() const
{
    return record()->size;
}

QDateTime clFileListEntry::lastModified() const
{
    return record()->lastModified;
}

QKMediaFileInfoRef clFileListEntry::info() const
{
    return record()->info;
}

QDateTime clFileListEntry::dateModified() const
{
    return record()->lastModified;
}

QDateTime clFileListEntry::dateCreated() const
{
    return record()->created;
}

QDateTime clFileListEntry::dateAccessed() const
{
    return record()->accessed;
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
        const QString folder = record()->folder;
        return folder.size() <= 1 ? QStringLiteral("/") : folder.left(folder.size() - 1);
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
        std::lock_guard<std::mutex> guard(lock());
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
