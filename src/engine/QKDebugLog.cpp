#include "engine/QKDebugLog.h"

#include <unistd.h>

#include <atomic>
#include <string>

#include "xclass/XEnvironment.h"
#include "xclass/XFileName.h"

namespace {

// Read from the environment once, the first time anything asks; written only here after.
std::atomic<bool>& DebugSwitch()
{
    static std::atomic<bool> on{[] {
        bool isSet = false;
        XGetEnv("MARVONI_DEBUG", &isSet);
        return isSet;
    }()};
    return on;
}

std::atomic<unsigned> g_logCounter{0};

} // namespace

void setDebugEnv(bool on)
{
    DebugSwitch().store(on, std::memory_order_release);
}

bool isDebugEnv()
{
    return DebugSwitch().load(std::memory_order_acquire);
}

XStr makeDebugLogName()
{
    const unsigned n = g_logCounter.fetch_add(1, std::memory_order_relaxed);
    const unsigned pid = static_cast<unsigned>(getpid());
    XFileName name = XGetXdgUserFolder("DOCUMENTS", L"Documents");
    name.AddTrailingSlash();
    if (n == 0)
        name += XStr::FromFormat(L"QKDebug-%u.txt", pid);
    else
        name += XStr::FromFormat(L"QKDebug-%u+%u.txt", pid, n);
    return name;
}

bool openDebugLog(XFile& file)
{
    if (!isDebugEnv())
        return false;
    const XStr name = makeDebugLogName();
    if (!file.Open(name.p, XFILE_READWRITE, XFILE_OPEN_ALWAYS, false, XFILE_SHARE_EXCLUSIVE))
        return false;
    // A log left by an earlier process of the same id is added to, not written over.
    file.Seek(0, 1);
    return true;
}

void appendDebugLogLine(XFile& file, const XStr& line)
{
    if (!file.IsOpen())
        return;
    std::string bytes = line.ToUTF8String();
    bytes.push_back('\n');
    file.Write(bytes.data(), bytes.size());
}
