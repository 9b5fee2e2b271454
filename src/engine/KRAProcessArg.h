// What one ffmpeg run is given: the source, the destination, the batch's argument string,
// where to report, the batch-wide quit and pause flags, and the actions to carry out when
// the file is done.
#pragma once

#include <QMap>
#include <QString>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>

#include "engine/QKConvertSource.h"
#include "job/QKDSPSpec.h"
#include "job/QKEncoderDesc.h"
#include "media/QKTag.h"

// Receives what a run reports. Calls come from the conversion thread and from the run's
// reader threads, so an implementation must be thread-safe.
class KRAOutputGuard;

// How one conversion ended.
enum class KRAConversionOutcome {
    Converted,
    // The output was kept although reading the input had errors (a damaged frame): it was
    // checked to be whole, and the errors are kept as warnings.
    ConvertedWithWarnings,
    Failed,
    Stopped, // quit was requested
};

class KRAStatusCallback {
public:
    virtual ~KRAStatusCallback() = default;
    virtual void onLengthMS(uint64_t lengthMS) = 0;
    virtual void onPercentDone(int percent) = 0;
    virtual void onFPS(double fps) = 0;
    virtual void onInfoLine(const QString& line) = 0;
    virtual void onErrorLine(const QString& line) = 0;
    virtual void onAction(const QString& action) = 0;
    // A line about a conversion whose output was kept: what went wrong reading the input.
    virtual void onWarningLine(const QString& line) { onInfoLine(line); }
    // Once, when the run is over, before the actions after the conversion.
    virtual void onOutcome(KRAConversionOutcome) {}
};

// The quit and pause flags of a batch: written by the progress dialog on the main thread,
// read by every running conversion, hence atomic.
class KRAProcessEvents {
public:
    bool bEvtQuit() const { return m_quit.load(std::memory_order_acquire); }
    void setBEvtQuit(bool on) { m_quit.store(on, std::memory_order_release); }
    // The "may run" flag: set while the batch is not held. A new batch is not held, so it is
    // set from the start: a runner that honours pausing must not find every batch paused.
    bool bEvtPause() const { return m_mayRun.load(std::memory_order_acquire); }
    void setBEvtPause(bool on) { m_mayRun.store(on, std::memory_order_release); }
    bool bPause() const { return !bEvtPause(); }
    void setBPause(bool paused) { setBEvtPause(!paused); }
    // Waits while the batch is held, until it is let go or quit: a file handed out just before
    // a pause does not start until the pause ends.
    void waitWhilePaused() const
    {
        while (bPause() && !bEvtQuit())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

private:
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_mayRun{true};
};

using KRAProcessEventsRef = std::shared_ptr<KRAProcessEvents>;

// Effect name -> the configured effect, for the actions after a conversion.
using KRASpecialActions = QMap<QString, QKDSPSpec>;

// Filled completely by its creator before the run starts; the run and its reader threads
// only read it from then on.
class KRAProcessArg {
public:
    QKConvertSourceRef srcFrom; // a QKConvertSourceConcat stands for several files to join
    QUrl urlTo;
    std::optional<QString> inputArgs;            // ffmpeg options placed before the inputs
    QString args;                                // the batch's argument string
    std::shared_ptr<KRAStatusCallback> callback; // may be null: nothing is reported
    KRAProcessEventsRef events;
    QKTagRef tagToWrite; // no action reads it
    KRASpecialActions specialActions2;
    QKEncoderDescRef encoder;
    // The batch's guard over its outputs and sources, and this file's number in it; none for
    // a run of its own.
    std::shared_ptr<KRAOutputGuard> outputGuard;
    uint64_t guardIndex = 0;
};

using KRAProcessArgRef = std::shared_ptr<KRAProcessArg>;
