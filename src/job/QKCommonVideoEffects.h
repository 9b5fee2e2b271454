// The 18 effects every video converter of the family shares, and which of them need a full
// (GPL) ffmpeg build.
#pragma once

#include <QList>
#include <QStringList>

#include "job/QKDSPDesc.h"

class QKCommonVideoEffects {
public:
    static QStringList listNames();
    static QStringList listNamesGPL();
    static bool isGPL(const QString& name);
    // One description per common name in list order; with haveGPL every one is offered, else
    // the GPL ones are hidden.
    static QList<QKDSPDescRef> listHaveGPL(bool haveGPL);
    // listHaveGPL with whether an external ffmpeg is in use.
    static QList<QKDSPDescRef> list();
};
