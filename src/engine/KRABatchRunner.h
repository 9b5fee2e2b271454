// The batch runner: converts a job's entries on N encoder slots, each converting one file at a
// time on a thread of its own, without a window. It keeps the slots, pause and cancel, the
// totals and the time left, the guard that keeps two entries from writing one file, each
// file's info and error lines, and makes the request after the batch (shut down, sleep, log
// out, restart). A listener (the progress dialog, or a tool) is told when what it shows has
// changed and when the batch is over; it reads the rest from the runner.
//
// All of its state is touched on the thread of the application object (QCoreApplication is
// enough). The conversion threads reach it only through posted calls that hold the shared run
// state: once the runner is gone they find it gone and do nothing. Destroying the runner stops
// the running conversions and waits for their threads.
#pragma once

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "engine/KRABatch.h"
#include "engine/KRAOutputGuard.h"
#include "engine/KRAPowerAction.h"
#include "engine/KRAPreventSleep.h"
#include "engine/KRAProcessArg.h"
#include "engine/KRAProgressRate.h"
#include "engine/KRAStatusLog.h"

// One encoder slot.
struct KRACPU {
    static constexpr uint64_t kIdle = 0xFFFFFFFF;
    uint64_t indexOfThisCPU = 0;
    uint64_t currentTaskIndex = kIdle;
    uint64_t percentDone = 0;
    uint64_t lengthMS = 0;
    QString status;
    double fps = 0;

    bool isBusy() const { return currentTaskIndex != kIdle; }
    QString indexOfThisCPUString() const { return QStringLiteral("Encoder %1").arg(indexOfThisCPU + 1); }
};

class KRABatchRunner;
struct KRABatchLookAhead;

// What the runner shares with its conversion threads.
struct KRABatchRunnerShared {
    QPointer<KRABatchRunner> runner; // main thread only
    KRAProcessEventsRef events = std::make_shared<KRAProcessEvents>();
};

// Receives a run's reports on any thread and posts them to the runner, tagged with the file.
class KRAStatusCallbackImpl : public KRAStatusCallback {
public:
    KRAStatusCallbackImpl(std::shared_ptr<KRABatchRunnerShared> shared, uint64_t index)
        : m_shared(std::move(shared)), m_index(index)
    {
    }
    void onLengthMS(uint64_t lengthMS) override;
    void onPercentDone(int percent) override;
    void onFPS(double fps) override;
    void onInfoLine(const QString& line) override;
    void onErrorLine(const QString& line) override;
    void onWarningLine(const QString& line) override;
    void onOutcome(KRAConversionOutcome how) override;
    void onAction(const QString&) override {}

private:
    template <typename Call>
    void post(Call call);

    std::shared_ptr<KRABatchRunnerShared> m_shared;
    uint64_t m_index;
};

// What the runner tells the one who shows it, on the main thread.
class KRABatchRunnerListener {
public:
    virtual ~KRABatchRunnerListener();
    // The texts and slots to show changed: at most ten times a second while files report, and
    // at once when the batch starts finalizing and when it is done.
    virtual void batchRunnerChanged() {}
    // Every file is done (or there was none) and the request after the batch was made. Not
    // called for a batch that was cancelled.
    virtual void batchRunnerAllDone() {}
};

class KRABatchRunner : public QObject {
    Q_OBJECT
public:
    enum AfterConversion { AfterNothing = 0, AfterShutDown = 1, AfterSleep = 2, AfterLogOut = 3, AfterRestart = 4 };

    explicit KRABatchRunner(std::shared_ptr<QKConversionSpec> spec, KRABatchRunnerListener* listener = nullptr);
    ~KRABatchRunner() override;

    void setListener(KRABatchRunnerListener* listener) { m_listener = listener; }

    // "1 minute 1 second", "2 minutes", "59 seconds", "0 seconds".
    static QString formatTimeSeconds(uint64_t seconds);
    static QString formatTimeMS(uint64_t milliseconds) { return formatTimeSeconds(milliseconds / 1000); }

    // Starts the batch once; later calls do nothing.
    void start();
    bool started() const { return m_started; }

    // Status entry points, main thread.
    void onStatusAction(const QString& text, uint64_t index);
    void onStatusPercentDone(int percent, uint64_t index);
    void onLengthMS(uint64_t lengthMS, uint64_t index);
    void onFPS(uint64_t index, double fps);
    void onStatusInfoLine(const QString& line, uint64_t index);
    void onStatusErrorLine(const QString& line, uint64_t index);
    void onStatusWarningLine(const QString& line, uint64_t index);
    void onStatusOutcome(KRAConversionOutcome how, uint64_t index);

    // Actions.
    // Stops the running children and holds back every file not started. The batch never
    // reaches its end afterwards: the listener is not told it is done.
    void cancel();
    // Holds the running children and every file not started; again: they go on.
    void togglePause();
    // Slots from 1 to their number; a larger count starts more files at once, a smaller one
    // lets the running ones finish. False when the count is out of range.
    bool setNumCPUs(uint64_t count);
    void setOptAfterConversion(int action) { m_optAfterConversion = action; }

    // Queries.
    const std::shared_ptr<QKConversionSpec>& spec() const { return m_spec; }
    uint64_t numFiles() const { return static_cast<uint64_t>(m_spec->entries.size()); }
    // Null when the index is out of range.
    QKConversionEntryRef entryAtIndex(uint64_t index) const
    {
        return index < numFiles() ? m_spec->entries.at(qsizetype(index)) : QKConversionEntryRef();
    }
    uint64_t optNumCPUs() const { return m_optNumCPUs; }
    const std::vector<KRACPU>& cpus() const { return m_cpus; }
    bool singleCPU() const { return m_cpus.size() == 1; }
    const KRACPU* CPUByTask(uint64_t index) const;
    uint64_t numWorkingCores() const;
    double getRatioDone() const;
    int getPercentDone() const;
    uint64_t getLengthDone() const;
    double fps() const;
    uint64_t timeElapsedMS() const;
    // The time the batch has been running, less the time it was paused.
    uint64_t workingMS() const;
    bool allDone() const { return m_allDone; }
    bool finalizing() const { return m_finalizing; }
    bool paused() const { return m_userPause; }
    bool cancelled() const { return m_shared->events->bEvtQuit(); }
    int optAfterConversion() const { return m_optAfterConversion; }
    // The request after the batch was made and taken, and it ends the session (all but sleep):
    // there is nobody left to show the outcome to.
    bool afterConversionEndsSession() const { return m_afterConversionTaken && m_optAfterConversion != AfterSleep; }
    const QMap<uint64_t, KRAStatusLogEntryRef>& logErrors() const { return m_logErrors; }
    const QMap<uint64_t, KRAStatusLogEntryRef>& logInfos() const { return m_logInfos; }
    const KRAProcessEventsRef& events() const { return m_shared->events; }

    // The texts to show now.
    QString titleText() const;
    QString mainLabelText() const;
    QString elapsedText() const;
    QString leftText() const;
    QString speedText() const;

    // A file's conversion ended (posted by its thread).
    void conversionCompleteOn(uint64_t slot, uint64_t index);

protected:
    // After-conversion requests; tests replace them.
    virtual KRAPowerAction::Result requestPowerAction(int action) { return KRAPowerAction::request(action); }
    virtual void preventSleep();
    // Runs a file's conversion on the slot's own thread; a picture of the dialog runs nothing.
    virtual void startThread(uint64_t slot, std::function<void()> work);

private:
    void assignIdleCores();
    void beginConversionFor(KRACPU& cpu);
    void finalizeBatch();
    void onAllDone();
    KRACPU* cpuByTask(uint64_t index);
    KRAStatusLogEntryRef logEntry(QMap<uint64_t, KRAStatusLogEntryRef>& log, uint64_t index);
    void updateLabels();
    void refreshLabels();
    void stopThreads();
    // What the runs will ask ffprobe is read on a small pool a little ahead of the slots, while
    // earlier files encode, so that no run waits for a probe of its own.
    void startLookAhead();

    std::shared_ptr<QKConversionSpec> m_spec;
    KRABatchRunnerListener* m_listener = nullptr;
    KRABatch m_batch;
    std::shared_ptr<KRABatchRunnerShared> m_shared;
    std::vector<KRACPU> m_cpus;
    std::vector<std::thread> m_threads; // one per slot, the file it converts now
    std::shared_ptr<KRABatchLookAhead> m_lookAhead;
    std::vector<std::thread> m_lookAheadThreads;
    std::unique_ptr<KRAPreventSleep> m_preventSleep;

    uint64_t m_optNumCPUs = 0;
    int m_optAfterConversion = AfterNothing;
    bool m_afterConversionTaken = false;
    uint64_t m_numAssigned = 0;
    uint64_t m_numDone = 0;
    uint64_t m_sizeTotal = 0;
    uint64_t m_sizeFilesDone = 0;
    uint64_t m_lengthFilesDone = 0;
    uint64_t m_timeBegin = 0;
    uint64_t m_timeEnd = 0;
    uint64_t m_pausedMS = 0;
    uint64_t m_pauseBegan = 0;
    // The share done and the media length converted, per working millisecond.
    KRAProgressRate m_ratioRate;
    KRAProgressRate m_lengthRate;
    bool m_started = false;
    bool m_allDone = false;
    bool m_finalizing = false;
    bool m_userPause = false;
    QMap<uint64_t, KRAStatusLogEntryRef> m_logInfos;
    QMap<uint64_t, KRAStatusLogEntryRef> m_logErrors;
    // Which files the batch writes and reads: no file is written over another's output or a
    // source.
    std::shared_ptr<KRAOutputGuard> m_outputGuard = std::make_shared<KRAOutputGuard>();

    QTimer m_labelTimer;
};
