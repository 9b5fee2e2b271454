#include "job/KRECodecs.h"

#include <algorithm>

#include "media/QKExternalFFmpeg.h"

QList<QKEncoderDescRef> KRECodecs::listEncodersLGPL()
{
    return {
        QKEncoderDesc::makeVideoCodec(QStringLiteral("AVI"), QStringLiteral(".avi")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("GIF Animation"), QStringLiteral(".gif"), false),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("MP4 (copy, no encoding)"), QStringLiteral(".mp4")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("Matroska (copy, no encoding)"), QStringLiteral(".mkv")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("WMV (Windows Media Video)"), QStringLiteral(".wmv")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("Matroska (VP9)"), QStringLiteral(".mkv")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("Audio Extract (WAVE)"), QStringLiteral(".wav")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("WebM (VP8)"), QStringLiteral(".webm")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("WebM (VP9)"), QStringLiteral(".webm")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("Flash Video"), QStringLiteral(".flv")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("Audio Extract (AAC)"), QStringLiteral(".m4a")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("Audio Extract (MP3)"), QStringLiteral(".mp3")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("MP4 (Apple H264)"), QStringLiteral(".mp4")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("MP4 (Apple H265)"), QStringLiteral(".mp4")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("Matroska (Apple H264)"), QStringLiteral(".mkv")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("Matroska (Apple H265)"), QStringLiteral(".mkv")),
        // These three take their extension from their page when they run.
        QKEncoderDesc::makeVideoCodec(QStringLiteral("[Preview Generator]"), QString()),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("[Contact Sheet]"), QString()),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("[Custom FFmpeg settings]"), QString()),
    };
}

QList<QKEncoderDescRef> KRECodecs::listEncodersGPL()
{
    return {
        QKEncoderDesc::makeVideoCodec(QStringLiteral("3GP"), QStringLiteral(".3gp")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("Matroska (H264)"), QStringLiteral(".mkv")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("Matroska (H265)"), QStringLiteral(".mkv")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("MOV (Quicktime Movie)"), QStringLiteral(".mov")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("MP4 (H264)"), QStringLiteral(".mp4")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("MP4 (H265)"), QStringLiteral(".mp4")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("AVI (XviD/DivX)"), QStringLiteral(".avi")),
        QKEncoderDesc::makeVideoCodec(QStringLiteral("VOB"), QStringLiteral(".vob"), false),
    };
}

QList<QKEncoderDescRef> KRECodecs::listEncoders()
{
    QList<QKEncoderDescRef> list = listEncodersLGPL();
    if (QKExternalFFmpeg::haveExternalFFmpeg())
        list.append(listEncodersGPL());
    list.append(QKEncoderDesc::makeMultiEncoder());
    std::stable_sort(list.begin(), list.end(), [](const QKEncoderDescRef& a, const QKEncoderDescRef& b) {
        return QString::compare(a->name(), b->name(), Qt::CaseSensitive) < 0;
    });
    return list;
}

QString KRECodecs::fixedArgsOf(const QString& encoderName)
{
    if (encoderName == QLatin1String("VOB"))
        return QStringLiteral(
            " -f vob -vf scale=720:576:lanczos,smartblur=1.0:-0.4,colormatrix=bt709:bt601,setdar=16/9,"
            "setsar=64/45 -target ntsc-dvd");
    if (encoderName == QLatin1String("GIF Animation"))
        return QStringLiteral(" -f gif");
    return QString();
}
