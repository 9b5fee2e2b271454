// locate, install ARCHIVE [--auto], revert: which ffmpeg and ffprobe run, and the user's copy.
#include "tools/common/ToolCommand.h"

#include <cstring>

#include "media/QKExternalFFmpeg.h"
#include "media/QKLocateFFmpeg.h"

namespace {

int Locate(int argc, char**)
{
    if (argc != 1)
        return ToolFail("locate", "usage: locate");
    ToolWrite("ffmpeg=" + QKLocateFFmpeg::locateFFmpeg().ToUTF8String() + "\n");
    ToolWrite("ffprobe=" + QKLocateFFmpeg::locateFFprobe().ToUTF8String() + "\n");
    // Through the hook the catalogues ask, so this also shows that it is installed.
    ToolWrite(std::string("external=") + (QKExternalFFmpeg::haveExternalFFmpeg() ? "1" : "0") + "\n");
    ToolWrite(std::string("installed=") + (QKLocateFFmpeg::haveInstalledFFmpeg() ? "1" : "0") + "\n");
    ToolWrite(std::string("auto=") + (QKLocateFFmpeg::isAutoInstalled() ? "1" : "0") + "\n");
    return 0;
}

int Install(int argc, char** argv)
{
    const char* archive = nullptr;
    bool isAuto = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--auto") == 0)
            isAuto = true;
        else if (!archive)
            archive = argv[i];
        else
            return ToolFail("install", "usage: install ARCHIVE [--auto]");
    }
    if (!archive)
        return ToolFail("install", "usage: install ARCHIVE [--auto]");
    XStr error;
    if (!QKLocateFFmpeg::installFrom(XStr::FromUTF8(archive), isAuto, &error))
        return ToolFail("install", error.ToUTF8String());
    return 0;
}

int Revert(int argc, char**)
{
    if (argc != 1)
        return ToolFail("revert", "usage: revert");
    QKLocateFFmpeg::revertToInternal();
    return 0;
}

ToolCommand locateCommand("locate", "", Locate);
ToolCommand installCommand("install", "ARCHIVE [--auto]", Install);
ToolCommand revertCommand("revert", "", Revert);

} // namespace
