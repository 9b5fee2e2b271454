#include "app/KREStartup.h"

#include "xclass/XEnvironment.h"
#include "xclass/XFileName.h"
#include "xclass/XRegistry.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
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

XStr KREStartup::run(std::string* warning)
{
    XSetAppDataFolder(kInternalName);
    const XStr folder = XGetAppDataFolder();
    prepareDataFolder(folder, warning);

    XFileName store(folder);
    store.AppendPath(L"XRegistry");
    XRegistry::SetLocation(store.p, true);
    XRegistry::SetDefaultKey(kRegistryRoot, kRegistryKeyPath);
    return folder;
}
