// The progress dialog: the panel that runs a batch. It converts the job's entries on N
// encoder slots, each converting one file at a time on a thread of its own, shows per-slot and
// total progress, speed, elapsed and remaining time, collects each file's info and error lines
// for the status log, and at the end offers the log, goes back, or shuts down, sleeps, logs out
// or restarts the computer.
//
// All of its state is touched on the main thread. The conversion threads reach it only through
// posted calls that hold the shared run state: once the dialog is gone they find it gone and do
// nothing. Closing the dialog stops the running conversions and waits for their threads.
#pragma once

#include <QLabel>
#include <QMap>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <QTreeWidget>

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
#include "kit/KRAPanel.h"
#include "kit/QKWindowCancellable.h"

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

class KRAProgressDialog;

// What the dialog shares with its conversion threads.
struct KRAProgressShared {
    QPointer<KRAProgressDialog> dialog; // main thread only
    KRAProcessEventsRef events = std::make_shared<KRAProcessEvents>();
};

// Receives a run's reports on any thread and posts them to the dialog, tagged with the file.
class KRAStatusCallbackImpl : public KRAStatusCallback {
public:
    KRAStatusCallbackImpl(std::shared_ptr<KRAProgressShared> shared, uint64_t index)
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

    std::shared_ptr<KRAProgressShared> m_shared;
    uint64_t m_index;
};

class KRAProgressDialog : public QKPanelViewController, public QKCancelOperation {
    Q_OBJECT
public:
    enum AfterConversion { AfterNothing = 0, AfterShutDown = 1, AfterSleep = 2, AfterLogOut = 3, AfterRestart = 4 };

    KRAProgressDialog(std::shared_ptr<QKConversionSpec> spec, std::weak_ptr<KRAPanelHostInterface> host);
    ~KRAProgressDialog() override;

    // A new dialog made the host's current panel.
    static std::shared_ptr<KRAProgressDialog> createWithSpec(std::shared_ptr<QKConversionSpec> spec,
                                                             const std::shared_ptr<KRAPanelHostInterface>& host);

    static int heightForNumCPUs(uint64_t count);
    // "1 minute 1 second", "2 minutes", "59 seconds", "0 seconds".
    static QString formatTimeSeconds(uint64_t seconds);
    static QString formatTimeMS(uint64_t milliseconds) { return formatTimeSeconds(milliseconds / 1000); }

    // KRAPanel
    QString panelName() override { return title(); }
    // Pause: the one button that stops nothing for good.
    QWidget* panelInitialFocus() override;
    bool panelResizable() override { return true; }
    QSize panelPreferredSize() override { return QSize(0, heightForNumCPUs(m_optNumCPUs)); }
    bool panelIsWorking() override { return !m_allDone; }
    void panelWillClose() override;
    // QKCancelOperation: Escape cancels while the batch runs, and leaves once it is done.
    void cancelOperation(QObject* sender) override;

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
    void onCancel();
    void onPause();
    void onCoreCount(uint64_t count);
    void setOptAfterConversion(int action) { m_optAfterConversion = action; }
    void setOptShowInfoLog(bool on);
    void setSkipFinished(bool on);
    void onShowConversionLog();

    // Queries.
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
    bool paused() const { return m_userPause; }
    int optAfterConversion() const { return m_optAfterConversion; }
    bool optShowInfoLog() const { return m_optShowInfoLog; }
    bool skipFinished() const { return m_skipFinished; }
    // Once the batch is done and either log has lines, whatever the options hid.
    bool canShowConversionLog() const { return m_canShowConversionLog; }
    const QMap<uint64_t, KRAStatusLogEntryRef>& logErrors() const { return m_logErrors; }
    const QMap<uint64_t, KRAStatusLogEntryRef>& logInfos() const { return m_logInfos; }
    const KRAProcessEventsRef& events() const { return m_shared->events; }

    // The texts the labels show now.
    QString mainLabelText() const;
    QString elapsedText() const;
    QString leftText() const;
    QString speedText() const;

    QMenu* menuOptions() const { return m_menuOptions; }
    QMenu* menuEncoding() const { return m_menuEncoding; }
    QPushButton* buttonCancel() const { return m_buttonCancel; }
    QPushButton* buttonPause() const { return m_buttonPause; }
    QProgressBar* progressBar() const { return m_progressBar; }

    // A file's conversion ended (posted by its thread).
    void conversionCompleteOn(uint64_t slot, uint64_t index);

protected:
    void loadView() override;
    void viewDidLoad() override;
    // The status log panel; tests replace it to look at what it is given.
    virtual std::shared_ptr<KRAPanel> makeStatusLog(const KRAStatusLogContext& context);
    // After-conversion requests; tests replace them.
    virtual KRAPowerAction::Result requestPowerAction(int action) { return KRAPowerAction::request(action); }
    virtual void preventSleep();
    // Runs a file's conversion on the slot's own thread; a picture of the dialog runs nothing.
    virtual void startThread(uint64_t slot, std::function<void()> work);

private:
    void beginConversion();
    void assignIdleCores();
    void beginConversionFor(KRACPU& cpu);
    void finalizeBatch();
    void onAllDone();
    void showLogForInfos(const QMap<uint64_t, KRAStatusLogEntryRef>& infos,
                         const QMap<uint64_t, KRAStatusLogEntryRef>& errors);
    void conversionAllDone();
    KRACPU* cpuByTask(uint64_t index);
    KRAStatusLogEntryRef logEntry(QMap<uint64_t, KRAStatusLogEntryRef>& log, uint64_t index);
    void fillEncodingMenu();
    void updateLabels();
    void refreshLabels();
    void stopThreads();

    std::shared_ptr<QKConversionSpec> m_spec;
    std::weak_ptr<KRAPanelHostInterface> m_host;
    KRABatch m_batch;
    std::shared_ptr<KRAProgressShared> m_shared;
    std::vector<KRACPU> m_cpus;
    std::vector<std::thread> m_threads; // one per slot, the file it converts now
    std::unique_ptr<KRAPreventSleep> m_preventSleep;

    uint64_t m_optNumCPUs = 0;
    int m_optAfterConversion = AfterNothing;
    bool m_optShowErrorLog = true;
    bool m_optShowInfoLog = false;
    bool m_skipFinished = false;
    bool m_canShowConversionLog = false;
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
    bool m_allDone = false;
    bool m_finalizing = false;
    bool m_userPause = false;
    bool m_oneTimeInit = false;
    QMap<uint64_t, KRAStatusLogEntryRef> m_logInfos;
    QMap<uint64_t, KRAStatusLogEntryRef> m_logErrors;
    // Which files the batch writes and reads: no file is written over another's output or a
    // source.
    std::shared_ptr<KRAOutputGuard> m_outputGuard = std::make_shared<KRAOutputGuard>();

    QPointer<QLabel> m_labelMain;
    QPointer<QLabel> m_labelSpeed;
    QPointer<QLabel> m_labelElapsed;
    QPointer<QLabel> m_labelLeft;
    QPointer<QProgressBar> m_progressBar;
    QPointer<QTreeWidget> m_table;
    QPointer<QPushButton> m_buttonCancel;
    QPointer<QPushButton> m_buttonPause;
    QPointer<QPushButton> m_buttonOptions;
    QPointer<QMenu> m_menuOptions;
    QPointer<QMenu> m_menuEncoding;
    QPointer<QMenu> m_menuAfterConversion;
    QTimer m_labelTimer;
};
