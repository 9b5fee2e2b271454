// How the rows of a file table sort by one column.
//
// A descriptor names the value a row sorts by with the key "sort-<identifier>" (the row answers
// it as its sort value for that column, KRASortValueRole), the direction, and the comparison:
// the Name column compares names the way a person reads them (case does not matter, digit runs
// count by value, so "clip 2" comes before "clip 10"); every other column compares the raw
// values themselves: sizes as numbers, dates as dates, texts as texts.
#pragma once

#include <QList>
#include <QString>
#include <QVariant>

enum class KRASortComparison {
    Plain,   // the values' own order
    Natural, // case-insensitive, digit runs by value
};

struct KRASortDescriptor {
    QString key; // "sort-" + the column identifier
    bool ascending = true;
    KRASortComparison comparison = KRASortComparison::Plain;

    // The ascending descriptor of a column: natural for Name, plain for every other column.
    static KRASortDescriptor forColumn(const QString& identifier);

    // The column identifier the key names; empty for a key without the "sort-" prefix.
    QString identifier() const;

    bool operator==(const KRASortDescriptor& other) const = default;
};

// The natural-order key of a text: comparing two keys with QString's ordinary (code unit)
// comparison orders the texts naturally. Made once per row, so a sort does no locale work per
// pair. Texts that differ only in case, accents or leading zeros may share a key; break such
// ties with the text itself (KRACompareNatural does).
QString KRANaturalSortKey(const QString& text);

// Natural order of two texts whose keys are already at hand: by key, then by the text itself,
// so that distinct texts never compare equal.
int KRACompareNatural(const QString& keyA, const QString& textA, const QString& keyB, const QString& textB);
int KRACompareNatural(const QString& a, const QString& b);

// The plain comparison of two sort values: numbers by value, dates by time, texts by code unit.
// A missing value (invalid or null) comes before any value; values of kinds that cannot be
// compared are ordered by kind, then by their text, so the order stays total.
int KRAComparePlain(const QVariant& a, const QVariant& b);
