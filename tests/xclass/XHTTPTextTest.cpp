// The HTTP client's text work without a connection: URLs, heads and header lines.
#include <gtest/gtest.h>

#include <cstring>

#include "xclass/XHTTPClient.h"

namespace {

XURLParts Split(const wchar_t* url, bool* ok = nullptr)
{
    XHTTPRequest request(nullptr, 1000);
    const bool accepted = request.SetURL(XStr(url));
    if (ok)
        *ok = accepted;
    return request.URL;
}

bool Accepted(const wchar_t* url)
{
    bool ok = false;
    Split(url, &ok);
    return ok;
}

TEST(XHTTPText, URLsSplitIntoHostPortAndPath)
{
    XURLParts parts = Split(L"HTTPS://Example.test:8443/a/b?x=1&y=2#part");
    EXPECT_TRUE(parts.IsHTTPS);
    EXPECT_EQ(parts.Host, L"Example.test");
    EXPECT_EQ(parts.Port, 8443);
    EXPECT_EQ(parts.Path, L"/a/b?x=1&y=2");
    EXPECT_FALSE(parts.IsDefaultPort());

    parts = Split(L"example.test");
    EXPECT_FALSE(parts.IsHTTPS);
    EXPECT_EQ(parts.Port, 80);
    EXPECT_EQ(parts.Path, L"/");
    EXPECT_TRUE(parts.IsDefaultPort());
    EXPECT_EQ(Split(L"https://example.test?q").Path, L"/?q");
    EXPECT_EQ(Split(L"https://example.test").Port, 443);
    // "://" inside the query is no scheme.
    EXPECT_EQ(Split(L"example.test/go?to=http://elsewhere").Host, L"example.test");

    for (const wchar_t* refused :
         {L"ftp://example.test/", L"http:///path", L"http://:80/", L"http://host:0/", L"http://host:70000/",
          L"http://host:8a/", L"http://user@host/", L"http://host/a b", L"http://host/a\r\nX-Injected: 1", L""})
        EXPECT_FALSE(Accepted(refused)) << XStr(refused).ToUTF8String();
}

TEST(XHTTPText, ReferencesBecomeAbsoluteURLs)
{
    XURLParts parts = Split(L"http://example.test:8080/a/b");
    EXPECT_EQ(parts.GetURL(), L"http://example.test:8080/a/b");
    EXPECT_EQ(parts.MakeURL(XStr(L"c/d")), L"http://example.test:8080/a/c/d");
    EXPECT_EQ(parts.MakeURL(XStr(L"/e")), L"http://example.test:8080/e");
    EXPECT_EQ(parts.MakeURL(XStr(L"//other.test/f")), L"http://other.test/f");
    parts = Split(L"https://example.test/dir/My%20File%C3%A9.tar.bz2");
    EXPECT_EQ(parts.MakeURL(XStr(L"x")), L"https://example.test/dir/x");
    EXPECT_EQ(parts.GetFileName(), L"My File\u00e9.tar.bz2");
}

TEST(XHTTPText, FormEncodingRoundTrips)
{
    EXPECT_EQ(XURLEncode(XStr(L"a b&c=d/\u00e9-._~")), L"a+b%26c%3Dd%2F%C3%A9-._%7E");
    EXPECT_EQ(XURLDecode(XStr(L"a+b%26c%3dd%2F%C3%A9")), L"a b&c=d/\u00e9");
    EXPECT_EQ(XURLDecode(XStr(L"100%")), L"100%");
    EXPECT_EQ(XURLDecode(XStr(L"%4")), L"%4");
    EXPECT_EQ(XURLDecode(XStr(L"%zz")), L"%zz");
    const XStr text(L"Bj\u00f6rk & friends / 50% + more");
    EXPECT_EQ(XURLDecode(XURLEncode(text)), text);
}

TEST(XHTTPText, HeadsSplitIntoStatusAndHeaderLines)
{
    const char* head = "HTTP/1.1 404 Not Found Here\r\nContent-Type: text/plain\r\nX-Blank:   padded  \r\n"
                       "content-type: second";
    XHTTPStatusLine status;
    XStrList headers;
    ASSERT_TRUE(XHTTPRequest::ParseHead(reinterpret_cast<const uint8_t*>(head), strlen(head), status, headers));
    EXPECT_EQ(status.Version, L"HTTP/1.1");
    EXPECT_EQ(status.Code, 404);
    EXPECT_EQ(status.Reason, L"Not Found Here");
    EXPECT_EQ(headers.Count(), 3);
    EXPECT_EQ(XHTTPRequest::FindHeader(headers, L"CONTENT-TYPE"), L"text/plain");
    EXPECT_EQ(XHTTPRequest::FindHeader(headers, L"x-blank"), L"padded");
    bool found = true;
    EXPECT_TRUE(XHTTPRequest::FindHeader(headers, L"Content", &found).IsEmpty());
    EXPECT_FALSE(found);

    ASSERT_TRUE(XHTTPRequest::ParseStatusLine(XStr(L"HTTP/1.0 200"), status));
    EXPECT_EQ(status.Code, 200);
    EXPECT_TRUE(status.Reason.IsEmpty());
    EXPECT_FALSE(XHTTPRequest::ParseStatusLine(XStr(L"HTTP/1.0"), status));
    EXPECT_FALSE(XHTTPRequest::ParseStatusLine(XStr(L"SSH-2.0 x"), status));
    ASSERT_TRUE(XHTTPRequest::ParseStatusLine(XStr(L"HTTP/1.0 99999999999999999999 Big"), status));
    EXPECT_EQ(status.Code, 0);
}

TEST(XHTTPText, RedirectTargetsAndHeaderLists)
{
    XHTTPRequest request(nullptr, 1000);
    ASSERT_TRUE(request.SetURL(XStr(L"http://example.test/a/b")));
    request.Status.Code = 302;
    EXPECT_TRUE(request.GetRedirectURL().IsEmpty());
    request.ResponseHeaders.Add(L"Location: c/d");
    EXPECT_EQ(request.GetRedirectURL(), L"http://example.test/a/c/d");
    request.Status.Code = 200;
    EXPECT_TRUE(request.GetRedirectURL().IsEmpty());
    for (int code : {301, 302, 303, 307, 308})
        EXPECT_TRUE(XHTTPRequest::IsRedirectStatus(code));
    EXPECT_FALSE(XHTTPRequest::IsRedirectStatus(304));

    XStrList list;
    list.Add(L"Accept: */*");
    list.Add(L"user-agent: one");
    list.Add(L"User-Agent: two");
    EXPECT_TRUE(XHTTPRequest::RemoveRequestHeader(list, L"User-Agent"));
    EXPECT_FALSE(XHTTPRequest::RemoveRequestHeader(list, L"User-Agent"));
    EXPECT_EQ(XHTTPRequest::JoinHeaderLines(list), L"Accept: */*\r\n");
    request.SetHTTP11();
    EXPECT_TRUE(request.IsHTTP11());
    EXPECT_FALSE(request.IsHTTP10());
}

} // namespace
