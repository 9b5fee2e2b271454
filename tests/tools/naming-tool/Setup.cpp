#include "tools/common/ToolCommand.h"

#include "media/QKLocateFFmpeg.h"
#include "xclass/XEnvironment.h"
#include "xclass/XRegistry.h"

namespace {
// As the program starts: its data folder, and the registry store named by
// XCLASS_XREGISTRY_LOCATION (read by the store itself) with the program's default key.
void Setup()
{
    XSetAppDataFolder(L"MarvoniVideo");
    XRegistry::SetDefaultKey(L"HKCU", L"Software\\Brantok\\MarvoniVideo");
    QKLocateFFmpeg::installHooks();
}
const ToolSetup setup(Setup);
} // namespace
