// The HTTP answer readers on any bytes, as a server (or anything that pretends to be one)
// might send them: the client's head, status line, length, chunk and trailer reader; the
// socket HTTP client's header and body lookups; and URLs taken from a Location header.
// Interim (1xx) answers are never the answer.
// Whatever the bytes, a body that is read must stay within what came and within the limit.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "xclass/XHTTPClient.h"
#include "xclass/XTCPSocket.h"

namespace {

// An HTTP request whose connection is a block of memory, handed out in uneven pieces.
class MemoryRequest : public XHTTPRequest {
public:
    MemoryRequest(const uint8_t* data, size_t size, const wchar_t* method)
        : XHTTPRequest(method, 1000), m_data(data), m_size(size)
    {
    }

    int Receive(void* buffer, int size, XEvent*) override
    {
        if (size <= 0)
            return 0;
        size_t n = std::min(static_cast<size_t>(size), m_size - m_pos);
        n = std::min<size_t>(n, 1 + (m_pos * 7919) % 4093); // pieces of varying size
        memcpy(buffer, m_data + m_pos, n);
        m_pos += n;
        return static_cast<int>(n);
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first byte picks the method and the body limit; the rest is the answer.
    const uint8_t mode = size ? data[0] : 0;
    const uint8_t* answer = size ? data + 1 : data;
    const size_t length = size ? size - 1 : 0;
    static const int64_t limits[] = {-1, 0, 10, 100000};

    MemoryRequest request(answer, length, (mode & 4) ? L"HEAD" : L"GET");
    request.BodyLimit = limits[mode & 3];
    request.SetURL(XStr(L"http://127.0.0.1:8080/dir/file"));
    if (request.ReadResponse(nullptr)) {
        fuzz::Check(request.ResponseBody.Used <= length, "a body larger than what came");
        fuzz::Check(request.Status.Code < 100 || request.Status.Code > 199, "an interim answer taken for the answer");
        if (request.BodyLimit >= 0)
            fuzz::Check(request.ResponseBody.Used <= static_cast<uint64_t>(request.BodyLimit), "a body past the limit");
        (void)request.GetResponseHeader(L"Content-Type");
        const XStr next = request.GetRedirectURL();
        if (!next.IsEmpty()) {
            XHTTPRequest follow(nullptr, 1000);
            if (follow.SetURL(next)) {
                fuzz::Check(!follow.URL.Host.IsEmpty(), "a URL without a host was accepted");
                fuzz::Check(follow.URL.Port > 0 && follow.URL.Port <= 65535, "a URL with a bad port was accepted");
                (void)follow.URL.GetFileName();
            }
        }
    } else {
        fuzz::Check(!request.LastError.IsEmpty(), "a failure without a reason");
    }

    XTCPSocket socket;
    socket.Response.Assign(answer, length, 1);
    int bodySize = 0;
    const uint8_t* body = socket.GetBody(&bodySize);
    fuzz::Check(!body || (body >= socket.Response.Data && body + bodySize <= socket.Response.Data + length),
                "a body outside the answer");
    XStr value;
    socket.GetHeaderValue(value, "Content-Length:", true, 0);
    socket.GetHeaderValue(value, "HTTP/?.? ", false, 1);
    (void)socket.GetHeaderText(100);
    return 0;
}
