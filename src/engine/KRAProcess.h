// The entry of one conversion: runs ffmpeg for one output file on the calling thread and
// returns when the child has ended, been stopped, or could not be started.
#pragma once

#include <QByteArray>

#include "engine/KRAProcessArg.h"
#include "xclass/XStr.h"

class QImage;

class KRAProcess {
public:
    // Opens the debug log when it is on, runs the conversion, closes the log. True when the
    // conversion succeeded (the status calls and the actions after it report the same).
    static bool convertWithArg(const KRAProcessArgRef& arg);

    // A HEIC image made readable for ffmpeg: the image read by Qt's image readers and written
    // as PNG to pngPath. False when no reader plugin decodes it or the file cannot be written;
    // the source then goes to ffmpeg as it is.
    static bool convertImageToPNG(const XStr& imagePath, const XStr& pngPath);
};
