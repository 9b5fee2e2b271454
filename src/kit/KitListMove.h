// Moving a block of rows of a list to another place, as a drag between rows does: the rows
// keep their relative order and land together where the drop was, counted before the move.
#pragma once

#include <QList>

#include <algorithm>

// Moves the items at rows (any order; repeats and rows out of range are left out) to target
// (a row counted before the move; clamped to the list). Returns the rows they stand at now.
template <class T>
QList<int> KitMoveBlock(QList<T>& list, QList<int> rows, int target)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(), [&](int r) { return r < 0 || r >= list.size(); }), rows.end());
    if (rows.isEmpty())
        return {};
    target = std::clamp(target, 0, static_cast<int>(list.size()));
    // The gap is counted before the move: every moved row above it brings it one up.
    const int gap = target;
    QList<T> moved;
    for (int r : rows) {
        moved.append(list[r]);
        if (r < gap)
            --target;
    }
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        list.removeAt(*it);
    QList<int> now;
    for (int i = 0; i < moved.size(); ++i) {
        list.insert(target + i, moved[i]);
        now.append(target + i);
    }
    return now;
}
