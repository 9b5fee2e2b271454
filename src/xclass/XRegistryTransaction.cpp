#include "xclass/XRegistryTransaction.h"

#include "xclass/XBase64.h"
#include "xclass/XRegistry.h"

namespace {

XStr ResolveRoot(const wchar_t* root)
{
    return root ? XStr(root) : XRegistry::GetDefaultRoot();
}

XStr ResolveKeyPath(const wchar_t* keyPath)
{
    return keyPath ? XStr(keyPath) : XRegistry::GetDefaultKeyPath();
}

XRegistryOp* NewOp(const wchar_t* root, const wchar_t* keyPath, const wchar_t* valueName)
{
    XRegistryOp* op = new XRegistryOp;
    op->Root = ResolveRoot(root);
    op->KeyPath = ResolveKeyPath(keyPath);
    op->ValueName = valueName ? valueName : L"";
    return op;
}

// The private copy of a read: loaded now, with the pending operations applied.
template <class F>
auto ReadThrough(XRegistryTransactionImpl* impl, F f)
{
    XRegistry reg(false);
    reg.Load(false);
    impl->Apply(reg, false);
    return f(reg);
}

void CopyKeyIn(XRegistry& reg, const XRegistryOp& op)
{
    const XStrList source = XRegistry::SplitPath(op.Root.p, op.ValueName.p);
    const XStrList destination = XRegistry::SplitPath(op.Root.p, op.KeyPath.p);
    XJSON::Object* sourceParent = reg.Walk(source, source.Count() - 1, false);
    if (!sourceParent)
        return;
    XJSON::Object* original = XRegistry::Child(sourceParent, source[source.Count() - 1].p, false);
    if (original == &XJSON::EmptyObject)
        return; // no such key: nothing to copy
    XJSON::AnyType* copy = original->Clone();
    XJSON::Object* parent = reg.Walk(destination, destination.Count() - 1, true);
    const wchar_t* name = destination[destination.Count() - 1].p;
    XJSON::Object* existing = XRegistry::Child(parent, name, false);
    if (existing != &XJSON::EmptyObject) {
        for (int64_t i = 0; i < parent->Count(); i++) {
            if (parent->CellAt(i) == existing) {
                parent->SetAt(i, copy);
                break;
            }
        }
    } else {
        parent->Add(name, copy);
    }
    reg.Dirty = true;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// XRegistryTransactionImpl

void XRegistryTransactionImpl::Queue(XRegistryOp* op)
{
    if (Ops.Add(op) < 0) {
        delete op;
        return;
    }
    LastOp = op;
}

void XRegistryTransactionImpl::Apply(XRegistry& reg, bool move)
{
    for (int64_t i = 0; i < Ops.Count(); i++) {
        XRegistryOp* op = Ops.GetPtr<XRegistryOp>(i);
        LastOp = op;
        if (op->IsDeleteValue) {
            reg.RemoveValue(op->Root.p, op->KeyPath.p, op->ValueName.p);
        } else if (op->IsDeleteKey) {
            reg.RemoveKey(op->Root.p, op->KeyPath.p, op->ValueName.p);
        } else if (op->IsCopyKey) {
            CopyKeyIn(reg, *op);
        } else {
            XJSON::AnyType* value;
            if (move) {
                value = op->Value;
                op->Value = nullptr;
            } else {
                value = op->Value ? op->Value->Clone() : nullptr;
            }
            reg.SetValue(op->Root.p, op->KeyPath.p, op->ValueName.p, value);
        }
    }
}

bool XRegistryTransactionImpl::Commit()
{
    if (Ops.Count() == 0)
        return true;
    XRegistry reg(false);
    bool ok = reg.Load(true);
    if (ok) {
        Apply(reg, true);
        ok = reg.Save();
    }
    ok = reg.Release() && ok;
    Clear();
    return ok;
}

void XRegistryTransactionImpl::Clear()
{
    for (int64_t i = 0; i < Ops.Count(); i++)
        delete Ops.GetPtr<XRegistryOp>(i);
    Ops.Clear();
    LastOp = nullptr;
}

// ---------------------------------------------------------------------------------------------
// XRegistryTransaction

XRegistryTransaction::XRegistryTransaction() : Impl(new XRegistryTransactionImpl) {}

XRegistryTransaction::~XRegistryTransaction()
{
    delete Impl;
}

void XRegistryTransaction::QueueWrite(XJSON::AnyType* value, const wchar_t* valueName, const wchar_t* root,
                                      const wchar_t* keyPath)
{
    XRegistryOp* op = NewOp(root, keyPath, valueName);
    op->Value = value;
    Impl->Queue(op);
}

void XRegistryTransaction::SetDWORD(uint32_t value, const wchar_t* valueName, const wchar_t* root,
                                    const wchar_t* keyPath)
{
    QueueWrite(new XJSON::Number(value), valueName, root, keyPath);
}

void XRegistryTransaction::SetInt(int32_t value, const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath)
{
    QueueWrite(new XJSON::Number(value), valueName, root, keyPath);
}

void XRegistryTransaction::SetInt64(int64_t value, const wchar_t* valueName, const wchar_t* root,
                                    const wchar_t* keyPath)
{
    QueueWrite(new XJSON::Number(value), valueName, root, keyPath);
}

void XRegistryTransaction::SetString(const wchar_t* text, const wchar_t* valueName, const wchar_t* root,
                                     const wchar_t* keyPath)
{
    QueueWrite(new XJSON::String(text ? text : L""), valueName, root, keyPath);
}

void XRegistryTransaction::SetBinary(const wchar_t* valueName, const void* data, size_t size, const wchar_t* root,
                                     const wchar_t* keyPath)
{
    QueueWrite(new XJSON::String(XBase64EncodeToStr(data, data ? size : 0, XBASE64_NO_LINE_BREAKS)), valueName, root,
               keyPath);
}

void XRegistryTransaction::SetStringList(const XStrList* list, const wchar_t* valueName, const wchar_t* root,
                                         const wchar_t* keyPath)
{
    XJSON::Array* a = new XJSON::Array;
    if (list)
        for (int64_t i = 0; i < list->Count(); i++)
            a->Add(new XJSON::String((*list)[i]));
    QueueWrite(a, valueName, root, keyPath);
}

void XRegistryTransaction::DeleteValue(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath)
{
    XRegistryOp* op = NewOp(root, keyPath, valueName);
    op->IsDeleteValue = true;
    Impl->Queue(op);
}

void XRegistryTransaction::DeleteKey(const wchar_t* root, const wchar_t* keyPath, const wchar_t* name)
{
    XRegistryOp* op = NewOp(root, keyPath, name);
    op->IsDeleteKey = true;
    Impl->Queue(op);
}

void XRegistryTransaction::CopyKey(const wchar_t* root, const wchar_t* sourcePath, const wchar_t* destinationPath)
{
    XRegistryOp* op = new XRegistryOp;
    op->Root = ResolveRoot(root);
    op->KeyPath = destinationPath ? destinationPath : L"";
    op->ValueName = sourcePath ? sourcePath : L"";
    op->IsCopyKey = true;
    Impl->Queue(op);
}

uint32_t XRegistryTransaction::GetDWORD(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath,
                                        bool* notFound)
{
    return ReadThrough(Impl, [&](XRegistry& r) { return r.ReadDWORD(valueName, root, keyPath, notFound); });
}

int32_t XRegistryTransaction::GetInt(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath,
                                     bool* notFound)
{
    return ReadThrough(Impl, [&](XRegistry& r) { return r.ReadInt(valueName, root, keyPath, notFound); });
}

int64_t XRegistryTransaction::GetInt64(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath,
                                       bool* notFound)
{
    return ReadThrough(Impl, [&](XRegistry& r) { return r.ReadInt64(valueName, root, keyPath, notFound); });
}

XStr XRegistryTransaction::GetString(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath,
                                     bool* notFound)
{
    return ReadThrough(Impl, [&](XRegistry& r) { return r.ReadString(valueName, root, keyPath, notFound); });
}

bool XRegistryTransaction::GetBinaryExact(const wchar_t* valueName, void* data, uint32_t size, const wchar_t* root,
                                          const wchar_t* keyPath)
{
    return ReadThrough(Impl, [&](XRegistry& r) { return r.ReadBinaryExact(valueName, data, size, root, keyPath); });
}

bool XRegistryTransaction::GetBinary(const wchar_t* valueName, XBuffer* out, const wchar_t* root,
                                     const wchar_t* keyPath)
{
    return ReadThrough(Impl, [&](XRegistry& r) { return r.ReadBinary(valueName, out, root, keyPath); });
}

bool XRegistryTransaction::GetStringList(XStrList* out, const wchar_t* valueName, const wchar_t* root,
                                         const wchar_t* keyPath)
{
    return ReadThrough(Impl, [&](XRegistry& r) { return r.ReadStringList(out, valueName, root, keyPath); });
}

bool XRegistryTransaction::ValueExists(const wchar_t* valueName, const wchar_t* root, const wchar_t* keyPath)
{
    return ReadThrough(Impl, [&](XRegistry& r) { return r.HasValue(valueName, root, keyPath); });
}

bool XRegistryTransaction::KeyExists(const wchar_t* root, const wchar_t* keyPath)
{
    return ReadThrough(Impl, [&](XRegistry& r) { return r.HasKey(root, keyPath); });
}

bool XRegistryTransaction::Commit()
{
    return Impl->Commit();
}
