// Commands for files and folders: delete, copy and move trees, the safe whole-file write,
// existence and size look-ups and the file-name sanitiser.
#include "tools/common/ToolCommand.h"

#include "xclass/XFile.h"
#include "xclass/XFileName.h"
#include "xclass/XFileRewrite.h"

#include <cstring>
#include <string>

namespace {

// Arguments are bytes: decoded losslessly so that any name reaches the same file.
XStr Arg(const char* text)
{
    return XStr::FromUTF8Bytes(text, strlen(text));
}

std::string Quoted(const XStr& path)
{
    return "'" + path.ToUTF8String() + "'";
}

int Failed(const char* name, const std::string& what)
{
    return ToolFail(name, what + ": " + XErrnoText().ToUTF8String());
}

int DelTree(int argc, char** argv)
{
    if (argc != 2)
        return ToolFail(argv[0], "usage: deltree DIR");
    const XStr dir = Arg(argv[1]);
    if (!XDeleteFolderTree(dir.p, true, L"*.*", true))
        return Failed(argv[0], "cannot delete " + Quoted(dir));
    return 0;
}

int Copy(int argc, char** argv)
{
    if (argc != 3)
        return ToolFail(argv[0], "usage: copy FROM TO");
    const XStr from = Arg(argv[1]), to = Arg(argv[2]);
    const bool ok = XIsFolder(from.p) ? XCopyFolderTree(from.p, to.p) : XCopyFile(from.p, to.p, false);
    if (!ok)
        return Failed(argv[0], "cannot copy " + Quoted(from) + " to " + Quoted(to));
    return 0;
}

int Move(int argc, char** argv)
{
    const bool noReplace = argc == 4 && strcmp(argv[1], "--no-replace") == 0;
    if (argc != 3 && !noReplace)
        return ToolFail(argv[0], "usage: move [--no-replace] FROM TO");
    const XStr from = Arg(argv[argc - 2]), to = Arg(argv[argc - 1]);
    if (!XMoveFileEx(from.p, to.p, !noReplace))
        return Failed(argv[0], "cannot move " + Quoted(from) + " to " + Quoted(to));
    return 0;
}

int WriteAll(int argc, char** argv)
{
    if (argc != 2)
        return ToolFail(argv[0], "usage: writeall FILE  (standard input becomes the file)");
    const XStr file = Arg(argv[1]);
    const std::string data = ToolReadStdin();
    if (!XFileWriteAll(file.p, data.data(), data.size()))
        return Failed(argv[0], "cannot write " + Quoted(file));
    return 0;
}

int Exists(int argc, char** argv)
{
    if (argc != 2)
        return ToolFail(argv[0], "usage: exists PATH");
    const XStr path = Arg(argv[1]);
    if (!XFileExists(path.p))
        return ToolFail(argv[0], Quoted(path) + " does not exist");
    return 0;
}

int Size(int argc, char** argv)
{
    if (argc != 2)
        return ToolFail(argv[0], "usage: size PATH");
    const XStr path = Arg(argv[1]);
    bool missing = false;
    const uint64_t size = XGetFileSize(path.p, &missing);
    if (missing)
        return Failed(argv[0], "cannot examine " + Quoted(path));
    ToolWrite(std::to_string(size) + "\n");
    return 0;
}

int MakeValid(int argc, char** argv)
{
    const bool path = argc == 3 && strcmp(argv[1], "--path") == 0;
    if (argc != 2 && !path)
        return ToolFail(argv[0], "usage: makevalid [--path] NAME");
    XFileName name(Arg(argv[argc - 1]));
    if (path)
        name.MakeValid(true, nullptr, true, true);
    else
        name.MakeValid();
    ToolWrite(name.ToUTF8String() + "\n");
    return 0;
}

const ToolCommand delTreeCommand("deltree", "DIR  (links inside are removed, never followed)", DelTree);
const ToolCommand copyCommand("copy", "FROM TO  (a file, or a folder tree)", Copy);
const ToolCommand moveCommand("move", "[--no-replace] FROM TO", Move);
const ToolCommand writeAllCommand("writeall", "FILE  (standard input as the whole file, safely)", WriteAll);
const ToolCommand existsCommand("exists", "PATH  (exit 1 when missing)", Exists);
const ToolCommand sizeCommand("size", "PATH", Size);
const ToolCommand makeValidCommand("makevalid", "[--path] NAME", MakeValid);

} // namespace
