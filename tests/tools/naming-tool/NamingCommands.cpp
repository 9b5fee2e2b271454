// The naming commands: expanding a template against given tags, and the destination that a
// file naming gives a real (probed) source file.
#include "tools/common/ToolCommand.h"

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "media/NTag.h"
#include "media/QKMediaFileInfo.h"
#include "naming/KRAFileNaming.h"
#include "naming/KRALocationDescriptor.h"
#include "naming/NamingTemplate.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"

namespace {

XStr Wide(const std::string& text)
{
    return XStr::FromUTF8(text);
}

std::string Narrow(const XStr& text)
{
    return text.ToUTF8String();
}

// The value of an option that takes one ("--template T"); false when it is missing.
bool TakeValue(int argc, char** argv, int& i, std::string& out)
{
    if (i + 1 >= argc)
        return false;
    out = argv[++i];
    return true;
}

XStr AbsolutePath(const std::string& path)
{
    return Wide(ToolAbsolutePath(path));
}

int Expand(int argc, char** argv)
{
    std::string pattern, source;
    NTag tags;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        std::string value;
        if (arg == "--template") {
            if (!TakeValue(argc, argv, i, pattern))
                return ToolFail(argv[0], "--template needs a value");
        } else if (arg == "--source") {
            if (!TakeValue(argc, argv, i, source))
                return ToolFail(argv[0], "--source needs a value");
        } else if (arg == "--tag") {
            if (!TakeValue(argc, argv, i, value))
                return ToolFail(argv[0], "--tag needs NAME=VALUE");
            const size_t equals = value.find('=');
            if (equals == std::string::npos || equals == 0)
                return ToolFail(argv[0], "--tag needs NAME=VALUE, got '" + value + "'");
            tags.AddTag(Wide(value.substr(0, equals)), Wide(value.substr(equals + 1)));
        } else {
            return ToolFail(argv[0], "unknown argument '" + arg + "'");
        }
    }
    if (!source.empty())
        AddNamingOriginFields(tags, Wide(source));
    ToolWrite(Narrow(ExpandNamingTemplate(Wide(pattern), tags, nullptr, true)) + "\n");
    return 0;
}

int Destination(int argc, char** argv)
{
    std::string type, folder, pattern, extension, source;
    bool haveFolder = false, havePattern = false, haveType = false;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--type") {
            if (!TakeValue(argc, argv, i, type))
                return ToolFail(argv[0], "--type needs a value");
            haveType = true;
        } else if (arg == "--folder") {
            if (!TakeValue(argc, argv, i, folder))
                return ToolFail(argv[0], "--folder needs a value");
            haveFolder = true;
        } else if (arg == "--template") {
            if (!TakeValue(argc, argv, i, pattern))
                return ToolFail(argv[0], "--template needs a value");
            havePattern = true;
        } else if (arg == "--ext") {
            if (!TakeValue(argc, argv, i, extension))
                return ToolFail(argv[0], "--ext needs a value");
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-' && source.empty()) {
            return ToolFail(argv[0], "unknown argument '" + arg + "'");
        } else if (source.empty()) {
            source = arg;
        } else {
            return ToolFail(argv[0], "only one SOURCE is taken");
        }
    }
    if (!haveType || type.empty() || type.find_first_not_of("0123456789") != std::string::npos)
        return ToolFail(argv[0], "--type N is needed (0 next to the source, 1 single folder, 2 dynamic)");
    if (source.empty())
        return ToolFail(argv[0], "SOURCE is missing");

    KRAFileNaming naming;
    naming.setFileNamingType(std::strtoull(type.c_str(), nullptr, 10));
    if (haveFolder)
        naming.setDestination(KRALocationDescriptor::withFolderPath(Wide(folder)));
    if (havePattern)
        naming.setDynamicFormat(XStrToQString(Wide(pattern)));

    const XStr sourcePath = AbsolutePath(source);
    XStr reason;
    const QKMediaFileInfoRef info = QKMediaFileInfo::readFromFile(sourcePath, &reason);
    const QUrl destination = naming.fullPathForSource(XFileURL(sourcePath), info.get(), XStrToQString(Wide(extension)));
    if (destination.isEmpty()) {
        std::string message = "no destination for '" + Narrow(sourcePath) + "'";
        if (!info)
            message += " (" + Narrow(reason) + ")";
        return ToolFail(argv[0], message);
    }
    ToolWrite(Narrow(XPathFromFileURL(destination)) + "\n");
    return 0;
}

const ToolCommand kExpand("expand", "--template T [--tag NAME=VALUE]... [--source PATH]", Expand);
const ToolCommand kDestination("destination", "--type N [--folder DIR] [--template T] [--ext .EXT] SOURCE",
                               Destination);

} // namespace
