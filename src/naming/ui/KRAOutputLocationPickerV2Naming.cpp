#include "naming/ui/KRAOutputLocationPickerV2.h"

#include "kit/SheetFallback.h"
#include "naming/KRAFileNaming.h"
#include "naming/ui/KRADynamicNamingDialogV2.h"

// The "Edit Dynamic Naming" command: the naming dialog, on the template and base folder
// being edited.

void KRAOutputLocationPickerV2::editDynamicNaming()
{
    if (m_namingDialog || !m_fileNaming)
        return;
    auto* dialog = new KRADynamicNamingDialogV2(m_context, true, sheetParent());
    dialog->setCurPattern(m_fileNaming->dynamicFormat());
    if (const KRALocationDescriptorRef destination = m_fileNaming->destination()) {
        destination->resolve();
        dialog->setBaseLocationURL(destination->url());
        dialog->setBaseLocation(destination->url().toLocalFile());
    }
    m_namingDialog = dialog;
    QPointer<KRAOutputLocationPickerV2> self(this);
    QPointer<KRADynamicNamingDialogV2> guard(dialog);
    const bool shown = SheetFallback::beginSheet(dialog, sheetParent(), [self, guard](int64_t code) {
        if (self)
            self->m_namingDialog = nullptr;
        if (self && guard)
            self->namingDialogEnded(guard, code);
        if (guard)
            guard->deleteLater();
    });
    if (!shown) {
        delete dialog;
        reselectCurrent();
    }
}

void KRAOutputLocationPickerV2::namingDialogEnded(KRADynamicNamingDialogV2* dialog, int64_t code)
{
    if (!dialog || code != 1 || !m_fileNaming) {
        reselectCurrent();
        return;
    }
    m_fileNaming->setFileNamingType(FileNamingDynamic);
    m_fileNaming->setDynamicFormat(dialog->curPattern());
    dialog->fixBaseLocationURL();
    m_fileNaming->setDestination(KRALocationDescriptor::withURL(dialog->baseLocationURL()));
    onChanged();
    updateCombo();
}

KRADynamicNamingDialogV2* KRAOutputLocationPickerV2::namingDialog() const
{
    return m_namingDialog;
}
