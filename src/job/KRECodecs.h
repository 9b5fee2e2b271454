// The encoder catalogue: what this converter can produce. The display name of each encoder
// is the key that profiles store and that the pages and logos are found by.
#pragma once

#include <QList>

#include "job/QKEncoderDesc.h"

class KRECodecs {
public:
    // The 19 encoders every ffmpeg build offers, in their fixed order.
    static QList<QKEncoderDescRef> listEncodersLGPL();
    // The 8 encoders that need a full (GPL) ffmpeg build.
    static QList<QKEncoderDescRef> listEncodersGPL();
    // The LGPL list, the GPL list when an external ffmpeg is in use, and the multi-encoder,
    // sorted by display name in code-unit order (capitals, then "[", then small letters).
    // Recomputed on every call.
    static QList<QKEncoderDescRef> listEncoders();
    // What an encoder without settings always writes (VOB, GIF Animation); empty for the others.
    // A nested encoder of the preview generator holds no text of its own for these.
    static QString fixedArgsOf(const QString& encoderName);
};
