// The effect catalogue: the common effects and the 17 named effects of this converter, and
// the rule that decides whether an effect may join a chain.
#pragma once

#include <QList>
#include <QSet>
#include <QStringList>

#include "job/QKDSPDesc.h"

class KREDSPs {
public:
    // The 17 named effects in their fixed order.
    static QStringList namedEffects();
    // The common effects and the named ones (never hidden), sorted by name in code-unit order.
    static QList<QKDSPDescRef> list();
    static QKDSPDescRef makeVideoDSP(const QString& name) { return QKDSPDesc::makeVideoDSP(name); }
    // "Cut" and "Trim" exclude each other and occur once; "Loop", "Audio Mute" and "Reverse"
    // occur once; everything else any number of times.
    static bool canAddDSP(const QString& name, const QSet<QString>& chain);
    static bool canAddDSP(const QString& name, const QStringList& chain);
};
