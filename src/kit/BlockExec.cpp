#include "BlockExec.h"

#include "XBlockRunner.h"

#include <QTimer>

#include <climits>
#include <cmath>

KitBlock _kwBlockExec::block() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_block;
}

void _kwBlockExec::setBlock(KitBlock block)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_block = std::move(block);
}

void _kwBlockExec::exec(const void*)
{
    const KitBlock run = block(); // a copy: the block may replace itself while running
    if (run)
        run();
}

namespace {
std::shared_ptr<_kwBlockExec> Wrap(KitBlock block)
{
    auto exec = std::make_shared<_kwBlockExec>();
    exec->setBlock(std::move(block));
    return exec;
}

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
    auto exec = Wrap(std::move(block));
    execBlockOnMainThread([exec] { exec->exec(); });
}

bool performBlockInBackground(KitBlock block)
{
    auto exec = Wrap(std::move(block));
    return execBlockInBackground([exec] { exec->exec(); });
}

void performBlock(KitBlock block, double delaySeconds)
{
    auto exec = Wrap(std::move(block));
    QTimer::singleShot(DelayToMs(delaySeconds), Qt::PreciseTimer, [exec] { exec->exec(); });
}

void performAfterDelay(double delaySeconds, KitBlock block)
{
    performBlock(std::move(block), delaySeconds);
}
