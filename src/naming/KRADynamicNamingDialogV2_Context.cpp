#include "naming/KRADynamicNamingDialogV2_Context.h"

#include "job/QKEncoderDesc.h"
#include "media/QKMediaFileInfo.h"
#include "naming/KRAFileNaming.h"
#include "naming/NamingTemplate.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XFileName.h"
#include "xclass/XRegistry.h"

namespace {
const char kDefaultDiscToAlbum[] = "[album], Disc [discnum]";
}

NTag KRADynamicNamingDialogV2_Context::currentExampleMeta() const
{
    if (m_exampleMeta)
        return *m_exampleMeta->tag();
    return tagsOfFile(m_exampleURL);
}

NTag KRADynamicNamingDialogV2_Context::tagsOfFile(const QUrl& url)
{
    NTag meta;
    const XStr path = url.isEmpty() ? XStr() : XPathFromFileURL(url);
    if (!path.IsEmpty())
        if (const QKMediaFileInfoRef info = QKMediaFileInfo::readFromFile(path))
            if (const QKTagRef tags = info->IDTags())
                meta = *tags->tag();
    return meta;
}

QString KRADynamicNamingDialogV2_Context::discToAlbumFormat() const
{
    if (!m_activeProfileReg.isEmpty()) {
        const XStr format =
            XRegistry::GetString(L"TrivenoxDiscNumToAlbum", L"HKCU", XStrFromQString(m_activeProfileReg));
        if (!format.IsEmpty())
            return XStrToQString(format);
    }
    return QString::fromLatin1(kDefaultDiscToAlbum);
}

QString KRADynamicNamingDialogV2_Context::exampleExtension() const
{
    QString extension = QKEncoderDesc::formatExtensionOf(encoder()).value_or(QString());
    if (extension.startsWith(QLatin1Char('.')))
        extension.remove(0, 1);
    if (extension.compare(QStringLiteral("ignore"), Qt::CaseInsensitive) == 0)
        extension.clear();
    return extension;
}

NTag KRADynamicNamingDialogV2_Context::exampleTags(bool useCurrentMeta, const NTag& currentMeta, bool compilation,
                                                   bool multiDisc) const
{
    NTag tags;
    if (useCurrentMeta && currentMeta.Count() > 0) {
        tags = currentMeta;
    } else {
        QString album = QStringLiteral("Album Title");
        if (multiDisc && discToAlbumFormat() == QString::fromLatin1(kDefaultDiscToAlbum))
            album = QStringLiteral("Album Title, Disc 1");
        tags.AddTag(L"artist", L"Artist\rArtist2");
        tags.AddTag(L"album", XStrFromQString(album));
        tags.AddTag(L"album artist", L"Album Artist");
        tags.AddTag(L"title", L"Title");
        tags.AddTag(L"genre", L"Genre");
        tags.AddTag(L"year", L"2011 08 12");
        tags.AddTag(L"track", L"5/15");
        tags.AddTag(L"disc", multiDisc ? L"2/3" : L"1/1");
        tags.AddTag(L"Composer", L"Composer\rComposer 2");
        tags.AddTag(L"Conductor", L"Conductor");
        tags.AddTag(L"Band", L"Band");
        tags.AddTag(L"ISRC", L"CC-XXX-YY-NNNNN");
        tags.AddTag(L"UPC", L"UPC");
        tags.AddTag(L"Label", L"Label");
        tags.AddTag(L"Mood", L"Mood");
        tags.AddTag(L"Style", L"Style");
        tags.AddTag(L"Tempo", L"Tempo");
        if (compilation) {
            tags.AddTag(L"Compilation", L"1");
            tags.RemoveTag(L"album artist");
        }
    }

    if (m_allowSameFolder) {
        tags.AddTag(L"origdrive", L"");
        tags.AddTag(L"origpath", L"Folder1/Folder2/Folder3");
        tags.AddTag(L"origfilename", L"A Filename");
    }
    const XStr encoderName = XStrFromQString(encoder());
    tags.AddTag(L"unique", L"5754");
    tags.AddTag(L"length", L"125955");
    tags.AddTag(L"length_mmss", L"10.51");
    tags.AddTag(L"length_hhmmss", L"01.25.55");
    tags.AddTag(L"encoder", encoderName);
    tags.AddTag(L"encoder+", encoderName + L" " + XStrFromQString(encoderSettings()));
    tags.AddTag(L"extension", XStrFromQString(exampleExtension()));
    tags.AddTag(L"cddb_id", L"3DF2700A");
    tags.AddTag(L"protected", L"No");
    tags.AddTag(L"id_tag", L"ID3v2.2");
    tags.AddTag(L"audio_quality", L"Medium (Lossy)");
    tags.AddTag(L"gapless", L"Yes");
    KRAFileNaming::addDateFieldsTo(tags);
    tags.AddTag(L"frequency", L"44100");
    tags.AddTag(L"channels", L"2");
    tags.AddTag(L"channels_subone", L"1");
    tags.AddTag(L"bits_per_sample", L"16");
    tags.AddTag(L"bytes_per_sample", L"2");
    tags.AddTag(L"bitrate", L"128000");
    tags.AddTag(L"k_bitrate", L"128");
    return tags;
}

QString KRADynamicNamingDialogV2_Context::exampleFor(const QString& pattern, bool useCurrentMeta,
                                                     const NTag& currentMeta, bool compilation, bool multiDisc) const
{
    const NTag tags = exampleTags(useCurrentMeta, currentMeta, compilation, multiDisc);
    XFileName example(ExpandNamingTemplate(XStrFromQString(pattern), tags, nullptr, true));
    example.MakeValid(false, nullptr, true, false);
    example.TrimRightChar(L'/');
    return XStrToQString(example);
}
