// The effects' small logos, shown beside each effect in the add menu and the chain. The
// pictures are the program's images "dsp-logo-NAME"; an effect without one shows the generic
// logo. Lookups are cached for the life of the process, misses included.
#pragma once

#include <QImage>
#include <QString>

class QKDSPLogos {
public:
    // The effect's logo, else the generic one, else a null image.
    static QImage get(const QString& name);
    // The image "dsp-logo-NAME" sized 16 by 16; a null image when there is none.
    static QImage grab(const QString& name);
    static QImage generic() { return get(QStringLiteral("Generic")); }
};
