#include "kit/BlockExec.h"

#include "xclass/XBlockRunner.h"

#include <QTimer>

#include <climits>
#include <cmath>

namespace {
int DelayToMs(double seconds)
{
    if (!(seconds > 0)) // negative, zero and NaN
        return 0;
    const double ms = std::ceil(seconds * 1000.0);
    return ms >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
}
} // namespace

void performBlockOnMainThread(KitBlock block)
{
    execBlockOnMainThread(std::move(block));
}

bool performBlockInBackground(KitBlock block)
{
    return execBlockInBackground(std::move(block));
}

void performBlock(KitBlock block, double delaySeconds)
{
    auto exec = std::make_shared<_kwBlockExec>(std::move(block));
    QTimer::singleShot(DelayToMs(delaySeconds), Qt::PreciseTimer, [exec] { exec->exec(); });
}

void performAfterDelay(double delaySeconds, KitBlock block)
{
    performBlock(std::move(block), delaySeconds);
}
