// The object form of an element-value argument string: the ordered (element, value) pairs
// that encoder and effect pages keep their settings in ("-crf=\"23\" -preset slow"). Pages
// parse a string, query it with typed getters, fill it with typed setters and write it back.
// The class library's XListElementValue owns the text form and its parsing.
//
// Names compare with A-Z folded; duplicated names are allowed and lookups take the first
// pair of a name. The element "cli_cmd" carries a whole ffmpeg command fragment whose double
// quotes are stored as "{qt}".
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

#include "xclass/XListElementValue.h"

class QKElemValue {
public:
    QString element;
    QString value;
};

class QKElemValueList {
public:
    QKElemValueList() = default;
    // Parses the argument string from its first character.
    explicit QKElemValueList(const QString& text);
    static QKElemValueList withString(const QString& text) { return QKElemValueList(text); }
    // A list holding the one element "cli_cmd" (see addCLIVal).
    static QKElemValueList withCLIVal(const QString& text);

    void addElemsFromString(const QString& text);
    void addElems(const QKElemValueList& other);

    int64_t count() const { return m_list.Count(); }
    std::optional<QKElemValue> valueAtIndex(int64_t index) const;

    // The value of the first pair of that name; none when absent (an empty value is an
    // empty text, not none).
    std::optional<QString> findValue(const QString& name) const;
    QString findValue(const QString& name, const QString& defaultValue) const;
    bool containsElem(const QString& name) const;
    // Decimal reading: leading blanks, one sign, the digits up to the first non-digit (none: 0).
    int findIntValue(const QString& name, int defaultValue = 0) const;
    // Optional "+" then "-", digits, optional "." and digits; no exponent.
    double findDoubleValue(const QString& name, double defaultValue = 0.0) const;
    // A value holding "." as a double, else as an integer (qint64); absent gives the default.
    QVariant findNumber(const QString& name, const QVariant& defaultValue = QVariant()) const;
    // Seconds text as milliseconds, rounded to the nearest millisecond.
    int findMSValue(const QString& name) const;
    // The value decoded from Base64; none when absent or not Base64.
    std::optional<QByteArray> findBinValue(const QString& name) const;
    // The value of "cli_cmd" with every "{qt}" turned back into a double quote.
    QString getCLIVal() const;
    // True when every pair of this list has a pair of the same name in other (the first of
    // that name) with exactly the same value. An empty list is a subset of any list; nothing
    // is a subset of null.
    bool isSubsetOf(const QKElemValueList* other) const;

    XListElementValue& lstElementValue() { return m_list; }
    const XListElementValue& lstElementValue() const { return m_list; }

    void addElem(const QString& name);
    void addElem(const QString& name, const QString& value);
    void addElemInt(const QString& name, int value);
    // Fixed point with that many decimals, trailing zeros and a trailing point removed.
    void addElemDouble(const QString& name, double value, int precision);
    // Milliseconds as seconds with up to 3 decimals: 1500 gives "1.5".
    void addElemMs(const QString& name, int ms);
    // Base64 on one line, with "=" padding.
    void addElemBin(const QString& name, const QByteArray& data);
    // "cli_cmd" with every double quote stored as "{qt}".
    void addCLIVal(const QString& text);
    // Removes the first pair of that name only.
    void clearElem(const QString& name);

    // -name="value" pairs joined by one blank; a pair with an empty value is "-name".
    QString mergeToString() const;
    // -name value pairs joined by one blank; a value holding a blank, a double quote or a
    // backslash goes in double quotes (with a backslash before each double quote and
    // backslash), a pair with an empty value ends in a blank ("-name ").
    QString mergeToString_alternate() const;

private:
    int64_t find(const QString& name) const;

    XListElementValue m_list;
};
