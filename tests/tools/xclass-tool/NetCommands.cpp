// http-get URL [--out FILE] [--proxy HOST:PORT] [--ca FILE] [--timeout-ms N] [--deadline-ms N]
//
// Fetches URL with the class library's HTTP client (redirects followed), prints the status
// line and the header lines of the last answer, and writes the body of a 200 answer to FILE.
// --proxy goes through that proxy (CONNECT for https); --ca trusts the certificates in FILE
// beside the system's; --timeout-ms sets the longest single wait and --deadline-ms the whole
// call (the client's defaults otherwise). Exits 0 on success, 1 with the reason on standard
// error otherwise.
//
// serve-once PORT FILE
//
// Serves FILE to one request on 127.0.0.1:PORT through the class library's server socket, then
// exits. PORT 0 takes a free port. Prints "listening on 127.0.0.1:N" once it listens, and
// "served LINE" with the request line once it has answered. GET and HEAD get the file, other
// methods 405.

#include "tools/common/ToolCommand.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "xclass/XBuffer.h"
#include "xclass/XEvent.h"
#include "xclass/XFileRewrite.h"
#include "xclass/XHTTPClient.h"
#include "xclass/XTCPServerSocket.h"
#include "xclass/XTCPSocketStd.h"

namespace {

bool ParsePort(const std::string& text, int& port)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(text);
    return port <= 65535;
}

bool ParseMilliseconds(const std::string& text, int& ms)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    ms = std::stoi(text);
    return true;
}

int HttpGet(int argc, char** argv)
{
    const char* usage =
        "usage: http-get URL [--out FILE] [--proxy HOST:PORT] [--ca FILE] [--timeout-ms N] [--deadline-ms N]";
    std::string url, out, proxy, ca;
    XHTTPClient client;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if ((arg == "--out" || arg == "--proxy" || arg == "--ca") && i + 1 < argc) {
            (arg == "--out" ? out : arg == "--proxy" ? proxy : ca) = argv[++i];
        } else if ((arg == "--timeout-ms" || arg == "--deadline-ms") && i + 1 < argc) {
            if (!ParseMilliseconds(argv[++i], arg == "--timeout-ms" ? client.TimeoutMs : client.DeadlineMs))
                return ToolFail(argv[0], arg + " takes a number of milliseconds");
        } else if (url.empty() && arg.rfind("--", 0) != 0) {
            url = arg;
        } else {
            return ToolFail(argv[0], usage);
        }
    }
    if (url.empty())
        return ToolFail(argv[0], usage);

    client.UserAgent = L"xclass-tool";
    if (!ca.empty())
        client.CAFile = XStr::FromUTF8(ToolAbsolutePath(ca));
    if (!proxy.empty()) {
        const size_t colon = proxy.rfind(':');
        int port = 0;
        if (colon == std::string::npos || colon == 0 || !ParsePort(proxy.substr(colon + 1), port) || port == 0)
            return ToolFail(argv[0], "--proxy takes HOST:PORT");
        client.Proxy.UseProxy = 1;
        client.Proxy.Server = XStr::FromUTF8(proxy.substr(0, colon));
        client.Proxy.Port = port;
    }
    XBuffer body;
    const bool ok = client.Get(XStr::FromUTF8(url), body);
    std::string head;
    if (!client.LastStatus.Line.IsEmpty()) {
        head = client.LastStatus.Line.ToUTF8String() + "\n";
        for (int64_t i = 0; i < client.LastHeaders.Count(); i++)
            if (!client.LastHeaders[i].IsEmpty())
                head += client.LastHeaders[i].ToUTF8String() + "\n";
    }
    ToolWrite(head);
    if (!ok) {
        body.Free();
        return ToolFail(argv[0], client.LastError.ToUTF8String());
    }
    if (!out.empty() && !XFileWriteAll(XStr::FromUTF8(ToolAbsolutePath(out)).p, body.Data, body.Used)) {
        body.Free();
        return ToolFail(argv[0], "cannot write " + out);
    }
    body.Free();
    return 0;
}

std::string ReadWholeFile(const std::string& path, bool& ok)
{
    std::string data;
    ok = false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return data;
    char chunk[65536];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0)
        data.append(chunk, static_cast<size_t>(n));
    ok = n == 0;
    close(fd);
    return data;
}

class OneRequestServer : public XTCPServerSocket {
public:
    std::string Content;
    std::string RequestLine;
    XEvent Done;

    void HandleConnection(int socket, const sockaddr_in&, XEvent* stop) override
    {
        XTCPSocketStd connection(10000);
        if (connection.Attach(socket, "client")) {
            Answer(connection, stop);
            connection.Close();
        }
        Done.Set();
    }

private:
    void Answer(XTCPSocketStd& connection, XEvent* stop)
    {
        std::string head;
        while (head.size() < 65536 && head.find("\r\n\r\n") == std::string::npos) {
            char chunk[4096];
            const int got = connection.Receive(chunk, sizeof chunk, stop);
            if (got <= 0)
                return;
            head.append(chunk, static_cast<size_t>(got));
        }
        RequestLine = head.substr(0, head.find("\r\n"));
        const bool get = RequestLine.rfind("GET ", 0) == 0;
        const bool headOnly = RequestLine.rfind("HEAD ", 0) == 0;
        std::string answer;
        if (get || headOnly) {
            answer = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                     std::to_string(Content.size()) + "\r\nConnection: close\r\n\r\n";
            if (get)
                answer += Content;
        } else {
            answer = "HTTP/1.0 405 Method Not Allowed\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        }
        if (connection.Send(answer.data(), static_cast<int>(answer.size())))
            connection.ShutdownSend();
        // Lets the client read everything before the close.
        char drain[256];
        while (connection.Receive(drain, sizeof drain, stop) > 0) {}
    }
};

int ServeOnce(int argc, char** argv)
{
    int port = 0;
    if (argc != 3 || !ParsePort(argv[1], port))
        return ToolFail(argv[0], "usage: serve-once PORT FILE");
    OneRequestServer server;
    bool readable = false;
    server.Content = ReadWholeFile(argv[2], readable);
    if (!readable)
        return ToolFail(argv[0], std::string("cannot read ") + argv[2]);
    if (!server.Start(port, 1, 0, 0, "127.0.0.1", false))
        return ToolFail(argv[0], "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + strerror(errno));
    ToolWrite("listening on 127.0.0.1:" + std::to_string(server.LocalPort()) + "\n");
    server.Done.WaitUntilSet(-1);
    server.Stop();
    ToolWrite("served " + server.RequestLine + "\n");
    return 0;
}

const ToolCommand httpGetCommand("http-get", "URL [--out FILE] [--proxy HOST:PORT] [--ca FILE]", HttpGet);
const ToolCommand serveOnceCommand("serve-once", "PORT FILE  (one request on 127.0.0.1, then exit)", ServeOnce);

} // namespace
