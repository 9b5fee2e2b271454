#include "progress/KRAProgressDialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPropertyAnimation>
#include <QVBoxLayout>

#include <algorithm>

#include "kit/KitScreenFit.h"
#include "progress/KRAConversionHost.h"
#include "progress/KRAStatusLogDialog.h"
#include "xclass/XRegistry.h"

// The dialog's runner: its hooks are the dialog's, so that a dialog's tests and pictures can
// replace them as before.
class KRAProgressDialog::Runner : public KRABatchRunner {
public:
    Runner(std::shared_ptr<QKConversionSpec> spec, KRAProgressDialog* dialog)
        : KRABatchRunner(std::move(spec), dialog), m_dialog(dialog)
    {
    }
    KRAPowerAction::Result runnerRequestPowerAction(int action) { return KRABatchRunner::requestPowerAction(action); }
    void runnerPreventSleep() { KRABatchRunner::preventSleep(); }
    void runnerStartThread(uint64_t slot, std::function<void()> work)
    {
        KRABatchRunner::startThread(slot, std::move(work));
    }

protected:
    KRAPowerAction::Result requestPowerAction(int action) override { return m_dialog->requestPowerAction(action); }
    void preventSleep() override { m_dialog->preventSleep(); }
    void startThread(uint64_t slot, std::function<void()> work) override
    {
        m_dialog->startThread(slot, std::move(work));
    }

private:
    KRAProgressDialog* m_dialog;
};

KRAProgressDialog::KRAProgressDialog(std::shared_ptr<QKConversionSpec> spec, std::weak_ptr<KRAPanelHostInterface> host)
    : m_host(std::move(host)), m_runner(std::make_unique<Runner>(std::move(spec), this))
{
    m_optShowInfoLog = XRegistry::GetDWORD(L"dKRAShowInfoLog") != 0;
    setTitle(m_runner->titleText());
}

KRAProgressDialog::~KRAProgressDialog()
{
    // The runner stops and waits for its threads; nothing it reports reaches this dialog then.
    m_runner->setListener(nullptr);
    m_runner.reset();
}

std::shared_ptr<KRAProgressDialog> KRAProgressDialog::createWithSpec(std::shared_ptr<QKConversionSpec> spec,
                                                                     const std::shared_ptr<KRAPanelHostInterface>& host)
{
    auto dialog = std::make_shared<KRAProgressDialog>(std::move(spec), host);
    if (host)
        host->setCurrentPanel(dialog);
    return dialog;
}

KRAPowerAction::Result KRAProgressDialog::requestPowerAction(int action)
{
    return static_cast<Runner&>(*m_runner).runnerRequestPowerAction(action);
}

void KRAProgressDialog::preventSleep()
{
    static_cast<Runner&>(*m_runner).runnerPreventSleep();
}

void KRAProgressDialog::startThread(uint64_t slot, std::function<void()> work)
{
    static_cast<Runner&>(*m_runner).runnerStartThread(slot, std::move(work));
}

void KRAProgressDialog::panelWillClose()
{
    m_runner->events()->setBEvtQuit(true);
    m_runner->events()->setBPause(false);
}

int KRAProgressDialog::heightForNumCPUs(uint64_t count)
{
    return static_cast<int>(std::min<uint64_t>(count, 8) * 51 + 197);
}

QWidget* KRAProgressDialog::panelInitialFocus()
{
    return m_buttonPause && m_buttonPause->isEnabled() ? m_buttonPause.data() : m_buttonCancel.data();
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
    const QKEncoderDescRef& encoder = m_runner->spec()->Encoder;
    const QIcon logo = encoder ? QKEncoderDesc::comboBoxLogoOf(encoder->name()) : QIcon();
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
            item->setChecked(item->data().toInt() == optAfterConversion());
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
    m_runner->start();
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
    for (uint64_t i = 1; i <= cpus().size(); ++i) {
        QAction* item = m_menuEncoding->addAction(i == 1 ? QStringLiteral("Using 1 Encoder")
                                                         : QStringLiteral("Using %1 Encoders").arg(i));
        item->setCheckable(true);
        item->setChecked(i == optNumCPUs());
        item->setData(QVariant::fromValue(i));
        connect(item, &QAction::triggered, this, [this, i] { onCoreCount(i); });
    }
}

void KRAProgressDialog::onCoreCount(uint64_t count)
{
    const bool grew = count > optNumCPUs();
    if (!m_runner->setNumCPUs(count))
        return;
    fillEncodingMenu();
    if (!grew)
        return; // running slots go on; fewer start from now on
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

void KRAProgressDialog::onAllDone()
{
    if (m_progressBar)
        m_progressBar->setValue(100);
    if (m_buttonCancel)
        m_buttonCancel->setText(QStringLiteral("Finish"));
    if (m_buttonPause)
        m_buttonPause->setEnabled(false);
    setTitle(m_runner->titleText());
    if (auto host = m_host.lock())
        host->panelNameChanged();
    const QMap<uint64_t, KRAStatusLogEntryRef>& logErrors = m_runner->logErrors();
    const QMap<uint64_t, KRAStatusLogEntryRef>& logInfos = m_runner->logInfos();
    m_canShowConversionLog = !logErrors.isEmpty() || !logInfos.isEmpty();

    // The computer is being shut down, logged out or restarted: nobody is left to read a log.
    if (m_runner->afterConversionEndsSession())
        return;
    const QMap<uint64_t, KRAStatusLogEntryRef> errors =
        m_optShowErrorLog ? logErrors : QMap<uint64_t, KRAStatusLogEntryRef>();
    const QMap<uint64_t, KRAStatusLogEntryRef> infos =
        m_optShowInfoLog ? logInfos : QMap<uint64_t, KRAStatusLogEntryRef>();
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
    showLogForInfos(m_runner->logInfos(), m_runner->logErrors());
}

void KRAProgressDialog::conversionAllDone()
{
    if (auto host = std::dynamic_pointer_cast<KRAConversionHost>(m_host.lock()))
        host->conversionAllDone();
}

void KRAProgressDialog::onCancel()
{
    m_runner->cancel();
    conversionAllDone();
}

void KRAProgressDialog::cancelOperation(QObject*)
{
    onCancel();
}

void KRAProgressDialog::onPause()
{
    if (allDone())
        return;
    m_runner->togglePause();
    if (m_buttonPause)
        m_buttonPause->setText(paused() ? QStringLiteral("&Resume") : QStringLiteral("&Pause"));
}

void KRAProgressDialog::refreshLabels()
{
    if (!m_labelMain)
        return;
    m_labelMain->setText(mainLabelText());
    m_progressBar->setValue(allDone() ? 100 : getPercentDone());
    m_labelElapsed->setText(elapsedText());
    m_labelLeft->setText(leftText());
    m_labelSpeed->setText(speedText());
    m_table->clear();
    for (const KRACPU& cpu : cpus()) {
        auto* row = new QTreeWidgetItem(m_table);
        row->setText(0, cpu.indexOfThisCPUString());
        row->setText(1, cpu.isBusy() ? cpu.status : (cpu.status.isEmpty() ? QStringLiteral("Idle.") : cpu.status));
        row->setText(2, cpu.isBusy() ? QStringLiteral("%1%").arg(cpu.percentDone) : QString());
        row->setText(3, cpu.isBusy() && cpu.fps > 0 ? QStringLiteral("%1 fps").arg(cpu.fps, 0, 'f', 1) : QString());
        row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        row->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
    }
}
