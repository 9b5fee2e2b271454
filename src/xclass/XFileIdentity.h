// Which file a path names, as the file system sees it rather than as the text reads. Two
// destinations that differ as text can be one file: a folder reached through a link, a bind
// mount, or a volume that compares names without case (FAT, exFAT, NTFS, SMB shares, ext4 or
// tmpfs folders with the casefold attribute). Guards that keep outputs apart, or an output
// away from a source, compare these keys and identities, never the path text.
//
// A key is the identity (device and inode) of the deepest folder of the path that exists,
// followed by the rest of the path below it, folded where that folder's volume folds case.
// Renaming a file over a path replaces the entry of its last component, so the last
// component is never followed: a link there is replaced, not its target.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>

// The device and inode of a file that exists.
struct XFileId {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool exists = false;

    // Equal only when both exist and are one file.
    bool operator==(const XFileId& other) const
    {
        return exists && other.exists && device == other.device && inode == other.inode;
    }
    bool operator<(const XFileId& other) const
    {
        return std::tie(exists, device, inode) < std::tie(other.exists, other.device, other.inode);
    }
};

// The file the path names now; followLinks false looks at a link itself.
XFileId XFileIdOf(const std::string& path, bool followLinks = true);

// Whether a volume of this file-system type (statfs's f_type) folds case in names: true or
// false where the type settles it, none where only asking the folder tells. casefolded is the
// folder's casefold attribute (ext4, f2fs, tmpfs), which folds names on any type.
std::optional<bool> XFileSystemFoldsCase(int64_t type, bool casefolded);

// Whether names in this existing folder compare without case: from its file-system type and
// attribute, else by looking one of its names up under the other case. When nothing tells
// (an unknown type, no name to try), taken as folding, so that two names alike but for case
// are kept apart rather than written over each other.
bool XFolderFoldsCase(const std::string& folder);

// The text as volumes that fold case compare it: letters of ASCII, Latin-1, Latin
// Extended-A, Greek and Cyrillic in lower case; bytes that are not UTF-8 kept.
std::string XFoldNameCase(const std::string& utf8);

// Makes keys, remembering each folder's case rule for the questions it is asked (a batch of
// destinations in a few folders asks each volume once). Not shared between threads.
class XFileKeyMaker {
public:
    // Answers whether names in an existing folder fold case; the default asks the volume.
    using FoldQuery = std::function<bool(const std::string& folder)>;
    explicit XFileKeyMaker(FoldQuery query = nullptr);

    // The key of an absolute path; empty for an empty or relative one.
    std::string key(const std::string& path);
    // Whether two paths name one file: equal keys, or both exist and are one file (a hard
    // link, or a link at the last component, counts as the same file).
    bool sameFile(const std::string& a, const std::string& b);

private:
    bool folds(const std::string& folder, const XFileId& id);

    FoldQuery m_query;
    std::map<XFileId, bool> m_folds;
};

// The same with a maker of its own.
std::string XFileKey(const std::string& path);
bool XSameFile(const std::string& a, const std::string& b);
