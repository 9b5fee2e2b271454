// The settings store loader on any bytes: the bytes become the store file of a private
// folder, a reader walks every key it can reach and reads every value in every typed way,
// then a writer adds a value of its own and saves. Whatever the file held, the load must
// succeed, and the saved store must read back to the same keys and values plus the one
// added (a damaged store reads as empty and is kept aside before the save).
//
// Each input writes and renames a few small files, and a save syncs them: set TMPDIR to a
// tmpfs (/dev/shm) for long runs.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "xclass/XBuffer.h"
#include "xclass/XRegistry.h"

namespace {

// The root the writer adds to; a store that happens to hold one of that name leaves it out
// of the comparison.
const wchar_t* const kProbeRoot = L"MarvoniFuzzProbe";
const wchar_t* const kProbeKey = L"Key\\Below";

constexpr int kMaxDepth = 6;
constexpr int kMaxKeys = 200;

void WriteWhole(const std::string& path, const uint8_t* data, size_t size)
{
    const std::string temporary = path + ".new";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        fuzz::Fail("cannot write the store file", temporary);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0)
            fuzz::Fail("cannot write the store file", temporary);
        done += static_cast<size_t>(n);
    }
    close(fd);
    // A new file each time: the store's cache compares file identities, not contents.
    if (rename(temporary.c_str(), path.c_str()) != 0)
        fuzz::Fail("cannot rename the store file", path);
}

// Everything but the folder itself goes: the store, its lock, kept damaged copies.
void EmptyFolder(const std::string& folder)
{
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            unlink((folder + name).c_str());
    }
    closedir(dir);
}

void Append(std::string& out, const XStr& text)
{
    out += text.ToUTF8String();
}

// Every value of the key read in every way, then the keys below it.
void Describe(XRegistry& reg, const XStr& root, const XStr& keyPath, int depth, int& budget, std::string& out)
{
    if (--budget < 0)
        return;
    const wchar_t* path = keyPath.IsEmpty() ? L"" : keyPath.p;
    XStrList values;
    if (!reg.ListNames(root.p, path, &values, false))
        return;
    for (int64_t i = 0; i < values.Count(); ++i) {
        const XStr& name = values[i];
        out += "value ";
        Append(out, name);
        out += '=';
        bool notFound = false;
        Append(out, reg.ReadString(name.p, root.p, path, &notFound));
        out += notFound ? " (none)" : "";
        out += ' ' + std::to_string(reg.ReadInt64(name.p, root.p, path, nullptr));
        out += ' ' + std::to_string(reg.ReadInt(name.p, root.p, path, nullptr));
        out += ' ' + std::to_string(reg.ReadDWORD(name.p, root.p, path, nullptr));
        out += ' ' + std::to_string(reg.ReadBinarySize(name.p, root.p, path, nullptr));
        XBuffer binary;
        if (reg.ReadBinary(name.p, &binary, root.p, path))
            out += " bin:" + std::string(reinterpret_cast<const char*>(binary.Data), binary.Used);
        binary.Free();
        uint8_t exact[8] = {};
        out += reg.ReadBinaryExact(name.p, exact, sizeof exact, root.p, path) ? " exact8" : "";
        XStrList list;
        if (reg.ReadStringList(&list, name.p, root.p, path)) {
            out += " list:";
            for (int64_t k = 0; k < list.Count(); ++k) {
                Append(out, list[k]);
                out += '\x1f';
            }
        }
        out += reg.HasValue(name.p, root.p, path) ? " has\n" : " missing\n";
    }
    if (depth >= kMaxDepth)
        return;
    XStrList keys;
    reg.ListNames(root.p, path, &keys, true);
    for (int64_t i = 0; i < keys.Count(); ++i) {
        const XStr child = keyPath.IsEmpty() ? keys[i] : keyPath + XStr(L"\\") + keys[i];
        out += "key ";
        Append(out, root);
        out += '|';
        Append(out, child);
        out += reg.HasKey(root.p, child.p) ? " has\n" : " missing\n";
        Describe(reg, root, child, depth + 1, budget, out);
    }
}

std::string DescribeStore(XRegistry& reg)
{
    std::string out;
    int budget = kMaxKeys;
    XJSON::Object* top = reg.Root ? reg.Root->AsObject() : nullptr;
    if (!top)
        return out;
    XStrList roots;
    for (int64_t i = 0; i < top->Count(); ++i)
        if (top->CellAt(i) && top->CellAt(i)->TypeOf() == XJSON::typeObject)
            roots.Add(top->NameRef(i).ToXStr());
    for (int64_t i = 0; i < roots.Count(); ++i) {
        if (XStrCompare(roots[i], kProbeRoot, 0, true) == 0)
            continue;
        out += "root ";
        Append(out, roots[i]);
        out += '\n';
        Describe(reg, roots[i], XStr(), 0, budget, out);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::SetUpProgram();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& folder = fuzz::PrivateFolder();
    const std::string store = XRegistry::GetLocation().ToUTF8String();
    EmptyFolder(folder);
    WriteWhole(store, data, size);

    std::string before;
    bool damaged = false;
    {
        XRegistry reader(false);
        fuzz::Check(reader.Load(false), "a readable store file does not load");
        fuzz::Check(!reader.LoadFailed, "a readable store file counts as unreadable");
        damaged = reader.Damaged;
        before = DescribeStore(reader);
        fuzz::Check(!damaged || before.empty(), "a damaged store does not read as empty");
    }

    {
        XRegistry writer(false);
        fuzz::Check(writer.Load(true), "a readable store file does not load for writing");
        writer.SetValue(kProbeRoot, kProbeKey, L"Probe", new XJSON::String(L"written"));
        fuzz::Check(writer.Release(), "the store could not be saved");
    }

    XRegistry after(false);
    fuzz::Check(after.Load(false), "the saved store does not load");
    fuzz::Check(!after.Damaged, "the saved store reads as damaged");
    bool notFound = true;
    fuzz::Check(after.ReadString(L"Probe", kProbeRoot, kProbeKey, &notFound) == XStr(L"written") && !notFound,
                "the value written is not in the saved store");
    const std::string described = DescribeStore(after);
    fuzz::Check(described == before, "the saved store reads differently", before + "\n---\n" + described);
    XRegistry::DropCache();
    return 0;
}
