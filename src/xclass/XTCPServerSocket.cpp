#include "xclass/XTCPServerSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "xclass/XPlatform.h"

namespace {

constexpr int kSweepIntervalMs = 5000;
constexpr int kRestartDelayMs = 100;

void SetAbortive(int socket)
{
    linger option{};
    option.l_onoff = 1;
    option.l_linger = 0;
    setsockopt(socket, SOL_SOCKET, SO_LINGER, &option, sizeof option);
}

bool SameClient(const sockaddr_in& a, const sockaddr_in& b)
{
    return a.sin_addr.s_addr == b.sin_addr.s_addr;
}

} // namespace

void XAbortiveClose(int socket)
{
    if (socket < 0)
        return;
    SetAbortive(socket);
    ::close(socket);
}

XTCPServerSocket::~XTCPServerSocket()
{
    Stop();
}

void XTCPServerSocket::OnTooManyConnections(int, const sockaddr_in&, int, int) {}

void XTCPServerSocket::OnIdleTimeout(int, const sockaddr_in&, XList*) {}

bool XTCPServerSocket::OpenListener()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (fd < 0)
        return false;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(Port));
    if (BindAddress.IsEmpty()) {
        address.sin_addr.s_addr = htonl(INADDR_ANY);
    } else {
        XStr copy(BindAddress);
        if (inet_pton(AF_INET, copy.Ansi(), &address.sin_addr) != 1) {
            ::close(fd);
            errno = EINVAL;
            return false;
        }
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 128) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    Socket = fd;
    return true;
}

bool XTCPServerSocket::Start(int port, int workerCount, int idleTimeoutMs, int maxPerClient, const char* bindAddress,
                             bool autoRestart)
{
    Stop();
    Port = port;
    WorkerCount = std::max(0, workerCount);
    IdleTimeoutMS = std::max(0, idleTimeoutMs);
    MaxPerClient = std::max(0, maxPerClient);
    AutoRestart = autoRestart;
    BindAddress = XStr::FromAnsi(bindAddress ? bindAddress : "");
    if (!OpenListener())
        return false;
    if (Workers.IsEmpty()) {
        XAutoLock hold(ServerLock);
        for (int i = 0; i < WorkerCount; i++) {
            auto* worker = new XTCPServerWorker;
            worker->Index = i;
            worker->Owner = this;
            Workers.Add(worker);
            if (!worker->Thread.Start(WorkerProc, worker)) {
                hold.Unlock();
                Stop();
                return false;
            }
            FreeWorkers.Add(static_cast<uint64_t>(i));
        }
    }
    WorkerFreeEvent.Clear();
    QueueEvent.Clear();
    AcceptStarted = false;
    DispatchStarted = false;
    if (!AcceptThread.Start(AcceptProc, this) || !DispatchThread.Start(DispatchProc, this)) {
        Stop();
        return false;
    }
    while (!AcceptStarted || !DispatchStarted)
        sched_yield();
    return true;
}

void XTCPServerSocket::Stop()
{
    AcceptThread.Stop();
    DispatchThread.Stop();
    {
        XAutoLock hold(ServerLock);
        for (int64_t i = 0; i < Workers.Count(); i++)
            Workers.GetPtr<XTCPServerWorker>(i)->Thread.SignalStop(false);
    }
    // Joined without the lock: a worker takes it once its handler returns.
    for (int64_t i = 0; i < Workers.Count(); i++)
        Workers.GetPtr<XTCPServerWorker>(i)->Thread.Stop();
    XAutoLock hold(ServerLock);
    for (int64_t i = 0; i < Workers.Count(); i++)
        delete Workers.GetPtr<XTCPServerWorker>(i);
    Workers.Clear();
    FreeWorkers.Clear();
    for (int64_t i = 0; i < Pending.Count(); i++) {
        auto* pending = Pending.GetPtr<XTCPServerPending>(i);
        XAbortiveClose(pending->Socket);
        delete pending;
    }
    Pending.Clear();
    if (Socket != -1) {
        ::close(Socket);
        Socket = -1;
    }
}

int XTCPServerSocket::LocalPort() const
{
    if (Socket == -1)
        return 0;
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(Socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

void XTCPServerSocket::SetConnectionDeadline(int socket, int ms, bool clear)
{
    if (IdleTimeoutMS <= 0)
        return;
    XAutoLock hold(ServerLock);
    for (int64_t i = 0; i < Workers.Count(); i++) {
        auto* worker = Workers.GetPtr<XTCPServerWorker>(i);
        if (worker->Socket != socket || worker->Ended)
            continue;
        if (clear) {
            worker->StartMS = 0;
        } else {
            const int wait = std::min(IdleTimeoutMS - 10, ms);
            worker->StartMS = GetTickCount() + static_cast<uint32_t>(wait) - static_cast<uint32_t>(IdleTimeoutMS);
            if (worker->StartMS == 0)
                worker->StartMS = 1;
        }
        return;
    }
}

// Under ServerLock.
void XTCPServerSocket::HandOver(XTCPServerWorker* worker, int socket, const sockaddr_in& client)
{
    worker->Socket = socket;
    worker->Ended = false;
    worker->ClientAddress = client;
    worker->StartMS = GetTickCount();
    if (worker->StartMS == 0)
        worker->StartMS = 1;
    worker->Event.Set();
}

void XTCPServerSocket::SweepIdle()
{
    XAutoLock hold(ServerLock);
    const uint32_t now = GetTickCount();
    for (int64_t i = 0; i < Workers.Count(); i++) {
        auto* worker = Workers.GetPtr<XTCPServerWorker>(i);
        if (worker->Socket == -1 || worker->Ended || worker->StartMS == 0)
            continue;
        if (now - worker->StartMS <= static_cast<uint32_t>(IdleTimeoutMS))
            continue;
        OnIdleTimeout(worker->Socket, worker->ClientAddress, &Workers);
        // The handler still holds the descriptor and closes it; the reset goes out then.
        SetAbortive(worker->Socket);
        shutdown(worker->Socket, SHUT_RDWR);
        worker->Ended = true;
        worker->StartMS = 0;
    }
}

void XTCPServerSocket::AcceptProc(XEvent* stop, void* data)
{
    auto* server = static_cast<XTCPServerSocket*>(data);
    server->AcceptStarted = true;
    if (server->Socket == -1)
        return;
    while (!stop->IsSet()) {
        pollfd fds[2] = {{server->Socket, POLLIN, 0}, {stop->fd[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents & POLLIN)
            break;
        sockaddr_in client{};
        socklen_t length = sizeof client;
        const int fd = accept4(server->Socket, reinterpret_cast<sockaddr*>(&client), &length, SOCK_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            if (error == EINTR || error == EAGAIN || error == EWOULDBLOCK || error == ECONNABORTED || error == EPROTO)
                continue;
            if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
                // Out of descriptors or memory for now: try again shortly instead of spinning.
                if (stop->WaitUntilSet(kRestartDelayMs))
                    break;
                continue;
            }
            if (!server->AutoRestart)
                break;
            // The listening socket itself broke: make a new one until that works or we stop.
            XAutoLock hold(server->ServerLock);
            ::close(server->Socket);
            server->Socket = -1;
            hold.Unlock();
            bool reopened = false;
            while (!reopened && !stop->WaitUntilSet(kRestartDelayMs)) {
                XAutoLock again(server->ServerLock);
                reopened = server->OpenListener();
            }
            if (!reopened)
                break;
            continue;
        }
        XAutoLock hold(server->ServerLock);
        if (server->MaxPerClient > 0) {
            int count = 0;
            for (int64_t i = 0; i < server->Workers.Count(); i++) {
                auto* worker = server->Workers.GetPtr<XTCPServerWorker>(i);
                if (worker->Socket != -1 && !worker->Ended && SameClient(worker->ClientAddress, client))
                    count++;
            }
            if (count >= server->MaxPerClient) {
                server->OnTooManyConnections(fd, client, count, server->MaxPerClient);
                XAbortiveClose(fd);
                continue;
            }
        }
        if (!server->FreeWorkers.IsEmpty()) {
            const int64_t last = server->FreeWorkers.Count() - 1;
            const auto index = static_cast<int64_t>(server->FreeWorkers.Get(last));
            server->FreeWorkers.RemoveAt(last);
            server->HandOver(server->Workers.GetPtr<XTCPServerWorker>(index), fd, client);
        } else if (server->Pending.Count() >= kMaxPending) {
            XAbortiveClose(fd);
        } else {
            auto* pending = new XTCPServerPending;
            pending->Socket = fd;
            pending->ClientAddress = client;
            server->Pending.Add(pending);
            server->QueueEvent.Set();
        }
    }
}

void XTCPServerSocket::DispatchProc(XEvent* stop, void* data)
{
    auto* server = static_cast<XTCPServerSocket*>(data);
    server->DispatchStarted = true;
    const int idle = server->IdleTimeoutMS;
    // Short idle limits are checked more often than every 5 s, so they hold within half
    // their length.
    const int interval = idle > 0 ? std::min(kSweepIntervalMs, std::max(50, idle / 2)) : kSweepIntervalMs;
    uint32_t lastSweep = GetTickCount();
    const auto sweepWhenDue = [&] {
        if (idle > 0 && GetTickCount() - lastSweep >= static_cast<uint32_t>(interval)) {
            server->SweepIdle();
            lastSweep = GetTickCount();
        }
    };
    for (;;) {
        const int woke = stop->WaitForEither(server->QueueEvent, interval);
        if (woke == 1)
            return;
        if (woke == 2) {
            for (;;) {
                XAutoLock hold(server->ServerLock);
                if (server->Pending.IsEmpty()) {
                    server->QueueEvent.Clear();
                    break;
                }
                if (!server->FreeWorkers.IsEmpty()) {
                    const int64_t last = server->FreeWorkers.Count() - 1;
                    const auto index = static_cast<int64_t>(server->FreeWorkers.Get(last));
                    server->FreeWorkers.RemoveAt(last);
                    auto* pending = server->Pending.GetPtr<XTCPServerPending>(0);
                    server->Pending.RemoveAt(0);
                    server->HandOver(server->Workers.GetPtr<XTCPServerWorker>(index), pending->Socket,
                                     pending->ClientAddress);
                    delete pending;
                    continue;
                }
                hold.Unlock();
                // Every worker is busy: wait for one, still ending idle connections meanwhile.
                const int freed = stop->WaitForEither(server->WorkerFreeEvent, interval);
                if (freed == 1)
                    return;
                if (freed == 2)
                    server->WorkerFreeEvent.Clear();
                sweepWhenDue();
            }
        }
        sweepWhenDue();
    }
}

void XTCPServerSocket::WorkerProc(XEvent* stop, void* data)
{
    auto* worker = static_cast<XTCPServerWorker*>(data);
    XTCPServerSocket* server = worker->Owner;
    for (;;) {
        const int woke = stop->WaitForEither(worker->Event, -1);
        if (woke != 2)
            return;
        int socket;
        sockaddr_in client;
        {
            XAutoLock hold(server->ServerLock);
            worker->Event.Clear();
            socket = worker->Socket;
            client = worker->ClientAddress;
        }
        if (socket != -1)
            server->HandleConnection(socket, client, stop);
        XAutoLock hold(server->ServerLock);
        worker->Socket = -1;
        worker->Ended = false;
        worker->StartMS = 0;
        server->FreeWorkers.Add(static_cast<uint64_t>(worker->Index));
        server->WorkerFreeEvent.Set();
    }
}
