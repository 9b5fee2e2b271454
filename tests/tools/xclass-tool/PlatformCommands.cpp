// Platform commands: trash.
#include "tools/common/ToolCommand.h"

#include "platform/XTrash.h"
#include "xclass/XStr.h"

namespace {
int Trash(int argc, char** argv)
{
    if (argc != 2)
        return ToolFail(argv[0], "usage: trash PATH");
    XStr error;
    const XTrashResult result = XMoveItemToTrash(XStr::FromUTF8(argv[1]), nullptr, &error);
    if (result == XTrashResult::Failed)
        return ToolFail(argv[0], error.ToUTF8String());
    return 0;
}

const ToolCommand
    trashCommand("trash", "PATH  (moves PATH to the trash; left in place, with the reason, when no trash can be used)",
                 Trash);
} // namespace
