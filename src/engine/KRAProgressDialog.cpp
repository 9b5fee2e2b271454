#include "engine/KRAProgressDialog.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPropertyAnimation>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "engine/KRAConversionHost.h"
#include "engine/KRAProcess.h"
#include "engine/KRAStatusLogDialog.h"
#include "engine/QKConvertProcessShared.h"
#include "engine/QKGlobalOptions.h"
#include "kit/KitScreenFit.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XRegistry.h"

namespace {

uint64_t NowMS()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

// Runs the call on the main thread later, if the dialog is still there then.
template <typename Call>
void PostToDialog(const std::shared_ptr<KRAProgressShared>& shared, Call call)
{
    QMetaObject::invokeMethod(
        qApp,
        [shared, call]() {
            if (KRAProgressDialog* dialog = shared->dialog.data())
                call(dialog);
        },
        Qt::QueuedConnection);
}

} // namespace

template <typename Call>
void KRAStatusCallbackImpl::post(Call call)
{
    PostToDialog(m_shared, call);
}

void KRAStatusCallbackImpl::onLengthMS(uint64_t lengthMS)
{
    const uint64_t index = m_index;
    post([lengthMS, index](KRAProgressDialog* d) { d->onLengthMS(lengthMS, index); });
}

void KRAStatusCallbackImpl::onPercentDone(int percent)
{
    const uint64_t index = m_index;
    post([percent, index](KRAProgressDialog* d) { d->onStatusPercentDone(percent, index); });
}

void KRAStatusCallbackImpl::onFPS(double fps)
{
    const uint64_t index = m_index;
    post([fps, index](KRAProgressDialog* d) { d->onFPS(index, fps); });
}

void KRAStatusCallbackImpl::onInfoLine(const QString& line)
{
    const uint64_t index = m_index;
    post([line, index](KRAProgressDialog* d) { d->onStatusInfoLine(line, index); });
}

void KRAStatusCallbackImpl::onErrorLine(const QString& line)
{
    const uint64_t index = m_index;
    post([line, index](KRAProgressDialog* d) { d->onStatusErrorLine(line, index); });
}

void KRAStatusCallbackImpl::onWarningLine(const QString& line)
{
    const uint64_t index = m_index;
    post([line, index](KRAProgressDialog* d) { d->onStatusWarningLine(line, index); });
}

void KRAStatusCallbackImpl::onOutcome(KRAConversionOutcome how)
{
    const uint64_t index = m_index;
    post([how, index](KRAProgressDialog* d) { d->onStatusOutcome(how, index); });
}

KRAProgressDialog::KRAProgressDialog(std::shared_ptr<QKConversionSpec> spec, std::weak_ptr<KRAPanelHostInterface> host)
    : m_spec(spec ? std::move(spec) : std::make_shared<QKConversionSpec>()), m_host(std::move(host)), m_batch(m_spec),
      m_shared(std::make_shared<KRAProgressShared>())
{
    m_shared->dialog = this;
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
    m_optShowInfoLog = XRegistry::GetDWORD(L"dKRAShowInfoLog") != 0;
    setTitle(QStringLiteral("Converting"));
    m_labelTimer.setSingleShot(true);
    m_labelTimer.setInterval(100);
    connect(&m_labelTimer, &QTimer::timeout, this, &KRAProgressDialog::refreshLabels);
}

KRAProgressDialog::~KRAProgressDialog()
{
    m_shared->dialog = nullptr;
    stopThreads();
}

std::shared_ptr<KRAProgressDialog> KRAProgressDialog::createWithSpec(std::shared_ptr<QKConversionSpec> spec,
                                                                     const std::shared_ptr<KRAPanelHostInterface>& host)
{
    auto dialog = std::make_shared<KRAProgressDialog>(std::move(spec), host);
    if (host)
        host->setCurrentPanel(dialog);
    return dialog;
}

void KRAProgressDialog::stopThreads()
{
    // Quit stops the running children (paused ones are woken to be stopped) and holds back
    // every file not started.
    m_shared->events->setBEvtQuit(true);
    m_shared->events->setBPause(false);
    for (std::thread& thread : m_threads) {
        if (thread.joinable())
            thread.join();
    }
}

void KRAProgressDialog::panelWillClose()
{
    m_shared->events->setBEvtQuit(true);
    m_shared->events->setBPause(false);
}

int KRAProgressDialog::heightForNumCPUs(uint64_t count)
{
    return static_cast<int>(std::min<uint64_t>(count, 8) * 51 + 197);
}

QString KRAProgressDialog::formatTimeSeconds(uint64_t seconds)
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

const KRACPU* KRAProgressDialog::CPUByTask(uint64_t index) const
{
    for (const KRACPU& cpu : m_cpus) {
        if (cpu.currentTaskIndex == index)
            return &cpu;
    }
    return nullptr;
}

KRACPU* KRAProgressDialog::cpuByTask(uint64_t index)
{
    return const_cast<KRACPU*>(CPUByTask(index));
}

uint64_t KRAProgressDialog::numWorkingCores() const
{
    return static_cast<uint64_t>(
        std::count_if(m_cpus.begin(), m_cpus.end(), [](const KRACPU& c) { return c.isBusy(); }));
}

double KRAProgressDialog::getRatioDone() const
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

int KRAProgressDialog::getPercentDone() const
{
    return static_cast<int>(std::floor(getRatioDone() * 100.0 + 0.5));
}

uint64_t KRAProgressDialog::getLengthDone() const
{
    uint64_t length = m_lengthFilesDone;
    for (const KRACPU& cpu : m_cpus) {
        if (cpu.isBusy())
            length += cpu.lengthMS * cpu.percentDone / 100;
    }
    return length;
}

double KRAProgressDialog::fps() const
{
    double sum = 0;
    for (const KRACPU& cpu : m_cpus)
        sum += cpu.fps;
    return sum;
}

QWidget* KRAProgressDialog::panelInitialFocus()
{
    return m_buttonPause && m_buttonPause->isEnabled() ? m_buttonPause.data() : m_buttonCancel.data();
}

uint64_t KRAProgressDialog::workingMS() const
{
    const uint64_t elapsed = timeElapsedMS();
    uint64_t paused = m_pausedMS;
    if (m_userPause && m_pauseBegan)
        paused += NowMS() - m_pauseBegan;
    return elapsed > paused ? elapsed - paused : 0;
}

uint64_t KRAProgressDialog::timeElapsedMS() const
{
    if (m_timeBegin == 0)
        return 0;
    return (m_allDone ? m_timeEnd : NowMS()) - m_timeBegin;
}

QString KRAProgressDialog::mainLabelText() const
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

QString KRAProgressDialog::elapsedText() const
{
    const QString time = formatTimeSeconds(timeElapsedMS() / 1000);
    return m_allDone ? QStringLiteral("Finished in %1").arg(time) : QStringLiteral("%1 elapsed").arg(time);
}

QString KRAProgressDialog::leftText() const
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

QString KRAProgressDialog::speedText() const
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

namespace {
constexpr int kViewWidth = 600;
}

void KRAProgressDialog::loadView()
{
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    auto* heading = new QHBoxLayout;
    // The encoder's logo, 12 points square, before the main label (where the menus have one).
    const QIcon logo = m_spec->Encoder ? QKEncoderDesc::comboBoxLogoOf(m_spec->Encoder->name()) : QIcon();
    if (!logo.isNull()) {
        auto* logoLabel = new QLabel(view);
        logoLabel->setPixmap(logo.pixmap(12, 12));
        heading->addWidget(logoLabel);
    }
    m_labelMain = new QLabel(view);
    heading->addWidget(m_labelMain, 1);
    QFont bold = m_labelMain->font();
    bold.setBold(true);
    m_labelMain->setFont(bold);
    m_progressBar = new QProgressBar(view);
    m_progressBar->setRange(0, 100);
    auto* times = new QHBoxLayout;
    m_labelElapsed = new QLabel(view);
    m_labelLeft = new QLabel(view);
    times->addWidget(m_labelElapsed);
    times->addStretch(1);
    times->addWidget(m_labelLeft);
    m_labelSpeed = new QLabel(view);
    m_table = new QTreeWidget(view);
    m_table->setColumnCount(4);
    m_table->setHeaderLabels(
        {QStringLiteral("Encoder"), QStringLiteral("File"), QStringLiteral("Done"), QStringLiteral("Speed")});
    m_table->setRootIsDecorated(false);
    m_table->setUniformRowHeights(true);
    m_table->header()->setStretchLastSection(false);
    m_table->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_table->setFocusPolicy(Qt::NoFocus);

    auto* buttons = new QHBoxLayout;
    m_buttonOptions = new QPushButton(QStringLiteral("&Options"), view);
    m_menuOptions = new QMenu(view);
    m_menuEncoding = m_menuOptions->addMenu(QStringLiteral("Encoders"));
    m_menuAfterConversion = m_menuOptions->addMenu(QStringLiteral("After Conversion"));
    const char* afterTitles[] = {"Do Nothing", "Shut Down", "Sleep", "Log Out", "Restart"};
    for (int tag = 0; tag < 5; ++tag) {
        QAction* item = m_menuAfterConversion->addAction(QString::fromLatin1(afterTitles[tag]));
        item->setCheckable(true);
        item->setData(tag);
        connect(item, &QAction::triggered, this, [this, tag] { setOptAfterConversion(tag); });
    }
    m_menuOptions->addSeparator();
    QAction* showInfo = m_menuOptions->addAction(QStringLiteral("Show Info Log"));
    showInfo->setCheckable(true);
    connect(showInfo, &QAction::toggled, this, &KRAProgressDialog::setOptShowInfoLog);
    QAction* skip = m_menuOptions->addAction(QStringLiteral("Skip Finished Screen"));
    skip->setCheckable(true);
    connect(skip, &QAction::toggled, this, &KRAProgressDialog::setSkipFinished);
    m_menuOptions->addSeparator();
    // The way back to the lines the options kept from the finished screen.
    QAction* showLog = m_menuOptions->addAction(QStringLiteral("Show Conversion Log"));
    connect(showLog, &QAction::triggered, this, &KRAProgressDialog::onShowConversionLog);
    // Check marks follow the options each time the menu opens.
    connect(m_menuOptions, &QMenu::aboutToShow, this, [this, showInfo, skip, showLog] {
        showLog->setEnabled(m_canShowConversionLog);
        for (QAction* item : m_menuAfterConversion->actions())
            item->setChecked(item->data().toInt() == m_optAfterConversion);
        const QSignalBlocker a(showInfo), b(skip);
        showInfo->setChecked(m_optShowInfoLog);
        skip->setChecked(m_skipFinished);
        fillEncodingMenu();
    });
    m_buttonOptions->setMenu(m_menuOptions);
    m_buttonPause = new QPushButton(QStringLiteral("&Pause"), view);
    m_buttonCancel = new QPushButton(QStringLiteral("Cancel"), view);
    buttons->addWidget(m_buttonOptions);
    buttons->addStretch(1);
    buttons->addWidget(m_buttonPause);
    buttons->addWidget(m_buttonCancel);
    connect(m_buttonPause, &QPushButton::clicked, this, &KRAProgressDialog::onPause);
    connect(m_buttonCancel, &QPushButton::clicked, this, &KRAProgressDialog::onCancel);

    layout->addLayout(heading);
    layout->addWidget(m_progressBar);
    layout->addLayout(times);
    layout->addWidget(m_labelSpeed);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);
    // The window takes its width from the view: wide enough for a file name per encoder.
    view->resize(std::max(kViewWidth, view->sizeHint().width()), view->sizeHint().height());
    setView(view);
}

void KRAProgressDialog::viewDidLoad()
{
    if (m_oneTimeInit)
        return;
    m_oneTimeInit = true;
    m_skipFinished = XRegistry::GetDWORD(L"kRASkipedFinish") != 0;
    fillEncodingMenu();
    beginConversion();
    refreshLabels();
}

void KRAProgressDialog::setOptShowInfoLog(bool on)
{
    m_optShowInfoLog = on;
    XRegistry::SetDWORD(on ? 1 : 0, L"dKRAShowInfoLog");
}

void KRAProgressDialog::setSkipFinished(bool on)
{
    m_skipFinished = on;
    XRegistry::SetDWORD(on ? 1 : 0, L"kRASkipedFinish");
}

void KRAProgressDialog::fillEncodingMenu()
{
    if (!m_menuEncoding)
        return;
    m_menuEncoding->clear();
    for (uint64_t i = 1; i <= m_cpus.size(); ++i) {
        QAction* item = m_menuEncoding->addAction(i == 1 ? QStringLiteral("Using 1 Encoder")
                                                         : QStringLiteral("Using %1 Encoders").arg(i));
        item->setCheckable(true);
        item->setChecked(i == m_optNumCPUs);
        item->setData(QVariant::fromValue(i));
        connect(item, &QAction::triggered, this, [this, i] { onCoreCount(i); });
    }
}

void KRAProgressDialog::onCoreCount(uint64_t count)
{
    if (count == 0 || count > m_cpus.size())
        return;
    const bool grew = count > m_optNumCPUs;
    m_optNumCPUs = count;
    fillEncodingMenu();
    if (!grew)
        return; // running slots go on; fewer start from now on
    assignIdleCores();
    QWidget* window = view() ? view()->window() : nullptr;
    const int wanted = heightForNumCPUs(count);
    if (!window || view()->height() >= wanted)
        return;
    // The window grows downwards in a short animation, its top-left corner where it was.
    // Never past the screen's bottom edge: it moves up first, and the list scrolls when
    // even the whole screen is too short.
    const QSize largest = KitLargestClientSize(window);
    const int height = std::min(window->height() + wanted - view()->height(), largest.height());
    const QRect area = KitAvailableArea(window);
    const int bottom = window->frameGeometry().top() + height + KitDecorationSize(window).height() - 1;
    if (!area.isEmpty() && bottom > area.bottom())
        window->move(window->x(), std::max(area.top(), window->y() - (bottom - area.bottom())));
    auto* grow = new QPropertyAnimation(window, "size", window);
    grow->setDuration(200);
    grow->setEndValue(QSize(window->width(), height));
    grow->start(QAbstractAnimation::DeleteWhenStopped);
}

void KRAProgressDialog::beginConversion()
{
    m_timeBegin = NowMS();
    if (numFiles() > 0)
        assignIdleCores();
    else
        finalizeBatch();
}

void KRAProgressDialog::assignIdleCores()
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

void KRAProgressDialog::preventSleep()
{
    if (!m_preventSleep) {
        m_preventSleep = std::make_unique<KRAPreventSleep>();
        m_preventSleep->create();
    }
}

void KRAProgressDialog::beginConversionFor(KRACPU& cpu)
{
    if (m_numAssigned >= numFiles())
        return;
    preventSleep();
    const uint64_t index = m_numAssigned++;
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
            PostToDialog(m_shared, [slot, index](KRAProgressDialog* d) { d->conversionCompleteOn(slot, index); });
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

    std::shared_ptr<KRAProgressShared> shared = m_shared;
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
                PostToDialog(shared, [error, index](KRAProgressDialog* d) { d->onStatusErrorLine(error, index); });
            }
        } else {
            KRAProcess::convertWithArg(arg);
        }
        PostToDialog(shared, [slot, index](KRAProgressDialog* d) { d->conversionCompleteOn(slot, index); });
    });
}

void KRAProgressDialog::startThread(uint64_t slot, std::function<void()> work)
{
    if (m_threads[slot].joinable())
        m_threads[slot].join();
    m_threads[slot] = std::thread(std::move(work));
}

void KRAProgressDialog::conversionCompleteOn(uint64_t slot, uint64_t index)
{
    if (m_shared->events->bEvtQuit() || slot >= m_cpus.size() || m_cpus[slot].currentTaskIndex != index)
        return;
    if (m_threads[slot].joinable())
        m_threads[slot].join();
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

void KRAProgressDialog::finalizeBatch()
{
    m_finalizing = true;
    refreshLabels();
    m_batch.finish();
    QTimer::singleShot(0, this, &KRAProgressDialog::onAllDone);
}

void KRAProgressDialog::onAllDone()
{
    m_allDone = true;
    m_finalizing = false;
    m_timeEnd = NowMS();
    refreshLabels();
    if (m_progressBar)
        m_progressBar->setValue(100);
    if (m_buttonCancel)
        m_buttonCancel->setText(QStringLiteral("Finish"));
    if (m_buttonPause)
        m_buttonPause->setEnabled(false);
    setTitle(QStringLiteral("[Finished] %1").arg(title()));
    if (auto host = m_host.lock())
        host->panelNameChanged();
    if (m_preventSleep)
        m_preventSleep->clear();
    m_canShowConversionLog = !m_logErrors.isEmpty() || !m_logInfos.isEmpty();

    if (m_optAfterConversion != AfterNothing) {
        const KRAPowerAction::Result result = requestPowerAction(m_optAfterConversion);
        if (!result.ok)
            onStatusErrorLine(
                QStringLiteral("The computer could not be told what to do after the conversion: %1").arg(result.error),
                numFiles());
        else if (m_optAfterConversion != AfterSleep)
            return;
    }
    const QMap<uint64_t, KRAStatusLogEntryRef> errors = m_optShowErrorLog ? m_logErrors : decltype(m_logErrors)();
    const QMap<uint64_t, KRAStatusLogEntryRef> infos = m_optShowInfoLog ? m_logInfos : decltype(m_logInfos)();
    if (!errors.isEmpty() || !infos.isEmpty())
        showLogForInfos(infos, errors);
    else if (m_skipFinished)
        conversionAllDone();
}

std::shared_ptr<KRAPanel> KRAProgressDialog::makeStatusLog(const KRAStatusLogContext& context)
{
    return KRAStatusLogDialog::create(context);
}

void KRAProgressDialog::showLogForInfos(const QMap<uint64_t, KRAStatusLogEntryRef>& infos,
                                        const QMap<uint64_t, KRAStatusLogEntryRef>& errors)
{
    KRAStatusLogContext context;
    context.host = m_host;
    context.infos = infos.values(); // ordered by file index
    context.errors = errors.values();
    std::shared_ptr<KRAPanel> log = makeStatusLog(context);
    if (auto host = m_host.lock(); host && log)
        host->setCurrentPanel(log);
}

void KRAProgressDialog::onShowConversionLog()
{
    showLogForInfos(m_logInfos, m_logErrors);
}

void KRAProgressDialog::conversionAllDone()
{
    if (auto host = std::dynamic_pointer_cast<KRAConversionHost>(m_host.lock()))
        host->conversionAllDone();
}

void KRAProgressDialog::onCancel()
{
    if (!m_allDone) {
        m_shared->events->setBEvtQuit(true);
        m_shared->events->setBPause(false);
    }
    conversionAllDone();
}

void KRAProgressDialog::cancelOperation(QObject*)
{
    onCancel();
}

void KRAProgressDialog::onPause()
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
    if (m_buttonPause)
        m_buttonPause->setText(m_userPause ? QStringLiteral("&Resume") : QStringLiteral("&Pause"));
    if (!m_userPause)
        assignIdleCores();
}

KRAStatusLogEntryRef KRAProgressDialog::logEntry(QMap<uint64_t, KRAStatusLogEntryRef>& log, uint64_t index)
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

void KRAProgressDialog::onStatusAction(const QString& text, uint64_t index)
{
    if (KRACPU* cpu = cpuByTask(index))
        cpu->status = text;
    updateLabels();
}

void KRAProgressDialog::onStatusPercentDone(int percent, uint64_t index)
{
    if (KRACPU* cpu = cpuByTask(index))
        cpu->percentDone = static_cast<uint64_t>(std::clamp(percent, 0, 100));
    updateLabels();
}

void KRAProgressDialog::onLengthMS(uint64_t lengthMS, uint64_t index)
{
    if (KRACPU* cpu = cpuByTask(index))
        cpu->lengthMS = lengthMS;
    updateLabels();
}

void KRAProgressDialog::onFPS(uint64_t index, double fps)
{
    if (KRACPU* cpu = cpuByTask(index))
        cpu->fps = fps;
    updateLabels();
}

void KRAProgressDialog::onStatusInfoLine(const QString& line, uint64_t index)
{
    logEntry(m_logInfos, index)->entries.append(line);
}

void KRAProgressDialog::onStatusErrorLine(const QString& line, uint64_t index)
{
    if (index < numFiles())
        m_spec->entries.at(static_cast<qsizetype>(index))->hadErrors = true;
    logEntry(m_logErrors, index)->entries.append(line);
}

// Lines of a file whose output was kept: with the errors, so that the log shows them whatever
// the options, but the file did not fail.
void KRAProgressDialog::onStatusWarningLine(const QString& line, uint64_t index)
{
    logEntry(m_logErrors, index)->entries.append(line);
}

void KRAProgressDialog::onStatusOutcome(KRAConversionOutcome how, uint64_t index)
{
    if (how == KRAConversionOutcome::Failed && index < numFiles())
        m_spec->entries.at(static_cast<qsizetype>(index))->hadErrors = true;
    if (how == KRAConversionOutcome::Failed || how == KRAConversionOutcome::ConvertedWithWarnings)
        logEntry(m_logErrors, index)->setOutcome(how);
    else if (m_logErrors.contains(index))
        m_logErrors[index]->setOutcome(how);
}

void KRAProgressDialog::updateLabels()
{
    // However many slots report, the labels are drawn at most ten times a second.
    if (!m_labelTimer.isActive())
        m_labelTimer.start();
}

void KRAProgressDialog::refreshLabels()
{
    m_labelTimer.stop();
    if (m_timeBegin && !m_allDone && !m_userPause) {
        const uint64_t working = workingMS();
        m_ratioRate.sample(working, getRatioDone());
        m_lengthRate.sample(working, static_cast<double>(getLengthDone()));
    }
    if (!m_labelMain)
        return;
    m_labelMain->setText(mainLabelText());
    m_progressBar->setValue(m_allDone ? 100 : getPercentDone());
    m_labelElapsed->setText(elapsedText());
    m_labelLeft->setText(leftText());
    m_labelSpeed->setText(speedText());
    m_table->clear();
    for (const KRACPU& cpu : m_cpus) {
        auto* row = new QTreeWidgetItem(m_table);
        row->setText(0, cpu.indexOfThisCPUString());
        row->setText(1, cpu.isBusy() ? cpu.status : (cpu.status.isEmpty() ? QStringLiteral("Idle.") : cpu.status));
        row->setText(2, cpu.isBusy() ? QStringLiteral("%1%").arg(cpu.percentDone) : QString());
        row->setText(3, cpu.isBusy() && cpu.fps > 0 ? QStringLiteral("%1 fps").arg(cpu.fps, 0, 'f', 1) : QString());
        row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        row->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
    }
}
