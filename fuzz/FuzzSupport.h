// What the fuzz targets share: a private temporary folder per process that also holds the
// settings store (so no target ever reads or writes the user's), the program's data folder
// name, and a check that turns a broken promise of a parser into a crash the fuzzer keeps.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "xclass/XEnvironment.h"
#include "xclass/XRegistry.h"
#include "xclass/XStr.h"
#include "xclass/XTempFile.h"

namespace fuzz {

// The process's private folder (mode 0700, removed at exit), with a trailing "/". The
// settings store location points into it from the first call on.
inline const std::string& PrivateFolder()
{
    static XTempFolder folder;
    static const std::string path = [] {
        if (!folder.Create("marvoni-fuzz")) {
            fprintf(stderr, "fuzz: no private temporary folder could be made\n");
            abort();
        }
        std::string p = XStr(folder).ToUTF8String();
        if (p.empty() || p.back() != '/')
            p += '/';
        const XStr store = XStr::FromUTF8(p + "store.json");
        XRegistry::SetLocation(store.p, true);
        return p;
    }();
    return path;
}

// As the program starts up, less what would reach outside the process.
inline void SetUpProgram()
{
    PrivateFolder();
    XSetAppDataFolder(L"MarvoniVideo");
}

[[noreturn]] inline void Fail(const char* what, const std::string& detail = std::string())
{
    fprintf(stderr, "fuzz check failed: %s\n", what);
    if (!detail.empty())
        fprintf(stderr, "%s\n", detail.c_str());
    abort();
}

inline void Check(bool ok, const char* what, const std::string& detail = std::string())
{
    if (!ok)
        Fail(what, detail);
}

// Writes the bytes to path through a temporary and a rename, so that a reader never sees half
// a file.
inline void WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size)
{
    const std::string temporary = path + ".new";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    Check(fd >= 0, "cannot write the file", temporary);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        Check(n > 0, "cannot write the file", temporary);
        done += static_cast<size_t>(n);
    }
    close(fd);
    Check(rename(temporary.c_str(), path.c_str()) == 0, "cannot rename the file", path);
}

} // namespace fuzz
