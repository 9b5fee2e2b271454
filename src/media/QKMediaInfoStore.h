// The process's one store of media information records. Whoever asks about a file (the
// converter's table, the destination check, the batch window's columns, the batch itself)
// gets the record read before as long as the file is the same one with the same size and
// modification time (to the nanosecond); a file replaced or changed since is probed again.
// Several threads asking about one file at the same time share one ffprobe run.
//
// Memory stays bounded: the store holds the last kKeep records it read, and otherwise only
// knows the records someone else still holds (a table's rows, a check's entries). ffprobe's
// own answer is kept only with those last records. Failed reads are not kept: ffprobe may
// have been missing or too slow for a moment.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "media/FFprobeInfo.h"
#include "xclass/XStr.h"

class QKMediaFileInfo;
using QKMediaFileInfoRef = std::shared_ptr<QKMediaFileInfo>;

class QKMediaInfoStore {
public:
    static constexpr size_t kKeep = 2048;

    struct Found {
        QKMediaFileInfoRef info;                 // null: the file could not be read
        std::shared_ptr<const std::string> json; // ffprobe's answer, when asked for and kept
    };

    // The record of the file, read now when the store has none for it as it is. wantJSON also
    // asks for ffprobe's answer: the file is read again when the store no longer has it. stop
    // ends this caller's wait, or its own ffprobe run, at once.
    static Found read(const XStr& path, XStr* reason = nullptr, const FFprobeStop& stop = {}, bool wantJSON = false);
    // Reads the file unless the store has its record or another thread is reading it: for
    // reading ahead of those who will ask.
    static void prefetch(const XStr& path, const FFprobeStop& stop = {}, bool wantJSON = false);
    // The record held for the file as it is now, without reading; null when there is none.
    static QKMediaFileInfoRef lookup(const XStr& path);
};
