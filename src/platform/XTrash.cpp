#include "platform/XTrash.h"
#include "xclass/XEnvironment.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "xclass/XFileName.h"
#include "xclass/XList.h"
#include "xclass/XPlatform.h"

namespace {

struct Report {
    std::string trashedPath;
    std::string error;
};

bool IsAbsolute(const char* text)
{
    return text && text[0] == '/';
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty() || folder == "/")
        return "/" + name;
    return folder + "/" + name;
}

std::string HomeTrashBytes()
{
    // Relative values of these variables are to be ignored, as if unset.
    const std::string dataHome = XGetEnv("XDG_DATA_HOME");
    if (IsAbsolute(dataHome.c_str()))
        return JoinPath(dataHome.c_str(), "Trash");
    const std::string home = XGetEnv("HOME");
    if (IsAbsolute(home.c_str()))
        return JoinPath(home.c_str(), ".local/share/Trash");
    return std::string();
}

// A folder we may put files into: a real folder (no link) owned by us.
bool IsOwnFolder(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid();
}

bool MakeFolder(const std::string& path)
{
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// Makes (when missing) and checks one folder of a trash; on failure why says what is wrong.
bool EnsureTrashFolder(const std::string& path, std::string* why)
{
    if (!MakeFolder(path)) {
        if (why)
            *why = "cannot make '" + path + "': " + strerror(errno);
        return false;
    }
    if (!IsOwnFolder(path)) {
        if (why)
            *why = "'" + path + "' is not a folder of this user";
        return false;
    }
    return true;
}

bool EnsureFilesAndInfo(const std::string& root, std::string* why = nullptr)
{
    for (const char* sub : {"files", "info"})
        if (!EnsureTrashFolder(JoinPath(root, sub), why))
            return false;
    return true;
}

// The home trash, made (mode 0700, parents too) when missing.
bool EnsureHomeTrash(const std::string& root)
{
    if (root.empty())
        return false;
    if (!XCreateFolderTreeWithMode(XStr::FromUTF8(root), 0700))
        return false;
    // The user's own folder: a link the user made there is followed.
    struct stat st;
    if (stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
        return false;
    return EnsureFilesAndInfo(root);
}

// The trash of the volume whose top folder is topdir: $topdir/.Trash/$uid when the
// administrator made a sticky, real $topdir/.Trash, else $topdir/.Trash-$uid. Empty when
// neither can be made or used (why then says what stood in the way of the second).
std::string EnsureTopdirTrash(const std::string& topdir, std::string* why)
{
    const std::string uid = std::to_string(static_cast<unsigned long>(getuid()));
    const std::string shared = JoinPath(topdir, ".Trash");
    struct stat st;
    if (lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        const std::string mine = JoinPath(shared, uid);
        if (MakeFolder(mine) && IsOwnFolder(mine) && EnsureFilesAndInfo(mine))
            return mine;
    }
    const std::string mine = JoinPath(topdir, ".Trash-" + uid);
    if (EnsureTrashFolder(mine, why) && EnsureFilesAndInfo(mine, why))
        return mine;
    return std::string();
}

// Percent-encoding of the Path key: every byte but the unreserved ones and "/".
std::string EncodePath(const std::string& path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char ch : path) {
        if ((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '-' ||
            ch == '_' || ch == '.' || ch == '~' || ch == '/') {
            out += static_cast<char>(ch);
        } else {
            out += '%';
            out += hex[ch >> 4];
            out += hex[ch & 15];
        }
    }
    return out;
}

std::string DeletionDate()
{
    const time_t now = time(nullptr);
    struct tm local;
    char text[64] = "";
    if (localtime_r(&now, &local))
        strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

bool WriteAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The entry name of an item in the trash: its own name, shortened (at a character
// boundary) so that "NAME.NNNNNN.trashinfo" fits the 255-byte name limit.
std::string BaseEntryName(const std::string& name)
{
    constexpr size_t limit = 200;
    if (name.size() <= limit)
        return name;
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut;
    return name.substr(0, cut);
}

// Writes the .trashinfo record, then renames source into files/ under the same name.
// Nothing is copied: any failure leaves source where it was. errno tells the cause.
bool MoveIntoTrash(const std::string& root, const std::string& source, const std::string& name,
                   const std::string& recordedPath, Report& report)
{
    const std::string base = BaseEntryName(name);
    const std::string content =
        "[Trash Info]\nPath=" + EncodePath(recordedPath) + "\nDeletionDate=" + DeletionDate() + "\n";
    for (unsigned attempt = 1; attempt <= 100000; ++attempt) {
        const std::string entry = attempt == 1 ? base : base + "." + std::to_string(attempt);
        const std::string info = JoinPath(root, "info/" + entry + ".trashinfo");
        const int fd = open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue; // the name is taken: the O_EXCL create is what reserves a name
            return false;
        }
        const bool written = WriteAll(fd, content);
        const int savedErrno = errno;
        if (close(fd) != 0 || !written) {
            unlink(info.c_str());
            errno = written ? EIO : savedErrno;
            return false;
        }
        const std::string target = JoinPath(root, "files/" + entry);
        int result = renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // File systems without RENAME_NOREPLACE (and a folder moved into itself, which
            // the plain rename refuses again).
            struct stat st;
            if (lstat(target.c_str(), &st) == 0) {
                errno = EEXIST;
            } else {
                result = rename(source.c_str(), target.c_str());
            }
        }
        if (result == 0) {
            report.trashedPath = target;
            return true;
        }
        const int renameErrno = errno;
        unlink(info.c_str());
        errno = renameErrno;
        if (renameErrno == EEXIST || renameErrno == ENOTEMPTY)
            continue; // a stray entry without a record holds the name
        return false;
    }
    errno = EEXIST;
    return false;
}

std::string Describe(const char* what, const std::string& path, int error)
{
    std::string text = what;
    text += " '" + path + "'";
    if (error != 0)
        text += std::string(": ") + strerror(error);
    return text;
}

bool MoveOne(const XStr& path, Report& report)
{
    std::string given = path.ToUTF8String();
    if (given.empty() || given.find('\0') != std::string::npos) {
        report.error = "invalid path";
        return false;
    }
    while (given.size() > 1 && given.back() == '/')
        given.pop_back();
    struct stat item;
    if (lstat(given.c_str(), &item) != 0) {
        report.error = Describe("cannot find", given, errno);
        return false;
    }
    const size_t slash = given.rfind('/');
    const std::string name = slash == std::string::npos ? given : given.substr(slash + 1);
    const std::string parent =
        slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : given.substr(0, slash));
    if (name.empty() || name == "." || name == "..") {
        report.error = Describe("cannot move to the trash", given, EINVAL);
        return false;
    }
    // The item's own name is kept (a link is trashed as a link); its folder is resolved.
    char* resolved = realpath(parent.c_str(), nullptr);
    if (!resolved) {
        report.error = Describe("cannot resolve the folder of", given, errno);
        return false;
    }
    const std::string folder = resolved;
    free(resolved);
    const std::string absolute = JoinPath(folder, name);
    const bool isFolder = S_ISDIR(item.st_mode);

    // Home volume: the home trash, when it lies on the item's file system.
    const std::string homeTrash = HomeTrashBytes();
    if (!homeTrash.empty()) {
        // The trash may not exist yet: its nearest existing folder tells the volume.
        std::string probe = homeTrash;
        struct stat st;
        bool found;
        while (!(found = stat(probe.c_str(), &st) == 0) && probe.size() > 1) {
            const size_t cut = probe.rfind('/');
            probe = cut == 0 ? std::string("/") : probe.substr(0, cut);
        }
        if (found && st.st_dev == item.st_dev && EnsureHomeTrash(homeTrash)) {
            if (MoveIntoTrash(homeTrash, absolute, name, absolute, report))
                return true;
            if (errno != EXDEV) {
                report.error = Describe("cannot move to the trash", given, errno);
                return false;
            }
            // Same device number, yet another mount (a bind mount): the trash of the
            // item's own mount takes it below.
        }
    }

    // Any other volume: the trash at the top folder of the item's own mount.
    const XStr mountPoint = XGetMountPoint(XStr::FromUTF8(isFolder ? absolute : folder));
    const std::string topdir = mountPoint.ToUTF8String();
    if (topdir.empty()) {
        report.error = Describe("cannot find the volume of", given, errno);
        return false;
    }
    std::string why;
    const std::string trash = EnsureTopdirTrash(topdir, &why);
    if (trash.empty()) {
        // Never deleted instead: the file stays, and the message says why.
        report.error = "no trash can be used for '" + given + "' on the volume at '" + topdir + "': " + why;
        return false;
    }
    std::string relative = absolute;
    if (topdir != "/" && relative.compare(0, topdir.size() + 1, topdir + "/") == 0)
        relative = relative.substr(topdir.size() + 1);
    else if (topdir == "/")
        relative = relative.substr(1);
    if (MoveIntoTrash(trash, absolute, name, relative, report))
        return true;
    report.error = Describe("cannot move to the trash", given, errno);
    return false;
}

} // namespace

XTrashResult XMoveItemToTrash(const XStr& path, XStr* trashedPath, XStr* errorText)
{
    Report report;
    const bool moved = MoveOne(path, report);
    if (trashedPath)
        *trashedPath = XStr::FromUTF8(report.trashedPath);
    if (errorText)
        *errorText = XStr::FromUTF8(report.error);
    return moved ? XTrashResult::Moved : XTrashResult::Failed;
}

bool XMoveToTrash(const XStrList& paths)
{
    bool allMoved = true;
    for (int64_t i = 0; i < paths.Count(); ++i) {
        const XStr* path = paths.Get(i);
        Report report;
        if (!path || !MoveOne(*path, report))
            allMoved = false;
    }
    return allMoved;
}

XStr XGetHomeTrashFolder()
{
    return XStr::FromUTF8(HomeTrashBytes());
}
