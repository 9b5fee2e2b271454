#include "job/QKElemValueList.h"

#include <cmath>
#include <limits>

#include "platform/XStrQString.h"
#include "xclass/XBase64.h"
#include "xclass/XBuffer.h"

namespace {

const QString kCLIElement = QStringLiteral("cli_cmd");
const QString kQuoteMark = QStringLiteral("{qt}");

} // namespace

QKElemValueList::QKElemValueList(const QString& text)
{
    m_list.Parse(XStrFromQString(text).p, 1);
}

QKElemValueList QKElemValueList::withCLIVal(const QString& text)
{
    QKElemValueList list;
    list.addCLIVal(text);
    return list;
}

void QKElemValueList::addElemsFromString(const QString& text)
{
    addElems(QKElemValueList(text));
}

void QKElemValueList::addElems(const QKElemValueList& other)
{
    // Copied first: other may be this very list.
    const XListElementValue pairs(other.m_list);
    XStr name, value;
    for (int64_t i = 0; pairs.Get(i, name, value); ++i)
        m_list.Add(name, value);
}

std::optional<QKElemValue> QKElemValueList::valueAtIndex(int64_t index) const
{
    XStr name, value;
    if (!m_list.Get(index, name, value))
        return std::nullopt;
    return QKElemValue{XStrToQString(name), XStrToQString(value)};
}

int64_t QKElemValueList::find(const QString& name) const
{
    return m_list.Find(XStrFromQString(name).p, true);
}

std::optional<QString> QKElemValueList::findValue(const QString& name) const
{
    const XStr* value = m_list.Value.Get(find(name));
    if (!value)
        return std::nullopt;
    return XStrToQString(*value);
}

QString QKElemValueList::findValue(const QString& name, const QString& defaultValue) const
{
    return findValue(name).value_or(defaultValue);
}

bool QKElemValueList::containsElem(const QString& name) const
{
    return find(name) != -1;
}

int QKElemValueList::findIntValue(const QString& name, int defaultValue) const
{
    const XStr* value = m_list.Value.Get(find(name));
    return value ? static_cast<int>(value->ToLong()) : defaultValue;
}

double QKElemValueList::findDoubleValue(const QString& name, double defaultValue) const
{
    const XStr* value = m_list.Value.Get(find(name));
    return value ? XStrToDouble(value->p) : defaultValue;
}

QVariant QKElemValueList::findNumber(const QString& name, const QVariant& defaultValue) const
{
    const XStr* value = m_list.Value.Get(find(name));
    if (!value)
        return defaultValue;
    if (value->FindChar(L'.'))
        return QVariant(XStrToDouble(value->p));
    return QVariant(static_cast<qint64>(value->ToLong()));
}

int QKElemValueList::findMSValue(const QString& name) const
{
    // Rounded, not truncated: "1.001" is 1000.9999... ms in binary and must read as 1001.
    const double ms = std::round(findDoubleValue(name) * 1000.0);
    if (!(ms > std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    if (!(ms < std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return static_cast<int>(ms);
}

std::optional<QByteArray> QKElemValueList::findBinValue(const QString& name) const
{
    const XStr* value = m_list.Value.Get(find(name));
    if (!value)
        return std::nullopt;
    XStr text(*value);
    XBuffer decoded;
    std::optional<QByteArray> result;
    if (XBase64DecodeToBuffer(text.UTF8(), decoded, false))
        result = QByteArray(reinterpret_cast<const char*>(decoded.Data), static_cast<qsizetype>(decoded.Used));
    decoded.Free();
    return result;
}

QString QKElemValueList::getCLIVal() const
{
    QString value = findValue(kCLIElement, QString());
    value.replace(kQuoteMark, QStringLiteral("\""));
    return value;
}

bool QKElemValueList::isSubsetOf(const QKElemValueList* other) const
{
    if (!other)
        return false;
    XStr name, value;
    for (int64_t i = 0; m_list.Get(i, name, value); ++i) {
        const XStr* theirs = other->m_list.Value.Get(other->m_list.Find(name.p, true));
        if (!theirs || !(*theirs == value))
            return false;
    }
    return true;
}

void QKElemValueList::addElem(const QString& name)
{
    m_list.Add(XStrFromQString(name), XStr());
}

void QKElemValueList::addElem(const QString& name, const QString& value)
{
    m_list.Add(XStrFromQString(name), XStrFromQString(value));
}

void QKElemValueList::addElemInt(const QString& name, int value)
{
    m_list.Add(XStrFromQString(name), XStr::FromLong(value));
}

void QKElemValueList::addElemDouble(const QString& name, double value, int precision)
{
    m_list.Add(XStrFromQString(name), XStr::FromDouble(value, precision, false));
}

void QKElemValueList::addElemMs(const QString& name, int ms)
{
    addElemDouble(name, ms / 1000.0, 3);
}

void QKElemValueList::addElemBin(const QString& name, const QByteArray& data)
{
    m_list.Add(XStrFromQString(name),
               XBase64EncodeToStr(data.constData(), static_cast<size_t>(data.size()), XBASE64_NO_LINE_BREAKS));
}

void QKElemValueList::addCLIVal(const QString& text)
{
    QString stored = text;
    stored.replace(QStringLiteral("\""), kQuoteMark);
    addElem(kCLIElement, stored);
}

void QKElemValueList::clearElem(const QString& name)
{
    const int64_t index = find(name);
    if (index >= 0)
        m_list.RemoveAt(index);
}

QString QKElemValueList::mergeToString() const
{
    return XStrToQString(m_list.ToString());
}

QString QKElemValueList::mergeToString_alternate() const
{
    QString out;
    XStr name, value;
    for (int64_t i = 0; m_list.Get(i, name, value); ++i) {
        if (i > 0)
            out += QLatin1Char(' ');
        out += QLatin1Char('-');
        out += XStrToQString(name);
        out += QLatin1Char(' ');
        const QString v = XStrToQString(value);
        const bool quote =
            v.contains(QLatin1Char(' ')) || v.contains(QLatin1Char('"')) || v.contains(QLatin1Char('\\'));
        if (!quote) {
            out += v;
            continue;
        }
        // The tokeniser that reads these strings takes a backslash as an escape, so quotes
        // and backslashes inside the value are escaped to come back unchanged.
        out += QLatin1Char('"');
        for (const QChar c : v) {
            if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
                out += QLatin1Char('\\');
            out += c;
        }
        out += QLatin1Char('"');
    }
    return out;
}
