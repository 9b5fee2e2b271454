#include "tools/common/ToolCommand.h"

#include "media/QKLocateFFmpeg.h"
#include "xclass/XEnvironment.h"

namespace {
// As the program starts: its data folder, and the answer the catalogues ask for.
void Setup()
{
    XSetAppDataFolder(L"MarvoniVideo");
    QKLocateFFmpeg::installHooks();
}
const ToolSetup setup(Setup);
} // namespace
