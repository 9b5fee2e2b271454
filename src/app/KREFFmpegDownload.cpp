#include "app/KREFFmpegDownload.h"

#include "app/QKWebServer.h"
#include "media/QKLocateFFmpeg.h"
#include "xclass/XEvent.h"
#include "xclass/XFile.h"
#include "xclass/XHTTPClient.h"
#include "xclass/XTempFile.h"

#include <cerrno>
#include <cstring>

namespace {

bool Stopped(XEvent* stop)
{
    return stop && stop->IsSet();
}

// One address into the file, from its start.
bool Fetch(const XStr& url, XEvent* stop, XTempFile& file, XStr* error)
{
    XFile out;
    if (!out.OpenCreate(file)) {
        *error = L"The temporary file could not be written: " + XStr::FromUTF8(std::strerror(errno));
        return false;
    }
    XHTTPClient client;
    QKWebServer::prepareClient(client, QKWebServer::Request::Download);
    client.StopEvent = stop;
    client.BodyLimit = KREFFmpegDownload::kMaxArchiveBytes;
    bool writeFailed = false;
    uint64_t received = 0;
    const bool ok = client.GetStream(url, [&](const uint8_t* data, size_t size) {
        received += size;
        if (out.Write(data, size))
            return true;
        writeFailed = true;
        client.LastError = L"the temporary file could not be written: " + XStr::FromUTF8(std::strerror(errno));
        return false;
    });
    out.Close();
    if (!ok) {
        *error = url + L": " + client.LastError;
        return false;
    }
    if (writeFailed)
        return false;
    if (received == 0) {
        *error = url + L": the server sent an empty file";
        return false;
    }
    return true;
}

} // namespace

XStr KREFFmpegDownload::specificPath()
{
    return XStr::FromFormat(L"/install/ffmpeg-mac-%s-qk%s.tar.bz2", L"x86_64", L"video");
}

bool KREFFmpegDownload::download(XEvent* stop, XTempFile& file, XStr* fromURL, XStr* error)
{
    XStr base;
    if (!QKWebServer::baseURL(&base, error))
        return false;
    if (!file.Create("KRE", ".tar.bz2")) {
        *error = L"No temporary file could be made: " + XStr::FromUTF8(std::strerror(errno));
        return false;
    }
    XStr reasons;
    for (const XStr& path : {specificPath(), XStr(kGenericPath)}) {
        if (Stopped(stop))
            break;
        const XStr url = base + path;
        XStr reason;
        if (Fetch(url, stop, file, &reason)) {
            *fromURL = url;
            return true;
        }
        if (!reasons.IsEmpty())
            reasons += L"\n";
        reasons += reason;
    }
    *error = Stopped(stop) ? XStr(L"The download was cancelled.") : reasons;
    file.Delete();
    return false;
}

KREFFmpegDownloadResult KREFFmpegDownload::downloadAndInstall(XEvent* stop, const std::function<bool()>& mayInstall)
{
    KREFFmpegDownloadResult result;
    XTempFile file; // lives until installing has returned
    if (!download(stop, file, &result.fromURL, &result.error)) {
        result.cancelled = Stopped(stop);
        return result;
    }
    if (Stopped(stop) || (mayInstall && !mayInstall())) {
        result.cancelled = true;
        result.error = L"The download was cancelled.";
        return result;
    }
    if (!QKLocateFFmpeg::installFrom(file, true, &result.error))
        return result;
    result.ok = true;
    result.installed = QKLocateFFmpeg::pathToExternalFFmpeg();
    return result;
}
