// Cancellation of background loads.
//
// The owner of a load keeps a KillSwitchHolder and gives the background work the holder's
// killSwitch() (never the holder). The work tests die() between its steps and delivers its
// result to the main thread together with the same switch, which identifies the load: the
// owner accepts the result only when that switch is its current holder's (see isCurrent).
// Starting a new load replaces the holder; the old holder's destruction raises the old switch,
// so the old load stops at its next test and its late result is recognised as stale.
#pragma once

#include <atomic>
#include <memory>

class KillSwitch {
public:
    // Read by background threads without a lock; nothing else is published through the flag.
    bool die() const { return m_die.load(std::memory_order_relaxed); }
    void setDie(bool die) { m_die.store(die, std::memory_order_relaxed); }

private:
    std::atomic<bool> m_die{false};
};

using KillSwitchRef = std::shared_ptr<KillSwitch>;

class KillSwitchHolder {
public:
    KillSwitchHolder();
    // Raises the switch, even while background work still holds it.
    ~KillSwitchHolder();
    KillSwitchHolder(const KillSwitchHolder&) = delete;
    KillSwitchHolder& operator=(const KillSwitchHolder&) = delete;

    // Never replaced during the holder's life; may be read from any thread.
    const KillSwitchRef& killSwitch() const { return m_killSwitch; }

    // Whether a result delivered with this cookie belongs to the holder's load.
    bool isCurrent(const KillSwitchRef& cookie) const { return cookie && cookie == m_killSwitch; }

private:
    const KillSwitchRef m_killSwitch;
};
