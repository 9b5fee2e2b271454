#include "app/KRAErrorHandler.h"

#include "kit/KRAException.h"
#include "kit/SheetFallback.h"
#include "platform/XStrQString.h"
#include "xclass/XEnvironment.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSysInfo>
#include <QUrl>
#include <QVBoxLayout>

#include <atomic>
#include <cxxabi.h>
#include <typeinfo>
#include <unistd.h>

namespace {

std::atomic<unsigned> g_reportCounter{0};

QString TypeName(const std::type_info& type)
{
    int status = 0;
    char* readable = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    QString name = QString::fromLatin1(status == 0 && readable ? readable : type.name());
    std::free(readable);
    return name;
}

// The way a dictionary describes itself, one entry per line.
QString DescribeUserInfo(const QVariantMap& info)
{
    QString text = QStringLiteral("{\n");
    for (auto it = info.constBegin(); it != info.constEnd(); ++it)
        text += QStringLiteral("    %1 = %2;\n").arg(it.key(), it.value().toString());
    text += QStringLiteral("}");
    return text;
}

QString Report(const QString& name, const QString& reason, const QVariantMap& userInfo, const QStringList& stack)
{
    QString text;
    text += QStringLiteral("Exception name: %1\n").arg(name);
    text += QStringLiteral("Exception reason: %1\n").arg(reason);
    if (!userInfo.isEmpty()) {
        text += QStringLiteral("Additional information:\n");
        for (const QString& line : DescribeUserInfo(userInfo).split(QLatin1Char('\n')))
            text += QStringLiteral("  %1\n").arg(line);
    }
    text += QStringLiteral("Trace:\n");
    for (const QString& line : stack)
        text += QStringLiteral("  %1\n").arg(line);
    return text;
}

bool WriteUtf8(const QString& path, const QString& text, QIODevice::OpenMode mode)
{
    QFile file(path);
    if (!file.open(mode))
        return false;
    const QByteArray bytes = text.toUtf8();
    const bool written = file.write(bytes) == bytes.size();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

} // namespace

KRAErrorHandler::KRAErrorHandler(const QString& content) : m_content(content) {}

QString KRAErrorHandler::reportText(const KRAException& error)
{
    return Report(error.name(), error.reason(), error.userInfo(), error.callStackSymbols());
}

QString KRAErrorHandler::reportText(std::exception_ptr error)
{
    if (!error)
        return Report(QStringLiteral("unknown"), QString(), QVariantMap(), QStringList());
    try {
        std::rethrow_exception(error);
    } catch (const KRAException& e) {
        return reportText(e);
    } catch (const std::exception& e) {
        return Report(TypeName(typeid(e)), QString::fromLocal8Bit(e.what()), QVariantMap(), QStringList());
    } catch (...) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        return Report(type ? TypeName(*type) : QStringLiteral("unknown"), QString(), QVariantMap(), QStringList());
    }
}

QString KRAErrorHandler::versionLines()
{
    const QString os = QStringLiteral("%1 (%2 %3)")
                           .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(), QSysInfo::kernelVersion());
    QString version = QCoreApplication::applicationVersion();
    if (version.isEmpty())
        version = QStringLiteral(MARVONI_APP_VERSION);
    return QStringLiteral("\n\nApp version: %1\nOS version: %2").arg(version, os);
}

QString KRAErrorHandler::writeReportFile(const QString& text)
{
    const QString folder = XStrToQString(XGetAppDataFolder());
    if (folder.isEmpty() || !QDir(folder).exists())
        return QString();
    const unsigned pid = static_cast<unsigned>(getpid());
    // A name taken by a left-over report is skipped; a fresh one is created exclusively, so
    // nothing is ever written over. The bound only guards against a folder that refuses
    // every new file.
    for (int attempt = 0; attempt < 10000; ++attempt) {
        const unsigned number = ++g_reportCounter;
        const QString path = QDir(folder).filePath(QStringLiteral("BugEntry-%1-%2.txt").arg(pid).arg(number));
        if (QFile::exists(path))
            continue;
        QFile probe(path);
        if (!probe.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFile::exists(path))
                continue; // made by someone else in between
            return QString();
        }
        probe.close();
        return WriteUtf8(path, text, QIODevice::WriteOnly | QIODevice::Truncate) ? path : QString();
    }
    return QString();
}

std::shared_ptr<KRAErrorHandler> KRAErrorHandler::handleException(std::exception_ptr error)
{
    const QString text = reportText(error);
    writeReportFile(text); // a failed write still shows the window
    return handleErrorText(text);
}

std::shared_ptr<KRAErrorHandler> KRAErrorHandler::handleException(const std::exception& error)
{
    if (auto* own = dynamic_cast<const KRAException*>(&error)) {
        const QString text = reportText(*own);
        writeReportFile(text);
        return handleErrorText(text);
    }
    const QString text =
        Report(TypeName(typeid(error)), QString::fromLocal8Bit(error.what()), QVariantMap(), QStringList());
    writeReportFile(text);
    return handleErrorText(text);
}

std::shared_ptr<KRAErrorHandler> KRAErrorHandler::handleErrorText(const QString& text)
{
    auto handler = std::make_shared<KRAErrorHandler>(text + versionLines());
    handler->showWindow();
    return handler;
}

QWidget* KRAErrorHandler::loadWindow()
{
    auto* wnd = new QWidget(nullptr, Qt::Window);
    wnd->setObjectName(QStringLiteral("KRAErrorHandler"));
    wnd->setWindowTitle(tr("Bug Report"));
    auto* layout = new QVBoxLayout(wnd);

    auto* text = new QPlainTextEdit(wnd);
    text->setObjectName(QStringLiteral("errorTextView"));
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(text, 1);
    m_errorTextView = text;

    auto* buttons = new QHBoxLayout;
    auto* support = new QPushButton(tr("Technical Support"), wnd);
    support->setObjectName(QStringLiteral("btnTechSupport"));
    connect(support, &QPushButton::clicked, this, &KRAErrorHandler::onTechSupport);
    buttons->addWidget(support);
    buttons->addStretch(1);
    auto* save = new QPushButton(tr("Save"), wnd);
    save->setObjectName(QStringLiteral("btnSave"));
    connect(save, &QPushButton::clicked, this, &KRAErrorHandler::onSave);
    buttons->addWidget(save);
    layout->addLayout(buttons);

    wnd->resize(640, 420);
    return wnd;
}

void KRAErrorHandler::windowDidLoad()
{
    KRARetainedWindowController::windowDidLoad();
    if (m_errorTextView) {
        QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setStyleHint(QFont::TypeWriter); // where the theme names no fixed font
        font.setFixedPitch(true);
        m_errorTextView->setFont(font);
        m_errorTextView->setPlainText(m_content);
    }
}

void KRAErrorHandler::onSave()
{
    QWidget* wnd = window();
    auto* dialog = new QFileDialog(wnd, tr("Save bug report"));
    dialog->setObjectName(QStringLiteral("saveBugReport"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(tr("Text files (*.txt)"));
    dialog->setDefaultSuffix(QStringLiteral("txt"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<QFileDialog> guard(dialog);
    QPointer<QWidget> parent(wnd);
    const QString content = m_content;
    SheetFallback::beginSheet(dialog, wnd, [guard, parent, content](int64_t code) {
        if (code != QDialog::Accepted || !guard)
            return;
        const QStringList files = guard->selectedFiles();
        if (files.isEmpty())
            return;
        if (!WriteUtf8(files.first(), content, QIODevice::WriteOnly | QIODevice::Truncate)) {
            // The user asked for a copy: saying nothing would let them believe they have one.
            QMessageBox::warning(
                parent, tr("Save bug report"),
                tr("The bug report could not be saved to %1.").arg(QDir::toNativeSeparators(files.first())));
        }
    });
}

void KRAErrorHandler::onTechSupport()
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kSupportForumURL)));
}
