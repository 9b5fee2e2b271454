// The free functions of XFileName.h that work on the file system: look-ups of one path,
// making and removing folders, and copying, moving and deleting files and whole trees.
#include "xclass/XFileName.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "xclass/XFile.h"
#include "xclass/XFindFile.h"
#include "xclass/XPlatform.h"
#include "xclass/XTime.h"

namespace {

// Reads the open file's status; when that fails, closes it and keeps fstat's errno for the caller.
bool StatOrClose(int fd, struct stat& st)
{
    if (fstat(fd, &st) == 0)
        return true;
    const int err = errno;
    close(fd);
    errno = err;
    return false;
}

// ---------------------------------------------------------------------------------------------
// Text helpers

std::string U8(const wchar_t* text)
{
    std::string out;
    if (text)
        for (; *text; ++text)
            XAppendUTF8(out, *text);
    return out;
}

bool IsVolumeRoot(const XStr& path)
{
    return path == L"/Volumes" || path == L"/Network" || XIsVolumeRootFolder(path);
}

// ---------------------------------------------------------------------------------------------
// Copying

bool IsIgnorableXattrError(int e)
{
    // A file system without extended attributes, or a namespace this process may not write
    // (security.*, trusted.*): the data is copied all the same.
    return e == ENOTSUP || e == EOPNOTSUPP || e == EPERM || e == EACCES;
}

// Copies the extended attributes (ACLs included, which Linux keeps as attributes) of one
// open file to another. False only on a real failure.
bool CopyXattrs(int src, int dst)
{
    std::vector<char> names;
    ssize_t size = 0;
    for (int attempt = 0; attempt < 4; attempt++) {
        size = flistxattr(src, nullptr, 0);
        if (size < 0)
            return IsIgnorableXattrError(errno);
        if (size == 0)
            return true;
        names.resize(static_cast<size_t>(size));
        size = flistxattr(src, names.data(), names.size());
        if (size >= 0)
            break;
        if (errno != ERANGE)
            return IsIgnorableXattrError(errno);
    }
    if (size < 0)
        return false;
    std::vector<char> value;
    for (size_t pos = 0; pos < static_cast<size_t>(size);) {
        const char* name = names.data() + pos;
        pos += strlen(name) + 1;
        ssize_t length = fgetxattr(src, name, nullptr, 0);
        if (length < 0) {
            if (errno == ENODATA || IsIgnorableXattrError(errno))
                continue;
            return false;
        }
        value.resize(static_cast<size_t>(length) + 1);
        length = fgetxattr(src, name, value.data(), value.size());
        if (length < 0) {
            if (errno == ENODATA || IsIgnorableXattrError(errno))
                continue;
            return false;
        }
        if (fsetxattr(dst, name, value.data(), static_cast<size_t>(length), 0) != 0 && !IsIgnorableXattrError(errno))
            return false;
    }
    return true;
}

// What a copy does with a target that exists already.
enum class Existing {
    Fail,      // never replace (also not one that appears meanwhile)
    Overwrite, // write into it, as a copy of one file onto another does
    Replace,   // remove it first, as a rename does (a link target is replaced, not followed)
};

bool CopyData(int in, int out)
{
    constexpr size_t kChunk = size_t(1) << 20;
    std::vector<char> buffer(kChunk);
    for (;;) {
        const ssize_t n = XReadRetry(in, buffer.data(), buffer.size());
        if (n <= 0)
            return n == 0;
        if (!XWriteFully(out, buffer.data(), static_cast<size_t>(n)))
            return false;
    }
}

// Creates a non-directory entry at to by make(), handling an existing one as asked.
template <typename Make>
bool CreateEntry(const std::string& to, Existing existing, Make make)
{
    if (make() == 0)
        return true;
    if (errno != EEXIST || existing == Existing::Fail)
        return false;
    struct stat st;
    if (lstat(to.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (unlink(to.c_str()) != 0 && errno != ENOENT)
        return false;
    return make() == 0;
}

void CopyLinkMetadata(const std::string& to, const struct stat& st)
{
    if (lchown(to.c_str(), st.st_uid, st.st_gid) != 0) {
        // Not allowed for another owner: the link stays ours.
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// Writes the contents and attributes of the open regular file in (stat st) to to. A failure
// removes what was written.
bool CopyRegular(int in, const struct stat& st, const std::string& to, Existing existing, bool durable)
{
    const int baseFlags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY;
    int out = -1;
    if (existing == Existing::Overwrite) {
        // No O_TRUNC: a target that is the source itself must not be emptied before we see it.
        out = open(to.c_str(), baseFlags, 0600);
    } else {
        CreateEntry(to, existing, [&] {
            out = open(to.c_str(), baseFlags | O_EXCL, 0600);
            return out < 0 ? -1 : 0;
        });
    }
    if (out < 0)
        return false;
    auto fail = [&](int err) {
        close(out);
        unlink(to.c_str());
        errno = err;
        return false;
    };
    struct stat ost;
    if (!StatOrClose(out, ost))
        return false;
    if (ost.st_dev == st.st_dev && ost.st_ino == st.st_ino) {
        close(out);
        errno = EINVAL;
        return false;
    }
    if (existing == Existing::Overwrite && S_ISREG(ost.st_mode) && ftruncate(out, 0) != 0)
        return fail(errno);
    if (!CopyData(in, out))
        return fail(errno);
    if (fchown(out, st.st_uid, st.st_gid) != 0 && fchown(out, static_cast<uid_t>(-1), st.st_gid) != 0) {
        // Another owner may only be given by root; the copy belongs to us then.
    }
    if (!CopyXattrs(in, out))
        return fail(errno);
    // Mode and times are carried where the target file system can hold them (a FAT stick
    // cannot): their loss is no reason to fail a copy whose data arrived.
    fchmod(out, st.st_mode & 07777);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(out, times);
    if (durable && fsync(out) != 0 && errno != EINVAL && errno != EROFS)
        return fail(errno);
    if (close(out) != 0) {
        const int err = errno;
        unlink(to.c_str());
        errno = err;
        return false;
    }
    return true;
}

// Copies the entry name (relative to dirFd) to the path to. Folders are refused (EISDIR).
// follow: a symbolic link source is followed; otherwise it is copied as a link.
bool CopyEntryAt(int dirFd, const char* name, const std::string& to, bool follow, Existing existing, bool durable)
{
    struct stat st;
    if (fstatat(dirFd, name, &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
        ssize_t n;
        for (;;) {
            n = readlinkat(dirFd, name, target.data(), target.size());
            if (n < 0)
                return false;
            if (static_cast<size_t>(n) < target.size())
                break;
            target.resize(target.size() * 2);
        }
        target[static_cast<size_t>(n)] = 0;
        if (!CreateEntry(to, existing, [&] { return symlink(target.data(), to.c_str()); }))
            return false;
        CopyLinkMetadata(to, st);
        return true;
    }
    if (!S_ISREG(st.st_mode)) {
        // Pipes, sockets and device nodes are made anew rather than read (a pipe would block).
        if (!CreateEntry(to, existing, [&] { return mknod(to.c_str(), st.st_mode, st.st_rdev); }))
            return false;
        CopyLinkMetadata(to, st);
        chmod(to.c_str(), st.st_mode & 07777);
        return true;
    }
    const int in = openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOCTTY | (follow ? 0 : O_NOFOLLOW));
    if (in < 0)
        return false;
    struct stat ist;
    if (!StatOrClose(in, ist))
        return false;
    const bool ok = CopyRegular(in, ist, to, existing, durable);
    const int err = errno;
    close(in);
    errno = err;
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Folder trees. Every walk opens folders relative to their parent with O_NOFOLLOW, so a
// link put in place of a folder is never entered, and keeps the identities of the folders
// above it so that a mount looping back into the tree ends the walk.

using FileId = std::pair<dev_t, ino_t>;

struct TreeWalk {
    std::vector<FileId> ancestors;
    bool hasSkip = false;
    FileId skip{}; // a folder never entered: the destination when it lies inside the source
};

bool IsAncestor(const TreeWalk& walk, const struct stat& st)
{
    for (const FileId& id : walk.ancestors)
        if (id.first == st.st_dev && id.second == st.st_ino)
            return true;
    return false;
}

bool IsSkipped(const TreeWalk& walk, const struct stat& st)
{
    return walk.hasSkip && walk.skip.first == st.st_dev && walk.skip.second == st.st_ino;
}

// Reads the names of a folder (open at fd; the descriptor stays ours).
bool ReadNames(int fd, std::vector<std::string>& names)
{
    const int dup = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (dup < 0)
        return false;
    DIR* dir = fdopendir(dup);
    if (!dir) {
        close(dup);
        return false;
    }
    rewinddir(dir);
    errno = 0;
    while (struct dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    const bool ok = errno == 0;
    closedir(dir);
    return ok;
}

int OpenFolderAt(int dirFd, const char* name)
{
    return openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Deletes the matching entries of the folder open at fd. all: the pattern is "*.*".
bool DeleteContents(int fd, const XStr& pattern, bool all, bool recurse, TreeWalk& walk)
{
    std::vector<std::string> names;
    bool ok = ReadNames(fd, names);
    for (const std::string& name : names) {
        if (!all && !XMatchMask(XStr::FromUTF8(name).p, pattern.p))
            continue;
        struct stat st;
        if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                ok = false;
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            if (unlinkat(fd, name.c_str(), 0) != 0 && errno != ENOENT)
                ok = false;
            continue;
        }
        if (!recurse)
            continue;
        if (IsAncestor(walk, st)) {
            errno = ELOOP;
            ok = false;
            continue;
        }
        const int child = OpenFolderAt(fd, name.c_str());
        if (child < 0) {
            ok = false;
            continue;
        }
        walk.ancestors.emplace_back(st.st_dev, st.st_ino);
        const bool childOk = DeleteContents(child, pattern, all, true, walk);
        walk.ancestors.pop_back();
        close(child);
        if (!childOk) {
            ok = false;
            continue;
        }
        // With a narrower pattern a folder may rightly keep other files; with "*.*" a folder
        // that stays is a failure.
        if (unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0 && all)
            ok = false;
    }
    return ok;
}

// Mode, owner, extended attributes and times of a folder made by a copy, applied once it is
// filled (its times would change while it is filled, a read-only mode would stop the fill).
void CopyFolderMetadata(int srcFd, const struct stat& st, const std::string& to)
{
    const int dst = open(to.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dst < 0)
        return;
    if (fchown(dst, st.st_uid, st.st_gid) != 0) {
        // Allowed to root only.
    }
    CopyXattrs(srcFd, dst);
    fchmod(dst, st.st_mode & 07777);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(dst, times);
    close(dst);
}

std::string JoinBytes(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

// Copies the contents of the folder open at fd into the existing folder to.
bool CopyContents(int fd, const std::string& to, Existing existing, bool durable, TreeWalk& walk)
{
    std::vector<std::string> names;
    if (!ReadNames(fd, names))
        return false;
    for (const std::string& name : names) {
        struct stat st;
        if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue;
            return false;
        }
        if (IsSkipped(walk, st))
            continue;
        const std::string target = JoinBytes(to, name);
        if (!S_ISDIR(st.st_mode)) {
            // A link already in the copy is replaced, never written through: it may point out
            // of the tree.
            Existing mode = existing;
            struct stat lst;
            if (existing == Existing::Overwrite && lstat(target.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode))
                mode = Existing::Replace;
            if (!CopyEntryAt(fd, name.c_str(), target, false, mode, durable))
                return false;
            continue;
        }
        if (IsAncestor(walk, st)) {
            errno = ELOOP;
            return false;
        }
        bool made = true;
        if (mkdir(target.c_str(), 0700) != 0) {
            struct stat tst;
            if (errno != EEXIST || existing == Existing::Fail || lstat(target.c_str(), &tst) != 0 ||
                !S_ISDIR(tst.st_mode)) {
                if (errno == 0 || errno == EEXIST)
                    errno = EEXIST;
                return false;
            }
            made = false;
        }
        const int child = OpenFolderAt(fd, name.c_str());
        if (child < 0)
            return false;
        walk.ancestors.emplace_back(st.st_dev, st.st_ino);
        const bool ok = CopyContents(child, target, existing, durable, walk);
        walk.ancestors.pop_back();
        if (ok && made)
            CopyFolderMetadata(child, st, target);
        const int err = errno;
        close(child);
        errno = err;
        if (!ok)
            return false;
    }
    return true;
}

// Removes a tree this library made (after a failed copy); links inside are not followed.
void RemoveTree(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        unlink(path.c_str());
        return;
    }
    TreeWalk walk;
    struct stat st;
    if (fstat(fd, &st) == 0)
        walk.ancestors.emplace_back(st.st_dev, st.st_ino);
    DeleteContents(fd, XStr(L"*.*"), true, true, walk);
    close(fd);
    rmdir(path.c_str());
}

void SyncFolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// A folder moved to another file system: copied whole, then the source removed. The source
// is touched only after the copy has fully succeeded; a failed copy is removed again.
bool MoveFolderAcross(const std::string& from, const std::string& to, bool noReplace)
{
    const int src = open(from.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (src < 0)
        return false;
    struct stat st;
    if (fstat(src, &st) != 0) {
        close(src);
        return false;
    }
    if (mkdir(to.c_str(), 0700) != 0) {
        // rename replaces an empty folder; so does this, unless told not to replace.
        const int err = errno;
        std::vector<std::string> names;
        const int existing = err == EEXIST && !noReplace ? OpenFolderAt(AT_FDCWD, to.c_str()) : -1;
        const bool empty = existing >= 0 && ReadNames(existing, names) && names.empty();
        if (existing >= 0)
            close(existing);
        if (!empty) {
            close(src);
            errno = existing >= 0 ? ENOTEMPTY : err;
            return false;
        }
    }
    TreeWalk walk;
    walk.ancestors.emplace_back(st.st_dev, st.st_ino);
    if (!CopyContents(src, to, Existing::Fail, true, walk)) {
        const int err = errno;
        close(src);
        RemoveTree(to);
        errno = err;
        return false;
    }
    CopyFolderMetadata(src, st, to);
    close(src);
    SyncFolderOf(to);
    const XStr fromText = XStr::FromUTF8(from);
    return XDeleteFolderTree(fromText.p, true, L"*.*", true);
}

// The move of XMoveFile and XMoveFileNoReplace when rename cannot cross file systems.
bool MoveAcross(const std::string& from, const std::string& to, bool noReplace)
{
    XIgnoreFileSizeSignal();
    struct stat st;
    if (lstat(from.c_str(), &st) != 0)
        return false;
    if (S_ISDIR(st.st_mode))
        return MoveFolderAcross(from, to, noReplace);
    if (!CopyEntryAt(AT_FDCWD, from.c_str(), to, false, noReplace ? Existing::Fail : Existing::Replace, true))
        return false;
    SyncFolderOf(to);
    if (unlink(from.c_str()) != 0) {
        // The source must stay the only copy when it cannot be removed.
        const int err = errno;
        unlink(to.c_str());
        errno = err;
        return false;
    }
    return true;
}

// XMoveFileNoReplace on a file system that does not know RENAME_NOREPLACE.
bool MoveNoReplaceFallback(const std::string& from, const std::string& to)
{
    struct stat st;
    if (lstat(from.c_str(), &st) != 0)
        return false;
    if (S_ISDIR(st.st_mode)) {
        // Claim the name with mkdir (which never replaces), then rename over the empty claim.
        if (mkdir(to.c_str(), 0700) != 0)
            return false;
        if (rename(from.c_str(), to.c_str()) == 0)
            return true;
        const int err = errno;
        rmdir(to.c_str());
        if (err == EXDEV)
            return MoveAcross(from, to, true);
        errno = err;
        return false;
    }
    if (link(from.c_str(), to.c_str()) == 0) {
        if (unlink(from.c_str()) == 0)
            return true;
        const int err = errno;
        unlink(to.c_str());
        errno = err;
        return false;
    }
    if (errno == EEXIST)
        return false;
    if (errno == EXDEV)
        return MoveAcross(from, to, true);
    // No hard links here (FAT and the like): test, then rename.
    struct stat tst;
    if (lstat(to.c_str(), &tst) == 0) {
        errno = EEXIST;
        return false;
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

bool StatPath(const wchar_t* path, struct stat& st)
{
    if (!path || !*path)
        return false;
    return stat(U8(path).c_str(), &st) == 0;
}

// Moves the contents of the folder from into the existing folder to.
bool MoveContents(const std::string& from, const std::string& to, TreeWalk& walk)
{
    const int fd = open(from.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::vector<std::string> names;
    if (!ReadNames(fd, names)) {
        close(fd);
        return false;
    }
    for (const std::string& name : names) {
        struct stat st;
        if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue;
            close(fd);
            return false;
        }
        if (IsSkipped(walk, st))
            continue;
        const std::string source = JoinBytes(from, name);
        const std::string target = JoinBytes(to, name);
        const XStr sourceText = XStr::FromUTF8(source);
        const XStr targetText = XStr::FromUTF8(target);
        bool ok;
        if (!S_ISDIR(st.st_mode)) {
            ok = XMoveFileNoReplace(sourceText.p, targetText.p);
        } else if (IsAncestor(walk, st)) {
            errno = ELOOP;
            ok = false;
        } else {
            struct stat tst;
            const bool made = lstat(target.c_str(), &tst) != 0;
            // lstat: a link in the destination that points at a folder is not a folder of the
            // tree, and moving into it would scatter the files outside.
            ok = mkdir(target.c_str(), 0700) == 0 ||
                 (errno == EEXIST && lstat(target.c_str(), &tst) == 0 && S_ISDIR(tst.st_mode));
            if (ok) {
                walk.ancestors.emplace_back(st.st_dev, st.st_ino);
                ok = MoveContents(source, target, walk);
                walk.ancestors.pop_back();
            }
            if (ok) {
                const int child = OpenFolderAt(fd, name.c_str());
                if (made && child >= 0)
                    CopyFolderMetadata(child, st, target);
                if (child >= 0)
                    close(child);
                unlinkat(fd, name.c_str(), AT_REMOVEDIR);
            }
        }
        if (!ok) {
            const int err = errno;
            close(fd);
            errno = err;
            return false;
        }
    }
    close(fd);
    return true;
}
} // namespace

// =============================================================================================
// Free functions

bool XFileExists(const wchar_t* path, bool* isFolder)
{
    struct stat st;
    const bool exists = StatPath(path, st);
    if (isFolder)
        *isFolder = exists && S_ISDIR(st.st_mode);
    return exists;
}

bool XIsFolder(const wchar_t* path, bool* missing)
{
    struct stat st;
    const bool exists = StatPath(path, st);
    if (missing)
        *missing = !exists;
    return exists && S_ISDIR(st.st_mode);
}

uint64_t XGetFileSize(const wchar_t* path, bool* missing)
{
    struct stat st;
    const bool exists = StatPath(path, st);
    if (missing)
        *missing = !exists;
    return exists ? static_cast<uint64_t>(st.st_size) : 0;
}

uint64_t XGetFileWriteTime(const wchar_t* path, bool* missing)
{
    struct stat st;
    const bool exists = StatPath(path, st);
    if (missing)
        *missing = !exists;
    return exists ? XStatToFileTimeWrite(st) : 0;
}

uint64_t XGetFileAccessTime(const wchar_t* path, bool* missing)
{
    struct stat st;
    const bool exists = StatPath(path, st);
    if (missing)
        *missing = !exists;
    return exists ? XStatToFileTimeAccess(st) : 0;
}

uint64_t XGetFileCreateTime(const wchar_t* path, bool* missing)
{
    struct stat st;
    const bool exists = StatPath(path, st);
    if (missing)
        *missing = !exists;
    if (!exists)
        return 0;
    struct statx stx;
    if (statx(AT_FDCWD, U8(path).c_str(), 0, STATX_BTIME, &stx) == 0 && (stx.stx_mask & STATX_BTIME))
        return XUnixTimeToFileTime(stx.stx_btime.tv_sec);
    return XStatToFileTimeCreate(st);
}

bool XGetFileTimes(const wchar_t* path, XFileTimes& times)
{
    struct stat st;
    if (!StatPath(path, st))
        return false;
    times.AccessSeconds = st.st_atim.tv_sec;
    times.AccessNanoseconds = st.st_atim.tv_nsec;
    times.WriteSeconds = st.st_mtim.tv_sec;
    times.WriteNanoseconds = st.st_mtim.tv_nsec;
    return true;
}

bool XSetFileTimes(const wchar_t* path, const XFileTimes& times)
{
    struct timeval tv[2];
    tv[0].tv_sec = static_cast<time_t>(times.AccessSeconds);
    tv[0].tv_usec = static_cast<suseconds_t>(times.AccessNanoseconds / 1000);
    tv[1].tv_sec = static_cast<time_t>(times.WriteSeconds);
    tv[1].tv_usec = static_cast<suseconds_t>(times.WriteNanoseconds / 1000);
    return path && utimes(U8(path).c_str(), tv) == 0;
}

bool XCreateFolderTree(const wchar_t* path)
{
    return XCreateFolderTreeWithMode(path, 0777);
}

bool XCreateFolderTreeWithMode(const wchar_t* path, mode_t mode)
{
    if (!path || !*path) {
        errno = ENOENT;
        return false;
    }
    const XStr text(path);
    int pos = 0;
    XStr prefix;
    while (pos < text.Length() && text.p[pos] == L'/')
        prefix.CatChar(text.p[pos++]);
    if (prefix.Length() > 1)
        prefix = L"/";
    while (pos < text.Length()) {
        int end = pos;
        while (end < text.Length() && text.p[end] != L'/')
            end++;
        if (end > pos) {
            prefix.Cat(text.p + pos, end - pos);
            const XFileName parent = XFileName(prefix).GetFolder();
            XFileName parentFolder(parent);
            parentFolder.RemoveTrailingSlash();
            const std::string bytes = prefix.ToUTF8String();
            if (IsVolumeRoot(prefix)) {
                // A volume root is the system's, never ours to create.
            } else if (!parentFolder.IsEmpty() && prefix.FindChar(L'/') && IsVolumeRoot(parentFolder)) {
                // A volume must be mounted; a folder made in its place would take its data.
                if (access(bytes.c_str(), R_OK) != 0)
                    return false;
            } else if (mkdir(bytes.c_str(), mode) != 0) {
                struct stat st;
                if (errno != EEXIST)
                    return false;
                if (stat(bytes.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
                    errno = ENOTDIR;
                    return false;
                }
            }
            prefix.CatChar(L'/');
        }
        pos = end + 1;
    }
    return true;
}

bool XRemoveFolder(const wchar_t* path)
{
    return path && rmdir(U8(path).c_str()) == 0;
}

bool XCopyFile(const wchar_t* from, const wchar_t* to, bool failIfExists)
{
    if (!from || !to)
        return false;
    XIgnoreFileSizeSignal();
    return CopyEntryAt(AT_FDCWD, U8(from).c_str(), U8(to), true, failIfExists ? Existing::Fail : Existing::Overwrite,
                       false);
}

bool XMoveFile(const wchar_t* from, const wchar_t* to)
{
    if (!from || !to)
        return false;
    const std::string f = U8(from), t = U8(to);
    if (rename(f.c_str(), t.c_str()) == 0)
        return true;
    if (errno != EXDEV)
        return false;
    return MoveAcross(f, t, false);
}

bool XMoveFileNoReplace(const wchar_t* from, const wchar_t* to)
{
    if (!from || !to)
        return false;
    const std::string f = U8(from), t = U8(to);
    if (renameat2(AT_FDCWD, f.c_str(), AT_FDCWD, t.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EXDEV)
        return MoveAcross(f, t, true);
    if (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP) {
        // EINVAL is also the answer to moving a folder into itself: only a file system
        // without the flag gets the fallback.
        struct stat st;
        if (lstat(f.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            XFileName target(XStr::FromUTF8(t));
            const XFileName source(XStr::FromUTF8(f));
            if (target.BeginsWith((source + L"/").p)) {
                errno = EINVAL;
                return false;
            }
        }
        return MoveNoReplaceFallback(f, t);
    }
    return false;
}

bool XMoveFileEx(const wchar_t* from, const wchar_t* to, bool allowReplace)
{
    return allowReplace ? XMoveFile(from, to) : XMoveFileNoReplace(from, to);
}

bool XDeleteFile(const wchar_t* path)
{
    return path && remove(U8(path).c_str()) == 0;
}

bool XDeleteFolderTree(const wchar_t* folder, bool removeFolder, const wchar_t* pattern, bool recurse)
{
    if (!folder || wcslen(folder) < 3) {
        errno = EINVAL;
        return false;
    }
    std::string path = U8(folder);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (path == "/") {
        errno = EINVAL;
        return false;
    }
    const XStr mask(pattern ? pattern : L"*.*");
    const bool all = mask == L"*.*";
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return false;
    if (S_ISLNK(st.st_mode)) {
        // The link is the tree's top: it goes, what it points at stays.
        if (removeFolder)
            return unlink(path.c_str()) == 0;
        errno = ENOTDIR;
        return false;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    TreeWalk walk;
    walk.ancestors.emplace_back(st.st_dev, st.st_ino);
    bool ok = DeleteContents(fd, mask, all, recurse, walk);
    close(fd);
    if (ok && removeFolder && rmdir(path.c_str()) != 0 && all)
        ok = false;
    return ok;
}

bool XDeleteFiles(const wchar_t* pattern, const wchar_t* folder)
{
    return XDeleteFolderTree(folder, false, pattern, false);
}

bool XCopyFolderTree(const wchar_t* from, const wchar_t* to)
{
    if (!from || !to)
        return false;
    XIgnoreFileSizeSignal();
    const std::string source = U8(from), target = U8(to);
    const int fd = open(source.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st, tst;
    const bool existed = lstat(target.c_str(), &tst) == 0;
    if (fstat(fd, &st) != 0 || !XCreateFolderTreeWithMode(to, 0777) || stat(target.c_str(), &tst) != 0) {
        const int err = errno;
        close(fd);
        errno = err;
        return false;
    }
    TreeWalk walk;
    walk.ancestors.emplace_back(st.st_dev, st.st_ino);
    walk.hasSkip = true;
    walk.skip = FileId(tst.st_dev, tst.st_ino);
    const bool ok = CopyContents(fd, target, Existing::Overwrite, false, walk);
    if (ok && !existed)
        CopyFolderMetadata(fd, st, target);
    const int err = errno;
    close(fd);
    errno = err;
    return ok;
}

bool XMoveFolderTree(const wchar_t* from, const wchar_t* to)
{
    if (!from || !to)
        return false;
    const std::string source = U8(from), target = U8(to);
    struct stat st, tst;
    if (lstat(source.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode))
        return XMoveFileNoReplace(from, to); // a link to a folder moves as the link
    const bool existed = lstat(target.c_str(), &tst) == 0;
    if (!XCreateFolderTree(to) || stat(target.c_str(), &tst) != 0)
        return false;
    TreeWalk walk;
    walk.ancestors.emplace_back(st.st_dev, st.st_ino);
    walk.hasSkip = true;
    walk.skip = FileId(tst.st_dev, tst.st_ino);
    if (!MoveContents(source, target, walk))
        return false;
    if (!existed) {
        const int fd = open(source.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            CopyFolderMetadata(fd, st, target);
            close(fd);
        }
    }
    rmdir(source.c_str());
    return true;
}
