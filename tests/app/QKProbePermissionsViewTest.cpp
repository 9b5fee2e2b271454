#include "app/QKProbePermissionsView.h"
#include "app/AppTestSupport.h"
#include "app/KRAPanelHostBase.h"

#include "xclass/XRegistry.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs the check as a user that the folder's rights apply to: root passes every permission
// test, so as root it runs in a child process that has become nobody.
int AsUnprivileged(const std::function<bool()>& check)
{
    if (geteuid() != 0)
        return check() ? 1 : 0;
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(3);
        _exit(check() ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A home of its own, with Documents and Desktop where the XDG defaults put them; the
// registry store beside it, readable by the unprivileged child.
class ProbeHome {
public:
    ProbeHome()
        : m_home("HOME", m_dir.path()), m_config("XDG_CONFIG_HOME", m_dir.file("config")),
          m_store(TestStoreScope::Key::Program, "store/XRegistry")
    {
        chmod(m_dir.path().c_str(), 0755);
        chmod(m_store.dir().path().c_str(), 0755);
        chmod(m_store.dir().file("store").c_str(), 0777);
    }
    std::string documents() const { return m_dir.file("Documents"); }
    std::string desktop() const { return m_dir.file("Desktop"); }
    // Lets the unprivileged child read the store too.
    void shareStore() const
    {
        chmod(m_store.path().c_str(), 0666);
        chmod((m_store.path() + ".lock").c_str(), 0666);
    }

private:
    TestTempDir m_dir;
    TestEnvScope m_home;
    TestEnvScope m_config;
    TestStoreScope m_store;
};

TEST(QKProbePermissionsViewTest, OnlyAFolderThatExistsButMayNotBeOpenedIsBlocked)
{
    ProbeHome home;
    const QString documents = QString::fromStdString(home.documents());
    EXPECT_FALSE(QKProbePermissionsView::isFolderBlocked(documents)); // missing
    EXPECT_EQ(QKProbePermissionsView::probedFolders(),
              (QStringList{documents, QString::fromStdString(home.desktop())}));

    ASSERT_EQ(mkdir(home.documents().c_str(), 0755), 0);
    // Empty but readable: on Linux nothing is missing, so no panel.
    EXPECT_EQ(AsUnprivileged([] { return QKProbePermissionsView::probeIfNeeded(); }), 0);

    ASSERT_EQ(chmod(home.documents().c_str(), 0), 0);
    EXPECT_EQ(AsUnprivileged([&] { return QKProbePermissionsView::isFolderBlocked(documents); }), 1);
    EXPECT_EQ(AsUnprivileged([] { return QKProbePermissionsView::probeIfNeeded(); }), 1);
    EXPECT_EQ(AsUnprivileged([&] {
                  return QKProbePermissionsView::firstBlockedFolder(QKProbePermissionsView::probedFolders()) ==
                         documents;
              }),
              1);

    // The Desktop is checked too.
    ASSERT_EQ(chmod(home.documents().c_str(), 0755), 0);
    ASSERT_EQ(mkdir(home.desktop().c_str(), 0), 0);
    ASSERT_EQ(chmod(home.desktop().c_str(), 0), 0);
    EXPECT_EQ(AsUnprivileged([] { return QKProbePermissionsView::probeIfNeeded(); }), 1);
}

TEST(QKProbePermissionsViewTest, NotAgainSwitchesTheProbeOffForGood)
{
    ProbeHome home;
    ASSERT_EQ(mkdir(home.documents().c_str(), 0), 0);
    ASSERT_EQ(chmod(home.documents().c_str(), 0), 0);

    auto host = KRAPanelHostBase::newWindow();
    auto next = std::make_shared<QKPanelViewController>();
    auto probe = std::make_shared<QKProbePermissionsView>();
    probe->setPanelContinueTo(next);
    host->setCurrentPanel(probe);
    EXPECT_EQ(probe->strMessage(), QStringLiteral("Marvoni Video Converter requires Files and Folders access "
                                                  "permissions enabled in the folder's Properties in your file "
                                                  "manager."));
    auto* message = probe->view()->findChild<QLabel*>(QStringLiteral("message"));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->text(), probe->strMessage());

    auto* box = probe->view()->findChild<QCheckBox*>(QStringLiteral("notAgain"));
    ASSERT_NE(box, nullptr);
    box->click();
    // Stored at once, before Continue.
    EXPECT_EQ(XRegistry::GetDWORD(QKProbePermissionsView::kSuppressValue), 1u);
    home.shareStore();
    EXPECT_EQ(AsUnprivileged([] { return QKProbePermissionsView::probeIfNeeded(); }), 0);

    box->click();
    EXPECT_EQ(XRegistry::GetDWORD(QKProbePermissionsView::kSuppressValue), 0u);
    box->click();

    auto* cont = probe->view()->findChild<QPushButton*>(QStringLiteral("btnContinue"));
    ASSERT_NE(cont, nullptr);
    cont->click();
    EXPECT_EQ(host->currentPanel(), next);
    ProcessPendingEvents();
    EXPECT_EQ(XRegistry::GetDWORD(QKProbePermissionsView::kSuppressValue), 1u);
}

} // namespace
