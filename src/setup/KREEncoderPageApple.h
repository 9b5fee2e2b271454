// The page of the four "Apple" encoders ("MP4 (Apple H264)", "Matroska (Apple H265)", ...).
// Their hardware encoders (VideoToolbox) exist only on the system the program came from.
// Profiles name them, so the names and the page stay, and on Linux the page writes the
// hardware encoder of the same codec through VA-API (h264_vaapi, hevc_vaapi) where the ffmpeg
// in use lists it and a render node opens, else the software encoder (libx264, libx265), with
// the same rate control either way. A stored text written for another encoder (VideoToolbox,
// or VA-API on a machine that has none) is read back (rate control and audio) and the host is
// given it again in the form this machine runs.
#pragma once

#include <QLabel>
#include <QPointer>

#include "setup/KREEncoderPageCodec.h"

class KREEncoderPageApple : public KREEncoderPageCodec {
    Q_OBJECT
public:
    // codec: "H264" or "H265".
    KREEncoderPageApple(KRAEncoderPageHost* host, const QString& format, const QString& codec,
                        QObject* parent = nullptr);

    const QString& codec() const { return m_codec; }
    QString encoderArgs() const override;
    void setEncoderArgs(const QString& args) override;
    void fillDefaultArgs() override { setDefABR(); }

    // The video encoder the page writes now: the VA-API one only in the modes it can encode
    // (constant quality, constant and average bit rate); lossless and qscale stay in software.
    QString videoEncoder() const;
    // The render node the VA-API encoder runs on; empty when the page writes software only.
    const QString& vaapiDevice() const { return m_vaapiDevice; }

    // The first render node of the folder ("renderD*") that opens for reading and writing,
    // when the ffmpeg in use lists the encoder; else empty.
    static QString findVaapiDevice(const QString& vaapiEncoder);
    // The folder of the render nodes (/dev/dri); tests point it elsewhere. Empty: the default.
    static void setRenderNodeFolder(const QString& folder);

    // The software encoders take a fraction; VA-API's quantiser is a whole number.
    bool acceptsFractionalCRF() const override { return m_vaapiDevice.isEmpty(); }

protected:
    void addControlsAbove(QVBoxLayout* layout) override;
    bool readOtherRateControl(const QKElemValueList& list) override;
    QString cbrItem(const QString& rate) const override { return x26xCBRItem(m_codec != QLatin1String("H265"), rate); }
    QString losslessItem() const override { return x26xLosslessItem(m_codec != QLatin1String("H265")); }
    bool writesCommonRateItem() const override { return !usesVaapi(); }

private:
    bool usesVaapi() const;

    QString m_codec;
    QString m_vaapiDevice;
    QPointer<QLabel> m_logo;
};
