// Real servers for the network tests, every one on 127.0.0.1 and on a free port it picks
// itself: the scripted HTTP server and CONNECT proxy of http_test_server.py, Python's own
// http.server, `openssl s_server` with certificates made for the test by `openssl req`, and
// a bare listening socket for byte-exact exchanges. Each server lives as long as its object.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/TestFiles.h"
#include "common/ToolRun.h"

extern char** environ;

// A child process whose standard output names the port it listens on. Its output is read
// on a thread for as long as it runs, so that it never blocks on a full pipe.
class TestServerProcess {
public:
    TestServerProcess() = default;
    ~TestServerProcess() { Stop(); }
    TestServerProcess(const TestServerProcess&) = delete;
    TestServerProcess& operator=(const TestServerProcess&) = delete;

    // Starts args (args[0] looked up on PATH) in workDir (empty: ours) and waits until a line
    // of its output holds portMarker followed by the port. False when it does not come. With
    // withInput its standard input is a pipe that Input writes to; otherwise /dev/null.
    bool Start(const std::vector<std::string>& args, const std::string& portMarker, const std::string& workDir = "",
               int timeoutMs = 300000, bool withInput = false)
    {
        Stop();
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return false;
        int in[2] = {-1, -1};
        if (withInput && pipe2(in, O_CLOEXEC) != 0) {
            close(out[0]);
            close(out[1]);
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (withInput)
            posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        else
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        if (!workDir.empty())
            posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
        std::vector<std::string> all(args);
        std::vector<char*> argv;
        for (std::string& arg : all)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int spawned = posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (withInput) {
            close(in[0]);
            m_input = in[1];
        }
        if (spawned != 0) {
            close(out[0]);
            m_pid = -1;
            return false;
        }
        m_fd = out[0];
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::string seen;
        while (m_port == 0 && std::chrono::steady_clock::now() < deadline) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            char chunk[4096];
            const ssize_t n = read(m_fd, chunk, sizeof chunk);
            if (n <= 0)
                break;
            seen.append(chunk, static_cast<size_t>(n));
            const size_t at = seen.find(portMarker);
            if (at != std::string::npos) {
                const size_t digits = at + portMarker.size();
                const size_t end = seen.find_first_not_of("0123456789", digits);
                if (end != std::string::npos && end > digits)
                    m_port = std::stoi(seen.substr(digits, end - digits));
            }
        }
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_output = seen;
        }
        m_reader = std::thread([this] {
            char chunk[4096];
            ssize_t n;
            while ((n = read(m_fd, chunk, sizeof chunk)) > 0) {
                std::lock_guard<std::mutex> hold(m_lock);
                m_output.append(chunk, static_cast<size_t>(n));
            }
        });
        return m_port != 0;
    }

    // Writes to the child's standard input (see Start).
    bool Input(const std::string& data)
    {
        size_t done = 0;
        while (m_input >= 0 && done < data.size()) {
            const ssize_t n = write(m_input, data.data() + done, data.size() - done);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return m_input >= 0;
    }

    // Ends the child at once: whatever connections it has are closed by the system, not by it.
    void Kill()
    {
        if (m_pid > 0)
            kill(m_pid, SIGKILL);
    }

    void Stop()
    {
        if (m_input >= 0) {
            close(m_input);
            m_input = -1;
        }
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int status = 0;
            for (int i = 0; i < 300 && waitpid(m_pid, &status, WNOHANG) == 0; i++)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (waitpid(m_pid, &status, WNOHANG) == 0) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
            }
            m_pid = -1;
        }
        if (m_reader.joinable())
            m_reader.join();
        if (m_fd >= 0) {
            close(m_fd);
            m_fd = -1;
        }
        m_port = 0;
    }

    int port() const { return m_port; }
    std::string output()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_output;
    }

private:
    pid_t m_pid = -1;
    int m_fd = -1;
    int m_input = -1;
    int m_port = 0;
    std::thread m_reader;
    std::mutex m_lock;
    std::string m_output;
};

inline std::string NetTestScriptPath()
{
    return std::string(MARVONI_TESTS_SOURCE_DIR) + "/common/http_test_server.py";
}

// The scripted server and proxy; auth "USER:PASS" makes the proxy want those credentials.
inline bool StartScriptServer(TestServerProcess& server, const std::string& auth = std::string())
{
    std::vector<std::string> args{"python3", "-u", NetTestScriptPath()};
    if (!auth.empty()) {
        args.push_back("--auth");
        args.push_back(auth);
    }
    return server.Start(args, "PORT ");
}

// Python's http.server serving the folder.
inline bool StartPythonHttpServer(TestServerProcess& server, const std::string& folder)
{
    return server.Start({"python3", "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", folder},
                        "127.0.0.1 port ");
}

// `openssl s_server` with the certificate; mode "-WWW" serves files of folder as 200 answers,
// "-HTTP" serves files that hold whole HTTP answers.
inline bool StartTLSServer(TestServerProcess& server, const std::string& cert, const std::string& key,
                           const std::string& folder, const char* mode = "-WWW")
{
    return server.Start({"openssl", "s_server", "-accept", "127.0.0.1:0", "-cert", cert, "-key", key, mode},
                        "ACCEPT 127.0.0.1:", folder);
}

// Certificates made with the openssl command line in a folder of the test: a private
// authority, and server certificates for 127.0.0.1 signed by it (good, expired, for another
// host name) or by nobody (self-signed).
struct TestCertificates {
    std::string dir;
    std::string ca, caKey;
    std::string good, goodKey;
    std::string expired, expiredKey;
    std::string otherHost, otherHostKey;
    std::string selfSigned, selfSignedKey;

    bool Make(const std::string& folder)
    {
        dir = folder;
        ca = dir + "/ca.pem";
        caKey = dir + "/ca.key";
        if (!Run({"openssl",
                  "req",
                  "-x509",
                  "-newkey",
                  "ec",
                  "-pkeyopt",
                  "ec_paramgen_curve:prime256v1",
                  "-nodes",
                  "-keyout",
                  caKey,
                  "-out",
                  ca,
                  "-days",
                  "2",
                  "-subj",
                  "/CN=Marvoni Test Authority",
                  "-addext",
                  "basicConstraints=critical,CA:TRUE",
                  "-addext",
                  "keyUsage=critical,keyCertSign,cRLSign"}))
            return false;
        return Signed("good", "IP:127.0.0.1,DNS:localhost", "2", good, goodKey) &&
               Signed("expired", "IP:127.0.0.1", "-1", expired, expiredKey) &&
               Signed("other", "DNS:elsewhere.invalid", "2", otherHost, otherHostKey) && SelfSigned();
    }

private:
    static bool Run(const std::vector<std::string>& args) { return RunProgramQuietly(args); }

    bool Signed(const std::string& name, const std::string& names, const std::string& days, std::string& cert,
                std::string& key)
    {
        cert = dir + "/" + name + ".pem";
        key = dir + "/" + name + ".key";
        const std::string request = dir + "/" + name + ".csr";
        const std::string extensions = dir + "/" + name + ".ext";
        WriteTestFile(extensions,
                      "subjectAltName=" + names + "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
        return Run({"openssl", "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                    "-keyout", key, "-out", request, "-subj", "/CN=" + name}) &&
               Run({"openssl", "x509", "-req", "-in", request, "-CA", ca, "-CAkey", caKey, "-CAcreateserial", "-days",
                    days, "-extfile", extensions, "-out", cert});
    }

    bool SelfSigned()
    {
        selfSigned = dir + "/self.pem";
        selfSignedKey = dir + "/self.key";
        return Run({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                    "-keyout", selfSignedKey, "-out", selfSigned, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                    "subjectAltName=IP:127.0.0.1"});
    }
};

// A listening socket on 127.0.0.1 for exchanges written byte by byte in the test.
class TestListener {
public:
    TestListener()
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(m_fd, 16) != 0) {
            ADD_FAILURE() << "no listening socket on 127.0.0.1";
            return;
        }
        socklen_t length = sizeof address;
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~TestListener()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    TestListener(const TestListener&) = delete;
    TestListener& operator=(const TestListener&) = delete;

    int port() const { return m_port; }
    // The next connection, or -1 when none comes within the time.
    int Accept(int timeoutMs = 300000)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1)
            return -1;
        return accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    }

private:
    int m_fd = -1;
    int m_port = 0;
};

// Reads from fd until the text holds marker (or the peer closes, or the time is up).
inline std::string ReadUntil(int fd, const std::string& marker, int timeoutMs = 300000)
{
    std::string data;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (data.find(marker) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) != 1)
            continue;
        char chunk[4096];
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        data.append(chunk, static_cast<size_t>(n));
    }
    return data;
}

inline bool SendAllTo(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The same bytes as http_test_server.py's pattern(size).
inline std::string NetTestPattern(size_t size)
{
    std::string data(size, '\0');
    for (size_t i = 0; i < size; i++)
        data[i] = static_cast<char>((i * 7 + 3) & 0xff);
    return data;
}
