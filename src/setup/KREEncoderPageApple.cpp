#include "setup/KREEncoderPageApple.h"

#include <QTimer>

#include "job/QKElemValueList.h"

KREEncoderPageApple::KREEncoderPageApple(KRAEncoderPageHost* host, const QString& format, const QString& codec,
                                         QObject* parent)
    : KREEncoderPageCodec(host, format, {ModeABR, ModeCBR, ModeCRF, ModeLossless}, parent), m_codec(codec)
{
}

QString KREEncoderPageApple::encoderArgs() const
{
    QKElemValueList list(m_codec == QLatin1String("H265") ? QStringLiteral("-c:v libx265")
                                                          : QStringLiteral("-c:v libx264"));
    list.addElemsFromString(commonArgs());
    list.addElemsFromString(audioSwitch());
    return list.mergeToString_alternate();
}

void KREEncoderPageApple::setEncoderArgs(const QString& args)
{
    readCodecArgs(args);
    if (args.contains(QLatin1String("videotoolbox")) || args.contains(QLatin1String("allow_sw")))
        QTimer::singleShot(0, this, [this] { onChanged(); });
}
