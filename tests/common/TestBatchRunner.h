#pragma once

#include <memory>

#include "engine/KRABatchRunner.h"

// A batch runner for tests: counts what it tells its listener, never asks the system to stay
// awake, and answers the request after the batch with what the test sets.
class TestBatchRunner : public KRABatchRunner, public KRABatchRunnerListener {
public:
    explicit TestBatchRunner(std::shared_ptr<QKConversionSpec> spec) : KRABatchRunner(std::move(spec))
    {
        setListener(this);
    }
    void batchRunnerChanged() override { ++changes; }
    void batchRunnerAllDone() override { ++allDoneCalls; }

    int changes = 0;
    int allDoneCalls = 0;
    QList<int> powerRequests;
    KRAPowerAction::Result powerAnswer{true, QString()};

protected:
    KRAPowerAction::Result requestPowerAction(int action) override
    {
        powerRequests.append(action);
        return powerAnswer;
    }
    void preventSleep() override {}
};
