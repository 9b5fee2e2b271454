#include "setup/KREEncoderPageApple.h"

#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QPixmap>
#include <QVBoxLayout>

#include <fcntl.h>
#include <unistd.h>

#include "job/QKElemValueList.h"
#include "kit/QKNamedImages.h"
#include "media/QKLocateFFmpeg.h"
#include "setup/KREEncoderBitrates.h"

namespace {

QString& RenderNodeFolder()
{
    static QString folder;
    return folder;
}

// Frames reach the VA-API encoder in video memory: uploaded after every other video filter
// (the engine joins all -vf items into one chain, in order).
const char* const kUploadFilter = "format=nv12,hwupload";

} // namespace

KREEncoderPageApple::KREEncoderPageApple(KRAEncoderPageHost* host, const QString& format, const QString& codec,
                                         QObject* parent)
    : KREEncoderPageCodec(host, format, {ModeABR, ModeCBR, ModeCRF, ModeLossless}, parent), m_codec(codec)
{
    m_vaapiDevice =
        findVaapiDevice(m_codec == QLatin1String("H265") ? QStringLiteral("hevc_vaapi") : QStringLiteral("h264_vaapi"));
}

void KREEncoderPageApple::setRenderNodeFolder(const QString& folder)
{
    RenderNodeFolder() = folder;
}

QString KREEncoderPageApple::findVaapiDevice(const QString& vaapiEncoder)
{
    const XStr ffmpeg = QKLocateFFmpeg::locateFFmpeg();
    if (ffmpeg.IsEmpty() || !QKLocateFFmpeg::ffmpegHasEncoder(ffmpeg, vaapiEncoder.toStdWString().c_str()))
        return QString();
    const QDir folder(RenderNodeFolder().isEmpty() ? QStringLiteral("/dev/dri") : RenderNodeFolder());
    const QStringList nodes = folder.entryList({QStringLiteral("renderD*")}, QDir::System | QDir::Files, QDir::Name);
    for (const QString& node : nodes) {
        const QString path = folder.filePath(node);
        // A node the user may not open (no "render" group) would fail every conversion.
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
    }
    return QString();
}

bool KREEncoderPageApple::usesVaapi() const
{
    return !m_vaapiDevice.isEmpty() && (isCRF() || isCBR() || isABR());
}

QString KREEncoderPageApple::videoEncoder() const
{
    const bool h265 = m_codec == QLatin1String("H265");
    if (usesVaapi())
        return h265 ? QStringLiteral("hevc_vaapi") : QStringLiteral("h264_vaapi");
    return h265 ? QStringLiteral("libx265") : QStringLiteral("libx264");
}

QString KREEncoderPageApple::encoderArgs() const
{
    QKElemValueList list(QStringLiteral("-c:v ") + videoEncoder());
    if (usesVaapi()) {
        list.addElem(QStringLiteral("vaapi_device"), m_vaapiDevice);
        list.addElem(QStringLiteral("vf"), QString::fromLatin1(kUploadFilter));
        for (const QString& option : fixedOptionsForContainerFormat(outputContainerFormat()))
            list.addElemsFromString(option);
        const QString bitrate =
            bitrateStr().value_or(KREEncoderBitrates::formatBitrate(KREEncoderBitrates::bitrateByIndex(0)));
        // The encoder's own rate-control modes; constant quality is a constant quantiser there.
        if (isCRF()) {
            list.addElem(QStringLiteral("rc_mode"), QStringLiteral("CQP"));
            list.addElemInt(QStringLiteral("qp"), static_cast<int>(CRF()));
        } else if (isCBR()) {
            list.addElem(QStringLiteral("rc_mode"), QStringLiteral("CBR"));
            list.addElem(QStringLiteral("b:v"), bitrate);
            list.addElem(QStringLiteral("maxrate"), bitrate);
        } else {
            list.addElem(QStringLiteral("rc_mode"), QStringLiteral("VBR"));
            list.addElem(QStringLiteral("b:v"), bitrate);
        }
    } else {
        list.addElemsFromString(commonArgs());
        // As on the libx264 pages: 8-bit 4:2:0 that players decode, except where lossless
        // has to keep the source's format.
        if (m_codec != QLatin1String("H265") && !isLossless())
            list.addElem(QStringLiteral("pix_fmt"), QStringLiteral("yuv420p"));
    }
    list.addElemsFromString(audioSwitch());
    mergeX265Params(list);
    return list.mergeToString_alternate();
}

bool KREEncoderPageApple::readOtherRateControl(const QKElemValueList& list)
{
    if (!list.containsElem(QStringLiteral("qp")))
        return false;
    // A quantiser of 0 asks for no loss: the software encoder's lossless mode.
    const int64_t qp = storedNumber(list, QStringLiteral("qp"));
    if (qp == 0)
        setLossless();
    else
        setCRF(qp);
    return true;
}

void KREEncoderPageApple::setEncoderArgs(const QString& args)
{
    readCodecArgs(args);
    const QKElemValueList list(args);
    const bool otherEncoder = list.findValue(QStringLiteral("c:v"), QString()) != videoEncoder();
    const bool otherDevice = usesVaapi() && list.findValue(QStringLiteral("vaapi_device"), QString()) != m_vaapiDevice;
    const bool noPixelFormat = !usesVaapi() && m_codec != QLatin1String("H265") && !isLossless() &&
                               !list.containsElem(QStringLiteral("pix_fmt"));
    if (otherEncoder || otherDevice || noPixelFormat)
        scheduleResend();
}

void KREEncoderPageApple::addControlsAbove(QVBoxLayout* layout)
{
    auto* row = new QHBoxLayout;
    m_logo = new QLabel;
    const QImage logo = QKNamedImages::imageNamed(m_codec);
    if (!logo.isNull())
        m_logo->setPixmap(QPixmap::fromImage(logo.scaled(56, 56, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    const QString codecName = m_codec == QLatin1String("H265") ? QStringLiteral("H.265") : QStringLiteral("H.264");
    m_logo->setToolTip(m_vaapiDevice.isEmpty() ? codecName + QStringLiteral(", encoded in software")
                                               : codecName + QStringLiteral(", encoded through VA-API"));
    m_logo->setAccessibleName(m_logo->toolTip());
    row->addWidget(m_logo, 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    KREEncoderPageCodec::addControlsAbove(column);
    row->addLayout(column, 1);
    layout->addLayout(row);
}
