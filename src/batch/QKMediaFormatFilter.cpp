#include "batch/QKMediaFormatFilter.h"

#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XEnvironment.h"
#include "xclass/XRegistry.h"

#include <QFile>
#include <QtDebug>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

namespace {

std::atomic<int> g_listReads{0};

// A list file, read and parsed once per process.
const decoderList_t& ListFile(const wchar_t* name)
{
    static std::mutex mutex;
    static std::map<std::wstring, std::shared_ptr<const decoderList_t>> lists;
    std::lock_guard<std::mutex> lock(mutex);
    auto& list = lists[name];
    if (!list) {
        ++g_listReads;
        const QString path = XStrToQString(XFindProgramFile(name));
        QFile file(path);
        decoderList_t parsed;
        if (!file.open(QIODevice::ReadOnly)) {
            qWarning("Marvoni Video Converter: the format list %s cannot be read: no file counts as media",
                     qUtf8Printable(path));
        } else {
            QString damaged;
            parsed = QKMediaFormatFilter::parse(file.read(1 << 20), &damaged);
            if (!damaged.isEmpty())
                qWarning("Marvoni Video Converter: the format list %s is damaged (%s): no file counts as media",
                         qUtf8Printable(path), qUtf8Printable(damaged));
        }
        list = std::make_shared<const decoderList_t>(std::move(parsed));
    }
    return *list;
}

} // namespace

decoderList_t QKMediaFormatFilter::parse(const QByteArray& data, QString* damaged)
{
    auto fail = [&](const char* why) {
        if (damaged)
            *damaged = QString::fromLatin1(why);
        return decoderList_t();
    };
    if (data.isEmpty())
        return fail("empty");
    if (data.size() % 2 != 0)
        return fail("an odd number of bytes");
    // Taken unit for unit: Qt's UTF-16 decoding would eat the mark this check wants to see.
    const QString text = QStringView(reinterpret_cast<const char16_t*>(data.constData()), data.size() / 2).toString();
    if (!text.startsWith(QChar(0xFEFF)))
        return fail("no byte-order mark");
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            return fail("a lone surrogate");
    }
    QStringList lines;
    QString line;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch == QLatin1Char('\r') || ch == QLatin1Char('\n')) {
            lines << line;
            line.clear();
            if (ch == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
        } else if (ch != QChar(0xFEFF) || !line.isEmpty()) {
            line += ch; // a mark at the start of a line is skipped
        }
    }
    if (!line.isEmpty())
        lines << line;
    decoderList_t list;
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

int QKMediaFormatFilter::listReads()
{
    return g_listReads;
}

QKMediaFormatFilter::QKMediaFormatFilter()
{
    m_list = ListFile(L"decoders.bin");
    if (XRegistry::GetDWORD(L"ShowAudioOnly") != 0) {
        const decoderList_t& audio = ListFile(L"decoders-audio.bin");
        m_list.lstExtension << audio.lstExtension;
        m_list.lstExtDescription << audio.lstExtDescription;
    }
    m_formats.reserve(m_list.lstExtension.size());
    for (qsizetype i = 0; i < m_list.lstExtension.size(); ++i)
        m_formats.append({m_list.lstExtension[i], m_list.lstExtDescription[i], true});
}

std::optional<QString> QKMediaFormatFilter::fileTypeOf(const QUrl& url) const
{
    return fileTypeOfPath(XStrToQString(XPathFromFileURL(url)));
}

std::optional<QString> QKMediaFormatFilter::fileTypeOfPath(const QString& path) const
{
    // Views, not copies: this runs for every file of every folder listed.
    const QStringView name = QStringView(path).mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QStringView extension = dot >= 0 ? name.mid(dot) : QStringView(u".");
    for (const QKMediaFormatFilterEntry& entry : m_formats)
        if (entry.extension.size() == extension.size() &&
            QStringView(entry.extension).compare(extension, Qt::CaseInsensitive) == 0)
            return entry.enabled ? std::optional<QString>(entry.name) : std::nullopt;
    return std::nullopt;
}

void QKMediaFormatFilter::toggleAll(bool enabled)
{
    for (QKMediaFormatFilterEntry& entry : m_formats)
        entry.enabled = enabled;
}
