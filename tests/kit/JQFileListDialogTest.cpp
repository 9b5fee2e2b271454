// The file-list panel in a small window host of the test's own: what it lists, copies,
// saves and reveals, the keys, and going back.
#include "kit/JQFileListDialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QVBoxLayout>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/TestDBus.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"

namespace {

void ProcessPending()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, 0);
        QCoreApplication::processEvents();
    }
}

// Shows one panel at a time in a plain window, as the program's window host does: the
// panel's view fills the window, and a panel that is replaced lives until the current event
// has been handled.
class TestHost : public KRAPanelHostInterface {
public:
    TestHost()
    {
        window.resize(600, 400);
        m_layout = new QVBoxLayout(&window);
    }

    void setCurrentPanel(const std::shared_ptr<KRAPanel>& panel) override
    {
        if (panel == m_current)
            return;
        if (m_current) {
            m_current->panelWillClose();
            if (QWidget* view = m_current->panelView()) {
                m_layout->removeWidget(view);
                view->hide();
                view->setParent(nullptr);
            }
            std::shared_ptr<KRAPanel> old = std::move(m_current);
            QMetaObject::invokeMethod(
                qApp, [old] {}, Qt::QueuedConnection);
        }
        m_current = panel;
        if (!panel) {
            window.close();
            return;
        }
        QWidget* view = panel->panelView();
        m_layout->addWidget(view);
        view->show();
        window.show();
        panel->panelDidBecomeVisible();
    }
    std::shared_ptr<KRAPanel> currentPanel() const override { return m_current; }
    std::shared_ptr<KRAPanel> rootPanel() const override { return nullptr; }
    void panelBacktraceTo(const std::shared_ptr<KRAPanel>& panel) override { setCurrentPanel(panel); }
    bool returnToRoot() override { return false; }
    void returnToRootOrClose() override { setCurrentPanel(nullptr); }
    void panelNameChanged() override {}
    QWidget* mainWindow() override { return &window; }
    std::shared_ptr<void> contextData() const override { return nullptr; }
    void setContextData(std::shared_ptr<void>) override {}

    QWidget window;

private:
    QVBoxLayout* m_layout;
    std::shared_ptr<KRAPanel> m_current;
};

class PlainPanel : public QKPanelViewController {};

// The save dialog and the failure alert replaced by scripted answers.
class ScriptedSavePanel : public JQFileListDialog {
public:
    int asked = 0;
    std::optional<QString> answer; // nullopt: the user cancels
    std::vector<std::pair<QString, QString>> failures;
    bool realAlert = false;

protected:
    void chooseSaveLocation(SaveLocationHandler handler) override
    {
        ++asked;
        if (answer)
            handler(*answer);
    }
    void reportSaveFailure(const QString& path, const QString& reason) override
    {
        failures.emplace_back(path, reason);
        if (realAlert)
            JQFileListDialog::reportSaveFailure(path, reason);
    }
};

QUrl Url(const std::string& path)
{
    return XFileURL(XStr::FromUTF8(path));
}

std::string Bytes(const QString& text)
{
    return XStrFromQString(text).ToUTF8String();
}

std::string ClipboardBytes()
{
    return Bytes(QGuiApplication::clipboard()->text());
}

void SelectRows(JQFileListDialog& panel, std::initializer_list<int> rows)
{
    QItemSelectionModel* selection = panel.table()->selectionModel();
    selection->clearSelection();
    for (const int row : rows)
        selection->select(panel.table()->model()->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

template <class Panel = JQFileListDialog>
std::shared_ptr<Panel> Shown(const std::shared_ptr<TestHost>& host, const QList<QUrl>& urls)
{
    auto panel = std::make_shared<Panel>();
    panel->setArrFileURLs(urls);
    panel->setPanelHost(host);
    host->setCurrentPanel(panel);
    return panel;
}

TEST(JQFileListDialog, MergedTextSkipsEmptyPathsAndHasNoStrayLineFeeds)
{
    const QList<QUrl> urls = {QUrl(), Url("/v/a.mp4"), QUrl(QStringLiteral("https://127.0.0.1/x")), Url("/v/b.mp4"),
                              QUrl()};
    EXPECT_EQ(JQFileListDialog::mergeURLs(urls), QStringLiteral("/v/a.mp4\n/v/b.mp4"));
    EXPECT_EQ(JQFileListDialog::mergeURLs({Url("/v/a.mp4")}), QStringLiteral("/v/a.mp4"));
    EXPECT_TRUE(JQFileListDialog::mergeURLs({QUrl(), QUrl()}).isEmpty());
    EXPECT_TRUE(JQFileListDialog::mergeURLs({}).isEmpty());
}

TEST(JQFileListDialog, CopyAndSelectionWorkOnTheSelectedRowsOrOnAll)
{
    auto host = std::make_shared<TestHost>();
    const QList<QUrl> urls = {Url("/v/a.mp4"), Url("/v/b.mp4"), Url("/v/c.mp4")};
    auto panel = Shown(host, urls);
    ASSERT_NE(panel->table(), nullptr);
    EXPECT_EQ(panel->table()->model()->rowCount(), 3);
    EXPECT_EQ(panel->table()->model()->columnCount(), 1);
    EXPECT_EQ(panel->table()->model()->index(1, 0).data().toString(), QStringLiteral("/v/b.mp4"));

    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    EXPECT_EQ(panel->selectedIndexes(), (QList<int>{0, 1, 2}));
    panel->onCopyPath();
    EXPECT_EQ(ClipboardBytes(), "/v/a.mp4\n/v/b.mp4\n/v/c.mp4");

    // Selected from the bottom up; listed in the table's order.
    SelectRows(*panel, {2, 0});
    EXPECT_EQ(panel->selectedIndexes(), (QList<int>{0, 2}));
    EXPECT_EQ(panel->selectedURLs(), (QList<QUrl>{urls[0], urls[2]}));
    panel->onCopyPath();
    EXPECT_EQ(ClipboardBytes(), "/v/a.mp4\n/v/c.mp4");

    // A new list replaces the rows (and drops the selection with them).
    panel->setArrFileURLs({Url("/w/x.mkv")});
    EXPECT_EQ(panel->table()->model()->rowCount(), 1);
    EXPECT_EQ(panel->selectedURLsAsText(), QStringLiteral("/w/x.mkv"));

    // Nothing to copy: the clipboard keeps what it had.
    panel->setArrFileURLs({QUrl()});
    QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
    panel->onCopyPath();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
}

TEST(JQFileListDialog, KeysTabOrderReturnAndCopy)
{
    auto host = std::make_shared<TestHost>();
    auto back = std::make_shared<PlainPanel>();
    auto panel = JQFileListDialog::startWithURLs({Url("/v/a.mp4"), Url("/v/b.mp4"), Url("/v/c.mp4")}, host, back);
    EXPECT_EQ(host->currentPanel(), panel);
    EXPECT_EQ(panel->panelReturnTo(), back);
    host->window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host->window, 300000));
    EXPECT_EQ(QApplication::focusWidget(), panel->table());

    QWidget* view = panel->panelView();
    std::vector<QWidget*> order;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.push_back(QApplication::focusWidget());
    }
    const std::vector<QWidget*> expected = {
        view->findChild<QPushButton*>("btnSaveList"), view->findChild<QPushButton*>("btnReveal"),
        view->findChild<QPushButton*>("btnCopyPath"), view->findChild<QPushButton*>("btnOK"), panel->table()};
    EXPECT_EQ(order, expected);

    SelectRows(*panel, {1, 2});
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QTest::keyClick(panel->table(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(ClipboardBytes(), "/v/b.mp4\n/v/c.mp4");

    QTest::keyClick(panel->table(), Qt::Key_Return);
    EXPECT_EQ(host->currentPanel(), back);
    ProcessPending();
}

TEST(JQFileListDialog, OkReturnsToThePanelItCameFromAndTheHostIsNotKeptAlive)
{
    auto host = std::make_shared<TestHost>();
    auto back = std::make_shared<PlainPanel>();
    host->setCurrentPanel(back);
    std::weak_ptr<JQFileListDialog> shown = JQFileListDialog::startWithURLs({Url("/v/a.mp4")}, host, back);
    ASSERT_EQ(host->currentPanel(), shown.lock());
    EXPECT_EQ(shown.lock()->panelHost(), host);

    shown.lock()->panelView()->findChild<QPushButton*>("btnOK")->click();
    EXPECT_EQ(host->currentPanel(), back);
    ProcessPending();
    EXPECT_TRUE(shown.expired()); // the host held it; nothing else does

    // A host that goes takes its panel with it: the panel does not hold its host.
    std::weak_ptr<KRAPanelHostInterface> weakHost = host;
    shown = JQFileListDialog::startWithURLs({Url("/v/a.mp4")}, host, back);
    host.reset();
    ProcessPending();
    EXPECT_TRUE(weakHost.expired());
    EXPECT_TRUE(shown.expired());
}

TEST(JQFileListDialog, SaveWritesTheWholeListExactlyAndReplacesAnOldFile)
{
    TestTempDir folder;
    auto host = std::make_shared<TestHost>();
    auto panel = Shown<ScriptedSavePanel>(host, {Url("/v/a.mp4"), QUrl(), Url("/v/b c.mp4")});
    const std::string target = folder.path() + "/list.txt";
    WriteTestFile(target, std::string(5000, 'x') + "\nold list\n");

    // The whole list, whatever is selected; no trailing line feed; the old file gone whole.
    SelectRows(*panel, {0});
    panel->answer = QString::fromStdString(target);
    panel->onSaveList();
    EXPECT_EQ(panel->asked, 1);
    EXPECT_EQ(ReadTestFile(target), "/v/a.mp4\n/v/b c.mp4");
    EXPECT_TRUE(panel->failures.empty());

    // Cancelled: nothing written.
    const std::string other = folder.path() + "/other.txt";
    panel->answer.reset();
    panel->onSaveList();
    EXPECT_EQ(panel->asked, 2);
    EXPECT_EQ(ReadTestFile(other, "missing"), "missing");

    // Only empty paths: nothing to save, so nobody is asked.
    panel->setArrFileURLs({QUrl(), QUrl(QStringLiteral("https://127.0.0.1/x"))});
    panel->answer = QString::fromStdString(other);
    panel->onSaveList();
    EXPECT_EQ(panel->asked, 2);
    EXPECT_EQ(ReadTestFile(other, "missing"), "missing");
}

TEST(JQFileListDialog, AFailedSaveKeepsTheOldFileAndTellsTheUser)
{
    TestTempDir folder;
    auto host = std::make_shared<TestHost>();
    auto panel = Shown<ScriptedSavePanel>(host, {Url("/v/a.mp4")});

    // A folder that is a file.
    WriteTestFile(folder.path() + "/plain", "plain");
    const QString underAFile = QString::fromStdString(folder.path() + "/plain/list.txt");
    panel->answer = underAFile;
    panel->onSaveList();
    ASSERT_EQ(panel->failures.size(), 1u);
    EXPECT_EQ(panel->failures[0].first, underAFile);
    EXPECT_FALSE(panel->failures[0].second.isEmpty());
    EXPECT_EQ(ReadTestFile(folder.path() + "/plain"), "plain");

    // An old file whose new content cannot be put beside it (the name leaves no room for the
    // temporary one): it stays as it was. The real alert names the file, on the host window.
    const std::string longName = folder.path() + "/" + std::string(245, 'n') + ".txt";
    WriteTestFile(longName, "old list");
    panel->answer = QString::fromStdString(longName);
    panel->realAlert = true;
    panel->onSaveList();
    ASSERT_EQ(panel->failures.size(), 2u);
    EXPECT_EQ(ReadTestFile(longName), "old list");
    QMessageBox* alert = host->window.findChild<QMessageBox*>();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(alert->text().contains(QString::fromStdString(longName)));
    EXPECT_EQ(alert->informativeText(), panel->failures[1].second);
    alert->accept();
    ProcessPending();
}

TEST(JQFileListDialog, TheSaveDialogIsASheetThatWritesOnlyWhenConfirmed)
{
    TestTempDir folder;
    auto host = std::make_shared<TestHost>();
    auto panel = Shown(host, {Url("/v/a.mp4"), Url("/v/b.mp4")});
    auto openDialog = [&] {
        panel->onSaveList();
        QFileDialog* dialog = host->window.findChild<QFileDialog*>();
        return dialog && dialog->isVisible() ? dialog : nullptr;
    };

    QFileDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("txt"));
    EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("Text files (*.txt)")});
    panel->onSaveList(); // a second click while it shows opens no second dialog
    EXPECT_EQ(host->window.findChildren<QFileDialog*>().size(), 1);
    dialog->setDirectory(QString::fromStdString(folder.path()));
    dialog->selectFile(QStringLiteral("cancelled"));
    dialog->reject();
    ProcessPending();
    EXPECT_EQ(ReadTestFile(folder.path() + "/cancelled.txt", "missing"), "missing");
    EXPECT_EQ(ReadTestFile(folder.path() + "/cancelled", "missing"), "missing");

    dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(QString::fromStdString(folder.path()));
    dialog->selectFile(QStringLiteral("list"));
    static_cast<QDialog*>(dialog)->accept(); // through the public slot: the file dialog checks the name
    ProcessPending();
    EXPECT_EQ(ReadTestFile(folder.path() + "/list.txt"), "/v/a.mp4\n/v/b.mp4");

    // The panel goes while its dialog is open: confirming then must not reach it.
    dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    QPointer<QFileDialog> alive(dialog);
    dialog->setDirectory(QString::fromStdString(folder.path()));
    dialog->selectFile(QStringLiteral("late"));
    host->setCurrentPanel(std::make_shared<PlainPanel>());
    panel.reset();
    ProcessPending();
    ASSERT_TRUE(alive);
    static_cast<QDialog*>(alive.data())->accept();
    ProcessPending();
    EXPECT_EQ(ReadTestFile(folder.path() + "/late.txt", "missing"), "missing");
}

TEST(JQFileListDialog, HostileNamesAreListedCopiedAndSavedAsTheirBytes)
{
    TestTempDir folder;
    const std::vector<std::string> names = {"two  spaces .mp4", "quote\"s and 'single'.mkv", "new\nline.mp4",
                                            "bad\xff\xfe byte.mov", "$(echo x) `y` *.mp4"};
    QList<QUrl> urls;
    std::string expected;
    for (const std::string& name : names) {
        const std::string path = folder.path() + "/" + name;
        WriteTestFile(path, "x");
        urls.append(Url(path));
        expected += (expected.empty() ? "" : "\n") + path;
    }
    auto host = std::make_shared<TestHost>();
    auto panel = Shown<ScriptedSavePanel>(host, urls);

    QAbstractItemModel* model = panel->table()->model();
    ASSERT_EQ(model->rowCount(), static_cast<int>(names.size()));
    for (int row = 0; row < model->rowCount(); ++row)
        EXPECT_EQ(Bytes(model->index(row, 0).data().toString()), folder.path() + "/" + names[row]) << row;

    panel->onCopyPath();
    EXPECT_EQ(ClipboardBytes(), expected);

    const std::string target = folder.path() + "/list \xff.txt";
    panel->answer = XStrToQString(XStr::FromUTF8(target));
    panel->onSaveList();
    EXPECT_TRUE(panel->failures.empty());
    EXPECT_EQ(ReadTestFile(target), expected);
}

// Records what the desktop was asked to open, in place of starting a real program.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

// Reveal goes through a session bus of the suite's own, with or without a file manager on it.
class JQFileListDialogReveal : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_folder = new TestTempDir;
        s_bus = new PrivateBus(s_folder->path());
        if (!s_bus->address.empty())
            s_env = new TestEnvScope("DBUS_SESSION_BUS_ADDRESS", s_bus->address);
    }
    static void TearDownTestSuite()
    {
        delete s_env;
        delete s_bus;
        delete s_folder;
        s_env = nullptr;
        s_bus = nullptr;
        s_folder = nullptr;
    }
    void SetUp() override
    {
        if (s_bus->address.empty())
            GTEST_SKIP() << "dbus-daemon is not available";
        if (!SessionBusIs(s_bus->address))
            GTEST_SKIP() << "the session bus was in use before the test's own bus";
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &opener, "open");
    }
    void TearDown() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    static TestTempDir* s_folder;
    static PrivateBus* s_bus;
    static TestEnvScope* s_env;
    OpenedUrls opener;
};
TestTempDir* JQFileListDialogReveal::s_folder = nullptr;
PrivateBus* JQFileListDialogReveal::s_bus = nullptr;
TestEnvScope* JQFileListDialogReveal::s_env = nullptr;

TEST_F(JQFileListDialogReveal, TheFileManagerShowsTheSelectedFilesOrAll)
{
    FakeFileManager fileManager(s_bus->address);
    ASSERT_TRUE(fileManager.registered());
    const QList<QUrl> urls = {Url("/v/a b.mp4"), Url("/v/new\nline.mp4"), Url("/v/bad\xff.mkv")};
    auto host = std::make_shared<TestHost>();
    auto panel = Shown(host, urls);

    panel->onRevealinFinder();
    SelectRows(*panel, {2, 1});
    panel->onRevealinFinder();
    // No local file among them: nobody is asked, and no folder (or web page) is opened.
    panel->setArrFileURLs({QUrl(), QUrl(QStringLiteral("https://127.0.0.1/x"))});
    panel->onRevealinFinder();

    const std::vector<QStringList> shown = fileManager.shownItems();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], (QStringList{QStringLiteral("file:///v/a%20b.mp4"), QStringLiteral("file:///v/new%0Aline.mp4"),
                                     QStringLiteral("file:///v/bad%FF.mkv")}));
    EXPECT_EQ(shown[1],
              (QStringList{QStringLiteral("file:///v/new%0Aline.mp4"), QStringLiteral("file:///v/bad%FF.mkv")}));
    EXPECT_TRUE(opener.opened.isEmpty());
}

TEST_F(JQFileListDialogReveal, WithoutAFileManagerTheFolderOpens)
{
    auto host = std::make_shared<TestHost>();
    auto panel = Shown(host, {Url("/v/films/a.mp4"), Url("/w/b.mp4")});
    panel->onRevealinFinder();
    EXPECT_EQ(opener.opened, QList<QUrl>{Url("/v/films/")});
}

} // namespace

#include "JQFileListDialogTest.moc"
