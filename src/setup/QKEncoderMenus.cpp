#include "setup/QKEncoderMenus.h"

#include <QAction>
#include <QComboBox>

#include <algorithm>

#include "kit/KitMenus.h"

namespace {

void SortByNameFolded(QList<QKEncoderDescRef>& list)
{
    std::stable_sort(list.begin(), list.end(), [](const QKEncoderDescRef& a, const QKEncoderDescRef& b) {
        return QString::compare(a->name(), b->name(), Qt::CaseInsensitive) < 0;
    });
}

} // namespace

QAction* QKEncoderMenus::makeMenuItem(const QKEncoderDesc& encoder, QObject* parent)
{
    auto* action = new QAction(QKEncoderDesc::comboBoxLogoOf(encoder.name()), mnemonicFree(encoder.name()), parent);
    action->setData(QVariant::fromValue(std::const_pointer_cast<QKEncoderDesc>(encoder.weak_from_this().lock())));
    return action;
}

void QKEncoderMenus::setupEncoderPicker(QComboBox* picker, const QSet<QString>& suppress)
{
    if (!picker)
        return;
    QKEncoderDescRef multi;
    QList<QKEncoderDescRef> special;
    QList<QKEncoderDescRef> ordinary;
    for (const QKEncoderDescRef& desc : QKEncoderDesc::listEncoders()) {
        if (suppress.contains(desc->name()))
            continue;
        if (desc->isMultiEncoder())
            multi = desc;
        else if (desc->isSpecialPurpose)
            special.append(desc);
        else
            ordinary.append(desc);
    }
    SortByNameFolded(special);
    SortByNameFolded(ordinary);

    const auto add = [picker](const QKEncoderDescRef& desc) {
        picker->addItem(QKEncoderDesc::comboBoxLogoOf(desc->name()), desc->name(), QVariant::fromValue(desc));
    };
    picker->clear();
    if (multi) {
        add(multi);
        picker->insertSeparator(picker->count());
    }
    for (const QKEncoderDescRef& desc : ordinary)
        add(desc);
    if (!special.isEmpty()) {
        picker->insertSeparator(picker->count());
        for (const QKEncoderDescRef& desc : special)
            add(desc);
    }
}
