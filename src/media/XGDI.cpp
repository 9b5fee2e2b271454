#include "media/XGDI.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include "media/QKImageHelpers.h"
#include "platform/XStrQString.h"
#include "xclass/XFile.h"

namespace {

QColor FromColorRef(uint32_t c)
{
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

} // namespace

bool XBitmap::Create(int width, int height)
{
    m_image = QKImage::imageWithSizeInPixels(QSize(width, height));
    return !m_image.isNull();
}

bool XBitmap::Load(const XStr& path)
{
    m_image = QImage();
    XBuffer bytes{};
    if (!XFileReadAll(path.p, bytes) || !bytes.Data || bytes.Used > uint64_t(INT32_MAX)) {
        bytes.Free();
        return false;
    }
    m_image.loadFromData(bytes.Data, int(bytes.Used));
    bytes.Free();
    return !m_image.isNull();
}

void XBitmap::FillSolid(uint32_t colour)
{
    if (!m_image.isNull())
        m_image.fill(FromColorRef(colour));
}

bool XBitmap::BitBltTo(XBitmap& target, int x, int y) const
{
    if (m_image.isNull() || target.m_image.isNull())
        return false;
    QPainter painter;
    if (!painter.begin(&target.m_image))
        return false;
    painter.drawImage(QPoint(x, y), m_image);
    painter.end();
    return true;
}

bool XBitmap::Save(XBuffer& buffer) const
{
    buffer.Free();
    const QByteArray data = QKImage::exportBMP(m_image);
    if (data.isEmpty() || !buffer.Assign(data.constData(), uint64_t(data.size()))) {
        buffer.Free();
        return false;
    }
    return true;
}

bool ResizeImage(const XBitmap& in, XBitmap& out, int width, int height)
{
    out.m_image = in.m_image.isNull() ? QImage() : QKImage::resizeImageTo(in.m_image, QSize(width, height));
    return !out.m_image.isNull();
}

XTextDC::XTextDC(XBitmap& target, int fontSize, uint32_t colour) : Target(&target.m_image), Colour(colour)
{
    Font.setPixelSize(fontSize > 0 ? fontSize : 1);
}

void XTextDC::TextOut(int x, int y, const XStr& text)
{
    if (!Target || Target->isNull())
        return;
    QPainter painter;
    if (!painter.begin(Target))
        return;
    painter.setFont(Font);
    painter.setPen(FromColorRef(Colour));
    const QFontMetrics metrics(Font);
    painter.drawText(QPoint(x, y + metrics.ascent()), XStrToQString(text));
    painter.end();
}

QSize XTextDC::GetTextExtent(const XStr& text) const
{
    const QFontMetrics metrics(Font);
    return QSize(metrics.horizontalAdvance(XStrToQString(text)), metrics.height());
}
