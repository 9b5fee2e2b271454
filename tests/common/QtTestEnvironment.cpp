// One QApplication for the whole run of a suite that needs widgets, made when the tests start
// (not while they are listed), on the offscreen platform unless the environment names another.
// Built with MARVONI_TEST_WITHOUT_WIDGETS it is a QGuiApplication: the suite then shows that
// what it tests needs no widgets (pictures and fonts still work).
#include <gtest/gtest.h>

#ifdef MARVONI_TEST_WITHOUT_WIDGETS
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#else
#include <QApplication>
using TestApplication = QApplication;
#endif

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        m_app = new TestApplication(m_argc, m_argv);
    }
    void TearDown() override
    {
        delete m_app;
        m_app = nullptr;
    }

private:
    int m_argc = 1;
    char m_name[6] = "tests";
    char* m_argv[2] = {m_name, nullptr};
    TestApplication* m_app = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace
