// XRegistryTransaction: registry writes, deletions and key copies collected and applied all
// at once on Commit, under one exclusive lock of the store and with one save, so that other
// readers never see half of a change. Reads through the transaction see the store as it
// would be after the commit. A transaction destroyed without commit changes nothing.
//
// Defaults (root, key path) are resolved when an operation is queued. A transaction
// belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "xclass/XJSON.h"
#include "xclass/XList.h"
#include "xclass/XStr.h"

class XRegistry;
struct XBuffer;

struct XRegistryOp {
    XStr Root;                       // resolved root
    XStr KeyPath;                    // key path (for a copy: the destination path)
    XStr ValueName;                  // value name (a key deletion: the subkey's name; a copy: the source path)
    XJSON::AnyType* Value = nullptr; // owned; a write's value
    bool IsDeleteValue = false;
    bool IsDeleteKey = false;
    bool IsCopyKey = false;

    XRegistryOp() = default;
    XRegistryOp(const XRegistryOp&) = delete;
    XRegistryOp& operator=(const XRegistryOp&) = delete;
    ~XRegistryOp() { delete Value; }
};

class XRegistryTransactionImpl {
public:
    XList Ops; // owned XRegistryOp* in queue order
    XRegistryOp* LastOp = nullptr;

    XRegistryTransactionImpl() = default;
    XRegistryTransactionImpl(const XRegistryTransactionImpl&) = delete;
    XRegistryTransactionImpl& operator=(const XRegistryTransactionImpl&) = delete;
    ~XRegistryTransactionImpl() { Clear(); }

    // Takes ownership of op.
    void Queue(XRegistryOp* op);
    // Applies the operations in order to a loaded copy; move takes the values out of the
    // operations (commit), otherwise clones are applied (reads).
    void Apply(XRegistry& reg, bool move);
    // One exclusive load, the operations, one save. The list is empty afterwards. False when
    // the store could not be locked, read or written; it is then unchanged.
    bool Commit();
    void Clear();
};

class XRegistryTransaction {
public:
    XRegistryTransactionImpl* Impl;

    XRegistryTransaction();
    ~XRegistryTransaction();
    XRegistryTransaction(const XRegistryTransaction&) = delete;
    XRegistryTransaction& operator=(const XRegistryTransaction&) = delete;

    // ---- Queuing (nothing touches the file) ----
    void SetDWORD(uint32_t value, const wchar_t* valueName, const wchar_t* root = nullptr,
                  const wchar_t* keyPath = nullptr);
    void SetInt(int32_t value, const wchar_t* valueName, const wchar_t* root = nullptr,
                const wchar_t* keyPath = nullptr);
    void SetInt64(int64_t value, const wchar_t* valueName, const wchar_t* root = nullptr,
                  const wchar_t* keyPath = nullptr);
    void SetString(const wchar_t* text, const wchar_t* valueName, const wchar_t* root = nullptr,
                   const wchar_t* keyPath = nullptr);
    void SetBinary(const wchar_t* valueName, const void* data, size_t size, const wchar_t* root = nullptr,
                   const wchar_t* keyPath = nullptr);
    void SetStringList(const XStrList* list, const wchar_t* valueName, const wchar_t* root = nullptr,
                       const wchar_t* keyPath = nullptr);
    void DeleteValue(const wchar_t* valueName, const wchar_t* root = nullptr, const wchar_t* keyPath = nullptr);
    void DeleteKey(const wchar_t* root, const wchar_t* keyPath, const wchar_t* name);
    // Copies the key at sourcePath to destinationPath, both below root (the source stays).
    // A source that does not exist copies nothing.
    void CopyKey(const wchar_t* root, const wchar_t* sourcePath, const wchar_t* destinationPath);

    // ---- Reads: the store as loaded now, with the queued operations applied ----
    uint32_t GetDWORD(const wchar_t* valueName, const wchar_t* root = nullptr, const wchar_t* keyPath = nullptr,
                      bool* notFound = nullptr);
    int32_t GetInt(const wchar_t* valueName, const wchar_t* root = nullptr, const wchar_t* keyPath = nullptr,
                   bool* notFound = nullptr);
    int64_t GetInt64(const wchar_t* valueName, const wchar_t* root = nullptr, const wchar_t* keyPath = nullptr,
                     bool* notFound = nullptr);
    XStr GetString(const wchar_t* valueName, const wchar_t* root = nullptr, const wchar_t* keyPath = nullptr,
                   bool* notFound = nullptr);
    bool GetBinaryExact(const wchar_t* valueName, void* data, uint32_t size, const wchar_t* root = nullptr,
                        const wchar_t* keyPath = nullptr);
    bool GetBinary(const wchar_t* valueName, XBuffer* out, const wchar_t* root = nullptr,
                   const wchar_t* keyPath = nullptr);
    bool GetStringList(XStrList* out, const wchar_t* valueName, const wchar_t* root = nullptr,
                       const wchar_t* keyPath = nullptr);
    bool ValueExists(const wchar_t* valueName, const wchar_t* root = nullptr, const wchar_t* keyPath = nullptr);
    bool KeyExists(const wchar_t* root = nullptr, const wchar_t* keyPath = nullptr);

    // ---- Ending ----
    // Applies every queued operation in order and empties the list (the transaction can be
    // used again). False when the changes could not be stored.
    bool Commit();
    int64_t PendingCount() const { return Impl->Ops.Count(); }

private:
    void QueueWrite(XJSON::AnyType* value, const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath);
};
