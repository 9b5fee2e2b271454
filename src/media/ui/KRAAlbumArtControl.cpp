#include "media/ui/KRAAlbumArtControl.h"

#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QMimeDatabase>

#include "platform/XStrQString.h"
#include "xclass/XBuffer.h"
#include "xclass/XFile.h"

namespace {

const QString kTiff = QStringLiteral("image/tiff");

QString MimeOf(const QUrl& url)
{
    if (!url.isLocalFile())
        return QString();
    return QMimeDatabase().mimeTypeForFile(url.toLocalFile()).name();
}

bool IsImageURL(const QUrl& url)
{
    return MimeOf(url).startsWith(QLatin1String("image/"));
}

QByteArray ReadFile(const QUrl& url)
{
    XBuffer bytes{};
    const XStr path = XStrFromQString(url.toLocalFile());
    if (!XFileReadAll(path.p, bytes) || bytes.Used > uint64_t(INT32_MAX)) {
        bytes.Free();
        return QByteArray();
    }
    QByteArray data(reinterpret_cast<const char*>(bytes.Data), qsizetype(bytes.Used));
    bytes.Free();
    return data;
}

} // namespace

namespace QKAlbumArt {

QStringList albumArtPBoardTypes()
{
    return {QStringLiteral("text/uri-list"), kTiff};
}

bool albumArtAvailable(const QMimeData* data)
{
    if (!data)
        return false;
    if (data->hasUrls() && !data->urls().isEmpty())
        return IsImageURL(data->urls().first());
    return data->hasFormat(kTiff);
}

QUrl albumArtGetURL(const QMimeData* data)
{
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return QUrl();
    const QUrl url = data->urls().first();
    return IsImageURL(url) ? url : QUrl();
}

QByteArray albumArtGetData(const QMimeData* data, bool jpegOnly)
{
    const QUrl url = albumArtGetURL(data);
    if (url.isEmpty())
        return QByteArray();
    const QString mime = MimeOf(url);
    if (mime != QLatin1String("image/jpeg") && (jpegOnly || mime != QLatin1String("image/png")))
        return QByteArray();
    return ReadFile(url);
}

QByteArray albumArtGetJPEGData(const QMimeData* data)
{
    return albumArtGetData(data, true);
}

QImage albumArtGetImage()
{
    const QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard ? clipboard->mimeData() : nullptr;
    if (!data)
        return QImage();
    const QUrl url = albumArtGetURL(data);
    if (!url.isEmpty()) {
        QImage image;
        image.loadFromData(ReadFile(url));
        return image;
    }
    if (data->hasFormat(kTiff)) {
        QImage image;
        image.loadFromData(data->data(kTiff), "TIFF");
        return image;
    }
    return QImage();
}

QString albumArtGetWebLink(const QMimeData* data)
{
    if (!data || !data->hasText())
        return QString();
    const QString text = data->text();
    for (const char* start : {"http://", "https://", "www."})
        if (text.startsWith(QLatin1String(start), Qt::CaseInsensitive))
            return text;
    return QString();
}

} // namespace QKAlbumArt

KRAAlbumArtControl::KRAAlbumArtControl(QWidget* parent) : QPushButton(parent)
{
    setAcceptDrops(true);
}

void KRAAlbumArtControl::dragEnterEvent(QDragEnterEvent* event)
{
    if (m_delegate && m_delegate->albumArtCanDropNow(this) && QKAlbumArt::albumArtAvailable(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return;
    }
    event->ignore();
}

void KRAAlbumArtControl::dropEvent(QDropEvent* event)
{
    if (m_delegate && m_delegate->albumArtImageDropped(event->mimeData(), this)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return;
    }
    event->ignore();
}
