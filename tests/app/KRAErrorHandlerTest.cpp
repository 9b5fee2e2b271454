#include "app/KRAErrorHandler.h"
#include "app/AppTestSupport.h"
#include "kit/KRAException.h"

#include "xclass/XEnvironment.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTimer>

#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

// External linkage, so that the call stack can name it.
[[gnu::noinline]] void MarvoniTestThrowFromDeepInside(int depth)
{
    if (depth > 0)
        MarvoniTestThrowFromDeepInside(depth - 1);
    else
        throw KRAException(QStringLiteral("NSRangeException"), QStringLiteral("index 4 beyond bounds [0 .. 2]"),
                           QVariantMap{{QStringLiteral("index"), 4}});
    asm volatile(""); // keeps the recursion from becoming a jump
}

namespace {

QString ReadText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("<unreadable>");
    return QString::fromUtf8(file.readAll());
}

// The data folder of the reports, under a temporary base.
class ReportFolder {
public:
    ReportFolder() : m_override("_APPDATA_OVERRIDE", m_base.path())
    {
        XSetAppDataFolder(L"MarvoniVideo");
        m_folder = QString::fromStdString(m_base.path() + "/MarvoniVideo");
        QDir().mkpath(m_folder);
    }
    const QString& folder() const { return m_folder; }

private:
    TestTempDir m_base;
    TestEnvScope m_override;
    QString m_folder;
};

unsigned CounterOf(const QString& path)
{
    const QRegularExpression name(QStringLiteral("BugEntry-(\\d+)-(\\d+)\\.txt$"));
    const auto match = name.match(path);
    if (!match.hasMatch() || match.captured(1).toUInt() != static_cast<unsigned>(getpid()))
        return 0;
    return match.captured(2).toUInt();
}

TEST(KRAErrorHandlerTest, TheReportNamesTheExceptionItsInformationAndWhereItWasThrown)
{
    QString text;
    try {
        MarvoniTestThrowFromDeepInside(2);
    } catch (...) {
        text = KRAErrorHandler::reportText(std::current_exception());
    }
    EXPECT_TRUE(text.startsWith(QStringLiteral("Exception name: NSRangeException\n"
                                               "Exception reason: index 4 beyond bounds [0 .. 2]\n"
                                               "Additional information:\n"
                                               "  {\n"
                                               "      index = 4;\n"
                                               "  }\n"
                                               "Trace:\n")))
        << text.toStdString();
    const QStringList trace = text.section(QStringLiteral("Trace:\n"), 1).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GE(trace.size(), 3);
    for (const QString& line : trace)
        EXPECT_TRUE(line.startsWith(QStringLiteral("  "))) << line.toStdString();
    // The innermost frames are the thrower's, by name (the very first may sit in the part of
    // the function the compiler moved out of line for the throw, which has no name of its own).
    const QString innermost = trace.mid(0, 3).join(QLatin1Char('\n'));
    EXPECT_TRUE(innermost.contains(QStringLiteral("MarvoniTestThrowFromDeepInside(int)"))) << text.toStdString();
    EXPECT_GE(text.count(QStringLiteral("MarvoniTestThrowFromDeepInside")), 2);
    EXPECT_FALSE(innermost.contains(QStringLiteral("KRAException::")));
}

TEST(KRAErrorHandlerTest, WithoutInformationThereIsNoSuchSection)
{
    const QString own = KRAErrorHandler::reportText(KRAException(QStringLiteral("Plain"), QStringLiteral("why")));
    EXPECT_TRUE(own.startsWith(QStringLiteral("Exception name: Plain\nException reason: why\nTrace:\n")));
    EXPECT_FALSE(own.contains(QStringLiteral("Additional information")));

    // A foreign exception has no stack to show; its type names it.
    QString foreign;
    try {
        throw std::runtime_error("disk on fire");
    } catch (...) {
        foreign = KRAErrorHandler::reportText(std::current_exception());
    }
    EXPECT_EQ(foreign, QStringLiteral("Exception name: std::runtime_error\nException reason: disk on fire\nTrace:\n"));
}

TEST(KRAErrorHandlerTest, ReportFilesCountUpAndNeverOverwriteALeftOver)
{
    ReportFolder data;
    const QString first = KRAErrorHandler::writeReportFile(QStringLiteral("first"));
    const unsigned n = CounterOf(first);
    ASSERT_GT(n, 0u) << first.toStdString();
    EXPECT_EQ(QFileInfo(first).absolutePath(), QFileInfo(data.folder()).absoluteFilePath());
    EXPECT_EQ(ReadText(first), QStringLiteral("first"));

    const QString leftOver =
        QDir(data.folder()).filePath(QStringLiteral("BugEntry-%1-%2.txt").arg(getpid()).arg(n + 1));
    {
        QFile file(leftOver);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("from an earlier run");
    }
    const QString second = KRAErrorHandler::writeReportFile(QStringLiteral("second \u00e9"));
    EXPECT_EQ(CounterOf(second), n + 2);
    EXPECT_EQ(ReadText(leftOver), QStringLiteral("from an earlier run"));
    EXPECT_EQ(ReadText(second), QStringLiteral("second \u00e9"));
}

TEST(KRAErrorHandlerTest, AnExceptionIsFiledAndShownWithTheVersions)
{
    ReportFolder data;
    QCoreApplication::setApplicationVersion(QStringLiteral("9.8.7"));
    std::shared_ptr<KRAErrorHandler> handler;
    try {
        throw KRAException(QStringLiteral("Boom"), QStringLiteral("it broke"));
    } catch (...) {
        handler = KRAErrorHandler::handleException(std::current_exception());
    }
    ASSERT_TRUE(handler);
    EXPECT_TRUE(handler->window()->isVisible());
    const QString shown = handler->errorTextView()->toPlainText();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Exception name: Boom\nException reason: it broke\nTrace:\n")));
    EXPECT_TRUE(shown.contains(QStringLiteral("\n\nApp version: 9.8.7\nOS version: ")));
    EXPECT_TRUE(handler->errorTextView()->font().fixedPitch());

    // The file holds the report without the version lines.
    const QStringList files = QDir(data.folder()).entryList({QStringLiteral("BugEntry-*.txt")}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    const QString filed = ReadText(QDir(data.folder()).filePath(files.first()));
    EXPECT_TRUE(filed.startsWith(QStringLiteral("Exception name: Boom\n")));
    EXPECT_FALSE(filed.contains(QStringLiteral("App version")));

    handler->close();
    std::weak_ptr<KRAErrorHandler> weak = handler;
    handler.reset();
    ProcessPendingEvents();
    EXPECT_TRUE(weak.expired());
}

TEST(KRAErrorHandlerTest, AFailingReportFileStillShowsTheWindow)
{
    TestTempDir base;
    TestEnvScope over("_APPDATA_OVERRIDE", base.path()); // no MarvoniVideo folder in it
    XSetAppDataFolder(L"MarvoniVideo");
    EXPECT_TRUE(KRAErrorHandler::writeReportFile(QStringLiteral("x")).isEmpty());
    auto handler = KRAErrorHandler::handleException(std::runtime_error("no folder"));
    ASSERT_TRUE(handler);
    EXPECT_TRUE(handler->window()->isVisible());
    handler->close();
}

QFileDialog* OpenSaveSheet(KRAErrorHandler& handler)
{
    handler.onSave();
    auto* dialog = handler.window()->findChild<QFileDialog*>();
    if (dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Save bug report"));
        EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
        EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("txt"));
    }
    return dialog;
}

TEST(KRAErrorHandlerTest, SaveWritesTheShownReport)
{
    TestTempDir target;
    auto handler = KRAErrorHandler::handleErrorText(QStringLiteral("Something went wrong \u2014 badly"));
    QFileDialog* dialog = OpenSaveSheet(*handler);
    ASSERT_NE(dialog, nullptr);
    const QString path = QString::fromStdString(target.file("report.txt"));
    dialog->selectFile(path);
    static_cast<QDialog*>(dialog)->accept();
    EXPECT_EQ(ReadText(path), handler->content());
    EXPECT_TRUE(handler->content().startsWith(QStringLiteral("Something went wrong \u2014 badly\n\nApp version: ")));

    // Cancel writes nothing.
    QFileDialog* again = OpenSaveSheet(*handler);
    ASSERT_NE(again, nullptr);
    const QString other = QString::fromStdString(target.file("other.txt"));
    again->selectFile(other);
    again->reject();
    EXPECT_FALSE(QFile::exists(other));
    handler->close();
}

TEST(KRAErrorHandlerTest, ASaveThatFailsIsSaidSo)
{
    TestTempDir target;
    auto handler = KRAErrorHandler::handleErrorText(QStringLiteral("report"));
    QFileDialog* dialog = OpenSaveSheet(*handler);
    ASSERT_NE(dialog, nullptr);
    const QString path = QString::fromStdString(target.file("gone/report.txt"));
    bool warned = false;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            warned = box->text().contains(QStringLiteral("could not be saved"));
            box->reject();
        }
    });
    // Accepting through the dialog would refuse a missing folder; the sheet's answer is what
    // the handler acts on (the folder may also vanish between the two).
    dialog->selectFile(path);
    static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
    EXPECT_TRUE(warned);
    EXPECT_FALSE(QFile::exists(path));
    handler->close();
}

} // namespace
