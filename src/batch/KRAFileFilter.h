// The user's exclusions of the batch converter: file types, a maximum age, values of
// file-information fields.
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
