#include "job/QKDSPSpec.h"

std::optional<QKDSPSpec> QKDSPSpec::initWithData(const QVariant& data)
{
    if (data.typeId() != QMetaType::QVariantList && data.typeId() != QMetaType::QStringList)
        return std::nullopt;
    const QVariantList items = data.toList();
    if (items.size() != 2)
        return std::nullopt;
    return QKDSPSpec(items[0].toString(), items[1].toString());
}
