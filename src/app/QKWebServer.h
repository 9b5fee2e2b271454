// The maker's web server: the version lists and the ffmpeg archives come from it. It is not
// built in: its base address is the environment variable MARVONI_WEB_BASE (an http or https
// address). Without it, or with an address that cannot be used, the features that need the
// server say so and the rest of the program works.
#pragma once

#include "xclass/XStr.h"

class XHTTPClient;

class QKWebServer {
public:
    static constexpr const char* kBaseVariable = "MARVONI_WEB_BASE";

    // The base address without a trailing "/"; false with the reason in words when there is
    // none that can be used.
    static bool baseURL(XStr* base, XStr* error);
    // The base address followed by path (which begins with "/"); empty with the reason when
    // there is no usable base.
    static XStr urlFor(const wchar_t* path, XStr* error);
    // The request settings shared by the version check and the download: user agent
    // "Marvoni", 20 s for every wait, 3 requests per call, the proxy of the settings store.
    static void prepareClient(XHTTPClient& client);
    // Whether text is an http or https address (the only ones the program opens or asks).
    static bool isWebAddress(const XStr& text);
};
