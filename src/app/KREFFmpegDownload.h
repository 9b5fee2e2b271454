// Downloading ffmpeg from the maker's web server and installing it through the locator.
// Blocking: runs on a background thread (the download window's) or in a tool.
//
// The archive is streamed into a temporary file as it arrives, and only a body that arrived
// whole is handed to the locator, which unpacks it and puts the new ffmpeg in place only once
// it answers "-version" as ffmpeg: a failed, cut, empty or stalled download leaves the ffmpeg
// in use as it was. The download has a deadline, and fails sooner when it makes too little
// progress for a while (QKWebTimes).
#pragma once

#include "xclass/XStr.h"

#include <functional>

class XEvent;
class XTempFile;

struct KREFFmpegDownloadResult {
    bool ok = false;
    bool cancelled = false;
    XStr error;     // why it failed, in words
    XStr fromURL;   // the address the archive came from
    XStr installed; // the installed ffmpeg
};

class KREFFmpegDownload {
public:
    // The processor-specific archive first, then the generic one.
    static XStr specificPath();
    static constexpr const wchar_t* kGenericPath = L"/install/ffmpeg-mac.tar.bz2";
    // No ffmpeg build comes near this; a larger body is refused rather than filling the disk.
    static constexpr int kMaxArchiveBytes = 1 << 30;

    // Fetches the archive into file (a fresh temporary ".tar.bz2" file); true when one of the
    // two addresses gave a whole body. stop cancels between and during the requests.
    static bool download(XEvent* stop, XTempFile& file, XStr* fromURL, XStr* error);
    // download, then installFrom(file, true) unless stopped before it. mayInstall, when
    // given, is asked on the calling thread just before installing: false counts as a cancel;
    // after true, stop no longer counts. The temporary file is removed once installing has
    // returned.
    static KREFFmpegDownloadResult downloadAndInstall(XEvent* stop, const std::function<bool()>& mayInstall = {});
};
