// Which file extensions are media the converter reads, with a display name per format, from
// the format lists "decoders.bin" (and "decoders-audio.bin" with "ShowAudioOnly").
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

struct decoderList_t {
    QStringList lstExtension;
    QStringList lstExtDescription;
};

struct QKMediaFormatFilterEntry {
    QString extension;
    QString name;
    bool enabled = true;
};

class QKMediaFormatFilter {
public:
    QKMediaFormatFilter();

    const QList<QKMediaFormatFilterEntry>& formats() const { return m_formats; }
    std::optional<QString> fileTypeOf(const QUrl& url) const;
    // The same for a path (text as XStrToQString gives it).
    std::optional<QString> fileTypeOfPath(const QString& path) const;
    bool isMediaFile(const QUrl& url) const { return fileTypeOf(url).has_value(); }
    void toggleAll(bool enabled);
    QStringList extensions() const;

    static decoderList_t parse(const QByteArray& data, bool* damaged = nullptr);

private:
    decoderList_t m_list;
    QList<QKMediaFormatFilterEntry> m_formats;
};
