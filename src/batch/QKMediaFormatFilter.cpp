#include "batch/QKMediaFormatFilter.h"

#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XEnvironment.h"
#include "xclass/XRegistry.h"

#include <QFile>

decoderList_t QKMediaFormatFilter::parse(const QByteArray& data, bool* damaged)
{
    decoderList_t list;
    if (damaged)
        *damaged = data.isEmpty() || data.size() % 2 != 0;
    if (data.size() < 2 || data.size() % 2 != 0)
        return list;
    const QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(data.constData()), data.size() / 2);
    QStringList lines;
    QString line;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch == QLatin1Char('\r') || ch == QLatin1Char('\n')) {
            lines << line;
            line.clear();
            if (ch == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
            continue;
        }
        if (ch == QChar(0xFEFF) && line.isEmpty())
            continue;
        line += ch;
    }
    if (!line.isEmpty())
        lines << line;
    for (qsizetype i = 0; i + 1 < lines.size(); i += 2) {
        if (lines[i].isEmpty() || lines[i + 1].isEmpty())
            continue;
        for (const QString& extension : lines[i + 1].split(QLatin1Char(';'))) {
            list.lstExtension << extension;
            list.lstExtDescription << lines[i];
        }
    }
    return list;
}

QKMediaFormatFilter::QKMediaFormatFilter()
{
    auto read = [](const wchar_t* name) {
        QFile file(XStrToQString(XFindProgramFile(name)));
        return file.open(QIODevice::ReadOnly) ? parse(file.readAll()) : decoderList_t();
    };
    m_list = read(L"decoders.bin");
    if (XRegistry::GetDWORD(L"ShowAudioOnly") != 0) {
        const decoderList_t audio = read(L"decoders-audio.bin");
        m_list.lstExtension << audio.lstExtension;
        m_list.lstExtDescription << audio.lstExtDescription;
    }
    for (qsizetype i = 0; i < m_list.lstExtension.size(); ++i)
        m_formats.append({m_list.lstExtension[i], m_list.lstExtDescription[i], true});
}

std::optional<QString> QKMediaFormatFilter::fileTypeOf(const QUrl& url) const
{
    return fileTypeOfPath(XStrToQString(XPathFromFileURL(url)));
}

std::optional<QString> QKMediaFormatFilter::fileTypeOfPath(const QString& path) const
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot > 0 ? name.mid(dot) : QStringLiteral(".");
    for (const QKMediaFormatFilterEntry& entry : m_formats)
        if (entry.extension.compare(extension, Qt::CaseInsensitive) == 0)
            return entry.enabled ? std::optional<QString>(entry.name) : std::nullopt;
    return std::nullopt;
}

void QKMediaFormatFilter::toggleAll(bool enabled)
{
    for (QKMediaFormatFilterEntry& entry : m_formats)
        entry.enabled = enabled;
}

QStringList QKMediaFormatFilter::extensions() const
{
    return m_list.lstExtension;
}
