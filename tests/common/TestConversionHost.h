// A window host for tests and tools that is also the conversion host: it keeps the panel it
// is asked to show and records what the panels ask of it.
#pragma once

#include <memory>

#include "common/TestPanelHost.h"
#include "progress/KRAConversionHost.h"

class TestConversionHost : public TestPanelHost, public KRAConversionHost {
public:
    void conversionAllDone() override { ++allDone; }
    void preConvertFrom(const QList<QKConvertSourceRef>& sources, const std::shared_ptr<KRAPanel>& invoker) override
    {
        reconverted = sources;
        reconvertInvoker = invoker;
    }

    int allDone = 0;
    QList<QKConvertSourceRef> reconverted;
    std::shared_ptr<KRAPanel> reconvertInvoker;
};
