// One QApplication for the whole run, on the offscreen platform unless the environment names
// another, with the Qt main-thread poster installed and the settings kept in a temporary
// folder of their own.
#include "app/AppTestSupport.h"

#include "app/KRAPanelHostBase.h"
#include "platform/XQtMainThreadPoster.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>

#include <memory>

namespace {

class AppEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        m_settings = std::make_unique<TestTempDir>();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(m_settings->path()));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(m_settings->path()));
        m_app = new QApplication(m_argc, m_argv);
        QCoreApplication::setOrganizationName(QStringLiteral("BrantokTests"));
        QCoreApplication::setApplicationName(QStringLiteral("app_tests"));
        m_poster = std::make_unique<XQtMainThreadPosterScope>();
    }
    void TearDown() override
    {
        KRAPanelHostBase::releaseAllInstances();
        m_poster.reset();
        delete m_app;
        m_app = nullptr;
        m_settings.reset();
    }

private:
    int m_argc = 1;
    char m_name[10] = "app_tests";
    char* m_argv[2] = {m_name, nullptr};
    QApplication* m_app = nullptr;
    std::unique_ptr<XQtMainThreadPosterScope> m_poster;
    std::unique_ptr<TestTempDir> m_settings;
};

[[maybe_unused]] ::testing::Environment* const kAppEnvironment =
    ::testing::AddGlobalTestEnvironment(new AppEnvironment);

} // namespace
