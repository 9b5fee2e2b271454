// The user's exclusions of the batch converter, as a map from a key to a set of texts:
//   "File Types": extensions to leave out, upper case with their dot (".AVI"); a file without
//     extension is left out whenever the key exists;
//   "Date": one text whose leading integer is a number of days; files modified longer ago are
//     left out (0, and counts no file can be that old, set no limit);
//   any other key, a field of the files' information: values to leave out ("album artist"
//     falls back on "artist").
// An absent key restricts nothing; empty sets are not kept. A copy is a filter of its own.
#pragma once

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <memory>
#include <optional>

class QKMediaFileInfo;

class KRAFileFilter {
public:
    KRAFileFilter() = default;
    bool testJustURL(const QUrl& url) const;
    // lastModified: the file's modification time in file-time units, as the folder listing
    // read it; without it the date test takes the information's.
    bool testURL(const QUrl& url, const QKMediaFileInfo* info,
                 std::optional<uint64_t> lastModified = std::nullopt) const;
    // The same for a path as the folder listing decoded it (no URL made per file).
    bool testJustPath(const QString& path) const;
    bool testPath(const QString& path, const QKMediaFileInfo* info,
                  std::optional<uint64_t> lastModified = std::nullopt) const;
    void setFilterMeta(const QString& key, const QSet<QString>& entries);
    void setFilterMeta(const QString& key, const std::optional<QStringList>& entries);
    std::optional<QSet<QString>> filterForMeta(const QString& key) const;
    bool active() const;
    bool metaActive() const;
    // Whether testing needs the files' media information: a tag or information field is
    // filtered (the date test takes the listing's time).
    bool needsInfo() const;
    bool isEqualToFilter(const KRAFileFilter& other) const { return m_filters == other.m_filters; }

private:
    QMap<QString, QSet<QString>> m_filters;
};
