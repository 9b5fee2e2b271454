#include "KREStartup.h"

#include "XEnvironment.h"
#include "XFileName.h"
#include "XRegistry.h"

#include <cerrno>
#include <cstring>
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
        path.pop_back(); // so that a file in the folder's place is seen as one
    if (!XFileExists(folder.p))
        XCreateFolderTreeWithMode(folder.p, 0700);

    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        // The program still runs; only its settings cannot be kept.
        Warn(warning, "the application-data folder " + path + " could not be created: " + std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        Warn(warning, "the application-data folder " + path + " is not a folder");
        return false;
    }
    if ((st.st_mode & 077) == 0)
        return true; // nobody but the owner gets in
    // A folder from an earlier version, made by hand or under a lax umask: the settings and
    // bug reports inside are nobody else's business.
    if (st.st_uid == geteuid() && chmod(path.c_str(), 0700) == 0)
        return true;
    if (st.st_uid != geteuid())
        Warn(warning, "the application-data folder " + path + " belongs to another user and is open to others");
    else
        Warn(warning, "the application-data folder " + path + " could not be made private (mode 0700): " +
                          std::strerror(errno));
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
