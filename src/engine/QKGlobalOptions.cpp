#include "engine/QKGlobalOptions.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>

#include "platform/XStrQString.h"
#include "xclass/XBuffer.h"
#include "xclass/XEnvironment.h"
#include "xclass/XFile.h"
#include "xclass/XFileName.h"
#include "xclass/XFileRewrite.h"
#include "xclass/XRegistry.h"

namespace {

// The ID3 genres 0 to 121.
// clang-format off
const char* const kGenres[] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop",
    "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game",
    "Sound Clip", "Gospel", "Noise", "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative",
    "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial",
    "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta",
    "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave",
    "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka",
    "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk", "Folk-Rock", "National Folk", "Swing",
    "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic", "Bluegrass", "Avantgarde", "Gothic Rock",
    "Progressive Rock", "Psychedelic Rock", "Symphonic Rock", "Slow Rock", "Big Band", "Chorus",
    "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata",
    "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba",
    "Folklore", "Ballad", "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock",
};
// clang-format on
static_assert(sizeof(kGenres) / sizeof(kGenres[0]) == 122);

// clang-format off
const char* const kMetaFields[] = {
    "Artist", "Album", "Title", "Genre", "Year", "Track", "Comment", "Album Artist",
    "Composer", "Conductor", "Orchestra", "Soloists", "Work", "Movement", "Movement Number",
    "Movement Total", "Period", "Style", "Instrument", "Lyricist", "Publisher", "Disc", "Disc Total",
    "Track Total", "Album Sort", "Artist Sort", "Title Sort", "Album Artist Sort", "Composer Sort",
    "Compilation", "Encoded By", "Copyright", "Mood", "BPM", "ISRC", "Label", "Catalog Number", "Opus",
};
// clang-format on
static_assert(sizeof(kMetaFields) / sizeof(kMetaFields[0]) == 38);

std::once_flag g_genresWritten;

} // namespace

uint64_t QKGlobalOptions::numCPUs()
{
    return std::thread::hardware_concurrency();
}

uint64_t QKGlobalOptions::numThreads()
{
    return std::max<uint64_t>(1, numCPUs());
}

bool QKGlobalOptions::allowInterentAccess()
{
    return XRegistry::GetDWORD(L"NoInternetForQK") == 0;
}

XStr QKGlobalOptions::pathInProfile(const XStr& fileName)
{
    return XGetAppDataPath(fileName.p);
}

QStringList QKGlobalOptions::hardcodedGenres()
{
    QStringList genres;
    for (const char* genre : kGenres)
        genres.append(QString::fromUtf8(genre));
    std::stable_sort(genres.begin(), genres.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    return genres;
}

QStringList QKGlobalOptions::standardGenres()
{
    const XStr path = pathInProfile(XStr(L"genres.txt"));
    std::call_once(g_genresWritten, [&] {
        if (XFileExists(path.p))
            return;
        const QByteArray text = hardcodedGenres().join(QLatin1Char('\n')).toUtf8();
        XFileWriteAll(path.p, text.constData(), static_cast<size_t>(text.size()));
    });
    XBuffer data;
    if (!XFileReadAll(path.p, data)) {
        data.Free();
        return hardcodedGenres();
    }
    const QString text = XStrToQString(XStr::FromUTF8Bytes(data.Data, static_cast<size_t>(data.Used)));
    data.Free();
    QStringList genres;
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (!line.isEmpty())
            genres.append(line);
    }
    return genres;
}

QStringList QKGlobalOptions::standardMetaFields()
{
    QStringList fields;
    for (const char* field : kMetaFields)
        fields.append(QString::fromUtf8(field));
    std::stable_sort(fields.begin(), fields.end(), [](const QString& a, const QString& b) {
        return XStrCompareNatural(XStrFromQString(a).p, XStrFromQString(b).p) < 0;
    });
    return fields;
}

QKConditionalEncodingRef QKConditionalEncoding::createWithDSPs(const QKDSPChain& /*chain*/)
{
    return nullptr;
}

bool QKConditionalEncoding::processEntry(QKConversionEntry& /*entry*/, const QKMediaFileInfo* /*info*/) const
{
    return true;
}
