#include "app/KRAPanelHostBase.h"
#include "app/AppTestSupport.h"
#include "kit/KRAException.h"
#include "kit/QKPleaseWaitDialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Log = std::vector<std::string>;

class TestPanel : public QKPanelViewController {
public:
    TestPanel(Log* log, std::string name, bool* destroyed = nullptr)
        : m_log(log), m_name(std::move(name)), m_destroyed(destroyed)
    {
    }
    ~TestPanel() override
    {
        if (m_destroyed)
            *m_destroyed = true;
    }

    QSize viewSize{300, 200};
    bool resizable = true;
    QSize minSize{0, 0};
    QSize preferred{0, 0};
    bool sizeToHost = false;
    QString sizeClass;
    bool root = false;
    bool launcher = false;
    QUrl help;
    bool configurable = false;
    QObject* configuredBy = nullptr;
    std::function<bool(QKeyEvent*)> keyEquivalent;
    bool throwOnShow = false;
    std::weak_ptr<KRAPanelHostInterface> host;
    KRAPanel* backtraceFrom = nullptr;
    QPointer<QLineEdit> edit;

    QSize panelMinSize() override { return minSize; }
    QSize panelPreferredSize() override { return preferred; }
    bool panelResizable() override { return resizable; }
    bool panelSizeToHost() override { return sizeToHost; }
    QString panelSizeClass() override { return sizeClass; }
    bool panelIsRoot() override { return root; }
    bool panelIsLauncher() override { return launcher; }
    QUrl panelHelpURL() override { return help; }
    bool panelHasConfigure() override { return configurable; }
    void panelConfigure(QObject* sender) override { configuredBy = sender; }
    bool panelPerformKeyEquivalent(QKeyEvent* event) override { return keyEquivalent && keyEquivalent(event); }

    void panelWillBecomeVisible() override
    {
        record("willBecomeVisible");
        if (throwOnShow)
            throw KRAException(QStringLiteral("PanelError"), QStringLiteral("cannot show"));
    }
    void panelDidBecomeVisible() override { record("didBecomeVisible"); }
    void panelWillClose() override { record("willClose"); }
    void panelWindowDidResignKey() override { record("resignKey"); }
    void panelAttachedToHost(const std::shared_ptr<KRAPanelHostInterface>& h) override
    {
        host = h;
        record("attached");
    }
    void panelBeforeBacktraceFrom(KRAPanel* from) override
    {
        backtraceFrom = from;
        record("backtrace");
    }

protected:
    void loadView() override
    {
        auto* view = new QWidget;
        auto* layout = new QVBoxLayout(view);
        edit = new QLineEdit(view);
        layout->addWidget(edit);
        layout->addStretch(1);
        view->resize(viewSize);
        setView(view);
    }

private:
    void record(const char* what)
    {
        if (m_log)
            m_log->push_back(m_name + "." + what);
    }
    Log* m_log;
    std::string m_name;
    bool* m_destroyed;
};

class KRAPanelHostBaseTest : public ::testing::Test {
protected:
    void SetUp() override { QSettings().clear(); }
    void TearDown() override
    {
        KRAPanelHostBase::releaseAllInstances();
        ProcessPendingEvents();
        QSettings().clear();
    }

    std::shared_ptr<TestPanel> panel(const std::string& name, bool* destroyed = nullptr)
    {
        return std::make_shared<TestPanel>(&log, name, destroyed);
    }
    static QRect screen() { return QGuiApplication::primaryScreen()->availableGeometry(); }

    Log log;
};

TEST_F(KRAPanelHostBaseTest, SwitchingTellsBothPanelsInOrderAndHandsOverTheWindow)
{
    auto host = KRAPanelHostBase::newWindow();
    auto a = panel("a");
    a->setTitle(QStringLiteral("First"));
    host->setCurrentPanel(a);
    EXPECT_EQ(log, (Log{"a.willBecomeVisible", "a.didBecomeVisible", "a.attached"}));
    EXPECT_TRUE(host->mainWindow()->isVisible());
    EXPECT_EQ(host->mainWindow()->windowTitle(), QStringLiteral("First"));
    EXPECT_EQ(a->view()->window(), host->mainWindow());
    EXPECT_EQ(a->host.lock().get(), static_cast<KRAPanelHostInterface*>(host.get()));

    log.clear();
    auto b = panel("b");
    host->setCurrentPanel(b);
    EXPECT_EQ(log, (Log{"b.willBecomeVisible", "a.willClose", "b.didBecomeVisible", "b.attached"}));
    EXPECT_EQ(host->currentPanel(), b);
    EXPECT_EQ(host->mainWindow()->windowTitle(), QStringLiteral("untitled"));
    // The old view is out of the window but still its panel's.
    EXPECT_EQ(a->view()->parentWidget(), nullptr);
    EXPECT_FALSE(a->view()->isVisible());

    b->setTitle(QStringLiteral("Renamed"));
    host->panelNameChanged();
    EXPECT_EQ(host->mainWindow()->windowTitle(), QStringLiteral("Renamed"));
}

TEST_F(KRAPanelHostBaseTest, ShowingThePanelAlreadyShownChangesNothing)
{
    auto host = KRAPanelHostBase::newWindow();
    auto a = panel("a");
    host->setCurrentPanel(a);
    host->mainWindow()->resize(520, 410);
    log.clear();
    host->setCurrentPanel(a);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(host->mainWindow()->size(), QSize(520, 410));
}

TEST_F(KRAPanelHostBaseTest, TheWindowFitsTheViewAboutItsOldCentre)
{
    auto host = KRAPanelHostBase::newWindow();
    QWidget* window = host->mainWindow();
    auto first = panel("first");
    first->viewSize = QSize(500, 300);
    host->setCurrentPanel(first); // shown from here on, with whatever frame the platform adds
    const QPoint centre = window->frameGeometry().center();
    auto a = panel("a");
    a->viewSize = QSize(320, 240);
    host->setCurrentPanel(a);
    EXPECT_EQ(window->size(), QSize(320, 240));
    EXPECT_LE((window->frameGeometry().center() - centre).manhattanLength(), 2);

    // A preferred size replaces only the dimensions it gives.
    auto b = panel("b");
    b->viewSize = QSize(320, 240);
    b->preferred = QSize(0, 300);
    host->setCurrentPanel(b);
    EXPECT_EQ(window->size(), QSize(320, 300));

    // A panel that sizes to its host leaves the window as it is.
    auto c = panel("c");
    c->viewSize = QSize(100, 100);
    c->sizeToHost = true;
    host->setCurrentPanel(c);
    EXPECT_EQ(window->size(), QSize(320, 300));
}

TEST_F(KRAPanelHostBaseTest, AFittedWindowIsKeptOnTheScreen)
{
    auto host = KRAPanelHostBase::newWindow();
    QWidget* window = host->mainWindow();
    auto first = panel("first");
    first->viewSize = QSize(200, 150);
    host->setCurrentPanel(first);
    window->move(screen().left() - 400, screen().top() - 300);
    auto a = panel("a");
    a->viewSize = QSize(screen().width() + 200, 100);
    host->setCurrentPanel(a);
    EXPECT_EQ(window->frameGeometry().top(), screen().top());
    EXPECT_EQ(window->frameGeometry().left(), screen().left());
    EXPECT_EQ(window->frameGeometry().width(), screen().width());
}

TEST_F(KRAPanelHostBaseTest, SizeLimitsComeFromThePanel)
{
    auto host = KRAPanelHostBase::newWindow();
    QWidget* window = host->mainWindow();
    auto fixed = panel("fixed");
    fixed->resizable = false;
    fixed->viewSize = QSize(250, 180);
    host->setCurrentPanel(fixed);
    EXPECT_EQ(window->minimumSize(), QSize(250, 180));
    EXPECT_EQ(window->maximumSize(), QSize(250, 180));
    EXPECT_EQ(window->size(), QSize(250, 180));

    auto free = panel("free");
    free->minSize = QSize(150, 120);
    host->setCurrentPanel(free);
    EXPECT_EQ(window->minimumSize(), QSize(150, 120));
    EXPECT_EQ(window->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
}

TEST_F(KRAPanelHostBaseTest, SizeClassesRememberTheirFrame)
{
    auto host = KRAPanelHostBase::newWindow();
    QWidget* window = host->mainWindow();
    const QRect area = screen();
    auto a = panel("a");
    a->sizeClass = QStringLiteral("converter");
    host->setCurrentPanel(a);
    EXPECT_EQ(host->sizeClass(), QStringLiteral("converter"));
    window->move(area.left() + 30, area.top() + 40);
    window->resize(420, 310);

    auto plain = panel("plain");
    host->setCurrentPanel(plain); // saves the frame of the class it leaves
    EXPECT_EQ(QSettings().value(KRAPanelHostBase::sizeClassKey(QStringLiteral("converter"))).toString(),
              QStringLiteral("%1 %2 420 310").arg(area.left() + 30).arg(area.top() + 40));
    EXPECT_TRUE(host->sizeClass().isEmpty());

    auto b = panel("b");
    b->sizeClass = QStringLiteral("converter");
    host->setCurrentPanel(b);
    EXPECT_EQ(window->size(), QSize(420, 310));
    EXPECT_EQ(window->pos(), QPoint(area.left() + 30, area.top() + 40));
}

TEST_F(KRAPanelHostBaseTest, ARememberedFrameThatIsNotFourNumbersIsIgnored)
{
    for (const char* bad : {"10 20 300", "10 20 300 200 5", "ten 20 300 200", "10 20 0 200", "10,20,300,200"}) {
        SCOPED_TRACE(bad);
        QSettings().setValue(KRAPanelHostBase::sizeClassKey(QStringLiteral("odd")), QString::fromLatin1(bad));
        auto host = KRAPanelHostBase::newWindow();
        auto a = panel("a");
        a->sizeClass = QStringLiteral("odd");
        a->viewSize = QSize(310, 210);
        host->setCurrentPanel(a);
        // Fitted to the view instead: never a window of no size in a corner.
        EXPECT_EQ(host->mainWindow()->size(), QSize(310, 210));
        EXPECT_FALSE(host->applySizeClass(QStringLiteral("odd"), true));
        host->close();
    }
}

TEST_F(KRAPanelHostBaseTest, AFrameOffEveryScreenNeverPlacesTheWindow)
{
    const QRect area = screen();
    const QString key = KRAPanelHostBase::sizeClassKey(QStringLiteral("gone"));
    QSettings().setValue(key, QStringLiteral("%1 %2 400 300").arg(area.right() + 5000).arg(area.bottom() + 5000));

    auto host = KRAPanelHostBase::newWindow();
    QWidget* window = host->mainWindow();
    const QRect before = window->geometry();
    EXPECT_TRUE(area.contains(before.center()));
    // Neither when switching panels nor at the window's first load (a monitor since
    // unplugged): the window stays where it can be seen.
    EXPECT_FALSE(host->applySizeClass(QStringLiteral("gone"), false));
    EXPECT_FALSE(host->applySizeClass(QStringLiteral("gone"), true));
    EXPECT_EQ(window->geometry(), before);

    auto a = panel("a");
    a->sizeClass = QStringLiteral("gone");
    a->viewSize = QSize(280, 190);
    host->setCurrentPanel(a);
    EXPECT_TRUE(area.intersects(window->geometry()));
    EXPECT_EQ(window->size(), QSize(280, 190));

    // A frame that shows on the screen is applied at first load.
    QSettings().setValue(key, QStringLiteral("%1 %2 400 300").arg(area.left() + 10).arg(area.top() + 10));
    auto other = KRAPanelHostBase::newWindow();
    EXPECT_TRUE(other->applySizeClass(QStringLiteral("gone"), true));
    EXPECT_EQ(other->mainWindow()->size(), QSize(400, 300));
}

TEST_F(KRAPanelHostBaseTest, ReturningToTheRootTellsItWhereFrom)
{
    auto host = KRAPanelHostBase::newWindow();
    EXPECT_FALSE(host->returnToRoot());
    auto root = panel("root");
    root->root = true;
    root->launcher = true;
    auto work = panel("work");
    host->setCurrentPanel(root);
    EXPECT_EQ(host->rootPanel(), root);
    EXPECT_TRUE(host->isCurrentPanelLauncher());
    EXPECT_EQ(KRAPanelHostBase::findLauncher(), host);
    host->setCurrentPanel(work);
    EXPECT_FALSE(host->isCurrentPanelLauncher());
    EXPECT_EQ(KRAPanelHostBase::findLauncher(), nullptr);

    log.clear();
    EXPECT_TRUE(host->returnToRoot());
    EXPECT_EQ(root->backtraceFrom, work.get());
    EXPECT_EQ(host->currentPanel(), root);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "root.backtrace");
}

TEST_F(KRAPanelHostBaseTest, ClosingTellsThePanelAndTheHostLeavesAfterwards)
{
    bool destroyed = false;
    std::weak_ptr<KRAPanelHostBase> weak;
    {
        auto host = KRAPanelHostBase::newWindow();
        weak = host;
        host->setCurrentPanel(panel("only", &destroyed));
        EXPECT_EQ(KRAPanelHostBase::allInstances().size(), 1u);
        // No root panel: returnToRootOrClose closes.
        log.clear();
        host->returnToRootOrClose();
        EXPECT_EQ(log, (Log{"only.willClose"}));
        EXPECT_FALSE(destroyed);
    }
    ProcessPendingEvents();
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(KRAPanelHostBase::allInstances().empty());
}

TEST_F(KRAPanelHostBaseTest, APanelReplacedLivesUntilTheEventThatReplacedItIsOver)
{
    auto host = KRAPanelHostBase::newWindow();
    bool destroyed = false;
    host->setCurrentPanel(panel("old", &destroyed));
    host->setCurrentPanel(panel("new"));
    EXPECT_FALSE(destroyed);
    ProcessPendingEvents();
    EXPECT_TRUE(destroyed);
}

TEST_F(KRAPanelHostBaseTest, HelpAndConfigurationButtonsFollowThePanel)
{
    auto host = KRAPanelHostBase::newWindow();
    auto plain = panel("plain");
    plain->viewSize = QSize(300, 200);
    host->setCurrentPanel(plain);
    EXPECT_TRUE(host->helpButton() == nullptr || !host->helpButton()->isVisible());
    EXPECT_EQ(host->mainWindow()->size(), QSize(300, 200));

    auto both = panel("both");
    both->help = QUrl(QStringLiteral("https://example.invalid/help"));
    both->configurable = true;
    both->viewSize = QSize(300, 200);
    host->setCurrentPanel(both);
    ASSERT_NE(host->helpButton(), nullptr);
    ASSERT_NE(host->configButton(), nullptr);
    EXPECT_TRUE(host->helpButton()->isVisible());
    EXPECT_TRUE(host->configButton()->isVisible());
    EXPECT_EQ(host->currentHelpURL(), both->help);
    // The strip comes on top of the view, which keeps its size.
    EXPECT_EQ(host->mainWindow()->height(), 200 + KRAPanelHostBase::kButtonStripHeight);
    EXPECT_EQ(both->view()->size(), QSize(300, 200));
    // Help at the right edge, configuration to its left.
    const QPoint help = host->helpButton()->mapTo(host->mainWindow(), QPoint(0, 0));
    const QPoint config = host->configButton()->mapTo(host->mainWindow(), QPoint(0, 0));
    EXPECT_EQ(help.x() + host->helpButton()->width(), host->mainWindow()->width() - 5);
    EXPECT_EQ(config.x(), help.x() - 24);

    host->configButton()->click();
    EXPECT_EQ(both->configuredBy, host->configButton());

    auto configOnly = panel("configOnly");
    configOnly->configurable = true;
    host->setCurrentPanel(configOnly);
    EXPECT_FALSE(host->helpButton()->isVisible());
    EXPECT_TRUE(host->configButton()->isVisible());
}

TEST_F(KRAPanelHostBaseTest, ThePanelGetsKeysBeforeTheWindowDoes)
{
    auto host = KRAPanelHostBase::newWindow();
    auto a = panel("a");
    int offered = 0;
    bool take = true;
    a->keyEquivalent = [&](QKeyEvent* event) {
        if (event->key() != Qt::Key_Q)
            return false;
        ++offered;
        return take;
    };
    host->setCurrentPanel(a);
    host->mainWindow()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(host->mainWindow(), 300000));
    a->edit->setFocus();

    // Taken by the panel: the line edit with the focus never sees it.
    QTest::keyClick(a->edit, Qt::Key_Q);
    EXPECT_EQ(offered, 1);
    EXPECT_EQ(a->edit->text(), QString());

    take = false;
    QTest::keyClick(a->edit, Qt::Key_Q);
    EXPECT_EQ(offered, 2);
    EXPECT_EQ(a->edit->text(), QStringLiteral("q"));

    // Keys the panel does not want go their usual way.
    QTest::keyClicks(a->edit, QStringLiteral("xy"));
    EXPECT_EQ(a->edit->text(), QStringLiteral("qxy"));
    EXPECT_EQ(offered, 2);

    // Return that no control takes presses the panel's default button, as in a dialog.
    auto* go = new QPushButton(QStringLiteral("Go"), a->view());
    go->setDefault(true);
    go->show();
    int pressed = 0;
    QObject::connect(go, &QPushButton::clicked, [&] { ++pressed; });
    QTest::keyClick(a->edit, Qt::Key_Return);
    EXPECT_TRUE(WaitFor([&] { return pressed == 1; }));
    go->setEnabled(false);
    QTest::keyClick(a->edit, Qt::Key_Enter, Qt::KeypadModifier);
    ProcessPendingEvents();
    EXPECT_EQ(pressed, 1);
}

TEST_F(KRAPanelHostBaseTest, ThePanelHearsWhenItsWindowLosesTheFocus)
{
    auto host = KRAPanelHostBase::newWindow();
    host->setCurrentPanel(panel("a"));
    host->mainWindow()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(host->mainWindow(), 300000));
    log.clear();
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other, 300000));
    EXPECT_EQ(std::count(log.begin(), log.end(), "a.resignKey"), 1);
}

class CancellableWait : public QKPleaseWaitDialog {
public:
    explicit CancellableWait(bool cancel) : m_cancel(cancel) {}
    bool showCancel() override { return m_cancel; }
    void onCancel() override { ++cancels; }
    int cancels = 0;

private:
    bool m_cancel;
};

TEST_F(KRAPanelHostBaseTest, EscapeCancelsAPleaseWaitPanelOnlyWhenItOffersCancel)
{
    auto host = KRAPanelHostBase::newWindow();
    auto wait = std::make_shared<CancellableWait>(true);
    host->setCurrentPanel(wait);
    QTest::keyClick(host->mainWindow(), Qt::Key_Escape);
    EXPECT_EQ(wait->cancels, 1);
    // The panel sizes to its host: the window keeps its size, within the panel's minimum.
    EXPECT_GE(host->mainWindow()->width(), 200);

    auto quiet = std::make_shared<CancellableWait>(false);
    host->setCurrentPanel(quiet);
    QTest::keyClick(host->mainWindow(), Qt::Key_Escape);
    EXPECT_EQ(quiet->cancels, 0);
    EXPECT_EQ(wait->cancels, 1);
    EXPECT_TRUE(host->mainWindow()->isVisible());
}

class RecordingHost : public KRAPanelHostBase {
public:
    QString error;
    void panelSwitchError(std::exception_ptr e) override
    {
        try {
            std::rethrow_exception(e);
        } catch (const KRAException& caught) {
            error = caught.name() + QStringLiteral(": ") + caught.reason();
        }
    }
};

TEST_F(KRAPanelHostBaseTest, AnExceptionWhileSwitchingGoesToPanelSwitchError)
{
    auto host = std::make_shared<RecordingHost>();
    host->window();
    auto bad = panel("bad");
    bad->throwOnShow = true;
    host->setCurrentPanel(bad);
    EXPECT_EQ(host->error, QStringLiteral("PanelError: cannot show"));
}

} // namespace

TEST_F(KRAPanelHostBaseTest, AnOpenerLivesWhileItsSubPanelsAreShownAndGoesAfter)
{
    bool rootGone = false, setupGone = false, listGone = false, otherGone = false;
    auto host = KRAPanelHostBase::newWindow();
    std::weak_ptr<TestPanel> setup, list;
    {
        auto root = panel("root", &rootGone);
        root->root = true;
        host->setCurrentPanel(root);
        auto made = panel("setup", &setupGone);
        setup = made;
        host->showSubPanel(made, root);
        auto sub = panel("list", &listGone);
        list = sub;
        host->showSubPanel(sub, made);
    }
    ProcessPendingEvents();
    // Two levels down, everything on the way back is still there.
    ASSERT_FALSE(setupGone);
    EXPECT_EQ(host->openerChain().size(), 2u);

    // Back to the setup: the list it opened goes, the setup stays as it was.
    host->setCurrentPanel(setup.lock());
    ProcessPendingEvents();
    EXPECT_TRUE(listGone);
    EXPECT_FALSE(setupGone);
    EXPECT_EQ(host->openerChain().size(), 1u);

    // A sub-panel opened again from a panel already in the chain keeps the chain up to it.
    host->showSubPanel(panel("list2"), setup.lock());
    EXPECT_EQ(host->openerChain().size(), 2u);

    // Any other panel ends the chain; the root panel stays the host's.
    host->setCurrentPanel(panel("other", &otherGone));
    ProcessPendingEvents();
    EXPECT_TRUE(setupGone);
    EXPECT_TRUE(host->openerChain().empty());
    EXPECT_FALSE(rootGone);
}

TEST_F(KRAPanelHostBaseTest, ClosingTheWindowLetsTheOpenersGo)
{
    bool openerGone = false;
    auto host = KRAPanelHostBase::newWindow();
    {
        auto opener = panel("opener", &openerGone);
        host->setCurrentPanel(opener);
        host->showSubPanel(panel("sub"), opener);
    }
    ProcessPendingEvents();
    ASSERT_FALSE(openerGone);
    host->mainWindow()->close();
    ProcessPendingEvents();
    EXPECT_TRUE(openerGone);
}
