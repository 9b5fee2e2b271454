#include "setup/KRAEncoderPageIndex.h"

#include "setup/KRAEncoderPageMultiEnc.h"
#include "setup/KREEncoderPage.h"
#include "setup/KREEncoderPageApple.h"
#include "setup/KREEncoderPageContactSheet.h"
#include "setup/KREEncoderPageCustom.h"
#include "setup/KREEncoderPageExtractAudio.h"
#include "setup/KREEncoderPageH264.h"
#include "setup/KREEncoderPagePlain.h"
#include "setup/KREEncoderPagePreviewGenerator.h"
#include "setup/KREEncoderPageVP.h"

#include <functional>
#include <vector>

namespace {

using PageMaker = std::function<std::unique_ptr<KREEncoderPage>(KRAEncoderPageHost*)>;

struct PageRow {
    const char* name;
    PageMaker make;
};

template <typename Page, typename... Args>
PageMaker Make(Args... args)
{
    return [=](KRAEncoderPageHost* host) { return std::unique_ptr<KREEncoderPage>(new Page(host, args...)); };
}

// One row per encoder name; several names share a page class with another container format.
const std::vector<PageRow>& Rows()
{
    static const std::vector<PageRow> rows = {
        // clang-format off
        {"MP4 (copy, no encoding)", Make<KREEncoderPageRemux>(QStringLiteral("mp4"))},
        {"Matroska (copy, no encoding)", Make<KREEncoderPageRemux>(QStringLiteral("matroska"))},
        {"MP4 (H264)", Make<KREEncoderPageH264>(QStringLiteral("mp4"))},
        {"Matroska (H264)", Make<KREEncoderPageH264>(QStringLiteral("matroska"))},
        {"MOV (Quicktime Movie)", Make<KREEncoderPageH264>(QStringLiteral("mov"))},
        {"MP4 (H265)", Make<KREEncoderPageH265>(QStringLiteral("mp4"))},
        {"Matroska (H265)", Make<KREEncoderPageH265>(QStringLiteral("matroska"))},
        {"Matroska (VP9)", Make<KREEncoderPageVP9>(QStringLiteral("matroska"))},
        {"WebM (VP9)", Make<KREEncoderPageVP9>(QStringLiteral("webm"))},
        {"WebM (VP8)", Make<KREEncoderPageVP8>(QStringLiteral("webm"))},
        {"MP4 (Apple H264)", Make<KREEncoderPageApple>(QStringLiteral("mp4"), QStringLiteral("H264"))},
        {"MP4 (Apple H265)", Make<KREEncoderPageApple>(QStringLiteral("mp4"), QStringLiteral("H265"))},
        {"Matroska (Apple H264)", Make<KREEncoderPageApple>(QStringLiteral("matroska"), QStringLiteral("H264"))},
        {"Matroska (Apple H265)", Make<KREEncoderPageApple>(QStringLiteral("matroska"), QStringLiteral("H265"))},
        {"3GP", Make<KREEncoderPage3GP>()},
        {"AVI", Make<KREEncoderPageAVI>()},
        {"AVI (XviD/DivX)", Make<KREEncoderPageXviD>()},
        {"Flash Video", Make<KREEncoderPageFlash>()},
        {"GIF Animation", Make<KREEncoderPageGIF>()},
        {"VOB", Make<KREEncoderPageVOB>()},
        {"WMV (Windows Media Video)", Make<KREEncoderPageWMV>()},
        {"Audio Extract (AAC)", Make<KREEncoderPageExtractAudioAAC>()},
        {"Audio Extract (MP3)", Make<KREEncoderPageExtractAudioMP3>()},
        {"Audio Extract (WAVE)", Make<KREEncoderPageExtractAudioWAV>()},
        {"[Custom FFmpeg settings]", Make<KREEncoderPageCustom>()},
        {"[Preview Generator]", Make<KREEncoderPagePreviewGenerator>()},
        {"[Contact Sheet]", Make<KREEncoderPageContactSheet>()},
        {"[Multi Encoder]", Make<KRAEncoderPageMultiEnc>()},
        // clang-format on
    };
    return rows;
}

} // namespace

std::unique_ptr<KREEncoderPage> KRAEncoderPageIndex::createFor(const QString& encoderName, KRAEncoderPageHost* host)
{
    for (const PageRow& row : Rows()) {
        if (encoderName == QLatin1String(row.name))
            return row.make(host);
    }
    return nullptr;
}

QStringList KRAEncoderPageIndex::pageNames()
{
    QStringList names;
    for (const PageRow& row : Rows())
        names.append(QString::fromLatin1(row.name));
    return names;
}
