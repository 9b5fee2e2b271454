// Text sub-commands: sorting, UTF-8 and the command-line and element-list text forms.
#include <cstring>
#include <string>

#include "tools/common/ToolCommand.h"
#include "xclass/XList.h"
#include "xclass/XListElementValue.h"
#include "xclass/XStr.h"

namespace {

XStr Decode(const char* text)
{
    return XStr::FromUTF8Bytes(text, strlen(text));
}

void WriteLines(const XStrList& list)
{
    std::string out;
    for (const XStr& s : list) {
        out += s.ToUTF8String();
        out += '\n';
    }
    ToolWrite(out);
}

// Lines of standard input ("\n" ends a line; a last line without one counts), naturally sorted.
int NatSort(int, char**)
{
    const std::string input = ToolReadStdin();
    XStrList lines;
    size_t start = 0;
    while (start < input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos)
            end = input.size();
        lines.Add(XStr::FromUTF8Bytes(input.data() + start, end - start));
        start = end + 1;
    }
    lines.SortNatural();
    WriteLines(lines);
    return 0;
}

int Utf8RoundTrip(int, char**)
{
    const std::string input = ToolReadStdin();
    ToolWrite(XStr::FromUTF8Bytes(input.data(), input.size()).ToUTF8String());
    return 0;
}

int ArgsRoundTrip(int argc, char** argv)
{
    XStrList args;
    for (int i = 1; i < argc; ++i)
        args.Add(Decode(argv[i]));
    XStrList back;
    back.ParseArgs(args.ToCommandLine());
    WriteLines(back);
    return 0;
}

int ElemListRoundTrip(int argc, char** argv)
{
    XListElementValue pairs;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* eq = strchr(arg, '=');
        if (eq)
            pairs.Add(XStr::FromUTF8Bytes(arg, static_cast<size_t>(eq - arg)), Decode(eq + 1));
        else
            pairs.Add(Decode(arg), XStr());
    }
    XListElementValue back;
    back.Parse(pairs.ToString());
    std::string out;
    XStr name, value;
    for (int64_t i = 0; back.Get(i, name, value); ++i)
        out += name.ToUTF8String() + "=" + value.ToUTF8String() + "\n";
    ToolWrite(out);
    return 0;
}

const ToolCommand natsortCommand("natsort", "< LINES: the lines in natural order", NatSort);
const ToolCommand utf8Command("utf8-roundtrip", "< DATA: decodes and re-encodes UTF-8", Utf8RoundTrip);
const ToolCommand argsCommand("args-roundtrip", "ARG...: joins into a command line and splits it again", ArgsRoundTrip);
const ToolCommand elemCommand("elemlist-roundtrip", "NAME=VALUE...: writes an element list and reads it back",
                              ElemListRoundTrip);

} // namespace
