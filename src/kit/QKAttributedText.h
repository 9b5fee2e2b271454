// Styled text for logs, labels and cells: runs of text, each with an optional colour and an
// optional link, and inline images. Runs carry no font: they take the font of the widget that shows them, which
// is the system font unless the widget says otherwise.
#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QSizeF>
#include <QString>
#include <QUrl>

#include <optional>

class QTextCursor;

class QKAttributedText {
public:
    struct Run {
        QString text;     // empty for an image run
        QColor color;     // invalid: the view's own text colour
        QImage image;     // non-null: an inline image
        QSizeF imageSize; // the size the image is shown at; empty: its own size
        QUrl link;        // non-empty: the run is a hyperlink to it, shown underlined
    };

    // Appends text; a run of the same colour as the last one is extended (never a link).
    void append(const QString& text, const QColor& color = QColor());
    void appendImage(const QImage& image, const QSizeF& size = QSizeF());

    const QList<Run>& runs() const { return m_runs; }
    bool isEmpty() const { return m_runs.isEmpty(); }
    // The text with U+FFFC standing for each image, as a text document holds it.
    QString plainText() const;
    // Inserts the runs at the cursor: coloured text in the cursor's character format otherwise,
    // links as anchors (which a QTextBrowser opens, and the document's HTML keeps as links
    // for a rich-text QLabel), and images as document resources.
    void insertInto(QTextCursor& cursor) const;

    // One inline image; none for a null image.
    static std::optional<QKAttributedText> withImage(const QImage& image, const QSizeF& size = QSizeF());
    // The application's image of that name (QKNamedImages); none for an empty name or a
    // missing image. The sized forms show the image at that size; the shared named image
    // itself is left as it is for its other users.
    static std::optional<QKAttributedText> withImageNamed(const QString& name);
    static std::optional<QKAttributedText> withImageNamed(const QString& name, const QSizeF& size);
    static std::optional<QKAttributedText> withImageNamed(const QString& name, double squareSize);

    // The text as one link to the URL, blue and single-underlined. A URL that is empty or not
    // valid gives the plain text: a link that leads nowhere must not look like one.
    static QKAttributedText hyperlinkFromString(const QString& text, const QUrl& url);

private:
    QList<Run> m_runs;
};
