#include "xclass/XFileRewrite.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

#include "xclass/XFileName.h"
#include "xclass/XFindFile.h"

namespace {

// fsync of the folder that holds path, so that a rename in it survives a power loss.
void SyncFolder(const XStr& path)
{
    std::string bytes = path.ToUTF8String();
    const size_t slash = bytes.find_last_of('/');
    bytes = slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : bytes.substr(0, slash));
    const int fd = open(bytes.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd); // some file systems cannot sync a folder; the rename stands all the same
        close(fd);
    }
}

// The process id in a temporary name "....pPID[.TRY].rewrite.tmp", or 0.
pid_t WriterOf(const XStr& name)
{
    const std::wstring suffix = L".rewrite.tmp";
    std::wstring stem(name.View());
    if (stem.size() <= suffix.size() || stem.compare(stem.size() - suffix.size(), suffix.size(), suffix) != 0)
        return 0;
    stem.resize(stem.size() - suffix.size());
    const size_t mark = stem.rfind(L".p");
    if (mark == std::wstring::npos)
        return 0;
    const std::wstring rest = stem.substr(mark + 2); // "PID" or "PID.TRY"
    const size_t dot = rest.find(L'.');
    const std::wstring pid = rest.substr(0, dot);
    const std::wstring attempt = dot == std::wstring::npos ? std::wstring(L"0") : rest.substr(dot + 1);
    auto digits = [](const std::wstring& text) {
        return !text.empty() && text.size() < 10 && text.find_first_not_of(L"0123456789") == std::wstring::npos;
    };
    if (!digits(pid) || !digits(attempt))
        return 0;
    return static_cast<pid_t>(std::stol(pid));
}

bool ProcessIsRunning(pid_t pid)
{
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

// A writer keeps its shared lock on the temporary file until it commits.
bool IsLockedByWriter(const XStr& path)
{
    const int fd = open(path.ToUTF8String().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool locked = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return locked;
}

} // namespace

XFileRewrite::XFileRewrite() = default;

XFileRewrite::~XFileRewrite()
{
    Close();
}

XStr XFileRewrite::TempName(const XStr& target, int attempt)
{
    std::string tail = ".p" + std::to_string(getpid());
    if (attempt > 0)
        tail += "." + std::to_string(attempt);
    tail += ".rewrite.tmp";
    XStr name(target);
    name += XStr::FromUTF8(tail);
    return name;
}

bool XFileRewrite::Open(const wchar_t* target)
{
    Target = target ? target : L"";
    for (int attempt = 0; attempt < 100; attempt++) {
        const XStr name = TempName(Target, attempt);
        if (XFile::Open(name.p, 2, 1, false, 1))
            return true;
        // Only a name in use is worth the next try; a folder we may not write is not.
        if (errno != EEXIST && errno != EWOULDBLOCK)
            return false;
    }
    return false;
}

bool XFileRewrite::OpenNamed(const wchar_t* target, const wchar_t* tempName)
{
    Target = target ? target : L"";
    return XFile::Open(tempName, 2, 2, false, 1);
}

bool XFileRewrite::Commit()
{
    if (Handle == -1) {
        errno = EBADF;
        return false;
    }
    // The data must be on the disk before the new name points at it, or a power loss could
    // leave an empty or torn target behind the completed rename.
    if (fsync(Handle) != 0 && errno != EINVAL) {
        const int err = errno;
        XFile::Close();
        errno = err;
        return false;
    }
    const int fd = Handle;
    const bool owned = OwnsHandle;
    Handle = -1;
    XFile::Close();
    if (owned && close(fd) != 0)
        return false;
    if (!XMoveFile(Name.p, Target.p))
        return false;
    SyncFolder(Target);
    return true;
}

bool XFileRewrite::Abort()
{
    XFile::Close();
    if (Name.IsEmpty())
        return true;
    return XDeleteFile(Name.p);
}

bool XFileRewrite::Close()
{
    if (Handle == -1)
        return true;
    if (!CommitOnClose)
        return Abort();
    return CommitOrAbort();
}

bool XFileRewrite::CommitOrAbort()
{
    if (Commit())
        return true;
    const int err = errno;
    Abort();
    errno = err;
    return false;
}

bool XFileWriteAll(const wchar_t* path, const void* data, size_t size)
{
    XFileRewrite file;
    if (!file.Open(path))
        return false;
    if (size > 0 && !file.Write(data, size, 2)) {
        const int err = errno;
        file.Abort();
        errno = err;
        return false;
    }
    return file.Close();
}

bool XFileWriteAll(const wchar_t* path, const XBuffer& buffer)
{
    return XFileWriteAll(path, buffer.Data, static_cast<size_t>(buffer.Used));
}

namespace {

// The temporaries in folder left by writers that are gone; with a target name, only those of
// that target ("NAME.pPID[.TRY].rewrite.tmp").
int RemoveTemps(const wchar_t* folder, const XStr* targetName)
{
    int removed = 0;
    XFindFile find(L"*.rewrite.tmp", folder);
    while (find.Next()) {
        if (find.IsFolder())
            continue;
        const XFileName path(find.Path);
        const XStr name = path.GetFileName();
        if (targetName) {
            // The last ".p" ends the target's name: what follows it holds only digits and dots.
            const std::wstring_view view = name.View();
            const std::wstring_view stem = targetName->View();
            if (view.rfind(L".p") != stem.size() || view.substr(0, stem.size()) != stem)
                continue;
        }
        const pid_t writer = WriterOf(name);
        if (targetName && writer == 0)
            continue; // not a name a rewrite of the target makes
        if (ProcessIsRunning(writer) || IsLockedByWriter(path))
            continue;
        if (XDeleteFile(path.p))
            removed++;
    }
    return removed;
}

} // namespace

int XFileRemoveRewriteTemps(const wchar_t* folder)
{
    return RemoveTemps(folder, nullptr);
}

int XFileRemoveRewriteTempsOf(const wchar_t* target)
{
    const XFileName path(target ? target : L"");
    const XStr name = path.GetFileName();
    if (name.IsEmpty())
        return 0;
    const XStr folder = path.GetFolder();
    return RemoveTemps(folder.View() == name.View() ? L"." : folder.p, &name);
}
