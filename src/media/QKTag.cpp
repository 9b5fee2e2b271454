#include "media/QKTag.h"

#include <QHash>

#include <vector>

#include "platform/XStrQString.h"

namespace {

QString LowerAZ(const XStr& name)
{
    return XStrToQString(name.ToLower());
}

} // namespace

QKTag::QKTag(const QKTag* other)
{
    if (other)
        mTag.Assign(other->mTag);
}

QKTag::QKTag(const NTag* tag)
{
    if (tag)
        mTag.Assign(*tag);
}

QKTagRef QKTag::initWithRawData(const QByteArray& raw)
{
    return initWithRawData(raw.constData(), static_cast<uint64_t>(raw.size()));
}

QKTagRef QKTag::initWithRawData(const void* bytes, uint64_t size)
{
    auto tag = std::make_shared<QKTag>();
    if (!tag->mTag.FromRawData(bytes, size))
        return nullptr;
    return tag;
}

QKTagRef QKTag::copy() const
{
    return std::make_shared<QKTag>(this);
}

QString QKTag::getTagString(const QString& name, const QString& defaultValue) const
{
    const STInternalTag* element = mTag.FindTag(XStrFromQString(name).p);
    return element ? XStrToQString(element->Value) : defaultValue;
}

std::optional<QString> QKTag::getTagString(const QString& name) const
{
    const STInternalTag* element = mTag.FindTag(XStrFromQString(name).p);
    if (!element)
        return std::nullopt;
    return XStrToQString(element->Value);
}

std::optional<QStringList> QKTag::getTagStrings(const QString& name) const
{
    const std::optional<QString> value = getTagString(name);
    if (!value)
        return std::nullopt;
    return value->split(QLatin1Char('\r'));
}

QByteArray QKTag::toRawData() const
{
    XBuffer raw;
    QByteArray result;
    if (mTag.ToRawData(raw))
        result = QByteArray(reinterpret_cast<const char*>(raw.Data), static_cast<qsizetype>(raw.Used));
    raw.Free();
    return result;
}

QString QKTag::tagNameAt(int64_t index) const
{
    const STInternalTag* element = mTag.TagAt(index);
    return element ? XStrToQString(element->Name) : QString();
}

QString QKTag::tagValueAt(int64_t index) const
{
    const STInternalTag* element = mTag.TagAt(index);
    return element ? XStrToQString(element->Value) : QString();
}

QByteArray QKTag::tagDataAt(int64_t index) const
{
    const STInternalTag* element = mTag.TagAt(index);
    if (!element || !element->HasData())
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(element->Data.Data), static_cast<qsizetype>(element->Data.Size));
}

bool QKTag::isTagBinary(int64_t index) const
{
    const STInternalTag* element = mTag.TagAt(index);
    return element && !element->Name.IsEmpty() && element->Name.p[0] == L'_';
}

QSet<QString> QKTag::elemNameSet() const
{
    QSet<QString> names;
    for (int64_t i = 0; i < mTag.Count(); ++i)
        names.insert(LowerAZ(mTag.TagAt(i)->Name));
    return names;
}

QKTagRef QKTag::subsetTextOnly() const
{
    QKTagRef result = copy();
    result->mTag.RemoveInternalTags(0);
    return result;
}

QKTagRef QKTag::subsetAlbumArtOnly() const
{
    auto result = std::make_shared<QKTag>();
    for (int64_t i = 0; i < mTag.Count(); ++i) {
        const STInternalTag* element = mTag.TagAt(i);
        if (NTag::IsAlbumArtName(element->Name.p))
            result->mTag.AddTagCopy(*element);
    }
    return result;
}

QKTagRef QKTag::tagCombinedWith(const QKTag* other) const
{
    QKTagRef result = copy();
    if (other)
        result->mTag.Merge(other->mTag, false);
    return result;
}

QString QKTag::debug() const
{
    return XStrToQString(mTag.Dump());
}

bool QKTag::isFieldMultiVal(const QString& name)
{
    const QString lower = LowerAZ(XStrFromQString(name));
    return !(lower.contains(QLatin1String("lyrics")) || lower.contains(QLatin1String("comment")) ||
             lower == QLatin1String("title") || lower == QLatin1String("album"));
}

QString QKTag::multiValToDisplay(const QString& text)
{
    QString result = text;
    result.replace(QLatin1String("\r\n"), QLatin1String("; "));
    result.replace(QLatin1String("\r"), QLatin1String("; "));
    result.replace(QLatin1String("\n"), QLatin1String("; "));
    return result;
}

QString QKTag::multiValFromDisplay(const QString& text)
{
    QString result = text;
    result.replace(QLatin1String("; "), QLatin1String("\r"));
    result.replace(QLatin1Char(';'), QLatin1Char('\r'));
    return result;
}

bool QKTag::elemIsAlbumArt(const QString& name)
{
    return NTag::IsAlbumArtName(XStrFromQString(name).p);
}

std::optional<QString> QKTag::unknownValFor(const QString& name)
{
    const QString lower = LowerAZ(XStrFromQString(name));
    if (lower == QLatin1String("artist"))
        return QStringLiteral("unknown artist");
    if (lower == QLatin1String("title"))
        return QStringLiteral("unknown title");
    if (lower == QLatin1String("album"))
        return QStringLiteral("unknown album");
    return std::nullopt;
}

QKTagRef QKTag::combineTags(const QList<QKTagRef>& tags)
{
    return combineTags(tags, strDifferent());
}

QKTagRef QKTag::combineTags(const QList<QKTagRef>& tags, const QString& different)
{
    if (tags.isEmpty())
        return nullptr;
    if (tags.size() == 1)
        return tags.first();
    if (!tags.first())
        return nullptr;
    QKTagRef result = tags.first()->copy();
    NTag& combined = result->mTag;
    const XStr differentText = XStrFromQString(different);

    QHash<QString, int64_t> indexOfName;
    for (int64_t i = 0; i < combined.Count(); ++i)
        indexOfName.insert(LowerAZ(combined.TagAt(i)->Name), i);

    const auto markDifferent = [&](STInternalTag* element) {
        element->SetData(nullptr, 0);
        element->Value = differentText;
    };

    for (qsizetype t = 1; t < tags.size(); ++t) {
        const QKTagRef& other = tags[t];
        std::vector<bool> seen(static_cast<size_t>(combined.Count()), false);
        if (other) {
            for (int64_t k = 0; k < other->mTag.Count(); ++k) {
                const STInternalTag* element = other->mTag.TagAt(k);
                const QString key = LowerAZ(element->Name);
                int64_t index;
                const auto found = indexOfName.constFind(key);
                if (found != indexOfName.constEnd()) {
                    index = found.value();
                    STInternalTag* mine = combined.TagAt(index);
                    const bool sameData = mine->Data.Size == element->Data.Size &&
                                          (mine->Data.Size == 0 || mine->Data.IsEqual(element->Data));
                    if (!(mine->Value == element->Value) || !sameData)
                        markDifferent(mine);
                } else {
                    combined.AddTag(element->Name.p, differentText.p);
                    index = combined.Count() - 1;
                    indexOfName.insert(key, index);
                    seen.resize(static_cast<size_t>(combined.Count()), false);
                }
                seen[static_cast<size_t>(index)] = true;
            }
        }
        for (int64_t i = 0; i < combined.Count(); ++i) {
            if (!seen[static_cast<size_t>(i)])
                markDifferent(combined.TagAt(i));
        }
    }
    return result;
}

// --- QKMutableTag -----------------------------------------------------------------------

QKTagRef QKMutableTag::copy() const
{
    return std::make_shared<QKMutableTag>(this);
}

void QKMutableTag::addTag(const QString& name, const QString& value)
{
    mTag.AddTag(XStrFromQString(name).p, XStrFromQString(value).p);
}

void QKMutableTag::addTag(const QString& name, const void* bytes, uint64_t size)
{
    mTag.AddTagData(XStrFromQString(name).p, bytes, size);
}

void QKMutableTag::addTagData(const QString& name, const QByteArray& data)
{
    mTag.AddTagData(XStrFromQString(name).p, data.constData(), static_cast<uint64_t>(data.size()));
}

void QKMutableTag::setTagValue(const QString& value, const QString& name)
{
    mTag.SetValue(XStrFromQString(name).p, XStrFromQString(value).p);
}

void QKMutableTag::setTagValue(const QString& value, int64_t index)
{
    if (STInternalTag* element = mTag.TagAt(index)) {
        element->SetData(nullptr, 0);
        element->Value = XStrFromQString(value);
    }
}

void QKMutableTag::setTagData(const QByteArray& data, int64_t index)
{
    setTagBytes(data.constData(), static_cast<uint64_t>(data.size()), index);
}

void QKMutableTag::setTagBytes(const void* bytes, uint64_t size, int64_t index)
{
    if (STInternalTag* element = mTag.TagAt(index)) {
        element->Value = XStr();
        element->SetData(bytes, size);
    }
}

bool QKMutableTag::fromRawData(const QByteArray& raw)
{
    return fromRawData(raw.constData(), static_cast<uint64_t>(raw.size()));
}

bool QKMutableTag::fromRawData(const void* bytes, uint64_t size)
{
    return mTag.FromRawData(bytes, size);
}

void QKMutableTag::mergeFromTag(const QKTag* other)
{
    if (other)
        mTag.Merge(*other->tag(), false);
}

void QKMutableTag::overwriteFromTag(const QKTag* other)
{
    if (other)
        mTag.Merge(*other->tag(), true);
}

void QKMutableTag::removeTagByName(const QString& name)
{
    mTag.RemoveTag(XStrFromQString(name).p);
}
