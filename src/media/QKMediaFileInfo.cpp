#include "media/QKMediaFileInfo.h"

#include "media/FFprobeInfo.h"
#include "media/QKMediaInfoStore.h"
#include "xclass/XFileName.h"
#include "xclass/XTime.h"

QKMediaFileInfo::QKMediaFileInfo() : mIDTags(std::make_shared<QKTag>()), mAudioProps(std::make_shared<QKTag>()) {}

QKMediaFileInfoRef QKMediaFileInfo::empty()
{
    return std::make_shared<QKMediaFileInfo>();
}

QKMediaFileInfoRef QKMediaFileInfo::infoWithIDTag(const QKTagRef& tag, const XStr& path)
{
    QKMediaFileInfoRef info = empty();
    if (tag)
        info->mIDTags = tag;
    info->mPath = path;
    return info;
}

uint64_t QKMediaFileInfo::fileTimeNow()
{
    return XGetFileTimeNow();
}

QKMediaFileInfoRef QKMediaFileInfo::readFromFile(const XStr& path, XStr* reason)
{
    return QKMediaInfoStore::read(path, reason).info;
}

QKMediaFileInfoRef QKMediaFileInfo::probeFile(const XStr& path, XStr* reason, const FFprobeStop& stop,
                                              std::string* json)
{
    QKMediaFileInfoRef info = empty();
    info->mPath = path;
    {
        std::lock_guard<std::mutex> lock(info->m_lock);
        info->_lastModified = XGetFileWriteTime(path);
    }
    if (!info->readFFmpegInfo(reason, stop, json))
        return nullptr;
    return info;
}

QKMediaFileInfoRef QKMediaFileInfo::infoForFile(const XStr& path, XStr* reason)
{
    XStr why;
    QKMediaFileInfoRef info = readFromFile(path, &why);
    if (!info) {
        info = empty();
        info->mError = why;
    }
    if (reason)
        *reason = why;
    return info;
}

QKMediaFileInfoRef QKMediaFileInfo::readLiteInfoFromFile(const XStr& path, XStr* reason)
{
    QKMediaFileInfoRef info = infoForFile(path, reason);
    // The record may be shared through the store: it is trimmed in a copy, and only when
    // there is something to trim (most video files have no such tags).
    NTag trimmed(*info->IDTags()->tag());
    const int64_t before = trimmed.Count();
    trimmed.RemoveInternalTags(0);
    trimmed.RemoveDataTags();
    if (trimmed.Count() == before)
        return info;
    QKMediaFileInfoRef lite = info->copy();
    lite->mIDTags->tag()->Assign(trimmed);
    return lite;
}

bool QKMediaFileInfo::readInfoInternal(XStr* reason)
{
    const uint64_t modified = XGetFileWriteTime(path());
    {
        std::lock_guard<std::mutex> lock(m_lock);
        _lastModified = modified;
    }
    return readFFmpegInfo(reason);
}

bool QKMediaFileInfo::readFFmpegInfo(XStr* reason, const FFprobeStop& stop, std::string* json)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        mIDTags = std::make_shared<QKTag>();
        mAudioProps = std::make_shared<QKTag>();
    }
    QKTagRef tags = std::make_shared<QKTag>();
    QKTagRef props = std::make_shared<QKTag>();
    uint64_t length = 0;
    XStr why;
    std::string out = runFFprobeBytes(path(), &why, stop);
    const bool ok = !out.empty() && parseFFprobeJSONBytes(out, *tags->tag(), *props->tag(), length);
    if (!ok && why.IsEmpty())
        why = L"ffprobe gave no information about the file.";
    const FFprobeStreams streams = ok ? parseStreamsBytes(out) : FFprobeStreams();
    if (json)
        *json = ok ? std::move(out) : std::string();
    std::lock_guard<std::mutex> lock(m_lock);
    m_streams = streams;
    if (ok) {
        // Filled privately and published complete: a reader on another thread sees the
        // empty objects or the filled ones, never a half-filled one.
        mIDTags = tags;
        mAudioProps = props;
        _lengthMS = length;
        mError = XStr();
        why = XStr();
    } else {
        mIDTags = std::make_shared<QKTag>();
        mAudioProps = std::make_shared<QKTag>();
        _lengthMS = 0;
        mError = why;
    }
    if (reason)
        *reason = why;
    return ok;
}

QKMediaFileInfoRef QKMediaFileInfo::copy() const
{
    QKMediaFileInfoRef other = empty();
    std::lock_guard<std::mutex> lock(m_lock);
    other->mPath = mPath;
    other->mFormatName = mFormatName;
    other->mIDTags = mIDTags->copy();
    other->mAudioProps = mAudioProps->copy();
    other->_lengthMS = _lengthMS;
    other->_lastModified = _lastModified;
    other->m_streams = m_streams;
    other->mError = mError;
    return other;
}

std::optional<QString> QKMediaFileInfo::getIDTagValueOf(const QString& name) const
{
    return IDTags()->getTagString(name);
}

std::optional<QString> QKMediaFileInfo::getAudioPropsValueOf(const QString& name) const
{
    return MediaProps()->getTagString(name);
}

XStr QKMediaFileInfo::path() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return mPath;
}

QKTagRef QKMediaFileInfo::IDTags() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return mIDTags;
}

QKTagRef QKMediaFileInfo::MediaProps() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return mAudioProps;
}

QString QKMediaFileInfo::formatName() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return mFormatName;
}

void QKMediaFileInfo::setFormatName(const QString& name)
{
    std::lock_guard<std::mutex> lock(m_lock);
    mFormatName = name;
}

uint64_t QKMediaFileInfo::lengthMS() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return _lengthMS;
}

uint64_t QKMediaFileInfo::lastModified() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return _lastModified;
}

XStr QKMediaFileInfo::errorText() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return mError;
}

FFprobeStreams QKMediaFileInfo::streams() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_streams;
}
