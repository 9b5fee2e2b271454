// The progress dialog: the panel that shows a batch while its runner (engine/KRABatchRunner)
// converts it. It shows per-slot and total progress, speed, elapsed and remaining time, holds
// the options (encoders in use, what to do after the conversion, which logs the finished
// screen shows), and at the end offers the status log or goes back. The slots, pause and
// cancel, the totals and each file's lines are the runner's; the dialog starts the runner when
// its view loads and stops it when it goes.
#pragma once

#include <QLabel>
#include <QMap>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/KRABatchRunner.h"
#include "kit/KRAPanel.h"
#include "kit/QKWindowCancellable.h"
#include "progress/KRAStatusLogContext.h"

class KRAProgressDialog : public QKPanelViewController, public QKCancelOperation, public KRABatchRunnerListener {
    Q_OBJECT
public:
    enum AfterConversion {
        AfterNothing = KRABatchRunner::AfterNothing,
        AfterShutDown = KRABatchRunner::AfterShutDown,
        AfterSleep = KRABatchRunner::AfterSleep,
        AfterLogOut = KRABatchRunner::AfterLogOut,
        AfterRestart = KRABatchRunner::AfterRestart
    };

    KRAProgressDialog(std::shared_ptr<QKConversionSpec> spec, std::weak_ptr<KRAPanelHostInterface> host);
    ~KRAProgressDialog() override;

    // A new dialog made the host's current panel.
    static std::shared_ptr<KRAProgressDialog> createWithSpec(std::shared_ptr<QKConversionSpec> spec,
                                                             const std::shared_ptr<KRAPanelHostInterface>& host);

    static int heightForNumCPUs(uint64_t count);
    static QString formatTimeSeconds(uint64_t seconds) { return KRABatchRunner::formatTimeSeconds(seconds); }
    static QString formatTimeMS(uint64_t milliseconds) { return KRABatchRunner::formatTimeMS(milliseconds); }

    // KRAPanel
    QString panelName() override { return title(); }
    // Pause: the one button that stops nothing for good.
    QWidget* panelInitialFocus() override;
    bool panelResizable() override { return true; }
    QSize panelPreferredSize() override { return QSize(0, heightForNumCPUs(optNumCPUs())); }
    bool panelIsWorking() override { return !allDone(); }
    void panelWillClose() override;
    // QKCancelOperation: Escape cancels while the batch runs, and leaves once it is done.
    void cancelOperation(QObject* sender) override;

    // The batch this dialog shows.
    KRABatchRunner& runner() const { return *m_runner; }

    // Status entry points, main thread (the runner's, for pictures of a running batch).
    void onStatusAction(const QString& text, uint64_t index) { m_runner->onStatusAction(text, index); }
    void onStatusPercentDone(int percent, uint64_t index) { m_runner->onStatusPercentDone(percent, index); }
    void onLengthMS(uint64_t lengthMS, uint64_t index) { m_runner->onLengthMS(lengthMS, index); }
    void onFPS(uint64_t index, double fps) { m_runner->onFPS(index, fps); }

    // Actions.
    void onCancel();
    void onPause();
    void onCoreCount(uint64_t count);
    void setOptAfterConversion(int action) { m_runner->setOptAfterConversion(action); }
    void setOptShowInfoLog(bool on);
    void setSkipFinished(bool on);
    void onShowConversionLog();

    // Queries, most of them the runner's.
    uint64_t numFiles() const { return m_runner->numFiles(); }
    QKConversionEntryRef entryAtIndex(uint64_t index) const { return m_runner->entryAtIndex(index); }
    uint64_t optNumCPUs() const { return m_runner->optNumCPUs(); }
    const std::vector<KRACPU>& cpus() const { return m_runner->cpus(); }
    uint64_t numWorkingCores() const { return m_runner->numWorkingCores(); }
    double getRatioDone() const { return m_runner->getRatioDone(); }
    int getPercentDone() const { return m_runner->getPercentDone(); }
    bool allDone() const { return m_runner->allDone(); }
    bool paused() const { return m_runner->paused(); }
    int optAfterConversion() const { return m_runner->optAfterConversion(); }
    bool optShowInfoLog() const { return m_optShowInfoLog; }
    bool skipFinished() const { return m_skipFinished; }
    // Once the batch is done and either log has lines, whatever the options hid.
    bool canShowConversionLog() const { return m_canShowConversionLog; }
    const KRAProcessEventsRef& events() const { return m_runner->events(); }

    // The texts the labels show now.
    QString mainLabelText() const { return m_runner->mainLabelText(); }
    QString elapsedText() const { return m_runner->elapsedText(); }
    QString leftText() const { return m_runner->leftText(); }
    QString speedText() const { return m_runner->speedText(); }

    QMenu* menuOptions() const { return m_menuOptions; }
    QMenu* menuEncoding() const { return m_menuEncoding; }
    QPushButton* buttonCancel() const { return m_buttonCancel; }
    QPushButton* buttonPause() const { return m_buttonPause; }
    QProgressBar* progressBar() const { return m_progressBar; }

    // KRABatchRunnerListener
    void batchRunnerChanged() override { refreshLabels(); }
    void batchRunnerAllDone() override { onAllDone(); }

protected:
    void loadView() override;
    void viewDidLoad() override;
    // The status log panel; tests replace it to look at what it is given.
    virtual std::shared_ptr<KRAPanel> makeStatusLog(const KRAStatusLogContext& context);
    // The runner's hooks, here so that a dialog's tests and pictures can replace them.
    virtual KRAPowerAction::Result requestPowerAction(int action);
    virtual void preventSleep();
    // Runs a file's conversion on the slot's own thread; a picture of the dialog runs nothing.
    virtual void startThread(uint64_t slot, std::function<void()> work);

private:
    class Runner;

    void onAllDone();
    void showLogForInfos(const QMap<uint64_t, KRAStatusLogEntryRef>& infos,
                         const QMap<uint64_t, KRAStatusLogEntryRef>& errors);
    void conversionAllDone();
    void fillEncodingMenu();
    void refreshLabels();

    std::weak_ptr<KRAPanelHostInterface> m_host;
    std::unique_ptr<KRABatchRunner> m_runner; // a Runner, which calls the hooks above

    bool m_optShowErrorLog = true;
    bool m_optShowInfoLog = false;
    bool m_skipFinished = false;
    bool m_canShowConversionLog = false;
    bool m_oneTimeInit = false;

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
};
