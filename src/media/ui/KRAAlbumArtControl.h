// Album art from the clipboard or a drop: what a pasteboard offers (an image file's URL,
// image data, a web link), and a button that takes album-art drops when its delegate agrees.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QUrl>

class QMimeData;

namespace QKAlbumArt {

// The kinds a drop target registers for: file URLs, then TIFF image data.
QStringList albumArtPBoardTypes();
// With a URL: whether it names an image file; else whether image data is there.
bool albumArtAvailable(const QMimeData* data);
QUrl albumArtGetURL(const QMimeData* data);
// The bytes of the URL's file when it is a JPEG or PNG (JPEG only with jpegOnly).
QByteArray albumArtGetData(const QMimeData* data, bool jpegOnly = false);
QByteArray albumArtGetJPEGData(const QMimeData* data);
// From the system clipboard: the image its URL names, or its image data; null otherwise.
QImage albumArtGetImage();
// The text when it starts (ignoring case) with "http://", "https://" or "www."; else empty.
QString albumArtGetWebLink(const QMimeData* data);

} // namespace QKAlbumArt

class KRAAlbumArtControl;

class KRAAlbumArtControlDelegate {
public:
    virtual ~KRAAlbumArtControlDelegate() = default;
    virtual bool albumArtCanDropNow(KRAAlbumArtControl* control) = 0;
    virtual bool albumArtImageDropped(const QMimeData* data, KRAAlbumArtControl* control) = 0;
};

class KRAAlbumArtControl : public QPushButton {
public:
    explicit KRAAlbumArtControl(QWidget* parent = nullptr);

    KRAAlbumArtControlDelegate* delegate() const { return m_delegate; }
    void setDelegate(KRAAlbumArtControlDelegate* delegate) { m_delegate = delegate; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    KRAAlbumArtControlDelegate* m_delegate = nullptr;
};
