// download [--wait-ms N] [--deadline-ms N] [--stall-ms N] [--stall-bytes N] [--check-timeout-ms N]
//
// The FFmpeg page's download road without a window: fetches the archive from the server
// named by MARVONI_WEB_BASE, installs it through the locator and prints what it did. The
// options shorten the time limits (each wait, the whole download, the least progress, the
// new ffmpeg's "-version" answer); the program's own ones otherwise.
#include "tools/common/ToolCommand.h"

#include <cstdlib>
#include <string>

#include "app/KREFFmpegDownload.h"
#include "app/QKWebServer.h"
#include "media/QKLocateFFmpeg.h"

namespace {

bool ParseNumber(const char* text, int64_t& value)
{
    const std::string digits = text;
    if (digits.empty() || digits.size() > 12 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoll(digits);
    return true;
}

int Download(int argc, char** argv)
{
    const char* usage = "usage: download [--wait-ms N] [--deadline-ms N] [--stall-ms N] [--stall-bytes N] "
                        "[--check-timeout-ms N]";
    QKWebTimes times = QKWebServer::times();
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        int64_t value = 0;
        if (i + 1 >= argc || !ParseNumber(argv[i + 1], value) || value > 1000000000)
            return ToolFail("download", usage);
        i++;
        if (arg == "--wait-ms")
            times.waitMs = static_cast<int>(value);
        else if (arg == "--deadline-ms")
            times.downloadDeadlineMs = static_cast<int>(value);
        else if (arg == "--stall-ms")
            times.stallWindowMs = static_cast<int>(value);
        else if (arg == "--stall-bytes")
            times.stallMinBytes = value;
        else if (arg == "--check-timeout-ms")
            QKLocateFFmpeg::setCheckTimeoutMs(static_cast<int>(value));
        else
            return ToolFail("download", usage);
    }
    QKWebServer::setTimes(times);
    const KREFFmpegDownloadResult result = KREFFmpegDownload::downloadAndInstall(nullptr);
    if (!result.ok)
        return ToolFail("download", result.error.ToUTF8String());
    ToolWrite("from=" + result.fromURL.ToUTF8String() + "\n");
    ToolWrite("installed=" + result.installed.ToUTF8String() + "\n");
    return 0;
}

ToolCommand downloadCommand("download",
                            "[--wait-ms N] [--deadline-ms N] [--stall-ms N] [--stall-bytes N] "
                            "[--check-timeout-ms N]",
                            Download);

} // namespace
