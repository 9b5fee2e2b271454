// The rate at which a count grows (the share of a batch done, the media length converted),
// measured over the last stretch of working time rather than since the start: the first
// seconds of a batch (ffmpeg starting, probing, filling its buffers) say little about the
// rest, and a rate over a sliding window follows the batch without jumping at each report.
// Times are working time: the caller leaves paused time out.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

class KRAProgressRate {
public:
    // window: how much working time the rate looks back over; minimumSpan: how much working
    // time it needs before it says anything.
    explicit KRAProgressRate(uint64_t windowMS = 20000, uint64_t minimumSpanMS = 5000)
        : m_windowMS(windowMS), m_minimumSpanMS(minimumSpanMS)
    {
    }

    // The count at a moment of working time; moments that do not move forward are ignored.
    void sample(uint64_t workingMS, double value);
    // Units per millisecond over the window, once there is enough to say; never negative.
    std::optional<double> ratePerMS() const;
    void clear() { m_samples.clear(); }

private:
    struct Sample {
        uint64_t ms;
        double value;
    };
    uint64_t m_windowMS;
    uint64_t m_minimumSpanMS;
    std::deque<Sample> m_samples;
};
