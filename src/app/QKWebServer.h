// The maker's web server: the version lists and the ffmpeg archives come from it. It is not
// built in: its base address is the environment variable MARVONI_WEB_BASE (an http or https
// address). Without it, or with an address that cannot be used, the features that need the
// server say so and the rest of the program works.
#pragma once

#include "xclass/XStr.h"

#include <cstdint>

class XHTTPClient;

// The time limits of the requests to the web server. Every single wait has waitMs; the
// version list, all its requests together, listDeadlineMs; an ffmpeg archive
// downloadDeadlineMs, and it fails sooner when fewer than stallMinBytes arrive within any
// stallWindowMs (a server that sends a byte now and then is no download).
struct QKWebTimes {
    int waitMs = 20000;
    int listDeadlineMs = 15000;
    int downloadDeadlineMs = 3600000;
    int stallWindowMs = 30000;
    int64_t stallMinBytes = 16384;
};

class QKWebServer {
public:
    static constexpr const char* kBaseVariable = "MARVONI_WEB_BASE";

    // The base address without a trailing "/"; false with the reason in words when there is
    // none that can be used.
    static bool baseURL(XStr* base, XStr* error);
    // The base address followed by path (which begins with "/"); empty with the reason when
    // there is no usable base.
    static XStr urlFor(const wchar_t* path, XStr* error);
    enum class Request { List, Download };
    // The request settings shared by the version check and the download: user agent
    // "Marvoni", the time limits of times() for that kind of request, 3 requests per call,
    // the proxy of the settings store.
    static void prepareClient(XHTTPClient& client, Request kind);
    // The time limits in use; the defaults unless set (tests and tools set short ones).
    static QKWebTimes times();
    static void setTimes(const QKWebTimes& times);
    // Whether text is an http or https address (the only ones the program opens or asks).
    static bool isWebAddress(const XStr& text);
};
