// A listening TCP server over IPv4 with a fixed pool of worker threads.
//
// An accept thread takes connections and hands each to a free worker, which calls the derived
// class's HandleConnection; connections that find no free worker wait in a queue that the
// dispatch thread feeds to workers as they become free. The dispatcher also ends connections
// that stay longer than the idle limit, and a limit per client address turns the surplus away.
//
// A derived class calls Stop in its own destructor: the workers call its handler, which must
// not be running while the derived part is torn down.
//
// A handler owns its socket and closes it. When the server ends a connection under a running
// handler (idle limit), it only shuts the connection down abortively: the handler's reads and
// writes fail at once, and the descriptor stays the handler's to close, so that it can never
// be closed twice or reused under the handler's feet.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>

#include "xclass/XCriticalSection.h"
#include "xclass/XEvent.h"
#include "xclass/XList.h"
#include "xclass/XStr.h"
#include "xclass/XThread.h"

class XTCPServerSocket;

struct XTCPServerWorker {
    XThread Thread;
    XEvent Event; // set when a connection is handed over
    int Index = 0;
    int Socket = -1;      // -1: idle
    bool Ended = false;   // the server ended the connection; the handler still closes it
    uint32_t StartMS = 0; // GetTickCount when the connection came; 0: no idle check
    sockaddr_in ClientAddress{};
    XTCPServerSocket* Owner = nullptr;
};

struct XTCPServerPending {
    int Socket = -1;
    sockaddr_in ClientAddress{};
};

class XTCPServerSocket {
public:
    // Accepted connections waiting for a worker; beyond this many, new ones are turned away.
    static constexpr int kMaxPending = 1024;

    int Socket = -1; // the listening socket; -1: none
    XThread AcceptThread;
    XThread DispatchThread;
    std::atomic<bool> AcceptStarted{false};
    std::atomic<bool> DispatchStarted{false};
    bool AutoRestart = false; // listen anew when the listening socket fails
    XStr BindAddress;         // empty: any address
    int Port = 0;
    int WorkerCount = 0;
    int IdleTimeoutMS = 0; // 0: no idle limit
    int MaxPerClient = 0;  // 0: no limit
    XList Workers;         // XTCPServerWorker*, owned
    XList FreeWorkers;     // indexes into Workers
    XCriticalSection ServerLock;
    XEvent WorkerFreeEvent;
    XEvent QueueEvent;
    XList Pending; // XTCPServerPending*, owned

    XTCPServerSocket() = default;
    virtual ~XTCPServerSocket();
    XTCPServerSocket(const XTCPServerSocket&) = delete;
    XTCPServerSocket& operator=(const XTCPServerSocket&) = delete;

    // Runs on a worker thread and owns the exchange; closes socket when done. stop is set
    // when the server stops.
    virtual void HandleConnection(int socket, const sockaddr_in& client, XEvent* stop) = 0;
    // Called under the server's lock before a connection beyond MaxPerClient is closed.
    virtual void OnTooManyConnections(int socket, const sockaddr_in& client, int count, int limit);
    // Called under the server's lock before an idle connection is ended.
    virtual void OnIdleTimeout(int socket, const sockaddr_in& client, XList* workers);

    // Stops a running server, then binds (port 0: any free one) and listens. False when the
    // socket cannot be made, bound or put to listening.
    bool Start(int port, int workerCount, int idleTimeoutMs, int maxPerClient, const char* bindAddress,
               bool autoRestart);
    void Stop();
    // The port the server listens on (useful after Start with port 0); 0 when none.
    int LocalPort() const;
    // With an idle limit: clear exempts the connection from it; otherwise it is ended once
    // min(IdleTimeoutMS - 10, ms) ms have passed from now.
    void SetConnectionDeadline(int socket, int ms, bool clear);

private:
    bool OpenListener();
    void HandOver(XTCPServerWorker* worker, int socket, const sockaddr_in& client);
    void SweepIdle();
    static void AcceptProc(XEvent* stop, void* data);
    static void DispatchProc(XEvent* stop, void* data);
    static void WorkerProc(XEvent* stop, void* data);
};

// SO_LINGER on with time 0, then close: the peer sees a reset, and no TIME_WAIT remains.
void XAbortiveClose(int socket);
