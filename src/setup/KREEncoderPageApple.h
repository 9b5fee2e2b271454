// The page of the four "Apple" encoders ("MP4 (Apple H264)", "Matroska (Apple H265)", ...).
// Their hardware encoders exist only on the system the program came from: profiles name them,
// so the names and the page stay, and the page writes the software encoder of the same codec
// (libx264, libx265) with the same rate control. A stored text that names the old encoders is
// read back (rate control and audio) and written again in this form.
#pragma once

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

private:
    QString m_codec;
};
