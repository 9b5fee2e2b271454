// What the progress dialog and the status log ask of the window that runs a conversion (the
// converter window host of the application shell). That host is also the panels' window host:
// a panel finds this side of it with std::dynamic_pointer_cast on the host it is shown in.
#pragma once

#include <QList>

#include <memory>

#include "engine/QKConvertSource.h"

class KRAPanel;

class KRAConversionHost {
public:
    virtual ~KRAConversionHost();

    // The batch is over for the user (finished and seen, cancelled, or the log left): the host
    // goes back to where the conversion was started.
    virtual void conversionAllDone() = 0;
    // Opens the converter setup for these sources; its Back returns to the invoker.
    virtual void preConvertFrom(const QList<QKConvertSourceRef>& sources, const std::shared_ptr<KRAPanel>& invoker) = 0;
};
