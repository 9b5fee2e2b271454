// JSON: the bridge between Qt property lists (QVariantMap, QVariantList, QString, numbers,
// null) and XJSON trees and files, in the layout XJSON writes. The batch converter keeps its
// profiles this way. Class functions only, no state.
#pragma once

#include <QUrl>
#include <QVariant>

#include "xclass/XJSON.h"

class JSON {
public:
    // A new property list for the tree (which stays the caller's); an invalid QVariant for a
    // null pointer. Objects become QVariantMap (a later member of the same name wins),
    // arrays QVariantList, strings QString, numbers double (qlonglong where a double would
    // round the integer), booleans bool, null a QVariant holding nullptr.
    static QVariant fromXJSON(const XJSON::AnyType* value);
    // A new tree the caller deletes, never null. Strings, numbers (booleans as 1 and 0),
    // lists and maps (QVariantMap, QVariantHash) convert; an invalid QVariant, nullptr and
    // every other type become null.
    static XJSON::AnyType* toXJSON(const QVariant& object);

    // The file's property list; invalid when it cannot be opened, is above 16 MiB or does
    // not parse.
    static QVariant read(const QUrl& file);
    // Written in place; a failed write leaves no file behind.
    static bool write(const QVariant& object, const QUrl& file);
    // Through a temporary and a rename: the file is replaced only by a complete one.
    static bool writeAtomically(const QVariant& object, const QUrl& file);

    static constexpr unsigned MaxReadSize = 16777216;
};
