#include "app/KREStartup.h"

#include "xclass/XEnvironment.h"
#include "xclass/XFileName.h"
#include "xclass/XRegistry.h"
#include "xclass/XTempFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string WithoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string ParentFolder(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void Warn(std::string* warning, const std::string& text)
{
    if (warning) {
        if (!warning->empty())
            *warning += "\n";
        *warning += text;
    }
}
} // namespace

bool KREStartup::prepareDataFolder(const XStr& folder, std::string* warning)
{
    std::string path = folder.ToUTF8String();
    while (path.size() > 1 && path.back() == '/')
        path.pop_back(); // so that a link or a file in the folder's place is seen as one
    int makeError = 0;
    if (!XFileExists(folder.p) && !XCreateFolderTreeWithMode(folder.p, 0700))
        makeError = errno;

    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        // The program still runs; only its settings cannot be kept.
        Warn(warning, "the application-data folder " + path +
                          " could not be created: " + std::strerror(makeError ? makeError : errno));
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        // Whatever the link leads to is not ours to tighten: it may be a folder shared by
        // everyone (a sticky /tmp-like folder) that would lose its rights.
        struct stat target {};
        if (stat(path.c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) {
            Warn(warning, "the application-data folder " + path + " is a symbolic link that leads to no folder");
            return false;
        }
        if ((target.st_mode & 077) == 0)
            return true;
        Warn(warning, "the application-data folder " + path +
                          " is a symbolic link to a folder open to others; its rights are left as they are");
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        Warn(warning, "the application-data folder " + path + " is not a folder");
        return false;
    }
    if ((st.st_mode & 077) == 0)
        return true; // nobody but the owner gets in
    if (st.st_uid != geteuid()) {
        Warn(warning, "the application-data folder " + path + " belongs to another user and is open to others");
        return false;
    }
    // A folder from an earlier version, made by hand or under a lax umask: the settings and
    // bug reports inside are nobody else's business. Changed through a descriptor of the
    // folder itself, never through a link put in its place meanwhile.
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int error = fd < 0 ? errno : 0;
    if (fd >= 0) {
        struct stat opened {};
        if (fstat(fd, &opened) != 0)
            error = errno;
        else if (opened.st_uid != geteuid())
            error = EPERM;
        else if (fchmod(fd, 0700) != 0)
            error = errno;
        close(fd);
    }
    if (error == 0)
        return true;
    Warn(warning,
         "the application-data folder " + path + " could not be made private (mode 0700): " + std::strerror(error));
    return false;
}

void KREStartup::moveOldDataFolder(std::string* warning, std::string* notice)
{
    if (!XGetEnv("_APPDATA_OVERRIDE").empty())
        return;
    const XStr oldFolder = XGetOldAppDataFolder();
    if (oldFolder.IsEmpty())
        return;
    const std::string from = WithoutTrailingSlashes(oldFolder.ToUTF8String());
    const std::string to = WithoutTrailingSlashes(XGetAppDataFolder().ToUTF8String());
    struct stat st {};
    if (from == to || lstat(from.c_str(), &st) != 0)
        return;
    struct stat target {};
    if (!S_ISDIR(st.st_mode) && !(S_ISLNK(st.st_mode) && stat(from.c_str(), &target) == 0 && S_ISDIR(target.st_mode)))
        return; // not a folder of ours
    if (lstat(to.c_str(), &target) == 0)
        return; // the new place is taken: that one is used, the old one left alone
    bool moved = false;
    if (errno != ENOENT) {
        // The new place cannot be reached (a plain file on the way): nothing is moved.
    } else if (!XCreateFolderTreeWithMode(XStr::FromUTF8(ParentFolder(to)).p, 0700)) {
        // Its parent cannot be made: errno says why.
    } else if (S_ISLNK(st.st_mode)) {
        // A link the user made to keep the data elsewhere: the new place leads to the same
        // folder (a relative link would lead elsewhere if moved as it is).
        char* real = realpath(from.c_str(), nullptr);
        moved = real && symlink(real, to.c_str()) == 0 && unlink(from.c_str()) == 0;
        std::free(real);
    } else {
        moved = XMoveFileNoReplace(XStr::FromUTF8(from).p, XStr::FromUTF8(to).p);
    }
    const int error = errno;
    if (moved) {
        if (notice)
            *notice = "moved the data folder of an earlier version from " + from + " to " + to;
        return;
    }
    if (lstat(from.c_str(), &st) != 0)
        return; // another start of the program has just moved it
    Warn(warning, "the data folder of an earlier version " + from + " could not be moved to " + to + ": " +
                      (error ? std::strerror(error) : "unknown error") + "; it is used where it is");
    XSetEnv("_APPDATA_OVERRIDE", ParentFolder(from).c_str(), true);
}

bool KREStartup::dataFolderWritable(const XStr& folder, std::string* reason)
{
    const std::string path = WithoutTrailingSlashes(folder.ToUTF8String());
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    // Permission bits say nothing for root, and nothing of a read-only mount: a file is made.
    const std::string probe = path + "/.write-test-" + std::to_string(getpid());
    const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (reason)
            *reason = "the application-data folder " + path + " cannot be written: " + std::strerror(errno);
        return false;
    }
    close(fd);
    unlink(probe.c_str());
    return true;
}

XStr KREStartup::run(std::string* warning, std::string* notice)
{
    XSetAppDataFolder(kInternalName);
    moveOldDataFolder(warning, notice);
    const XStr folder = XGetAppDataFolder();
    prepareDataFolder(folder, warning);
    std::string unwritable;
    if (!dataFolderWritable(folder, &unwritable)) {
        // Said once, here: each later save would only fail again for the same reason.
        if (!unwritable.empty())
            Warn(warning, unwritable);
        if (warning)
            *warning += std::string(warning->empty() ? "" : "; ") +
                        "settings, profiles and error reports are not kept, conversions still run";
    }

    // Progress files and other temporaries of a run killed before it could remove them.
    XRemoveStaleTemporaries(XGetTempFolder());

    XFileName store(folder);
    store.AppendPath(L"XRegistry");
    XRegistry::SetLocation(store.p, true);
    XRegistry::SetDefaultKey(kRegistryRoot, kRegistryKeyPath);
    return folder;
}
