// probe FILE [--timeout MS]: the information record of one file, one "Name=Value" a line.
#include "tools/common/ToolCommand.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "media/FFprobeInfo.h"
#include "media/QKMediaFileInfo.h"

namespace {

// One value per line: line breaks inside a value are written as \n and \r.
std::string OneLine(const std::string& text)
{
    std::string out;
    for (const char ch : text) {
        if (ch == '\n')
            out += "\\n";
        else if (ch == '\r')
            out += "\\r";
        else
            out += ch;
    }
    return out;
}

std::string Utf8(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

void Line(const std::string& name, const std::string& value)
{
    ToolWrite(OneLine(name) + "=" + OneLine(value) + "\n");
}

int Probe(int argc, char** argv)
{
    const char* file = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc)
            setFFprobeTimeoutMs(std::atoi(argv[++i]));
        else if (!file)
            file = argv[i];
        else
            return ToolFail("probe", "usage: probe FILE [--timeout MS]");
    }
    if (!file)
        return ToolFail("probe", "usage: probe FILE [--timeout MS]");

    XStr reason;
    const QKMediaFileInfoRef info = QKMediaFileInfo::infoForFile(XStr::FromUTF8(file), &reason);
    Line("path", info->path().ToUTF8String());
    Line("lengthMS", std::to_string(info->lengthMS()));
    Line("lastModified", std::to_string(info->lastModified()));
    Line("formatName", Utf8(info->formatName()));
    const QKTagRef props = info->MediaProps();
    for (int64_t i = 0; i < props->tagCount(); ++i)
        Line(Utf8(props->tagNameAt(i)), Utf8(props->tagValueAt(i)));
    const QKTagRef tags = info->IDTags();
    for (int64_t i = 0; i < tags->tagCount(); ++i)
        Line("tag:" + Utf8(tags->tagNameAt(i)), Utf8(tags->tagValueAt(i)));
    if (!reason.IsEmpty())
        return ToolFail("probe", reason.ToUTF8String());
    return 0;
}

ToolCommand probeCommand("probe", "FILE [--timeout MS]", Probe);

} // namespace
