#include "job/QKDSPDesc.h"

#include <QSet>

#include "job/KREDSPs.h"
#include "platform/XStrQString.h"
#include "xclass/XFileName.h"

QKDSPDesc::QKDSPDesc(const XStr& filePath)
    : path(XStrToQString(filePath)), name(XStrToQString(XFileName(filePath).GetFileNameNoExt()))
{
    hidden = name.startsWith(QLatin1Char('_'));
    isAudioCD = name.startsWith(QLatin1String("Audio CD ")) || name.startsWith(QLatin1String("CD "));
}

QList<QKDSPDescRef> QKDSPDesc::listDSPs()
{
    return KREDSPs::list();
}

QKDSPDescRef QKDSPDesc::makeVideoDSP(const QString& name, bool enabled)
{
    auto desc = std::make_shared<QKDSPDesc>();
    desc->name = name;
    desc->hidden = !enabled;
    return desc;
}

bool QKDSPDesc::allowedOutsideTracklift() const
{
    return name != QLatin1String("Audio CD - Remove Gaps");
}

bool QKDSPDesc::allowedInTracklift() const
{
    return name != QLatin1String("Conditional Encoding");
}

bool QKDSPDesc::isSpecialEffect(const QString& name)
{
    return name == strPreserveSourceAttributes() || name == strDeleteSourceFile() || name == strMultiCPUForce() ||
           name == strPlaySoundAfterConversion();
}

bool QKDSPDesc::canAddDSP(const QKDSPDesc& desc, const QKDSPChain& chain)
{
    if (chain.isEmpty())
        return true;
    QSet<QString> names;
    for (const QKDSPSpec& spec : chain)
        names.insert(spec.name);
    if (isSpecialEffect(desc.name) && names.contains(desc.name))
        return false;
    return KREDSPs::canAddDSP(desc.name, names);
}
