#include "xclass/XFileIdentity.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "xclass/XStr.h"

namespace {

#ifndef FS_CASEFOLD_FL
#define FS_CASEFOLD_FL 0x40000000
#endif

XFileId IdOf(const struct stat& st)
{
    XFileId id;
    id.device = static_cast<uint64_t>(st.st_dev);
    id.inode = static_cast<uint64_t>(st.st_ino);
    id.exists = true;
    return id;
}

bool IsDirectory(const std::string& path, XFileId& id)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    id = IdOf(st);
    return true;
}

std::string Join(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The name with the case of its ASCII letters swapped; unchanged when it has none.
std::string SwapCase(const std::string& name)
{
    std::string swapped = name;
    for (char& c : swapped) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    }
    return swapped;
}

// Looks a name of the folder up under the other case: the same file means the folder folds.
std::optional<bool> ProbeEntries(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return std::nullopt;
    int answer = -1; // unknown, else false (0) or true (1)
    int tried = 0;
    while (answer < 0 && tried < 256) {
        const struct dirent* entry = ::readdir(dir);
        if (!entry)
            break;
        const std::string name = entry->d_name;
        const std::string swapped = SwapCase(name);
        if (name == "." || name == ".." || swapped == name)
            continue;
        ++tried;
        struct stat original, other;
        if (::lstat(Join(folder, name).c_str(), &original) != 0)
            continue;
        if (::lstat(Join(folder, swapped).c_str(), &other) != 0)
            answer = errno == ENOENT ? 0 : -1;
        else
            answer = IdOf(original) == IdOf(other) ? 1 : 0;
    }
    ::closedir(dir);
    return answer < 0 ? std::nullopt : std::optional<bool>(answer == 1);
}

// The folder's own name looked up under the other case in its parent, when both are on one
// volume (the name of a mount point belongs to the volume around it).
std::optional<bool> ProbeOwnName(const std::string& folder)
{
    const size_t slash = folder.rfind('/');
    if (slash == std::string::npos || folder.size() <= 1)
        return std::nullopt;
    const std::string parent = slash == 0 ? "/" : folder.substr(0, slash);
    const std::string name = folder.substr(slash + 1);
    const std::string swapped = SwapCase(name);
    struct stat self, up, other;
    if (swapped == name || ::stat(folder.c_str(), &self) != 0 || ::stat(parent.c_str(), &up) != 0 ||
        self.st_dev != up.st_dev)
        return std::nullopt;
    if (::stat(Join(parent, swapped).c_str(), &other) != 0)
        return errno == ENOENT ? std::optional<bool>(false) : std::nullopt;
    return IdOf(self) == IdOf(other);
}

uint32_t FoldCodePoint(uint32_t c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return c + 0x20;
    if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F)
            return c; // dotted and dotless i, kra, n preceded by apostrophe, long s
        if (c == 0x178)
            return 0xFF;
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        return oddUpper ? (c % 2 == 1 ? c + 1 : c) : (c % 2 == 0 ? c + 1 : c);
    }
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2)
        return c + 0x20;
    if (c >= 0x410 && c <= 0x42F)
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    return c;
}

} // namespace

XFileId XFileIdOf(const std::string& path, bool followLinks)
{
    struct stat st;
    if (path.empty() || (followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0)
        return XFileId();
    return IdOf(st);
}

std::optional<bool> XFileSystemFoldsCase(int64_t type, bool casefolded)
{
    if (casefolded)
        return true;
    switch (static_cast<uint32_t>(type)) {
    case 0x4d44u:     // FAT (vfat, msdos)
    case 0x2011BAB0u: // exFAT
    case 0x5346544eu: // NTFS
    case 0x7366746eu: // NTFS (ntfs3)
    case 0xFF534D42u: // CIFS
    case 0xFE534D42u: // SMB2/3
    case 0x517Bu:     // SMB
        return true;
    case 0xEF53u:     // ext2, ext3, ext4 (case folds only with the attribute)
    case 0xF2F52010u: // f2fs (likewise)
    case 0x01021994u: // tmpfs (likewise)
    case 0x9123683Eu: // btrfs
    case 0x794c7630u: // overlayfs
    case 0x858458f6u: // ramfs
    case 0x73717368u: // squashfs
    case 0xE0F5E1E2u: // erofs
    case 0x52654973u: // reiserfs
        return false;
    default:
        return std::nullopt; // xfs, zfs, jfs, hfs+, NFS, FUSE, 9p: it depends on how it was made
    }
}

bool XFolderFoldsCase(const std::string& folder)
{
    struct statfs fs;
    if (::statfs(folder.c_str(), &fs) != 0)
        return true;
    bool casefolded = false;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        int flags = 0;
        casefolded = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL) != 0;
        ::close(fd);
    }
    if (const std::optional<bool> byType = XFileSystemFoldsCase(static_cast<int64_t>(fs.f_type), casefolded))
        return *byType;
    if (const std::optional<bool> probed = ProbeEntries(folder))
        return *probed;
    if (const std::optional<bool> probed = ProbeOwnName(folder))
        return *probed;
    return true;
}

std::string XFoldNameCase(const std::string& utf8)
{
    std::string out;
    out.reserve(utf8.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    const size_t size = utf8.size();
    for (size_t i = 0; i < size;) {
        const unsigned char lead = bytes[i];
        size_t length = lead < 0x80             ? 1
                        : (lead & 0xE0) == 0xC0 ? 2
                        : (lead & 0xF0) == 0xE0 ? 3
                        : (lead & 0xF8) == 0xF0 ? 4
                                                : 0;
        uint32_t c = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
        bool valid = length > 0 && i + length <= size;
        for (size_t k = 1; valid && k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80)
                valid = false;
            else
                c = (c << 6) | (bytes[i + k] & 0x3F);
        }
        if (!valid) {
            out += static_cast<char>(lead); // not UTF-8: the byte as it is
            ++i;
            continue;
        }
        XAppendCodePointUTF8(out, length > 1 && c < 0x80 ? c : FoldCodePoint(c));
        i += length;
    }
    return out;
}

XFileKeyMaker::XFileKeyMaker(FoldQuery query) : m_query(std::move(query)) {}

bool XFileKeyMaker::folds(const std::string& folder, const XFileId& id)
{
    const auto known = m_folds.find(id);
    if (known != m_folds.end())
        return known->second;
    const bool answer = m_query ? m_query(folder) : XFolderFoldsCase(folder);
    m_folds.emplace(id, answer);
    return answer;
}

std::string XFileKeyMaker::key(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return std::string();
    std::vector<std::string> components;
    for (size_t begin = 0; begin <= path.size();) {
        size_t end = path.find('/', begin);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(begin, end - begin);
        if (!part.empty() && part != ".")
            components.push_back(part);
        begin = end + 1;
    }
    // The deepest existing folder, walked down from the root so that the kernel resolves
    // links and ".." on the way; the last component is never entered.
    std::string folder = "/";
    XFileId folderId;
    if (!IsDirectory(folder, folderId))
        return std::string();
    size_t i = 0;
    for (; i + 1 < components.size(); ++i) {
        const std::string next = Join(folder, components[i]);
        XFileId nextId;
        if (!IsDirectory(next, nextId))
            break;
        folder = next;
        folderId = nextId;
    }
    // Below it nothing exists yet: ".." takes back the name before it.
    std::vector<std::string> rest;
    for (; i < components.size(); ++i) {
        if (components[i] == "..") {
            if (!rest.empty())
                rest.pop_back();
        } else {
            rest.push_back(components[i]);
        }
    }
    // New folders below take the case rule of the folder they are made in.
    const bool fold = !rest.empty() && folds(folder, folderId);
    std::string key = std::to_string(folderId.device) + ":" + std::to_string(folderId.inode);
    for (const std::string& part : rest)
        key += "/" + (fold ? XFoldNameCase(part) : part);
    return key;
}

bool XFileKeyMaker::sameFile(const std::string& a, const std::string& b)
{
    const std::string keyA = key(a);
    if (!keyA.empty() && keyA == key(b))
        return true;
    return XFileIdOf(a) == XFileIdOf(b);
}

std::string XFileKey(const std::string& path)
{
    return XFileKeyMaker().key(path);
}

bool XSameFile(const std::string& a, const std::string& b)
{
    return XFileKeyMaker().sameFile(a, b);
}
