#include "xclass/XRegistry.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "xclass/XBase64.h"
#include "xclass/XBuffer.h"
#include "xclass/XCriticalSection.h"
#include "xclass/XEnvironment.h"
#include "xclass/XFile.h"
#include "xclass/XFileName.h"
#include "xclass/XFileRewrite.h"
#include "xclass/XTime.h"

namespace {

constexpr const char* kLocationVariable = "XCLASS_XREGISTRY_LOCATION";

// Far beyond any real store (tens of megabytes at the most): a larger file is not read at all
// rather than filling the memory, and like any unreadable store it is never written over.
constexpr size_t kMaxStoreSize = size_t{256} << 20;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

struct RegistryState {
    XCriticalSection CacheLock; // recursive: guards Cache
    XRegistry* Cache = nullptr;
    // Held by a writer from its exclusive load to its release, beside the file lock.
    std::mutex WriterLock;
    std::mutex DefaultsLock;
    // Store files whose left-over temporaries this process has already removed.
    std::mutex CleanedLock;
    std::set<std::string> Cleaned;
    bool HasDefaultRoot = false;
    XStr DefaultRoot;
    XStr DefaultKeyPath;

    ~RegistryState()
    {
        delete Cache; // dropped without saving
        Cache = nullptr;
    }
};

RegistryState& State()
{
    static RegistryState state;
    return state;
}

// Built when the library is loaded, so the state exists before main and lives until exit.
[[maybe_unused]] const RegistryState& g_stateAtStart = State();

const wchar_t* OrEmpty(const wchar_t* s)
{
    return s ? s : L"";
}

// First non-object member of that name (A-Z folded), -1 when none.
int64_t FindValueIndex(XJSON::Object* key, const wchar_t* name)
{
    name = OrEmpty(name);
    for (int64_t i = 0; i < key->Count(); i++) {
        XJSON::AnyType* v = key->CellAt(i);
        if (v && v->TypeOf() != XJSON::typeObject && XJSONNameEquals(key->NameRef(i), name, true))
            return i;
    }
    return -1;
}

int64_t FindKeyIndex(XJSON::Object* key, const wchar_t* name)
{
    name = OrEmpty(name);
    for (int64_t i = 0; i < key->Count(); i++) {
        XJSON::AnyType* v = key->CellAt(i);
        if (v && v->TypeOf() == XJSON::typeObject && XJSONNameEquals(key->NameRef(i), name, true))
            return i;
    }
    return -1;
}

// Whole-file read through a descriptor; false on a read error or beyond kMaxStoreSize (the
// file may grow while it is read).
bool ReadAll(int fd, std::string& out)
{
    out.clear();
    char chunk[65536];
    for (;;) {
        const ssize_t n = XReadRetry(fd, chunk, sizeof chunk);
        if (n <= 0)
            return n == 0;
        if (out.size() + static_cast<size_t>(n) > kMaxStoreSize)
            return false;
        out.append(chunk, static_cast<size_t>(n));
    }
}

// The store file for reading, created empty (private to the user) when missing. Never waits
// for the other end of a FIFO or for a device.
int OpenStore(const std::string& path)
{
    constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    int fd;
    do
        fd = open(path.c_str(), kFlags);
    while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno == ENOENT) {
        do
            fd = open(path.c_str(), kFlags | O_CREAT, 0600);
        while (fd < 0 && errno == EINTR);
    }
    return fd;
}

// The file a store path names, through every symbolic link, so that a save replaces the
// file the link points to and not the link. Empty when it cannot be resolved.
XStr ResolvedPath(const std::string& path)
{
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return XStr();
    const XStr result = XStr::FromUTF8(std::string(resolved));
    free(resolved);
    return result;
}

// Removes, once per process and store file, the temporaries that writers killed during a
// save left beside it: each is a full copy of the store.
void RemoveLeftTemporaries(const XStr& target)
{
    RegistryState& s = State();
    {
        std::lock_guard<std::mutex> guard(s.CleanedLock);
        if (!s.Cleaned.insert(target.ToUTF8String()).second)
            return;
    }
    XFileRemoveRewriteTempsOf(target.p);
}

bool IsBlank(std::string_view text)
{
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 1 || u > 32)
            return false;
    }
    return true;
}

// The Base64 text as bytes: characters beyond ASCII cannot be Base64 and are skipped.
std::string Base64Bytes(const XJSON::Text& text)
{
    std::string out;
    out.reserve(static_cast<size_t>(text.Length()));
    for (wchar_t c : text.View())
        out.push_back(static_cast<uint32_t>(c) < 128 && c != 0 ? static_cast<char>(c) : ' ');
    return out;
}

// Writes text as the new store file: a 0600 temporary renamed over the target.
bool WriteStore(const wchar_t* path, const std::string& text)
{
    XIgnoreFileSizeSignal();
    XFileRewrite file;
    if (!file.Open(path))
        return false;
    if (fchmod(file.Handle, 0600) != 0 || !file.Write(text.data(), text.size())) {
        file.Abort();
        return false;
    }
    // A failed rename must not leave the temporary (a copy of every setting) behind.
    return file.CommitOrAbort();
}

template <class F>
auto WithCache(F f)
{
    XRegistry* reg = XRegistry::LockCache();
    auto result = f(*reg);
    XRegistry::UnlockCache();
    return result;
}

template <class F>
bool Write(F change)
{
    XRegistry reg(false);
    if (!reg.Load(true)) {
        reg.Release();
        return false;
    }
    change(reg);
    return reg.Release();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// File stamps

bool XRegistryFileStamp::operator==(const XRegistryFileStamp& o) const
{
    return Exists == o.Exists && Device == o.Device && Inode == o.Inode && Size == o.Size &&
           WriteTime.tv_sec == o.WriteTime.tv_sec && WriteTime.tv_nsec == o.WriteTime.tv_nsec &&
           ChangeTime.tv_sec == o.ChangeTime.tv_sec && ChangeTime.tv_nsec == o.ChangeTime.tv_nsec;
}

static XRegistryFileStamp StampFrom(const struct stat& st)
{
    XRegistryFileStamp s;
    s.Exists = true;
    s.Device = st.st_dev;
    s.Inode = st.st_ino;
    s.Size = st.st_size;
    s.WriteTime = st.st_mtim;
    s.ChangeTime = st.st_ctim;
    return s;
}

XRegistryFileStamp XRegistryFileStamp::Of(const wchar_t* path)
{
    struct stat st;
    XStr p(path);
    if (stat(p.UTF8(), &st) != 0)
        return {};
    return StampFrom(st);
}

XRegistryFileStamp XRegistryFileStamp::OfHandle(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return {};
    return StampFrom(st);
}

// ---------------------------------------------------------------------------------------------
// Set-up

bool XRegistry::SetLocation(const wchar_t* path, bool overwrite)
{
    XStr p(path);
    return XSetEnv(kLocationVariable, p.ToUTF8String().c_str(), overwrite);
}

bool XRegistry::HasLocation()
{
    bool isSet = false;
    XGetEnv(kLocationVariable, &isSet);
    return isSet;
}

XStr XRegistry::GetLocation()
{
    bool isSet = false;
    const std::string value = XGetEnv(kLocationVariable, &isSet);
    XFileName path;
    if (isSet && !value.empty())
        path = XStr::FromUTF8(value);
    else
        path = L"~/.XRegistry";
    path.ExpandHome();
    return path;
}

void XRegistry::SetDefaultKey(const wchar_t* root, const wchar_t* keyPath)
{
    RegistryState& s = State();
    std::lock_guard<std::mutex> guard(s.DefaultsLock);
    s.HasDefaultRoot = root != nullptr;
    s.DefaultRoot = OrEmpty(root);
    s.DefaultKeyPath = OrEmpty(keyPath);
}

XStr XRegistry::GetDefaultRoot()
{
    RegistryState& s = State();
    std::lock_guard<std::mutex> guard(s.DefaultsLock);
    return s.HasDefaultRoot ? s.DefaultRoot : XStr(L"UNSPEC");
}

XStr XRegistry::GetDefaultKeyPath()
{
    RegistryState& s = State();
    std::lock_guard<std::mutex> guard(s.DefaultsLock);
    return s.DefaultKeyPath;
}

// ---------------------------------------------------------------------------------------------
// Loading and saving

XRegistry::XRegistry(bool load)
{
    if (load)
        Load(false);
}

XRegistry::~XRegistry()
{
    CloseLock();
    delete Root;
}

void XRegistry::CloseLock()
{
    LockFile.Close();
    if (m_holdsWriter) {
        m_holdsWriter = false;
        State().WriterLock.unlock();
    }
}

bool XRegistry::Load(bool keepLock)
{
    CloseLock();
    delete Root;
    Root = new XJSON::Null;
    Dirty = false;
    LoadFailed = false;
    Damaged = false;
    ModTime = 0;
    Stamp = {};
    Path = GetLocation();
    Target = XStr();

    if (keepLock) {
        State().WriterLock.lock();
        m_holdsWriter = true;
    }
    const XStr lockPath = Path + L".lock";
    if (!LockFile.Open(lockPath.p, XFILE_READWRITE, XFILE_OPEN_ALWAYS | XFILE_NO_LOCK, false, XFILE_SHARE_READ) ||
        !LockFile.Lock(keepLock, false)) {
        CloseLock();
        // A reader can do without the lock (a read-only data folder has no room for it):
        // writers replace the file in one rename, so it sees the old store or the new one.
        if (keepLock)
            return false;
    }

    const std::string path = XStr(Path).ToUTF8String();
    const int fd = OpenStore(path);
    std::string data;
    bool readOk = fd >= 0;
    if (readOk) {
        Stamp = XRegistryFileStamp::OfHandle(fd);
        ModTime = static_cast<int64_t>(XUnixTimeToFileTime(Stamp.WriteTime.tv_sec));
        struct stat st;
        // A FIFO or a device is no store, and one too large to be a store is not read.
        readOk = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= kMaxStoreSize;
        readOk = readOk && ReadAll(fd, data);
        close(fd);
        Target = ResolvedPath(path);
        readOk = readOk && !Target.IsEmpty();
    }
    if (!keepLock)
        CloseLock(); // the shared lock ends with the read
    if (!readOk) {
        // A file that exists but cannot be read is not an empty store: writing over it
        // would lose everything in it.
        LoadFailed = true;
        return false;
    }
    RemoveLeftTemporaries(Target);

    // A mark left by an editor is no damage; text after the tree is.
    std::string_view text(data);
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
        text.remove_prefix(kByteOrderMark.size());
    XJSON::AnyType* tree = nullptr;
    if (!IsBlank(text)) {
        size_t used = 0;
        tree = XJSON::ParseUTF8(text.data(), text.size(), &used);
        if (!tree || tree->TypeOf() != XJSON::typeObject || !IsBlank(text.substr(used))) {
            delete tree;
            tree = nullptr;
            Damaged = true;
        }
    }
    delete Root;
    Root = tree ? tree : new XJSON::Object;
    return true;
}

bool XRegistry::KeepDamagedCopy()
{
    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string from = Target.ToUTF8String();
    for (int attempt = 0; attempt < 100; attempt++) {
        std::string to = from + ".damaged-" + stamp;
        if (attempt)
            to += "-" + std::to_string(attempt);
        // A hard link keeps the damaged bytes without copying them and leaves the store in
        // place until the new file replaces it.
        if (link(from.c_str(), to.c_str()) == 0)
            return true;
        if (errno == EEXIST)
            continue;
        const XStr wideTo = XStr::FromUTF8(to);
        if (XCopyFile(Target.p, wideTo.p, true))
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool XRegistry::Save()
{
    if (!Dirty)
        return true;
    Dirty = false;
    if (!LockFile.IsOpen() || LoadFailed)
        return false;
    if (Damaged) {
        if (!KeepDamagedCopy())
            return false;
        Damaged = false;
    }
    std::string text;
    if (Root)
        Root->ToUTF8(text);
    return WriteStore(Target.p, text);
}

bool XRegistry::Release()
{
    const bool saved = Save();
    CloseLock();
    DropCache();
    return saved;
}

// ---------------------------------------------------------------------------------------------
// The cache

XRegistry* XRegistry::LockCache()
{
    RegistryState& s = State();
    s.CacheLock.Lock();
    const XStr location = GetLocation();
    const XRegistryFileStamp now = XRegistryFileStamp::Of(location.p);
    if (s.Cache && s.Cache->Stamp.Exists && s.Cache->Stamp == now && s.Cache->Path == location)
        return s.Cache;
    XRegistry* fresh = new XRegistry(true);
    delete s.Cache;
    s.Cache = fresh;
    return fresh;
}

void XRegistry::UnlockCache()
{
    State().CacheLock.Unlock();
}

void XRegistry::DropCache()
{
    RegistryState& s = State();
    s.CacheLock.Lock();
    delete s.Cache;
    s.Cache = nullptr;
    s.CacheLock.Unlock();
}

// ---------------------------------------------------------------------------------------------
// Paths and the tree

XStrList XRegistry::SplitPath(const wchar_t* root, const wchar_t* keyPath)
{
    XStrList parts;
    if (root)
        parts.Add(root);
    else
        parts.Add(GetDefaultRoot());
    XStr path = keyPath ? XStr(keyPath) : GetDefaultKeyPath();
    const wchar_t* s = path.p;
    const wchar_t* end = path.p + path.Length();
    while (s < end && *s == L'\\')
        s++;
    const int64_t first = parts.Count();
    while (s < end) {
        const wchar_t* e = s;
        while (e < end && *e != L'\\')
            e++;
        parts.Add(XStr(std::wstring_view(s, static_cast<size_t>(e - s))));
        if (e >= end)
            break;
        s = e + 1;
    }
    while (parts.Count() > first && parts[parts.Count() - 1].IsEmpty())
        parts.RemoveAt(parts.Count() - 1);
    return parts;
}

XJSON::Object* XRegistry::Child(XJSON::Object* object, const wchar_t* name, bool create)
{
    const int64_t i = FindKeyIndex(object, name);
    if (i >= 0)
        return static_cast<XJSON::Object*>(object->CellAt(i));
    if (!create)
        return &XJSON::EmptyObject;
    return object->AddObject(OrEmpty(name));
}

XJSON::Object* XRegistry::Walk(const XStrList& components, int64_t count, bool create)
{
    if (!Root || Root->TypeOf() != XJSON::typeObject) {
        if (!create)
            return nullptr;
        delete Root;
        Root = new XJSON::Object;
    }
    XJSON::Object* key = static_cast<XJSON::Object*>(Root);
    for (int64_t i = 0; i < count; i++) {
        const int64_t at = FindKeyIndex(key, components[i].p);
        if (at >= 0)
            key = static_cast<XJSON::Object*>(key->CellAt(at));
        else if (create)
            key = key->AddObject(components[i].p);
        else
            return nullptr;
    }
    return key;
}

XJSON::Object* XRegistry::FindKey(const wchar_t* root, const wchar_t* keyPath)
{
    const XStrList parts = SplitPath(root, keyPath);
    XJSON::Object* key = Walk(parts, parts.Count(), false);
    return key ? key : &XJSON::EmptyObject;
}

XJSON::Object* XRegistry::FindKeyForWrite(const wchar_t* root, const wchar_t* keyPath)
{
    if (!Root || Root->TypeOf() != XJSON::typeObject) {
        delete Root;
        Root = new XJSON::Object;
    }
    return FindKey(root, keyPath);
}

XJSON::AnyType* XRegistry::FindValue(const wchar_t* root, const wchar_t* keyPath, const wchar_t* valueName)
{
    XJSON::Object* key = FindKey(root, keyPath);
    const int64_t i = FindValueIndex(key, valueName);
    return i < 0 ? &XJSON::NullValue : key->CellAt(i);
}

void XRegistry::SetValue(const wchar_t* root, const wchar_t* keyPath, const wchar_t* valueName, XJSON::AnyType* value)
{
    if (!value)
        value = new XJSON::Null;
    const XStrList parts = SplitPath(root, keyPath);
    XJSON::Object* key = Walk(parts, parts.Count(), true);
    const int64_t i = FindValueIndex(key, valueName);
    if (i >= 0)
        key->SetAt(i, value);
    else
        key->Add(OrEmpty(valueName), value);
    Dirty = true;
}

void XRegistry::RemoveValue(const wchar_t* root, const wchar_t* keyPath, const wchar_t* valueName)
{
    const XStrList parts = SplitPath(root, keyPath);
    XJSON::Object* key = Walk(parts, parts.Count(), false);
    if (!key)
        return;
    const int64_t i = FindValueIndex(key, valueName);
    if (i >= 0) {
        key->RemoveAt(i);
        Dirty = true;
    }
}

void XRegistry::RemoveKey(const wchar_t* root, const wchar_t* keyPath, const wchar_t* name)
{
    const XStrList parts = SplitPath(root, keyPath);
    XJSON::Object* key = Walk(parts, parts.Count(), false);
    if (!key)
        return;
    const int64_t i = FindKeyIndex(key, name);
    if (i >= 0) {
        key->RemoveAt(i);
        Dirty = true;
    }
}

// ---------------------------------------------------------------------------------------------
// Reading one copy

uint32_t XRegistry::ReadDWORD(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath, bool* notFound)
{
    const int64_t v = ReadInt64(valueName, root, keyPath, notFound);
    // Through the signed form, so -1 reads as 4294967295; beyond 32 bits the nearest limit.
    if (v > static_cast<int64_t>(UINT32_MAX))
        return UINT32_MAX;
    if (v < static_cast<int64_t>(INT32_MIN))
        return static_cast<uint32_t>(INT32_MIN);
    return static_cast<uint32_t>(v);
}

int32_t XRegistry::ReadInt(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath, bool* notFound)
{
    const int64_t v = ReadInt64(valueName, root, keyPath, notFound);
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

int64_t XRegistry::ReadInt64(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath, bool* notFound)
{
    XJSON::AnyType* v = FindValue(root, keyPath, valueName);
    const bool missing = v->TypeOf() != XJSON::typeNumber;
    if (notFound)
        *notFound = missing;
    return missing ? 0 : static_cast<XJSON::Number*>(v)->ToInt64();
}

XStr XRegistry::ReadString(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath, bool* notFound)
{
    XJSON::AnyType* v = FindValue(root, keyPath, valueName);
    const bool missing = v->TypeOf() != XJSON::typeString;
    if (notFound)
        *notFound = missing;
    return missing ? XStr() : static_cast<XJSON::String*>(v)->Value.ToXStr();
}

bool XRegistry::ReadBinary(const wchar_t* valueName, XBuffer* out, const wchar_t* root, const wchar_t* keyPath)
{
    XJSON::AnyType* v = FindValue(root, keyPath, valueName);
    if (!out || v->TypeOf() != XJSON::typeString)
        return false;
    const std::string text = Base64Bytes(static_cast<XJSON::String*>(v)->Value);
    return XBase64DecodeToBuffer(text.c_str(), *out, false);
}

bool XRegistry::ReadBinaryExact(const wchar_t* valueName, void* data, uint32_t size, const wchar_t* root,
                                const wchar_t* keyPath)
{
    XJSON::AnyType* v = FindValue(root, keyPath, valueName);
    if (!data || v->TypeOf() != XJSON::typeString)
        return false;
    const std::string text = Base64Bytes(static_cast<XJSON::String*>(v)->Value);
    if (text.size() > INT32_MAX)
        return false;
    int length = 0;
    XBase64Decode(text.c_str(), static_cast<int>(text.size()), nullptr, &length);
    if (length < 0 || static_cast<uint32_t>(length) != size)
        return false; // the caller's block is left alone unless the sizes match
    length = static_cast<int>(size);
    return XBase64Decode(text.c_str(), static_cast<int>(text.size()), data, &length) &&
           static_cast<uint32_t>(length) == size;
}

uint32_t XRegistry::ReadBinarySize(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath,
                                   bool* notFound)
{
    XJSON::AnyType* v = FindValue(root, keyPath, valueName);
    int length = 0;
    bool missing = v->TypeOf() != XJSON::typeString;
    if (!missing) {
        const std::string text = Base64Bytes(static_cast<XJSON::String*>(v)->Value);
        if (text.size() > INT32_MAX)
            missing = true;
        else
            XBase64Decode(text.c_str(), static_cast<int>(text.size()), nullptr, &length);
        if (length < 0)
            missing = true;
    }
    if (notFound)
        *notFound = missing;
    return missing ? 0 : static_cast<uint32_t>(length);
}

bool XRegistry::ReadStringList(XStrList* out, const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath)
{
    XJSON::AnyType* v = FindValue(root, keyPath, valueName);
    if (!out || v->TypeOf() != XJSON::typeArray)
        return false;
    XJSON::Array* a = static_cast<XJSON::Array*>(v);
    out->Clear();
    for (int64_t i = 0; i < a->Count(); i++)
        out->Add(a->Get(i)->AsString()->Value.ToXStr());
    return true;
}

bool XRegistry::HasValue(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath)
{
    const XStrList parts = SplitPath(root, keyPath);
    XJSON::Object* key = Walk(parts, parts.Count(), false);
    return key && FindValueIndex(key, valueName) >= 0;
}

bool XRegistry::HasKey(const wchar_t* root, const wchar_t* keyPath)
{
    const XStrList parts = SplitPath(root, keyPath);
    return Walk(parts, parts.Count(), false) != nullptr;
}

bool XRegistry::ListNames(const wchar_t* root, const wchar_t* keyPath, XStrList* out, bool keys)
{
    if (out)
        out->Clear();
    const XStrList parts = SplitPath(root, keyPath);
    XJSON::Object* key = Walk(parts, parts.Count(), false);
    if (!key)
        return false;
    if (out) {
        for (int64_t i = 0; i < key->Count(); i++) {
            XJSON::AnyType* v = key->CellAt(i);
            const bool isKey = v && v->TypeOf() == XJSON::typeObject;
            if (isKey == keys)
                out->Add(key->NameRef(i).ToXStr());
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Getters

uint32_t XRegistry::GetDWORD(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath, bool* notFound)
{
    return WithCache([&](XRegistry& r) { return r.ReadDWORD(valueName, root, keyPath, notFound); });
}

int32_t XRegistry::GetInt(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath, bool* notFound)
{
    return WithCache([&](XRegistry& r) { return r.ReadInt(valueName, root, keyPath, notFound); });
}

int64_t XRegistry::GetInt64(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath, bool* notFound)
{
    return WithCache([&](XRegistry& r) { return r.ReadInt64(valueName, root, keyPath, notFound); });
}

XStr XRegistry::GetString(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath, bool* notFound)
{
    return WithCache([&](XRegistry& r) { return r.ReadString(valueName, root, keyPath, notFound); });
}

bool XRegistry::GetBinary(const wchar_t* valueName, XBuffer* out, const wchar_t* root, const wchar_t* keyPath)
{
    return WithCache([&](XRegistry& r) { return r.ReadBinary(valueName, out, root, keyPath); });
}

bool XRegistry::GetBinaryExact(const wchar_t* valueName, void* data, uint32_t size, const wchar_t* root,
                               const wchar_t* keyPath)
{
    return WithCache([&](XRegistry& r) { return r.ReadBinaryExact(valueName, data, size, root, keyPath); });
}

uint32_t XRegistry::GetBinarySize(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath, bool* notFound)
{
    return WithCache([&](XRegistry& r) { return r.ReadBinarySize(valueName, root, keyPath, notFound); });
}

bool XRegistry::GetStringList(XStrList* out, const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath)
{
    return WithCache([&](XRegistry& r) { return r.ReadStringList(out, valueName, root, keyPath); });
}

bool XRegistry::ValueExists(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath)
{
    return WithCache([&](XRegistry& r) { return r.HasValue(valueName, root, keyPath); });
}

bool XRegistry::KeyExists(const wchar_t* root, const wchar_t* keyPath)
{
    return WithCache([&](XRegistry& r) { return r.HasKey(root, keyPath); });
}

bool XRegistry::EnumKeys(const wchar_t* root, const wchar_t* keyPath, XStrList* out)
{
    return WithCache([&](XRegistry& r) { return r.ListNames(root, keyPath, out, true); });
}

bool XRegistry::EnumValues(const wchar_t* root, const wchar_t* keyPath, XStrList* out)
{
    return WithCache([&](XRegistry& r) { return r.ListNames(root, keyPath, out, false); });
}

// ---------------------------------------------------------------------------------------------
// Setters

bool XRegistry::SetDWORD(uint32_t value, const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath)
{
    return Write([&](XRegistry& r) { r.SetValue(root, keyPath, valueName, new XJSON::Number(value)); });
}

bool XRegistry::SetInt(int32_t value, const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath)
{
    return Write([&](XRegistry& r) { r.SetValue(root, keyPath, valueName, new XJSON::Number(value)); });
}

bool XRegistry::SetInt64(int64_t value, const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath)
{
    return Write([&](XRegistry& r) { r.SetValue(root, keyPath, valueName, new XJSON::Number(value)); });
}

bool XRegistry::SetString(const wchar_t* text, const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath)
{
    return Write([&](XRegistry& r) { r.SetValue(root, keyPath, valueName, new XJSON::String(OrEmpty(text))); });
}

bool XRegistry::SetBinary(const wchar_t* valueName, const void* data, size_t size, const wchar_t* root,
                          const wchar_t* keyPath)
{
    const XStr text = XBase64EncodeToStr(data, data ? size : 0, XBASE64_NO_LINE_BREAKS);
    return Write([&](XRegistry& r) { r.SetValue(root, keyPath, valueName, new XJSON::String(text)); });
}

bool XRegistry::SetStringList(const XStrList* list, const wchar_t* valueName, const wchar_t* root,
                              const wchar_t* keyPath)
{
    return Write([&](XRegistry& r) {
        XJSON::Array* a = new XJSON::Array;
        if (list)
            for (int64_t i = 0; i < list->Count(); i++)
                a->Add(new XJSON::String((*list)[i]));
        r.SetValue(root, keyPath, valueName, a);
    });
}

bool XRegistry::DeleteValue(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath)
{
    return Write([&](XRegistry& r) { r.RemoveValue(root, keyPath, valueName); });
}

bool XRegistry::DeleteKey(const wchar_t* root, const wchar_t* keyPath, const wchar_t* name)
{
    return Write([&](XRegistry& r) { r.RemoveKey(root, keyPath, name); });
}
