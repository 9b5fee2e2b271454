// One effect of the catalogue. The display name is the effect's identity in every stored
// chain; hidden effects are not offered for adding but still open when a chain names them.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

#include "job/QKDSPSpec.h"
#include "xclass/XStr.h"

class QKDSPDesc;
using QKDSPDescRef = std::shared_ptr<QKDSPDesc>;

class QKDSPDesc {
public:
    bool hidden = false;
    bool isAudioCD = false;
    QString path;
    QString name;

    QKDSPDesc() = default;
    // name = the file name without extension; hidden when it begins with "_"; an audio-CD
    // effect when it begins with "Audio CD " or "CD ".
    explicit QKDSPDesc(const XStr& path);

    // The effect catalogue (KREDSPs::list).
    static QList<QKDSPDescRef> listDSPs();
    // hidden = !enabled.
    static QKDSPDescRef makeVideoDSP(const QString& name, bool enabled = true);

    bool allowedOutsideTracklift() const;
    bool allowedInTracklift() const;

    // Effects that act once per conversion and may stand in a chain only once.
    static QString strPreserveSourceAttributes() { return QStringLiteral("Preserve Source Attributes"); }
    static QString strDeleteSourceFile() { return QStringLiteral("Delete Source File"); }
    static QString strMultiCPUForce() { return QStringLiteral("Multi-CPU Force"); }
    static QString strPlaySoundAfterConversion() { return QStringLiteral("Play Sound After Conversion"); }
    static bool isSpecialEffect(const QString& name);

    // Whether the effect may be added to the chain: an empty chain takes anything; a special
    // effect already in the chain is refused; the rest is the catalogue's rule.
    static bool canAddDSP(const QKDSPDesc& desc, const QKDSPChain& chain);
};
