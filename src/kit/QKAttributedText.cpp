#include "kit/QKAttributedText.h"

#include "kit/QKNamedImages.h"

#include <QAtomicInteger>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QUrl>

void QKAttributedText::append(const QString& text, const QColor& color)
{
    if (text.isEmpty())
        return;
    if (!m_runs.isEmpty()) {
        Run& last = m_runs.last();
        if (last.image.isNull() && last.link.isEmpty() && last.color == color) {
            last.text += text;
            return;
        }
    }
    m_runs.append(Run{text, color, QImage(), QSizeF(), QUrl()});
}

void QKAttributedText::appendImage(const QImage& image, const QSizeF& size)
{
    if (!image.isNull())
        m_runs.append(Run{QString(), QColor(), image, size, QUrl()});
}

QString QKAttributedText::plainText() const
{
    QString text;
    for (const Run& run : m_runs)
        text += run.image.isNull() ? run.text : QString(QChar::ObjectReplacementCharacter);
    return text;
}

void QKAttributedText::insertInto(QTextCursor& cursor) const
{
    static QAtomicInteger<quint64> imageCounter;
    const QTextCharFormat base = cursor.charFormat();
    for (const Run& run : m_runs) {
        if (!run.image.isNull()) {
            QTextDocument* document = cursor.document();
            if (!document)
                continue;
            const QString name = QStringLiteral("kit-image:%1").arg(imageCounter.fetchAndAddRelaxed(1));
            document->addResource(QTextDocument::ImageResource, QUrl(name), run.image);
            QTextImageFormat format;
            format.setName(name);
            if (!run.imageSize.isEmpty()) {
                format.setWidth(run.imageSize.width());
                format.setHeight(run.imageSize.height());
            }
            cursor.insertImage(format);
            continue;
        }
        QTextCharFormat format = base;
        if (run.color.isValid())
            format.setForeground(run.color);
        else
            format.clearForeground();
        if (!run.link.isEmpty()) {
            format.setAnchor(true);
            format.setAnchorHref(run.link.toString(QUrl::FullyEncoded));
            format.setUnderlineStyle(QTextCharFormat::SingleUnderline);
        } else {
            // A cursor that stands just behind a link carries the link's format: plain text
            // written there must not become part of the link.
            format.setAnchor(false);
            format.clearProperty(QTextFormat::AnchorHref);
        }
        cursor.insertText(run.text, format);
    }
}

std::optional<QKAttributedText> QKAttributedText::withImage(const QImage& image, const QSizeF& size)
{
    if (image.isNull())
        return std::nullopt;
    QKAttributedText text;
    text.appendImage(image, size);
    return text;
}

std::optional<QKAttributedText> QKAttributedText::withImageNamed(const QString& name)
{
    return withImageNamed(name, QSizeF());
}

std::optional<QKAttributedText> QKAttributedText::withImageNamed(const QString& name, const QSizeF& size)
{
    if (name.isEmpty())
        return std::nullopt;
    // The size goes with this text only; the shared image is not resized for everybody.
    return withImage(QKNamedImages::imageNamed(name), size);
}

std::optional<QKAttributedText> QKAttributedText::withImageNamed(const QString& name, double squareSize)
{
    return withImageNamed(name, QSizeF(squareSize, squareSize));
}

QKAttributedText QKAttributedText::hyperlinkFromString(const QString& text, const QUrl& url)
{
    QKAttributedText result;
    if (text.isEmpty())
        return result;
    if (url.isEmpty() || !url.isValid()) {
        result.append(text);
        return result;
    }
    result.m_runs.append(Run{text, QColor(Qt::blue), QImage(), QSizeF(), url});
    return result;
}
