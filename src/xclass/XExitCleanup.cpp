#include "xclass/XExitCleanup.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "xclass/XFileName.h"
#include "xclass/XPlatform.h"

namespace {

struct Registry {
    std::recursive_mutex lock;
    std::set<int> children;
    std::map<std::string, int> files; // UTF-8 path -> registrations
    std::map<std::string, int> folders;
};

Registry& TheRegistry()
{
    // Never destroyed: temporary files owned by static objects unregister after the static
    // destructors have begun.
    static Registry* registry = new Registry;
    return *registry;
}

void Count(std::map<std::string, int>& set, const XStr& path, int step)
{
    if (path.IsEmpty())
        return;
    Registry& r = TheRegistry();
    std::lock_guard<std::recursive_mutex> hold(r.lock);
    const std::string key = path.ToUTF8String();
    const int n = (set[key] += step);
    if (n <= 0)
        set.erase(key);
}

// Runs on the watcher thread. Takes the lock and never gives it back: the process ends next.
void CleanUp()
{
    Registry& r = TheRegistry();
    r.lock.lock();
    for (const int pid : r.children)
        ::kill(pid, SIGKILL);
    for (const int pid : r.children) {
        int status = 0;
        XWaitPid(pid, &status, 0);
    }
    r.children.clear();
    // Files before folders: a scope folder may hold some of the files.
    for (const auto& [path, count] : r.files)
        ::unlink(path.c_str());
    for (const auto& [path, count] : r.folders)
        XDeleteFolderTree(XStr::FromUTF8(path), true, L"*.*", true);
}

int g_signalPipe[2] = {-1, -1};

extern "C" void OnEndingSignal(int signo)
{
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signo);
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &number, 1);
    errno = saved;
}

void Watch()
{
    unsigned char number = 0;
    for (;;) {
        const ssize_t n = ::read(g_signalPipe[0], &number, 1);
        if (n == 1)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        return;
    }
    CleanUp();
    // End as the signal would have ended the process, so that whoever sent it sees that.
    const int signo = number;
    struct sigaction defaults = {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    sigaction(signo, &defaults, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signo);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signo);
    _exit(128 + signo);
}

} // namespace

bool XExitCleanup::InstallSignalHandlers()
{
    static std::once_flag once;
    static bool installed = false;
    std::call_once(once, [] {
        if (pipe2(g_signalPipe, O_CLOEXEC) != 0)
            return;
        // A handler must never block on a full pipe; one byte is enough to start the cleanup.
        fcntl(g_signalPipe[1], F_SETFL, fcntl(g_signalPipe[1], F_GETFL) | O_NONBLOCK);
        try {
            std::thread(Watch).detach();
        } catch (...) {
            return;
        }
        for (const int signo : {SIGTERM, SIGINT, SIGHUP}) {
            // Started under nohup: hanging up is meant to leave the process running. (A shell
            // script also ignores SIGINT for its background jobs; an explicit kill -INT must
            // still end them cleanly, so that one is always taken.)
            struct sigaction current = {};
            if (signo == SIGHUP && sigaction(signo, nullptr, &current) == 0 && current.sa_handler == SIG_IGN &&
                !(current.sa_flags & SA_SIGINFO))
                continue;
            struct sigaction action = {};
            action.sa_handler = OnEndingSignal;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESTART;
            sigaction(signo, &action, nullptr);
        }
        installed = true;
    });
    return installed;
}

XExitCleanup::Section::Section()
{
    TheRegistry().lock.lock();
}

XExitCleanup::Section::~Section()
{
    TheRegistry().lock.unlock();
}

void XExitCleanup::AddChild(int pid)
{
    if (pid <= 0)
        return;
    Registry& r = TheRegistry();
    std::lock_guard<std::recursive_mutex> hold(r.lock);
    r.children.insert(pid);
}

void XExitCleanup::RemoveChild(int pid)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::recursive_mutex> hold(r.lock);
    r.children.erase(pid);
}

bool XExitCleanup::ReapEnded(int pid, int* status)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::recursive_mutex> hold(r.lock);
    r.children.erase(pid);
    int local = 0;
    return XWaitPid(pid, status ? status : &local, WNOHANG) == pid;
}

void XExitCleanup::AddFile(const XStr& path)
{
    Count(TheRegistry().files, path, 1);
}

void XExitCleanup::RemoveFile(const XStr& path)
{
    Count(TheRegistry().files, path, -1);
}

void XExitCleanup::AddFolder(const XStr& path)
{
    Count(TheRegistry().folders, path, 1);
}

void XExitCleanup::RemoveFolder(const XStr& path)
{
    Count(TheRegistry().folders, path, -1);
}
