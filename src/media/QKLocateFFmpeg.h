// Which ffmpeg and ffprobe to run, and installing or removing the user's own ffmpeg.
//
// ffmpeg: the copy installed into the application-data folder ("ffmpeg") comes first, then
// the one shipped in the resources folder, then the first on PATH. ffprobe: the resources
// folder's, else the first on PATH; an installed ffmpeg never brings its own ffprobe.
//
// The only state is in the file system: the installed copy and, beside it, the empty marker
// "ffmpeg.auto" that says the copy was downloaded rather than picked by the user. Every run
// asks anew, so an install or a revert takes effect with the next conversion.
//
// Installing never puts a half-made copy in place: the new ffmpeg is staged beside the old
// one and renamed over it only once it is complete and its "-version" answer begins with
// "ffmpeg version". From an archive only a regular file inside the unpacked folder counts: a
// link, or a folder on the way that is a link, is refused rather than followed out of it. The
// check runs the staged copy in a process group of its own, killed whole when it does not
// answer in time. A failed install leaves whatever was there before (copy and marker) as it
// was.
#pragma once

#include "xclass/XStr.h"

class QKLocateFFmpeg {
public:
    // The ffmpeg to run; empty when there is none at all.
    static XStr locateFFmpeg();
    // The ffprobe to run; empty when there is none at all.
    static XStr locateFFprobe();
    // Where an installed copy lives, whether or not it exists.
    static XStr pathToExternalFFmpeg();
    static XStr pathToAutoMarker();

    // Whether a copy is installed in the application-data folder.
    static bool haveInstalledFFmpeg();
    // Whether a full (GPL) ffmpeg is available: an installed copy exists, or the ffmpeg in use
    // lists the libx264 encoder (asked once per ffmpeg path and file time, then remembered).
    static bool haveExternalFFmpeg();
    // Whether the marker "ffmpeg.auto" exists.
    static bool isAutoInstalled();

    // Installs the file as the external ffmpeg: a file named exactly "ffmpeg", or a ".tar.gz"
    // or ".tar.bz2" archive holding "ffmpeg" or "bin/ffmpeg" at its top. isAuto writes the
    // marker, otherwise any marker is removed. False, with a reason in error when asked, on
    // any failure; the previous state is then kept.
    static bool installFrom(const XStr& path, bool isAuto, XStr* error = nullptr);
    // Stages the ffmpeg the file provides at staging (made executable); false with a reason.
    static bool installWorker(const XStr& path, const XStr& staging, XStr* error = nullptr);
    // Deletes the installed copy and the marker; the shipped or system ffmpeg is used again.
    static void revertToInternal();

    // Whether the ffmpeg at that path lists the encoder (by "-hide_banner -encoders"). Each
    // answer is remembered per path and encoder together with the file's modification time and
    // size: a file changed since is asked again. Safe from any thread.
    static bool ffmpegHasEncoder(const XStr& ffmpegPath, const wchar_t* encoder);
    // Forgets the remembered encoder answers (for tests and after replacing a file by hand).
    static void forgetEncoderAnswers();

    // Installs haveExternalFFmpeg as the answer of QKExternalFFmpeg, which the encoder and
    // effect catalogues ask. The program and the tools call this once at start-up.
    static void installHooks();

    // Time limits of the child runs, in milliseconds.
    static constexpr int kQueryTimeoutMs = 20000;   // "-encoders", "-version"
    static constexpr int kUnpackTimeoutMs = 600000; // tar
    // The time a new ffmpeg has to answer "-version" before it is killed; kQueryTimeoutMs
    // unless set (tests set a short one).
    static int checkTimeoutMs();
    static void setCheckTimeoutMs(int ms);
};
