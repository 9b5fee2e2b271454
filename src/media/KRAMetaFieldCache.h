// The values that a fixed list of tag and media-property fields take over every media file of
// a folder tree, so that the batch converter's filters can offer them. Collecting probes every
// file, so it runs on one worker thread per cache; each folder's result (its sub-folders'
// included) is kept for the life of the cache.
//
// Which files are media files and which fields are read belong to the batch converter: they
// are given to the cache when it is made.
//
// Callbacks run on the worker thread. A cache that goes away stops its worker at the next file
// and calls no one after that; callers that touch windows re-post to the main thread and
// hold their window weakly.
#pragma once

#include "media/QKMediaFileInfo.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

// Field name -> the distinct values found.
using KRAMetaFieldResults = QMap<QString, QSet<QString>>;

class KRAMetaFieldCacheCallback {
public:
    virtual ~KRAMetaFieldCacheCallback();
    virtual void deliverMetaFieldCacheResults(const KRAMetaFieldResults& results) = 0;
};
using KRAMetaFieldCacheCallbackRef = std::shared_ptr<KRAMetaFieldCacheCallback>;

// Unites b into a, key by key.
void KRAMetaFieldUnite(KRAMetaFieldResults& a, const KRAMetaFieldResults& b);

class KRAMetaFieldCache {
public:
    // Whether a path (text as XStrToQString gives it) names a media file.
    using MediaFileTest = std::function<bool(const QString& path)>;
    // Reads one file's information; null or empty when it cannot be read.
    using InfoReader = std::function<QKMediaFileInfoRef(const QString& path)>;

    KRAMetaFieldCache(MediaFileTest isMediaFile, const QStringList& metaFieldNames, const QStringList& infoFieldNames,
                      InfoReader reader = nullptr);
    ~KRAMetaFieldCache();
    KRAMetaFieldCache(const KRAMetaFieldCache&) = delete;
    KRAMetaFieldCache& operator=(const KRAMetaFieldCache&) = delete;

    // A cached folder's values at once (the callback is not called); else none, and the
    // callback gets them when the folder has been collected.
    std::optional<KRAMetaFieldResults> fieldsForFolder(const QUrl& folder,
                                                       const KRAMetaFieldCacheCallbackRef& callback);
    // The union over several folders: at once when every folder is cached by the time the call
    // returns (the worker may finish the missing ones while it runs), and the callback is not
    // called; else none, and the callback gets the union once, when the last folder arrives. No
    // folders: none, and no call.
    std::optional<KRAMetaFieldResults> fieldsForFolders(const QList<QUrl>& folders,
                                                        const KRAMetaFieldCacheCallbackRef& callback);

    // The fields of one file's information, as the cache unites them.
    static KRAMetaFieldResults fieldsOfInfo(const QKMediaFileInfo* info, const QStringList& metaFieldNames,
                                            const QStringList& infoFieldNames);

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
};
