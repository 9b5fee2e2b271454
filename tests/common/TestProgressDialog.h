#pragma once

#include <memory>
#include <optional>

#include "progress/KRAProgressDialog.h"
#include "progress/KRAStatusLogContext.h"

// A progress dialog for tests: keeps what it would hand to the status log instead of showing
// one, and never asks the system to stay awake.
class TestProgressDialog : public KRAProgressDialog {
public:
    using KRAProgressDialog::KRAProgressDialog;
    std::optional<KRAStatusLogContext> log;

protected:
    std::shared_ptr<KRAPanel> makeStatusLog(const KRAStatusLogContext& context) override
    {
        log = context;
        return nullptr;
    }
    void preventSleep() override {}
};
