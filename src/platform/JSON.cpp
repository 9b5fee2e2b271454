#include "platform/JSON.h"

#include <QMetaType>
#include <QStringList>
#include <QVariantHash>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"

namespace {

// Doubles hold every integer up to 2^53 exactly; beyond that the exact integer is kept.
constexpr int64_t kExactInDouble = int64_t{1} << 53;

XJSON::AnyType* StringValue(const QString& text)
{
    return new XJSON::String(XStrFromQString(text));
}

} // namespace

QVariant JSON::fromXJSON(const XJSON::AnyType* value)
{
    if (!value)
        return QVariant();
    switch (value->TypeOf()) {
    case XJSON::typeObject: {
        const XJSON::Object* o = static_cast<const XJSON::Object*>(value);
        QVariantMap map;
        for (int64_t i = 0; i < o->Count(); i++)
            map.insert(XStrToQString(o->NameRef(i).ToXStr()), fromXJSON(o->CellAt(i)));
        return map;
    }
    case XJSON::typeArray: {
        const XJSON::Array* a = static_cast<const XJSON::Array*>(value);
        QVariantList list;
        list.reserve(static_cast<qsizetype>(a->Count()));
        for (int64_t i = 0; i < a->Count(); i++)
            list.append(fromXJSON(a->Get(i)));
        return list;
    }
    case XJSON::typeString:
        return XStrToQString(static_cast<const XJSON::String*>(value)->Value.ToXStr());
    case XJSON::typeNumber: {
        const XJSON::Number* n = static_cast<const XJSON::Number*>(value);
        if (n->HasExactInt() && (n->Int > kExactInDouble || n->Int < -kExactInDouble))
            return QVariant(static_cast<qlonglong>(n->Int));
        return QVariant(n->Value);
    }
    case XJSON::typeBoolean:
        return QVariant(static_cast<const XJSON::Boolean*>(value)->Value);
    default:
        return QVariant::fromValue(nullptr);
    }
}

XJSON::AnyType* JSON::toXJSON(const QVariant& object)
{
    if (!object.isValid())
        return new XJSON::Null;
    switch (object.typeId()) {
    case QMetaType::QString:
        return StringValue(object.toString());
    case QMetaType::Bool:
        return new XJSON::Number(object.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return new XJSON::Number(static_cast<int64_t>(object.toLongLong()));
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::UChar:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return new XJSON::Number(static_cast<uint64_t>(object.toULongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
        return new XJSON::Number(object.toDouble());
    case QMetaType::QStringList: {
        XJSON::Array* a = new XJSON::Array;
        for (const QString& s : object.toStringList())
            a->Add(StringValue(s));
        return a;
    }
    case QMetaType::QVariantList: {
        XJSON::Array* a = new XJSON::Array;
        for (const QVariant& v : object.toList())
            a->Add(toXJSON(v));
        return a;
    }
    case QMetaType::QVariantMap: {
        XJSON::Object* o = new XJSON::Object;
        const QVariantMap map = object.toMap();
        for (auto it = map.constBegin(); it != map.constEnd(); ++it)
            o->Add(XJSON::Text(XStrFromQString(it.key())), toXJSON(it.value()));
        return o;
    }
    case QMetaType::QVariantHash: {
        XJSON::Object* o = new XJSON::Object;
        const QVariantHash hash = object.toHash();
        for (auto it = hash.constBegin(); it != hash.constEnd(); ++it)
            o->Add(XJSON::Text(XStrFromQString(it.key())), toXJSON(it.value()));
        return o;
    }
    default:
        return new XJSON::Null;
    }
}

QVariant JSON::read(const QUrl& file)
{
    const XStr path = XPathFromFileURL(file);
    if (path.IsEmpty())
        return QVariant();
    std::unique_ptr<XJSON::AnyType> tree(XJSON::ReadFile(path.p, MaxReadSize));
    return tree ? fromXJSON(tree.get()) : QVariant();
}

bool JSON::write(const QVariant& object, const QUrl& file)
{
    const XStr path = XPathFromFileURL(file);
    if (path.IsEmpty())
        return false;
    std::unique_ptr<XJSON::AnyType> tree(toXJSON(object));
    return XJSON::WriteFile(path.p, tree.get());
}

bool JSON::writeAtomically(const QVariant& object, const QUrl& file)
{
    const XStr path = XPathFromFileURL(file);
    if (path.IsEmpty())
        return false;
    std::unique_ptr<XJSON::AnyType> tree(toXJSON(object));
    return XJSON::WriteFileAtomically(path.p, tree.get());
}
