// Moving files to the desktop's trash (the freedesktop trash layout), without Qt so that
// plain class-library callers can use it.
//
// A file on the home volume goes to the home trash, $XDG_DATA_HOME/Trash (default
// ~/.local/share/Trash, made with mode 0700 when missing). A file on another volume goes to
// $topdir/.Trash/$uid (when that folder is usable: sticky, not a link) or to
// $topdir/.Trash-$uid, topdir being the volume's mount point. The ".trashinfo" record is
// written (picked with O_EXCL for a unique name) before the file is renamed into "files/".
// Nothing is ever copied or deleted: a file that cannot be renamed into a trash (the volume
// has none and none can be made, as on a disk whose top folder belongs to someone else) stays
// where it is and the failure is reported. Who asked for the trash asked for a way back.
#pragma once

#include "xclass/XStr.h"

class XStrList;

enum class XTrashResult {
    Moved,  // in the trash
    Failed, // left where it was
};

// Moves one file or folder. trashedPath gets where it went (for Moved); errorText an English
// message saying why (for Failed).
XTrashResult XMoveItemToTrash(const XStr& path, XStr* trashedPath = nullptr, XStr* errorText = nullptr);

// Moves every path in order. Any item left in place makes the result false (the remaining
// paths are still tried). True for an empty list.
bool XMoveToTrash(const XStrList& paths);

// The home trash folder ($XDG_DATA_HOME/Trash, else $HOME/.local/share/Trash), no trailing
// "/". Not created. Empty when neither variable is usable.
XStr XGetHomeTrashFolder();
