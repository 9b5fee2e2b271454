// download: the FFmpeg page's download road without a window: fetches the archive from the
// server named by MARVONI_WEB_BASE, installs it through the locator and prints what it did.
#include "tools/common/ToolCommand.h"

#include "app/KREFFmpegDownload.h"

namespace {

int Download(int argc, char**)
{
    if (argc != 1)
        return ToolFail("download", "usage: download");
    const KREFFmpegDownloadResult result = KREFFmpegDownload::downloadAndInstall(nullptr);
    if (!result.ok)
        return ToolFail("download", result.error.ToUTF8String());
    ToolWrite("from=" + result.fromURL.ToUTF8String() + "\n");
    ToolWrite("installed=" + result.installed.ToUTF8String() + "\n");
    return 0;
}

ToolCommand downloadCommand("download", "", Download);

} // namespace
