// Which file extensions are media the converter reads, with a display name per format. The
// lists come from "decoders.bin" (and, with the registry value "ShowAudioOnly", also
// "decoders-audio.bin"): UTF-16 little-endian text that starts with a byte-order mark, in
// pairs of lines, the format's name and then its extensions (with their dots) separated by
// ";". The lists are made at build time by resources/build-tools/make_format_list.cpp from the
// UTF-8 sources resources/decoders*.txt, which diff and review well as plain text. A list is
// read once per process; every filter copies its rows, so that each one's enabled flags are
// its own. A damaged list gives an empty filter and one log line.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// The parsed list: two parallel lists, one row per extension.
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
    // The format name of the path's extension (with its dot, "." for none), looked up without
    // regard to case; the first row with that extension decides: its name when enabled, else
    // none. None when no row matches.
    std::optional<QString> fileTypeOf(const QUrl& url) const;
    std::optional<QString> fileTypeOfPath(const QString& path) const;
    bool isMediaFile(const QUrl& url) const { return fileTypeOf(url).has_value(); }
    void toggleAll(bool enabled);
    // Every extension of the list, in row order (for the file dialog's name filter).
    QStringList extensions() const { return m_list.lstExtension; }

    // The rows of a list file's bytes. A pair with an empty line is skipped, an odd last line
    // ignored; ";;" makes a row with an empty extension, which matches nothing. damaged: why
    // the bytes are not a list (empty, an odd byte count, no byte-order mark, a lone
    // surrogate); the rows are then none.
    static decoderList_t parse(const QByteArray& data, QString* damaged = nullptr);
    // How often a list file was read in this process (tests).
    static int listReads();

private:
    decoderList_t m_list;
    QList<QKMediaFormatFilterEntry> m_formats;
};
