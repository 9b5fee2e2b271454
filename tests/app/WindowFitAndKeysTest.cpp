// Windows on the screen and on the keyboard: every window inside the screen's available area
// (the offscreen screen is 800x600, smaller than the setup asks for), Return on the focused
// button, the first focus, the Tab order of the setup, and where help comes from.
#include "app/AppTestSupport.h"
#include "app/KRAPanelHost.h"
#include "app/KRELauncher.h"
#include "kit/KitHelp.h"
#include "kit/KitScreenFit.h"
#include "setup/KRAPreConvertDialog.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QTest>

namespace {

class WindowFitAndKeys : public ::testing::Test {
protected:
    void TearDown() override
    {
        KRAPanelHostBase::releaseAllInstances();
        ProcessPendingEvents();
    }

    static QRect Screen() { return QGuiApplication::primaryScreen()->availableGeometry(); }

    TestTempDir dir;
    TestStoreScope store;
    TestEnvScope appData{"_APPDATA_OVERRIDE", dir.file("app")};
    TestEnvScope config{"XDG_CONFIG_HOME", dir.file("config")};
};

// Records the addresses the program asks the desktop to open.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    explicit OpenedUrls(const QString& scheme) : m_scheme(scheme)
    {
        QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~OpenedUrls() override { QDesktopServices::unsetUrlHandler(m_scheme); }
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls.append(url); }

private:
    QString m_scheme;
};

std::shared_ptr<KRAPanelHost> SetupWindow(const std::string& file)
{
    auto host = KRAPanelHost::newWindow();
    host->preConvertFrom(QVariantList{QUrl::fromLocalFile(QString::fromStdString(file))}, nullptr);
    ProcessPendingEvents();
    return host;
}

} // namespace

TEST(KitScreenFit, AFrameIsMovedInsideAndShrunkWhereItIsLarger)
{
    const QRect area(0, 0, 1366, 740);
    EXPECT_EQ(KitFitFrame(QRect(100, 100, 400, 300), area), QRect(100, 100, 400, 300));
    // Below the bottom edge: moved up; past the right edge: moved left.
    EXPECT_EQ(KitFitFrame(QRect(1200, 600, 400, 300), area), QRect(966, 440, 400, 300));
    // Taller than the screen: as tall as it, at its top.
    EXPECT_EQ(KitFitFrame(QRect(50, 30, 700, 900), area), QRect(50, 0, 700, 740));
    EXPECT_EQ(KitFitFrame(QRect(-80, -10, 2000, 100), area), QRect(0, 0, 1366, 100));
    EXPECT_EQ(KitFitFrame(QRect(5, 5, 10, 10), QRect()), QRect(5, 5, 10, 10));
}

TEST_F(WindowFitAndKeys, TheSetupFitsAShortScreenWithConvertOnIt)
{
    auto host = SetupWindow(dir.file("a.mov"));
    auto setup = std::dynamic_pointer_cast<KRAPreConvertDialog>(host->currentPanel());
    ASSERT_TRUE(setup);
    QWidget* window = host->mainWindow();
    EXPECT_TRUE(Screen().contains(window->frameGeometry()))
        << window->frameGeometry().x() << "," << window->frameGeometry().y() << " " << window->frameGeometry().width()
        << "x" << window->frameGeometry().height() << " min " << window->minimumHeight() << " screen "
        << Screen().height();
    // Convert and Back are inside the window, not cut off below it.
    for (QWidget* button :
         {static_cast<QWidget*>(setup->buttonConvert()), static_cast<QWidget*>(setup->buttonBack())}) {
        const QRect inWindow(button->mapTo(window, QPoint(0, 0)), button->size());
        EXPECT_TRUE(window->rect().contains(inWindow)) << button->objectName().toStdString();
        EXPECT_TRUE(button->isVisible());
    }
}

TEST_F(WindowFitAndKeys, ARememberedFrameFromALargerScreenComesBackInsideThisOne)
{
    QSettings().setValue(KRAPanelHostBase::sizeClassKey(QStringLiteral("Converter Setup")),
                         QStringLiteral("300 200 1600 1200"));
    auto host = SetupWindow(dir.file("a.mov"));
    EXPECT_TRUE(Screen().contains(host->mainWindow()->frameGeometry()));
    QSettings().setValue(KRAPanelHostBase::sizeClassKey(QStringLiteral("Converter Setup")),
                         QStringLiteral("700 500 400 300"));
    auto other = SetupWindow(dir.file("b.mov"));
    EXPECT_TRUE(Screen().contains(other->mainWindow()->frameGeometry()));
}

TEST_F(WindowFitAndKeys, ReturnPressesTheFocusedButtonNotTheDefaultOne)
{
    auto host = KRAPanelHost::newLauncher();
    std::weak_ptr<KRAPanel> launcher = host->currentPanel();
    host->preConvertFrom(QVariantList{QUrl::fromLocalFile(QString::fromStdString(dir.file("a.mov")))}, launcher.lock());
    auto setup = std::dynamic_pointer_cast<KRAPreConvertDialog>(host->currentPanel());
    ASSERT_TRUE(setup);
    // The keyboard starts on the encoder pop-up.
    EXPECT_EQ(host->mainWindow()->focusWidget(), setup->encoderPickButton());
    setup->buttonBack()->setFocus();
    QTest::keyClick(setup->buttonBack(), Qt::Key_Return);
    // Back, not Convert: the launcher again, no destination check.
    EXPECT_TRUE(WaitFor([&] { return host->currentPanel() == launcher.lock(); }));
}

TEST_F(WindowFitAndKeys, ReturnOnAFocusedLauncherTileOpensItsTool)
{
    auto host = KRAPanelHost::newLauncher();
    auto* launcher = dynamic_cast<KRELauncher*>(host->currentPanel().get());
    ASSERT_TRUE(launcher);
    ASSERT_FALSE(launcher->apps().empty());
    QToolButton* tile = launcher->apps().front()->button();
    EXPECT_EQ(host->mainWindow()->focusWidget(), tile);
    QTest::keyClick(tile, Qt::Key_Return);
    // "Video Converter" asks for files.
    EXPECT_TRUE(WaitFor([&] { return host->openFileDialog() && host->openFileDialog()->isVisible(); }));
    host->openFileDialog()->reject();
}

TEST_F(WindowFitAndKeys, TabFollowsTheSetupInReadingOrder)
{
    auto host = SetupWindow(dir.file("a.mov"));
    auto setup = std::dynamic_pointer_cast<KRAPreConvertDialog>(host->currentPanel());
    ASSERT_TRUE(setup);
    // From the encoder pop-up Tab reaches the files button, then the page, the effects and the
    // output before Back and Convert, which come last.
    QList<QWidget*> order;
    QWidget* widget = setup->encoderPickButton();
    for (int i = 0; i < 200 && (order.isEmpty() || widget != order.first()); ++i) {
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisibleTo(setup->view()) && !widget->focusProxy() &&
            setup->view()->isAncestorOf(widget))
            order.append(widget);
        widget = widget->nextInFocusChain();
    }
    ASSERT_GE(order.size(), 5);

    EXPECT_EQ(order[0], setup->encoderPickButton());
    EXPECT_EQ(order[1], setup->buttonListFiles());
    EXPECT_EQ(order[order.size() - 2], setup->buttonBack());
    EXPECT_EQ(order.last(), setup->buttonConvert());
    const qsizetype output = order.indexOf(setup->locationPicker()->comboBox());
    ASSERT_GE(output, 0);
    EXPECT_EQ(output, order.size() - 3);
}

TEST_F(WindowFitAndKeys, HelpFollowsTheServerElseTheInstalledReadme)
{
    {
        TestEnvScope web{"MARVONI_WEB_BASE", "http://127.0.0.1:9/base/"};
        EXPECT_EQ(KitMakerHelpURL(QStringLiteral("/Help/qKVOSX/")), QUrl("http://127.0.0.1:9/base/Help/qKVOSX/"));
        auto host = KRAPanelHost::newLauncher();
        EXPECT_EQ(host->currentHelpURL(), QUrl("http://127.0.0.1:9/base/Help/qKVOSX/"));
        OpenedUrls opened(QStringLiteral("http"));
        auto* launcher = dynamic_cast<QKLauncherBase*>(host->currentPanel().get());
        ASSERT_TRUE(launcher);
        launcher->appHelpClicked();
        EXPECT_EQ(opened.urls, QList<QUrl>{QUrl("http://127.0.0.1:9/base/Help/qKVOSX/")});
    }
    {
        TestEnvScope web{"MARVONI_WEB_BASE", "ftp://127.0.0.1/"};
        EXPECT_FALSE(KitMakerHelpURL(QStringLiteral("/x")).isValid());
    }
    TestEnvScope web{"MARVONI_WEB_BASE", nullptr};
    const QUrl readme = KitLocalHelpURL();
    ASSERT_TRUE(readme.isLocalFile());
    EXPECT_TRUE(QFileInfo(readme.toLocalFile()).isFile());
    auto host = KRAPanelHost::newLauncher();
    EXPECT_EQ(host->currentHelpURL(), readme);
    OpenedUrls opened(QStringLiteral("file"));
    host->showHelp();
    EXPECT_EQ(opened.urls, QList<QUrl>{readme});

    // Nothing to open: a message over the window says where help is.
    KitOpenHelp(QUrl(), host->mainWindow());
    auto* message = host->mainWindow()->findChild<QMessageBox*>(QStringLiteral("helpMessage"));
    ASSERT_TRUE(message);
    EXPECT_TRUE(message->text().contains(QStringLiteral("MARVONI_WEB_BASE")));
    message->close();
}

#include "WindowFitAndKeysTest.moc"
