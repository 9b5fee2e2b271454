// Searching a list for a run of items (a pattern) and splitting a list into its odd and even
// items. Items are compared with ==, not by identity. Indexes are 0-based; kKitNotFound
// (WeakRef.h) means no match.
#pragma once

#include "kit/WeakRef.h"

#include <QList>

#include <algorithm>
#include <cstdint>

// True when every pattern item equals the list item at the same offset from index; false when
// the pattern would run past the end or index is negative. An empty pattern matches at every
// index from 0 to the count.
template <class T>
bool matchPattern(const QList<T>& list, const QList<T>& pattern, int64_t index)
{
    if (index < 0 || index > list.size() || pattern.size() > list.size() - index)
        return false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (!(list.at(index + i) == pattern.at(i)))
            return false;
    }
    return true;
}

// The first start position where the pattern matches, or kKitNotFound.
template <class T>
int64_t indexOfPattern(const QList<T>& list, const QList<T>& pattern)
{
    if (pattern.size() > list.size())
        return kKitNotFound;
    for (qsizetype start = 0; start <= list.size() - pattern.size(); ++start) {
        if (matchPattern(list, pattern, start))
            return start;
    }
    return kKitNotFound;
}

// The item right after the first occurrence of the pattern; none when the pattern is absent
// or stands at the very end.
template <class T>
const T* itemFollowingPattern(const QList<T>& list, const QList<T>& pattern)
{
    const int64_t found = indexOfPattern(list, pattern);
    if (found == kKitNotFound)
        return nullptr;
    const int64_t after = found + pattern.size();
    return after < list.size() ? &list.at(after) : nullptr;
}

template <class T>
bool startsWithPattern(const QList<T>& list, const QList<T>& pattern)
{
    return matchPattern(list, pattern, 0);
}

template <class T>
bool endsWithPattern(const QList<T>& list, const QList<T>& pattern)
{
    if (pattern.size() > list.size())
        return false;
    return matchPattern(list, pattern, list.size() - pattern.size());
}

// How many items agree, from start on, before the first disagreement; at most the shorter of
// the rest of the list and the pattern. 0 when start is not inside the list.
template <class T>
uint64_t partialMatch(const QList<T>& list, const QList<T>& pattern, int64_t start)
{
    if (start < 0 || start >= list.size())
        return 0;
    const qsizetype n = std::min<qsizetype>(list.size() - start, pattern.size());
    uint64_t agree = 0;
    for (qsizetype i = 0; i < n && list.at(start + i) == pattern.at(i); ++i)
        ++agree;
    return agree;
}

template <class T>
uint64_t partialMatch(const QList<T>& list, const QList<T>& pattern)
{
    return partialMatch(list, pattern, 0);
}

// The first item that is an instance of Wanted or of a class derived from it; null when none.
template <class Wanted, class T>
Wanted* firstItemOfClass(const QList<T*>& list)
{
    for (T* item : list) {
        if (auto* wanted = dynamic_cast<Wanted*>(item))
            return wanted;
    }
    return nullptr;
}

// The items at indexes 1, 3, 5, ... / 0, 2, 4, ..., in order.
template <class T>
QList<T> oddItems(const QList<T>& list)
{
    QList<T> result;
    for (qsizetype i = 1; i < list.size(); i += 2)
        result.append(list.at(i));
    return result;
}

template <class T>
QList<T> evenItems(const QList<T>& list)
{
    QList<T> result;
    for (qsizetype i = 0; i < list.size(); i += 2)
        result.append(list.at(i));
    return result;
}
