#include "media/QKExternalFFmpeg.h"

#include <memory>
#include <mutex>

namespace {

std::mutex& ProbeLock()
{
    static std::mutex lock;
    return lock;
}

std::shared_ptr<const QKExternalFFmpeg::Probe>& CurrentProbe()
{
    static std::shared_ptr<const QKExternalFFmpeg::Probe> probe;
    return probe;
}

} // namespace

void QKExternalFFmpeg::setProbe(Probe probe)
{
    auto next = probe ? std::make_shared<const Probe>(std::move(probe)) : nullptr;
    std::lock_guard<std::mutex> lock(ProbeLock());
    CurrentProbe() = std::move(next);
}

bool QKExternalFFmpeg::haveExternalFFmpeg()
{
    std::shared_ptr<const Probe> probe;
    {
        std::lock_guard<std::mutex> lock(ProbeLock());
        probe = CurrentProbe();
    }
    // Called outside the lock: a probe may take its time (it may run ffmpeg once).
    return probe && (*probe)();
}
