// The interface layer's object around one tag container: the file information holds two of
// them (the file's tags and its media properties); file lists, the folder caches and the
// naming engine read them. QKMutableTag adds the editing operations.
//
// Several values of one field are stored in one element value separated by "\r" and shown
// joined by "; ". Combining the tags of several files shows fields that differ as
// "<different>".
#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>

#include "media/NTag.h"

class QKTag;
class QKMutableTag;
using QKTagRef = std::shared_ptr<QKTag>;
using QKMutableTagRef = std::shared_ptr<QKMutableTag>;

class QKTag {
public:
    QKTag() = default;
    // A copy of the other's container; null gives an empty tag.
    explicit QKTag(const QKTag* other);
    // A copy of the container; the pointer is not kept. Null gives an empty tag.
    explicit QKTag(const NTag* tag);
    virtual ~QKTag() = default;

    static QKTagRef tagWithTag(const QKTag* other) { return std::make_shared<QKTag>(other); }
    static QKTagRef wrapNTag(const NTag* tag) { return std::make_shared<QKTag>(tag); }
    // A tag read from raw data (NTag::FromRawData); null when the data is damaged.
    static QKTagRef initWithRawData(const QByteArray& raw);
    static QKTagRef initWithRawData(const void* bytes, uint64_t size);

    // A new object of the same class holding a copy of the container.
    virtual QKTagRef copy() const;

    // The held container, valid while this object lives.
    NTag* tag() { return &mTag; }
    const NTag* tag() const { return &mTag; }

    // The value of the first element of that name (A-Z folded), or the default.
    QString getTagString(const QString& name, const QString& defaultValue) const;
    std::optional<QString> getTagString(const QString& name) const;
    // The value split at "\r"; none when there is no such element.
    std::optional<QStringList> getTagStrings(const QString& name) const;

    QByteArray toRawData() const;

    int64_t tagCount() const { return mTag.Count(); }
    // Element at an index below tagCount; an index out of range gives empty results.
    QString tagNameAt(int64_t index) const;
    QString tagValueAt(int64_t index) const;
    QByteArray tagDataAt(int64_t index) const;
    bool isTagBinary(int64_t index) const;
    // The lower-cased (A-Z) names of the elements.
    QSet<QString> elemNameSet() const;

    // A copy without any "_" element.
    QKTagRef subsetTextOnly() const;
    // A new tag with copies of the album-art elements only.
    QKTagRef subsetAlbumArtOnly() const;
    // A copy of this tag merged with the other (existing fields kept).
    QKTagRef tagCombinedWith(const QKTag* other) const;
    // NTag::Dump.
    QString debug() const;

    // NO for fields whose text may hold any character: names containing "lyrics" or
    // "comment", and "title" and "album" (A-Z folded).
    static bool isFieldMultiVal(const QString& name);
    // "\r\n", then "\r", then "\n" become "; ".
    static QString multiValToDisplay(const QString& text);
    // "; " becomes "\r", then every other ";" too.
    static QString multiValFromDisplay(const QString& text);
    static bool elemIsAlbumArt(const QString& name);
    // "unknown artist", "unknown title", "unknown album"; none for other names.
    static std::optional<QString> unknownValFor(const QString& name);
    static QString strDifferent() { return QStringLiteral("<different>"); }
    // No tags: null; one: that very object; more: a copy of the first in which every field
    // that differs between the tags, or is missing from one of them, holds `different`.
    static QKTagRef combineTags(const QList<QKTagRef>& tags);
    static QKTagRef combineTags(const QList<QKTagRef>& tags, const QString& different);

protected:
    NTag mTag;
};

class QKMutableTag : public QKTag {
public:
    using QKTag::QKTag;

    static QKMutableTagRef mutableTagWithTag(const QKTag* other) { return std::make_shared<QKMutableTag>(other); }
    QKTagRef copy() const override;

    void addTag(const QString& name, const QString& value);
    void addTag(const QString& name, const void* bytes, uint64_t size);
    void addTagData(const QString& name, const QByteArray& data);
    // NTag::SetValue(name, value).
    void setTagValue(const QString& value, const QString& name);
    // The element's data is emptied and its value set.
    void setTagValue(const QString& value, int64_t index);
    // The element's value is emptied and its data set to a copy of the bytes.
    void setTagData(const QByteArray& data, int64_t index);
    void setTagBytes(const void* bytes, uint64_t size, int64_t index);
    // Replaces the contents from raw data; false when it is damaged (the complete elements
    // before the damage are kept).
    bool fromRawData(const QByteArray& raw);
    bool fromRawData(const void* bytes, uint64_t size);
    void mergeFromTag(const QKTag* other);
    void overwriteFromTag(const QKTag* other);
    void removeAllTags() { mTag.Clear(); }
    void removeTagByName(const QString& name);
};
