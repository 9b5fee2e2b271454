#include "xclass/XFindFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "xclass/XFileName.h"
#include "xclass/XTime.h"

namespace {

const wchar_t* const kSystemFolders[] = {
    L"@Recycle", L"#recycle", L"$RECYCLE.BIN", L"@tmp", L"@eaDir", L"@Recently-Snapshot", L"_gsdata_",
};

bool HasWildcardChar(const XStr& text)
{
    return text.FindChar(L'*') != 0 || text.FindChar(L'?') != 0;
}

} // namespace

XFindFile::XFindFile(const wchar_t* mask, const wchar_t* folder)
{
    Mask = mask ? mask : L"";
    SetFolder(XStr(folder ? folder : L""));
}

XFindFile::XFindFile(const char* mask, const char* folder)
{
    Mask = XStr::FromAnsi(mask ? mask : "");
    SetFolder(XStr::FromAnsi(folder ? folder : ""));
}

XFindFile::XFindFile(const wchar_t* path)
{
    const XFileName name(path ? path : L"");
    const XFileName file = name.GetFileName();
    if (HasWildcardChar(file)) {
        Mask = file;
        // The folder keeps its trailing "/"; a bare mask walks the current folder.
        if (name.FindLastSlash())
            Folder = name.GetFolder();
    } else {
        SetFolder(name);
    }
}

XFindFile::XFindFile(const char* path) : XFindFile(XStr::FromAnsi(path ? path : "").p) {}

XFindFile::~XFindFile()
{
    if (Dir)
        closedir(Dir);
}

void XFindFile::SetFolder(const XStr& folder)
{
    Folder = folder;
    while (Folder.Length() > 1 && Folder.p[Folder.Length() - 1] == L'/')
        Folder.SetLength(Folder.Length() - 1);
}

bool XFindFile::Next()
{
    if (m_done)
        return false;
    if (Mask.IsEmpty()) {
        // The one-path form: the path itself, once.
        m_done = true;
        Path = Folder;
        return !Path.IsEmpty() && stat(Path.ToUTF8String().c_str(), &Stat) == 0;
    }
    if (!Dir) {
        const std::string folder = Folder.IsEmpty() ? std::string(".") : Folder.ToUTF8String();
        const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            m_done = true;
            return false;
        }
        Dir = fdopendir(fd);
        if (!Dir) {
            close(fd);
            m_done = true;
            return false;
        }
    }
    const bool all = Mask == L"*.*";
    for (;;) {
        Entry = readdir(Dir);
        if (!Entry) {
            m_done = true;
            return false;
        }
        const char* raw = Entry->d_name;
        if (strcmp(raw, ".") == 0 || strcmp(raw, "..") == 0)
            continue;
        const XStr name = XStr::FromUTF8(raw);
        if (!all && !XMatchMask(name.p, Mask.p))
            continue;
        if (Folder.IsEmpty()) {
            Path = name;
        } else {
            Path = Folder;
            if (Path.p[Path.Length() - 1] != L'/')
                Path.CatChar(L'/');
            Path += name;
        }
        if (fstatat(dirfd(Dir), raw, &Stat, 0) != 0)
            continue; // vanished, or a broken link
        if (FoldersOnly && !S_ISDIR(Stat.st_mode))
            continue;
        return true;
    }
}

bool XFindFile::NextFolder()
{
    SetFoldersOnly();
    return Next();
}

bool XFindFile::IsSystemFolder() const
{
    const int slash = Path.ReverseFindChar(L'/');
    const wchar_t* name = Path.p + slash;
    for (const wchar_t* folder : kSystemFolders)
        if (XStrCompare(name, folder, 0, true) == 0)
            return true;
    return false;
}

uint64_t XStatToFileTimeAccess(const struct stat& st)
{
    return XUnixTimeToFileTime(st.st_atime);
}

uint64_t XStatToFileTimeWrite(const struct stat& st)
{
    return XUnixTimeToFileTime(st.st_mtime);
}

uint64_t XStatToFileTimeCreate(const struct stat& st)
{
    return XUnixTimeToFileTime(st.st_ctime < st.st_mtime ? st.st_ctime : st.st_mtime);
}
