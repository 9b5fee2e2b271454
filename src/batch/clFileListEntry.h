// One media file of a folder of the batch converter's tree: a row of the file table and an
// item for the file grabber. It carries the file's tick, the facts the columns show and the
// values they sort by.
//
// The facts are the ones the folder's listing read (size and dates come from its one stat of
// the file): a row shows them until the folder is listed again, and painting or sorting the
// table never goes to the disk. The row keeps the path as the listing decoded it; its URL is
// made only when someone asks for it.
//
// The tick is atomic: the main thread changes it while the grabber's worker reads it. The
// other facts are swapped under a lock, because the folder refreshes entries from its
// deliveries while the worker may read them.
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

// What one stat of a file said, with the file's lite information when it was read. Never
// changed once made: a record that gains its information is replaced, so workers may hold
// records while the main thread moves on.
struct clAsyncReadFile {
    // The folder's path with its final "/" is one text shared by every file of the listing;
    // each file keeps only its name.
    QString folder;
    QString name;
    QKMediaFileInfoRef info;
    uint64_t size = 0;
    QDateTime lastModified; // invalid: the file is skipped by the scan
    QDateTime created;      // invalid where the file system keeps no birth time
    QDateTime accessed;

    QString path() const { return folder + name; }
    QUrl url() const;
    // A stat of the path now (a link counts as what it points to); size 0 and no dates when
    // it cannot be read.
    static std::shared_ptr<const clAsyncReadFile> stat(const QString& path);
};
using clAsyncReadFileRef = std::shared_ptr<const clAsyncReadFile>;

class clFileListEntry : public KRAColumnsRow {
public:
    // Reads the file's size and dates now.
    clFileListEntry(const QUrl& url, const QString& formatName, const std::shared_ptr<clFolderListEntry>& folder,
                    const QKMediaFileInfoRef& info);

    // With the size and modification date a listing has just read.
    clFileListEntry(const QUrl& url, const QString& formatName, const std::shared_ptr<clFolderListEntry>& folder,
                    const QKMediaFileInfoRef& info, uint64_t size, const QDateTime& lastModified);

    // A row of a listing: the record's facts and information as they are.
    clFileListEntry(const clAsyncReadFileRef& record, const QString& formatName,
                    const std::weak_ptr<clFolderListEntry>& folder);

    // Stores the URL, its size and modification date (read now), the format name and the
    // information; the tick is kept.
    void refreshWithURL(const QUrl& url, const QString& formatName, const QKMediaFileInfoRef& info);
    // The facts of a newer listing; the tick is kept.
    void refresh(const clAsyncReadFileRef& record, const QString& formatName);
    // New information for the facts the row has; the tick is kept.
    void refreshInfo(const QString& formatName, const QKMediaFileInfoRef& info);

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
    clAsyncReadFileRef record() const;
    std::shared_ptr<clFolderListEntry> parent() const { return m_parent.lock(); }

    // As the listing read them; an invalid date when there is none (no birth time on this
    // file system, say).
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
    void store(const clAsyncReadFileRef& record, const QString& formatName);

    // A hundred thousand rows share a few locks rather than carry one each: the critical
    // sections are a few pointer copies.
    std::mutex& lock() const;

    std::atomic<bool> m_checked{false};
    QKFileInfoColumnsRef m_columnsInfo;
    clAsyncReadFileRef m_record;
    std::weak_ptr<clFolderListEntry> m_parent;
    QString m_formatName;
};
using clFileListEntryRef = std::shared_ptr<clFileListEntry>;
