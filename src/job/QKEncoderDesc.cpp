#include "job/QKEncoderDesc.h"

#include <algorithm>

#include "job/KRECodecs.h"
#include "platform/XStrQString.h"
#include "xclass/XFileName.h"

QVariant QKEncoderInstance::kBitrateFor(const QString&, const QString&) const
{
    return QVariant();
}

QVariant QKEncoderInstance::kBitrateForArgs(const QString&) const
{
    return QVariant();
}

uint64_t QKEncoderInstance::estimateOutputSizeFor(const QString&, const QString&) const
{
    return 0;
}

QKEncoderDesc::QKEncoderDesc(const XStr& path)
    : haveSettings(true), m_path(XStrToQString(path)), m_name(XStrToQString(XFileName(path).GetFileNameNoExt()))
{
    isSpecialPurpose = isSpecialName(m_name);
}

bool QKEncoderDesc::isSpecialName(const QString& name)
{
    return name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']'));
}

QList<QKEncoderDescRef> QKEncoderDesc::listEncoders()
{
    return KRECodecs::listEncoders();
}

QList<QKEncoderDescRef> QKEncoderDesc::listEncoders_dropSpecial()
{
    QList<QKEncoderDescRef> result;
    for (const QKEncoderDescRef& desc : listEncoders()) {
        if (!desc->isSpecialPurpose)
            result.append(desc);
    }
    return result;
}

QKEncoderDescRef QKEncoderDesc::findEncoder(const QString& name)
{
    for (const QKEncoderDescRef& desc : listEncoders()) {
        if (desc->name() == name)
            return desc;
    }
    return nullptr;
}

std::optional<QString> QKEncoderDesc::formatExtensionOf(const QString& name)
{
    const QKEncoderDescRef desc = findEncoder(name);
    if (!desc)
        return std::nullopt;
    return desc->formatExtension();
}

QKEncoderDescRef QKEncoderDesc::makeVideoCodec(const QString& name, const QString& ext, bool configurable)
{
    auto desc = std::make_shared<QKEncoderDesc>();
    desc->m_name = name;
    desc->m_formatExtension = ext;
    desc->outputsFiles = true;
    desc->haveSettings = configurable;
    return desc;
}

QKEncoderDescRef QKEncoderDesc::makeMultiEncoder()
{
    auto desc = std::make_shared<QKEncoderDesc>();
    desc->m_name = strMultiEncoder();
    desc->outputsFiles = false;
    desc->isSpecialPurpose = true;
    desc->disableConvertToFolder = true;
    desc->disableSameFolder = true;
    desc->haveSettings = false;
    return desc;
}

std::unique_ptr<QKEncoderInstance> QKEncoderDesc::instantiate() const
{
    return std::make_unique<QKEncoderInstance>();
}

QString QKEncoderDesc::nameOfEnc(const QVariant& encoderOrName)
{
    if (encoderOrName.metaType() == QMetaType::fromType<QKEncoderDescRef>()) {
        const QKEncoderDescRef desc = encoderOrName.value<QKEncoderDescRef>();
        return desc ? desc->name() : QString();
    }
    return encoderOrName.toString();
}

void QKEncoderDesc::sortEncoderNames(QVariantList& encodersOrNames)
{
    std::stable_sort(encodersOrNames.begin(), encodersOrNames.end(), [](const QVariant& a, const QVariant& b) {
        return QString::compare(nameOfEnc(a), nameOfEnc(b), Qt::CaseInsensitive) < 0;
    });
}

namespace {

QKEncoderDesc::LogoProvider& Provider()
{
    static QKEncoderDesc::LogoProvider provider;
    return provider;
}

} // namespace

void QKEncoderDesc::setComboBoxLogoProvider(LogoProvider provider)
{
    Provider() = std::move(provider);
}

QIcon QKEncoderDesc::comboBoxLogoOf(const QString& encoderName)
{
    return Provider() ? Provider()(encoderName) : QIcon();
}
