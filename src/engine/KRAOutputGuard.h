// The batch's last guard over its files. Whatever the windows before it let through, no file
// of a batch is written over a file that another file of the same batch writes or wrote, nor
// over any source of the batch: that file fails with a message naming both. Files are
// compared by what they are on the disk (xclass/XFileIdentity.h), not by their path text, so
// a folder reached through a link or a volume that folds case hides nothing.
//
// Shared by the progress dialog (which claims each destination before its file starts) and
// the runs (which move their finished output into place through it); thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

#include "xclass/XFileIdentity.h"
#include "xclass/XStr.h"

class KRAOutputGuard {
public:
    // A source of the batch (each file of a joined one), before the first file starts.
    void addSource(const XStr& path);

    // Before file `index` begins to write dest: empty when it may, else why not (naming both
    // files). sourceName is how the file's source is shown in other files' messages.
    XStr claim(uint64_t index, const XStr& dest, const XStr& sourceName);

    // Moves the finished output of file `index` over dest with move(), unless dest names now a
    // file another file of the batch claimed or wrote, or a source. Checked and moved under the
    // guard's lock, so that no other file's move comes between. produced is the identity the
    // moved output has (that of the temporary file). False with why when refused or when the
    // move failed (why is then empty: the caller says what failed).
    bool replace(uint64_t index, const XStr& dest, const XFileId& produced, const std::function<bool()>& move,
                 XStr& why);

private:
    struct Claim {
        uint64_t index = 0;
        XStr dest;
        XStr sourceName;
    };
    // Why dest (key and identity now) may not be written by file index; empty when it may.
    const Claim* otherFile(const std::string& key, const XFileId& id, uint64_t index) const;
    XStr refusal(uint64_t index, const XStr& dest, const std::string& key, const XFileId& id, const wchar_t* verb);

    std::mutex m_lock;
    XFileKeyMaker m_keys;
    std::unordered_map<std::string, XStr> m_sourceKeys; // key -> the source's path
    std::map<XFileId, XStr> m_sourceIds;
    std::unordered_map<uint64_t, Claim> m_files;        // by file index
    std::unordered_map<std::string, uint64_t> m_claims; // destination key -> the file writing it
    std::map<XFileId, uint64_t> m_written;              // identity of an output moved into place
};
