#include "engine/KRAProgressRate.h"

void KRAProgressRate::sample(uint64_t workingMS, double value)
{
    if (!m_samples.empty() && workingMS <= m_samples.back().ms) {
        m_samples.back().value = value;
        return;
    }
    m_samples.push_back({workingMS, value});
    // Keep one sample at or before the window's start, so the span covers the whole window.
    while (m_samples.size() > 2 && workingMS - m_samples[1].ms >= m_windowMS)
        m_samples.pop_front();
}

std::optional<double> KRAProgressRate::ratePerMS() const
{
    if (m_samples.size() < 2)
        return std::nullopt;
    const Sample& first = m_samples.front();
    const Sample& last = m_samples.back();
    const uint64_t span = last.ms - first.ms;
    if (span < m_minimumSpanMS || span == 0)
        return std::nullopt;
    const double rate = (last.value - first.value) / static_cast<double>(span);
    return rate > 0 ? rate : 0.0;
}
