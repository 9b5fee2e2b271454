// A conversion source: one item to convert as the user sees it, kept apart from the file
// that ffmpeg actually reads. For a plain file both are the same; a QKConvertSourceTemp reads
// a temporary file the program writes (the concatenation list), and a QKConvertSourceConcat
// stands for several files joined into one output.
//
// URLs are file URLs made by XFileURL (lossless for any name); a null QUrl stands for none.
#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <cstdint>
#include <memory>
#include <optional>

#include "xclass/XStr.h"
#include "xclass/XTempFile.h"

class QKConvertSource;
using QKConvertSourceRef = std::shared_ptr<QKConvertSource>;
Q_DECLARE_METATYPE(QKConvertSourceRef)

class QKConvertSource {
public:
    QKConvertSource() = default;
    virtual ~QKConvertSource() = default;
    QKConvertSource(const QKConvertSource&) = delete;
    QKConvertSource& operator=(const QKConvertSource&) = delete;

    // A source whose perceived URL and conversion URL are both url.
    static QKConvertSourceRef withURL(const QUrl& url);
    // Sources kept as they are, URLs and texts made into sources (grabURL), anything else
    // (and a text that is no URL) dropped; order kept.
    static QList<QKConvertSourceRef> transformURLs(const QVariantList& items);
    // A URL as it is; a source's perceived URL; a text as a URL (an absolute path becomes a
    // file URL; otherwise only a text with a scheme is a URL); a null QUrl for anything else.
    static QUrl grabURL(const QVariant& item);
    // grabURL of each item, nulls left out, order kept; folders are not expanded.
    static QList<QUrl> grabURLs(const QVariantList& items);
    // A source wrapped for a QVariantList.
    static QVariant toVariant(const QKConvertSourceRef& source) { return QVariant::fromValue(source); }

    // The name shown to the user: the one set, else the perceived file's name with extension.
    QString strPerceivedFilename() const;
    void setStrPerceivedFilename(const std::optional<QString>& name) { m_perceivedName = name; }

    QUrl urlPerceived() const { return m_urlPerceived; }
    void setUrlPerceived(const QUrl& url) { m_urlPerceived = url; }
    QUrl urlForConversion() const { return m_urlForConversion; }
    void setUrlForConversion(const QUrl& url) { m_urlForConversion = url; }
    // The local path of urlForConversion (empty when it is no file URL).
    XStr pathForConversion() const;

    // ffmpeg options placed before this input; empty for none.
    QString inputOptions() const { return m_inputOptions; }
    void setInputOptions(const QString& options) { m_inputOptions = options; }
    // A short description of a special action ("concatenating"); empty for none.
    QString specialActionDesc() const { return m_specialActionDesc; }
    void setSpecialActionDesc(const QString& text) { m_specialActionDesc = text; }

    // The length of the file to convert in milliseconds; 0 when it cannot be read.
    virtual uint64_t probeLength() const;

protected:
    std::optional<QString> m_perceivedName;
    QUrl m_urlPerceived;
    QUrl m_urlForConversion;
    QString m_inputOptions;
    QString m_specialActionDesc;
};

// A source whose real input is a temporary file made with the object (in the temporary
// folder, extension ".tmp") and deleted with it; the caller writes the file.
class QKConvertSourceTemp : public QKConvertSource {
public:
    // Perceived URL url, conversion URL the temporary file, input options as given. Null when
    // no temporary file could be made.
    static std::shared_ptr<QKConvertSourceTemp> withURL(const QUrl& url, const QString& options);

    const XStr& tempPath() const { return m_temp; }

private:
    XTempFile m_temp;
};

// A source standing for several files joined into one output, in order.
class QKConvertSourceConcat : public QKConvertSource {
public:
    QKConvertSourceConcat();

    QList<QUrl> concatURLs() const { return m_concatURLs; }
    // Stores the list and sets both URLs to its first element (null when it is empty).
    void setConcatURLs(const QList<QUrl>& urls);

    // The sum of the lengths of the files that can be read (the others count 0).
    uint64_t probeLength() const override;

private:
    QList<QUrl> m_concatURLs;
};
