// Shared by the pictures of the encoder pages.
#pragma once

#include "tools/ui-shot/UiShot.h"

// A page in a plain window, as the converter setup embeds it, on the given argument text and
// extension (empty: none).
QWidget* PageWindow(const QString& encoder, const QString& args, const QString& extension, UiShotKeep& keep);
