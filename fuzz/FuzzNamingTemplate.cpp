// The naming template expander on any template and tags (templates come from profiles and
// the naming dialog, tag values from the files being converted). The input's first line is
// the template; each further line is a tag element "name=value" ("\r" inside a value stays,
// it separates the values of a multi-valued field). Expansion must end, quickly, whatever
// the template asks for.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "naming/NamingTemplate.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::SetUpProgram();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    size_t end = input.find('\n');
    const XStr pattern = XStr::FromUTF8(input.substr(0, end));
    NTag tags;
    while (end != std::string::npos) {
        const size_t start = end + 1;
        end = input.find('\n', start);
        const std::string line = input.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const size_t equals = line.find('=');
        const XStr name = XStr::FromUTF8(line.substr(0, equals));
        const XStr value = XStr::FromUTF8(equals == std::string::npos ? std::string() : line.substr(equals + 1));
        tags.AddTag(name.p, value.p);
    }

    (void)NamingTemplateUsesTags(pattern);
    (void)ColourMarkNamingTemplate(pattern);
    (void)ExpandNamingTemplate(pattern, tags, nullptr, true);

    XStrList extra;
    extra.Add(L"custom");
    AddNamingOriginFields(tags, XStr(L"/srv/Media/A Film [2001], cut.mkv"));
    (void)ExpandNamingTemplate(pattern, tags, &extra, false);
    return 0;
}
