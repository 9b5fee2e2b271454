// logo-maker: draws the program's encoder logos (a rounded square in a colour of the format's
// family with a short label), the effects' small logos ("dsp-logo-NAME", a round badge in
// the colour of the effect's kind) and the folder tree's six check-box pictures, and writes them
// as NAME.png into a folder. Run once by hand when the logo table changes; the pictures are kept
// under resources/.
//
//   logo-maker FOLDER

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>

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
    // The launcher's tiles.
    {"VideoConverter", "VIDEO", 0xff1565c0},
    {"VideoBatchConverter", "BATCH", 0xff00695c},
    {"Help", "?", 0xff546e7a},
};

// Effects: picture (blue), time (green), sound (purple), actions (orange), the rest (grey).
const Logo kEffectLogos[] = {
    {"Aspect Ratio", "AR", 0xff1565c0},
    {"Audio Channel Count", "CH", 0xff6a1b9a},
    {"Audio Mute", "M", 0xff6a1b9a},
    {"Audio Normalize", "N", 0xff6a1b9a},
    {"Audio Resample", "Hz", 0xff6a1b9a},
    {"Deinterlace (yadif)", "DI", 0xff1565c0},
    {"Frame Rate", "FR", 0xff2e7d32},
    {"Speed Adjust", "SP", 0xff2e7d32},
    {"Trim", "TR", 0xff2e7d32},
    {"Scale Absolute", "SC", 0xff1565c0},
    {"Scale Maximum", "SM", 0xff1565c0},
    {"Audio Bitrate", "AB", 0xff6a1b9a},
    {"Reverse", "RV", 0xff2e7d32},
    {"Loop", "LP", 0xff2e7d32},
    {"Fade", "FD", 0xff2e7d32},
    {"Stream Selection", "ST", 0xff455a64},
    {"Cut", "CT", 0xff2e7d32},
    {"Delete Source File", "DEL", 0xffe65100},
    {"Flip", "FL", 0xff1565c0},
    {"Hue & Saturation", "HS", 0xff1565c0},
    {"Multi-CPU Force", "CPU", 0xffe65100},
    {"Preserve Source Attributes", "PA", 0xffe65100},
    {"Rotate", "RO", 0xff1565c0},
    {"[Custom]", "FX", 0xff455a64},
    {"Brightness & Contrast", "BC", 0xff1565c0},
    {"Sharpen & Blur", "SB", 0xff1565c0},
    {"Watermark", "WM", 0xff1565c0},
    {"Denoiser (High Precision 3D)", "D3", 0xff00838f},
    {"Denoiser (Spatial Denoiser)", "DS", 0xff00838f},
    {"Denoiser (Wavelet)", "DW", 0xff00838f},
    {"Canvas Size", "CV", 0xff1565c0},
    {"Scale Percentage", "%", 0xff1565c0},
    {"Pixel Format", "PF", 0xff1565c0},
    {"Crop", "CR", 0xff1565c0},
    {"Play Sound After Conversion", "SND", 0xffe65100},
    {"Generic", "FX", 0xff757575},
};
// clang-format on

// A round badge 32 pixels wide: shown at 16 points, sharp at a scale of two.
QImage DrawEffect(const Logo& logo)
{
    const int side = 32;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgba(logo.colour));
    painter.drawEllipse(QRectF(1, 1, side - 2, side - 2));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    const QString label = QString::fromLatin1(logo.label);
    int pixels = 14;
    font.setPixelSize(pixels);
    while (pixels > 7 && QFontMetrics(font).horizontalAdvance(label) > side - 7)
        font.setPixelSize(--pixels);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(0, 0, side, side), Qt::AlignCenter, label);
    return image;
}

bool Save(const QImage& image, const QString& path)
{
    if (image.save(path, "PNG"))
        return true;
    fprintf(stderr, "logo-maker: cannot write %s\n", path.toLocal8Bit().constData());
    return false;
}

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

// The folder tree's check boxes, 16 pixels square around a 14-pixel box (the size of the
// Fusion style's indicator, so the picture sits where that one would). A stacked box behind
// means "and the folders below": ticked with it, the whole tree; empty with it, only something
// further down. Square corners and solid fills keep them sharp at 1:1 and legible on a
// selected (blue) row as on a plain one.
enum class Front { Empty, Tick, Square, FilledTick };

struct CheckPicture {
    const char* file;
    Front front;
    bool stacked;
};

const CheckPicture kCheckPictures[] = {
    {"1-SelRecursive", Front::Tick, true}, {"2-SelNonRecur", Front::Tick, false},
    {"3-SubSelected", Front::Empty, true}, {"4-Indiv", Front::Square, false},
    {"5-Unchecked", Front::Empty, false},  {"6-Checked", Front::FilledTick, false},
};

const QColor kBoxEdge(0x4a, 0x4a, 0x4a);
const QColor kBoxFill(Qt::white);
const QColor kAccent(0x1f, 0x5f, 0xc4);
const QColor kTickInk(0x1a, 0x1a, 0x1a);

// A box with a 1-pixel edge filling the pixels of rect.
void DrawBox(QPainter& painter, const QRect& rect, const QColor& fill)
{
    painter.fillRect(rect, kBoxEdge);
    painter.fillRect(rect.adjusted(1, 1, -1, -1), fill);
}

QImage DrawCheck(const CheckPicture& picture)
{
    QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    QRect box(1, 1, 14, 14);
    if (picture.stacked) {
        DrawBox(painter, QRect(2, 2, 14, 14), kBoxFill);
        box = QRect(0, 0, 14, 14);
    }
    DrawBox(painter, box, picture.front == Front::FilledTick ? kAccent : kBoxFill);
    if (picture.front == Front::Square)
        painter.fillRect(QRect(box.left() + 4, box.top() + 4, 6, 6), kAccent);
    if (picture.front == Front::Tick || picture.front == Front::FilledTick) {
        painter.setRenderHint(QPainter::Antialiasing);
        QPen pen(picture.front == Front::Tick ? kTickInk : QColor(Qt::white), 2.2);
        pen.setCapStyle(Qt::FlatCap);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        const QPointF at = box.topLeft();
        painter.drawPolyline(QPolygonF{at + QPointF(3, 7.2), at + QPointF(5.8, 10), at + QPointF(11, 4)});
    }
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
        if (!Save(Draw(logo), folder + QLatin1Char('/') + QString::fromLatin1(logo.file) + QStringLiteral(".png")))
            return 1;
    }
    for (const Logo& logo : kEffectLogos) {
        const QString name = QStringLiteral("dsp-logo-") + QString::fromLatin1(logo.file);
        if (!Save(DrawEffect(logo), folder + QLatin1Char('/') + name + QStringLiteral(".png")))
            return 1;
    }
    for (const CheckPicture& picture : kCheckPictures) {
        if (!Save(DrawCheck(picture),
                  folder + QLatin1Char('/') + QString::fromLatin1(picture.file) + QStringLiteral(".png")))
            return 1;
    }
    return 0;
}
