#include "tools/common/ToolCommand.h"

#include <QApplication>

#include "media/QKLocateFFmpeg.h"
#include "xclass/XEnvironment.h"
#include "xclass/XRegistry.h"

namespace {
// As the program starts, plus the application object that pages need for their widgets; on
// the offscreen platform unless the environment names another, since nothing is shown.
void Setup()
{
    XSetAppDataFolder(L"MarvoniVideo");
    XRegistry::SetDefaultKey(L"HKCU", L"Software\\Brantok\\MarvoniVideo");
    QKLocateFFmpeg::installHooks();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "setup-tool";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
}
const ToolSetup setup(Setup);
} // namespace
