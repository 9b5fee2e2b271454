// The two outputs that are no converted copy of the source: the preview generator (a short
// video of frames sampled at even intervals, encoded with another encoder's settings) and the
// contact sheet (one JPEG or PNG of evenly spaced frames in a grid, with a header of file
// facts). Both are planned from the named arguments their pages write; the sheet is composed
// from the frames ffmpeg extracted (into a folder of the run's own), after it has ended, and
// encoded through the image library into the run's temporary output, so that it replaces the
// destination, or is thrown away, exactly as any other output is.
#pragma once

#include <QByteArray>

#include <cstdint>

#include "xclass/XStr.h"

// The named arguments the run pulls from the argument string; an absent name is empty.
struct KRASpecialValues {
    XStr prevGenEncNset, prevGenUfe, prevGenGfe, prevGenGtf, prevGenInputval, prevGenFirstdelay;
    XStr contactCol, contactRow, contactPng, contactJpeg, contactWidth, contactBackcol, contactTopinfo,
        contactTimestamp, contactPadding;
};

struct KRAOutputPlan {
    XStr refused;               // why no output can be made so; empty when it can
    XStr inputArgs;             // options for the input, before it is named
    XStr appendArgs;            // appended to the run's arguments
    int64_t expectedFrames = 0; // progress in frames when non-zero
    double fpsFactor = 1.0;     // multiplies every frames-per-second value reported
};

// fps: the first source's frame rate; lengthMS: the sources' total length. The nested encoder's
// own arguments make the preview, as they would make a conversion.
KRAOutputPlan PlanPreviewGenerator(const KRASpecialValues& values, double fps, int64_t lengthMS);

struct KRAContactSheetSettings {
    int cols = 0, rows = 0, width = 0, padding = 0;
    bool png = false, topInfo = false;
    uint32_t background = 0; // 0x00BBGGRR
};

// The sheet's settings from its named arguments; false with the reason when a value is out of
// the range a sheet can be made with (a hand-edited argument, say).
bool ReadContactSheetSettings(const KRASpecialValues& values, KRAContactSheetSettings& settings, XStr& why);
// The frame extraction for a sheet of that many thumbnails, from a source of that length.
KRAOutputPlan PlanContactSheet(const KRAContactSheetSettings& settings, int64_t lengthMS);

struct KRAContactSheetSource {
    XStr path;      // the first source
    XStr probeJSON; // ffprobe's JSON of it
    int64_t lengthMS = 0;
};

// Composes the sheet from the "*.png" frames in the folder and encodes it (JPEG at quality 85,
// or PNG). False with the reason when no sheet could be made.
bool ComposeContactSheet(const KRAContactSheetSettings& settings, const XStr& framesFolder,
                         const KRAContactSheetSource& source, QByteArray& encoded, XStr& why);
