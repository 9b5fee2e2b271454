#include "setup/KRACodecLogos.h"

#include <QComboBox>
#include <QHash>
#include <QIcon>
#include <QPixmap>

#include "job/QKEncoderDesc.h"
#include "kit/QKNamedImages.h"

QString KRACodecLogos::logoNameOfCodec(const QString& encoderName)
{
    // clang-format off
    static const QHash<QString, QString> table = {
        {"3GP", "3GP-square"},
        {"AVI", "AVI-square"}, {"AVI (XviD/DivX)", "AVI-square"},
        {"Flash Video", "Flash"},
        {"GIF Animation", "GIF-square"},
        {"MOV (Quicktime Movie)", "QT"},
        {"VOB", "VOB-square"},
        {"WMV (Windows Media Video)", "MS-square"},
        {"MP4 (H264)", "MP4-square"}, {"MP4 (H265)", "MP4-square"}, {"MP4 (Apple H264)", "MP4-square"},
        {"MP4 (Apple H265)", "MP4-square"}, {"MP4 (copy, no encoding)", "MP4-square"},
        {"Matroska (H264)", "Matroska"}, {"Matroska (H265)", "Matroska"}, {"Matroska (Apple H264)", "Matroska"},
        {"Matroska (Apple H265)", "Matroska"}, {"Matroska (VP9)", "Matroska"}, {"Matroska (copy, no encoding)", "Matroska"},
        {"WebM (VP8)", "VP8-square"},
        {"WebM (VP9)", "VP9-square"},
        {"[Multi Encoder]", "CodecSquare-[Multi Encoder]"},
        {"Audio Extract (AAC)", "Wave-square"}, {"Audio Extract (WAVE)", "Wave-square"}, {"Audio Extract (MP3)", "Wave-square"},
        {"[Custom FFmpeg settings]", "ffmpeg-logo"},
        {"[Preview Generator]", "Preview-square"},
        {"[Contact Sheet]", "ContactSheet-square"},
    };
    // clang-format on
    return table.value(encoderName);
}

QImage KRACodecLogos::squareLogoOfCodec(const QString& encoderName)
{
    const QString name = logoNameOfCodec(encoderName);
    return name.isEmpty() ? QImage() : QKNamedImages::imageNamed(name);
}

QImage KRACodecLogos::comboBoxLogoOfCodec(const QString& encoderName)
{
    const QImage logo = squareLogoOfCodec(encoderName);
    return logo.isNull() ? QImage() : logo.scaled(16, 16, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

void KRACodecLogos::addLogosToPicker(QComboBox* picker)
{
    if (!picker)
        return;
    for (int i = 0; i < picker->count(); ++i) {
        if (!picker->itemIcon(i).isNull())
            continue;
        const QImage logo = comboBoxLogoOfCodec(picker->itemText(i));
        if (!logo.isNull())
            picker->setItemIcon(i, QIcon(QPixmap::fromImage(logo)));
    }
}

void KRACodecLogos::installAsEncoderMenuLogos()
{
    QKEncoderDesc::setComboBoxLogoProvider([](const QString& encoderName) {
        const QImage logo = comboBoxLogoOfCodec(encoderName);
        return logo.isNull() ? QIcon() : QIcon(QPixmap::fromImage(logo));
    });
}
