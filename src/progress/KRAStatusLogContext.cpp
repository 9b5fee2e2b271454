#include "progress/KRAStatusLogContext.h"

#include "kit/KRAPanel.h"
#include "progress/KRAConversionHost.h"

KRAConversionHost::~KRAConversionHost() = default;

void KRAStatusLogContext::doReconvertFrom(const std::shared_ptr<KRAPanel>& panel) const
{
    const auto conversionHost = std::dynamic_pointer_cast<KRAConversionHost>(host.lock());
    if (!conversionHost)
        return;
    QList<QKConvertSourceRef> sources;
    for (const KRAStatusLogEntryRef& entry : errors) {
        if (entry && entry->source2 && !entry->convertedWithWarnings())
            sources.append(entry->source2);
    }
    if (sources.isEmpty())
        return;
    conversionHost->preConvertFrom(sources, panel);
}
