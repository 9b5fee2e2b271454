#include "engine/KRABatchRunner.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>

#include "engine/KRAProcess.h"
#include "engine/QKConvertProcessShared.h"
#include "engine/QKGlobalOptions.h"
#include "engine/clFFMPEG.h"
#include "media/QKMediaInfoStore.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"

namespace {

uint64_t NowMS()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

// Runs the call on the main thread later, if the runner is still there then.
template <typename Call>
void PostToRunner(const std::shared_ptr<KRABatchRunnerShared>& shared, Call call)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [shared, call]() {
            if (KRABatchRunner* runner = shared->runner.data())
                call(runner);
        },
        Qt::QueuedConnection);
}

} // namespace

KRABatchRunnerListener::~KRABatchRunnerListener() = default;

// The sources the runs will probe, in the order the slots take them, and how far the slots
// have got.
struct KRABatchLookAhead {
    struct Item {
        uint64_t entry = 0;
        XStr path;
        bool wantJSON = false;
    };
    std::vector<Item> items; // fixed before the readers start
    KRAProcessEventsRef events;
    uint64_t window = 8; // entries read ahead of the next one a slot takes

    std::mutex lock;
    std::condition_variable wake;
    size_t next = 0;       // the next item to read
    uint64_t assigned = 0; // entries handed to slots
    // Until the first files' own probes are done (or one of them is over): their slots wait for
    // them, and more probes at the same time would only slow them down.
    bool held = true;
    uint64_t firstWave = 0;
    uint64_t firstWaveProbed = 0;

    void release()
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            held = false;
        }
        wake.notify_all();
    }

    void reader()
    {
        const auto quit = [this] { return events->bEvtQuit(); };
        for (;;) {
            Item item;
            {
                std::unique_lock<std::mutex> guard(lock);
                // Held while the batch is: a pause gives the processor back.
                while (!quit() && next < items.size() &&
                       (held || events->bPause() || items[next].entry >= assigned + window))
                    wake.wait_for(guard, std::chrono::milliseconds(100));
                if (quit() || next >= items.size())
                    return;
                item = items[next++];
            }
            QKMediaInfoStore::prefetch(item.path, quit, item.wantJSON);
        }
    }
};

template <typename Call>
void KRAStatusCallbackImpl::post(Call call)
{
    PostToRunner(m_shared, call);
}

void KRAStatusCallbackImpl::onLengthMS(uint64_t lengthMS)
{
    const uint64_t index = m_index;
    post([lengthMS, index](KRABatchRunner* d) { d->onLengthMS(lengthMS, index); });
}

void KRAStatusCallbackImpl::onPercentDone(int percent)
{
    const uint64_t index = m_index;
    post([percent, index](KRABatchRunner* d) { d->onStatusPercentDone(percent, index); });
}

void KRAStatusCallbackImpl::onFPS(double fps)
{
    const uint64_t index = m_index;
    post([fps, index](KRABatchRunner* d) { d->onFPS(index, fps); });
}

void KRAStatusCallbackImpl::onInfoLine(const QString& line)
{
    const uint64_t index = m_index;
    post([line, index](KRABatchRunner* d) { d->onStatusInfoLine(line, index); });
}

void KRAStatusCallbackImpl::onErrorLine(const QString& line)
{
    const uint64_t index = m_index;
    post([line, index](KRABatchRunner* d) { d->onStatusErrorLine(line, index); });
}

void KRAStatusCallbackImpl::onWarningLine(const QString& line)
{
    const uint64_t index = m_index;
    post([line, index](KRABatchRunner* d) { d->onStatusWarningLine(line, index); });
}

void KRAStatusCallbackImpl::onOutcome(KRAConversionOutcome how)
{
    const uint64_t index = m_index;
    post([how, index](KRABatchRunner* d) { d->onStatusOutcome(how, index); });
}

KRABatchRunner::KRABatchRunner(std::shared_ptr<QKConversionSpec> spec, KRABatchRunnerListener* listener)
    : m_spec(spec ? std::move(spec) : std::make_shared<QKConversionSpec>()), m_listener(listener), m_batch(m_spec),
      m_shared(std::make_shared<KRABatchRunnerShared>())
{
    m_shared->runner = this;
    uint64_t count = m_batch.userThreadCount();
    if (count == 0)
        count = QKGlobalOptions::numThreads();
    count = std::min<uint64_t>(count, numFiles());
    m_cpus.resize(count);
    m_threads.resize(count);
    for (uint64_t i = 0; i < count; ++i)
        m_cpus[i].indexOfThisCPU = i;
    m_optNumCPUs = count;
    for (const QKConversionEntryRef& entry : m_spec->entries) {
        m_sizeTotal += entry ? entry->sourceSizeBytes : 0;
        KRAProcessArg sources;
        sources.srcFrom = entry ? entry->convertFrom : nullptr;
        for (const XStr& path : QKConvertProcessShared::sourcePaths(sources))
            m_outputGuard->addSource(path);
    }
    m_labelTimer.setSingleShot(true);
    m_labelTimer.setInterval(100);
    connect(&m_labelTimer, &QTimer::timeout, this, &KRABatchRunner::refreshLabels);
}

KRABatchRunner::~KRABatchRunner()
{
    m_shared->runner = nullptr;
    stopThreads();
}

void KRABatchRunner::stopThreads()
{
    // Quit stops the running children (paused ones are woken to be stopped) and holds back
    // every file not started.
    m_shared->events->setBEvtQuit(true);
    m_shared->events->setBPause(false);
    if (m_lookAhead)
        m_lookAhead->wake.notify_all();
    for (std::thread& thread : m_threads) {
        if (thread.joinable())
            thread.join();
    }
    for (std::thread& thread : m_lookAheadThreads) {
        if (thread.joinable())
            thread.join();
    }
}

void KRABatchRunner::startLookAhead()
{
    constexpr size_t kReaders = 2;
    auto lookAhead = std::make_shared<KRABatchLookAhead>();
    lookAhead->events = m_shared->events;
    lookAhead->window = std::max<uint64_t>(8, 4 * m_cpus.size());
    lookAhead->assigned = m_numAssigned;
    lookAhead->firstWave = m_numAssigned;
    const QString commandLine = m_batch.commandLine();
    for (qsizetype i = 0; i < m_spec->entries.size(); ++i) {
        const QKConversionEntryRef& entry = m_spec->entries.at(i);
        // The first files went to their slots already and probe there.
        if (!entry || entry->justCopy || static_cast<uint64_t>(i) < m_numAssigned)
            continue;
        KRAProcessArg arg;
        arg.srcFrom = entry->convertFrom;
        arg.args = entry->multiEncData ? m_batch.multiCommandLine(entry->multiEncData.get()) : commandLine;
        const KRARunProbes probes = probesOfRun(arg);
        for (size_t n = 0; n < probes.paths.size(); ++n)
            lookAhead->items.push_back({static_cast<uint64_t>(i), probes.paths[n], probes.wantJSON && n == 0});
    }
    if (lookAhead->items.empty())
        return;
    m_lookAhead = lookAhead;
    for (size_t n = 0; n < std::min(kReaders, lookAhead->items.size()); ++n)
        m_lookAheadThreads.emplace_back([lookAhead] { lookAhead->reader(); });
}

QString KRABatchRunner::formatTimeSeconds(uint64_t seconds)
{
    QString minutes;
    if (seconds >= 120)
        minutes = QStringLiteral("%1 minutes").arg(seconds / 60);
    else if (seconds >= 60)
        minutes = QStringLiteral("1 minute");
    QString secs;
    if (seconds % 60 == 1)
        secs = QStringLiteral("1 second");
    else if (seconds % 60 != 0)
        secs = QStringLiteral("%1 seconds").arg(seconds % 60);
    if (!minutes.isEmpty() && !secs.isEmpty())
        return minutes + QLatin1Char(' ') + secs;
    if (!minutes.isEmpty())
        return minutes;
    if (!secs.isEmpty())
        return secs;
    return QStringLiteral("0 seconds");
}

const KRACPU* KRABatchRunner::CPUByTask(uint64_t index) const
{
    for (const KRACPU& cpu : m_cpus) {
        if (cpu.currentTaskIndex == index)
            return &cpu;
    }
    return nullptr;
}

KRACPU* KRABatchRunner::cpuByTask(uint64_t index)
{
    return const_cast<KRACPU*>(CPUByTask(index));
}

uint64_t KRABatchRunner::numWorkingCores() const
{
    return static_cast<uint64_t>(
        std::count_if(m_cpus.begin(), m_cpus.end(), [](const KRACPU& c) { return c.isBusy(); }));
}

double KRABatchRunner::getRatioDone() const
{
    if (numFiles() == 0)
        return 0;
    double done = 0;
    if (m_sizeTotal == 0) {
        // No sizes known: every file weighs the same.
        done = static_cast<double>(m_numDone);
        for (const KRACPU& cpu : m_cpus)
            done += cpu.isBusy() ? static_cast<double>(cpu.percentDone) / 100.0 : 0.0;
        return std::min(1.0, done / static_cast<double>(numFiles()));
    }
    done = static_cast<double>(m_sizeFilesDone);
    for (const KRACPU& cpu : m_cpus) {
        if (cpu.isBusy() && cpu.currentTaskIndex < numFiles())
            done +=
                static_cast<double>(cpu.percentDone) *
                static_cast<double>(m_spec->entries.at(static_cast<qsizetype>(cpu.currentTaskIndex))->sourceSizeBytes) /
                100.0;
    }
    return std::min(1.0, done / static_cast<double>(m_sizeTotal));
}

int KRABatchRunner::getPercentDone() const
{
    return static_cast<int>(std::floor(getRatioDone() * 100.0 + 0.5));
}

uint64_t KRABatchRunner::getLengthDone() const
{
    uint64_t length = m_lengthFilesDone;
    for (const KRACPU& cpu : m_cpus) {
        if (cpu.isBusy())
            length += cpu.lengthMS * cpu.percentDone / 100;
    }
    return length;
}

double KRABatchRunner::fps() const
{
    double sum = 0;
    for (const KRACPU& cpu : m_cpus)
        sum += cpu.fps;
    return sum;
}

uint64_t KRABatchRunner::workingMS() const
{
    const uint64_t elapsed = timeElapsedMS();
    uint64_t paused = m_pausedMS;
    if (m_userPause && m_pauseBegan)
        paused += NowMS() - m_pauseBegan;
    return elapsed > paused ? elapsed - paused : 0;
}

uint64_t KRABatchRunner::timeElapsedMS() const
{
    if (m_timeBegin == 0)
        return 0;
    return (m_allDone ? m_timeEnd : NowMS()) - m_timeBegin;
}

QString KRABatchRunner::titleText() const
{
    return m_allDone ? QStringLiteral("[Finished] Converting") : QStringLiteral("Converting");
}

QString KRABatchRunner::mainLabelText() const
{
    const uint64_t n = numFiles();
    uint64_t running = 0;
    for (const KRACPU& cpu : m_cpus)
        running += cpu.isBusy() ? 1 : 0;
    QString text;
    if (m_allDone)
        text = n == 1 ? QStringLiteral("Converted 1 file") : QStringLiteral("Converted %1 files").arg(n);
    else if (m_finalizing)
        return QStringLiteral("Finalizing conversion...");
    else if (n == 1)
        text = QStringLiteral("Converting 1 file");
    else if (running > 1)
        // Several at once: which one is "the next" means nothing, how many are done does.
        text = QStringLiteral("Converting %1 files at once, %2 out of %3 done").arg(running).arg(m_numDone).arg(n);
    else
        text = QStringLiteral("Converting %1 out of %2 files").arg(std::min(m_numDone + 1, n)).arg(n);
    const QString encoder = m_spec->Encoder ? m_spec->Encoder->name() : QString();
    return QStringLiteral("%1 to %2").arg(text, encoder) + (m_allDone ? KRAStatusLogTotals(m_logErrors, n) : QString());
}

QString KRABatchRunner::elapsedText() const
{
    const QString time = formatTimeSeconds(timeElapsedMS() / 1000);
    return m_allDone ? QStringLiteral("Finished in %1").arg(time) : QStringLiteral("%1 elapsed").arg(time);
}

QString KRABatchRunner::leftText() const
{
    if (m_allDone)
        return QString();
    // Only from what the last stretch of working time shows, and nothing before there is
    // enough of it: a guess from the first seconds is mostly ffmpeg starting.
    const std::optional<double> rate = m_ratioRate.ratePerMS();
    const double ratio = getRatioDone();
    if (!rate || !(*rate > 0) || !(ratio > 0) || ratio >= 1)
        return QString();
    const auto seconds = static_cast<uint64_t>(std::floor((1.0 - ratio) / *rate / 1000.0));
    return seconds == 0 ? QString() : QStringLiteral("%1 left").arg(formatTimeSeconds(seconds));
}

QString KRABatchRunner::speedText() const
{
    // Media time per working time over the last stretch, paused time left out; once the
    // batch is over, over all of it.
    std::optional<double> rate = m_lengthRate.ratePerMS();
    if (m_allDone && workingMS() > 0 && getLengthDone() > 0)
        rate = static_cast<double>(getLengthDone()) / static_cast<double>(workingMS());
    if (!rate || !(*rate > 0))
        return QString();
    const QString speed = QString::asprintf("%.1fx encoding speed", *rate);
    const double sum = fps();
    return sum > 0 ? QStringLiteral("%1, %2 FPS").arg(speed, QString::number(sum, 'f', 1)) : speed;
}

bool KRABatchRunner::setNumCPUs(uint64_t count)
{
    if (count == 0 || count > m_cpus.size())
        return false;
    const bool grew = count > m_optNumCPUs;
    m_optNumCPUs = count;
    if (grew)
        assignIdleCores(); // running slots go on; fewer start from now on
    return true;
}

void KRABatchRunner::start()
{
    if (m_started)
        return;
    m_started = true;
    m_timeBegin = NowMS();
    if (numFiles() > 0) {
        assignIdleCores();
        startLookAhead();
    } else {
        finalizeBatch();
    }
    refreshLabels();
}

void KRABatchRunner::assignIdleCores()
{
    if (m_userPause || m_shared->events->bEvtQuit())
        return;
    uint64_t working = numWorkingCores();
    for (KRACPU& cpu : m_cpus) {
        if (working >= m_optNumCPUs || m_numAssigned >= numFiles())
            break;
        if (cpu.isBusy())
            continue;
        beginConversionFor(cpu);
        ++working;
    }
}

void KRABatchRunner::preventSleep()
{
    if (!m_preventSleep) {
        m_preventSleep = std::make_unique<KRAPreventSleep>();
        m_preventSleep->create();
    }
}

void KRABatchRunner::beginConversionFor(KRACPU& cpu)
{
    if (m_numAssigned >= numFiles())
        return;
    preventSleep();
    const uint64_t index = m_numAssigned++;
    if (m_lookAhead) {
        {
            std::lock_guard<std::mutex> guard(m_lookAhead->lock);
            m_lookAhead->assigned = m_numAssigned;
        }
        m_lookAhead->wake.notify_all();
    }
    cpu.currentTaskIndex = index;
    cpu.percentDone = 0;
    cpu.lengthMS = 0;
    cpu.fps = 0;
    const QKConversionEntryRef entry = m_spec->entries.at(static_cast<qsizetype>(index));
    const uint64_t slot = cpu.indexOfThisCPU;

    QString name;
    const QString destination = entry->urlTo.isLocalFile() ? entry->urlTo.toLocalFile() : QString();
    if (!destination.isEmpty() && QFileInfo(destination).suffix().toLower() != QLatin1String("ignore"))
        name = QFileInfo(destination).completeBaseName();
    else if (entry->convertFrom)
        name = QFileInfo(entry->convertFrom->strPerceivedFilename()).completeBaseName();
    onStatusAction(
        entry->justCopy ? QStringLiteral("Copying '%1'").arg(name) : QStringLiteral("Encoding '%1'").arg(name), index);

    // No file is written over another's output or over a source: the destination check before
    // the batch is the first guard, this the last (the runs move their outputs through it).
    const QString source = entry->convertFrom ? entry->convertFrom->strPerceivedFilename() : QString();
    const bool guarded = !destination.isEmpty() && destination != QLatin1String("/dev/null");
    if (guarded) {
        const XStr refused = m_outputGuard->claim(index, XPathFromFileURL(entry->urlTo), XStrFromQString(source));
        if (!refused.IsEmpty()) {
            onStatusErrorLine(XStrToQString(refused), index);
            PostToRunner(m_shared, [slot, index](KRABatchRunner* d) { d->conversionCompleteOn(slot, index); });
            return;
        }
    }

    // Everything the thread needs is made here, on the main thread.
    auto arg = std::make_shared<KRAProcessArg>();
    arg->srcFrom = entry->convertFrom;
    arg->urlTo = entry->urlTo;
    if (entry->convertFrom && !entry->convertFrom->inputOptions().isEmpty())
        arg->inputArgs = entry->convertFrom->inputOptions();
    arg->args = entry->multiEncData ? m_batch.multiCommandLine(entry->multiEncData.get()) : m_batch.commandLine();
    arg->callback = std::make_shared<KRAStatusCallbackImpl>(m_shared, index);
    arg->events = m_shared->events;
    arg->specialActions2 = m_batch.prepareSpecialActions(entry->multiEncData.get());
    arg->encoder = m_spec->Encoder;
    if (guarded) {
        arg->outputGuard = m_outputGuard;
        arg->guardIndex = index;
    }
    const bool justCopy = entry->justCopy;
    const QString copyFrom = entry->convertFrom ? entry->convertFrom->urlForConversion().toLocalFile() : QString();

    std::shared_ptr<KRABatchRunnerShared> shared = m_shared;
    startThread(slot, [shared, arg, justCopy, copyFrom, destination, slot, index] {
        const KRAProcessEventsRef& events = shared->events;
        if (events->bEvtQuit())
            return;
        events->waitWhilePaused();
        if (events->bEvtQuit())
            return;
        if (justCopy) {
            QFile file(copyFrom);
            if (!file.copy(destination)) {
                const QString error = file.errorString();
                PostToRunner(shared, [error, index](KRABatchRunner* d) { d->onStatusErrorLine(error, index); });
            }
        } else {
            KRAProcess::convertWithArg(arg);
        }
        PostToRunner(shared, [slot, index](KRABatchRunner* d) { d->conversionCompleteOn(slot, index); });
    });
}

void KRABatchRunner::startThread(uint64_t slot, std::function<void()> work)
{
    if (m_threads[slot].joinable())
        m_threads[slot].join();
    m_threads[slot] = std::thread(std::move(work));
}

void KRABatchRunner::conversionCompleteOn(uint64_t slot, uint64_t index)
{
    if (m_shared->events->bEvtQuit() || slot >= m_cpus.size() || m_cpus[slot].currentTaskIndex != index)
        return;
    if (m_threads[slot].joinable())
        m_threads[slot].join();
    if (m_lookAhead && m_lookAhead->held)
        m_lookAhead->release();
    onStatusPercentDone(100, index);
    onStatusAction(QString(), index);
    KRACPU& cpu = m_cpus[slot];
    ++m_numDone;
    m_sizeFilesDone += m_spec->entries.at(static_cast<qsizetype>(index))->sourceSizeBytes;
    m_lengthFilesDone += cpu.lengthMS;
    cpu.currentTaskIndex = KRACPU::kIdle;
    cpu.percentDone = 100;
    cpu.fps = 0;
    cpu.status = QStringLiteral("Idle.");
    updateLabels();
    if (m_numDone == numFiles())
        finalizeBatch();
    else
        assignIdleCores();
}

void KRABatchRunner::finalizeBatch()
{
    m_finalizing = true;
    refreshLabels();
    m_batch.finish();
    QTimer::singleShot(0, this, &KRABatchRunner::onAllDone);
}

void KRABatchRunner::onAllDone()
{
    m_allDone = true;
    m_finalizing = false;
    m_timeEnd = NowMS();
    if (m_preventSleep)
        m_preventSleep->clear();

    if (m_optAfterConversion != AfterNothing) {
        const KRAPowerAction::Result result = requestPowerAction(m_optAfterConversion);
        m_afterConversionTaken = result.ok;
        if (!result.ok)
            onStatusErrorLine(
                QStringLiteral("The computer could not be told what to do after the conversion: %1").arg(result.error),
                numFiles());
    }
    refreshLabels();
    if (m_listener)
        m_listener->batchRunnerAllDone();
}

void KRABatchRunner::cancel()
{
    if (m_allDone)
        return;
    m_shared->events->setBEvtQuit(true);
    m_shared->events->setBPause(false);
}

void KRABatchRunner::togglePause()
{
    if (m_allDone)
        return;
    m_userPause = !m_userPause;
    if (m_userPause) {
        m_pauseBegan = NowMS();
    } else if (m_pauseBegan) {
        m_pausedMS += NowMS() - m_pauseBegan;
        m_pauseBegan = 0;
    }
    // Paused: the running children are stopped and no file starts; resumed: they go on.
    m_shared->events->setBPause(m_userPause);
    if (!m_userPause)
        assignIdleCores();
}

KRAStatusLogEntryRef KRABatchRunner::logEntry(QMap<uint64_t, KRAStatusLogEntryRef>& log, uint64_t index)
{
    KRAStatusLogEntryRef& entry = log[index];
    if (!entry) {
        entry = std::make_shared<KRAStatusLogEntry>();
        if (index < numFiles()) {
            const QKConversionEntryRef& job = m_spec->entries.at(static_cast<qsizetype>(index));
            entry->source2 = job->convertFrom;
            entry->fnTo = job->urlTo.isLocalFile() ? job->urlTo.toLocalFile() : QString();
        }
        entry->encoderName = m_spec->Encoder ? m_spec->Encoder->name() : QString();
    }
    return entry;
}

void KRABatchRunner::onStatusAction(const QString& text, uint64_t index)
{
    if (KRACPU* cpu = cpuByTask(index))
        cpu->status = text;
    updateLabels();
}

void KRABatchRunner::onStatusPercentDone(int percent, uint64_t index)
{
    if (KRACPU* cpu = cpuByTask(index))
        cpu->percentDone = static_cast<uint64_t>(std::clamp(percent, 0, 100));
    updateLabels();
}

void KRABatchRunner::onLengthMS(uint64_t lengthMS, uint64_t index)
{
    if (KRACPU* cpu = cpuByTask(index))
        cpu->lengthMS = lengthMS;
    if (m_lookAhead && m_lookAhead->held && index < m_lookAhead->firstWave &&
        ++m_lookAhead->firstWaveProbed >= m_lookAhead->firstWave)
        m_lookAhead->release();
    updateLabels();
}

void KRABatchRunner::onFPS(uint64_t index, double fps)
{
    if (KRACPU* cpu = cpuByTask(index))
        cpu->fps = fps;
    updateLabels();
}

void KRABatchRunner::onStatusInfoLine(const QString& line, uint64_t index)
{
    logEntry(m_logInfos, index)->entries.append(line);
}

void KRABatchRunner::onStatusErrorLine(const QString& line, uint64_t index)
{
    if (index < numFiles())
        m_spec->entries.at(static_cast<qsizetype>(index))->hadErrors = true;
    logEntry(m_logErrors, index)->entries.append(line);
}

// Lines of a file whose output was kept: with the errors, so that the log shows them whatever
// the options, but the file did not fail.
void KRABatchRunner::onStatusWarningLine(const QString& line, uint64_t index)
{
    logEntry(m_logErrors, index)->entries.append(line);
}

void KRABatchRunner::onStatusOutcome(KRAConversionOutcome how, uint64_t index)
{
    if (how == KRAConversionOutcome::Failed && index < numFiles())
        m_spec->entries.at(static_cast<qsizetype>(index))->hadErrors = true;
    if (how == KRAConversionOutcome::Failed || how == KRAConversionOutcome::ConvertedWithWarnings)
        logEntry(m_logErrors, index)->setOutcome(how);
    else if (m_logErrors.contains(index))
        m_logErrors[index]->setOutcome(how);
}

void KRABatchRunner::updateLabels()
{
    // However many slots report, the labels are drawn at most ten times a second.
    if (!m_labelTimer.isActive())
        m_labelTimer.start();
}

void KRABatchRunner::refreshLabels()
{
    m_labelTimer.stop();
    if (m_timeBegin && !m_allDone && !m_userPause) {
        const uint64_t working = workingMS();
        m_ratioRate.sample(working, getRatioDone());
        m_lengthRate.sample(working, static_cast<double>(getLengthDone()));
    }
    if (m_listener)
        m_listener->batchRunnerChanged();
}
