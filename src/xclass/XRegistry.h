// XRegistry: the program's settings store, a registry of roots, backslash-separated key
// paths and named values kept in one JSON file (XJSON layout). The file's path comes from
// XCLASS_XREGISTRY_LOCATION, else "~/.XRegistry".
//
// File layout: the top level is an object of roots ("HKCU"); each key component below is a
// member object; a key's values are its members that are not objects: numbers (32- and
// 64-bit integers), strings, Base64 strings for binary data, arrays of strings for string
// lists. Names are matched ignoring case for A-Z; the first match in file order wins.
//
// Locking: readers share one cached copy per process, guarded by a recursive mutex and
// reloaded when the file changed (same inode, size and nanosecond times, or not). Loads take
// a shared flock on "<store>.lock", writers an exclusive one from their load to their save;
// writers of one process also exclude each other with a mutex, so that file systems whose
// flock is per process still serialise threads. Every write replaces the whole file through
// a temporary and a rename, so readers see the old file or the new one, never a part.
//
// A store file that cannot be read (no regular file, or beyond any real store's size) is
// never written over. One that holds text which is not a store (a cut-off file, a bad byte,
// text after the tree, a hand edit gone wrong) reads as empty, and before the next write
// replaces it, it is kept aside as "<store>.damaged-YYYYMMDD-HHMMSS". A UTF-8 byte-order
// mark at the start is allowed. A store that is a symbolic link is saved through to the
// file it points to. The temporaries of saves killed half-way are removed at the first load.
//
// Argument order: getters (valueName, root, keyPath[, notFound]); setters (value, valueName,
// root, keyPath); key functions (root, keyPath, ...). A null root or key path means the
// process-wide default (SetDefaultKey); with no default root the root is "UNSPEC".
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <sys/types.h>

#include "xclass/XFile.h"
#include "xclass/XJSON.h"
#include "xclass/XList.h"
#include "xclass/XStr.h"

struct XBuffer;

// What identifies one version of the store file.
struct XRegistryFileStamp {
    bool Exists = false;
    dev_t Device = 0;
    ino_t Inode = 0;
    int64_t Size = 0;
    struct timespec WriteTime = {};
    struct timespec ChangeTime = {};

    bool operator==(const XRegistryFileStamp& other) const;
    // stat of path (Exists false when it fails).
    static XRegistryFileStamp Of(const wchar_t* path);
    static XRegistryFileStamp OfHandle(int fd);
};

class XRegistry {
public:
    XStr Path;                      // the store file's path at load time
    XStr Target;                    // the file it names through any links: what a save replaces
    XFile LockFile;                 // open only while a lock is held
    XJSON::AnyType* Root = nullptr; // an Object after a successful load, a Null before
    bool Dirty = false;
    int64_t ModTime = 0;      // write time at load (100-ns units since 1601, whole seconds)
    XRegistryFileStamp Stamp; // the loaded file's identity, size and exact times
    bool LoadFailed = false;  // the store file exists but could not be read: no saving
    bool Damaged = false;     // held something else than a store: kept aside before saving

    // Loads with a shared lock (load false: an empty copy, nothing loaded).
    explicit XRegistry(bool load = true);
    ~XRegistry();
    XRegistry(const XRegistry&) = delete;
    XRegistry& operator=(const XRegistry&) = delete;

    // ---- Set-up ----
    static bool SetLocation(const wchar_t* path, bool overwrite);
    static bool HasLocation();
    static XStr GetLocation();
    // Both defaults are copied.
    static void SetDefaultKey(const wchar_t* root, const wchar_t* keyPath);
    static XStr GetDefaultRoot(); // the default root, else "UNSPEC"
    static XStr GetDefaultKeyPath();

    // ---- Getters (through the process cache) ----
    static uint32_t GetDWORD(const wchar_t* valueName, const wchar_t* root = nullptr, const wchar_t* keyPath = nullptr,
                             bool* notFound = nullptr);
    static int32_t GetInt(const wchar_t* valueName, const wchar_t* root = nullptr, const wchar_t* keyPath = nullptr,
                          bool* notFound = nullptr);
    static int64_t GetInt64(const wchar_t* valueName, const wchar_t* root = nullptr, const wchar_t* keyPath = nullptr,
                            bool* notFound = nullptr);
    static XStr GetString(const wchar_t* valueName, const wchar_t* root = nullptr, const wchar_t* keyPath = nullptr,
                          bool* notFound = nullptr);
    static bool GetBinary(const wchar_t* valueName, XBuffer* out, const wchar_t* root = nullptr,
                          const wchar_t* keyPath = nullptr);
    static bool GetBinaryExact(const wchar_t* valueName, void* data, uint32_t size, const wchar_t* root = nullptr,
                               const wchar_t* keyPath = nullptr);
    static uint32_t GetBinarySize(const wchar_t* valueName, const wchar_t* root = nullptr,
                                  const wchar_t* keyPath = nullptr, bool* notFound = nullptr);
    static bool GetStringList(XStrList* out, const wchar_t* valueName, const wchar_t* root = nullptr,
                              const wchar_t* keyPath = nullptr);
    static bool ValueExists(const wchar_t* valueName, const wchar_t* root = nullptr, const wchar_t* keyPath = nullptr);
    static bool KeyExists(const wchar_t* root = nullptr, const wchar_t* keyPath = nullptr);
    static bool EnumKeys(const wchar_t* root, const wchar_t* keyPath, XStrList* out);
    static bool EnumValues(const wchar_t* root, const wchar_t* keyPath, XStrList* out);

    // ---- Setters and deletions: each one exclusive load, change, save. False when the
    // store could not be locked, read or written (it is then left as it was). ----
    static bool SetDWORD(uint32_t value, const wchar_t* valueName, const wchar_t* root = nullptr,
                         const wchar_t* keyPath = nullptr);
    static bool SetInt(int32_t value, const wchar_t* valueName, const wchar_t* root = nullptr,
                       const wchar_t* keyPath = nullptr);
    static bool SetInt64(int64_t value, const wchar_t* valueName, const wchar_t* root = nullptr,
                         const wchar_t* keyPath = nullptr);
    static bool SetString(const wchar_t* text, const wchar_t* valueName, const wchar_t* root = nullptr,
                          const wchar_t* keyPath = nullptr);
    static bool SetBinary(const wchar_t* valueName, const void* data, size_t size, const wchar_t* root = nullptr,
                          const wchar_t* keyPath = nullptr);
    static bool SetStringList(const XStrList* list, const wchar_t* valueName, const wchar_t* root = nullptr,
                              const wchar_t* keyPath = nullptr);
    static bool DeleteValue(const wchar_t* valueName, const wchar_t* root = nullptr, const wchar_t* keyPath = nullptr);
    static bool DeleteKey(const wchar_t* root, const wchar_t* keyPath, const wchar_t* name);

    // ---- One loaded copy (shared with the transactions) ----
    // Loads the file at GetLocation: keepLock takes and keeps the exclusive lock (for a
    // write), else a shared lock held only while reading. False when nothing was loaded.
    bool Load(bool keepLock);
    // Writes the tree when it changed and the exclusive lock is held. True when nothing had
    // to be written or the write succeeded.
    bool Save();
    // Save, then give up the lock and drop the process cache. The result of the save.
    bool Release();

    // Root name, then the key path's components: leading backslashes skipped, inner empty
    // components kept, trailing ones dropped.
    static XStrList SplitPath(const wchar_t* root, const wchar_t* keyPath);

    XJSON::Object* FindKey(const wchar_t* root, const wchar_t* keyPath);
    XJSON::Object* FindKeyForWrite(const wchar_t* root, const wchar_t* keyPath);
    XJSON::AnyType* FindValue(const wchar_t* root, const wchar_t* keyPath, const wchar_t* valueName);
    // Takes ownership of value (never an object).
    void SetValue(const wchar_t* root, const wchar_t* keyPath, const wchar_t* valueName, XJSON::AnyType* value);
    void RemoveValue(const wchar_t* root, const wchar_t* keyPath, const wchar_t* valueName);
    void RemoveKey(const wchar_t* root, const wchar_t* keyPath, const wchar_t* name);
    // The first member object named name (A-Z folded); else a new one appended when create,
    // else EmptyObject.
    static XJSON::Object* Child(XJSON::Object* object, const wchar_t* name, bool create);
    // The object at the end of components (all of them), or null when one is missing.
    XJSON::Object* Walk(const XStrList& components, int64_t count, bool create);

    // The getters on this copy.
    uint32_t ReadDWORD(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath, bool* notFound);
    int32_t ReadInt(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath, bool* notFound);
    int64_t ReadInt64(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath, bool* notFound);
    XStr ReadString(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath, bool* notFound);
    bool ReadBinary(const wchar_t* valueName, XBuffer* out, const wchar_t* root, const wchar_t* keyPath);
    bool ReadBinaryExact(const wchar_t* valueName, void* data, uint32_t size, const wchar_t* root,
                         const wchar_t* keyPath);
    uint32_t ReadBinarySize(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath, bool* notFound);
    bool ReadStringList(XStrList* out, const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath);
    bool HasValue(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath);
    bool HasKey(const wchar_t* root, const wchar_t* keyPath);
    bool ListNames(const wchar_t* root, const wchar_t* keyPath, XStrList* out, bool keys);

    // The process cache: LockCache locks the cache mutex and reloads the cache when the
    // file changed; the returned copy is valid until UnlockCache.
    static XRegistry* LockCache();
    static void UnlockCache();
    // Drops the cached copy (the next reader loads the file again).
    static void DropCache();

private:
    bool KeepDamagedCopy();
    void CloseLock();
    bool m_holdsWriter = false;
};
