// The media information of a list of files, read on a background thread in list order and
// handed to the main thread in batches (at most about once a second, plus a last one), for
// the file tables of the converter window and the list-and-rename panel. The first 500 files
// are read at once; later ones only while some window listens, so that a huge list nobody
// looks at does not keep ffprobe busy.
//
// With the column transform each result becomes a QKFileInfoColumns, which answers a column's
// display text and sort value.
#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "media/NTag.h"
#include "media/QKMediaFileInfo.h"

// The values of the file-table columns of one file.
class QKFileInfoColumns {
public:
    explicit QKFileInfoColumns(const QKMediaFileInfo* info);

    // The column's text ("" when there is none); with forSort the column's sort value where
    // it has one of its own (Length: milliseconds as a number).
    QVariant getValue(const QString& column, bool forSort = false) const;
    uint64_t lengthMS() const { return m_lengthMS; }

private:
    NTag m_tag;
    uint64_t m_lengthMS = 0;
};
using QKFileInfoColumnsRef = std::shared_ptr<QKFileInfoColumns>;

class QKFileInfoCache : public std::enable_shared_from_this<QKFileInfoCache> {
public:
    // One result: the information (always: an empty one for a file that cannot be read) and,
    // with the column transform, its columns.
    struct Result {
        QKMediaFileInfoRef info;
        QKFileInfoColumnsRef columns;
    };
    using Reader = std::function<QKMediaFileInfoRef(const QUrl& url)>;

    // Starts reading at once. columns: make QKFileInfoColumns of every result. reader: how a
    // file is read (default QKMediaFileInfo::infoForFile).
    static std::shared_ptr<QKFileInfoCache> create(const QList<QUrl>& urls, bool columns = false,
                                                   Reader reader = nullptr);
    ~QKFileInfoCache();

    int64_t count() const { return m_urls.size(); }
    int64_t countLoaded() const { return m_content.size(); }
    // Null while index >= countLoaded.
    const Result* infoForIndex(int64_t index) const;
    QUrl urlForIndex(int64_t index) const { return m_urls.value(index); }
    const QList<Result>& allInfosLoaded() const { return m_content; }

    // Told the number of results of each batch just appended. Main thread only.
    int addCallback(std::function<void(int64_t loaded)> callback);
    void removeCallback(int id);
    // No result is delivered after it; the worker ends at its next step.
    void shutdown();

    // Tests: how many files are read without a listener, and the longest gap between batches.
    static constexpr int64_t kReadWithoutListener = 500;

private:
    struct Shared;
    QKFileInfoCache() = default;
    void deliver(QList<Result> batch);

    QList<QUrl> m_urls;
    QList<Result> m_content;
    std::map<int, std::function<void(int64_t)>> m_callbacks;
    int m_nextId = 1;
    std::shared_ptr<Shared> m_shared;
};
using QKFileInfoCacheRef = std::shared_ptr<QKFileInfoCache>;
