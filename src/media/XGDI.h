// Drawing in the manner of a device context, over QImage: bitmaps made, loaded, filled,
// resized and drawn onto one another, text drawn and measured. The contact sheet is composed
// with these. y grows downward. Failures leave an empty result and are reported.
#pragma once

#include <QFont>
#include <QImage>
#include <QSize>

#include "xclass/XBuffer.h"
#include "xclass/XStr.h"

class XBitmap {
public:
    QImage m_image;

    bool Create(int width, int height);
    // Reads the file's bytes through the class library (any name a file may have); false and
    // an empty bitmap when it cannot be read or decoded.
    bool Load(const XStr& path);
    // colour: 0x00BBGGRR
    void FillSolid(uint32_t colour);
    bool IsEmpty() const { return m_image.isNull(); }
    // Draws this bitmap at (x, y) in its own size onto the target.
    bool BitBltTo(XBitmap& target, int x, int y) const;
    // The bitmap as BMP data; an empty buffer (size 0) when there is nothing to save.
    bool Save(XBuffer& buffer) const;
};

// out = in resized to the size; false (out empty) when in is empty or the resize fails.
bool ResizeImage(const XBitmap& in, XBitmap& out, int width, int height);

class XTextDC {
public:
    // The system font of that pixel size, in the colour 0x00BBGGRR.
    XTextDC(XBitmap& target, int fontSize, uint32_t colour);

    // The text's top left at (x, y).
    void TextOut(int x, int y, const XStr& text);
    QSize GetTextExtent(const XStr& text) const;

    QImage* Target;
    QFont Font;
    uint32_t Colour;
};
