// The information record of one media file that the rest of the program passes around: its
// path, its own tags, its media properties (display texts such as "Length", "Resolution",
// "Frame Rate"; names in FFprobeInfo.h), its length in milliseconds and its last-modified
// time. It is filled by one ffprobe query.
//
// The file is named by its path (the lossless XStr form: any byte but "/" and NUL survives);
// callers holding a QUrl convert at their side. A record is filled once and then only read,
// so it may be shared between threads; the getters are safe against a concurrent refresh.
#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "media/FFprobeInfo.h"
#include "media/QKTag.h"
#include "xclass/XStr.h"

class QKMediaFileInfo;
using QKMediaFileInfoRef = std::shared_ptr<QKMediaFileInfo>;

class QKMediaFileInfo {
public:
    // Two empty tag objects, no path, all numbers 0.
    QKMediaFileInfo();

    // A record read through ffprobe; null when reading fails (reason tells why).
    static QKMediaFileInfoRef readFromFile(const XStr& path, XStr* reason = nullptr);
    // The same, but an empty record (no path, length 0) instead of null; the reason is also
    // kept in the record (errorText).
    static QKMediaFileInfoRef infoForFile(const XStr& path, XStr* reason = nullptr);
    // infoForFile without the "_" elements and the elements carrying data (album art) among
    // the tags.
    static QKMediaFileInfoRef readLiteInfoFromFile(const XStr& path, XStr* reason = nullptr);
    static QKMediaFileInfoRef empty();
    // A record read through ffprobe now, whatever the store holds; json (when asked) gets
    // ffprobe's answer as it came. Null when reading fails.
    static QKMediaFileInfoRef probeFile(const XStr& path, XStr* reason = nullptr, const FFprobeStop& stop = {},
                                        std::string* json = nullptr);
    // An empty record holding that tag object (shared, not copied) and path.
    static QKMediaFileInfoRef infoWithIDTag(const QKTagRef& tag, const XStr& path);

    // File times: 100-ns units since 1601-01-01.
    static uint64_t fileTime1Second() { return 10000000ULL; }
    static uint64_t fileTimeNow();

    // Sets lastModified from the file (0 when it cannot be read), then readFFmpegInfo.
    bool readInfoInternal(XStr* reason = nullptr);
    // Replaces both tag objects by new empty ones, then reads them and the length.
    bool readFFmpegInfo(XStr* reason = nullptr, const FFprobeStop& stop = {}, std::string* json = nullptr);

    // A new record: same path and format name, copies of both tag objects, same numbers.
    QKMediaFileInfoRef copy() const;

    std::optional<QString> getIDTagValueOf(const QString& name) const;
    std::optional<QString> getAudioPropsValueOf(const QString& name) const;

    XStr path() const;
    QKTagRef IDTags() const;
    QKTagRef MediaProps() const;
    // Carried and copied; the readers here never fill it (empty).
    QString formatName() const;
    void setFormatName(const QString& name);
    uint64_t lengthMS() const;
    uint64_t lastModified() const;
    // Whether the file has a picture (cover art aside) and sound, and its frame rate, as the
    // last read found; neither for a record that was not read.
    FFprobeStreams streams() const;
    // Why the last read gave nothing; empty after a successful read.
    XStr errorText() const;

private:
    mutable std::mutex m_lock;
    QKTagRef mIDTags;
    QKTagRef mAudioProps;
    QString mFormatName;
    XStr mPath;
    uint64_t _lengthMS = 0;
    uint64_t _lastModified = 0;
    FFprobeStreams m_streams;
    XStr mError;
};
