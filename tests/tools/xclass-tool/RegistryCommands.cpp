// Registry and JSON sub-commands: the settings store as the program sets it up at start
// (root "HKCU", key "Software\Brantok\MarvoniVideo", file from XCLASS_XREGISTRY_LOCATION),
// and the library's JSON layout.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/common/ToolCommand.h"
#include "xclass/XBuffer.h"
#include "xclass/XFile.h"
#include "xclass/XJSON.h"
#include "xclass/XList.h"
#include "xclass/XRegistry.h"
#include "xclass/XStr.h"

namespace {

XStr Decode(const char* text)
{
    return XStr::FromUTF8Bytes(text, strlen(text));
}

void StartUp()
{
    XRegistry::SetDefaultKey(L"HKCU", L"Software\\Brantok\\MarvoniVideo");
}

// A value as one line of text: strings as they are, everything else in JSON.
std::string Show(const XJSON::AnyType* value)
{
    if (value->TypeOf() == XJSON::typeString)
        return static_cast<const XJSON::String*>(value)->Value.ToUTF8String();
    std::string text;
    value->ToUTF8(text);
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    return text;
}

int RegSet(int argc, char** argv)
{
    if (argc < 3 || argc > 4)
        return ToolFail("reg", "usage: reg set NAME VALUE [KEYPATH]");
    StartUp();
    const XStr name = Decode(argv[1]);
    const XStr value = Decode(argv[2]);
    const XStr key = argc > 3 ? Decode(argv[3]) : XStr();
    if (!XRegistry::SetString(value.p, name.p, nullptr, argc > 3 ? key.p : nullptr))
        return ToolFail("reg", "cannot write the store " + XRegistry::GetLocation().ToUTF8String());
    return 0;
}

int RegGet(int argc, char** argv)
{
    if (argc < 2 || argc > 3)
        return ToolFail("reg", "usage: reg get NAME [KEYPATH]");
    StartUp();
    const XStr name = Decode(argv[1]);
    const XStr key = argc > 2 ? Decode(argv[2]) : XStr();
    XRegistry* reg = XRegistry::LockCache();
    const XJSON::AnyType* value = reg->FindValue(nullptr, argc > 2 ? key.p : nullptr, name.p);
    const bool found = reg->HasValue(name.p, nullptr, argc > 2 ? key.p : nullptr);
    const std::string text = Show(value);
    XRegistry::UnlockCache();
    if (!found)
        return ToolFail("reg", "no value " + name.ToUTF8String());
    ToolWrite(text + "\n");
    return 0;
}

int RegEnum(int argc, char** argv)
{
    if (argc > 2)
        return ToolFail("reg", "usage: reg enum [KEYPATH]");
    StartUp();
    const XStr key = argc > 1 ? Decode(argv[1]) : XStr();
    std::string out;
    XRegistry* reg = XRegistry::LockCache();
    XJSON::Object* object = reg->FindKey(nullptr, argc > 1 ? key.p : nullptr);
    for (int64_t i = 0; i < object->Count(); i++) {
        const XJSON::AnyType* value = object->CellAt(i);
        if (value->TypeOf() == XJSON::typeObject)
            continue;
        out += object->NameRef(i).ToUTF8String() + "=" + Show(value) + "\n";
    }
    XRegistry::UnlockCache();
    ToolWrite(out);
    return 0;
}

int RegDelete(int argc, char** argv)
{
    if (argc < 2 || argc > 3)
        return ToolFail("reg", "usage: reg delete NAME [KEYPATH]");
    StartUp();
    const XStr name = Decode(argv[1]);
    const XStr key = argc > 2 ? Decode(argv[2]) : XStr();
    if (!XRegistry::DeleteValue(name.p, nullptr, argc > 2 ? key.p : nullptr))
        return ToolFail("reg", "cannot write the store " + XRegistry::GetLocation().ToUTF8String());
    return 0;
}

int Reg(int argc, char** argv)
{
    if (argc < 2)
        return ToolFail("reg", "usage: reg set|get|enum|delete ...");
    const std::string what = argv[1];
    if (what == "set")
        return RegSet(argc - 1, argv + 1);
    if (what == "get")
        return RegGet(argc - 1, argv + 1);
    if (what == "enum")
        return RegEnum(argc - 1, argv + 1);
    if (what == "delete")
        return RegDelete(argc - 1, argv + 1);
    return ToolFail("reg", "unknown sub-command '" + what + "'");
}

int JsonFormat(int argc, char** argv)
{
    if (argc != 2)
        return ToolFail("json-fmt", "usage: json-fmt FILE");
    const XStr path = Decode(argv[1]);
    XFile file;
    if (!file.OpenRead(path.p))
        return ToolFail("json-fmt", std::string(argv[1]) + ": cannot open: " + strerror(errno));
    XJSON::AnyType* tree = XJSON::ReadFile(file, 0xFFFFFFFFu);
    if (!tree)
        return ToolFail("json-fmt", std::string(argv[1]) + ": not valid JSON (or unreadable)");
    std::string text;
    tree->ToUTF8(text);
    delete tree;
    text += '\n';
    ToolWrite(text);
    return 0;
}

const ToolCommand
    regCommand("reg", "set NAME VALUE [KEYPATH] | get NAME [KEYPATH] | enum [KEYPATH] | delete NAME [KEYPATH]", Reg);
const ToolCommand jsonFormatCommand("json-fmt", "FILE", JsonFormat);

} // namespace
