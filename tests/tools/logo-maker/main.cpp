// logo-maker: draws the program's encoder logos (a rounded square in a colour of the format's
// family with a short label) and writes them as NAME.png into a folder. Run once by hand when
// the logo table changes; the pictures are kept under resources/.
//
//   logo-maker FOLDER

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

struct Logo {
    const char* file;
    const char* label;
    QRgb colour;
};

// clang-format off
const Logo kLogos[] = {
    {"3GP-square", "3GP", 0xff2e7d32},
    {"AVI-square", "AVI", 0xff5d4037},
    {"Flash", "FLV", 0xffc62828},
    {"GIF-square", "GIF", 0xff6a1b9a},
    {"QT", "MOV", 0xff455a64},
    {"VOB-square", "VOB", 0xff37474f},
    {"VOB", "DVD", 0xff37474f},
    {"MS-square", "WMV", 0xff1565c0},
    {"MP4-square", "MP4", 0xff0277bd},
    {"Matroska", "MKV", 0xff00695c},
    {"VP8-square", "VP8", 0xff558b2f},
    {"VP9-square", "VP9", 0xff33691e},
    {"CodecSquare-[Multi Encoder]", "MULTI", 0xffef6c00},
    {"Wave-square", "AUDIO", 0xff4527a0},
    {"ffmpeg-logo", "ffmpeg", 0xff212121},
    {"Preview-square", "PREV", 0xffad1457},
    {"ContactSheet-square", "SHEET", 0xff00838f},
    {"H264", "H.264", 0xff0277bd},
    {"H265", "H.265", 0xff01579b},
};
// clang-format on

QImage Draw(const Logo& logo)
{
    const int side = 128;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath square;
    square.addRoundedRect(QRectF(4, 4, side - 8, side - 8), 22, 22);
    painter.fillPath(square, QColor::fromRgba(logo.colour));
    painter.setPen(QColor(255, 255, 255, 70));
    painter.drawLine(QPointF(18, side - 30), QPointF(side - 18, side - 30));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    const QString label = QString::fromLatin1(logo.label);
    // Wide letters ("WMV", "MOV") at the short labels' size would touch the square's edges.
    int pixels = label.size() <= 3 ? 40 : label.size() <= 5 ? 28 : 24;
    font.setPixelSize(pixels);
    while (pixels > 12 && QFontMetrics(font).horizontalAdvance(label) > side - 28)
        font.setPixelSize(--pixels);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(4, 4, side - 8, side - 36), Qt::AlignCenter, label);
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: logo-maker FOLDER\n");
        return 2;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (const Logo& logo : kLogos) {
        const QString path = folder + QLatin1Char('/') + QString::fromLatin1(logo.file) + QStringLiteral(".png");
        if (!Draw(logo).save(path, "PNG")) {
            fprintf(stderr, "logo-maker: cannot write %s\n", path.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
