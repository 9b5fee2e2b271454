// One media file of a folder of the batch converter's tree: a row of the file table and an
// item for the file grabber. It carries the file's tick, the facts the columns show and the
// values they sort by.
//
// The tick is atomic: the main thread changes it while the grabber's worker reads it. The
// other facts are refreshed under the entry's lock, because the folder refreshes entries from
// its deliveries while the worker may read them.
#pragma once

#include "kit/KRAColumnsModel.h"
#include "media/QKFileInfoCache.h"
#include "media/QKMediaFileInfo.h"

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class clFolderListEntry;

class clFileListEntry : public KRAColumnsRow {
public:
    clFileListEntry(const QUrl& url, const QString& formatName, const std::shared_ptr<clFolderListEntry>& folder,
                    const QKMediaFileInfoRef& info);

    // With the size and modification date a listing has just read.
    clFileListEntry(const QUrl& url, const QString& formatName, const std::shared_ptr<clFolderListEntry>& folder,
                    const QKMediaFileInfoRef& info, uint64_t size, const QDateTime& lastModified);

    // Stores the URL, its size and modification date (read now), the format name and the
    // information; the tick is kept.
    void refreshWithURL(const QUrl& url, const QString& formatName, const QKMediaFileInfoRef& info);

    bool checked() const { return m_checked.load(); }
    // A changed tick is reported to the folder.
    void setChecked(bool checked);
    // Without telling anyone (the folder sets many at once).
    void setCheckedInner(bool checked) { m_checked.store(checked); }
    int checkState() const { return checked() ? 1 : 0; }
    void setCheckState(int state) { setChecked(state == 1); }

    QUrl url() const;
    QString path() const;
    // Whether the file is still on the disk as a file (a link to one counts).
    bool existsAsFile() const;
    QString name() const;
    QString formatName() const;
    uint64_t size() const;
    QDateTime lastModified() const;
    QKMediaFileInfoRef info() const;
    std::shared_ptr<clFolderListEntry> parent() const { return m_parent.lock(); }

    // Read from the file when asked; an invalid date when there is none (no birth time on
    // this file system, say).
    QDateTime dateModified() const;
    QDateTime dateCreated() const;
    QDateTime dateAccessed() const;
    // Empty for no date and for 1 January 1970 00:00:00 UTC; else short date and time of the
    // user's locale.
    static QString formatDate(const QDateTime& date);

    // A column's value: with forSort the raw value (sizes as numbers, dates as dates).
    QVariant attribByName(const QString& column, bool forSort) const;
    // Its display text.
    QString attribByName(const QString& column) const;

    // KRAColumnsRow
    QString displayValue(const QString& identifier) const override { return attribByName(identifier); }
    QVariant sortValue(const QString& identifier) const override { return attribByName(identifier, true); }

private:
    mutable std::mutex m_lock;
    std::atomic<bool> m_checked{false};
    QKFileInfoColumnsRef m_columnsInfo;
    QUrl m_url;
    std::weak_ptr<clFolderListEntry> m_parent;
    QString m_formatName;
    uint64_t m_size = 0;
    QDateTime m_lastModified;
    QKMediaFileInfoRef m_info;
};
using clFileListEntryRef = std::shared_ptr<clFileListEntry>;
